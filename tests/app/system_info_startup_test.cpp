// The system-information step with the machine profile this test program
// uses (win7-pc.xml, see startup_test.cpp): the profile's `system` items
// replace what WMI reports, the others come from Wine's WMI service.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

#include "app/app_init.h"
#include "devices/system_info.h"
#include "platform/machine_profile.h"
#include "platform/system_source.h"
#include "platform/text.h"

namespace {

TEST(SystemInfoWithProfile, ProfileItemsReplaceTheWmiFields) {
    const active_profile& active = machine_profile_in_use();
    ASSERT_EQ(active.status, profile_status::loaded) << wide_to_utf8(active.error);
    ASSERT_TRUE(active.profile.system);

    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(com));
    machine_info = machine_info_record{};
    int result = collect_system_info(machine_info);
    CoUninitialize();
    ASSERT_EQ(result, 0);

    EXPECT_EQ(machine_info.cpu, L"Test CPU @ 2.50GHz");
    EXPECT_EQ(machine_info.memory, L"8.00G");
    EXPECT_EQ(machine_info.model, L"Test Model 7");
    EXPECT_EQ(machine_info.sound, L"");  // present and empty
    // Not in the profile: WMI's values.
    EXPECT_NE(machine_info.os.find(L" Build "), std::wstring::npos) << wide_to_utf8(machine_info.os);
    EXPECT_FALSE(machine_info.storage.empty());
}

TEST(SystemInfoWithProfile, WindowsElementGivesTheCodeNameAndVersion) {
    // win7-pc.xml: Windows 7 Professional 6.1 SP1, workstation, AMD64, the
    // program under WOW64.
    set_system_source(nullptr);
    ASSERT_EQ(capture_environment(), 0);
    EXPECT_EQ(os_kind, 8);
    EXPECT_EQ(os_version_number(), 61);
    EXPECT_TRUE(is_64bit_windows());
    EXPECT_STREQ(os_code_name(), "WIN764");
}

}  // namespace
