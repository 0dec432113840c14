#include "app/globals.h"
#include "platform/text.h"
#include "scan_fixture.h"

using ::testing::ElementsAre;

TEST_F(scan_test, keep_and_drop_rules) {
    std::string devices =
        // kept: an ordinary PCI device with a driver
        device_xml(R"(PCI\VEN_8086&amp;DEV_0166\3&amp;1)", "PCI", "Display", full_driver) +
        // root-enumerated, ISA plug-and-play: dropped with a driver, in any letter case
        device_xml(R"(ROOT\SOFTDEV\0000)", "ROOT", "System", full_driver) +
        device_xml(R"(ROOT\LOWER\0000)", "root", "System", full_driver) +
        device_xml(R"(ISAPNP\READDATAPORT\0)", "IsaPnp", "System", full_driver) +
        // disk drives: dropped
        device_xml(R"(IDE\DISKST500\5&amp;1)", "IDE", "DiskDrive", full_driver) +
        // ACPI system devices and processors dropped; another ACPI class kept
        device_xml(R"(ACPI\PNP0C09\0)", "ACPI", "System", full_driver) +
        device_xml(R"(ACPI\GENUINEINTEL\_0)", "acpi", "Processor", full_driver) +
        device_xml(R"(ACPI\PNP0C0A\1)", "ACPI", "Battery", full_driver) +
        // legacy drivers: "LegacyDriver" exactly is dropped even without a driver;
        // another letter case is just another class
        device_xml(R"(ROOT\LEGACY_BEEP\0000)", "ROOT", "LegacyDriver", "") +
        device_xml(R"(ROOT\LEGACY_LOWER\0000)", "ROOT", "legacydriver", "") +
        // the class lookup is exact: "display" is not a class of this machine
        device_xml(R"(PCI\LOWERCLASS\1)", "PCI", "display", full_driver) +
        // a root-enumerated device without a driver key is kept
        device_xml(R"(ROOT\NODRIVER\0000)", "ROOT", "System", "");
    ASSERT_TRUE(scan(devices));
    EXPECT_THAT(kept_ids(), ElementsAre(LR"(PCI\VEN_8086&DEV_0166)", LR"(ACPI\PNP0C0A)",
                                        LR"(ROOT\LEGACY_LOWER)", LR"(ROOT\NODRIVER)"));
    EXPECT_EQ(store.devices[0].has_driver, 1);
    EXPECT_EQ(store.devices[2].has_driver, 0);
    EXPECT_STREQ(store.devices[2].class_info->name, L"legacydriver");
}

TEST_F(scan_test, identity_properties_are_required_except_class) {
    const char* ids = "<hardware_id>H</hardware_id><compatible_id>C</compatible_id>";
    std::string devices = std::string() +
        // friendly name preferred, device description as fallback
        R"(<device id="A\B\1" friendly="Friendly" desc="Desc" enumerator="PCI">)" + ids + "</device>" +
        R"(<device id="A\C\1" desc="Desc only" enumerator="PCI">)" + ids + "</device>" +
        // no name at all, no enumerator, no instance ID: dropped
        R"(<device id="A\D\1" enumerator="PCI">)" + ids + "</device>" +
        R"(<device id="A\E\1" desc="x">)" + ids + "</device>" +
        R"(<device desc="x" enumerator="PCI">)" + ids + "</device>" +
        // no hardware IDs, or no compatible IDs: dropped
        R"(<device id="A\F\1" desc="x" enumerator="PCI"><compatible_id>C</compatible_id></device>)" +
        R"(<device id="A\G\1" desc="x" enumerator="PCI"><hardware_id>H</hardware_id></device>)" +
        // empty lists are lists: kept
        R"(<device id="A\H\1" desc="x" enumerator="PCI"><hardware_id/><compatible_id/></device>)";
    ASSERT_TRUE(scan(devices));
    ASSERT_THAT(kept_ids(), ElementsAre(LR"(A\B)", LR"(A\C)", LR"(A\H)"));
    EXPECT_STREQ(store.devices[0].display_name, L"Friendly");
    EXPECT_STREQ(store.devices[1].display_name, L"Desc only");
    EXPECT_TRUE(multi_string_entries(store.devices[2].hardware_ids).empty());
    EXPECT_FALSE(store.devices[2].hardware_ids.empty());  // present, with no entries
}

