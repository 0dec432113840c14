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

// One device whose driver package an archive holds.
struct backed_up_device {
    const device_record* device = nullptr;  // the present device with this id, not owned
    wchar_t id[200] = {};
    // The driver's description just after a backup; the device's display
    // name once the catalogue has been read back from the file.
    wchar_t desc[1025] = {};
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

// Replaces the catalogue with the entries of "backup.xml" whose archive exists
// in the configured backup folder and whose first device is present in the
// device store. 0 when the file was read; -1 when it is missing, unreadable,
// not well-formed, or has no root or no `driver` element (the catalogue is
// then left as it was).
int load_catalogue();

// Writes the whole catalogue to "backup.xml": into a new file beside it that
// then replaces the old one, so a failed write leaves the old catalogue as it
// was. 0 on success, -1 when nothing was replaced.
int save_catalogue();

// Records that the archive at `archive_path` now holds the drivers of
// `devices` (in package order), dated today: the entry of the same file name
// is updated, or a new one appended. Then saves; returns the save's result.
int record_backup(const wchar_t* archive_path, const std::vector<const device_record*>& devices);

// The document's text as written to disk before the line-end conversion.
std::string print_catalogue(const std::vector<backup_entry>& entries);

// Reads the entries of a catalogue document: archives are looked for in
// `backup_folder`, devices in `store`. False for the cases load_catalogue
// answers -1 for; `entries` is then untouched.
bool read_catalogue(std::string_view text, const wchar_t* backup_folder, device_store& store,
                    std::vector<backup_entry>& entries);
