// The real driver_system: SetupAPI, newdev and the file system.
#pragma once

#include "dpinst/installer.h"

class win32_driver_system final : public driver_system {
public:
    platform_target target() override;
    bool list_folder(const std::wstring& folder, std::vector<folder_entry>& out) override;
    std::unique_ptr<inf_file> open_inf(const std::wstring& path, std::uint32_t& error) override;
    bool present_devices(std::vector<present_device>& out, std::uint32_t& error) override;
    bool copy_oem_inf(const std::wstring& inf, std::wstring& stored_name,
                      std::uint32_t& error) override;
    bool install_driver(const std::wstring& inf, std::uint32_t flags, bool& reboot,
                        std::uint32_t& error) override;
    bool update_driver(const std::wstring& hardware_id, const std::wstring& inf,
                       std::uint32_t flags, bool& reboot, std::uint32_t& error) override;
    std::wstring describe_error(std::uint32_t error) override;
};
