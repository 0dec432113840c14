// The index of the Windows driver store that backups are taken from, the list
// of installed driver packages, and the backup of chosen packages into zip
// archives in the backup folder.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "devices/device_store.h"
#include "platform/driver_store.h"

// Set by build_store_index at start-up, read-only afterwards.
extern wchar_t inf_folder[MAX_PATH];
extern wchar_t store_root[MAX_PATH];  // empty when the store cannot be looked up
// Windows XP: MD5 of each store INF's content -> the INF's full path.
extern std::map<std::string, std::wstring> inf_content_index;
extern store_lookup_function store_lookup;

// Builds the index from the store in use (the machine profile's or the
// system's). 0, or -1 when the lookup cannot be obtained on Windows Vista and
// later (no package is then found). The overload takes the places to use.
int build_store_index();
int build_store_index(const driver_store_places& places);

// The Windows XP lookup, called like SetupGetInfDriverStoreLocationW: true
// when a store INF has the content of `inf_name` in the INF folder; the
// buffer then holds its full path, cut to `size` units.
BOOL WINAPI xp_store_lookup(PCWSTR inf_name, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR buffer,
                            DWORD size, PDWORD);

// The MD5 of a file's content as 32 lower-case hex digits and a NUL in `out`.
// -1 when the file cannot be opened (`out` is then unchanged).
int md5_file_hex(const wchar_t* path, char (&out)[33]);

// The files and folders under a folder, depth first, one full path per
// call of next(): a folder's contents come right after it. Names beginning
// with "." are left out, and so is everything under such a folder.
class walk_folder {
public:
    enum mode { files = 0, folders = 1, both = 2 };
    walk_folder(const std::wstring& folder, mode kind);
    ~walk_folder();
    walk_folder(const walk_folder&) = delete;
    walk_folder& operator=(const walk_folder&) = delete;
    // False at the end.
    bool next(std::wstring& path);
    // Some folder on the way could not be listed (the walk went on without
    // it), the first one included.
    bool failed() const { return failed_; }

private:
    struct search {
        std::wstring folder;
        HANDLE handle = INVALID_HANDLE_VALUE;
    };
    std::vector<search> stack_;
    mode kind_;
    bool failed_ = false;
};

// An installed driver package and the devices that use it.
struct driver_package {
    bool inbox = false;  // the first device's INF is not an "oem" one
    wchar_t folder_name[MAX_PATH] = {};  // the package's folder under store_root
    std::vector<device_record*> devices;  // in device-list order
};

extern std::vector<driver_package> package_list;

// Rebuilds package_list from the device store, then loads the backup catalogue;
// returns the catalogue load's result.
int build_package_list();

// 0 and the first folder below store_root in `name` when `path` lies under
// store_root; -1 otherwise.
int store_folder_name(const wchar_t* path, std::wstring& name);

// The archive a package is backed up into, in `folder`: the first device's
// driver description made into a file name (the package folder's name when
// nothing of the description is left), with ".zip", or with "-2.zip" and so
// on when another package's backup has that name (free_archive_name).
// Empty when no name fits.
std::wstring backup_archive_name(const driver_package& package, const std::wstring& folder);
// The file name part alone (no folder, no ".zip"): made of characters of the
// ANSI code page, which the catalogue stores it in, so that it reads back as
// the same name.
std::wstring archive_base_name(const wchar_t* description);

// One backup run, owned by whoever starts it and read by the page's timer.
struct backup_job {
    std::atomic<int32_t> progress{0};  // grows by 100 per package
    std::vector<const device_record*> selected;  // one device of each chosen package
    // The backup folder when the run was started: the settings may name
    // another one before it ends.
    std::wstring backup_folder;
};

// Backs up the package of each selected device in order and records each in
// the catalogue. 0 when all were written and recorded, -1 at the first
// failure (packages already written stay written).
int backup_task(backup_job& job);
int backup_package(std::size_t index, backup_job& job);

// Writes every file under `folder` into a new zip archive at `archive`,
// named by its path inside the folder; `progress` rises by 100 over the
// files. An existing archive is replaced only once the new one is complete.
// 0, or -1 when the archive could not be written, or when the folder is
// missing, holds no file, or any of its folders or files cannot be read.
int write_archive(const std::wstring& folder, const std::wstring& archive,
                  std::atomic<int32_t>& progress);
