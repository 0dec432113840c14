// The classification of the running Windows and the machine's descriptive
// strings, computed once at start-up.
#pragma once

#include <windows.h>

#include <cstdint>

// 0 not supported, 2 XP (and anything newer than the table knows), 3/4 Server
// 2003 (R2), 5 Vista, 6 Server 2008, 7 Server 2008 R2, 8 Windows 7, 9 Windows 8.
extern int32_t os_kind;

// The class of a version as GetVersionExW reports it. `server_r2` is
// GetSystemMetrics(SM_SERVERR2); it matters only for NT 5.2.
int32_t derive_os_kind(const OSVERSIONINFOEXW& version, int server_r2);

// Fills the machine's descriptive strings through WMI. 0 on success, -1 when
// WMI cannot be set up.
int collect_system_info();
