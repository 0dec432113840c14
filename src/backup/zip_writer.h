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
    // last write in local time, as zip64 when it has 4 GiB or more. The
    // stored name has "/" between its parts, as the zip format says, and is
    // in UTF-8 with general-purpose bit 11 set when it is not plain ASCII.
    // Always 0: a file that cannot be opened (no entry is added), a read of
    // it that fails partway and a failure to write into the archive are
    // kept for close().
    int add_file(const std::wstring& path, const std::wstring& name);
    // Ends the archive. 0 when every file was read whole and every write
    // into the archive succeeded, else -1 (and also -1 when nothing was
    // created).
    int close();

    // How the files are read: `file` is the Windows handle of the open file;
    // true with the count in `got` (0 at the end), false on a read error.
    using read_function = bool (*)(void* file, void* buffer, unsigned long size, unsigned long& got);
    // Puts `replacement` in place of ReadFile (null: ReadFile again) for
    // every writer and returns the one in effect before. For tests: a read
    // that fails partway cannot be brought about otherwise.
    static read_function set_read_function(read_function replacement);

private:
    void* archive_ = nullptr;  // zipFile
    bool entry_open_ = false;
    bool failed_ = false;
};
