// The program's own window messages and timer ids.
#pragma once

#include <windows.h>

constexpr UINT UM_START_SCAN = WM_USER + 1;      // 1025: start a scan
constexpr UINT UM_SCAN_DONE = WM_USER + 2;       // 1026: wParam = devices enumerated
constexpr UINT UM_SCAN_CANCELLED = WM_USER + 4;  // 1028: scan failed or given up
constexpr UINT UM_BRING_TO_FRONT = WM_USER + 5;  // 1029: from a second instance; wParam 1 also scans
constexpr UINT UM_SYSTEM_INFO = WM_USER + 6;     // 1030: start-up collected the system information

// Title of the main window and name of the single-instance mutex.
constexpr const wchar_t* APP_NAME = L"Quillmark";
