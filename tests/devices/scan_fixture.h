// Shared pieces of the device tests: inline machine profiles and a source
// that can fail where the platform can.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/device_store.h"
#include "platform/text.h"
#include "platform/machine_profile.h"
#include "platform/profile_device_source.h"

// For failure messages: the profile parser's messages are ASCII.
inline std::string wide_text(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow.push_back(c < 128 ? static_cast<char>(c) : '?');
    return narrow;
}

// A class list with the classes the rules name, plus two others.
inline const char* const standard_classes = R"(
  <class guid="{4D36E968-E325-11CE-BFC1-08002BE10318}" name="Display" description="Display adapters" image="23"/>
  <class guid="{4D36E97D-E325-11CE-BFC1-08002BE10318}" name="System" description="System devices" image="24"/>
  <class guid="{4D36E97E-E325-11CE-BFC1-08002BE10318}" name="Unknown" description="Other devices" image="18"/>
  <class guid="{50127DC3-0F36-415E-A6CC-4CB3BE910B65}" name="Processor" description="Processors"/>
  <class guid="{72631E54-78A4-11D0-BCF7-00AA00B7B32A}" name="Battery" description="Batteries"/>
  <class guid="{4D36E967-E325-11CE-BFC1-08002BE10318}" name="DiskDrive" description="Disk drives"/>
  <class guid="{8ECC055D-047F-11D1-A537-0000F8753ED1}" name="LegacyDriver" description="Non-Plug and Play Drivers"/>
  <class guid="{4D36E972-E325-11CE-BFC1-08002BE10318}" name="Net" description="Network adapters"/>
  <class guid="{11111111-2222-3333-4444-555555555555}" name="legacydriver" description="Lower-case legacy"/>
)";

// All six driver values; rank 0x00FF0001.
inline const char* const full_driver = R"(
    <driver rank="0x00FF0001">
      <value name="DriverVersion">9.17.10.2867</value>
      <value name="InfPath">oem12.inf</value>
      <value name="DriverDate">10-3-2012</value>
      <value name="DriverDesc">Intel(R) HD Graphics 4000</value>
      <value name="MatchingDeviceId">PCI\VEN_8086&amp;DEV_0166</value>
      <value name="ProviderName">Intel Corporation</value>
    </driver>)";

// One device element. class_name "" leaves out class and class_guid.
inline std::string device_xml(const std::string& id, const std::string& enumerator,
                              const std::string& class_name, const std::string& driver,
                              const std::string& extra_attributes = "") {
    std::string xml = "<device id=\"" + id + "\" desc=\"Device " + id + "\" enumerator=\"" +
                      enumerator + "\"";
    if (!class_name.empty())
        xml += " class=\"" + class_name + "\" class_guid=\"{4D36E968-E325-11CE-BFC1-08002BE10318}\"";
    xml += " " + extra_attributes + ">";
    std::string hardware = id.substr(0, id.rfind('\\'));  // the device part of the instance ID
    xml += "<hardware_id>" + hardware + "&amp;REV_01</hardware_id><hardware_id>" + hardware +
           "</hardware_id><compatible_id>CC_0300</compatible_id>";
    return xml + driver + "</device>\n";
}

// A profile source whose class list, device set or walk can fail, and that
// tells whether its device set is still open.
class failing_source : public profile_device_source {
public:
    using profile_device_source::profile_device_source;
    bool fail_class_list = false;
    DWORD walk_error_at = MAXDWORD;
    bool set_open = false;

    bool class_guids(std::vector<GUID>& out) override {
        if (fail_class_list) return false;
        return profile_device_source::class_guids(out);
    }
    bool open_device_set(bool include_non_present) override {
        set_open = profile_device_source::open_device_set(include_non_present);
        return set_open;
    }
    void close_device_set() override {
        set_open = false;
        profile_device_source::close_device_set();
    }
    walk_result select_device(DWORD index) override {
        if (index >= walk_error_at) return walk_result::error;
        return profile_device_source::select_device(index);
    }
};

class scan_test : public ::testing::Test {
protected:
    machine_profile profile;
    device_store store;
    scan_progress progress;

    void load(const std::string& devices, const std::string& classes = standard_classes) {
        std::string xml = "<machine>" + classes + devices + "</machine>";
        std::wstring error;
        ASSERT_TRUE(parse_machine_profile(xml.c_str(), profile, &error)) << wide_text(error);
    }
    bool scan(const std::string& devices, bool include_non_present = false,
              const std::string& classes = standard_classes) {
        load(devices, classes);
        profile_device_source source(&profile);
        reset_scan_progress(progress, include_non_present);
        return enumerate_devices(store, progress, source);
    }
    std::vector<std::wstring> kept_ids() const {
        std::vector<std::wstring> ids;
        for (const device_record& r : store.devices) ids.push_back(r.device_id);
        return ids;
    }
};
