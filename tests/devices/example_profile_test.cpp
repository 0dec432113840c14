// The example profile shipped in profiles/: it must load, and a scan of it
// must give the machine the README describes.
#include <map>

#include "scan_fixture.h"

namespace {

const wchar_t* const example_path = QM_SOURCE_DIR_W L"\\profiles\\example-pc.xml";

std::map<std::wstring, int> records_per_class(const device_store& store) {
    std::map<std::wstring, int> count;
    for (const device_record& r : store.devices) ++count[r.class_info->name];
    return count;
}

}  // namespace

TEST(example_profile, scans_as_documented) {
    machine_profile profile;
    std::wstring error;
    ASSERT_TRUE(load_machine_profile(example_path, profile, &error)) << wide_text(error);
    ASSERT_TRUE(profile.windows && profile.system);
    EXPECT_EQ(*profile.system->memory, 8589934592LL);
    EXPECT_EQ(profile.devices.size(), 86u);

    device_store store;
    scan_progress progress;
    profile_device_source source(&profile);

    // 81 present instances give 38 records; the 5 instances not attached now
    // add 4 records (the USB stick's disk stays dropped).
    reset_scan_progress(progress, false);
    ASSERT_TRUE(enumerate_devices(store, progress, source));
    EXPECT_EQ(progress.total.load(), 81);
    EXPECT_EQ(progress.index.load(), 81);
    EXPECT_EQ(device_count(store), 38);
    EXPECT_EQ(store.classes.size(), 58u);
    EXPECT_STREQ(store.classes.front().description, L"1394 Debugger Device");

    std::map<std::wstring, int> expected = {
        {L"Biometric", 1}, {L"Bluetooth", 1}, {L"CDROM", 1}, {L"Display", 2}, {L"HDC", 2},
        {L"HIDClass", 3},  {L"Image", 1},     {L"Keyboard", 1}, {L"MEDIA", 2}, {L"Monitor", 1},
        {L"Mouse", 1},     {L"Net", 3},       {L"Printer", 1},  {L"System", 7}, {L"USB", 6},
        {L"Unknown", 5},
    };
    EXPECT_EQ(records_per_class(store), expected);

    const device_record* hub = find_device(store, LR"(USB\VID_8087&PID_0024)");
    ASSERT_NE(hub, nullptr);
    EXPECT_EQ(hub->instance_count, 2);
    EXPECT_EQ(find_device(store, LR"(PCIIDE\IDECHANNEL)")->instance_count, 2);
    const device_record* phone =
        find_device(store, LR"(BTHENUM\{0000111E-0000-1000-8000-00805F9B34FB}_LOCALMFG&000F)");
    ASSERT_NE(phone, nullptr);
    EXPECT_EQ(phone->instance_count, 2);
    EXPECT_EQ(phone->has_driver, 0);

    const device_record* display = first_device(store);
    EXPECT_STREQ(display->display_name, L"Intel(R) HD Graphics 4000");
    EXPECT_STREQ(display->DriverDate, L"2012-10-03");
    EXPECT_EQ(display->driver_rank, 0x00FF0000u);
    EXPECT_EQ(display->has_driver, 1);
    EXPECT_EQ(find_device(store, LR"(ROOT\MS_L2TPMINIPORT)"), nullptr);
    EXPECT_EQ(find_device(store, LR"(IDE\DISKST500LM012_HN-M500MBB_____________________2AR10001)"),
              nullptr);

    reset_scan_progress(progress, true);
    ASSERT_TRUE(enumerate_devices(store, progress, source));
    EXPECT_EQ(progress.total.load(), 86);
    EXPECT_EQ(device_count(store), 42);
    EXPECT_NE(find_device(store, LR"(USB\VID_04A9&PID_1909)"), nullptr);  // the scanner
}
