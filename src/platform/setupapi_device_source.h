// The device source of a real machine: SetupAPI and the driver keys.
#pragma once

#include "platform/device_source.h"

class setupapi_device_source final : public device_source {
public:
    setupapi_device_source() = default;
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
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device_ = {};
    bool selected_ = false;
    HKEY driver_key_ = nullptr;
};

// True when the process runs under Wine (ntdll exports wine_get_version).
// Looked up once.
bool running_under_wine();
