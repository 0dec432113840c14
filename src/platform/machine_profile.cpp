// Reading machine profiles: UTF-8 XML, checked strictly so that a mistyped
// element, attribute or number gives a clear error instead of a silently
// different machine.
#include "platform/machine_profile.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>

#include "devices/category.h"
#include "platform/text.h"
#include "platform/xml_guard.h"

namespace {

struct profile_error {
    std::wstring message;
};

std::wstring widen(const char* text) { return utf8_to_wide(text ? text : ""); }

[[noreturn]] void fail(const TiXmlNode* node, const std::wstring& message) {
    std::wstring text;
    if (node) text = L"line " + std::to_wstring(node->Row()) + L": ";
    throw profile_error{text + message};
}

std::wstring element_label(const TiXmlElement* element) {
    return L"<" + widen(element->Value()) + L">";
}

void check_attributes(const TiXmlElement* element, std::initializer_list<const char*> allowed) {
    for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
        bool known = false;
        for (const char* name : allowed) known = known || std::strcmp(a->Name(), name) == 0;
        if (!known)
            fail(element, element_label(element) + L" has an unknown attribute \"" +
                              widen(a->Name()) + L"\"");
    }
}

std::optional<std::wstring> text_attribute(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    if (!value) return std::nullopt;
    return widen(value);
}

