// The device enumeration: which setup classes and device instances the program
// keeps, and what it reads for them. Every rule is here; the device source only
// reports what the platform (or a machine profile) supplies.
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <climits>
#include <cwchar>

#include "app/globals.h"
#include "devices/device_store.h"
#include "platform/device_source.h"
#include "platform/text.h"

namespace {

// The GUID as StringFromGUID2 writes it: braces, upper-case hex digits.
void format_guid(const GUID& g, wchar_t (&out)[39]) {
    swprintf(out, 39, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
             g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

// Builds the class list: every class in the platform's order, without those
// whose name cannot be obtained, sorted by description.
bool build_class_list(device_store& store, device_source& source) {
    std::vector<GUID> guids;
    if (!source.class_guids(guids)) {
        last_error = 16;
        return false;
    }

    const SP_CLASSIMAGELIST_DATA* images =
        store.has_class_image_list ? &store.class_image_list : nullptr;
    std::vector<device_class> classes(guids.size());
    std::vector<int> image_indexes(guids.size(), -1);  // -1: the platform gave none
    for (std::size_t i = 0; i < guids.size(); ++i) {
        device_class& entry = classes[i];
        std::wstring text;
        if (source.class_description(guids[i], text)) copy_text(entry.description, text);
        entry.guid = guids[i];
        format_guid(guids[i], entry.guid_text);
        int index = 0;
        if (source.class_image_index(images, guids[i], index)) image_indexes[i] = index;
    }

    store.classes.reserve(classes.size());
    for (std::size_t i = 0; i < classes.size(); ++i) {
        device_class& entry = classes[i];
        std::wstring name;
        if (!source.class_name(entry.guid, name)) continue;  // unnamed: not listed
        copy_text(entry.name, name);  // at most 31 characters
        std::wstring icon;
        bool named = source.class_icon_name(entry.guid, icon);
        assign_class_image(store, entry, image_indexes[i] != -1, image_indexes[i],
                           named ? icon.c_str() : nullptr);
        store.classes.push_back(entry);
    }

    // Ordinal order of UTF-16 code units (wchar_t is unsigned 16-bit here).
    std::stable_sort(store.classes.begin(), store.classes.end(),
                     [](const device_class& a, const device_class& b) {
                         return std::wcscmp(a.description, b.description) < 0;
                     });
    return true;
}

const device_class* find_class(const device_store& store, std::wstring_view name) {
    for (const device_class& entry : store.classes) {
        if (std::wstring_view(entry.name) == name) return &entry;
    }
    return nullptr;
}

// The stored form of a multi-string property: its entries up to the first
// empty one, each followed by a NUL, then a final NUL.
void store_multi_string(std::wstring_view raw, std::wstring& list) {
    std::size_t end = 0;  // past the NUL of the last entry kept so far
    while (end < raw.size() && raw[end] != L'\0') {
        const std::size_t nul = raw.find(L'\0', end);
        if (nul == std::wstring_view::npos) {  // an unterminated last entry
            list.assign(raw);
            list.push_back(L'\0');
            list.push_back(L'\0');
            return;
        }
        end = nul + 1;
    }
    list.assign(raw.substr(0, end));
    list.push_back(L'\0');
}

// Reads the identity of the selected instance; false drops it. `text` is
// room for the values, kept from instance to instance.
bool read_identity(device_source& source, device_record& record, std::wstring& text) {
    text.clear();
    if (!source.instance_id(text)) return false;
    // enumerator\device\instance: the device ID is everything before the last
    // backslash; with no backslash, or only one at the start, there is none.
    std::wstring_view id(text.c_str());
    std::size_t cut = id.rfind(L'\\');
    if (cut == std::wstring_view::npos || cut == 0) return false;
    copy_text(record.device_id, id.substr(0, cut));

    text.clear();
    if (!source.string_property(SPDRP_FRIENDLYNAME, text)) {
        text.clear();
        if (!source.string_property(SPDRP_DEVICEDESC, text)) return false;
    }
    copy_text(record.display_name, text);

    text.clear();
    if (!source.string_property(SPDRP_ENUMERATOR_NAME, text)) return false;
    copy_text(record.enumerator, text);

    text.clear();
    if (source.string_property(SPDRP_CLASS, text)) copy_text(record.class_name, text);
    text.clear();
    if (source.string_property(SPDRP_CLASSGUID, text)) copy_text(record.class_guid, text);

    text.clear();
    if (!source.multi_string_property(SPDRP_HARDWAREID, text)) return false;
    store_multi_string(text, record.hardware_ids);
    text.clear();
    if (!source.multi_string_property(SPDRP_COMPATIBLEIDS, text)) return false;
    store_multi_string(text, record.compatible_ids);
    return true;
}

template <std::size_t N>
bool read_driver_value(device_source& source, const wchar_t* name, wchar_t (&field)[N],
                       std::wstring& text) {
    text.clear();
    if (!source.driver_value(name, text)) return false;
    copy_text(field, std::wstring_view(text.c_str()));
    return true;
}

// Reads the driver key's values into the record, in a fixed order, stopping at
// the first missing one; the values read before it stay in the record. True
// when the five required values were all read.
bool read_driver_key(device_source& source, device_record& record, std::wstring& text) {
    if (!source.open_driver_key()) return false;
    bool complete = read_driver_value(source, L"DriverVersion", record.DriverVersion, text) &&
                    read_driver_value(source, L"InfPath", record.InfPath, text) &&
                    read_driver_value(source, L"DriverDate", record.DriverDate, text);
    if (complete) rewrite_driver_date(record.DriverDate);
    complete = complete && read_driver_value(source, L"DriverDesc", record.DriverDesc, text) &&
               read_driver_value(source, L"MatchingDeviceId", record.MatchingDeviceId, text);
    if (complete) read_driver_value(source, L"ProviderName", record.ProviderName, text);  // optional
    source.close_driver_key();
    return complete;
}

bool same_text_ignoring_case(const wchar_t* a, const wchar_t* b) { return StrCmpIW(a, b) == 0; }

// Devices with an installed driver that the service has nothing for: legacy
// drivers are dropped earlier; here ISA plug-and-play and root-enumerated
// devices, disk drives, and ACPI system devices and processors.
bool keep_by_kind(const device_record& record) {
    if (!record.has_driver) return true;
    if (same_text_ignoring_case(record.enumerator, L"ISAPNP") ||
        same_text_ignoring_case(record.enumerator, L"ROOT") ||
        same_text_ignoring_case(record.class_name, L"DiskDrive"))
        return false;
    if (same_text_ignoring_case(record.enumerator, L"ACPI") &&
        (same_text_ignoring_case(record.class_name, L"System") ||
         same_text_ignoring_case(record.class_name, L"Processor")))
        return false;
    return true;
}

// What the walk keeps from instance to instance: the kept devices by id
// (later instances fold into them) and room for the values read.
struct walk_state {
    device_index kept;
    std::wstring text;
};

// Looks at the selected instance and keeps it at the end of the store (and
// in the index) or drops it. The record is filled where it is kept, rather
// than filled elsewhere and copied there: it is large.
void take_instance(device_store& store, walk_state& walk, scan_progress& progress,
                   device_source& source) {
    struct drop_unless_kept {
        device_store& store;
        bool kept = false;
        ~drop_unless_kept() {
            if (!kept) store.devices.pop_back();
        }
    };
    store.devices.emplace_back();
    drop_unless_kept keeper{store};
    device_record& record = store.devices.back();
    record.instance_count = 1;
    if (!read_identity(source, record, walk.text)) return;

    if (device_record* earlier = walk.kept.find(store, record.device_id)) {
        if (earlier->instance_count < INT32_MAX) ++earlier->instance_count;
        return;
    }

    bool has_class = record.class_name[0] != L'\0' && record.class_guid[0] != L'\0';
    if (has_class) {
        if (std::wcscmp(record.class_name, L"LegacyDriver") == 0) return;
        record.has_driver = read_driver_key(source, record, walk.text) ? 1 : 0;
        if (record.has_driver) {
            uint32_t rank = 0;
            if (source.installed_driver_rank(record.InfPath, rank)) record.driver_rank = rank;
        }
    }

    record.class_info = find_class(store, has_class ? record.class_name : L"Unknown");
    if (!record.class_info) return;
    if (!keep_by_kind(record)) return;

    keeper.kept = true;
    walk.kept.add(store, store.devices.size() - 1);
    set_current_name(progress, record.display_name);
}

// Closes the source's device set on every way out of the walk.
struct device_set_closer {
    device_source& source;
    ~device_set_closer() { source.close_device_set(); }
};

}  // namespace

void rewrite_driver_date(wchar_t (&date)[11]) {
    // Three unsigned decimal numbers joined by '-', nothing else. At most nine
    // digits each, so the arithmetic cannot overflow.
    unsigned long part[3] = {};
    const wchar_t* p = date;
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            if (*p != L'-') return;
            ++p;
        }
        int digits = 0;
        while (*p >= L'0' && *p <= L'9') {
            if (++digits > 9) return;
            part[k] = part[k] * 10 + static_cast<unsigned long>(*p - L'0');
            ++p;
        }
        if (digits == 0) return;
    }
    if (*p != L'\0') return;

