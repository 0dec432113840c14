// Where the machine keeps its installed driver packages: the Windows INF
// folder, the driver store's folders, and on Windows Vista and later the
// system's lookup from an installed INF name to its package in the store.
// A machine profile that describes a driver store takes the system's place.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <string>

#include "platform/machine_profile.h"

// The signature of SetupGetInfDriverStoreLocationW: INF file name, alternate
// platform, locale name, return buffer, its size in units, required size.
using store_lookup_function = BOOL(WINAPI*)(PCWSTR, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR, DWORD,
                                            PDWORD);

struct driver_store_places {
    std::wstring inf_folder;       // %SYSTEMROOT%\inf
    std::wstring file_repository;  // %SYSTEMROOT%\System32\DriverStore\FileRepository
    std::wstring drvstore;         // %SYSTEMROOT%\system32\DRVSTORE (Windows XP)
    store_lookup_function lookup = nullptr;  // null when it cannot be obtained
};

// The system's places and SetupGetInfDriverStoreLocationW from Setupapi.dll.
driver_store_places system_driver_store();

// The places of a profile's store (its root stands for both store folders,
// environment variables expanded) and a lookup that answers from its
// packages. The store must outlive the lookup's use.
driver_store_places profile_driver_store_places(const profile_driver_store& store);

// The profile's store when the machine profile in use describes one, else
// the system's.
driver_store_places driver_store_in_use();