// An unsigned number: decimal, or hexadecimal after "0x" when allowed. Nothing
// else (no sign, no blanks), and no more than max.
std::optional<uint64_t> read_unsigned(const char* text, bool allow_hex, uint64_t max) {
    unsigned base = 10;
    if (allow_hex && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (*text == '\0') return std::nullopt;
    uint64_t value = 0;
    for (; *text; ++text) {
        unsigned digit;
        char c = *text;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return std::nullopt;
        if (value > (max - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

std::optional<uint64_t> number_attribute(const TiXmlElement* element, const char* name,
                                         bool allow_hex, uint64_t max) {
    const char* value = element->Attribute(name);
    if (!value) return std::nullopt;
    std::optional<uint64_t> number = read_unsigned(value, allow_hex, max);
    if (!number)
        fail(element, element_label(element) + L" " + widen(name) + L"=\"" + widen(value) +
                          L"\" is not a number from 0 to " + std::to_wstring(max));
    return number;
}

std::optional<bool> flag_attribute(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    if (!value) return std::nullopt;
    if (std::strcmp(value, "0") == 0) return false;
    if (std::strcmp(value, "1") == 0) return true;
    fail(element, element_label(element) + L" " + widen(name) + L"=\"" + widen(value) +
                      L"\" must be 0 or 1");
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Element text with its runs of blanks folded into one space and trimmed.
std::string folded(std::string_view text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (is_blank(c)) {
            blank = !out.empty();
        } else {
            if (blank) out += ' ';
            blank = false;
            out += c;
        }
    }
    return out;
}

// A container element holds elements and comments, never text: a hardware id
// typed without its tags must not vanish.
void check_no_text(const TiXmlElement* element) {
    for (const TiXmlNode* child = element->FirstChild(); child; child = child->NextSibling()) {
        const TiXmlText* text = child->ToText();
        if (!text) continue;
        // The node starts where the blanks before its text start.
        const std::string_view value = text->Value();
        std::size_t line = static_cast<std::size_t>(text->Row());
        for (std::size_t i = 0; i < value.size() && is_blank(value[i]); ++i) line += value[i] == '\n';
        std::wstring stray = utf8_to_wide(folded(value));
        if (stray.size() > 40) stray = stray.substr(0, 37) + L"...";
        throw profile_error{L"line " + std::to_wstring(line) + L": stray text \"" + stray + L"\" in " +
                            element_label(element)};
    }
}

// The text of an element that holds only text (an empty element gives "").
std::wstring element_text(const TiXmlElement* element) {
    std::string text;
    for (const TiXmlNode* child = element->FirstChild(); child; child = child->NextSibling()) {
        if (const TiXmlText* part = child->ToText())
            text += part->CDATA() ? std::string(part->Value()) : folded(part->Value());
        else if (!child->ToComment())
            fail(child, element_label(element) + L" may hold only text");
    }
    return utf8_to_wide(text);
}

DWORD registry_type(const TiXmlElement* element, const char* name) {
    static const struct {
        const char* name;
        DWORD type;
    } types[] = {
        {"REG_NONE", REG_NONE},
        {"REG_SZ", REG_SZ},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ},
        {"REG_BINARY", REG_BINARY},
        {"REG_DWORD", REG_DWORD},
        {"REG_DWORD_LITTLE_ENDIAN", REG_DWORD_LITTLE_ENDIAN},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
        {"REG_LINK", REG_LINK},
        {"REG_MULTI_SZ", REG_MULTI_SZ},
        {"REG_RESOURCE_LIST", REG_RESOURCE_LIST},
        {"REG_FULL_RESOURCE_DESCRIPTOR", REG_FULL_RESOURCE_DESCRIPTOR},
        {"REG_RESOURCE_REQUIREMENTS_LIST", REG_RESOURCE_REQUIREMENTS_LIST},
        {"REG_QWORD", REG_QWORD},
        {"REG_QWORD_LITTLE_ENDIAN", REG_QWORD_LITTLE_ENDIAN},
    };
    for (const auto& t : types) {
        if (std::strcmp(name, t.name) == 0) return t.type;
    }
    fail(element, L"<value> type=\"" + widen(name) + L"\" is not a registry type such as REG_SZ");
}

bool same_value_name(const std::wstring& a, const std::wstring& b) {
    // Registry value names ignore letter case.
    return equal_ignoring_case(a, b);
}

profile_windows read_windows(const TiXmlElement* e) {
    check_attributes(e, {"major", "minor", "build", "platform", "product_type", "service_pack",
                         "server_r2", "arch", "wow64"});
    const uint64_t dword_max = std::numeric_limits<DWORD>::max();
    profile_windows w;
    if (auto v = number_attribute(e, "major", false, dword_max)) w.major = static_cast<DWORD>(*v);
    if (auto v = number_attribute(e, "minor", false, dword_max)) w.minor = static_cast<DWORD>(*v);
    if (auto v = number_attribute(e, "build", false, dword_max)) w.build = static_cast<DWORD>(*v);
    if (auto v = number_attribute(e, "platform", false, dword_max))
        w.platform = static_cast<DWORD>(*v);
    if (auto v = number_attribute(e, "product_type", false, 255))
        w.product_type = static_cast<BYTE>(*v);
    w.service_pack = text_attribute(e, "service_pack");
    if (auto v = number_attribute(e, "server_r2", false, std::numeric_limits<int>::max()))
        w.server_r2 = static_cast<int>(*v);
    if (auto v = number_attribute(e, "arch", false, 0xFFFF)) w.arch = static_cast<WORD>(*v);
    w.wow64 = flag_attribute(e, "wow64");
    check_no_text(e);
    if (e->FirstChildElement()) fail(e->FirstChildElement(), L"<windows> has no child elements");
    return w;
}

profile_system read_system(const TiXmlElement* e) {
    check_attributes(e, {"cpu", "os", "memory", "storage", "display", "sound", "model"});
    profile_system s;
    s.cpu = text_attribute(e, "cpu");
    s.os = text_attribute(e, "os");
    if (auto v = number_attribute(e, "memory", false, std::numeric_limits<int64_t>::max()))
        s.memory = static_cast<int64_t>(*v);
    s.storage = text_attribute(e, "storage");
    s.display = text_attribute(e, "display");
    s.sound = text_attribute(e, "sound");
    s.model = text_attribute(e, "model");
    check_no_text(e);
    if (e->FirstChildElement()) fail(e->FirstChildElement(), L"<system> has no child elements");
    return s;
}

profile_class read_class(const TiXmlElement* e) {
    check_attributes(e, {"guid", "name", "description", "image", "icon"});
    profile_class c;
    std::optional<std::wstring> guid = text_attribute(e, "guid");
    GUID parsed;
    if (!guid) fail(e, L"<class> needs a guid");
    if (!guid_from_text(*guid, parsed))
        fail(e, L"<class> guid=\"" + *guid +
                    L"\" is not a GUID like {4D36E968-E325-11CE-BFC1-08002BE10318}");
    c.guid_text = *guid;
    c.name = text_attribute(e, "name");
    c.description = text_attribute(e, "description");
    if (auto v = number_attribute(e, "image", false, std::numeric_limits<int>::max()))
        c.image = static_cast<int>(*v);
    c.icon = text_attribute(e, "icon");
    class_icon known;
    if (c.icon && !class_icon_named(*c.icon, known))
        fail(e, L"<class> icon=\"" + *c.icon +
                    L"\" is none of unknown, display, sound, network, imaging, printer, keyboard, "
                    L"mouse, storage, usb, bluetooth, system, device");
    check_no_text(e);
    if (e->FirstChildElement()) fail(e->FirstChildElement(), L"<class> has no child elements");
    return c;
}

profile_driver read_driver(const TiXmlElement* e) {
    check_attributes(e, {"rank"});
    profile_driver d;
    if (auto v = number_attribute(e, "rank", true, 0xFFFFFFFFu)) d.rank = static_cast<uint32_t>(*v);
    check_no_text(e);
    for (const TiXmlElement* child = e->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        if (std::strcmp(child->Value(), "value") != 0)
            fail(child, L"<driver> holds only <value> elements, not " + element_label(child));
        check_attributes(child, {"name", "type"});
        profile_value value;
        std::optional<std::wstring> name = text_attribute(child, "name");
        if (!name) fail(child, L"<value> needs a name");
        value.name = *name;
        for (const profile_value& earlier : d.values) {
            if (same_value_name(earlier.name, value.name))
                fail(child, L"the driver key has two values named \"" + value.name + L"\"");
        }
        if (const char* type = child->Attribute("type")) value.type = registry_type(child, type);
        value.data = element_text(child);
        d.values.push_back(std::move(value));
    }
    return d;
}

profile_device read_device(const TiXmlElement* e) {
    check_attributes(e, {"id", "present", "friendly", "desc", "enumerator", "class", "class_guid"});
    profile_device d;
    d.instance_id = text_attribute(e, "id");
    if (auto present = flag_attribute(e, "present")) d.present = *present;
    d.friendly = text_attribute(e, "friendly");
    d.desc = text_attribute(e, "desc");
    d.enumerator = text_attribute(e, "enumerator");
    d.class_name = text_attribute(e, "class");
    d.class_guid = text_attribute(e, "class_guid");
    check_no_text(e);
    for (const TiXmlElement* child = e->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        std::string kind = child->Value();
        if (kind == "hardware_id" || kind == "compatible_id") {
            check_attributes(child, {});
            auto& list = kind == "hardware_id" ? d.hardware_ids : d.compatible_ids;
            if (!list) list.emplace();
            list->push_back(element_text(child));
        } else if (kind == "driver") {
            if (d.driver) fail(child, L"a <device> has at most one <driver>");
            d.driver = read_driver(child);
        } else {
            fail(child, L"<device> holds <hardware_id>, <compatible_id> and <driver>, not " +
                            element_label(child));
        }
    }
    return d;
}

profile_store_package read_store_package(const TiXmlElement* e) {
    check_attributes(e, {"folder", "inf"});
    profile_store_package package;
    std::optional<std::wstring> folder = text_attribute(e, "folder");
    std::optional<std::wstring> inf = text_attribute(e, "inf");
    if (!folder || folder->empty() || folder->find_first_of(L"\\/") != std::wstring::npos)
        fail(e, L"<package> needs a folder name without separators");
    if (profile_store_inf(*folder).empty())
        fail(e, L"<package> folder=\"" + *folder + L"\" must begin with its INF name, like "
                                                    L"name.inf_amd64_neutral_1a2b3c4d");
    if (!inf || inf->empty()) fail(e, L"<package> needs the installed INF name, like oem12.inf");
    package.folder = *folder;
    package.inf = *inf;
    check_no_text(e);
    for (const TiXmlElement* child = e->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        if (std::strcmp(child->Value(), "file") != 0)
            fail(child, L"<package> holds only <file> elements, not " + element_label(child));
        check_attributes(child, {"name", "size"});
        profile_store_file file;
        std::optional<std::wstring> name = text_attribute(child, "name");
        if (!name || name->empty() || (*name)[0] == L'\\' || name->find(L"..") != std::wstring::npos)
            fail(child, L"<file> needs a name inside its package folder");
        file.name = *name;
        if (auto size = number_attribute(child, "size", false, 1ULL << 32)) file.size = *size;
        check_no_text(child);
        if (child->FirstChildElement()) fail(child->FirstChildElement(), L"<file> has no child elements");
        package.files.push_back(std::move(file));
    }
    return package;
}

profile_driver_store read_driver_store(const TiXmlElement* e) {
    check_attributes(e, {"root", "inf_folder"});
    profile_driver_store store;
    std::optional<std::wstring> root = text_attribute(e, "root");
    std::optional<std::wstring> inf_folder = text_attribute(e, "inf_folder");
    if (!root || root->empty() || !inf_folder || inf_folder->empty())
        fail(e, L"<driver_store> needs a root and an inf_folder");
    store.root = *root;
    store.inf_folder = *inf_folder;
    check_no_text(e);
    for (const TiXmlElement* child = e->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        if (std::strcmp(child->Value(), "package") != 0)
            fail(child, L"<driver_store> holds only <package> elements, not " + element_label(child));
        store.packages.push_back(read_store_package(child));
    }
    return store;
}

void read_machine(const TiXmlElement* root, machine_profile& out) {
    if (std::strcmp(root->Value(), "machine") != 0)
        fail(root, L"the document element must be <machine>, not " + element_label(root));
    if (root->NextSiblingElement()) fail(root->NextSiblingElement(), L"only one <machine> is allowed");
    check_attributes(root, {});
    check_no_text(root);
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        std::string kind = e->Value();
        if (kind == "windows") {
            if (out.windows) fail(e, L"<windows> is given twice");
            out.windows = read_windows(e);
        } else if (kind == "system") {
            if (out.system) fail(e, L"<system> is given twice");
            out.system = read_system(e);
        } else if (kind == "class") {
            profile_class c = read_class(e);
            GUID guid, other;
            guid_from_text(c.guid_text, guid);
            for (const profile_class& earlier : out.classes) {
                if (guid_from_text(earlier.guid_text, other) && IsEqualGUID(guid, other))
                    fail(e, L"the class " + c.guid_text + L" is listed twice");
            }
            out.classes.push_back(std::move(c));
        } else if (kind == "device") {
            out.devices.push_back(read_device(e));
        } else if (kind == "driver_store") {
            if (out.driver_store) fail(e, L"<driver_store> is given twice");
            out.driver_store = read_driver_store(e);
        } else {
            fail(e, L"<machine> holds <windows>, <system>, <class>, <device> and <driver_store>, not " +
                        element_label(e));
        }
    }
}

// The line of a parse error. TinyXML knows it for most mistakes; where it
// does not, it ran out of text inside an element or a text (the last line),
// or found no element at all (the first line that is not blank).
std::size_t error_line(const TiXmlDocument& document, std::string_view text) {
    if (document.ErrorRow() > 0) return static_cast<std::size_t>(document.ErrorRow());
    if (document.ErrorId() == TiXmlBase::TIXML_ERROR_DOCUMENT_EMPTY) {
        std::size_t first = 0;
        while (first < text.size() && is_blank(text[first])) ++first;
        return xml_line_at(text, first);
    }
    return xml_line_at(text, text.size());
}

int hex_digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads count hex digits at text[at]; false when one is not a hex digit.
bool read_hex(std::wstring_view text, std::size_t at, std::size_t count, uint64_t& out) {
    out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        int d = hex_digit(text[at + i]);
        if (d < 0) return false;
        out = out * 16 + static_cast<uint64_t>(d);
    }
    return true;
}

}  // namespace

bool guid_from_text(std::wstring_view text, GUID& out) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text[0] != L'{' || text[37] != L'}' || text[9] != L'-' ||
        text[14] != L'-' || text[19] != L'-' || text[24] != L'-')
        return false;
    uint64_t v = 0;
    GUID g = {};
    if (!read_hex(text, 1, 8, v)) return false;
    g.Data1 = static_cast<unsigned long>(v);
    if (!read_hex(text, 10, 4, v)) return false;
    g.Data2 = static_cast<unsigned short>(v);
    if (!read_hex(text, 15, 4, v)) return false;
    g.Data3 = static_cast<unsigned short>(v);
    const std::size_t byte_at[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!read_hex(text, byte_at[i], 2, v)) return false;
        g.Data4[i] = static_cast<unsigned char>(v);
    }
    out = g;
    return true;
}

