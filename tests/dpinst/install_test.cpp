#include "dpinst/installer.h"

#include <gtest/gtest.h>

#include "dpinst_doubles.h"

namespace {

const std::wstring root = L"C:\\drv";
const std::wstring present_id = L"PCI\\VEN_8086&DEV_1234";

// One package for a present device (in a subfolder) and one for a device
// this machine does not have.
struct machine_with_two_packages : ::testing::Test {
    fake_system system;
    collected_log log;
    dpinst_options options;
    const std::wstring matching = root + L"\\a\\net.inf";
    const std::wstring unmatched = root + L"\\other.inf";

    void SetUp() override {
        system.devices = {
            {L"ROOT\\LEGACY\\0000", {L"ROOT\\LEGACY"}, L"machine.inf"},
            {L"PCI\\VEN_8086&DEV_1234\\3&1", {L"PCI\\VEN_8086&DEV_1234&SUBSYS_0001", L"pci\\ven_8086&dev_1234"}, L"oem0.inf"},
        };
        system.folders[root] = {{L"a", true, false}};
        system.add_package(root, L"other.inf", L"USB\\VID_FFFF&PID_0001");
        system.add_package(root + L"\\a", L"net.inf", present_id);
        options.folder = root;
    }

    std::vector<std::wstring> calls_of(const std::wstring& what) const {
        std::vector<std::wstring> out;
        for (const auto& c : system.calls)
            if (c.what == what) out.push_back(c.inf + (c.id.empty() ? L"" : L" " + c.id));
        return out;
    }
};

}  // namespace

TEST(DpinstMatching, ComparesIdsWithoutRegardToCaseInModelOrder) {
    std::vector<present_device> devices = {
        {L"A", {L"USB\\VID_046D&PID_C52B&REV_1200", L"USB\\Class_03"}, L""},
        {L"B", {L"HDAUDIO\\FUNC_01&VEN_10EC"}, L""},
    };
    EXPECT_EQ(matching_ids({L"usb\\class_03", L"PCI\\VEN_1", L"hdaudio\\func_01&ven_10ec"}, devices),
              (std::vector<std::wstring>{L"usb\\class_03", L"hdaudio\\func_01&ven_10ec"}));
    // A prefix of an id is no match.
    EXPECT_TRUE(matching_ids({L"USB\\VID_046D&PID_C52B"}, devices).empty());
}

TEST_F(machine_with_two_packages, PresentOnlyStagesAndInstallsJustTheMatchingPackage) {
    options.present_only = true;
    run_counts counts = install_packages(options, system, log);
    EXPECT_EQ(calls_of(L"copy"), std::vector<std::wstring>{matching});
    EXPECT_EQ(calls_of(L"install"), std::vector<std::wstring>{matching});
    ASSERT_EQ(system.calls.size(), 2u);
    EXPECT_EQ(system.calls[1].flags, 0u);
    EXPECT_EQ(exit_code(counts), 0x00000001u);
    EXPECT_TRUE(log.contains(L"Skipped (/SH)"));
    EXPECT_TRUE(log.contains(unmatched));
}

TEST_F(machine_with_two_packages, WithoutPresentOnlyTheOtherPackageIsStagedOnly) {
    run_counts counts = install_packages(options, system, log);
    EXPECT_EQ(calls_of(L"copy"), (std::vector<std::wstring>{unmatched, matching}));
    EXPECT_EQ(calls_of(L"install"), std::vector<std::wstring>{matching});
    EXPECT_EQ(exit_code(counts), 0x00000101u);
    EXPECT_TRUE(log.contains(L"copied to the driver store only"));
}

TEST_F(machine_with_two_packages, ForceAndRestartReachTheInstallCallAndTheExitCode) {
    options.present_only = true;
    options.force = true;
    system.reboot = true;
    run_counts counts = install_packages(options, system, log);
    ASSERT_EQ(calls_of(L"install").size(), 1u);
    EXPECT_EQ(system.calls.back().flags, diir_flag_force_inf);
    EXPECT_EQ(exit_code(counts), 0x40000001u);
}

