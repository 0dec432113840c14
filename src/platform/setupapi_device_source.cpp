#include "platform/setupapi_device_source.h"

#include <algorithm>

#include "platform/text.h"

namespace {

// How often a buffer is grown when the platform keeps asking for more (the
// data may change between two calls); past that the item counts as missing.
constexpr int max_attempts = 4;

// Calls get(data, capacity, &required) until it succeeds, growing `buffer` to
// the `required` elements the platform asks for with ERROR_INSUFFICIENT_BUFFER.
// False, with the last error in `error`, when a call fails otherwise, asks for
// no more than the buffer holds, or the attempts run out.
template <class T, class Get>
bool call_with_growing_buffer(std::vector<T>& buffer, DWORD& required, DWORD& error, Get get) {
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        required = 0;
        if (get(buffer.data(), static_cast<DWORD>(buffer.size()), &required)) return true;
        error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || required <= buffer.size()) return false;
        buffer.assign(required, T{});
    }
    return false;
}

// The same for a text: `out` is the text up to its NUL on success.
template <class Get>
bool read_text(std::size_t first_size, std::wstring& out, Get get) {
    std::vector<wchar_t> text(first_size, L'\0');
    DWORD required = 0, error = 0;
    if (!call_with_growing_buffer(text, required, error, get)) return false;
    text.back() = L'\0';
    out = text.data();
    return true;
}

}  // namespace

const setupapi_calls& real_setupapi_calls() {
    static const setupapi_calls calls = [] {
        setupapi_calls c{};
        c.get_class_image_list = &::SetupDiGetClassImageList;
        c.destroy_class_image_list = &::SetupDiDestroyClassImageList;
        c.build_class_info_list = &::SetupDiBuildClassInfoList;
        c.get_class_description = &::SetupDiGetClassDescriptionW;
        c.class_name_from_guid = &::SetupDiClassNameFromGuidW;
        c.get_class_image_index = &::SetupDiGetClassImageIndex;
        c.get_class_devs = &::SetupDiGetClassDevsW;
        c.destroy_device_info_list = &::SetupDiDestroyDeviceInfoList;
        c.enum_device_info = &::SetupDiEnumDeviceInfo;
        c.get_device_instance_id = &::SetupDiGetDeviceInstanceIdW;
        c.get_device_registry_property = &::SetupDiGetDeviceRegistryPropertyW;
        c.open_dev_reg_key = &::SetupDiOpenDevRegKey;
        c.query_value = &::RegQueryValueExW;
        c.close_key = &::RegCloseKey;
        c.get_device_install_params = &::SetupDiGetDeviceInstallParamsW;
        c.set_device_install_params = &::SetupDiSetDeviceInstallParamsW;
        c.build_driver_info_list = &::SetupDiBuildDriverInfoList;
        c.enum_driver_info = &::SetupDiEnumDriverInfoW;
        c.get_driver_install_params = &::SetupDiGetDriverInstallParamsW;
        c.destroy_driver_info_list = &::SetupDiDestroyDriverInfoList;
        c.driver_install_params_missing = &running_under_wine;
        return c;
    }();
    return calls;
}

bool running_under_wine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

setupapi_device_source::setupapi_device_source(const setupapi_calls& calls) : api_(calls) {}

setupapi_device_source::~setupapi_device_source() { close_device_set(); }

bool setupapi_device_source::open_class_image_list(SP_CLASSIMAGELIST_DATA& out) {
    out = {};
    out.cbSize = sizeof(out);
    if (api_.get_class_image_list(&out)) return true;
    out = {};
    return false;
}

void setupapi_device_source::close_class_image_list(SP_CLASSIMAGELIST_DATA& list) {
    api_.destroy_class_image_list(&list);
    list = {};
}

bool setupapi_device_source::class_guids(std::vector<GUID>& out) {
    out.assign(1, GUID{});
    DWORD required = 0, error = 0;
    auto build = [this](GUID* data, DWORD size, DWORD* needed) {
        return api_.build_class_info_list(0, data, size, needed) != FALSE;
    };
    if (call_with_growing_buffer(out, required, error, build)) {
        out.resize(std::min<std::size_t>(required, out.size()));
        return true;
    }
    out.clear();
    return false;
}

bool setupapi_device_source::class_description(const GUID& guid, std::wstring& out) {
    wchar_t text[256] = {};
    if (!api_.get_class_description(&guid, text, 256, nullptr)) return false;
    text[255] = L'\0';
    out = text;
    return true;
}

bool setupapi_device_source::class_name(const GUID& guid, std::wstring& out) {
    return read_text(1024, out, [this, &guid](wchar_t* data, DWORD size, DWORD* needed) {
        return api_.class_name_from_guid(&guid, data, size, needed) != FALSE;
    });
}

bool setupapi_device_source::class_image_index(const SP_CLASSIMAGELIST_DATA* list,
                                               const GUID& guid, int& index) {
    if (!list) return false;
    return api_.get_class_image_index(const_cast<SP_CLASSIMAGELIST_DATA*>(list), &guid, &index) !=
           FALSE;
}

bool setupapi_device_source::open_device_set(bool include_non_present) {
    close_device_set();
    DWORD flags = include_non_present ? DIGCF_ALLCLASSES : (DIGCF_ALLCLASSES | DIGCF_PRESENT);
    set_ = api_.get_class_devs(nullptr, nullptr, nullptr, flags);
    return set_ != INVALID_HANDLE_VALUE;
}

