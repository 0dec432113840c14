#include "app/language.h"

#include <shlwapi.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <regex>

#include "platform/text.h"

language_map language_table;
std::vector<std::wstring> language_names;
int32_t current_language = 0;

namespace {

// Each read takes at most this many bytes; a longer line is read as several.
constexpr int LINE_BYTES = 2047;

// The header and entry expressions, ECMAScript, applied to whole lines.
const std::regex& header_expression() {
    static const std::regex e(R"(^\s*\[(.*)\]\s*$)", std::regex::ECMAScript);
    return e;
}

const std::regex& entry_expression() {
    static const std::regex e(R"re(^\s*([^;].*)\s*=\s*"(.+)"\s*$)re", std::regex::ECMAScript);
    return e;
}

// Replaces every two-byte sequence `from` by the byte `to`, left to right.
void replace_all(std::string& text, const char* from, char to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1))
        text.replace(at, 2, 1, to);
}

struct locale_row {
    const wchar_t* name;
    const wchar_t* code;
};

// Language name → locale code.
constexpr locale_row locale_rows[] = {
    {L"Deutsch", L"de"},   {L"Fran\u00e7ais", L"fr"},    {L"Espa\u00f1ol", L"es"},
    {L"\u7b80\u4f53\u4e2d\u6587", L"cn"},                  {L"\u7e41\u9ad4\u4e2d\u6587", L"hk"},
    {L"Italiano", L"it"},  {L"\u65e5\u672c\u8a9e", L"jp"}, {L"Portugu\u00eas", L"pt"},
    {L"Nederlands", L"nl"}, {L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", L"ar"},
};

struct site_row {
    const wchar_t* code;
    const wchar_t* product_base;
    const wchar_t* faq_base;
};

// The deployment's site bases: one family for the product pages, one for the
// help (FAQ) pages, one member per locale code. The first row ("en") is the
// default member of each family.
constexpr site_row site_rows[] = {
    {L"en", L"https://www.vantorel.com/", L"https://support.vantorel.com/"},
    {L"de", L"https://www.vantorel.com/de/", L"https://support.vantorel.com/de/"},
    {L"fr", L"https://www.vantorel.com/fr/", L"https://support.vantorel.com/fr/"},
    {L"es", L"https://www.vantorel.com/es/", L"https://support.vantorel.com/es/"},
    {L"cn", L"https://www.vantorel.com/cn/", L"https://support.vantorel.com/cn/"},
    {L"hk", L"https://www.vantorel.com/hk/", L"https://support.vantorel.com/hk/"},
    {L"it", L"https://www.vantorel.com/it/", L"https://support.vantorel.com/it/"},
    {L"jp", L"https://www.vantorel.com/jp/", L"https://support.vantorel.com/jp/"},
    {L"pt", L"https://www.vantorel.com/pt/", L"https://support.vantorel.com/pt/"},
    {L"nl", L"https://www.vantorel.com/nl/", L"https://support.vantorel.com/nl/"},
    {L"ar", L"https://www.vantorel.com/ar/", L"https://support.vantorel.com/ar/"},
};

const site_row& site_for(const wchar_t* code) {
    for (const site_row& row : site_rows)
        if (code && lstrcmpiW(row.code, code) == 0) return row;
    return site_rows[0];
}

struct image_row {
    const wchar_t* name;
    home_image_numbers images;
};

// Language name → start-button base and banner.
constexpr image_row image_rows[] = {
    {L"Deutsch", {456, 452}},
    {L"Fran\u00e7ais", {459, 453}},
    {L"Espa\u00f1ol", {465, 455}},
    {L"\u7b80\u4f53\u4e2d\u6587", {290, 300}},
    {L"\u7e41\u9ad4\u4e2d\u6587", {290, 300}},
    {L"Italiano", {425, 415}},
    {L"\u65e5\u672c\u8a9e", {462, 454}},
    {L"Portugu\u00eas", {422, 414}},
    {L"Nederlands", {419, 300}},
    {L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", {416, 412}},
};
constexpr home_image_numbers english_images = {290, 300};

}  // namespace

int load_language(const wchar_t* name, bool make_current) {
    return load_language_file(L"language.ini", name, make_current);
}

int load_language_file(const wchar_t* path, const wchar_t* name, bool make_current) {
    FILE* file = _wfopen(path, L"rt");
    if (!file) return -1;

    language_names.clear();
    bool inside = false;
    char buffer[LINE_BYTES + 1];
    std::cmatch groups;
    while (std::fgets(buffer, sizeof(buffer), file)) {
        // A NUL byte inside the line ends what the expressions see, as for
        // any C-string reader.
        const char* line = buffer;
        if (std::regex_search(line, groups, header_expression())) {
            language_names.push_back(utf8_to_wide(groups.str(1)));
            if (inside) {
                inside = false;  // the selected section has ended
            } else if (name && StrCmpIW(language_names.back().c_str(), name) == 0) {
                inside = true;
                if (make_current) current_language = static_cast<int32_t>(language_names.size() - 1);
            }
            continue;
        }
        if (inside && std::regex_search(line, groups, entry_expression())) {
            std::string text = groups.str(2);
            replace_all(text, "\\t", '\t');
            replace_all(text, "\\n", '\n');
            // emplace keeps the earlier text of a key that is present already.
            language_table.emplace(groups.str(1), utf8_to_wide(text));
        }
    }
    std::fclose(file);
    return 0;
}

const std::wstring& text_for(std::string_view key) {
    auto found = language_table.find(key);
    if (found != language_table.end()) return found->second;
    return language_table.emplace(std::string(key), std::wstring()).first->second;
}

std::size_t format_text(wchar_t* out, std::size_t capacity, const wchar_t* format, ...) {
    if (!out || capacity == 0) return 0;
    out[0] = L'\0';
    if (!format) return 0;
    va_list args;
    va_start(args, format);
    // The C runtime's _vsnwprintf reads %s as a wide string. It writes at
    // most `capacity - 1` characters here and leaves termination to us.
    _vsnwprintf(out, capacity - 1, format, args);
    va_end(args);
    out[capacity - 1] = L'\0';
    return std::wcslen(out);
}

const wchar_t* current_language_name() {
    if (current_language < 0 || static_cast<std::size_t>(current_language) >= language_names.size())
        return L"";
    return language_names[static_cast<std::size_t>(current_language)].c_str();
}

const wchar_t* locale_code() {
    const wchar_t* name = current_language_name();
    for (const locale_row& row : locale_rows)
        if (lstrcmpiW(name, row.name) == 0) return row.code;
    return L"en";
}

bool locale_is(const wchar_t* code) { return code && lstrcmpiW(locale_code(), code) == 0; }

const wchar_t* product_site_base(const wchar_t* code) { return site_for(code).product_base; }
const wchar_t* faq_site_base(const wchar_t* code) { return site_for(code).faq_base; }

std::wstring product_page_address() {
    return std::wstring(product_site_base(locale_code())) + L"product_quillmark.php";
}

std::wstring faq_page_address() { return std::wstring(faq_site_base(locale_code())) + L"faq.php"; }

home_image_numbers home_images() {
    const wchar_t* name = current_language_name();
    for (const image_row& row : image_rows)
        if (lstrcmpiW(name, row.name) == 0) return row.images;
    return english_images;
}

UINT language_state_message() {
    static const UINT message = RegisterWindowMessageW(L"Quillmark.LanguageState");
    return message;
}

void reset_language_table() {
    language_table.clear();
    language_names.clear();
    current_language = 0;
}