TEST_F(scan_test, device_id_is_cut_at_the_last_backslash) {
    std::string devices = device_xml(R"(NOBACKSLASH)", "PCI", "Display", "") +
                          device_xml(R"(\ONLYFIRST)", "PCI", "Display", "") +
                          device_xml(R"(A\)", "PCI", "Display", "") +
                          device_xml(R"(\A\B)", "PCI", "Display", "") +
                          device_xml(R"(USB\VID_1&amp;PID_2\5&amp;3&amp;0&amp;1)", "USB", "Display", "");
    ASSERT_TRUE(scan(devices));
    EXPECT_THAT(kept_ids(), ElementsAre(L"A", LR"(\A)", LR"(USB\VID_1&PID_2)"));
}

TEST_F(scan_test, instances_with_one_device_id_fold_into_one_record) {
    std::string devices =
        device_xml(R"(USB\VID_8087&amp;PID_0024\5&amp;1)", "USB", "Display", full_driver) +
        device_xml(R"(ROOT\ISATAP\0000)", "ROOT", "Net", full_driver) +  // dropped: no record to fold into
        device_xml(R"(USB\VID_8087&amp;PID_0024\5&amp;2)", "USB", "Display", full_driver) +
        device_xml(R"(ROOT\ISATAP\0001)", "ROOT", "Net", full_driver) +
        // folding compares exactly; other letter case is another device
        device_xml(R"(usb\vid_8087&amp;pid_0024\5&amp;3)", "USB", "Display", full_driver) +
        // a non-present instance counts only when non-present devices are included
        device_xml(R"(USB\VID_8087&amp;PID_0024\5&amp;4)", "USB", "Display", full_driver,
                   "present=\"0\"");
    ASSERT_TRUE(scan(devices));
    ASSERT_THAT(kept_ids(), ElementsAre(LR"(USB\VID_8087&PID_0024)", LR"(usb\vid_8087&pid_0024)"));
    EXPECT_EQ(store.devices[0].instance_count, 2);
    EXPECT_EQ(store.devices[1].instance_count, 1);
    EXPECT_EQ(progress.total.load(), 5);

    ASSERT_TRUE(scan(devices, true));
    EXPECT_EQ(store.devices[0].instance_count, 3);
    EXPECT_EQ(progress.total.load(), 6);
}

TEST_F(scan_test, class_list_is_named_sorted_and_complete) {
    const char* classes = R"(
      <class guid="{00000000-0000-0000-0000-000000000001}" name="b" description="b" image="7"/>
      <class guid="{00000000-0000-0000-0000-000000000002}" name="B" description="B"/>
      <class guid="{00000000-0000-0000-0000-000000000003}" description="has no name"/>
      <class guid="{4d36e97e-e325-11ce-bfc1-08002be10318}" name="Unknown" description="Other devices"/>
      <class guid="{00000000-0000-0000-0000-000000000004}" name="AVeryLongClassNameOfMoreThan31Characters"/>
    )";
    ASSERT_TRUE(scan("", false, classes));
    ASSERT_EQ(store.classes.size(), 4u);
    // ordinal: the empty description first, upper case before lower case
    EXPECT_STREQ(store.classes[0].description, L"");
    EXPECT_STREQ(store.classes[0].name, L"AVeryLongClassNameOfMoreThan31C");
    EXPECT_STREQ(store.classes[1].description, L"B");
    EXPECT_STREQ(store.classes[2].description, L"Other devices");
    EXPECT_STREQ(store.classes[2].guid_text, L"{4D36E97E-E325-11CE-BFC1-08002BE10318}");
    EXPECT_STREQ(store.classes[3].name, L"b");
    EXPECT_EQ(store.classes[3].image_index, 7);
    EXPECT_EQ(store.classes[1].image_index, 0);
    EXPECT_EQ(store.classes[1].image_list, nullptr);  // the store has no image list
}

