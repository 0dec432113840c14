// Doubles of the INF reader, the system table and the log.
#pragma once

#include "dpinst/installer.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// Section names compare without regard to case, as SetupAPI's do.
struct nocase_less {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

class fake_inf final : public inf_file {
public:
    using sections = std::map<std::wstring, std::vector<std::vector<std::wstring>>, nocase_less>;
    fake_inf() = default;
    explicit fake_inf(sections s) : sections_(std::move(s)) {}
    void add(const std::wstring& section, std::vector<std::wstring> fields) {
        sections_[section].push_back(std::move(fields));
    }
    bool section(const std::wstring& name, std::vector<std::vector<std::wstring>>& lines) override;

private:
    sections sections_;
};

// A machine with folders, INF files, present devices and answers for the
// staging and installing calls; records every such call.
class fake_system final : public driver_system {
public:
    platform_target machine{L"amd64", 6, 1, 7601};
    std::map<std::wstring, std::vector<folder_entry>> folders;
    std::map<std::wstring, fake_inf::sections> infs;  // by full path
    std::vector<present_device> devices;
    bool devices_fail = false;
    std::map<std::wstring, std::uint32_t> copy_errors;     // by INF path
    std::map<std::wstring, std::uint32_t> install_errors;  // by INF path, or by id for XP
    bool reboot = false;
    // INFs that DiInstallDriverW stages while the devices keep their driver.
    std::set<std::wstring> kept_by_devices;
    std::map<std::wstring, std::wstring> stored;  // INF path -> its name in the INF folder

    struct call {
        std::wstring what;  // "copy", "install" or "update"
        std::wstring inf;
        std::wstring id;
        std::uint32_t flags = 0;
    };
    std::vector<call> calls;

    // A package: the INF of one device model under `folder`.
    void add_package(const std::wstring& folder, const std::wstring& name, const std::wstring& id);

    platform_target target() override { return machine; }
    bool list_folder(const std::wstring& folder, std::vector<folder_entry>& out) override;
    std::unique_ptr<inf_file> open_inf(const std::wstring& path, std::uint32_t& error) override;
    bool present_devices(std::vector<present_device>& out, std::uint32_t& error) override;
    bool copy_oem_inf(const std::wstring& inf, std::wstring& stored_name,
                      std::uint32_t& error) override;
    bool install_driver(const std::wstring& inf, std::uint32_t flags, bool& needs_reboot,
                        std::uint32_t& error) override;
    bool update_driver(const std::wstring& hardware_id, const std::wstring& inf, std::uint32_t flags,
                       bool& needs_reboot, std::uint32_t& error) override;
    std::wstring describe_error(std::uint32_t) override { return {}; }
};

class collected_log final : public log_sink {
public:
    std::vector<std::wstring> lines;
    void line(const std::wstring& text) override { lines.push_back(text); }
    bool contains(const std::wstring& part) const;
};
