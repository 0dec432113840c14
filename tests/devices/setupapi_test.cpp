// The real SetupAPI source, run against the platform the tests run on (Wine:
// its devices lack required properties, its class image list is missing and
// its driver install parameters stub would end the process).
#include "app/globals.h"
#include "platform/setupapi_device_source.h"
#include "scan_fixture.h"

#include <cstring>
#include <map>

TEST(setupapi_source, enumerates_the_machine_without_crashing) {
    setupapi_device_source source;
    device_store* store = create_device_store(source);
    ASSERT_NE(store, nullptr);
    scan_progress progress;
    reset_scan_progress(progress, false);
    last_error = 0;
    ASSERT_TRUE(enumerate_devices(*store, progress, source)) << last_error.load();
    EXPECT_FALSE(store->classes.empty());
    EXPECT_EQ(progress.index.load(), progress.total.load());
    for (const device_record& r : store->devices) {
        EXPECT_NE(r.class_info, nullptr);
        EXPECT_NE(r.device_id[0], L'\0');
    }
    // With non-present devices as well.
    reset_scan_progress(progress, true);
    ASSERT_TRUE(enumerate_devices(*store, progress, source));
    EXPECT_GE(progress.total.load(), 0);
    release_device_store(store, source);
}

TEST(setupapi_source, reads_every_item_of_every_instance) {
    setupapi_device_source source;
    std::vector<GUID> guids;
    ASSERT_TRUE(source.class_guids(guids)) << GetLastError();
    for (const GUID& guid : guids) {
        std::wstring text;
        source.class_description(guid, text);
        source.class_name(guid, text);
        int index = 0;
        EXPECT_FALSE(source.class_image_index(nullptr, guid, index));
    }

    ASSERT_TRUE(source.open_device_set(true));
    int instances = 0;
    for (DWORD i = 0; source.select_device(i) == walk_result::ok; ++i, ++instances) {
        std::wstring text;
        EXPECT_TRUE(source.instance_id(text));
        for (DWORD property : {SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC, SPDRP_ENUMERATOR_NAME,
                               SPDRP_CLASS, SPDRP_CLASSGUID})
            source.string_property(property, text);
        for (DWORD property : {SPDRP_HARDWAREID, SPDRP_COMPATIBLEIDS}) {
            if (source.multi_string_property(property, text)) {
                for (std::wstring_view entry : multi_string_entries(text)) EXPECT_FALSE(entry.empty());
            }
        }
        std::wstring inf;
        if (source.open_driver_key()) {
            source.driver_value(L"InfPath", inf);
            source.driver_value(L"DriverDesc", text);
            source.close_driver_key();
        }
        // The installed-driver rank: under Wine the platform cannot tell it,
        // and asking must not end the process.
        uint32_t rank = 0;
        bool ranked = source.installed_driver_rank(inf.c_str(), rank);
        if (running_under_wine()) {
            EXPECT_FALSE(ranked);
        }
    }
    EXPECT_EQ(source.select_device(static_cast<DWORD>(instances)), walk_result::end);
    source.close_device_set();
    EXPECT_EQ(source.select_device(0), walk_result::error);
}