    wchar_t rewritten[40];
    int length = swprintf(rewritten, 40, L"%lu-%02lu-%02lu", part[2], part[0], part[1]);
    // A year of five digits or more would not fit; a cut date would be wrong.
    if (length < 0 || length >= static_cast<int>(sizeof(date) / sizeof(date[0]))) return;
    copy_text(date, rewritten);
}

bool enumerate_devices(device_store& store, scan_progress& progress, device_source& source) {
    // The previous records go with everything they own; the lists keep their
    // blocks for the new ones (a scan of the same machine needs as much
    // again), so that the memory is not handed back and asked for anew.
    store.devices.clear();
    store.classes.clear();
    progress.total = 0;
    progress.index = 0;
    set_current_name(progress, {});

    if (!build_class_list(store, source)) return false;

    if (!source.open_device_set(progress.include_non_present != 0)) {
        last_error = 17;
        return false;
    }
    device_set_closer closer{source};

    int32_t total = 0;
    while (total < INT32_MAX && source.select_device(static_cast<DWORD>(total)) == walk_result::ok)
        ++total;
    progress.total = total;

    // Room for every instance at once: a record is large, and growing the
    // list step by step would copy the records kept so far again and again
    // (and hold the old block and the new one at the same time). Without
    // that much memory the list grows as it goes.
    try {
        store.devices.reserve(static_cast<std::size_t>(total));
    } catch (const std::exception&) {
    }
    walk_state walk;
    for (DWORD index = 0;; ++index) {
        walk_result step = source.select_device(index);
        if (step == walk_result::end) return true;
        if (step == walk_result::error) {
            last_error = 19;
            return false;
        }
        take_instance(store, walk, progress, source);
        progress.index = index < INT32_MAX ? static_cast<int32_t>(index + 1) : INT32_MAX;
    }
}

bool enumerate_devices(device_store& store, scan_progress& progress) {
    return enumerate_devices(store, progress, default_device_source());
}
