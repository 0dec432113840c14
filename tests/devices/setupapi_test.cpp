// The real SetupAPI source, run against the platform the tests run on (Wine:
// its devices lack required properties, its class image list is missing and
// its driver install parameters stub would end the process).
#include "app/globals.h"
#include "platform/setupapi_device_source.h"
#include "scan_fixture.h"

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
