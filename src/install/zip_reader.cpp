#include "install/zip_reader.h"

#include <windows.h>

#include <minizip/unzip.h>
#include <minizip/iowin32.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <new>
#include <unordered_set>
#include <vector>

#include "platform/disk_space.h"
#include "platform/text.h"

namespace {

static_assert(UNPACK_NO_ROOM == UNZ_ERRNO, "the library's code for a failed file operation");

constexpr std::size_t COPY_BUFFER_SIZE = 8192;
constexpr uLong UTF8_NAME_FLAG = 1u << 11;  // general-purpose bit 11

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A part that Windows would resolve to something other than a plain name:
// dots and spaces only ("..", "... ", which Windows trims to ".."), or a
// device name, with or without an extension ("nul", "COM1.txt").
bool unsafe_part(std::wstring_view part) {
    if (part.find_first_not_of(L". ") == std::wstring_view::npos) return true;
    std::wstring_view stem = part.substr(0, part.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
    std::wstring upper(stem);
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$",
                                             L"CONOUT$"};
    for (const wchar_t* d : devices) {
        if (upper == d) return true;
    }
    if (upper.size() == 4 && (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0) &&
        upper[3] >= L'1' && upper[3] <= L'9') {
        return true;
    }
    return false;
}

// A folder of the write path that is really a folder of its own, not a
// junction or a symbolic link that would lead the writes elsewhere.
bool plain_folder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Creates each missing folder of `relative` (parts separated by "\") under
// `base`, which exists. Stops at the first level that cannot be made or that
// is a reparse point; true when every level is a plain folder.
bool create_folders(const std::wstring& base, std::wstring_view relative) {
    std::wstring path = base;
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find(L'\\', start);
        if (end == std::wstring_view::npos) end = relative.size();
        path += L'\\';
        path.append(relative.substr(start, end - start));
        if (!CreateDirectoryW(path.c_str(), nullptr) &&
            (GetLastError() != ERROR_ALREADY_EXISTS || !plain_folder(path)))
            return false;
        start = end + 1;
    }
    return true;
}

// True when every existing level of `relative`'s folder under `base` is a
// plain folder (a missing level is made later, by create_folders).
bool plain_folder_chain(const std::wstring& base, std::wstring_view relative) {
    std::wstring path = base;
    std::size_t start = 0;
    for (std::size_t end = relative.find(L'\\'); end != std::wstring_view::npos;
         start = end + 1, end = relative.find(L'\\', start)) {
        path += L'\\';
        path.append(relative.substr(start, end - start));
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return true;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return false;
    }
    return true;
}

// A new file, never one that is there: a name planted beforehand (a link to
// a system file, say) makes the creation fail instead of being written
// through.
HANDLE create_output(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The entry's DOS date (high word) and time (low word), a local time, as the
// file's creation and last-write time; the last-access time is left alone.
void set_entry_time(HANDLE file, uLong dos_date_time) {
    FILETIME local{}, utc{};
    if (!DosDateTimeToFileTime(HIWORD(dos_date_time), LOWORD(dos_date_time), &local)) return;
    if (!LocalFileTimeToFileTime(&local, &utc)) return;
    SetFileTime(file, &utc, nullptr, &utc);
}

// Reads of the archive go through a buffer: the library reads each entry's
// directory record field by field, a few bytes at a time, and the Win32
// layer under it would make each of those a system call.
constexpr std::size_t READ_BUFFER_SIZE = 65536;

struct buffered_stream {
    voidpf file = nullptr;  // the Win32 layer's stream
    ZPOS64_T position = 0;  // where the library reads next
    ZPOS64_T start = 0;     // the file offset of data[0]
    std::size_t length = 0; // the bytes of data that hold the file's
    unsigned char data[READ_BUFFER_SIZE];
};

const zlib_filefunc64_def& win32_files() {
    static const zlib_filefunc64_def files = [] {
        zlib_filefunc64_def f{};
        fill_win32_filefunc64W(&f);
        return f;
    }();
    return files;
}

voidpf ZCALLBACK buffered_open(voidpf, const void* name, int mode) {
    const zlib_filefunc64_def& w = win32_files();
    voidpf file = w.zopen64_file(w.opaque, name, mode);
    if (!file) return nullptr;
    auto* stream = new (std::nothrow) buffered_stream;
    if (!stream) {
        w.zclose_file(w.opaque, file);
        return nullptr;
    }
    stream->file = file;
    return stream;
}

// Reads at the stream's position from the file itself; the bytes read.
uLong read_through(buffered_stream& s, void* out, uLong size) {
    const zlib_filefunc64_def& w = win32_files();
    if (w.zseek64_file(w.opaque, s.file, s.position, ZLIB_FILEFUNC_SEEK_SET) != 0) return 0;
    return w.zread_file(w.opaque, s.file, out, size);
}

uLong ZCALLBACK buffered_read(voidpf, voidpf stream, void* out, uLong size) {
    auto& s = *static_cast<buffered_stream*>(stream);
    auto* to = static_cast<unsigned char*>(out);
    uLong done = 0;
    while (done < size) {
        if (s.position >= s.start && s.position < s.start + s.length) {
            std::size_t at = static_cast<std::size_t>(s.position - s.start);
            std::size_t n = std::min<std::size_t>(size - done, s.length - at);
            std::memcpy(to + done, s.data + at, n);
            done += static_cast<uLong>(n);
            s.position += n;
            continue;
        }
        if (size - done >= READ_BUFFER_SIZE) {  // large reads need no copy
            uLong n = read_through(s, to + done, size - done);
            s.position += n;
            return done + n;
        }
        s.start = s.position;
        s.length = read_through(s, s.data, READ_BUFFER_SIZE);
        if (s.length == 0) break;
    }
    return done;
}

uLong ZCALLBACK buffered_write(voidpf, voidpf, const void*, uLong) { return 0; }  // read only

ZPOS64_T ZCALLBACK buffered_tell(voidpf, voidpf stream) {
    return static_cast<buffered_stream*>(stream)->position;
}

long ZCALLBACK buffered_seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto& s = *static_cast<buffered_stream*>(stream);
    const zlib_filefunc64_def& w = win32_files();
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: s.position = offset; return 0;
    case ZLIB_FILEFUNC_SEEK_CUR: s.position += offset; return 0;
    case ZLIB_FILEFUNC_SEEK_END:
        if (w.zseek64_file(w.opaque, s.file, offset, ZLIB_FILEFUNC_SEEK_END) != 0) return -1;
        s.position = w.ztell64_file(w.opaque, s.file);
        return 0;
    default: return -1;
    }
}

