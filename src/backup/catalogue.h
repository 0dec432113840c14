// The backup catalogue: which driver archives exist in the backup folder,
// when each was last written and which devices each serves. It lives in
// memory as `backup_catalogue` and on disk as "backup.xml" in the program's
// folder.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "devices/device_store.h"

// One device whose driver package an archive holds. Copies only: a scan
// rebuilds the device store, so nothing here points into it.
struct backed_up_device {
    wchar_t id[200] = {};
    wchar_t desc[1025] = {};    // the device's display name when it was backed up
    wchar_t manu[129] = {};
    wchar_t name[260] = {};     // INF name in the Windows INF folder (oemN.inf)
    wchar_t version[32] = {};
    wchar_t date[11] = {};      // driver date, yyyy-mm-dd
    wchar_t backup_date[11] = {};  // the entry's date; filled on loading
    wchar_t archive[260] = {};     // the entry's file; filled on loading
};

struct backup_entry {
    char file[260] = {};  // archive name without folder, in the ANSI code page
    char date[11] = {};   // last backup into it, local time, yyyy-mm-dd
    std::vector<backed_up_device> devices;
};

// The catalogue, in file order with new entries appended. The backup worker
// changes it while the pages read it: hold backup_catalogue_lock for every
// access, or take a copy with catalogue_snapshot().
extern std::vector<backup_entry> backup_catalogue;
extern std::mutex backup_catalogue_lock;

std::vector<backup_entry> catalogue_snapshot();

// "backup.xml" in the program's folder.
std::wstring catalogue_path();

// Replaces the catalogue with every entry of "backup.xml", also those whose
// archive is not in this user's backup folder or whose device is not
// plugged in now: what the restore page shows is chosen by
// restorable_entries. 0 when the file was read; -1 when it is missing,
// unreadable, not well-formed, or has no root or no `driver` element (the
// catalogue is then left as it was).
int load_catalogue();

// Writes the whole catalogue to "backup.xml": into a new file beside it that
// then replaces the old one, so a failed write leaves the old catalogue as it
// was. 0 on success, -1 when nothing was replaced.
int save_catalogue();

// Records that the archive at `archive_path` now holds the drivers of
// `devices` (in package order), dated today: the entry of the same file name
// (compared as Windows compares file names) is updated, or a new one
// appended. The file is read again first, so that entries a failed load
// missed are kept; a file that is there but cannot be parsed is kept as
// "backup.xml.bad". Then saves; returns the save's result.
int record_backup(const wchar_t* archive_path, const std::vector<const device_record*>& devices);

// The entries the restore page lists: those whose archive is in
// `backup_folder` and whose first device is in `store`, each with its
// devices up to the first one that is not.
std::vector<backup_entry> restorable_entries(const std::vector<backup_entry>& entries,
                                             const wchar_t* backup_folder, device_store& store);

// The file name, in `folder`, of the archive for a package serving
// `devices`, made from `base` (a file name without extension): base.zip, or
// base-2.zip, base-3.zip ... when that name belongs to an entry of another
// package or to a file the catalogue does not list. The entry of the same
// package (one of its devices with the same id and INF name) keeps its
// name. Shortened so that the path and the catalogue's field hold it; empty
// when no name is left or no folder is given.
std::wstring free_archive_name(const std::wstring& base, const std::wstring& folder,
                               const std::vector<device_record*>& devices);

// The document's text as written to disk before the line-end conversion.
std::string print_catalogue(const std::vector<backup_entry>& entries);

// Reads the entries of a catalogue document. An entry whose file is not a
// plain file name (a folder, a drive, "..", a device name) is left out, as
// is one without a date or a complete first device. False for the cases
// load_catalogue answers -1 for; `entries` is then untouched.
bool read_catalogue(std::string_view text, std::vector<backup_entry>& entries);
