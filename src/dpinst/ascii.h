// Comparisons without regard to the case of ASCII letters: what switches,
// INF section names, decorations and device ids (ASCII by definition) need.
#pragma once

#include <algorithm>
#include <string_view>

inline wchar_t ascii_lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

inline bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return ascii_lower(x) == ascii_lower(y); });
}

inline bool less_ignoring_case(std::wstring_view a, std::wstring_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return ascii_lower(x) < ascii_lower(y);
    });
}
