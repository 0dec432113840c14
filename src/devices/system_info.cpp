#include "devices/system_info.h"

#include <cwchar>
#include <memory>
#include <optional>

#include "app/globals.h"
#include "platform/machine_profile.h"
#include "platform/system_source.h"
#include "platform/wmi.h"

int32_t os_kind = 0;
machine_info_record machine_info;

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

const char* os_code_name_for(int32_t kind, bool windows_64bit) {
    switch (kind) {
    case 2: return windows_64bit ? "WINXP64" : "WINXP";
    case 3:
    case 4: return windows_64bit ? "WIN200364" : "WIN2003";
    case 5: return windows_64bit ? "VISTA64" : "VISTA";
    case 6:
    case 7: return windows_64bit ? "WIN200864" : "WIN2008";
    case 8: return windows_64bit ? "WIN764" : "WIN7";
    case 9: return windows_64bit ? "WIN864" : "WIN8";
    default: return "NOT_SUPPORTED";
    }
}

const char* os_code_name() { return os_code_name_for(os_kind, is_64bit_windows()); }

int32_t os_version_number(const OSVERSIONINFOEXW& version) {
    return static_cast<int32_t>(version.dwMajorVersion * 10 + version.dwMinorVersion);
}

int32_t os_version_number() { return os_version_number(windows_version); }

bool is_64bit_windows(const SYSTEM_INFO& info, bool wow64) {
    return (info.wProcessorArchitecture & 0xF) != 0 || wow64;
}

bool is_64bit_windows() {
    return is_64bit_windows(system_info, current_system_source().is_wow64());
}

std::wstring compose_os_line(const std::wstring& caption, const std::wstring& build_number,
                             const std::wstring& service_pack) {
    std::wstring line = caption;
    if (!build_number.empty()) line += L" Build " + build_number;
    if (!service_pack.empty()) line += L" " + service_pack;
    return line;
}

std::wstring format_size(int64_t bytes) {
    constexpr int64_t K = 1024, M = K * 1024, G = M * 1024;
    wchar_t text[64];
    if (bytes < 0) {
        swprintf(text, 64, L"%dB", static_cast<int>(static_cast<uint32_t>(bytes)));
    } else if (bytes > G) {
        swprintf(text, 64, L"%.2fG", static_cast<double>(bytes) / static_cast<double>(G));
    } else if (bytes > M) {
        swprintf(text, 64, L"%.2fM", static_cast<double>(bytes) / static_cast<double>(M));
    } else if (bytes > K) {
        swprintf(text, 64, L"%.2fK", static_cast<double>(bytes) / static_cast<double>(K));
    } else {
        swprintf(text, 64, L"%dB", static_cast<int>(bytes));
    }
    return text;
}

namespace {

// The first-value rule: the first object whose property has a value gives
// the field; nullopt when no object has one (or the query failed).
std::optional<std::wstring> first_value(wmi_reader& reader, const wchar_t* wql,
                                        const wchar_t* property) {
    std::optional<std::wstring> found;
    reader.for_each_value(wql, property, [&](const std::optional<std::wstring>& value) {
        if (!value) return true;  // Get failed or VT_NULL: the next object
        found = *value;
        return false;
    });
    return found;
}

std::wstring first_text(wmi_reader& reader, const wchar_t* wql, const wchar_t* property) {
    return first_value(reader, wql, property).value_or(std::wstring());
}

std::wstring memory_text(wmi_reader& reader) {
    int64_t total = 0;
    bool ran = reader.for_each_value(L"SELECT * FROM Win32_PhysicalMemory", L"Capacity",
                                     [&](const std::optional<std::wstring>& value) {
                                         if (value) total += _wcstoi64(value->c_str(), nullptr, 10);
                                         return true;
                                     });
    if (!ran) return {};  // a failed query leaves the field empty
    return format_size(total);
}

std::wstring os_text(wmi_reader& reader) {
    const wchar_t* query = L"SELECT * FROM Win32_OperatingSystem";
    std::optional<std::wstring> caption = first_value(reader, query, L"Caption");
    if (!caption) return {};  // no caption: no build number or service pack either
    // Two statements: the build number is asked first.
    std::wstring build = first_text(reader, query, L"BuildNumber");
    std::wstring service_pack = first_text(reader, query, L"CSDVersion");
    return compose_os_line(*caption, build, service_pack);
}

// The items a machine profile's `system` element gives replace the fields.
void apply_profile(const profile_system& s, machine_info_record& info) {
    if (s.cpu) info.cpu = *s.cpu;
    if (s.os) info.os = *s.os;
    if (s.memory) info.memory = format_size(*s.memory);
    if (s.storage) info.storage = *s.storage;
    if (s.display) info.display = *s.display;
    if (s.sound) info.sound = *s.sound;
    if (s.model) info.model = *s.model;
}

}  // namespace

int collect_system_info(wmi_reader& reader, const profile_system* profile,
                        machine_info_record& out) {
    if (FAILED(reader.connect())) return -1;

    // What the profile gives is not asked: its item would replace the answer
    // anyway, and some queries are slow (Win32_SoundDevice wakes the audio
    // drivers, over half a second under Wine).
    const profile_system none;
    const profile_system& given = profile ? *profile : none;
    machine_info_record info;
    if (!given.cpu) info.cpu = first_text(reader, L"SELECT * FROM Win32_Processor", L"Name");
    if (!given.os) info.os = os_text(reader);
    if (!given.memory) info.memory = memory_text(reader);
    if (!given.storage)
        info.storage = first_text(reader, L"SELECT * FROM Win32_DiskDrive", L"Model");
    if (!given.display)
        info.display = first_text(reader, L"SELECT * FROM Win32_DisplayConfiguration", L"Caption");
    if (!given.sound)
        info.sound = first_text(reader, L"SELECT * FROM Win32_SoundDevice", L"Description");
    if (!given.model)
        info.model = first_text(reader, L"SELECT * FROM Win32_ComputerSystem", L"Model");
    apply_profile(given, info);
    info.collected = true;
    out = std::move(info);
    return 0;
}

int collect_system_info(machine_info_record& out) {
    const active_profile& active = machine_profile_in_use();
    const profile_system* profile = nullptr;
    if (active.status == profile_status::loaded && active.profile.system)
        profile = &*active.profile.system;
    std::unique_ptr<wmi_reader> reader = make_wmi_reader();
    return collect_system_info(*reader, profile, out);
}