std::wstring profile_store_inf(const std::wstring& folder) {
    for (std::size_t at = 0; at + 4 <= folder.size(); ++at) {
        if (equal_ignoring_case(std::wstring_view(folder).substr(at, 4), L".inf"))
            return at == 0 ? std::wstring() : folder.substr(0, at + 4);
    }
    return {};
}

bool parse_machine_profile(const char* utf8_xml, machine_profile& out, std::wstring* error) {
    out = machine_profile{};
    const std::string_view text = utf8_xml ? utf8_xml : "";
    try {
        TiXmlDocument document;
        std::size_t too_deep_at = 0;
        switch (parse_xml(document, text, TIXML_ENCODING_UTF8, &too_deep_at)) {
        case xml_parse::too_deep:
            throw profile_error{L"line " + std::to_wstring(xml_line_at(text, too_deep_at)) +
                                L": elements are nested deeper than " +
                                std::to_wstring(xml_depth_limit) + L" levels"};
        case xml_parse::not_well_formed:
            throw profile_error{L"line " + std::to_wstring(error_line(document, text)) +
                                L": not well-formed XML (" + widen(document.ErrorDesc()) + L")"};
        case xml_parse::ok:
            break;
        }
        const TiXmlElement* root = document.RootElement();
        if (!root) throw profile_error{L"the profile has no <machine> element"};
        read_machine(root, out);
        return true;
    } catch (const profile_error& e) {
        out = machine_profile{};
        if (error) *error = e.message;
        return false;
    } catch (const std::bad_alloc&) {
        out = machine_profile{};
        if (error) *error = L"the profile is too large for the memory left";
        return false;
    }
}

