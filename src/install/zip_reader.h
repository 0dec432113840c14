// Reading zip archives (driver packages, backup archives) with minizip over
// its Win32 file layer, and unpacking them into a folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// extract_all's answer for an archive that does not fit on the disk: the
// library's code for a failed file operation.
constexpr int UNPACK_NO_ROOM = -1;  // UNZ_ERRNO
// extract_all's answer when the folder, or a folder on an entry's way, is a
// reparse point (a junction or symbolic link that would lead the writes
// elsewhere): none of the library's codes.
constexpr int UNPACK_LINK_REFUSED = -120;
// extract_all's answer when its stop flag was raised: the program is quitting.
constexpr int UNPACK_STOPPED = -121;

// One archive opened for reading. A local object of the operation that uses
// it; the archive is closed on destruction.
class zip_reader {
public:
    zip_reader() = default;
    ~zip_reader() { close(); }
    zip_reader(const zip_reader&) = delete;
    zip_reader& operator=(const zip_reader&) = delete;

    // Opens the archive at `path`; when that fails, tries `path` with ".zip"
    // appended. `password` (may be null) is passed on when an entry is
    // opened. 0 on success, -1 when neither opens or path is null. Any
    // archive open before is closed first.
    int open(const wchar_t* path, const char* password = nullptr);
    // The same for a path in the thread's ANSI code page.
    int open(const char* path, const char* password = nullptr);

    // Writes every entry of the archive under `folder`, which must exist:
    // entries are written by full path, the process's current directory is
    // neither used nor changed. With `without_paths`, entries land directly
    // in `folder` under their last name and folder entries are ignored. An
    // existing file is replaced only with `overwrite`. File times come from
    // the entry's DOS date and time (local time).
    //
    // Entry names flagged as UTF-8 are decoded as UTF-8, others in the
    // thread's ANSI code page. Names that would land outside `folder`
    // (absolute, a drive, a UNC prefix, "..") or name a device are skipped.
    //
    // Each file is written as FOLDER.unpacking beside `folder` (always a
    // new file: a name planted there is not written through) and renamed
    // to its place when complete, so an extraction cut short (a killed
    // process) leaves no partial file under an entry's name. No entry writes
    // more than the archive's directory declares for it. When `folder` or a
    // folder on an entry's way is a reparse point, the extraction ends with
    // UNPACK_LINK_REFUSED and nothing is written through it.
    //
    // Before anything is written, the sizes the directory declares for the
    // files to be written are added up: when they exceed the free space of
    // `folder`'s volume (as far as the system can say), nothing is written
    // and UNPACK_NO_ROOM is returned (Windows' last error is then
    // ERROR_DISK_FULL). A directory that cannot be walked to its end is an
    // error before anything is written, too.
    //
    // Returns 0 only when every entry was written (or kept, or skipped for
    // its name); otherwise the error that ended it: the library's code when
    // the directory cannot be read or the next entry cannot be reached, or
    // an entry's own failure (it cannot be read, opened, checked or
    // written). An archive that does not unpack whole is an error: what was
    // written before stays for the caller to remove.
    //
    // With a stop flag (set_stop), the extraction ends with UNPACK_STOPPED
    // between two pieces of a file once the flag is raised; the partial
    // file is removed.
    int extract_all(const std::wstring& folder, bool without_paths, bool overwrite);
    // The flag extract_all watches (kept by the caller), or null for none.
    void set_stop(const std::atomic<bool>* stop) { stop_ = stop; }

    void close();
    bool is_open() const { return archive_ != nullptr; }

private:
    void* archive_ = nullptr;  // unzFile
    const char* password_ = nullptr;
    const std::atomic<bool>* stop_ = nullptr;
};

// The path under the unpack folder that an entry name stands for, with "\"
// between its parts (a trailing separator kept: a folder entry), or empty
// when the name must not be written: empty, absolute or rooted ("\x", "/x"),
// with a drive or stream colon or a control character (NUL among them), a
// UNC or device prefix, a ".." part (or any
// part of dots and spaces only, which Windows folds into ".." or "."),
// or a reserved device name (CON, NUL, COM1 ...) as a part. "." parts and
// doubled separators are dropped.
std::wstring safe_entry_path(std::wstring_view name);
