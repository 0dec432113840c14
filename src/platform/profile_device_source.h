// A device source that replays a machine profile (see profiles/README.md).
#pragma once

#include "platform/device_source.h"
#include "platform/machine_profile.h"
#include "platform/setupapi_device_source.h"

class profile_device_source : public device_source {
public:
    // profile null: the profile could not be read, so the class list is empty
    // and the device set cannot be opened. The profile must outlive the source.
    // `calls` (for the class image list) must outlive the source.
    explicit profile_device_source(const machine_profile* profile,
                                   const setupapi_calls& calls = real_setupapi_calls())
        : profile_(profile), api_(calls) {}

    // The class image list is the machine's own (so that a replayed profile
    // shows the real icons where the machine has them).
    bool open_class_image_list(SP_CLASSIMAGELIST_DATA& out) override;
    void close_class_image_list(SP_CLASSIMAGELIST_DATA& list) override;
    bool class_guids(std::vector<GUID>& out) override;
    bool class_description(const GUID& guid, std::wstring& out) override;
    bool class_name(const GUID& guid, std::wstring& out) override;
    bool class_image_index(const SP_CLASSIMAGELIST_DATA* list, const GUID& guid,
                           int& index) override;
    bool class_icon_name(const GUID& guid, std::wstring& out) override;
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
    const profile_class* find_class(const GUID& guid) const;

    const machine_profile* profile_;
    const setupapi_calls& api_;
    std::vector<const profile_device*> set_;  // the open device set
    bool set_open_ = false;
    const profile_device* device_ = nullptr;  // the selected instance
    bool key_open_ = false;
};
