// The bare-library side of the backup benchmark: zipping a folder and
// unzipping an archive with minizip alone, as a plain program would, with the
// compression settings and buffer sizes the product uses. Also the checks
// that both sides did the same work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace backup_bench {

// Zips every file under `folder` (names beginning with "." left out) into a
// new archive: entry names relative to the folder with "\" kept, in the ANSI
// code page, dated by the file's last write in local time; deflate, default
// level, raw, memory level 8, default strategy; zip64 from 4 GiB on; 16 KiB
// reads. True when every call of the library succeeded.
bool zip_folder(const std::wstring& folder, const std::wstring& archive);

// Unzips every entry of `archive` under `folder` (which exists), making the
// folders entries need, in 8 KiB pieces, and dates each file by its entry.
bool unzip_archive(const std::wstring& archive, const std::wstring& folder);

// One entry of an archive's directory.
struct entry {
    std::string name;
    uint32_t crc = 0;
    uint32_t dos_date = 0;
    uint64_t size = 0;
    uint64_t compressed = 0;
    int method = 0;
};
// The directory of an archive, sorted by name; false when it cannot be read.
bool read_directory(const std::wstring& archive, std::vector<entry>& entries);

// The files under a folder (dot names left out), as paths relative to it,
// sorted, with their sizes.
struct file_info {
    std::wstring relative;
    uint64_t size = 0;
};
std::vector<file_info> list_files(const std::wstring& folder);

// Compares the files under `copy` with those under `source`: the same names
// and sizes, and with `contents` the same bytes and last-write times (to the
// two seconds of a zip entry). Empty when they agree, else a description of
// the first difference.
std::string compare_folders(const std::wstring& source, const std::wstring& copy, bool contents);

}  // namespace backup_bench
