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
