// The environment step and the start-up sequence, without a window.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "app_test_support.h"
#include "devices/system_info.h"
#include "platform/machine_profile.h"
#include "platform/system_source.h"
#include "platform/text.h"
#include "service/update_client.h"

namespace {

// COM on the test's thread, apartment-threaded as the entry sets it up.
struct com_for_test {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~com_for_test() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};

// The folder of the test program, which start-up takes as the program folder.
std::wstring test_program_folder() {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder = exe;
    folder.resize(folder.rfind(L'\\') + 1);
    return folder;
}

// The shipped language.ini copied beside the test program for one test.
struct language_file_beside_test {
    std::wstring copy = test_program_folder() + L"language.ini";
    language_file_beside_test() {
        CopyFileW(QM_PROGRAM_DIR_W L"\\language.ini", copy.c_str(), FALSE);
    }
    ~language_file_beside_test() { DeleteFileW(copy.c_str()); }
};

// A system source whose answers and failures a test sets.
class fake_system_source : public system_source {
public:
    std::vector<DWORD> version_sizes_tried;
    bool fail_extended = false, fail_short = false, fail_power = false;
    int power_queries = 0;
    OSVERSIONINFOEXW version{};
    int server_r2 = 0;

    fake_system_source() {
        version.dwPlatformId = VER_PLATFORM_WIN32_NT;
        version.dwMajorVersion = 6;
        version.dwMinorVersion = 1;
        version.dwBuildNumber = 7601;
        version.wProductType = VER_NT_WORKSTATION;
    }
    bool query_version(OSVERSIONINFOEXW& out, DWORD size_field) override {
        version_sizes_tried.push_back(size_field);
        if (size_field == sizeof(OSVERSIONINFOEXW) ? fail_extended : fail_short) return false;
        out = version;
        out.dwOSVersionInfoSize = size_field;
        return true;
    }
    bool query_power_status(SYSTEM_POWER_STATUS& out) override {
        ++power_queries;
        out = SYSTEM_POWER_STATUS{};
        return !fail_power;
    }
    void query_system_info(SYSTEM_INFO& out) override {
        out = SYSTEM_INFO{};
        out.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
        out.dwNumberOfProcessors = 3;
    }
    bool is_wow64() override { return true; }
    int server_r2_metric() override { return server_r2; }
    UINT oem_code_page() override { return 850; }
};

class Environment : public ::testing::Test {
protected:
    fake_system_source fake;
    void SetUp() override {
        set_system_source(&fake);
        last_error = 0;
    }
    void TearDown() override { set_system_source(nullptr); }
};

TEST_F(Environment, VersionQueryFailingForBothSizesIsCodeOneWithLastErrorTen) {
    fake.fail_extended = fake.fail_short = true;
    EXPECT_EQ(capture_environment(), 1);
    EXPECT_EQ(last_error.load(), 10);
    EXPECT_EQ(fake.version_sizes_tried, (std::vector<DWORD>{284, 276}));
    EXPECT_EQ(fake.power_queries, 0);  // the step ends at the first failure
}

TEST_F(Environment, ShortVersionStructureIsTheFallback) {
    fake.fail_extended = true;
    EXPECT_EQ(capture_environment(), 0);
    EXPECT_EQ(fake.version_sizes_tried, (std::vector<DWORD>{284, 276}));
    EXPECT_EQ(windows_version.dwMajorVersion, 6u);
    EXPECT_EQ(last_error.load(), 0);
}

TEST_F(Environment, PowerStatusFailingIsCodeOneWithLastErrorTwelve) {
    fake.fail_power = true;
    EXPECT_EQ(capture_environment(), 1);
    EXPECT_EQ(last_error.load(), 12);
    EXPECT_EQ(fake.version_sizes_tried, (std::vector<DWORD>{284}));
}

TEST_F(Environment, CapturesTheValuesTheSourceReports) {
    fake.version.dwMajorVersion = 5;
    fake.version.dwMinorVersion = 2;
    fake.version.wProductType = VER_NT_SERVER;
    fake.server_r2 = 1;
    ASSERT_EQ(capture_environment(), 0);
    EXPECT_EQ(windows_version.dwMinorVersion, 2u);
    EXPECT_EQ(os_kind, 4);
    EXPECT_EQ(oem_code_page, 850u);
    EXPECT_EQ(system_info.dwNumberOfProcessors, 3u);

    wchar_t expected_module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, expected_module, MAX_PATH);
    EXPECT_EQ(std::wstring(module_path), std::wstring(expected_module));
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring dir = cwd;
    if (dir.back() != L'\\') dir += L'\\';
    EXPECT_EQ(std::wstring(program_dir), dir);
}

