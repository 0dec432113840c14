#include "platform/driver_store.h"

#include <shlwapi.h>

#include "platform/dll_search.h"
#include "platform/text.h"

namespace {

std::wstring expanded(const wchar_t* text) {
    wchar_t out[MAX_PATH] = {};
    DWORD length = ExpandEnvironmentStringsW(text, out, MAX_PATH);
    if (length == 0 || length > MAX_PATH) return {};
    return out;
}

// The profile store that profile_lookup answers from.
const profile_driver_store* lookup_store = nullptr;
std::wstring lookup_root;

BOOL WINAPI profile_lookup(PCWSTR inf_name, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR buffer, DWORD size,
                           PDWORD required) {
    if (!lookup_store || !inf_name) return FALSE;
    for (const profile_store_package& package : lookup_store->packages) {
        if (!equal_ignoring_case(package.inf.c_str(), inf_name)) continue;
        std::wstring path = lookup_root + L"\\" + package.folder + L"\\" + profile_store_inf(package.folder);
        if (required) *required = static_cast<DWORD>(path.size() + 1);
        if (!buffer || size <= path.size()) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        StrCpyNW(buffer, path.c_str(), static_cast<int>(size));
        return TRUE;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

}  // namespace

driver_store_places system_driver_store() {
    driver_store_places places;
    places.inf_folder = expanded(L"%SYSTEMROOT%\\inf");
    places.file_repository = expanded(L"%SYSTEMROOT%\\System32\\DriverStore\\FileRepository");
    places.drvstore = expanded(L"%SYSTEMROOT%\\system32\\DRVSTORE");
    // Kept loaded for the rest of the run: the lookup is called through it.
    if (HMODULE setupapi = load_system_library(L"setupapi.dll")) {
        places.lookup = reinterpret_cast<store_lookup_function>(
            reinterpret_cast<void*>(GetProcAddress(setupapi, "SetupGetInfDriverStoreLocationW")));
    }
    return places;
}

driver_store_places profile_driver_store_places(const profile_driver_store& store) {
    driver_store_places places;
    places.inf_folder = expanded(store.inf_folder.c_str());
    places.file_repository = expanded(store.root.c_str());
    while (!places.file_repository.empty() && places.file_repository.back() == L'\\')
        places.file_repository.pop_back();
    places.drvstore = places.file_repository;
    lookup_store = &store;
    lookup_root = places.file_repository;
    places.lookup = profile_lookup;
    return places;
}

driver_store_places driver_store_in_use() {
    const active_profile& active = machine_profile_in_use();
    if (active.status == profile_status::loaded && active.profile.driver_store)
        return profile_driver_store_places(*active.profile.driver_store);
    return system_driver_store();
}
