// What the platform supplies to the device enumeration: the setup classes, and
// per device instance its instance ID, its registry properties, its driver key
// values and the rank of its installed driver. The enumeration's rules live in
// devices/; a source only reports what the machine (or a machine profile) says.
//
// A source walks one device set at a time: open_device_set(), then
// select_device() by index, then the per-device calls for the selected device.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>

#include <cstdint>
#include <string>
#include <vector>

enum class walk_result { ok, end, error };

class device_source {
public:
    virtual ~device_source() = default;

    // The class image list for class icons; false when the platform has none.
    virtual bool open_class_image_list(SP_CLASSIMAGELIST_DATA& out) = 0;
    virtual void close_class_image_list(SP_CLASSIMAGELIST_DATA& list) = 0;

    // The class GUIDs in the platform's order. False when the list cannot be
    // built (GetLastError tells why, for a real platform).
    virtual bool class_guids(std::vector<GUID>& out) = 0;
    // False when the item cannot be obtained.
    virtual bool class_description(const GUID& guid, std::wstring& out) = 0;
    virtual bool class_name(const GUID& guid, std::wstring& out) = 0;
    // list is the store's image list, null when there is none.
    virtual bool class_image_index(const SP_CLASSIMAGELIST_DATA* list, const GUID& guid,
                                   int& index) = 0;
    // The name of the program's own icon chosen for the class ("display",
    // "usb", ...); false when the source names none (the machine never does).
    virtual bool class_icon_name(const GUID& /*guid*/, std::wstring& /*out*/) { return false; }

    // Opens the set of all classes' device instances: present ones only, or
    // also those not attached now. False when the set cannot be opened.
    virtual bool open_device_set(bool include_non_present) = 0;
    virtual void close_device_set() = 0;
    // Selects the instance at index: ok, end (no more instances) or error.
    virtual walk_result select_device(DWORD index) = 0;

    // The selected instance. Each returns false when the item is missing.
    virtual bool instance_id(std::wstring& out) = 0;
    // A REG_SZ property (SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC, ...), cut at its NUL.
    virtual bool string_property(DWORD property, std::wstring& out) = 0;
    // A REG_MULTI_SZ property as the platform stores it: entries each followed
    // by a NUL, then a NUL (possibly more data after that).
    virtual bool multi_string_property(DWORD property, std::wstring& out) = 0;

    // The selected instance's driver key. driver_value() reads a value that
    // must be REG_SZ; any other type counts as missing.
    virtual bool open_driver_key() = 0;
    virtual bool driver_value(const wchar_t* name, std::wstring& out) = 0;
    virtual void close_driver_key() = 0;

    // The rank of the installed driver, found through its INF file.
    virtual bool installed_driver_rank(const wchar_t* inf_path, uint32_t& rank) = 0;
};

// The source chosen by the environment: the machine profile named by
// QUILLMARK_MACHINE_PROFILE when set (a broken profile gives a source whose
// device set cannot be opened), else the machine's SetupAPI. One per process.
device_source& default_device_source();
