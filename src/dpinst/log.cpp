#include "dpinst/log.h"

#include <cwchar>
#include <vector>

namespace {

std::string to_utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

HANDLE open_for_append(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void write_all(HANDLE h, const std::string& bytes) {
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// A folder path of a Get...Directory function that takes (buffer, size).
template <class Get>
std::wstring folder_of(Get get) {
    std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
    UINT n = get(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n >= buffer.size()) {
        buffer.assign(n + 1, L'\0');
        n = get(buffer.data(), static_cast<UINT>(buffer.size()));
    }
    if (n == 0 || n >= buffer.size()) return {};
    return std::wstring(buffer.data(), n);
}

std::wstring in_folder(const std::wstring& folder, const wchar_t* name) {
    if (folder.empty()) return {};
    return (folder.back() == L'\\' ? folder : folder + L"\\") + name;
}

}  // namespace

dpinst_log::~dpinst_log() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (console_owned_ && console_ != INVALID_HANDLE_VALUE) CloseHandle(console_);
}

bool dpinst_log::open() {
    const std::wstring places[] = {
        in_folder(folder_of([](wchar_t* b, UINT n) { return GetSystemWindowsDirectoryW(b, n); }),
                  L"DPINST.LOG"),
        in_folder(folder_of([](wchar_t* b, UINT n) { return UINT(GetTempPathW(n, b)); }),
                  L"DPINST.LOG"),
    };
    for (const auto& place : places) {
        if (place.empty()) continue;
        HANDLE h = open_for_append(place);
        if (h == INVALID_HANDLE_VALUE) continue;
        LARGE_INTEGER size = {};
        // A new log starts with a byte-order mark, so editors read it as UTF-8.
        if (GetFileSizeEx(h, &size) && size.QuadPart == 0) write_all(h, "\xEF\xBB\xBF");
        file_ = h;
        path_ = place;
        return true;
    }
    return false;
}

void dpinst_log::use_console(bool create) {
    if (console_ != INVALID_HANDLE_VALUE) return;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
        DWORD mode = 0;
        console_ = out;
        console_is_terminal_ = GetConsoleMode(out, &mode) != FALSE;
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && !(create && AllocConsole())) return;
    HANDLE con = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (con == INVALID_HANDLE_VALUE) return;
    console_ = con;
    console_owned_ = true;
    console_is_terminal_ = true;
    // The starting shell has already printed its prompt: begin on a line of our own.
    DWORD written = 0;
    WriteConsoleW(console_, L"\r\n", 2, &written, nullptr);
}

void dpinst_log::line(const std::wstring& text) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u-%02u-%02u %02u:%02u:%02u  ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    if (file_ != INVALID_HANDLE_VALUE) write_all(file_, to_utf8(stamp + text + L"\r\n"));
    if (console_ == INVALID_HANDLE_VALUE) return;
    const std::wstring shown = text + L"\r\n";
    DWORD written = 0;
    if (console_is_terminal_)
        WriteConsoleW(console_, shown.data(), static_cast<DWORD>(shown.size()), &written, nullptr);
    else
        write_all(console_, to_utf8(shown));
}