TEST_F(scan_test, devices_without_a_class_belong_to_unknown) {
    std::string devices =
        device_xml(R"(PCI\VEN_1180&amp;DEV_E823\4&amp;1)", "PCI", "", full_driver) +
        // a class name without a class GUID counts as no class: the driver key is not read
        R"(<device id="PCI\NOGUID\1" desc="x" enumerator="PCI" class="Display">
             <hardware_id>H</hardware_id><compatible_id>C</compatible_id>)" +
        std::string(full_driver) + "</device>";
    ASSERT_TRUE(scan(devices));
    ASSERT_EQ(store.devices.size(), 2u);
    for (const device_record& r : store.devices) {
        EXPECT_STREQ(r.class_info->name, L"Unknown");
        EXPECT_EQ(r.has_driver, 0);
        EXPECT_STREQ(r.DriverVersion, L"");
    }
    // A machine without a class named "Unknown" drops them.
    std::string without_unknown = standard_classes;
    without_unknown.erase(without_unknown.find("<class guid=\"{4D36E97E"),
                          without_unknown.find("<class guid=\"{50127DC3") -
                              without_unknown.find("<class guid=\"{4D36E97E"));
    ASSERT_TRUE(scan(devices, false, without_unknown));
    EXPECT_TRUE(store.devices.empty());
}

