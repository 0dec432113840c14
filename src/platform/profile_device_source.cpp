#include "platform/profile_device_source.h"

#include "platform/text.h"

namespace {

bool same_value_name(const std::wstring& a, const wchar_t* b) {
    // Registry value names ignore letter case.
    return equal_ignoring_case(a, b);
}

}  // namespace

bool profile_device_source::open_class_image_list(SP_CLASSIMAGELIST_DATA& out) {
    out = {};
    out.cbSize = sizeof(out);
    if (api_.get_class_image_list(&out)) return true;
    out = {};
    return false;
}

void profile_device_source::close_class_image_list(SP_CLASSIMAGELIST_DATA& list) {
    api_.destroy_class_image_list(&list);
    list = {};
}

bool profile_device_source::class_guids(std::vector<GUID>& out) {
    out.clear();
    if (!profile_) return true;  // an unreadable profile lists no classes
    for (const profile_class& c : profile_->classes) {
        GUID guid;
        if (guid_from_text(c.guid_text, guid)) out.push_back(guid);
    }
    return true;
}

const profile_class* profile_device_source::find_class(const GUID& guid) const {
    if (!profile_) return nullptr;
    for (const profile_class& c : profile_->classes) {
        GUID other;
        if (guid_from_text(c.guid_text, other) && IsEqualGUID(guid, other)) return &c;
    }
    return nullptr;
}

bool profile_device_source::class_description(const GUID& guid, std::wstring& out) {
    const profile_class* c = find_class(guid);
    if (!c || !c->description) return false;
    out = *c->description;
    return true;
}

bool profile_device_source::class_name(const GUID& guid, std::wstring& out) {
    const profile_class* c = find_class(guid);
    if (!c || !c->name) return false;
    out = *c->name;
    return true;
}

bool profile_device_source::class_image_index(const SP_CLASSIMAGELIST_DATA* /*list*/,
                                              const GUID& guid, int& index) {
    const profile_class* c = find_class(guid);
    if (!c) return false;
    index = c->image;
    return true;
}

bool profile_device_source::class_icon_name(const GUID& guid, std::wstring& out) {
    const profile_class* c = find_class(guid);
    if (!c || !c->icon) return false;
    out = *c->icon;
    return true;
}

bool profile_device_source::open_device_set(bool include_non_present) {
    close_device_set();
    if (!profile_) return false;  // an unreadable profile has no device set
    for (const profile_device& d : profile_->devices) {
        if (d.present || include_non_present) set_.push_back(&d);
    }
    set_open_ = true;
    return true;
}

void profile_device_source::close_device_set() {
    close_driver_key();
    set_.clear();
    set_open_ = false;
    device_ = nullptr;
}

walk_result profile_device_source::select_device(DWORD index) {
    close_driver_key();
    device_ = nullptr;
    if (!set_open_) return walk_result::error;
    if (index >= set_.size()) return walk_result::end;
    device_ = set_[index];
    return walk_result::ok;
}

bool profile_device_source::instance_id(std::wstring& out) {
    if (!device_ || !device_->instance_id) return false;
    out = *device_->instance_id;
    return true;
}

bool profile_device_source::string_property(DWORD property, std::wstring& out) {
    if (!device_) return false;
    const std::optional<std::wstring>* value = nullptr;
    switch (property) {
        case SPDRP_FRIENDLYNAME: value = &device_->friendly; break;
        case SPDRP_DEVICEDESC: value = &device_->desc; break;
        case SPDRP_ENUMERATOR_NAME: value = &device_->enumerator; break;
        case SPDRP_CLASS: value = &device_->class_name; break;
        case SPDRP_CLASSGUID: value = &device_->class_guid; break;
        default: return false;
    }
    if (!*value) return false;
    out = **value;
    return true;
}

bool profile_device_source::multi_string_property(DWORD property, std::wstring& out) {
    if (!device_) return false;
    const std::optional<std::vector<std::wstring>>* list = nullptr;
    switch (property) {
        case SPDRP_HARDWAREID: list = &device_->hardware_ids; break;
        case SPDRP_COMPATIBLEIDS: list = &device_->compatible_ids; break;
        default: return false;
    }
    if (!*list) return false;
    // As the registry stores it: each entry and its NUL, then a final NUL.
    out.clear();
    for (const std::wstring& entry : **list) {
        out.append(entry);
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return true;
}

bool profile_device_source::open_driver_key() {
    close_driver_key();
    key_open_ = device_ && device_->driver;
    return key_open_;
}

bool profile_device_source::driver_value(const wchar_t* name, std::wstring& out) {
    if (!key_open_ || !name) return false;
    for (const profile_value& value : device_->driver->values) {
        if (!same_value_name(value.name, name)) continue;
        if (value.type != REG_SZ) return false;
        out = value.data;
        return true;
    }
    return false;
}

void profile_device_source::close_driver_key() { key_open_ = false; }

bool profile_device_source::installed_driver_rank(const wchar_t* /*inf_path*/, uint32_t& rank) {
    if (!device_ || !device_->driver || !device_->driver->rank) return false;
    rank = *device_->driver->rank;
    return true;
}
