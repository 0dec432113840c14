#include "backup/zip_writer.h"

#include <windows.h>

#include <minizip/zip.h>
#include <minizip/iowin32.h>

#include <algorithm>
#include <cstdio>

#include "platform/text.h"

namespace {

constexpr std::size_t read_size = 16384;

zip_fileinfo entry_info(const std::wstring& path) {
    zip_fileinfo info{};
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return info;
    FindClose(search);
    FILETIME local;
    WORD date = 0, time = 0;
    if (FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) &&
        FileTimeToDosDateTime(&local, &date, &time))
        info.dosDate = (static_cast<uLong>(date) << 16) | time;
    return info;
}

bool is_large(FILE* file) {
    if (!file || _fseeki64(file, 0, SEEK_END) != 0) return false;
    long long size = _ftelli64(file);
    _fseeki64(file, 0, SEEK_SET);
    return size >= 0xFFFFFFFFLL;
}

}  // namespace

int zip_writer::create(const std::wstring& path) {
    close();
    zlib_filefunc64_def files{};
    fill_win32_filefunc64W(&files);
    archive_ = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &files);
    write_failed_ = false;
    return archive_ ? 0 : -1;
}

int zip_writer::add_file(const std::wstring& path, const std::string& name) {
    if (!archive_) return 0;
    if (entry_open_) {
        entry_open_ = false;
        if (zipCloseFileInZip(archive_) != ZIP_OK) write_failed_ = true;
    }
    std::string stored = name.substr(std::min(name.find_first_not_of("\\/"), name.size()));
    if (name.empty()) stored = wide_to_ansi(path.substr(path.find_last_of(L"\\/") + 1));

    zip_fileinfo info = entry_info(path);
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (zipOpenNewFileInZip3_64(archive_, stored.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY, nullptr, 0, is_large(file) ? 1 : 0) != ZIP_OK) {
        write_failed_ = true;
        if (file) std::fclose(file);
        return 0;
    }
    entry_open_ = true;
    if (!file) return 0;  // the entry stays empty
    static thread_local char buffer[read_size];
    for (;;) {
        std::size_t got = std::fread(buffer, 1, read_size, file);
        if (got == 0) break;
        if (zipWriteInFileInZip(archive_, buffer, static_cast<unsigned>(got)) != ZIP_OK) {
            write_failed_ = true;
            break;
        }
    }
    std::fclose(file);
    entry_open_ = false;
    if (zipCloseFileInZip(archive_) != ZIP_OK) write_failed_ = true;
    return 0;
}

int zip_writer::close() {
    if (!archive_) return -1;
    if (entry_open_ && zipCloseFileInZip(archive_) != ZIP_OK) write_failed_ = true;
    entry_open_ = false;
    if (zipClose(archive_, nullptr) != ZIP_OK) write_failed_ = true;
    archive_ = nullptr;
    return write_failed_ ? -1 : 0;
}