TEST_F(scan_test, driver_key_reading_stops_at_the_first_missing_value) {
    auto driver = [](const std::string& values, const char* rank = "7") {
        return std::string("<driver rank=\"") + rank + "\">" + values + "</driver>";
    };
    std::string devices =
        // DriverDate missing: the two values before it stay, nothing after it is read
        device_xml(R"(ROOT\A\0)", "ROOT", "System", driver(R"(
            <value name="DriverVersion">1.0</value><value name="InfPath">oem1.inf</value>
            <value name="DriverDesc">desc</value><value name="MatchingDeviceId">m</value>)")) +
        // a value of another type is as good as missing
        device_xml(R"(ROOT\B\0)", "ROOT", "System", driver(R"(
            <value name="DriverVersion" type="REG_DWORD">1</value><value name="InfPath">oem1.inf</value>)")) +
        // ProviderName is optional; the rank is read with a complete key
        device_xml(R"(PCI\C\0)", "PCI", "System", driver(R"(
            <value name="DriverVersion">2.0</value><value name="InfPath">oem2.inf</value>
            <value name="DriverDate">6-21-2006</value><value name="DriverDesc">d</value>
            <value name="MatchingDeviceId">PCI\C</value>)")) +
        // a complete key without a readable rank: rank 0
        device_xml(R"(PCI\D\0)", "PCI", "System", R"(<driver>
            <value name="DriverVersion">2.0</value><value name="InfPath">oem2.inf</value>
            <value name="DriverDate">6-21-2006</value><value name="DriverDesc">d</value>
            <value name="MatchingDeviceId">PCI\D</value></driver>)") +
        // no driver key at all
        device_xml(R"(PCI\E\0)", "PCI", "System", "");
    ASSERT_TRUE(scan(devices));
    ASSERT_EQ(store.devices.size(), 5u);

    const device_record& partial = store.devices[0];
    EXPECT_EQ(partial.has_driver, 0);
    EXPECT_STREQ(partial.DriverVersion, L"1.0");
    EXPECT_STREQ(partial.InfPath, L"oem1.inf");
    EXPECT_STREQ(partial.DriverDesc, L"");
    EXPECT_STREQ(partial.MatchingDeviceId, L"");
    EXPECT_EQ(partial.driver_rank, 0u);  // the rank is read only for a complete key

    EXPECT_EQ(store.devices[1].has_driver, 0);
    EXPECT_STREQ(store.devices[1].DriverVersion, L"");
    EXPECT_STREQ(store.devices[1].InfPath, L"");

    const device_record& complete = store.devices[2];
    EXPECT_EQ(complete.has_driver, 1);
    EXPECT_STREQ(complete.DriverDate, L"2006-06-21");
    EXPECT_STREQ(complete.ProviderName, L"");
    EXPECT_EQ(complete.driver_rank, 7u);
    EXPECT_EQ(store.devices[3].has_driver, 1);
    EXPECT_EQ(store.devices[3].driver_rank, 0u);
    EXPECT_EQ(store.devices[4].has_driver, 0);
}

TEST_F(scan_test, a_complete_record_has_every_field) {
    ASSERT_TRUE(scan(device_xml(R"(PCI\VEN_8086&amp;DEV_0166\3&amp;1)", "PCI", "Display", full_driver)));
    ASSERT_EQ(store.devices.size(), 1u);
    const device_record& r = store.devices[0];
    EXPECT_STREQ(r.device_id, LR"(PCI\VEN_8086&DEV_0166)");
    EXPECT_STREQ(r.class_name, L"Display");
    EXPECT_STREQ(r.class_guid, L"{4D36E968-E325-11CE-BFC1-08002BE10318}");
    EXPECT_STREQ(r.enumerator, L"PCI");
    EXPECT_THAT(multi_string_entries(r.hardware_ids),
                ElementsAre(LR"(PCI\VEN_8086&DEV_0166&REV_01)", LR"(PCI\VEN_8086&DEV_0166)"));
    EXPECT_THAT(multi_string_entries(r.compatible_ids), ElementsAre(L"CC_0300"));
    EXPECT_EQ(r.hardware_ids.back(), L'\0');
    EXPECT_EQ(r.instance_count, 1);
    EXPECT_STREQ(r.DriverVersion, L"9.17.10.2867");
    EXPECT_STREQ(r.InfPath, L"oem12.inf");
    EXPECT_STREQ(r.DriverDate, L"2012-10-03");
    EXPECT_STREQ(r.DriverDesc, L"Intel(R) HD Graphics 4000");
    EXPECT_STREQ(r.MatchingDeviceId, LR"(PCI\VEN_8086&DEV_0166)");
    EXPECT_STREQ(r.ProviderName, L"Intel Corporation");
    EXPECT_EQ(r.driver_rank, 0x00FF0001u);
    EXPECT_EQ(r.has_driver, 1);
    EXPECT_STREQ(r.class_info->description, L"Display adapters");
    EXPECT_EQ(r.class_info->image_index, 23);
    EXPECT_TRUE(r.offers.empty());
    EXPECT_EQ(r.offer_count, 0u);
    EXPECT_EQ(r.best_offer, nullptr);
    EXPECT_EQ(r.latest_offer, nullptr);
    EXPECT_EQ(r.best_is_update + r.latest_is_update, 0);
}

TEST_F(scan_test, over_long_values_are_cut_to_their_fields) {
    std::string long_device(300, 'D');
    std::string long_name(1100, 'N');
    std::string long_enum(200, 'E');
    std::string devices =
        "<device id=\"PCI\\" + long_device + "\\1\" desc=\"" + long_name + "\" enumerator=\"" +
        long_enum + "\" class=\"System\" class_guid=\"{4D36E97D-E325-11CE-BFC1-08002BE10318}\">"
        "<hardware_id>H</hardware_id><compatible_id>C</compatible_id>"
        "<driver><value name=\"DriverVersion\">" + std::string(100, '9') +
        "</value><value name=\"InfPath\">" + std::string(400, 'i') +
        "</value><value name=\"DriverDate\">6-21-2006-extra</value></driver></device>" +
        // differs only past the 199 characters kept: the same device
        "<device id=\"PCI\\" + long_device + "X\\2\" desc=\"x\" enumerator=\"PCI\">"
        "<hardware_id>H</hardware_id><compatible_id>C</compatible_id></device>";
    ASSERT_TRUE(scan(devices));
    ASSERT_EQ(store.devices.size(), 1u);
    const device_record& r = store.devices[0];
    EXPECT_EQ(std::wstring(r.device_id), L"PCI\\" + std::wstring(195, L'D'));
    EXPECT_EQ(std::wstring(r.display_name).size(), 1024u);
    EXPECT_EQ(std::wstring(r.enumerator).size(), 128u);
    EXPECT_EQ(std::wstring(r.DriverVersion).size(), 64u);
    EXPECT_EQ(std::wstring(r.InfPath).size(), 259u);
    EXPECT_STREQ(r.DriverDate, L"6-21-2006-");  // cut to ten characters, not a date: left as is
    EXPECT_EQ(r.instance_count, 2);
}

TEST(driver_date, rewrites_month_day_year_to_year_month_day) {
    struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"6-21-2006", L"2006-06-21"},
        {L"12-1-2010", L"2010-12-01"},
        {L"06-01-2006", L"2006-06-01"},
        {L"1-2-3", L"3-01-02"},
        // not three numbers: left as read
        {L"", L""},
        {L"garbage", L"garbage"},
        {L"6-21", L"6-21"},
        {L"6--2006", L"6--2006"},
        {L"6-21-2006x", L"6-21-2006x"},
        {L" 6-21-2006", L" 6-21-2006"},
        {L"+6-21-2006", L"+6-21-2006"},
        {L"2006/06/21", L"2006/06/21"},
        // would not fit ten characters: left as read
        {L"12-1-99999", L"12-1-99999"},
        {L"1-100-2006", L"1-100-2006"},
        {L"9999999999", L"9999999999"},
    };
    for (const auto& c : cases) {
        wchar_t date[11];
        copy_text(date, c.in);
        rewrite_driver_date(date);
        EXPECT_STREQ(date, c.out) << "from " << wide_text(c.in);
    }
}

TEST_F(scan_test, progress_counts_instances_and_names_the_last_kept_device) {
    std::string devices =
        device_xml(R"(PCI\A\1)", "PCI", "Display", "", "friendly=\"First\"") +
        device_xml(R"(PCI\B\1)", "PCI", "Display", "", "friendly=\"Second\"") +
        device_xml(R"(ROOT\C\1)", "ROOT", "System", full_driver, "friendly=\"Dropped\"") +
        device_xml(R"(PCI\D\1)", "PCI", "Display", "", "friendly=\"Gone\" present=\"0\"");
    set_current_name(progress, L"stale");
    ASSERT_TRUE(scan(devices));
    EXPECT_EQ(progress.total.load(), 3);
    EXPECT_EQ(progress.index.load(), 3);
    EXPECT_EQ(current_name(progress), L"Second");

    ASSERT_TRUE(scan(devices, true));
    EXPECT_EQ(progress.total.load(), 4);
    EXPECT_EQ(progress.index.load(), 4);
    EXPECT_EQ(current_name(progress), L"Gone");

    ASSERT_TRUE(scan(device_xml(R"(ROOT\C\1)", "ROOT", "System", full_driver)));
    EXPECT_EQ(current_name(progress), L"");  // nothing kept yet
}

TEST_F(scan_test, failures_set_last_error_and_close_the_device_set) {
    std::string devices = device_xml(R"(PCI\A\1)", "PCI", "Display", "") +
                          device_xml(R"(PCI\B\1)", "PCI", "Display", "") +
                          device_xml(R"(PCI\C\1)", "PCI", "Display", "");
    load(devices);

    // A rescan starts from an empty store, so a failed class list leaves nothing.
    {
        profile_device_source source(&profile);
        ASSERT_TRUE(enumerate_devices(store, progress, source));
        ASSERT_EQ(store.devices.size(), 3u);
    }
    {
        failing_source source(&profile);
        source.fail_class_list = true;
        last_error = 0;
        EXPECT_FALSE(enumerate_devices(store, progress, source));
        EXPECT_EQ(last_error.load(), 16);
        EXPECT_TRUE(store.devices.empty());
        EXPECT_TRUE(store.classes.empty());
    }
    {
        failing_source source(&profile);
        source.walk_error_at = 2;
        last_error = 0;
        EXPECT_FALSE(enumerate_devices(store, progress, source));
        EXPECT_EQ(last_error.load(), 19);
        EXPECT_THAT(kept_ids(), ElementsAre(LR"(PCI\A)", LR"(PCI\B)"));
        EXPECT_EQ(progress.total.load(), 2);
        EXPECT_EQ(progress.index.load(), 2);
        EXPECT_FALSE(source.set_open);
    }
    {
        failing_source source(&profile);
        ASSERT_TRUE(enumerate_devices(store, progress, source));
        EXPECT_FALSE(source.set_open);
    }
}

TEST_F(scan_test, a_profile_that_cannot_be_read_fails_the_device_set) {
    machine_profile broken;
    std::wstring error;
    EXPECT_FALSE(parse_machine_profile("<machine><device id=", broken, &error));
    profile_device_source source(nullptr);  // what the environment's source is for a broken profile
    last_error = 0;
    EXPECT_FALSE(enumerate_devices(store, progress, source));
    EXPECT_EQ(last_error.load(), 17);
    EXPECT_TRUE(store.classes.empty());
    EXPECT_TRUE(store.devices.empty());
}
