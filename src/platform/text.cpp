#include "platform/text.h"

#include <climits>

namespace {

// Mostly one call: the common code pages give at most one UTF-16 unit per
// byte; for one that gives more, the size is asked for first.
void to_wide(UINT code_page, std::string_view s, std::wstring& out) {
    out.clear();
    if (s.empty() || s.size() > static_cast<std::size_t>(INT_MAX)) return;
    const int length = static_cast<int>(s.size());
    out.resize(s.size());
    int n = MultiByteToWideChar(code_page, 0, s.data(), length, out.data(), length);
    if (n <= 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        n = MultiByteToWideChar(code_page, 0, s.data(), length, nullptr, 0);
        if (n > 0) {
            out.resize(static_cast<std::size_t>(n));
            n = MultiByteToWideChar(code_page, 0, s.data(), length, out.data(), n);
        }
    }
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::wstring to_wide(UINT code_page, std::string_view s) {
    std::wstring out;
    to_wide(code_page, s, out);
    return out;
}

std::string from_wide(UINT code_page, std::wstring_view s) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(code_page, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(code_page, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

wchar_t upper_unit(wchar_t c) {
    if (c < 0x80) return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    CharUpperBuffW(&c, 1);
    return c;
}

}  // namespace

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && upper_unit(a[i]) != upper_unit(b[i])) return false;
    }
    return true;
}

std::wstring utf8_to_wide(std::string_view s) { return to_wide(CP_UTF8, s); }
std::string wide_to_utf8(std::wstring_view s) { return from_wide(CP_UTF8, s); }
std::wstring ansi_to_wide(std::string_view s) { return to_wide(CP_THREAD_ACP, s); }
void ansi_to_wide(std::string_view s, std::wstring& out) { to_wide(CP_THREAD_ACP, s, out); }
std::string wide_to_ansi(std::wstring_view s) { return from_wide(CP_THREAD_ACP, s); }
