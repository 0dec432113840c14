// Text helpers: bounded copies into fixed-capacity fields and conversions
// between UTF-16, UTF-8 and the thread's ANSI code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

// Copies at most N - 1 characters of src into dst and always terminates it.
template <std::size_t N>
void copy_text(wchar_t (&dst)[N], std::wstring_view src) {
    static_assert(N > 0);
    std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
    src.copy(dst, n);
    dst[n] = L'\0';
}

template <std::size_t N>
void copy_text(char (&dst)[N], std::string_view src) {
    static_assert(N > 0);
    std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
    src.copy(dst, n);
    dst[n] = '\0';
}

// Whether a and b hold the same UTF-16 units once both are upper-cased, one
// unit at a time, by Windows' own case table (CharUpperBuffW): what file,
// registry and scheme names need. It does not depend on the user's language
// ("i" matches "I" under a Turkish locale too), and strings of different
// lengths never match. Works on every Windows from XP on.
bool equal_ignoring_case(std::wstring_view a, std::wstring_view b);

std::wstring utf8_to_wide(std::string_view s);
std::string wide_to_utf8(std::wstring_view s);
// CP_THREAD_ACP: what the update service, package links, zip entry names and
// the backup catalogue are exchanged in.
std::wstring ansi_to_wide(std::string_view s);
// The same into `out`, reusing its memory (for many conversions in a row).
void ansi_to_wide(std::string_view s, std::wstring& out);
std::string wide_to_ansi(std::wstring_view s);
