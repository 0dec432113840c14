// Where the program's picture of the running Windows comes from: the version,
// the processor architecture, WOW64, the Server 2003 R2 flag, the power status
// and the OEM code page.
//
// The real source asks Windows; when a machine profile is in use and carries a
// `windows` element, the items it gives replace what Windows reports. Tests
// install their own source to force answers and failures.
#pragma once

#include <windows.h>

class system_source {
public:
    virtual ~system_source() = default;

    // GetVersionExW with the structure's size field set to `size_field`
    // (sizeof(OSVERSIONINFOEXW) or sizeof(OSVERSIONINFOW)). On success the
    // structure is filled and true is returned; on failure the reason is in
    // GetLastError and `out` is unspecified.
    virtual bool query_version(OSVERSIONINFOEXW& out, DWORD size_field) = 0;
    virtual bool query_power_status(SYSTEM_POWER_STATUS& out) = 0;
    virtual void query_system_info(SYSTEM_INFO& out) = 0;
    // IsWow64Process for this process, looked up at run time; false when the
    // function does not exist or fails.
    virtual bool is_wow64() = 0;
    virtual int server_r2_metric() = 0;  // GetSystemMetrics(SM_SERVERR2)
    virtual UINT oem_code_page() = 0;
};

// The source in effect: the one installed by set_system_source, else the
// real one (with the machine profile's overrides).
system_source& current_system_source();
// Installs `source` for the rest of the process, or restores the real one
// when null. Not thread-safe: called before any worker starts.
void set_system_source(system_source* source);
// The source that asks Windows, overridden by the machine profile in use.
system_source& real_system_source();