TEST_F(machine_with_two_packages, WindowsXpUpdatesEachMatchingIdWithItsOwnFlags) {
    system.machine = {L"x86", 5, 1, 2600};
    // Compatible and hardware ids both match, written in another case.
    system.infs[matching][L"Models.NTx86"] = {
        {L"%Dev%", L"Install", L"PCI\\VEN_8086&DEV_1234&subsys_0001", L"PCI\\VEN_8086&DEV_9999"},
        {L"%Dev2%", L"Install", L"PCI\\VEN_8086&DEV_1234"}};
    options.present_only = true;
    options.force = true;
    options.quiet = true;
    run_counts counts = install_packages(options, system, log);
    EXPECT_TRUE(calls_of(L"install").empty());
    EXPECT_EQ(calls_of(L"update"), (std::vector<std::wstring>{
                                       matching + L" PCI\\VEN_8086&DEV_1234&subsys_0001",
                                       matching + L" PCI\\VEN_8086&DEV_1234"}));
    EXPECT_EQ(system.calls.back().flags, install_flag_force | install_flag_noninteractive);
    EXPECT_EQ(exit_code(counts), 0x00000001u);
}

TEST_F(machine_with_two_packages, FailuresAreCountedAndFlagged) {
    // Staging fails for one, installing fails for the other.
    system.copy_errors[unmatched] = 5;
    system.install_errors[matching] = 0xE000020B;
    run_counts counts = install_packages(options, system, log);
    EXPECT_EQ(exit_code(counts), 0x80020000u);
    EXPECT_TRUE(log.contains(L"Staging failed: error 0x00000005"));
    EXPECT_TRUE(log.contains(L"Installation failed: error 0xE000020B"));

    // A better driver already in place leaves the package in the store only.
    fake_system better = system;
    better.copy_errors.clear();
    better.calls.clear();
    better.install_errors[matching] = error_no_more_items;
    EXPECT_EQ(exit_code(install_packages(options, better, log)), 0x00000200u);

    // Unreadable INFs fail; an unknown device list cannot honour /SH.
    fake_system unreadable = system;
    unreadable.copy_errors.clear();
    unreadable.install_errors.clear();
    unreadable.calls.clear();
    unreadable.infs.erase(matching);
    EXPECT_EQ(exit_code(install_packages(options, unreadable, log)), 0x80010100u);
    fake_system blind = unreadable;
    blind.calls.clear();
    blind.devices_fail = true;
    options.present_only = true;
    EXPECT_EQ(exit_code(install_packages(options, blind, log)), 0x80020000u);
    EXPECT_TRUE(blind.calls.empty());
}

TEST_F(machine_with_two_packages, APackageNoDeviceTookCountsAsCopiedOnly) {
    // DiInstallDriverW succeeds once the package is staged; the devices'
    // drivers tell whether it was installed.
    options.present_only = true;
    system.kept_by_devices.insert(matching);
    EXPECT_EQ(exit_code(install_packages(options, system, log)), 0x00000100u);
    EXPECT_TRUE(log.contains(L"keep a better driver"));

    // Another device running some other package's driver does not count.
    system.devices.push_back({L"ROOT\\X\\0", {L"ROOT\\X"}, L"oem1.inf"});
    system.calls.clear();
    EXPECT_EQ(exit_code(install_packages(options, system, log)), 0x00000100u);

    system.kept_by_devices.clear();
    system.calls.clear();
    EXPECT_EQ(exit_code(install_packages(options, system, log)), 0x00000001u);
    EXPECT_EQ(system.devices[1].inf_name, L"oem1.inf");
}

TEST_F(machine_with_two_packages, PackagesForAnotherPlatformAreSkipped) {
    system.machine.architecture = L"arm64";
    run_counts counts = install_packages(options, system, log);
    EXPECT_TRUE(system.calls.empty());
    EXPECT_EQ(exit_code(counts), 0u);
    EXPECT_TRUE(log.contains(L"lists no devices for this platform (arm64)"));
}

TEST(DpinstFolders, FindsInfFilesByTheirRealExtensionAndSkipsLinks) {
    fake_system system;
    system.folders[L"D:\\p\\"] = {
        {L"z.INF", false, false},   {L"sub", true, false},       {L"a.inf", false, false},
        {L"readme.info", false, false}, {L"setup.inf.bak", false, false}, {L"loop", true, true},
        {L"dir.inf", true, false},  {L".inf", false, false},
    };
    system.folders[L"D:\\p\\sub"] = {{L"b.inf", false, false}};
    system.folders[L"D:\\p\\loop"] = {{L"never.inf", false, false}};
    system.folders[L"D:\\p\\dir.inf"] = {};
    EXPECT_EQ(find_inf_files(system, L"D:\\p\\"),
              (std::vector<std::wstring>{L"D:\\p\\a.inf", L"D:\\p\\z.INF", L"D:\\p\\sub\\b.inf"}));
    EXPECT_TRUE(find_inf_files(system, L"D:\\missing").empty());
}
