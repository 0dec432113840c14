// The program's picture of the machine: the setup classes and the devices that
// matter for driver updates, each with the identifiers the update service needs
// and the data of the driver installed now. A scan rebuilds it from scratch.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "devices/category.h"
#include "service/driver_offer.h"

class device_source;

// One setup class of the machine.
struct device_class {
    GUID guid = {};
    wchar_t guid_text[39] = {};      // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    wchar_t description[1025] = {};  // empty when unavailable
    wchar_t name[32] = {};           // at most 31 characters
    HIMAGELIST image_list = nullptr; // the store's class image list (may be null)
    int32_t image_index = 0;         // 0 when unavailable
};

// One kept device. Text fields are NUL-terminated and cut to capacity - 1.
//
// The identifier lists are multi-strings: each entry followed by a NUL, then
// one more NUL (so c_str() is a double-NUL-terminated list, as the platform
// gives it). An empty std::wstring means the record has no list at all; the
// enumeration never keeps such a device. Use multi_string_entries() to walk one.
//
// A record owns its lists and its offers; best_offer and latest_offer point
// into its own offers, so a record can be moved (the pointers stay valid) but
// not copied.
struct device_record {
    wchar_t device_id[200] = {};      // instance ID without its last "\..." part
    wchar_t class_name[32] = {};      // may be empty
    wchar_t class_guid[39] = {};      // may be empty
    wchar_t display_name[1025] = {};  // friendly name, else device description
    wchar_t enumerator[129] = {};
    std::wstring hardware_ids;
    std::wstring compatible_ids;
    int32_t instance_count = 0;       // instances folded into this record; 1 for one
    wchar_t InfPath[260] = {};
    wchar_t DriverDate[11] = {};      // yyyy-mm-dd when the driver key held m-d-yyyy
    wchar_t DriverDesc[1025] = {};
    wchar_t DriverVersion[65] = {};
    wchar_t ProviderName[129] = {};   // may be empty
    wchar_t MatchingDeviceId[200] = {};
    uint32_t driver_rank = 0;         // 0 when not obtained
    std::vector<driver_offer> offers; // filled from the update service's answer
    uint32_t offer_count = 0;         // offers.size()
    uint8_t has_driver = 0;           // the five required driver values were read
    const device_class* class_info = nullptr;  // into the store's class list of the same scan
    const driver_offer* best_offer = nullptr;    // into offers
    const driver_offer* latest_offer = nullptr;  // into offers
    uint8_t best_is_update = 0;
    uint8_t latest_is_update = 0;

    device_record() = default;
    device_record(device_record&&) = default;
    device_record& operator=(device_record&&) = default;
    device_record(const device_record&) = delete;
    device_record& operator=(const device_record&) = delete;
};

// The process-wide store. The class list does not change between the class
// step of a scan and the start of the next scan, so class_info pointers stay
// valid that long; device records keep their position just as long.
struct device_store {
    std::vector<device_record> devices;  // kept devices, in enumeration order
    std::vector<device_class> classes;   // setup classes, sorted by description
    SP_CLASSIMAGELIST_DATA class_image_list = {};
    bool has_class_image_list = false;   // false when the platform gave none
    // The program's own class icons (class_icon order); null without them.
    HIMAGELIST own_class_images = nullptr;
    // Where each own icon was added to the platform's list; -1 not yet.
    int own_icons_in_class_list[static_cast<int>(class_icon::count)];

    device_store() {
        for (int& slot : own_icons_in_class_list) slot = -1;
    }
};

// Creates the store with empty lists, obtains the class image list from the
// source (no image list when the platform cannot give one) and loads the
// program's own class icons from `icons` (the program's module when not
// given). The overload without a source uses the one chosen by the
// environment. Never returns null except when memory runs out.
device_store* create_device_store(device_source& source, HINSTANCE icons = nullptr);
device_store* create_device_store();
// Empties both lists and frees every record's owned parts.
void clear_device_store(device_store& store);
// Destroys both class image lists, empties the store and frees it. Null is fine.
void release_device_store(device_store* store, device_source& source);
void release_device_store(device_store* store);

// The first record, or null for an empty list, and the number of records.
device_record* first_device(device_store& store);
int32_t device_count(const device_store& store);
// The first record whose device_id equals id exactly (code units), or null.
// Linear in the store: for many lookups use a device_index.
device_record* find_device(device_store& store, std::wstring_view id);

// The store's records by device_id, for many lookups: find() gives what
// find_device gives (the first record in store order with that id) in
// constant time. It holds positions and reads the ids from the store, so it
// stays right while records are appended (and the list moves), as long as
// each one appended is also added here.
class device_index {
public:
    device_index() = default;
    // Indexes every record of the store.
    explicit device_index(const device_store& store);
    // Notes the record at `position` unless an earlier one has its id.
    void add(const device_store& store, std::size_t position);
    device_record* find(device_store& store, std::wstring_view id) const;

private:
    // The slot of id: where it is, or the empty slot where it would go.
    std::size_t slot_of(const device_store& store, std::wstring_view id) const;
    void grow(const device_store& store);

    std::vector<std::size_t> slots_;  // position + 1 of a record; 0 for an empty slot
    std::size_t used_ = 0;
};

// The class image list the list and tree views draw class icons from: the
// platform's, else the program's own; null when there is neither.
HIMAGELIST class_image_list(const device_store& store);

// The entries of a multi-string stored as above, up to the first empty entry.
std::vector<std::wstring_view> multi_string_entries(const std::wstring& list);
// Builds the stored form from entries (an empty entry ends the list there).
std::wstring make_multi_string(const std::vector<std::wstring>& entries);

// The progress of one enumeration, shared between the scan worker (writer) and
// the UI thread (reader, on a timer).
struct scan_progress {
    std::atomic<int32_t> include_non_present{0};  // set before the worker starts
    std::atomic<int32_t> total{0};  // instances in the device set, written once before the walk
    std::atomic<int32_t> index{0};  // instances processed so far

    // The display name of the most recently kept device. The worker copies it in
    // and the UI copies it out, both under name_lock, so a reader always gets a
    // whole, terminated name, never a torn one. The lock is held only for the
    // copy of at most 1025 characters, so neither side waits noticeably. Use
    // set_current_name() and current_name(), not these members.
    mutable std::mutex name_lock;
    wchar_t name[1025] = {};
};

// Zeroes the counters and the name and sets the include-non-present flag.
void reset_scan_progress(scan_progress& progress, bool include_non_present);
void set_current_name(scan_progress& progress, std::wstring_view name);
std::wstring current_name(const scan_progress& progress);

// Rebuilds the store from the source: class list, then the kept devices.
// Returns false on failure with last_error 16 (class list), 17 (device set) or
// 19 (device walk); on 19 the records kept so far stay in the store. The
// overload without a source uses the one chosen by the environment
// (QUILLMARK_MACHINE_PROFILE, else SetupAPI).
bool enumerate_devices(device_store& store, scan_progress& progress, device_source& source);
bool enumerate_devices(device_store& store, scan_progress& progress);

// Rewrites a driver date from month-day-year ("6-21-2006") to year-month-day
// ("2006-06-21"). A text that is not exactly three unsigned decimal numbers
// joined by '-', or whose rewritten form would not fit the field, is left as
// it is.
void rewrite_driver_date(wchar_t (&date)[11]);
