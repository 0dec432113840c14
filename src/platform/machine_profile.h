// A machine profile describes a PC exactly as the device enumeration and the
// system queries see it, so that any PC can be scanned anywhere: in tests, in
// the demo run, and when support staff replay a user's machine.
//
// When the environment variable QUILLMARK_MACHINE_PROFILE names a profile file,
// the setup classes, the device instances and (where the file gives them) the
// Windows version and the system-information strings come from it instead of
// the machine. The format is documented in profiles/README.md.
//
// Absent attributes and elements are std::nullopt: the platform reports that
// item as missing. Present but empty is an empty value.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct profile_class {
    std::wstring guid_text;                  // "{4D36E968-...}", braces included
    std::optional<std::wstring> name;        // absent: the name cannot be obtained
    std::optional<std::wstring> description; // absent: the description cannot be obtained
    int image = 0;                           // class image index; absent gives 0
    std::optional<std::wstring> icon;        // the program's own icon to show for the class
};

struct profile_value {
    std::wstring name;
    std::wstring data;
    DWORD type = REG_SZ;  // `type="REG_DWORD"` and the like make the value unreadable as text
};

struct profile_driver {
    std::vector<profile_value> values;  // the driver key's values
    std::optional<uint32_t> rank;       // absent: the rank cannot be read
};

struct profile_device {
    std::optional<std::wstring> instance_id;  // `id`: enumerator\device\instance
    bool present = true;
    std::optional<std::wstring> friendly;    // SPDRP_FRIENDLYNAME
    std::optional<std::wstring> desc;        // SPDRP_DEVICEDESC
    std::optional<std::wstring> enumerator;  // SPDRP_ENUMERATOR_NAME
    std::optional<std::wstring> class_name;  // SPDRP_CLASS
    std::optional<std::wstring> class_guid;  // SPDRP_CLASSGUID
    std::optional<std::vector<std::wstring>> hardware_ids;    // no element: property missing
    std::optional<std::vector<std::wstring>> compatible_ids;  // no element: property missing
    std::optional<profile_driver> driver;    // absent: no driver key
};

// Overrides what GetVersionExW, GetSystemInfo, IsWow64Process and
// GetSystemMetrics(SM_SERVERR2) report.
struct profile_windows {
    std::optional<DWORD> major, minor, build, platform;
    std::optional<BYTE> product_type;
    std::optional<std::wstring> service_pack;
    std::optional<int> server_r2;
    std::optional<WORD> arch;  // wProcessorArchitecture
    std::optional<bool> wow64;
};

// The system-information strings; memory is a byte count.
struct profile_system {
    std::optional<std::wstring> cpu, os, storage, display, sound, model;
    std::optional<int64_t> memory;
};

// A file of a driver package in the store; its content is made at build time.
struct profile_store_file {
    std::wstring name;  // relative to the package folder, backslashes between folders
    uint64_t size = 0;
};

// One package folder of the driver store. Its INF is named like the folder
// up to and including ".inf" (igdlh64.inf_amd64_neutral_... holds igdlh64.inf).
struct profile_store_package {
    std::wstring folder;
    std::wstring inf;  // the installed INF (oem12.inf) that is this package's copy
    std::vector<profile_store_file> files;  // besides the INF
};

// The driver store the machine keeps its installed packages in. Paths may
// hold %NAME% environment variables, expanded when the store is used.
struct profile_driver_store {
    std::wstring root;        // FileRepository (or DRVSTORE on Windows XP)
    std::wstring inf_folder;  // the Windows INF folder with the installed oemN.inf
    std::vector<profile_store_package> packages;
};

struct machine_profile {
    std::vector<profile_class> classes;   // in the order the class list returns them
    std::vector<profile_device> devices;  // in device-set order
    std::optional<profile_windows> windows;
    std::optional<profile_system> system;
    std::optional<profile_driver_store> driver_store;
};

// The INF a store package folder holds: the folder's name up to and including
// its first ".inf" (any case); empty when there is none.
std::wstring profile_store_inf(const std::wstring& folder);

// Reads and parses a profile file (UTF-8 XML). Returns false, with a reason in
// *error when given, when the file cannot be read or is not a valid profile.
bool load_machine_profile(const wchar_t* path, machine_profile& out, std::wstring* error = nullptr);
bool parse_machine_profile(const char* utf8_xml, machine_profile& out, std::wstring* error = nullptr);

// The profile named by QUILLMARK_MACHINE_PROFILE, read once per process.
enum class profile_status { none, loaded, broken };
struct active_profile {
    profile_status status = profile_status::none;
    machine_profile profile;  // filled when status is loaded
    std::wstring error;       // why it is broken: the file's path and the reason
    std::wstring reason;      // the reason alone (for the scan's error box)
};
const active_profile& machine_profile_in_use();

// Reads a GUID written as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits
// in either case). False for anything else.
bool guid_from_text(std::wstring_view text, GUID& out);
