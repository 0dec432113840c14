#include "platform/text.h"

namespace {

std::wstring to_wide(UINT code_page, std::string_view s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
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

}  // namespace

std::wstring utf8_to_wide(std::string_view s) { return to_wide(CP_UTF8, s); }
std::string wide_to_utf8(std::wstring_view s) { return from_wide(CP_UTF8, s); }
std::wstring ansi_to_wide(std::string_view s) { return to_wide(CP_THREAD_ACP, s); }
std::string wide_to_ansi(std::wstring_view s) { return from_wide(CP_THREAD_ACP, s); }
