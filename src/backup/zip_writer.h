// Writes zip archives: one deflated entry per file, named as the caller says.
#pragma once

#include <string>

class zip_writer {
public:
    zip_writer() = default;
    ~zip_writer() { close(); }
    zip_writer(const zip_writer&) = delete;
    zip_writer& operator=(const zip_writer&) = delete;

    // Creates the archive, replacing an existing file. 0, or -1.
    int create(const std::wstring& path);
    // Adds the file at `path` as the entry `name` (leading separators left
    // out; the file's own name when `name` is empty), dated by the file's
    // last write in local time, as zip64 when it has 4 GiB or more. A file that
    // cannot be read gives an empty entry. Always 0: a failure to write into
    // the archive is kept for close().
    int add_file(const std::wstring& path, const std::string& name);
    // Ends the archive. 0 when every write into it succeeded, else -1 (and
    // also -1 when nothing was created).
    int close();

private:
    void* archive_ = nullptr;  // zipFile
    bool entry_open_ = false;
    bool write_failed_ = false;
};
