// System information: the classification of the running Windows,
// its code name for the update service, the OS version number, the 64-bit
// test, and the machine's descriptive strings collected through WMI, all
// computed once on the start-up thread and read-only afterwards.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class wmi_reader;
struct profile_system;

// 0 not supported, 2 XP (and anything newer than the table knows), 3/4 Server
// 2003 (R2), 5 Vista, 6 Server 2008, 7 Server 2008 R2, 8 Windows 7, 9 Windows 8.
// Set by the environment step of start-up.
extern int32_t os_kind;

// The class of a version as GetVersionExW reports it. `server_r2` is
// GetSystemMetrics(SM_SERVERR2); it matters only for NT 5.2.
int32_t derive_os_kind(const OSVERSIONINFOEXW& version, int server_r2);

// The update service's name for an os_kind on 32-bit or 64-bit Windows
// ("WIN7", "WIN764", "NOT_SUPPORTED", ...). Kinds outside the table (1 and
// above 9) are "NOT_SUPPORTED".
const char* os_code_name_for(int32_t kind, bool windows_64bit);
// The name for the current os_kind and bitness.
const char* os_code_name();

// Major version × 10 + minor version (61 for 6.1).
int32_t os_version_number(const OSVERSIONINFOEXW& version);
// The same for the Windows version captured at start-up.
int32_t os_version_number();

// True when the low four bits of the processor architecture are not zero or
// the program runs under WOW64.
bool is_64bit_windows(const SYSTEM_INFO& info, bool wow64);
// The test for the values captured at start-up (system_info) and
// IsWow64Process, looked up at run time (or the machine profile's answer),
// through the current system source.
bool is_64bit_windows();

// The machine's descriptive strings, each empty until filled.
struct machine_info_record {
    std::wstring cpu;      // Win32_Processor.Name
    std::wstring os;       // Win32_OperatingSystem: caption, build number, service pack
    std::wstring memory;   // the sum of Win32_PhysicalMemory.Capacity, by format_size
    std::wstring storage;  // Win32_DiskDrive.Model
    std::wstring display;  // Win32_DisplayConfiguration.Caption
    std::wstring sound;    // Win32_SoundDevice.Description
    std::wstring model;    // Win32_ComputerSystem.Model
    // Set by a collection that succeeded: until then the sidebars show no
    // rows, which would move as the values come in.
    bool collected = false;
};
extern machine_info_record machine_info;

// Fills `out` through WMI; then, when a machine profile with a `system`
// element is in use, each item it gives replaces its field (the memory byte
// count through format_size). 0 on success, -1 when WMI could not be set up
// (COM security, locator, connection, proxy blanket), leaving `out` as it
// was. Needs COM on the calling thread. Start-up collects into a record of
// its own on a thread, and publishes it into machine_info.
int collect_system_info(machine_info_record& out);
// The same over a given reader, with the `system` element to apply (or null).
int collect_system_info(wmi_reader& reader, const profile_system* profile,
                        machine_info_record& out);

// The OS line: the caption, then " Build " and the build number when it is
// not empty, then " " and the service pack when it is not empty.
std::wstring compose_os_line(const std::wstring& caption, const std::wstring& build_number,
                             const std::wstring& service_pack);

// A short text for a byte count: "%dB" (negative counts with their low 32
// bits), "%.2fK", "%.2fM" or "%.2fG" for counts above 2^10, 2^20, 2^30.
std::wstring format_size(int64_t bytes);
