#include "dpinst/system_win32.h"

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <vector>

#include "platform/dll_search.h"

namespace {

// newdev.dll's functions, looked up at run time: DiInstallDriverW is missing
// from the import library and from Windows XP, and newdev.dll need not be
// loaded at all when nothing is installed.
using di_install_driver_fn = BOOL(WINAPI*)(HWND, LPCWSTR, DWORD, PBOOL);
using update_driver_fn = BOOL(WINAPI*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

FARPROC newdev_function(const char* name) {
    static HMODULE newdev = load_system_library(L"newdev.dll");
    return newdev ? GetProcAddress(newdev, name) : nullptr;
}

// Calls a newdev function whose last argument is its restart flag.
template <class Fn, class... Args>
bool call_newdev(const char* name, bool& reboot, std::uint32_t& error, Args... args) {
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(newdev_function(name)));
    if (!fn) {
        error = ERROR_PROC_NOT_FOUND;
        return false;
    }
    BOOL need_reboot = FALSE;
    if (!fn(args..., &need_reboot)) {
        error = GetLastError();
        return false;
    }
    reboot = need_reboot != FALSE;
    return true;
}

// One INF line's field, grown to the size SetupAPI asks for.
bool string_field(INFCONTEXT& context, DWORD index, std::wstring& out) {
    std::vector<wchar_t> text(256, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD required = 0;
        if (SetupGetStringFieldW(&context, index, text.data(), static_cast<DWORD>(text.size()),
                                 &required)) {
            text.back() = L'\0';
            out = text.data();
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= text.size()) break;
        text.assign(required, L'\0');
    }
    out.clear();
    return false;
}

class setupapi_inf_file final : public inf_file {
public:
    explicit setupapi_inf_file(HINF inf) : inf_(inf) {}
    ~setupapi_inf_file() override { SetupCloseInfFile(inf_); }
    setupapi_inf_file(const setupapi_inf_file&) = delete;
    setupapi_inf_file& operator=(const setupapi_inf_file&) = delete;

    bool section(const std::wstring& name, std::vector<std::vector<std::wstring>>& lines) override {
        lines.clear();
        INFCONTEXT context = {};
        if (!SetupFindFirstLineW(inf_, name.c_str(), nullptr, &context)) return false;
        do {
            std::vector<std::wstring> fields(1);
            string_field(context, 0, fields[0]);  // the key; stays empty when there is none
            const DWORD count = SetupGetFieldCount(&context);
            for (DWORD i = 1; i <= count; ++i) {
                fields.emplace_back();
                string_field(context, i, fields.back());
            }
            lines.push_back(std::move(fields));
        } while (SetupFindNextLine(&context, &context));
        return true;
    }

private:
    HINF inf_;
};

// A REG_MULTI_SZ device property, appended string by string.
void multi_string_property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property,
                           std::vector<std::wstring>& out) {
    std::vector<BYTE> data(1024);
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD required = 0, type = 0;
        if (SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, data.data(),
                                              static_cast<DWORD>(data.size()), &required)) {
            if (type != REG_MULTI_SZ && type != REG_SZ) return;
            // Bounded by the buffer whether or not the data ends in two NULs.
            const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
            const std::size_t units = std::min<std::size_t>(required, data.size()) / sizeof(wchar_t);
            std::size_t start = 0;
            for (std::size_t i = 0; i <= units; ++i) {
                if (i == units || text[i] == L'\0') {
                    if (i > start) out.emplace_back(text + start, i - start);
                    start = i + 1;
                }
            }
            return;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= data.size()) return;
        data.assign(required, 0);
    }
}

