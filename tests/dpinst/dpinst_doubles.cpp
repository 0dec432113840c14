#include "dpinst_doubles.h"

#include <algorithm>

#include "dpinst/ascii.h"

bool nocase_less::operator()(const std::wstring& a, const std::wstring& b) const {
    return less_ignoring_case(a, b);
}

bool fake_inf::section(const std::wstring& name, std::vector<std::vector<std::wstring>>& lines) {
    auto it = sections_.find(name);
    if (it == sections_.end()) return false;
    lines = it->second;
    return true;
}

void fake_system::add_package(const std::wstring& folder, const std::wstring& name,
                              const std::wstring& id) {
    folders[folder].push_back({name, false, false});
    infs[join_path(folder, name)] = {
        {L"Manufacturer", {{L"%Maker%", L"Models", L"NTx86", L"NTamd64"}}},
        {L"Models.NTamd64", {{L"%Dev%", L"Install", id}}},
        {L"Models.NTx86", {{L"%Dev%", L"Install", id}}},
    };
}

bool fake_system::list_folder(const std::wstring& folder, std::vector<folder_entry>& out) {
    auto it = folders.find(folder);
    if (it == folders.end()) return false;
    out = it->second;
    return true;
}

std::unique_ptr<inf_file> fake_system::open_inf(const std::wstring& path, std::uint32_t& error) {
    auto it = infs.find(path);
    if (it == infs.end()) {
        error = 0xE0000100;  // ERROR_GENERAL_SYNTAX
        return nullptr;
    }
    return std::make_unique<fake_inf>(it->second);
}

bool fake_system::present_devices(std::vector<present_device>& out, std::uint32_t& error) {
    if (devices_fail) {
        error = 5;
        return false;
    }
    out = devices;
    return true;
}

bool fake_system::copy_oem_inf(const std::wstring& inf, std::wstring& stored_name,
                               std::uint32_t& error) {
    calls.push_back({L"copy", inf, L"", 0});
    auto it = copy_errors.find(inf);
    if (it != copy_errors.end()) {
        error = it->second;
        return false;
    }
    stored[inf] = L"oem" + std::to_wstring(calls.size()) + L".inf";
    stored_name = L"C:\\Windows\\INF\\" + stored[inf];
    return true;
}

bool fake_system::install_driver(const std::wstring& inf, std::uint32_t flags, bool& needs_reboot,
                                 std::uint32_t& error) {
    calls.push_back({L"install", inf, L"", flags});
    auto it = install_errors.find(inf);
    if (it != install_errors.end()) {
        error = it->second;
        return false;
    }
    needs_reboot = reboot;
    // The devices it is for now run its driver, as Windows would record it.
    if (kept_by_devices.count(inf)) return true;
    fake_inf file(infs[inf]);
    const std::vector<std::wstring> ids = model_ids(file, machine);
    for (auto& d : devices)
        if (!matching_ids(ids, {d}).empty()) d.inf_name = stored[inf];
    return true;
}

bool fake_system::update_driver(const std::wstring& hardware_id, const std::wstring& inf,
                                std::uint32_t flags, bool& needs_reboot, std::uint32_t& error) {
    calls.push_back({L"update", inf, hardware_id, flags});
    auto it = install_errors.find(hardware_id);
    if (it != install_errors.end()) {
        error = it->second;
        return false;
    }
    needs_reboot = reboot;
    return true;
}

bool collected_log::contains(const std::wstring& part) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&part](const std::wstring& l) { return l.find(part) != std::wstring::npos; });
}