bool load_machine_profile(const wchar_t* path, machine_profile& out, std::wstring* error) {
    out = machine_profile{};
    auto report = [&](const std::wstring& text) {
        if (error) *error = std::wstring(path ? path : L"") + L": " + text;
        return false;
    };
    FILE* file = path ? _wfopen(path, L"rb") : nullptr;
    if (!file) return report(L"the file cannot be opened");

    // A profile of a large machine is a few hundred kilobytes; anything past
    // this bound is not a profile.
    const std::size_t max_size = 64u << 20;
    std::string text;
    char chunk[65536];
    std::size_t n;
    bool too_large = false;
    while ((n = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        if (text.size() + n > max_size) {
            too_large = true;
            break;
        }
        text.append(chunk, n);
    }
    bool read_failed = std::ferror(file) != 0;
    std::fclose(file);
    if (read_failed) return report(L"the file cannot be read");
    if (too_large) return report(L"the file is too large for a machine profile");
    if (text.find('\0') != std::string::npos) return report(L"the file is not UTF-8 text");

    std::wstring reason;
    if (!parse_machine_profile(text.c_str(), out, &reason)) return report(reason);
    return true;
}

const active_profile& machine_profile_in_use() {
    // Initialised once, on first use, by whichever thread comes first.
    static const active_profile active = [] {
        active_profile result;
        const wchar_t* name = L"QUILLMARK_MACHINE_PROFILE";
        DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
        if (size == 0) return result;  // not set
        std::vector<wchar_t> path(size + 1, L'\0');
        DWORD length = GetEnvironmentVariableW(name, path.data(), size + 1);
        if (length == 0 || length > size) return result;  // empty (or changed meanwhile)
        if (load_machine_profile(path.data(), result.profile, &result.error)) {
            result.status = profile_status::loaded;
        } else {
            result.status = profile_status::broken;
            result.profile = machine_profile{};
            const std::wstring prefix = std::wstring(path.data()) + L": ";
            result.reason = result.error.compare(0, prefix.size(), prefix) == 0
                                ? result.error.substr(prefix.size())
                                : result.error;
        }
        return result;
    }();
    return active;
}