TEST_F(Environment, StartUpStopsAtTheFirstFailingStep) {
    scratch_settings scratch;
    fake.fail_power = true;
    EXPECT_EQ(run_init_steps(), 1);
    // The settings come after the environment: their key was never created.
    EXPECT_FALSE(reg_key_exists(scratch.root(), L"SOFTWARE\\Vantorel"));
    EXPECT_EQ(app_device_store, nullptr);
}

TEST_F(Environment, StartUpRunsEveryStepAndTeardownReleasesTheObjects) {
    scratch_settings scratch;
    com_for_test com;  // the entry initialises COM before app_init (WMI needs it)
    language_file_beside_test language;
    reset_language_table();
    wchar_t started_in[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, started_in);
    // Start from another folder: start-up moves to the program's own.
    SetCurrentDirectoryW(scratch.folder().c_str());

    int code = run_init_steps();

    wchar_t now_in[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, now_in);
    SetCurrentDirectoryW(started_in);
    ASSERT_EQ(code, 0);
    // The language step loaded the configured language from the program folder.
    EXPECT_EQ(language_names.size(), 11u);
    EXPECT_EQ(lstrcmpiW(current_language_name(), current_settings.language), 0);
    EXPECT_FALSE(text_for("btn_ok").empty());
    // The system-information step asked WMI.
    EXPECT_FALSE(machine_info.cpu.empty());

    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring exe_dir = exe;
    exe_dir.resize(exe_dir.rfind(L'\\') + 1);
    EXPECT_EQ(std::wstring(program_dir), exe_dir);
    std::wstring cwd = now_in;
    if (cwd.back() != L'\\') cwd += L'\\';
    EXPECT_EQ(cwd, exe_dir);

    EXPECT_TRUE(reg_key_exists(scratch.root(), L"SOFTWARE\\Vantorel"));
    ASSERT_NE(app_device_store, nullptr);
    ASSERT_NE(app_update_client, nullptr);
    EXPECT_EQ(app_update_client->store, app_device_store);

    app_teardown();
    EXPECT_EQ(app_device_store, nullptr);
    EXPECT_EQ(app_update_client, nullptr);
    // The settings created the download and backup folders in the program
    // folder (here the test's own): remove them again.
    remove_folder_tree(exe_dir + L"download");
    remove_folder_tree(exe_dir + L"backup");
}

