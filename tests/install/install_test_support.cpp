#include "install_test_support.h"

#include <minizip/zip.h>
#include <minizip/iowin32.h>

#include <algorithm>

#include "platform/text.h"

namespace {

void collect(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out) {
    for (const std::wstring& name : list_folder(join_path(root, relative))) {
        std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        DWORD attributes = GetFileAttributesW(join_path(root, child).c_str());
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            collect(root, child, out);
        } else {
            out.push_back(child);
        }
    }
}

}  // namespace


bool write_zip(const std::wstring& path, const std::vector<zip_entry_spec>& entries) {
    zlib_filefunc64_def files{};
    fill_win32_filefunc64W(&files);
    zipFile zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &files);
    if (!zip) return false;
    bool ok = true;
    for (const zip_entry_spec& e : entries) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = e.time.wYear;
        info.tmz_date.tm_mon = e.time.wMonth - 1u;
        info.tmz_date.tm_mday = e.time.wDay;
        info.tmz_date.tm_hour = e.time.wHour;
        info.tmz_date.tm_min = e.time.wMinute;
        info.tmz_date.tm_sec = e.time.wSecond;
        ok = ok &&
             zipOpenNewFileInZip4_64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                     e.method, e.method ? 6 : 0, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                     nullptr, 0, 0, e.utf8_flag ? (1u << 11) : 0u, 0) == ZIP_OK &&
             zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK &&
             zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring sample_package(const wchar_t* name) { return reference_service::sample_packages() + name; }

std::vector<std::wstring> files_under(const std::wstring& folder) {
    std::vector<std::wstring> out;
    collect(folder, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

namespace {

// The Unix name Wine gives a Windows path of this prefix, or empty.
std::string unix_name_of(const std::wstring& path) {
    using unix_name_function = char*(CDECL*)(const wchar_t*);
    auto to_unix = reinterpret_cast<unix_name_function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = to_unix ? to_unix(path.c_str()) : nullptr;
    if (!name) return {};
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

// Runs a Unix program (Wine starts one as it starts a Windows program, but
// neither passes its exit code on nor reliably waits for its end: callers
// look for its effect).
void run_unix(const std::wstring& program, const std::wstring& arguments) {
    std::wstring line = program + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

}  // namespace

folder_link::folder_link(const std::wstring& link, const std::wstring& target) : link_(link) {
    const std::string from = unix_name_of(link), to = unix_name_of(target);
    if (!from.empty() && !to.empty())
        run_unix(L"Z:\\bin\\ln", L"-sfn \"" + utf8_to_wide(to) + L"\" \"" + utf8_to_wide(from) + L"\"");
    for (int i = 0; i < 100 && !made(); ++i) Sleep(50);
}

folder_link::~folder_link() {
    const std::string path = unix_name_of(link_);
    if (!path.empty()) run_unix(L"Z:\\bin\\rm", L"-f \"" + utf8_to_wide(path) + L"\"");
    for (int i = 0; i < 100 && made(); ++i) Sleep(50);
}

bool folder_link::made() const {
    const DWORD attributes = GetFileAttributesW(link_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
