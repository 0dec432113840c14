#include "backup/zip_writer.h"

#include <windows.h>

#include <minizip/zip.h>
#include <minizip/iowin32.h>

#include <algorithm>
#include <atomic>

#include "platform/text.h"

namespace {

constexpr std::size_t read_size = 16384;

bool read_with_readfile(void* file, void* buffer, unsigned long size, unsigned long& got) {
    DWORD n = 0;
    bool ok = ReadFile(static_cast<HANDLE>(file), buffer, size, &n, nullptr) != FALSE;
    got = n;
    return ok;
}

std::atomic<zip_writer::read_function> read_file{read_with_readfile};

// The entry's date and time (the file's last write in local time, 0 when the
// file cannot be found) and whether it needs zip64 (4 GiB or more). One
// attribute query gives both: no search handle and no seek in the file, each
// of which costs as much as the whole entry of a small file.
struct entry_facts {
    zip_fileinfo info{};
    bool large = false;
};

entry_facts facts_of(const std::wstring& path) {
    entry_facts facts;
    WIN32_FILE_ATTRIBUTE_DATA found;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &found)) return facts;
    FILETIME local;
    WORD date = 0, time = 0;
    if (FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) &&
        FileTimeToDosDateTime(&local, &date, &time))
        facts.info.dosDate = (static_cast<uLong>(date) << 16) | time;
    const unsigned long long size =
        (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    facts.large = size >= 0xFFFFFFFFull;
    return facts;
}

// The name as the zip format wants it: "/" between the parts, no leading
// separator, and UTF-8 (with `utf8` set) unless it is plain ASCII, which
// both encodings read alike.
std::string stored_name(std::wstring name, bool& utf8) {
    for (wchar_t& c : name) c = c == L'\\' ? L'/' : c;
    name.erase(0, std::min(name.find_first_not_of(L'/'), name.size()));
    utf8 = std::any_of(name.begin(), name.end(), [](wchar_t c) { return c >= 0x80; });
    return utf8 ? wide_to_utf8(name) : std::string(name.begin(), name.end());
}

constexpr uLong UTF8_NAME_FLAG = 1u << 11;  // general-purpose bit 11
// "Made by" Windows NTFS (10) to version 2.0 of the format. Info-ZIP's unzip
// takes the names of entries made on MS-DOS (0) for the OEM code page even
// when they are flagged as UTF-8.
constexpr uLong MADE_BY_WINDOWS_NTFS = (10u << 8) | 20u;

}  // namespace

int zip_writer::create(const std::wstring& path) {
    close();
    zlib_filefunc64_def files{};
    fill_win32_filefunc64W(&files);
    archive_ = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &files);
    failed_ = false;
    return archive_ ? 0 : -1;
}

int zip_writer::add_file(const std::wstring& path, const std::wstring& name) {
    if (!archive_) return 0;
    if (entry_open_) {
        entry_open_ = false;
        if (zipCloseFileInZip(archive_) != ZIP_OK) failed_ = true;
    }
    bool utf8 = false;
    const std::string stored =
        stored_name(name.empty() ? path.substr(path.find_last_of(L"\\/") + 1) : name, utf8);

    entry_facts facts = facts_of(path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    // A file that cannot be read would be an empty entry that restores as
    // an empty file: the archive fails instead.
    if (file == INVALID_HANDLE_VALUE) {
        failed_ = true;
        return 0;
    }
    if (zipOpenNewFileInZip4_64(archive_, stored.c_str(), &facts.info, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY, nullptr, 0, MADE_BY_WINDOWS_NTFS, utf8 ? UTF8_NAME_FLAG : 0,
                                facts.large ? 1 : 0) != ZIP_OK) {
        failed_ = true;
        CloseHandle(file);
        return 0;
    }
    entry_open_ = true;
    static thread_local char buffer[read_size];
    const read_function read = read_file.load();
    for (;;) {
        unsigned long got = 0;
        if (!read(file, buffer, read_size, got)) {
            failed_ = true;  // the entry would end partway through the file
            break;
        }
        if (got == 0) break;
        if (zipWriteInFileInZip(archive_, buffer, static_cast<unsigned>(got)) != ZIP_OK) {
            failed_ = true;
            break;
        }
    }
    CloseHandle(file);
    entry_open_ = false;
    if (zipCloseFileInZip(archive_) != ZIP_OK) failed_ = true;
    return 0;
}

zip_writer::read_function zip_writer::set_read_function(read_function replacement) {
    return read_file.exchange(replacement ? replacement : read_with_readfile);
}

int zip_writer::close() {
    if (!archive_) return -1;
    if (entry_open_ && zipCloseFileInZip(archive_) != ZIP_OK) failed_ = true;
    entry_open_ = false;
    if (zipClose(archive_, nullptr) != ZIP_OK) failed_ = true;
    archive_ = nullptr;
    return failed_ ? -1 : 0;
}
