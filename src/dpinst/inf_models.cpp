#include "dpinst/inf_models.h"

#include <algorithm>
#include <tuple>

#include "dpinst/ascii.h"

namespace {

bool starts_with_nocase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

// A version field of a decoration: decimal, or hexadecimal with 0x (product
// type and suite mask are written that way). Empty fields read as absent.
bool read_number(std::wstring_view field, bool& present, unsigned& value) {
    present = !field.empty();
    value = 0;
    if (!present) return true;
    unsigned base = 10;
    if (field.size() > 2 && field[0] == L'0' && (field[1] == L'x' || field[1] == L'X')) {
        base = 16;
        field.remove_prefix(2);
    }
    for (wchar_t c : field) {
        unsigned digit;
        if (c >= L'0' && c <= L'9') digit = unsigned(c - L'0');
        else if (base == 16 && ascii_lower(c) >= L'a' && ascii_lower(c) <= L'f')
            digit = unsigned(ascii_lower(c) - L'a' + 10);
        else return false;
        if (value > (0xFFFFFFFFu - digit) / base) return false;
        value = value * base + digit;
    }
    return true;
}

}  // namespace

bool decoration_applies(std::wstring_view decoration, const platform_target& target,
                        unsigned long long& rank) {
    rank = 0;
    if (!starts_with_nocase(decoration, L"NT")) return false;
    decoration.remove_prefix(2);
    // NT[architecture][.major[.minor[.product type[.suite mask[.build]]]]]
    std::vector<std::wstring_view> parts;
    for (std::size_t start = 0;;) {
        std::size_t dot = decoration.find(L'.', start);
        parts.push_back(decoration.substr(start, dot == std::wstring_view::npos ? dot : dot - start));
        if (dot == std::wstring_view::npos) break;
        start = dot + 1;
    }
    if (parts.size() > 6) return false;
    const bool named_architecture = !parts[0].empty();
    if (named_architecture && !equal_ignoring_case(parts[0], target.architecture)) return false;

    unsigned values[6] = {};
    bool present[6] = {};
    for (std::size_t i = 1; i < parts.size(); ++i)
        if (!read_number(parts[i], present[i], values[i])) return false;
    const unsigned major = values[1], minor = values[2], product_type = values[3],
                   suite_mask = values[4], build = values[5];
    // The version named is the lowest one the section is for (absent parts
    // read as 0); it must not be newer than the target's. The build number
    // belongs to its major.minor: a newer major.minor takes any build.
    if (present[1] && std::make_tuple(major, minor, build) >
                          std::make_tuple(target.major, target.minor, target.build))
        return false;
    // A product type (or suite mask) of 0 names none and so restricts nothing.
    if (product_type != 0 && product_type != target.product_type) return false;
    if ((suite_mask & target.suite_mask) != suite_mask) return false;

    unsigned suites = 0;
    for (unsigned m = suite_mask; m != 0; m &= m - 1) ++suites;
    const unsigned long long v_major = present[1] ? major + 1ull : 0;
    const unsigned long long v_minor = present[2] ? minor + 1ull : 0;
    const unsigned long long v_build = present[5] ? build + 1ull : 0;
    rank = (std::min(v_major, 0xFFull) << 55) | (std::min(v_minor, 0xFFull) << 47) |
           (std::min(v_build, 0x7FFFFFFFull) << 16) | (product_type != 0 ? 1ull << 15 : 0ull) |
           (static_cast<unsigned long long>(suites) << 1) | (named_architecture ? 1ull : 0ull);
    return true;
}

std::vector<std::wstring> models_sections(inf_file& inf, const platform_target& target) {
    std::vector<std::wstring> sections;
    std::vector<std::vector<std::wstring>> lines;
    if (!inf.section(L"Manufacturer", lines)) return sections;
    for (const auto& fields : lines) {
        // "%Maker% = Models, NTamd64, NTx86" or, in old INFs, a bare "Models".
        if (fields.size() < 2 || fields[1].empty()) continue;
        const std::wstring& base = fields[1];
        const std::wstring* best = nullptr;
        unsigned long long best_rank = 0;
        for (std::size_t i = 2; i < fields.size(); ++i) {
            unsigned long long rank = 0;
            if (decoration_applies(fields[i], target, rank) && (!best || rank > best_rank)) {
                best = &fields[i];
                best_rank = rank;
            }
        }
        std::wstring name;
        if (best) name = base + L"." + *best;
        else if (equal_ignoring_case(target.architecture, L"x86")) name = base;
        else continue;
        bool known = false;
        for (const auto& s : sections) known = known || equal_ignoring_case(s, name);
        if (!known) sections.push_back(name);
    }
    return sections;
}

std::vector<std::wstring> model_ids(inf_file& inf, const platform_target& target) {
    std::vector<std::wstring> ids;
    std::vector<std::vector<std::wstring>> lines;
    for (const auto& section : models_sections(inf, target)) {
        lines.clear();
        if (!inf.section(section, lines)) continue;
        for (const auto& fields : lines) {
            for (std::size_t i = 2; i < fields.size(); ++i) {
                if (fields[i].empty()) continue;
                bool known = false;
                for (const auto& id : ids) known = known || equal_ignoring_case(id, fields[i]);
                if (!known) ids.push_back(fields[i]);
            }
        }
    }
    return ids;
}
