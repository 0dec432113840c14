#include "backup_baseline.h"

#include <windows.h>

#include <minizip/unzip.h>
#include <minizip/zip.h>
// After zip.h and unzip.h, which define what it uses.
#include <minizip/iowin32.h>

#include <algorithm>
#include <cstdio>

namespace backup_bench {

namespace {

constexpr std::size_t zip_read_size = 16384;    // what the product reads a file in
constexpr std::size_t unzip_write_size = 8192;  // what the product writes a file in

std::string to_ansi(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

std::wstring from_ansi(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

uint64_t size_of(const WIN32_FIND_DATAW& found) {
    return (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

bool is_folder(const WIN32_FIND_DATAW& found) {
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Calls fn(found, full path, relative path) for every entry under `folder`
// whose name does not begin with ".", a folder before its contents.
template <typename Fn>
void walk(const std::wstring& folder, const std::wstring& relative, Fn& fn) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.cFileName[0] == L'.') continue;
        std::wstring full = folder + L"\\" + found.cFileName;
        std::wstring inner = relative + found.cFileName;
        fn(found, full, inner);
        if (is_folder(found)) walk(full, inner + L"\\", fn);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void make_folders(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

void set_times(const std::wstring& path, uLong dos_date) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    FILETIME local, utc;
    if (DosDateTimeToFileTime(HIWORD(dos_date), LOWORD(dos_date), &local) &&
        LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(file, &utc, nullptr, &utc);
    CloseHandle(file);
}

}  // namespace

bool zip_folder(const std::wstring& folder, const std::wstring& archive) {
    zlib_filefunc64_def files{};
    fill_win32_filefunc64W(&files);
    zipFile zip = zipOpen2_64(archive.c_str(), APPEND_STATUS_CREATE, nullptr, &files);
    if (!zip) return false;
    bool ok = true;
    std::vector<char> buffer(zip_read_size);
    auto add = [&](const WIN32_FIND_DATAW& found, const std::wstring& full, const std::wstring& relative) {
        if (is_folder(found)) return;
        zip_fileinfo info{};
        FILETIME local;
        WORD date = 0, time = 0;
        if (FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) && FileTimeToDosDateTime(&local, &date, &time))
            info.dosDate = (static_cast<uLong>(date) << 16) | time;
        const int zip64 = size_of(found) >= 0xFFFFFFFFull ? 1 : 0;
        if (zipOpenNewFileInZip3_64(zip, to_ansi(relative).c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                    nullptr, 0, zip64) != ZIP_OK) {
            ok = false;
            return;
        }
        if (FILE* file = _wfopen(full.c_str(), L"rb")) {
            for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
                if (zipWriteInFileInZip(zip, buffer.data(), static_cast<unsigned>(got)) != ZIP_OK) {
                    ok = false;
                    break;
                }
            }
            std::fclose(file);
        } else {
            ok = false;
        }
        if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
    };
    walk(folder, L"", add);
    if (zipClose(zip, nullptr) != ZIP_OK) ok = false;
    return ok;
}

bool unzip_archive(const std::wstring& archive, const std::wstring& folder) {
    zlib_filefunc64_def files{};
    fill_win32_filefunc64W(&files);
    unzFile unzip = unzOpen2_64(archive.c_str(), &files);
    if (!unzip) return false;
    std::vector<char> buffer(unzip_write_size);
    bool ok = true;
    for (int next = unzGoToFirstFile(unzip); ok && next == UNZ_OK; next = unzGoToNextFile(unzip)) {
        unz_file_info64 info{};
        char name[1024];
        if (unzGetCurrentFileInfo64(unzip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK ||
            info.size_filename >= sizeof name) {
            ok = false;
            break;
        }
        std::wstring target = folder + L"\\" + from_ansi(name);
        std::replace(target.begin(), target.end(), L'/', L'\\');
        if (target.back() == L'\\') {
            make_folders(target.substr(0, target.size() - 1));
            continue;
        }
        if (unzOpenCurrentFile(unzip) != UNZ_OK) {
            ok = false;
            break;
        }
        FILE* out = _wfopen(target.c_str(), L"wb");
        if (!out) {
            make_folders(target.substr(0, target.rfind(L'\\')));
            out = _wfopen(target.c_str(), L"wb");
        }
        if (!out) ok = false;
        while (ok) {
            int n = unzReadCurrentFile(unzip, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (n == 0) break;
            if (n < 0 || std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n))
                ok = false;
        }
        if (out) std::fclose(out);
        if (unzCloseCurrentFile(unzip) != UNZ_OK) ok = false;
        if (ok) set_times(target, info.dosDate);
    }
    unzClose(unzip);
    return ok;
}

bool read_directory(const std::wstring& archive, std::vector<entry>& entries) {
    entries.clear();
    zlib_filefunc64_def files{};
    fill_win32_filefunc64W(&files);
    unzFile unzip = unzOpen2_64(archive.c_str(), &files);
    if (!unzip) return false;
    int next = unzGoToFirstFile(unzip);
    for (; next == UNZ_OK; next = unzGoToNextFile(unzip)) {
        unz_file_info64 info{};
        char name[1024];
        if (unzGetCurrentFileInfo64(unzip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        entries.push_back({name, static_cast<uint32_t>(info.crc), static_cast<uint32_t>(info.dosDate),
                           info.uncompressed_size, info.compressed_size, static_cast<int>(info.compression_method)});
    }
    unzClose(unzip);
    std::sort(entries.begin(), entries.end(), [](const entry& a, const entry& b) { return a.name < b.name; });
    return next == UNZ_END_OF_LIST_OF_FILE;
}

std::vector<file_info> list_files(const std::wstring& folder) {
    std::vector<file_info> out;
    auto add = [&](const WIN32_FIND_DATAW& found, const std::wstring&, const std::wstring& relative) {
        if (!is_folder(found)) out.push_back({relative, size_of(found)});
    };
    walk(folder, L"", add);
    std::sort(out.begin(), out.end(), [](const file_info& a, const file_info& b) { return a.relative < b.relative; });
    return out;
}

namespace {

std::string narrow(const std::wstring& text) { return to_ansi(text); }

// Empty when both files hold the same bytes and were last written within
// two seconds of each other.
std::string compare_file(const std::wstring& a, const std::wstring& b) {
    HANDLE one = CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE two = CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string problem;
    if (one == INVALID_HANDLE_VALUE || two == INVALID_HANDLE_VALUE) problem = "cannot be opened";
    FILETIME t1{}, t2{};
    if (problem.empty() && GetFileTime(one, nullptr, nullptr, &t1) && GetFileTime(two, nullptr, nullptr, &t2)) {
        auto ticks = [](FILETIME t) { return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        int64_t apart = ticks(t1) - ticks(t2);
        if (apart >= 20000000 || apart <= -20000000) problem = "last written at another time";
    }
    std::vector<char> x(1 << 20), y(1 << 20);
    while (problem.empty()) {
        DWORD got1 = 0, got2 = 0;
        if (!ReadFile(one, x.data(), static_cast<DWORD>(x.size()), &got1, nullptr) ||
            !ReadFile(two, y.data(), static_cast<DWORD>(y.size()), &got2, nullptr)) {
            problem = "cannot be read";
        } else if (got1 != got2 || !std::equal(x.begin(), x.begin() + got1, y.begin())) {
            problem = "differs";
        } else if (got1 == 0) {
            break;
        }
    }
    if (one != INVALID_HANDLE_VALUE) CloseHandle(one);
    if (two != INVALID_HANDLE_VALUE) CloseHandle(two);
    return problem;
}

}  // namespace

std::string compare_folders(const std::wstring& source, const std::wstring& copy, bool contents) {
    std::vector<file_info> want = list_files(source), got = list_files(copy);
    if (want.size() != got.size())
        return std::to_string(got.size()) + " files instead of " + std::to_string(want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (want[i].relative != got[i].relative) return narrow(want[i].relative) + " is missing";
        if (want[i].size != got[i].size) return narrow(want[i].relative) + " has another size";
        if (!contents) continue;
        std::string problem = compare_file(source + L"\\" + want[i].relative, copy + L"\\" + got[i].relative);
        if (!problem.empty()) return narrow(want[i].relative) + ": " + problem;
    }
    return {};
}

}  // namespace backup_bench
