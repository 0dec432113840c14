#include "platform/system_source.h"

#include "platform/machine_profile.h"
#include "platform/text.h"

namespace {

// The `windows` element of the machine profile in use, or null.
const profile_windows* windows_override() {
    const active_profile& active = machine_profile_in_use();
    if (active.status != profile_status::loaded || !active.profile.windows) return nullptr;
    return &*active.profile.windows;
}

class windows_system_source final : public system_source {
public:
    bool query_version(OSVERSIONINFOEXW& out, DWORD size_field) override {
        out = OSVERSIONINFOEXW{};
        out.dwOSVersionInfoSize = size_field;
        // GetVersionExW is deprecated in newer SDKs but is exactly the query
        // whose answer (manifest-dependent) the program classifies.
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&out))) return false;
        if (const profile_windows* w = windows_override()) {
            if (w->major) out.dwMajorVersion = *w->major;
            if (w->minor) out.dwMinorVersion = *w->minor;
            if (w->build) out.dwBuildNumber = *w->build;
            if (w->platform) out.dwPlatformId = *w->platform;
            if (w->service_pack) copy_text(out.szCSDVersion, *w->service_pack);
            // The short structure has no product type.
            if (w->product_type && size_field >= sizeof(OSVERSIONINFOEXW))
                out.wProductType = *w->product_type;
        }
        return true;
    }

    bool query_power_status(SYSTEM_POWER_STATUS& out) override {
        return GetSystemPowerStatus(&out) != FALSE;
    }

    void query_system_info(SYSTEM_INFO& out) override {
        GetSystemInfo(&out);
        if (const profile_windows* w = windows_override()) {
            if (w->arch) out.wProcessorArchitecture = *w->arch;
        }
    }

    bool is_wow64() override {
        if (const profile_windows* w = windows_override()) {
            if (w->wow64) return *w->wow64;
        }
        using is_wow64_fn = BOOL(WINAPI*)(HANDLE, PBOOL);
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        if (!kernel) return false;
        auto fn = reinterpret_cast<is_wow64_fn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
        if (!fn) return false;
        BOOL wow64 = FALSE;
        if (!fn(GetCurrentProcess(), &wow64)) return false;
        return wow64 != FALSE;
    }

    int server_r2_metric() override {
        if (const profile_windows* w = windows_override()) {
            if (w->server_r2) return *w->server_r2;
        }
        return GetSystemMetrics(SM_SERVERR2);
    }

    UINT oem_code_page() override { return GetOEMCP(); }
};

windows_system_source the_real_source;
system_source* installed_source = nullptr;

}  // namespace

system_source& real_system_source() { return the_real_source; }

system_source& current_system_source() {
    return installed_source ? *installed_source : the_real_source;
}

void set_system_source(system_source* source) { installed_source = source; }