void setupapi_device_source::close_device_set() {
    close_driver_key();
    if (set_ != INVALID_HANDLE_VALUE) api_.destroy_device_info_list(set_);
    set_ = INVALID_HANDLE_VALUE;
    selected_ = false;
}

walk_result setupapi_device_source::select_device(DWORD index) {
    close_driver_key();
    selected_ = false;
    if (set_ == INVALID_HANDLE_VALUE) return walk_result::error;
    device_ = {};
    device_.cbSize = sizeof(device_);
    if (api_.enum_device_info(set_, index, &device_)) {
        selected_ = true;
        return walk_result::ok;
    }
    return GetLastError() == ERROR_NO_MORE_ITEMS ? walk_result::end : walk_result::error;
}

bool setupapi_device_source::instance_id(std::wstring& out) {
    if (!selected_) return false;
    return read_text(512, out, [this](wchar_t* data, DWORD size, DWORD* needed) {
        return api_.get_device_instance_id(set_, &device_, data, size, needed) != FALSE;
    });
}

// Reads a registry property of the selected device into out, as many
// characters as the platform returned. The first buffer has first_bytes bytes;
// it grows to the size the platform asks for when the property has the
// expected type.
bool setupapi_device_source::read_property(DWORD property, DWORD expected_type,
                                           DWORD first_bytes, std::wstring& out) {
    DWORD bytes = first_bytes;
    // Two spare characters beyond the bytes handed to the platform, so the
    // text is always terminated, even for an odd byte count.
    std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, L'\0');
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        DWORD type = 0;
        DWORD required = 0;
        if (api_.get_device_registry_property(set_, &device_, property, &type,
                                              reinterpret_cast<BYTE*>(data.data()), bytes,
                                              &required)) {
            DWORD returned = (required != 0 && required <= bytes) ? required : bytes;
            out.assign(data.data(), returned / sizeof(wchar_t));
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || type != expected_type ||
            required <= bytes)
            return false;
        bytes = required;
        data.assign(bytes / sizeof(wchar_t) + 2, L'\0');
    }
    return false;
}

bool setupapi_device_source::string_property(DWORD property, std::wstring& out) {
    if (!selected_) return false;
    std::wstring text;
    if (!read_property(property, REG_SZ, 1024, text)) return false;
    out = text.c_str();  // the value ends at its NUL
    return true;
}

bool setupapi_device_source::multi_string_property(DWORD property, std::wstring& out) {
    if (!selected_) return false;
    return read_property(property, REG_MULTI_SZ, 8192, out);
}

bool setupapi_device_source::open_driver_key() {
    close_driver_key();
    if (!selected_) return false;
    HKEY key = api_.open_dev_reg_key(set_, &device_, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE || key == nullptr) return false;
    driver_key_ = key;
    return true;
}

bool setupapi_device_source::driver_value(const wchar_t* name, std::wstring& out) {
    if (!driver_key_) return false;
    DWORD bytes = 1024;
    std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, L'\0');
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        DWORD type = 0;
        DWORD size = bytes;
        LONG status = api_.query_value(driver_key_, name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_SUCCESS) {
            if (type != REG_SZ) return false;
            std::size_t chars = std::min(size, bytes) / sizeof(wchar_t);
            out = std::wstring(data.data(), chars).c_str();  // the value ends at its NUL
            return true;
        }
        if (status != ERROR_MORE_DATA || size <= bytes) return false;
        bytes = size;
        data.assign(bytes / sizeof(wchar_t) + 2, L'\0');
    }
    return false;
}

void setupapi_device_source::close_driver_key() {
    if (driver_key_) api_.close_key(driver_key_);
    driver_key_ = nullptr;
}

bool setupapi_device_source::installed_driver_rank(const wchar_t* inf_path, uint32_t& rank) {
    if (!selected_) return false;
    // Ask for the installed driver only, from its own INF file.
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    if (!api_.get_device_install_params(set_, &device_, &params)) return false;
    params.Flags |= DI_ENUMSINGLEINF;
    params.FlagsEx |= DI_FLAGSEX_INSTALLEDDRIVER | DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    copy_text(params.DriverPath, inf_path ? inf_path : L"");
    if (!api_.set_device_install_params(set_, &device_, &params)) return false;

    if (!api_.build_driver_info_list(set_, &device_, SPDIT_COMPATDRIVER)) return false;
    bool found = false;
    SP_DRVINFO_DATA_V2_W driver = {};
    driver.cbSize = sizeof(driver);
    // Wine's SetupDiGetDriverInstallParamsW is a stub that ends the process;
    // there the rank stays unknown.
    if (api_.enum_driver_info(set_, &device_, SPDIT_COMPATDRIVER, 0, &driver) &&
        !api_.driver_install_params_missing()) {
        SP_DRVINSTALL_PARAMS install = {};
        install.cbSize = sizeof(install);
        if (api_.get_driver_install_params(set_, &device_, &driver, &install)) {
            rank = install.Rank;
            found = true;
        }
    }
    api_.destroy_driver_info_list(set_, &device_, SPDIT_COMPATDRIVER);
    return found;
}