// The InfPath value of the device's driver key: the file name of the INF its
// driver was installed from. Empty when it has no driver.
std::wstring driver_inf_name(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[MAX_PATH + 1] = {};
    DWORD type = 0, bytes = sizeof(name) - sizeof(wchar_t);  // room for a terminator
    LONG status = RegQueryValueExW(key, L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(name), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return {};
    name[std::min<std::size_t>(bytes / sizeof(wchar_t), MAX_PATH)] = L'\0';
    return name;
}

// The version Windows itself runs. GetVersionExW tells a program without
// the matching supportedOS entry in its manifest the version its manifest
// names at most (Windows 8.1 and 10 then read as 6.2); ntdll's
// RtlGetVersion always tells the truth. It is looked up at run time, and
// GetVersionExW (with the product type and suites, then without) stands in
// where it is missing.
bool read_windows_version(OSVERSIONINFOEXW& version) {
    using rtl_get_version_fn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto rtl_get_version = reinterpret_cast<rtl_get_version_fn>(
        reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
    version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (rtl_get_version && rtl_get_version(&version) == 0) return true;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return true;
    version = {};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
#pragma GCC diagnostic pop
}

}  // namespace

platform_target win32_driver_system::target() {
    platform_target t;
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64: t.architecture = L"amd64"; break;
        case PROCESSOR_ARCHITECTURE_IA64: t.architecture = L"ia64"; break;
#ifdef PROCESSOR_ARCHITECTURE_ARM64
        case PROCESSOR_ARCHITECTURE_ARM64: t.architecture = L"arm64"; break;
#endif
        case PROCESSOR_ARCHITECTURE_ARM: t.architecture = L"arm"; break;
        default: t.architecture = L"x86"; break;
    }
    OSVERSIONINFOEXW version = {};
    if (read_windows_version(version)) {
        t.major = version.dwMajorVersion;
        t.minor = version.dwMinorVersion;
        t.build = version.dwBuildNumber;
        t.product_type = version.wProductType;
        t.suite_mask = version.wSuiteMask;
    }
    return t;
}

bool win32_driver_system::list_folder(const std::wstring& folder, std::vector<folder_entry>& out) {
    out.clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(join_path(folder, L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        folder_entry e;
        e.name = std::move(name);
        e.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.reparse_point = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        out.push_back(std::move(e));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

std::unique_ptr<inf_file> win32_driver_system::open_inf(const std::wstring& path,
                                                        std::uint32_t& error) {
    UINT error_line = 0;
    HINF inf = SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, &error_line);
    if (inf == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return nullptr;
    }
    return std::make_unique<setupapi_inf_file>(inf);
}

bool win32_driver_system::present_devices(std::vector<present_device>& out, std::uint32_t& error) {
    out.clear();
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        present_device d;
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN + 1, nullptr)) {
            id[MAX_DEVICE_ID_LEN] = L'\0';
            d.instance_id = id;
        }
        multi_string_property(set, device, SPDRP_HARDWAREID, d.ids);
        multi_string_property(set, device, SPDRP_COMPATIBLEIDS, d.ids);
        d.inf_name = driver_inf_name(set, device);
        out.push_back(std::move(d));
    }
    SetupDiDestroyDeviceInfoList(set);
    return true;
}

bool win32_driver_system::copy_oem_inf(const std::wstring& inf, std::wstring& stored_name,
                                       std::uint32_t& error) {
    wchar_t destination[MAX_PATH] = {};
    DWORD required = 0;
    if (!SetupCopyOEMInfW(inf.c_str(), nullptr, SPOST_PATH, 0, destination, MAX_PATH, &required,
                          nullptr)) {
        error = GetLastError();
        return false;
    }
    destination[MAX_PATH - 1] = L'\0';
    stored_name = destination;
    return true;
}

bool win32_driver_system::install_driver(const std::wstring& inf, std::uint32_t flags, bool& reboot,
                                         std::uint32_t& error) {
    return call_newdev<di_install_driver_fn>("DiInstallDriverW", reboot, error,
                                             nullptr, inf.c_str(), flags);
}

bool win32_driver_system::update_driver(const std::wstring& hardware_id, const std::wstring& inf,
                                        std::uint32_t flags, bool& reboot, std::uint32_t& error) {
    return call_newdev<update_driver_fn>("UpdateDriverForPlugAndPlayDevicesW", reboot, error,
                                         nullptr, hardware_id.c_str(), inf.c_str(), flags);
}

std::wstring win32_driver_system::describe_error(std::uint32_t error) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = (n && text) ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == L'\r' || out.back() == L'\n' || out.back() == L' '))
        out.pop_back();
    return out;
}
