#include "app/language.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "platform/text.h"

language_map language_table;
std::vector<std::wstring> language_names;
int32_t current_language = 0;

namespace {

// Each read takes at most this many bytes; a longer line is read as several.
constexpr int LINE_BYTES = 2047;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_break(char c) { return c == '\n' || c == '\r'; }

// The end of the line without its trailing blanks.
std::size_t trimmed_end(std::string_view line) {
    std::size_t end = line.size();
    while (end > 0 && is_blank(line[end - 1])) --end;
    return end;
}

bool one_of(wchar_t c, std::wstring_view set) { return set.find(c) != std::wstring_view::npos; }

// Walks the conversions of a printf format: visit(plain, type) for each,
// where plain says it has no length modifier, '*', or width or precision of
// more than three digits, and type is its conversion character (0 when the
// format ends first). "%%" is skipped.
template <class Visit>
void for_each_conversion(std::wstring_view f, Visit visit) {
    auto digits = [&](std::size_t& i) {
        std::size_t count = 0;
        for (; i < f.size() && f[i] >= L'0' && f[i] <= L'9'; ++i) ++count;
        return count;
    };
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != L'%') continue;
        if (++i < f.size() && f[i] == L'%') continue;
        while (i < f.size() && one_of(f[i], L"-+ #0")) ++i;
        bool plain = digits(i) <= 3;
        if (i < f.size() && f[i] == L'.') {
            ++i;
            plain = digits(i) <= 3 && plain;
        }
        for (; i < f.size() && one_of(f[i], L"*hlLIqjztw0123456789"); ++i) plain = false;
        visit(plain, i < f.size() ? f[i] : L'\0');
    }
}

bool is_integer_conversion(wchar_t type) { return one_of(type, L"diuxXo"); }

}  // namespace

const char* format_arguments(std::string_view key) {
    for (const format_rule& rule : format_rules)
        if (key == rule.key) return rule.arguments;
    return nullptr;
}

bool format_fits(std::wstring_view format, std::string_view arguments) {
    std::size_t used = 0;
    bool fits = true;
    for_each_conversion(format, [&](bool plain, wchar_t type) {
        if (!fits || used >= arguments.size() || !plain) {
            fits = false;
            return;
        }
        const char wanted = arguments[used++];
        fits = wanted == 's' ? type == L's' : wanted == 'd' && is_integer_conversion(type);
    });
    return fits && used == arguments.size();
}

bool match_header_line(std::string_view line, std::string& name) {
    std::size_t open = 0;
    while (open < line.size() && is_blank(line[open])) ++open;
    if (open >= line.size() || line[open] != '[') return false;
    // The name runs to the last ']', which only blanks may follow, and holds
    // no line break.
    const std::size_t close = trimmed_end(line) - 1;
    if (close <= open || line[close] != ']') return false;
    const std::string_view inside = line.substr(open + 1, close - open - 1);
    if (inside.find_first_of("\r\n") != std::string_view::npos) return false;
    name.assign(inside);
    return true;
}

bool match_entry_line(std::string_view line, std::string& key, std::string& text) {
    // The expression tries the leading blanks longest first, then the key
    // longest first; what follows the key (blanks, "=", blanks, a quoted text
    // up to the last quotation mark, blanks) depends only on where the key
    // ends. So: which key ends can be followed that way, and then the first
    // key in the expression's order of trying.
    const std::size_t n = line.size();
    const std::size_t end = trimmed_end(line);
    std::vector<std::size_t> next_solid(n + 1, n);  // first non-blank at or after k
    std::vector<std::size_t> next_break(n + 1, n);  // first CR or LF at or after k
    for (std::size_t k = n; k-- > 0;) {
        next_solid[k] = is_blank(line[k]) ? next_solid[k + 1] : k;
        next_break[k] = is_break(line[k]) ? k : next_break[k + 1];
    }
    // The opening quotation mark of the text when a key ending at k fits, else n.
    auto quote_after = [&](std::size_t k) {
        const std::size_t equals = next_solid[k];
        if (equals >= n || line[equals] != '=') return n;
        const std::size_t quote = next_solid[equals + 1];
        if (quote >= n || line[quote] != '"') return n;
        // The text: at least one character, no line break, then the last
        // quotation mark with only blanks after it.
        if (end < quote + 3 || line[end - 1] != '"' || next_break[quote + 1] < end - 1) return n;
        return quote;
    };
    std::vector<std::size_t> last_fit(n + 1, n);  // the greatest fitting key end at or before k
    for (std::size_t k = 1; k <= n; ++k)
        last_fit[k] = quote_after(k) != n ? k : last_fit[k - 1];

    if (n == 0) return false;
    std::size_t lead = 0;
    while (lead < n && is_blank(line[lead])) ++lead;
    for (std::size_t start = std::min(lead, n - 1) + 1; start-- > 0;) {
        if (line[start] == ';') continue;
        const std::size_t key_end = last_fit[next_break[start + 1]];
        if (key_end == n || key_end <= start) continue;
        const std::size_t quote = quote_after(key_end);
        key.assign(line.substr(start, key_end - start));
        text.assign(line.substr(quote + 1, end - quote - 2));
        return true;
    }
    return false;
}

namespace {

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

int load_language_file(const wchar_t* path, const wchar_t* name_wanted, bool make_current) {
    FILE* file = _wfopen(path, L"rt");
    if (!file) return -1;

    language_names.clear();
    bool inside = false;
    char buffer[LINE_BYTES + 1];
    std::string name, key, text;
    while (std::fgets(buffer, sizeof(buffer), file)) {
        // A NUL byte inside the line ends what the matchers see, as for any
        // C-string reader.
        const std::string_view line(buffer);
        if (match_header_line(line, name)) {
            language_names.push_back(utf8_to_wide(name));
            if (inside) {
                inside = false;  // the selected section has ended
            } else if (name_wanted && StrCmpIW(language_names.back().c_str(), name_wanted) == 0) {
                inside = true;
                if (make_current) current_language = static_cast<int32_t>(language_names.size() - 1);
            }
            continue;
        }
        if (inside && match_entry_line(line, key, text)) {
            replace_all(text, "\\t", '\t');
            replace_all(text, "\\n", '\n');
            std::wstring wide = utf8_to_wide(text);
            // A format text that does not take what its caller passes would
            // read arguments that are not there: the key is left to English.
            const char* arguments = format_arguments(key);
            if (arguments && !format_fits(wide, arguments)) continue;
            // emplace keeps the earlier text of a key that is present already.
            language_table.emplace(key, std::move(wide));
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
    bool counts = false;
    for_each_conversion(format, [&](bool, wchar_t type) { counts = counts || type == L'n'; });
    if (counts) return 0;  // %n would write through an argument
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
