// The device source of a real machine: SetupAPI and the driver keys.
#pragma once

#include "platform/device_source.h"

// Every platform call the source makes, as a table: the real one calls
// SetupAPI and the registry; tests hand in their own functions to feed the
// source sizes and answers a real machine rarely gives.
struct setupapi_calls {
    decltype(&::SetupDiGetClassImageList) get_class_image_list;
    decltype(&::SetupDiDestroyClassImageList) destroy_class_image_list;
    decltype(&::SetupDiBuildClassInfoList) build_class_info_list;
    decltype(&::SetupDiGetClassDescriptionW) get_class_description;
    decltype(&::SetupDiClassNameFromGuidW) class_name_from_guid;
    decltype(&::SetupDiGetClassImageIndex) get_class_image_index;
    decltype(&::SetupDiGetClassDevsW) get_class_devs;
    decltype(&::SetupDiDestroyDeviceInfoList) destroy_device_info_list;
    decltype(&::SetupDiEnumDeviceInfo) enum_device_info;
    decltype(&::SetupDiGetDeviceInstanceIdW) get_device_instance_id;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) get_device_registry_property;
    decltype(&::SetupDiOpenDevRegKey) open_dev_reg_key;
    decltype(&::RegQueryValueExW) query_value;
    decltype(&::RegCloseKey) close_key;
    decltype(&::SetupDiGetDeviceInstallParamsW) get_device_install_params;
    decltype(&::SetupDiSetDeviceInstallParamsW) set_device_install_params;
    decltype(&::SetupDiBuildDriverInfoList) build_driver_info_list;
    decltype(&::SetupDiEnumDriverInfoW) enum_driver_info;
    decltype(&::SetupDiGetDriverInstallParamsW) get_driver_install_params;
    decltype(&::SetupDiDestroyDriverInfoList) destroy_driver_info_list;
    // True where SetupDiGetDriverInstallParamsW must not be called (Wine's
    // stub of it ends the process).
    bool (*driver_install_params_missing)();
};

// The table of the real platform functions.
const setupapi_calls& real_setupapi_calls();

class setupapi_device_source final : public device_source {
public:
    // `calls` must outlive the source.
    explicit setupapi_device_source(const setupapi_calls& calls = real_setupapi_calls());
    ~setupapi_device_source() override;
    setupapi_device_source(const setupapi_device_source&) = delete;
    setupapi_device_source& operator=(const setupapi_device_source&) = delete;

    bool open_class_image_list(SP_CLASSIMAGELIST_DATA& out) override;
    void close_class_image_list(SP_CLASSIMAGELIST_DATA& list) override;
    bool class_guids(std::vector<GUID>& out) override;
    bool class_description(const GUID& guid, std::wstring& out) override;
    bool class_name(const GUID& guid, std::wstring& out) override;
    bool class_image_index(const SP_CLASSIMAGELIST_DATA* list, const GUID& guid,
                           int& index) override;
    bool open_device_set(bool include_non_present) override;
    void close_device_set() override;
    walk_result select_device(DWORD index) override;
    bool instance_id(std::wstring& out) override;
    bool string_property(DWORD property, std::wstring& out) override;
    bool multi_string_property(DWORD property, std::wstring& out) override;
    bool open_driver_key() override;
    bool driver_value(const wchar_t* name, std::wstring& out) override;
    void close_driver_key() override;
    bool installed_driver_rank(const wchar_t* inf_path, uint32_t& rank) override;

private:
    bool read_property(DWORD property, DWORD expected_type, DWORD first_bytes,
                       std::wstring& out);

    const setupapi_calls& api_;
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device_ = {};
    bool selected_ = false;
    HKEY driver_key_ = nullptr;
};

// True when the process runs under Wine (ntdll exports wine_get_version).
// Looked up once.
bool running_under_wine();