int ZCALLBACK buffered_close(voidpf, voidpf stream) {
    auto* s = static_cast<buffered_stream*>(stream);
    const zlib_filefunc64_def& w = win32_files();
    int result = w.zclose_file(w.opaque, s->file);
    delete s;
    return result;
}

int ZCALLBACK buffered_error(voidpf, voidpf stream) {
    const zlib_filefunc64_def& w = win32_files();
    return w.zerror_file(w.opaque, static_cast<buffered_stream*>(stream)->file);
}

zlib_filefunc64_def buffered_files() {
    zlib_filefunc64_def f{};
    f.zopen64_file = buffered_open;
    f.zread_file = buffered_read;
    f.zwrite_file = buffered_write;
    f.ztell64_file = buffered_tell;
    f.zseek64_file = buffered_seek;
    f.zclose_file = buffered_close;
    f.zerror_file = buffered_error;
    return f;
}

}  // namespace

std::wstring safe_entry_path(std::wstring_view name) {
    if (name.empty() || is_separator(name.front())) return {};
    for (wchar_t c : name) {
        if (c == L':' || c < 0x20) return {};  // a drive, a stream, or no file name at all
    }
    std::wstring out;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !is_separator(name[end])) ++end;
        std::wstring_view part = name.substr(start, end - start);
        if (!part.empty() && part != L".") {
            if (unsafe_part(part)) return {};
            out.append(part);
            out += L'\\';
        }
        start = end + 1;
    }
    if (out.empty()) return {};
    if (!is_separator(name.back())) out.pop_back();  // a file: no trailing separator
    return out;
}

int zip_reader::open(const wchar_t* path, const char* password) {
    close();
    if (!path) return -1;
    password_ = password;
    zlib_filefunc64_def files = buffered_files();
    archive_ = unzOpen2_64(path, &files);
    if (!archive_) {
        std::wstring with_extension = std::wstring(path) + L".zip";
        archive_ = unzOpen2_64(with_extension.c_str(), &files);
    }
    return archive_ ? 0 : -1;
}

int zip_reader::open(const char* path, const char* password) {
    if (!path) return -1;
    std::wstring wide = ansi_to_wide(path);
    return open(wide.c_str(), password);
}

void zip_reader::close() {
    if (archive_) unzClose(static_cast<unzFile>(archive_));
    archive_ = nullptr;
}

