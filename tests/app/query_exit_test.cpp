// quillmark.exe's scan against the update service: the request it sends, and
// its end after an HTTPS query and while a service holds its answer.
// Needs a display (scripts/test.sh has one).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "common/reference_service.h"
#include "common/scratch_folder.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/main_window.h"

namespace {

bool logged(reference_service& service, const std::string& line) {
    const std::vector<std::string> lines = service.log();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Presses Alt+F4 on the keyboard with `window` in front.
void press_alt_f4(HWND window) {
    SetForegroundWindow(window);
    INPUT keys[4] = {};
    const WORD codes[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = codes[i];
        keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
    }
    SendInput(4, keys, sizeof(INPUT));
}

class QueryThenExit : public ::testing::Test {
protected:
    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        ASSERT_TRUE(program_ready_to_start());
        // Closing the window ends the program (no tray, no first-close notice).
        write_reg_dword(HKEY_CURRENT_USER, L"SOFTWARE\\Vantorel", L"close_to_tray", 0);
    }
    void TearDown() override { SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", nullptr); }

    // Starts the program with a scan against `mirror` (all three mirrors)
    // and returns its main window, or null (a failure is then reported).
    HWND start_scan(const std::string& mirror) {
        const std::string mirrors = mirror + ";" + mirror + ";" + mirror;
        SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", utf8_to_wide(mirrors).c_str());
        if (!process.start(program, L"--autoscan", program_folder)) {
            ADD_FAILURE() << "cannot start quillmark.exe";
            return nullptr;
        }
        window_search found = wait_for_window(process);
        if (!found.main) ADD_FAILURE() << "quillmark.exe showed no main window";
        return found.main;
    }

    clean_program_settings settings_guard;
    reference_service* service = nullptr;
    child_process process;
};

TEST_F(QueryThenExit, ExitAfterAnHttpsQueryEndsCleanly) {
    HWND window = start_scan(service->https_url());
    ASSERT_NE(window, nullptr);
    for (DWORD waited = 0; waited < START_TIMEOUT_MS; waited += 100) {
        if (logged(*service, "https POST / range=-") && main_state_of(window) != 1) break;
        Sleep(100);
    }
    ASSERT_TRUE(logged(*service, "https POST / range=-"));
    EXPECT_EQ(main_state_of(window), 3) << "the scan over HTTPS did not succeed";

    press_alt_f4(window);
    std::optional<DWORD> code = process.wait(EXIT_TIMEOUT_MS);
    ASSERT_TRUE(code) << "quillmark.exe did not end";
    EXPECT_EQ(*code, 0u) << std::hex << "exit code 0x" << *code;
}

// The system information comes in after the first frame, the scan after
// it: the request names the model it gave, in the ANSI code page, escaped.
TEST_F(QueryThenExit, RequestNamesTheModelOfTheMachine) {
    std::string xml = read_file_bytes(QM_SOURCE_DIR_W L"\\profiles\\example-pc.xml");
    const std::size_t at = xml.find("model=\"2349K3G\"");
    ASSERT_NE(at, std::string::npos);
    scratch_folder scratch;
    const std::wstring profile = scratch / L"t420s.xml";
    xml.replace(at, 15, "model=\"T420s Pr\xc3\xa4zision &lt;A&amp;B&gt;\"");
    ASSERT_TRUE(write_file_bytes(profile, xml));
    SetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", profile.c_str());
    HWND window = start_scan(service->mirror_url(1));
    SetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", QM_SOURCE_DIR_W L"\\tests\\app\\win7-pc.xml");
    ASSERT_NE(window, nullptr);
    for (DWORD waited = 0; waited < START_TIMEOUT_MS && main_state_of(window) != 3; waited += 100)
        Sleep(100);
    std::string sent;
    http_get("http://127.0.0.1:" + std::to_string(service->control_port) + "/_control/request", &sent);
    EXPECT_NE(sent.find("\t<client license=\"\" version=\"\" os=\"WIN764\" lang=\"437\" "
                        "model=\"T420s Pr\xe4zision &lt;A&amp;B&gt;\" />\n"), std::string::npos) << sent;
}

TEST_F(QueryThenExit, QuittingWhileTheServiceHoldsTheAnswerEndsAtOnce) {
    // Each mirror would hold the query for a minute.
    ASSERT_TRUE(service->set_faults(R"({"1": {"delay": 60}, "2": {"delay": 60}, "3": {"delay": 60}})"));
    HWND window = start_scan(service->mirror_url(1));
    ASSERT_NE(window, nullptr);
    for (DWORD waited = 0; waited < START_TIMEOUT_MS && !logged(*service, "1 POST / range=-"); waited += 100)
        Sleep(100);
    ASSERT_TRUE(logged(*service, "1 POST / range=-"));
    ASSERT_EQ(main_state_of(window), 1);

    // Ends in a second or two; a generous bound, far below the held minute.
    press_alt_f4(window);
    std::optional<DWORD> code = process.wait(20000);
    ASSERT_TRUE(code) << "quillmark.exe still runs while its query is held";
    EXPECT_EQ(*code, 0u);
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 POST / range=-"});
}

}  // namespace