// The same source fed through its table of platform calls: the sizes a real
// machine gives now and then (long instance IDs, long names, long ID lists,
// long driver values), which Wine never does.
namespace {

struct fake_value {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

fake_value text_value(const std::wstring& text, DWORD type = REG_SZ) {
    fake_value v;
    v.type = type;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    v.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return v;
}

// A multi-string of `count` entries HW\ID_0000_xxx..., each `length` long.
std::wstring long_id_list(int count, std::size_t length) {
    std::wstring list;
    for (int i = 0; i < count; ++i) {
        std::wstring entry = L"HW\\ID_" + std::to_wstring(1000 + i) + L"_";
        entry.resize(length, L'x');
        list += entry;
        list.push_back(L'\0');
    }
    return list;  // the text value adds the final NUL
}

// One device instance and what the platform says about it.
struct fake_machine {
    std::wstring instance_id = L"PCI\\VEN_8086&DEV_0166\\3&11583659&0&10";
    std::map<DWORD, fake_value> properties;
    std::map<std::wstring, fake_value> driver_values;
    bool always_more = false;  // every answer asks for more than was handed in
    DWORD rank = 0x00FF0001;
    bool under_wine = false;
    // What the source did.
    std::vector<DWORD> id_sizes, property_sizes, value_sizes;
    SP_DEVINSTALL_PARAMS_W install_params = {};
    int driver_lists_built = 0, driver_lists_destroyed = 0, rank_queries = 0, keys_closed = 0;
};

fake_machine* machine = nullptr;
const HDEVINFO fake_set = reinterpret_cast<HDEVINFO>(static_cast<ULONG_PTR>(0x5000));
const HKEY fake_key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x6000));
const GUID display_guid = {0x4D36E968, 0xE325, 0x11CE,
                           {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Hands out `data` the way SetupAPI does: the size needed always, the data
// only when it fits. False (ERROR_INSUFFICIENT_BUFFER) when it does not.
BOOL answer(const BYTE* data, DWORD needed, BYTE* buffer, DWORD size, DWORD* required) {
    if (machine->always_more) needed = size + 2;
    if (required) *required = needed;
    if (size < needed || !buffer) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, data, needed);
    return TRUE;
}

BOOL WINAPI no_image_list(PSP_CLASSIMAGELIST_DATA) { return FALSE; }
BOOL WINAPI destroy_image_list(PSP_CLASSIMAGELIST_DATA) { return TRUE; }
BOOL WINAPI one_class(DWORD, LPGUID guids, DWORD size, PDWORD required) {
    if (required) *required = 1;
    if (size < 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    guids[0] = display_guid;
    return TRUE;
}
BOOL class_text(PWSTR buffer, DWORD size, PDWORD required, const wchar_t* text) {
    DWORD needed = static_cast<DWORD>(wcslen(text) + 1);
    if (required) *required = needed;
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(buffer, text);
    return TRUE;
}
BOOL WINAPI class_description(const GUID*, PWSTR b, DWORD s, PDWORD r) {
    return class_text(b, s, r, L"Display adapters");
}
BOOL WINAPI class_name(const GUID*, PWSTR b, DWORD s, PDWORD r) {
    return class_text(b, s, r, L"Display");
}
BOOL WINAPI no_image_index(PSP_CLASSIMAGELIST_DATA, const GUID*, PINT) { return FALSE; }
HDEVINFO WINAPI open_set(const GUID*, PCWSTR, HWND, DWORD) { return fake_set; }
BOOL WINAPI destroy_set(HDEVINFO) { return TRUE; }
BOOL WINAPI one_device(HDEVINFO, DWORD index, PSP_DEVINFO_DATA) {
    if (index == 0) return TRUE;
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}
BOOL WINAPI instance_id(HDEVINFO, PSP_DEVINFO_DATA, PWSTR buffer, DWORD size, PDWORD required) {
    machine->id_sizes.push_back(size);
    DWORD needed = static_cast<DWORD>(machine->instance_id.size() + 1);
    if (machine->always_more) needed = size + 1;
    if (required) *required = needed;
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(buffer, machine->instance_id.c_str());
    return TRUE;
}
BOOL WINAPI property(HDEVINFO, PSP_DEVINFO_DATA, DWORD which, PDWORD type, PBYTE buffer,
                     DWORD size, PDWORD required) {
    machine->property_sizes.push_back(size);
    auto found = machine->properties.find(which);
    if (found == machine->properties.end()) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (type) *type = found->second.type;
    const std::vector<BYTE>& data = found->second.data;
    return answer(data.data(), static_cast<DWORD>(data.size()), buffer, size, required);
}
HKEY WINAPI driver_key(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM) {
    return fake_key;
}
LONG WINAPI driver_value(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE buffer,
                         LPDWORD size) {
    if (key != fake_key) return ERROR_INVALID_HANDLE;
    machine->value_sizes.push_back(*size);
    auto found = machine->driver_values.find(name);
    if (found == machine->driver_values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = found->second.type;
    DWORD needed = static_cast<DWORD>(found->second.data.size());
    if (machine->always_more) needed = *size + 2;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    memcpy(buffer, found->second.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}
LONG WINAPI close_key(HKEY) {
    ++machine->keys_closed;
    return ERROR_SUCCESS;
}
BOOL WINAPI get_install_params(HDEVINFO, PSP_DEVINFO_DATA, PSP_DEVINSTALL_PARAMS_W params) {
    *params = machine->install_params;
    params->cbSize = sizeof(*params);
    return TRUE;
}
BOOL WINAPI set_install_params(HDEVINFO, PSP_DEVINFO_DATA, PSP_DEVINSTALL_PARAMS_W params) {
    machine->install_params = *params;
    return TRUE;
}
BOOL WINAPI build_driver_list(HDEVINFO, PSP_DEVINFO_DATA, DWORD) {
    ++machine->driver_lists_built;
    return TRUE;
}
BOOL WINAPI one_driver(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD index, PSP_DRVINFO_DATA_W) {
    if (index == 0) return TRUE;
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}
BOOL WINAPI driver_params(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W,
                          PSP_DRVINSTALL_PARAMS params) {
    ++machine->rank_queries;
    params->Rank = machine->rank;
    return TRUE;
}
BOOL WINAPI destroy_driver_list(HDEVINFO, PSP_DEVINFO_DATA, DWORD) {
    ++machine->driver_lists_destroyed;
    return TRUE;
}
bool under_wine() { return machine->under_wine; }

const setupapi_calls fake_calls = [] {
    setupapi_calls c{};
    c.get_class_image_list = &no_image_list;
    c.destroy_class_image_list = &destroy_image_list;
    c.build_class_info_list = &one_class;
    c.get_class_description = &class_description;
    c.class_name_from_guid = &class_name;
    c.get_class_image_index = &no_image_index;
    c.get_class_devs = &open_set;
    c.destroy_device_info_list = &destroy_set;
    c.enum_device_info = &one_device;
    c.get_device_instance_id = &instance_id;
    c.get_device_registry_property = &property;
    c.open_dev_reg_key = &driver_key;
    c.query_value = &driver_value;
    c.close_key = &close_key;
    c.get_device_install_params = &get_install_params;
    c.set_device_install_params = &set_install_params;
    c.build_driver_info_list = &build_driver_list;
    c.enum_driver_info = &one_driver;
    c.get_driver_install_params = &driver_params;
    c.destroy_driver_info_list = &destroy_driver_list;
    c.driver_install_params_missing = &under_wine;
    return c;
}();

class FedSetupApi : public ::testing::Test {
protected:
    fake_machine fake;
    setupapi_device_source source{fake_calls};

    FedSetupApi() {
        machine = &fake;
        fake.properties[SPDRP_DEVICEDESC] = text_value(L"Intel(R) HD Graphics 4000");
        fake.properties[SPDRP_ENUMERATOR_NAME] = text_value(L"PCI");
        fake.properties[SPDRP_CLASS] = text_value(L"Display");
        fake.properties[SPDRP_CLASSGUID] = text_value(L"{4D36E968-E325-11CE-BFC1-08002BE10318}");
        fake.properties[SPDRP_HARDWAREID] =
            text_value(std::wstring(L"PCI\\VEN_8086&DEV_0166\0", 22), REG_MULTI_SZ);
        fake.properties[SPDRP_COMPATIBLEIDS] =
            text_value(std::wstring(L"PCI\\CC_0300\0", 12), REG_MULTI_SZ);
        fake.driver_values[L"DriverVersion"] = text_value(L"9.17.10.2867");
        fake.driver_values[L"InfPath"] = text_value(L"oem12.inf");
        fake.driver_values[L"DriverDate"] = text_value(L"10-3-2012");
        fake.driver_values[L"DriverDesc"] = text_value(L"Intel(R) HD Graphics 4000");
        fake.driver_values[L"MatchingDeviceId"] = text_value(L"PCI\\VEN_8086&DEV_0166");
    }
    ~FedSetupApi() override {
        source.close_device_set();
        machine = nullptr;
    }
    void select() {
        ASSERT_TRUE(source.open_device_set(false));
        ASSERT_EQ(source.select_device(0), walk_result::ok);
    }
};

TEST_F(FedSetupApi, ItemsLongerThanTheFirstBufferAreReadWhole) {
    select();
    std::wstring text;

    // Instance ID: 512 characters first, then exactly what the platform asks.
    fake.instance_id = L"PCI\\" + std::wstring(600, L'D') + L"\\1";
    ASSERT_TRUE(source.instance_id(text));
    EXPECT_EQ(text, fake.instance_id);
    EXPECT_EQ(fake.id_sizes, (std::vector<DWORD>{512, 607}));
    fake.instance_id = std::wstring(511, L'E');  // fits with its NUL: one call
    fake.id_sizes.clear();
    ASSERT_TRUE(source.instance_id(text));
    EXPECT_EQ(text, fake.instance_id);
    EXPECT_EQ(fake.id_sizes.size(), 1u);

    // String property: 1,024 bytes first.
    const std::wstring name(700, L'N');
    fake.properties[SPDRP_FRIENDLYNAME] = text_value(name);
    ASSERT_TRUE(source.string_property(SPDRP_FRIENDLYNAME, text));
    EXPECT_EQ(text, name);
    EXPECT_EQ(fake.property_sizes, (std::vector<DWORD>{1024, 1402}));
    // Grown only for the type asked for.
    fake.properties[SPDRP_FRIENDLYNAME] = text_value(name, REG_BINARY);
    EXPECT_FALSE(source.string_property(SPDRP_FRIENDLYNAME, text));
    // An odd size the platform asks for still ends in a terminated text.
    fake_value odd = text_value(name);
    odd.data.push_back(0x41);
    fake.properties[SPDRP_FRIENDLYNAME] = odd;
    ASSERT_TRUE(source.string_property(SPDRP_FRIENDLYNAME, text));
    EXPECT_EQ(text, name);

    // Multi-string: 8,192 bytes first; every entry of a longer list arrives.
    const std::wstring ids = long_id_list(40, 120);  // about 9,700 bytes
    fake.properties[SPDRP_HARDWAREID] = text_value(ids, REG_MULTI_SZ);
    fake.property_sizes.clear();
    ASSERT_TRUE(source.multi_string_property(SPDRP_HARDWAREID, text));
    EXPECT_EQ(multi_string_entries(text).size(), 40u);
    EXPECT_EQ(text.substr(0, ids.size()), ids);
    ASSERT_EQ(fake.property_sizes.size(), 2u);
    EXPECT_EQ(fake.property_sizes[0], 8192u);
    fake.properties[SPDRP_HARDWAREID] = text_value(ids, REG_SZ);
    EXPECT_FALSE(source.multi_string_property(SPDRP_HARDWAREID, text));

    // Driver value: 1,024 bytes first, grown on ERROR_MORE_DATA; REG_SZ only.
    const std::wstring description(900, L'V');
    fake.driver_values[L"DriverDesc"] = text_value(description);
    ASSERT_TRUE(source.open_driver_key());
    ASSERT_TRUE(source.driver_value(L"DriverDesc", text));
    EXPECT_EQ(text, description);
    EXPECT_EQ(fake.value_sizes, (std::vector<DWORD>{1024, 1802}));
    fake.driver_values[L"DriverDesc"] = text_value(description, REG_EXPAND_SZ);
    EXPECT_FALSE(source.driver_value(L"DriverDesc", text));
    EXPECT_FALSE(source.driver_value(L"Missing", text));
    source.close_driver_key();
    EXPECT_EQ(fake.keys_closed, 1);
}

TEST_F(FedSetupApi, GrowthStopsAfterFourAttempts) {
    select();
    fake.always_more = true;  // the item grows between every two calls
    std::wstring text;
    EXPECT_FALSE(source.instance_id(text));
    EXPECT_EQ(fake.id_sizes.size(), 4u);
    EXPECT_FALSE(source.string_property(SPDRP_DEVICEDESC, text));
    EXPECT_EQ(fake.property_sizes.size(), 4u);
    fake.property_sizes.clear();
    EXPECT_FALSE(source.multi_string_property(SPDRP_HARDWAREID, text));
    EXPECT_EQ(fake.property_sizes.size(), 4u);
    ASSERT_TRUE(source.open_driver_key());
    EXPECT_FALSE(source.driver_value(L"DriverDesc", text));
    EXPECT_EQ(fake.value_sizes.size(), 4u);
}

TEST_F(FedSetupApi, InstalledDriverRankComesFromItsOwnInfOnly) {
    select();
    uint32_t rank = 0;
    ASSERT_TRUE(source.installed_driver_rank(L"oem12.inf", rank));
    EXPECT_EQ(rank, 0x00FF0001u);
    EXPECT_TRUE(fake.install_params.Flags & DI_ENUMSINGLEINF);
    const DWORD flags_ex = DI_FLAGSEX_INSTALLEDDRIVER | DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    EXPECT_EQ(fake.install_params.FlagsEx & flags_ex, flags_ex);
    EXPECT_EQ(std::wstring(fake.install_params.DriverPath), L"oem12.inf");
    EXPECT_EQ(fake.driver_lists_destroyed, fake.driver_lists_built);

    // Where the platform's query would end the process it is never made, and
    // the driver list is still destroyed.
    fake.under_wine = true;
    rank = 0;
    EXPECT_FALSE(source.installed_driver_rank(L"oem12.inf", rank));
    EXPECT_EQ(fake.rank_queries, 1);
    EXPECT_EQ(fake.driver_lists_destroyed, 2);
}

TEST_F(FedSetupApi, EnumerationKeepsTheWholeLongDevice) {
    fake.instance_id = L"PCI\\VEN_8086&DEV_0166&" + std::wstring(700, L'S') + L"\\3&1";
    fake.properties[SPDRP_FRIENDLYNAME] = text_value(std::wstring(1500, L'F'));
    const std::wstring ids = long_id_list(45, 100);
    fake.properties[SPDRP_HARDWAREID] = text_value(ids, REG_MULTI_SZ);
    fake.driver_values[L"DriverDesc"] = text_value(std::wstring(600, L'V'));

    device_store* store = create_device_store(source);
    ASSERT_NE(store, nullptr);
    scan_progress progress;
    reset_scan_progress(progress, false);
    ASSERT_TRUE(enumerate_devices(*store, progress, source));
    ASSERT_EQ(store->devices.size(), 1u);
    const device_record& r = store->devices[0];
    // Long fields are cut to their capacity; the ID list is kept whole.
    EXPECT_EQ(std::wstring(r.device_id), fake.instance_id.substr(0, 199));
    EXPECT_EQ(std::wstring(r.display_name), std::wstring(1024, L'F'));
    EXPECT_EQ(r.hardware_ids, ids + L'\0');
    EXPECT_EQ(std::wstring(r.DriverDesc), std::wstring(600, L'V'));
    EXPECT_EQ(std::wstring(r.DriverDate), L"2012-10-03");
    EXPECT_TRUE(r.has_driver);
    EXPECT_EQ(r.driver_rank, 0x00FF0001u);
    release_device_store(store, source);
}

}  // namespace