TEST_F(Environment, ProcessObjectsWaitUntilTheWindowIsShownAndAreMadeOnce) {
    scratch_settings scratch;
    com_for_test com;
    language_file_beside_test language;
    reset_language_table();
    wchar_t started_in[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, started_in);
    machine_info = machine_info_record{};

    // Without a start-up waiting for them, nothing is made: a test's own
    // objects stay.
    EXPECT_TRUE(app_finish_init());
    EXPECT_EQ(app_device_store, nullptr);

    // What the first frame shows is there; the system information and the
    // process objects are not.
    ASSERT_EQ(app_init(), 0);
    SetCurrentDirectoryW(started_in);
    EXPECT_FALSE(text_for("btn_ok").empty());
    EXPECT_TRUE(machine_info.cpu.empty());
    EXPECT_EQ(app_device_store, nullptr);
    EXPECT_EQ(app_update_client, nullptr);

    // The system information comes on a thread, which says when it is done;
    // only then is it published.
    HWND notify = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(notify, nullptr);
    app_start_system_info(notify, WM_APP + 3);
    MSG message{};
    const DWORD started = GetTickCount();
    while (!PeekMessageW(&message, notify, WM_APP + 3, WM_APP + 3, PM_REMOVE) &&
           GetTickCount() - started < 30000)
        Sleep(10);
    DestroyWindow(notify);
    EXPECT_EQ(message.message, static_cast<UINT>(WM_APP + 3));
    EXPECT_TRUE(machine_info.cpu.empty());
    ASSERT_TRUE(app_finish_system_info());
    EXPECT_FALSE(machine_info.cpu.empty());
    EXPECT_TRUE(app_finish_system_info());  // once only

    ASSERT_TRUE(app_finish_init());
    device_store* const made = app_device_store;
    ASSERT_NE(made, nullptr);
    ASSERT_NE(app_update_client, nullptr);
    EXPECT_EQ(app_update_client->store, made);
    EXPECT_TRUE(app_finish_init());  // once only
    EXPECT_EQ(app_device_store, made);
    EXPECT_FALSE(app_init_failed());

    app_teardown();
    remove_folder_tree(test_program_folder() + L"download");
    remove_folder_tree(test_program_folder() + L"backup");
}

TEST_F(Environment, MissingLanguageFileIsCodeFour) {
    scratch_settings scratch;
    com_for_test com;
    wchar_t started_in[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, started_in);
    // No language.ini beside the test program.
    DeleteFileW((test_program_folder() + L"language.ini").c_str());
    int code = run_init_steps();
    SetCurrentDirectoryW(started_in);
    EXPECT_EQ(code, 4);
    // The settings step before it ran; the objects after it were not created.
    EXPECT_TRUE(reg_key_exists(scratch.root(), L"SOFTWARE\\Vantorel"));
    EXPECT_EQ(app_device_store, nullptr);
    remove_folder_tree(test_program_folder() + L"download");
    remove_folder_tree(test_program_folder() + L"backup");
}

TEST(InitFailureBox, NamesTheCode) {
    wchar_t text[128];
    format_init_failure(4, text);
    EXPECT_EQ(std::wstring(text), L"Application initialization failed, error code: 4.");
}

}  // namespace

namespace {

// Every test of this program sees the small Windows 7 PC (and so does every
// quillmark.exe it starts): set before any test reads the profile.
const bool profile_in_use = [] {
    SetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", QM_SOURCE_DIR_W L"\\tests\\app\\win7-pc.xml");
    return true;
}();

TEST(MachineProfile, WindowsElementOverridesTheSystemQueries) {
    ASSERT_TRUE(profile_in_use);
    const active_profile& active = machine_profile_in_use();
    ASSERT_EQ(active.status, profile_status::loaded) << wide_to_utf8(active.error);

    system_source& real = real_system_source();
    OSVERSIONINFOEXW v{};
    ASSERT_TRUE(real.query_version(v, sizeof(OSVERSIONINFOEXW)));
    EXPECT_EQ(v.dwMajorVersion, 6u);
    EXPECT_EQ(v.dwMinorVersion, 1u);
    EXPECT_EQ(v.dwBuildNumber, 7601u);
    EXPECT_EQ(v.wProductType, VER_NT_WORKSTATION);
    EXPECT_EQ(std::wstring(v.szCSDVersion), L"Service Pack 1");
    EXPECT_EQ(derive_os_kind(v, real.server_r2_metric()), 8);

    SYSTEM_INFO si{};
    real.query_system_info(si);
    EXPECT_EQ(si.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_TRUE(real.is_wow64());
    EXPECT_EQ(real.server_r2_metric(), 0);

    // Through the environment step, as start-up does it.
    set_system_source(nullptr);
    ASSERT_EQ(capture_environment(), 0);
    EXPECT_EQ(os_kind, 8);
}

}  // namespace
