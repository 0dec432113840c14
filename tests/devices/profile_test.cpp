#include <cstdio>

#include "common/page_end_text.h"
#include "scan_fixture.h"
#include "ui/scan_window.h"

namespace {

std::wstring parse_error(const std::string& xml) {
    machine_profile profile;
    std::wstring error;
    EXPECT_FALSE(parse_machine_profile(xml.c_str(), profile, &error)) << xml;
    EXPECT_TRUE(profile.devices.empty() && profile.classes.empty());
    return error;
}

std::string in_device(const std::string& inner, const std::string& attributes = "") {
    return "<machine><device id=\"A\\B\\1\" " + attributes + ">" + inner + "</device></machine>";
}

}  // namespace

TEST(machine_profile, reads_the_documented_format) {
    const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<machine>
  <windows major="6" minor="1" build="7601" platform="2" product_type="1"
           service_pack="Service Pack 1" server_r2="0" arch="9" wow64="1"/>
  <system cpu="Intel(R) Core(TM) i5-3320M CPU @ 2.60GHz" os="Microsoft Windows 7 Professional"
          memory="8589934592" storage="ST500LM012" display="" model="2349K3G"/>
  <class guid="{4D36E968-E325-11CE-BFC1-08002BE10318}" name="Display" description="Display adapters" image="23"/>
  <class guid="{4D36E97E-E325-11CE-BFC1-08002BE10318}"/>
  <!-- a comment is fine -->
  <device id="PCI\VEN_8086&amp;DEV_0166\3&amp;21436425&amp;0&amp;10" present="0" friendly="" desc="Grafik – Intel®"
          enumerator="PCI" class="Display" class_guid="{4D36E968-E325-11CE-BFC1-08002BE10318}">
    <hardware_id>PCI\VEN_8086&amp;DEV_0166&amp;REV_09</hardware_id>
    <hardware_id></hardware_id>
    <driver rank="0x00FF0001">
      <value name="DriverVersion">9.17.10.2867</value>
      <value name="CoInstallers32" type="REG_MULTI_SZ">x</value>
      <value name="Empty"/>
      <value name="Spaced">  two   words
      </value>
    </driver>
  </device>
  <device/>
</machine>)";
    machine_profile p;
    std::wstring error;
    ASSERT_TRUE(parse_machine_profile(xml, p, &error)) << wide_text(error);

    ASSERT_TRUE(p.windows);
    EXPECT_EQ(*p.windows->major, 6u);
    EXPECT_EQ(*p.windows->build, 7601u);
    EXPECT_EQ(*p.windows->product_type, 1);
    EXPECT_EQ(*p.windows->service_pack, L"Service Pack 1");
    EXPECT_EQ(*p.windows->arch, 9);
    EXPECT_TRUE(*p.windows->wow64);
    ASSERT_TRUE(p.system);
    EXPECT_EQ(*p.system->memory, 8589934592LL);
    EXPECT_EQ(*p.system->display, L"");  // present and empty
    EXPECT_FALSE(p.system->sound);       // absent

    ASSERT_EQ(p.classes.size(), 2u);
    EXPECT_EQ(*p.classes[0].name, L"Display");
    EXPECT_EQ(p.classes[0].image, 23);
    EXPECT_FALSE(p.classes[1].name);
    EXPECT_FALSE(p.classes[1].description);
    EXPECT_EQ(p.classes[1].image, 0);

    ASSERT_EQ(p.devices.size(), 2u);
    const profile_device& d = p.devices[0];
    EXPECT_EQ(*d.instance_id, LR"(PCI\VEN_8086&DEV_0166\3&21436425&0&10)");
    EXPECT_FALSE(d.present);
    EXPECT_EQ(*d.friendly, L"");
    EXPECT_EQ(*d.desc, L"Grafik \u2013 Intel\u00AE");  // UTF-8 to UTF-16
    ASSERT_TRUE(d.hardware_ids);
    EXPECT_EQ(d.hardware_ids->size(), 2u);
    EXPECT_EQ((*d.hardware_ids)[1], L"");
    EXPECT_FALSE(d.compatible_ids);
    ASSERT_TRUE(d.driver);
    EXPECT_EQ(*d.driver->rank, 0x00FF0001u);
    ASSERT_EQ(d.driver->values.size(), 4u);
    EXPECT_EQ(d.driver->values[0].type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(d.driver->values[1].type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(d.driver->values[2].data, L"");
    EXPECT_EQ(d.driver->values[3].data, L"two words");  // element text is folded

    const profile_device& bare = p.devices[1];
    EXPECT_FALSE(bare.instance_id);
    EXPECT_TRUE(bare.present);
    EXPECT_FALSE(bare.enumerator);
    EXPECT_FALSE(bare.hardware_ids);
    EXPECT_FALSE(bare.driver);
}

TEST(machine_profile, numbers_are_checked) {
    machine_profile p;
    ASSERT_TRUE(parse_machine_profile(in_device("<driver rank=\"16711681\"/>").c_str(), p));
    EXPECT_EQ(*p.devices[0].driver->rank, 0x00FF0001u);
    ASSERT_TRUE(parse_machine_profile(in_device("<driver rank=\"0xFFFFFFFF\"/>").c_str(), p));
    EXPECT_EQ(*p.devices[0].driver->rank, 0xFFFFFFFFu);
    ASSERT_TRUE(parse_machine_profile("<machine><system memory=\"9223372036854775807\"/></machine>", p));
    EXPECT_EQ(*p.system->memory, INT64_MAX);

    for (const char* rank : {"abc", "", "0x", "-1", " 1", "1 ", "4294967296", "0x100000000", "1e3"}) {
        std::wstring error = parse_error(in_device(std::string("<driver rank=\"") + rank + "\"/>"));
        EXPECT_NE(error.find(L"line 1"), std::wstring::npos) << rank;
        EXPECT_NE(error.find(L"rank"), std::wstring::npos) << rank;
    }
    parse_error("<machine><system memory=\"9223372036854775808\"/></machine>");
    parse_error("<machine><system memory=\"0x10\"/></machine>");
    parse_error("<machine><windows product_type=\"256\"/></machine>");
    parse_error("<machine><windows arch=\"65536\"/></machine>");
    parse_error("<machine><windows wow64=\"yes\"/></machine>");
    parse_error(in_device("", "present=\"2\""));
    parse_error("<machine><class guid=\"{4D36E968-E325-11CE-BFC1-08002BE10318}\" image=\"x\"/></machine>");
}

TEST(machine_profile, mistakes_give_clear_errors) {
    EXPECT_NE(parse_error("<machine><device id=\"x\"></machine>").find(L"not well-formed"),
              std::wstring::npos);
    EXPECT_NE(parse_error("").find(L"line"), std::wstring::npos);
    EXPECT_NE(parse_error("<computer/>").find(L"<machine>"), std::wstring::npos);
    EXPECT_NE(parse_error("<machine><devcie/></machine>").find(L"<devcie>"), std::wstring::npos);
    EXPECT_NE(parse_error(in_device("", "frendly=\"x\"")).find(L"frendly"), std::wstring::npos);
    EXPECT_NE(parse_error(in_device("<hardwareid>x</hardwareid>")).find(L"<hardwareid>"),
              std::wstring::npos);
    EXPECT_NE(parse_error(in_device("<driver><value>x</value></driver>")).find(L"name"),
              std::wstring::npos);
    EXPECT_NE(parse_error(in_device("<driver><value name=\"a\" type=\"REG_TEXT\"/></driver>"))
                  .find(L"REG_TEXT"),
              std::wstring::npos);
    parse_error(in_device("<driver><value name=\"InfPath\">a</value><value name=\"infpath\">b</value></driver>"));
    parse_error(in_device("<driver/><driver/>"));
    parse_error(in_device("<hardware_id><b>x</b></hardware_id>"));
    parse_error("<machine><windows/><windows/></machine>");
    parse_error("<machine><class/></machine>");
    parse_error("<machine><class guid=\"4D36E968-E325-11CE-BFC1-08002BE10318\"/></machine>");
    parse_error("<machine><class guid=\"{4D36E968-E325-11CE-BFC1-08002BE1031G}\"/></machine>");
    parse_error(
        "<machine><class guid=\"{4D36E968-E325-11CE-BFC1-08002BE10318}\"/>"
        "<class guid=\"{4d36e968-e325-11ce-bfc1-08002be10318}\"/></machine>");
    parse_error("<machine/><machine/>");
}

TEST(machine_profile, driver_store_mistakes_give_clear_errors) {
    auto store = [](const std::string& inner, const std::string& attributes = "root=\"R\" inf_folder=\"I\"") {
        return "<machine><driver_store " + attributes + ">" + inner + "</driver_store></machine>";
    };
    machine_profile profile;
    ASSERT_TRUE(parse_machine_profile(
        store("<package folder=\"Net.INF_x86_1\" inf=\"oem1.inf\"><file name=\"a\\b.sys\" size=\"7\"/></package>")
            .c_str(),
        profile));
    ASSERT_TRUE(profile.driver_store);
    EXPECT_EQ(profile.driver_store->packages[0].files[0].name, L"a\\b.sys");
    EXPECT_EQ(profile.driver_store->packages[0].files[0].size, 7u);
    EXPECT_EQ(profile_store_inf(L"Net.INF_x86_1"), L"Net.INF");

    EXPECT_NE(parse_error(store("", "root=\"R\"")).find(L"inf_folder"), std::wstring::npos);
    EXPECT_NE(parse_error(store("<package folder=\"net_x86\" inf=\"oem1.inf\"/>")).find(L"net_x86"),
              std::wstring::npos);
    EXPECT_NE(parse_error(store("<package folder=\"a\\net.inf\" inf=\"oem1.inf\"/>")).find(L"separator"),
              std::wstring::npos);
    EXPECT_NE(parse_error(store("<package folder=\"net.inf_1\"/>")).find(L"oem12.inf"), std::wstring::npos);
    parse_error(store("<package folder=\"net.inf_1\" inf=\"oem1.inf\"><file name=\"..\\x\"/></package>"));
    parse_error(store("<package folder=\"net.inf_1\" inf=\"oem1.inf\"><file name=\"x\" size=\"-1\"/></package>"));
    parse_error(store("<device/>"));
    parse_error("<machine><driver_store root=\"R\" inf_folder=\"I\"/><driver_store root=\"R\" inf_folder=\"I\"/></machine>");
}

TEST(machine_profile, files_that_cannot_be_read_are_reported) {
    machine_profile p;
    std::wstring error;
    const wchar_t* missing = QM_BINARY_DIR_W L"\\no-such-profile.xml";
    EXPECT_FALSE(load_machine_profile(missing, p, &error));
    EXPECT_NE(error.find(missing), std::wstring::npos);

    std::wstring path = QM_BINARY_DIR_W L"\\test-profile-nul.xml";
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fwrite("<machine>\0</machine>", 1, 20, f);
    std::fclose(f);
    EXPECT_FALSE(load_machine_profile(path.c_str(), p, &error));
    _wremove(path.c_str());
}

TEST(machine_profile, registry_value_names_ignore_letter_case) {
    machine_profile p;
    ASSERT_TRUE(parse_machine_profile(
        in_device("<driver><value name=\"infpath\">oem1.inf</value><value name=\"DriverDesc\" "
                  "type=\"REG_EXPAND_SZ\">d</value></driver>")
            .c_str(),
        p));
    profile_device_source source(&p);
    ASSERT_TRUE(source.open_device_set(false));
    ASSERT_EQ(source.select_device(0), walk_result::ok);
    ASSERT_TRUE(source.open_driver_key());
    std::wstring value;
    EXPECT_TRUE(source.driver_value(L"InfPath", value));
    EXPECT_EQ(value, L"oem1.inf");
    EXPECT_FALSE(source.driver_value(L"DriverDesc", value));  // not REG_SZ
    EXPECT_FALSE(source.driver_value(L"DriverDate", value));
    EXPECT_EQ(source.select_device(1), walk_result::end);
}

TEST(machine_profile, stray_text_in_a_container_is_refused_at_its_line) {
    const struct {
        std::string xml;
        std::wstring error;
    } rows[] = {
        {"<machine>\n<device id=\"A\\B\\1\">\n  PCI\\VEN_1\n</device>\n</machine>",
         L"line 3: stray text \"PCI\\VEN_1\" in <device>"},
        {"<machine>\nstray\n<device/>\n</machine>", L"line 2: stray text \"stray\" in <machine>"},
        {"<machine><device><driver>\n\n<value name=\"a\"/>oops</driver></device></machine>",
         L"line 3: stray text \"oops\" in <driver>"},
        {"<machine><windows>7</windows></machine>", L"line 1: stray text \"7\" in <windows>"},
        {"<machine><system><![CDATA[x]]></system></machine>", L"line 1: stray text \"x\" in <system>"},
        {"<machine><class guid=\"{4D36E968-E325-11CE-BFC1-08002BE10318}\">Display</class></machine>",
         L"line 1: stray text \"Display\" in <class>"},
        {"<machine>\n<device>\n" + std::string(60, 'x') + "<hardware_id/></device></machine>",
         L"line 3: stray text \"" + std::wstring(37, L'x') + L"...\" in <device>"},
    };
    for (const auto& row : rows) {
        std::wstring error = parse_error(row.xml);
        EXPECT_EQ(error, row.error) << wide_text(error);
    }
    // Blanks and comments between elements are no text.
    machine_profile p;
    ASSERT_TRUE(parse_machine_profile("<machine>\n  <!-- c -->\n  <device>\n\t<hardware_id> a \n b </hardware_id>"
                                      "<hardware_id><![CDATA[ c  d ]]></hardware_id>\n  </device>\n</machine>",
                                      p));
    EXPECT_EQ((*p.devices[0].hardware_ids)[0], L"a b");  // element text is folded
    EXPECT_EQ((*p.devices[0].hardware_ids)[1], L" c  d ");  // a CDATA section as written
}

TEST(machine_profile, broken_documents_report_their_real_line) {
    const struct {
        const char* xml;
        int line;
    } rows[] = {
        {"<machine>\n<device id=\"x\">\n</machine>", 3},       // the wrong end tag
        {"<machine>\n<device>\n<hardware_id>x", 3},           // the text never ends
        {"<machine>\n\n<device id=\"x\n", 3},                 // nor the attribute
        {"<machine>\n<device>\n</device>\n", 4},              // nor the document element
        {"\n\n  not xml\n", 3},                               // no element at all
        {"<machine>\n<!-- open\n", 3},                      // the end, where reading stopped
        {"", 1},
    };
    for (const auto& row : rows) {
        std::wstring error = parse_error(row.xml);
        EXPECT_EQ(error.rfind(L"line " + std::to_wstring(row.line) + L":", 0), 0u)
            << row.xml << " -> " << wide_text(error);
    }
}

TEST(machine_profile, deep_nesting_and_a_lead_byte_at_the_end_are_refused_safely) {
    std::string deep = "<machine>\n";
    for (int i = 0; i < 20000; ++i) deep += "<device>";
    std::wstring error = parse_error(deep);
    EXPECT_EQ(error, L"line 2: elements are nested deeper than 64 levels");

    for (const char* xml : {"<machine>\xF0", "<machine><device id=\"\xE2", "<?xml version=\"1.0\xF0"}) {
        page_end_text text(xml);
        ASSERT_NE(text.c_str(), nullptr);
        machine_profile p;
        EXPECT_FALSE(parse_machine_profile(text.c_str(), p)) << xml;
    }
}

TEST(machine_profile, the_scan_error_box_says_why_a_profile_was_refused) {
    active_profile profile;
    EXPECT_EQ(scan_devices_error_text(profile), L"Scan Devices Error");
    profile.status = profile_status::broken;
    profile.error = L"C:\\case.xml: line 3: <device> holds no text";
    profile.reason = L"line 3: <device> holds no text";
    EXPECT_EQ(scan_devices_error_text(profile), L"Scan Devices Error\nline 3: <device> holds no text");
}