namespace {

// Each entry is written under a name of its own first and takes the entry's
// name only when it is complete: a run that is cut short (the process
// killed, the disk full) leaves no file under an entry's name that a later
// extraction, which keeps existing files, would take for done. That name is
// the unpack folder's own with ".unpacking" appended, in the folder's parent,
// which holds few files (on some file systems creating a file means a look
// through its whole folder); inside the folder when it is a drive's root. A
// leftover of a cut run is written over or removed by the next extraction.
std::wstring partial_path(const std::wstring& base) {
    return base + (!base.empty() && base.back() == L':' ? L"\\.unpacking" : L".unpacking");
}

std::wstring upper(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towupper(c));
    return out;
}

// The files that lie in the unpack folder's folders before an extraction
// writes there, by upper-cased path relative to the unpack folder. A folder
// is listed once, when an entry first goes into it, instead of one query of
// the file system per entry. It only saves work: the rename that ends each
// entry never replaces a file that is there.
class existing_files {
public:
    explicit existing_files(const std::wstring& base) : base_(base) {}

    bool contains(const std::wstring& relative) {
        std::size_t cut = relative.rfind(L'\\');
        std::wstring folder = upper(cut == std::wstring::npos ? std::wstring_view()
                                                               : std::wstring_view(relative).substr(0, cut));
        if (listed_.insert(folder).second) list(folder);
        return files_.count(upper(relative)) != 0;
    }

private:
    void list(const std::wstring& folder) {
        std::wstring pattern = (folder.empty() ? base_ : base_ + L'\\' + folder) + L"\\*";
        WIN32_FIND_DATAW found{};
        HANDLE search = FindFirstFileW(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
            std::wstring name = upper(found.cFileName);
            if (name != L"." && name != L"..") files_.insert(folder.empty() ? name : folder + L'\\' + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }

    std::wstring base_;
    std::unordered_set<std::wstring> listed_, files_;
};

// Reads the current entry's information and its whole name, however long: a
// cut name would write the entry under a name it does not have.
bool current_entry(unzFile archive, unz_file_info64& info, std::string& raw_name) {
    info = {};
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    raw_name.assign(info.size_filename, '\0');
    return raw_name.empty() ||
           unzGetCurrentFileInfo64(archive, &info, raw_name.data(), info.size_filename, nullptr, 0,
                                   nullptr, 0) == UNZ_OK;
}

// Where the entry goes, relative to the unpack folder (a\b.inf; a folder
// entry ends in a backslash), or empty when it is not written: its name
// would land outside the folder, or it is a folder entry while paths are
// dropped.
std::wstring entry_relative_path(const unz_file_info64& info, const std::string& raw_name,
                                 bool without_paths) {
    std::wstring name = (info.flag & UTF8_NAME_FLAG) ? utf8_to_wide(raw_name) : ansi_to_wide(raw_name);
    std::wstring relative = safe_entry_path(name);
    if (relative.empty()) return relative;
    if (relative.back() == L'\\') return without_paths ? std::wstring() : relative;
    if (without_paths) relative.erase(0, relative.rfind(L'\\') + 1);
    return relative;
}

// The bytes the entries declare that an extraction would write (files that
// exist and are kept count for nothing), added up without overflow. UNZ_OK,
// or the library's error when the directory cannot be walked.
int declared_bytes(unzFile archive, bool without_paths, bool overwrite, existing_files& existing,
                   uint64_t& total) {
    total = 0;
    int result = unzGoToFirstFile(archive);
    for (; result == UNZ_OK; result = unzGoToNextFile(archive)) {
        unz_file_info64 info{};
        std::string raw_name;
        // An entry that cannot be read would end the extraction unfinished.
        if (!current_entry(archive, info, raw_name)) return UNZ_BADZIPFILE;
        std::wstring relative = entry_relative_path(info, raw_name, without_paths);
        if (relative.empty() || relative.back() == L'\\') continue;
        if (!overwrite && existing.contains(relative)) continue;
        total = info.uncompressed_size > UINT64_MAX - total ? UINT64_MAX
                                                            : total + info.uncompressed_size;
    }
    return result == UNZ_END_OF_LIST_OF_FILE ? UNZ_OK : result;
}

bool stopped(const std::atomic<bool>* stop) { return stop && stop->load(); }

// Writes the current entry; 0 to go on with the next entry, else the error
// that ends the extraction. The library reads no more of an entry than its
// directory declares, and a checksum that then fails removes the file again.
int extract_entry(unzFile archive, const char* password, const unz_file_info64& info,
                  const std::wstring& relative, const std::wstring& base, bool overwrite,
                  existing_files& existing, const std::wstring& partial, std::vector<char>& buffer,
                  const std::atomic<bool>* stop) {
    const std::size_t last_separator = relative.rfind(L'\\');
    // A folder on the way that leads elsewhere ends the extraction as an
    // error: nothing is written through it.
    if (relative.back() == L'\\') {
        return create_folders(base, std::wstring_view(relative).substr(0, last_separator))
                   ? 0
                   : (plain_folder_chain(base, relative) ? 0 : UNPACK_LINK_REFUSED);
    }
    if (!plain_folder_chain(base, relative)) return UNPACK_LINK_REFUSED;
    if (!overwrite && existing.contains(relative)) return 0;  // kept as it is
    const int opened = unzOpenCurrentFilePassword(archive, password);
    if (opened != UNZ_OK) {
        unzCloseCurrentFile(archive);
        return opened;
    }
    HANDLE file = create_output(partial);
    if (file == INVALID_HANDLE_VALUE) {
        unzCloseCurrentFile(archive);
        return UNZ_ERRNO;
    }

    bool copied = true;
    for (;;) {
        if (stopped(stop)) {
            CloseHandle(file);
            unzCloseCurrentFile(archive);
            DeleteFileW(partial.c_str());
            return UNPACK_STOPPED;
        }
        int n = unzReadCurrentFile(archive, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n == 0) break;
        DWORD written = 0;
        if (n < 0 || !WriteFile(file, buffer.data(), static_cast<DWORD>(n), &written, nullptr) ||
            written != static_cast<DWORD>(n)) {
            copied = false;
            break;
        }
    }
    if (copied) set_entry_time(file, info.dosDate);
    CloseHandle(file);
    int status = unzCloseCurrentFile(archive);  // reports a checksum mismatch
    if (!copied || status != UNZ_OK) {
        DeleteFileW(partial.c_str());
        return copied ? status : UNZ_ERRNO;
    }
    // Into place, making the entry's folders when they are missing. A file
    // that is there by now is kept (an entry named twice: the first stays);
    // a name that cannot be made fails the extraction.
    const std::wstring target = base + L'\\' + relative;
    const DWORD how = overwrite ? MOVEFILE_REPLACE_EXISTING : 0;
    bool moved = MoveFileExW(partial.c_str(), target.c_str(), how) != FALSE;
    if (!moved && GetLastError() == ERROR_PATH_NOT_FOUND && last_separator != std::wstring::npos) {
        if (!create_folders(base, std::wstring_view(relative).substr(0, last_separator)) &&
            !plain_folder_chain(base, relative)) {
            DeleteFileW(partial.c_str());
            return UNPACK_LINK_REFUSED;
        }
        moved = MoveFileExW(partial.c_str(), target.c_str(), how) != FALSE;
    }
    if (moved) return 0;
    const DWORD error = GetLastError();
    DeleteFileW(partial.c_str());
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? 0 : UNZ_ERRNO;
}

}  // namespace

int zip_reader::extract_all(const std::wstring& folder, bool without_paths, bool overwrite) {
    if (!archive_) return UNZ_PARAMERROR;
    auto* archive = static_cast<unzFile>(archive_);
    unz_global_info64 global{};
    int result = unzGetGlobalInfo64(archive, &global);
    if (result != UNZ_OK || global.number_entry == 0) return result;

    std::wstring base = folder;
    while (base.size() > 1 && is_separator(base.back())) base.pop_back();
    if (!plain_folder(base)) return UNPACK_LINK_REFUSED;
    existing_files existing(base);
    // Room for everything first: a package that cannot fit is refused
    // before a single file is written.
    uint64_t needed = 0, room = 0;
    result = declared_bytes(archive, without_paths, overwrite, existing, needed);
    if (result != UNZ_OK) return result;
    if (needed > 0 && free_disk_space(base.c_str(), room) && needed > room) {
        SetLastError(ERROR_DISK_FULL);
        return UNPACK_NO_ROOM;
    }

    result = unzGoToFirstFile(archive);
    if (result != UNZ_OK) return result;
    const std::wstring partial = partial_path(base);
    DeleteFileW(partial.c_str());  // what a cut run before this one left
    std::vector<char> buffer(COPY_BUFFER_SIZE);
    for (;;) {
        unz_file_info64 info{};
        std::string raw_name;
        if (!current_entry(archive, info, raw_name)) {
            result = UNZ_BADZIPFILE;
            break;
        }
        std::wstring relative = entry_relative_path(info, raw_name, without_paths);
        // An empty path is skipped: it would land outside the folder. One
        // entry that fails ends the extraction with its error.
        if (!relative.empty()) {
            result = extract_entry(archive, password_, info, relative, base, overwrite, existing,
                                   partial, buffer, stop_);
            if (result != 0) break;
        }
        result = stopped(stop_) ? UNPACK_STOPPED : unzGoToNextFile(archive);
        if (result != UNZ_OK) break;
    }
    DeleteFileW(partial.c_str());
    return result == UNZ_END_OF_LIST_OF_FILE ? 0 : result;
}
