// The scan request of quillmark.exe from outside, through the real start-up
// order: the system information arrives after the first frame, the scan
// after it. The reference update service keeps the request document, which
// must be the machine's own, byte for byte. Needs a display.
#include <gtest/gtest.h>

#include <string>

#include "app_test_support.h"
#include "common/reference_service.h"
#include "common/scratch_folder.h"
#include "devices/device_store.h"
#include "platform/machine_profile.h"
#include "platform/profile_device_source.h"
#include "platform/text.h"
#include "service/scan_request.h"

namespace {

TEST(ScanRequestOfTheProgram, IsTheMachinesDocumentWithItsModel) {
    reference_service* service = reference_service::get();
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(service->reset());
    ASSERT_TRUE(program_ready_to_start());
    clean_program_settings settings_guard;

    // The example PC, named by a model that needs escaping and the ANSI code page.
    std::string xml = read_file_bytes(QM_SOURCE_DIR_W L"\\profiles\\example-pc.xml");
    const std::string example_model = "model=\"2349K3G\"";
    const std::size_t at = xml.find(example_model);
    ASSERT_NE(at, std::string::npos);
    xml.replace(at, example_model.size(), "model=\"ThinkPad T420s Pr\xc3\xa4zision &lt;A&amp;B&gt;\"");
    scratch_folder scratch;
    const std::wstring profile_path = scratch / L"t420s.xml";
    ASSERT_TRUE(write_file_bytes(profile_path, xml));

    machine_profile profile;
    ASSERT_TRUE(load_machine_profile(profile_path.c_str(), profile));
    profile_device_source source(&profile);
    device_store store;
    scan_progress progress;
    ASSERT_TRUE(enumerate_devices(store, progress, source));
    scan_query_params params;
    params.os_code_name = "WIN764";
    params.model = L"ThinkPad T420s Pr\u00e4zision <A&B>";
    params.language_code = static_cast<int32_t>(GetOEMCP());
    const std::string expected = build_scan_request(store, params);
    ASSERT_NE(expected.find("model=\"ThinkPad T420s Pr\xe4zision &lt;A&amp;B&gt;\""), std::string::npos);

    const std::string mirror = service->mirror_url(1);
    SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", utf8_to_wide(mirror + ";" + mirror + ";" + mirror).c_str());
    wchar_t saved_profile[MAX_PATH] = {};
    GetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", saved_profile, MAX_PATH);
    SetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", profile_path.c_str());
    child_process process;
    const bool started = process.start(program, L"--autoscan", program_folder);
    SetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", saved_profile);
    SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", nullptr);
    ASSERT_TRUE(started);
    HWND window = wait_for_window(process).main;
    ASSERT_NE(window, nullptr);
    for (DWORD waited = 0; waited < START_TIMEOUT_MS && main_state_of(window) != 3; waited += 100)
        Sleep(100);
    EXPECT_EQ(main_state_of(window), 3);
    process.kill();
    process.wait(EXIT_TIMEOUT_MS);

    const std::string sent = service->last_request();
    EXPECT_TRUE(sent == expected) << sent.substr(0, 400);
}

}  // namespace
