// Process-wide values captured once during start-up on the UI thread and read
// everywhere afterwards.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

// Code of the most recent failure. Any thread may write it; it is read after a
// worker has ended. Codes: 3 no answer from any mirror, 4 download file cannot
// be opened, 5 download write failed, 7 HTTP client cannot be created,
// 10 version query failed, 12 power-status query failed, 16 class list failed,
// 17 device set failed, 19 device walk failed, 20 every mirror failed
// otherwise, 21 invalid answer document, 24 compression failed, 25 a download
// exceeded its expected size.
extern std::atomic<int32_t> last_error;

extern wchar_t module_path[MAX_PATH];  // the executable
extern wchar_t program_dir[MAX_PATH];  // its folder, always ending in a backslash
extern UINT oem_code_page;
extern SYSTEM_INFO system_info;          // as GetSystemInfo (or a machine profile) reports it
extern OSVERSIONINFOEXW windows_version; // as GetVersionExW (or a machine profile) reports it
