#include "devices/system_info.h"

int32_t os_kind = 0;

int32_t derive_os_kind(const OSVERSIONINFOEXW& version, int server_r2) {
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) return 0;
    const DWORD major = version.dwMajorVersion;
    const DWORD minor = version.dwMinorVersion;
    const bool workstation = version.wProductType == VER_NT_WORKSTATION;
    if (major <= 4) return 0;
    if (major == 5) {
        switch (minor) {
        case 0: return 0;                   // Windows 2000
        case 1: return 2;                   // XP
        case 2: return server_r2 ? 4 : 3;   // Server 2003 (R2), XP x64
        default: return 2;
        }
    }
    if (major == 6) {
        switch (minor) {
        case 0: return workstation ? 5 : 6;  // Vista, Server 2008
        case 1: return workstation ? 8 : 7;  // 7, Server 2008 R2
        case 2: return 9;                    // 8, Server 2012
        default: return 2;
        }
    }
    return 2;
}

// The WMI queries are not in place yet: there is nothing that can fail.
int collect_system_info() { return 0; }
