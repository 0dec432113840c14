// The built DPInst32.exe and DPInst64.exe under Wine, on a package made here.
// Wine cannot install on devices, but staging is real: the INF lands in the
// system's INF folder.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>

#include "common/run_program.h"
#include "ui/real_pointer.h"

namespace {

bool file_exists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string read_file(const std::wstring& path) {
    std::string text;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(h);
    return text;
}

void write_file(const std::wstring& path, const std::string& text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

std::wstring windows_folder() {
    wchar_t path[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(path, MAX_PATH);
    return path;
}

std::string narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

bool sixty_four_bit_windows() {
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
}

// A root-enumerated device with one hardware id, in the prefix while the
// object lives.
struct registered_device {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA device = {};
    bool registered = false;
    explicit registered_device(std::wstring id) {
        device.cbSize = sizeof(device);
        const GUID system = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
        id.append(2, L'\0');  // a one-entry multi-string
        registered = set != INVALID_HANDLE_VALUE &&
                     SetupDiCreateDeviceInfoW(set, L"QUILLMARK_TEST", &system, nullptr, nullptr,
                                              DICD_GENERATE_ID, &device) &&
                     SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                       reinterpret_cast<const BYTE*>(id.data()),
                                                       static_cast<DWORD>(id.size() * sizeof(wchar_t))) &&
                     SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    }
    ~registered_device() {
        if (registered) SetupDiRemoveDevice(set, &device);
        SetupDiDestroyDeviceInfoList(set);
    }
};

// A minimal driver package for a device no machine has, in a folder with a
// space in its name; everything it and DPInst leave behind goes afterwards.
class real_dpinst : public ::testing::TestWithParam<const wchar_t*> {
protected:
    std::wstring scratch, folder, inf_name, stored_inf, stored_pnf;

    void SetUp() override {
        static int n = 0;
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++n);
        scratch = std::wstring(temp) + L"qm-dpinst-" + tag;
        folder = scratch + L"\\drivers folder";
        CreateDirectoryW(scratch.c_str(), nullptr);
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW((folder + L"\\pkg").c_str(), nullptr);
        inf_name = L"qmtest_" + tag + L".inf";
        stored_inf = windows_folder() + L"\\inf\\" + inf_name;
        stored_pnf = stored_inf.substr(0, stored_inf.size() - 4) + L".pnf";
        write_inf("ROOT\\QUILLMARK_NO_SUCH_DEVICE");
        // DPInst32 refuses to work on 64-bit Windows; DPInst64 needs it.
        if ((GetParam()[6] == L'6') != sixty_four_bit_windows()) GTEST_SKIP() << "not on this Windows";
    }

    // The package's INF, for the device with this hardware id, decorated
    // with the architectures and this version.
    void write_inf(const std::string& hardware_id, const std::string& version = "") {
        const std::string x86 = "NTx86" + version, x64 = "NTamd64" + version;
        write_file(folder + L"\\pkg\\" + inf_name,
                   "[Version]\r\n"
                   "Signature=\"$WINDOWS NT$\"\r\n"
                   "Class=System\r\n"
                   "ClassGuid={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n"
                   "Provider=%Maker%\r\n"
                   "DriverVer=01/01/2026,1.0.0.0\r\n"
                   "\r\n[Manufacturer]\r\n%Maker%=Models," + x86 + "," + x64 + "\r\n"
                   "\r\n[Models." + x86 + "]\r\n%Device%=Install," + hardware_id + "\r\n"
                   "\r\n[Models." + x64 + "]\r\n%Device%=Install," + hardware_id + "\r\n"
                   "\r\n[Install]\r\n"
                   "\r\n[Strings]\r\nMaker=\"Quillmark tests\"\r\nDevice=\"Quillmark test device\"\r\n");
    }

    void TearDown() override {
        DeleteFileW(stored_inf.c_str());
        DeleteFileW(stored_pnf.c_str());
        DeleteFileW((folder + L"\\pkg\\" + inf_name).c_str());
        RemoveDirectoryW((folder + L"\\pkg").c_str());
        RemoveDirectoryW(folder.c_str());
        RemoveDirectoryW(scratch.c_str());
    }

    std::wstring program() const { return std::wstring(QM_PROGRAM_DIR_W) + L"\\" + GetParam(); }
};

}  // namespace

TEST_P(real_dpinst, StagesAPackageWithoutAPresentDeviceAndCountsItAsCopied) {
    finished_run run;
    // The folder quoted with a trailing backslash, as a user may type it.
    ASSERT_TRUE(run_program(program(), L"/S /C /PATH \"" + folder + L"\\\"", run));
    EXPECT_EQ(run.exit_code, 0x00000100u) << run.output;
    EXPECT_TRUE(file_exists(stored_inf)) << run.output;
    EXPECT_NE(run.output.find("Exit code 0x00000100"), std::string::npos) << run.output;
    const std::string log = read_file(windows_folder() + L"\\DPINST.LOG");
    EXPECT_NE(log.find(narrow(inf_name) + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("copied to the driver store only"), std::string::npos);
}

TEST_P(real_dpinst, PresentOnlyLeavesAPackageForAbsentDevicesAlone) {
    finished_run run;
    ASSERT_TRUE(run_program(program(), L"/SH /F /S /C /PATH \"" + folder + L"\"", run));
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_FALSE(file_exists(stored_inf));
    EXPECT_NE(run.output.find("neither staged nor installed"), std::string::npos) << run.output;
}

TEST_P(real_dpinst, RefusesUnknownSwitchesAndMissingFolders) {
    finished_run bad_switch;
    ASSERT_TRUE(run_program(program(), L"/SH /X /PATH \"" + folder + L"\"", bad_switch));
    EXPECT_EQ(bad_switch.exit_code, 0x80010000u);
    EXPECT_NE(bad_switch.output.find("Unknown switch: /X"), std::string::npos) << bad_switch.output;

    finished_run no_folder;
    ASSERT_TRUE(run_program(program(), L"/C /PATH \"" + folder + L"\\missing\"", no_folder));
    EXPECT_EQ(no_folder.exit_code, 0x80010000u);
    EXPECT_NE(no_folder.output.find("does not exist"), std::string::npos) << no_folder.output;
    EXPECT_FALSE(file_exists(stored_inf));
}

// Windows looks for a DLL named without a path in the program's folder
// first (Wine prefers its own unless told otherwise, as here). DPInst
// loads newdev.dll when a package matches a present device: a newdev.dll
// planted beside a copy of DPInst must not be the one loaded.
TEST_P(real_dpinst, TakesNewdevFromSystem32NotFromItsOwnFolder) {
    registered_device device(L"ROOT\\QUILLMARK_PLANTED_TEST");
    ASSERT_TRUE(device.registered);
    write_inf("ROOT\\QUILLMARK_PLANTED_TEST");
    const std::wstring copy_folder = scratch + L"\\program", copy = copy_folder + L"\\" + GetParam(),
                       planted = copy_folder + L"\\newdev.dll", marker = scratch + L"\\loaded.txt";
    CreateDirectoryW(copy_folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(program().c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(planted_dll(GetParam()[6] == L'6').c_str(), planted.c_str(), FALSE));
    finished_run run;
    {
        windows_dll_order windows_order(GetParam(), L"newdev");
        SetEnvironmentVariableW(L"QM_PLANTED_MARKER", marker.c_str());
        ASSERT_TRUE(run_program(copy, L"/Q /C /PATH \"" + folder + L"\"", run));
    }
    const std::string loaded_by = read_file(marker);
    DeleteFileW(marker.c_str());
    DeleteFileW(planted.c_str());
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(copy_folder.c_str());
    // DPInst came as far as loading newdev.dll.
    EXPECT_NE(run.output.find("Matches present devices"), std::string::npos) << run.output;
    EXPECT_EQ(loaded_by, "") << run.output;
}

// Without /S or /Q DPInst shows its progress, then a summary naming its
// log, and ends when the user closes that window.
TEST_P(real_dpinst, ShowsASummaryUntilTheUserClosesIt) {
    pointer_lock pointer;
    std::wstring command = L"\"" + program() + L"\" /PATH \"" + folder + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    HWND window = nullptr, close = nullptr;
    for (int i = 0; i < 300 && !(close && IsWindowEnabled(close)); ++i, Sleep(100))
        close = GetDlgItem(window = FindWindowW(L"Quillmark.DPInst", nullptr), 1);
    wchar_t summary[512] = {};
    GetWindowTextW(FindWindowExW(window, nullptr, L"STATIC", nullptr), summary, 512);
    EXPECT_NE(std::wstring(summary).find(L"copied to the driver store only 1"), std::wstring::npos);
    EXPECT_NE(std::wstring(summary).find(L"DPINST.LOG"), std::wstring::npos);
    // It waits for the user.
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    // Above the windows of tests that run beside this one, so that the
    // click lands on it. A window that a neighbour maps a moment later can
    // still cover it, so the user looks again and clicks once more.
    bool closed = false;
    for (int attempt = 1; attempt <= 3 && !closed; ++attempt) {
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        closed = drive_pointer(pointer_click(screen_centre(close)),
                               [&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; },
                               "click Close", 5000, attempt == 3);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    if (!closed) TerminateProcess(process.hProcess, 1);  // no window is left waiting
    EXPECT_EQ(code, 0x00000100u);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// Packages for Windows 10 alone and for servers alone, where Wine tells
// DPInst it runs on such a Windows.
TEST_P(real_dpinst, TakesTheModelsForTheWindowsItRunsOn) {
    const std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + GetParam();
    for (const auto& c : {std::make_pair(L"win10", ".10.0"), std::make_pair(L"win2008", ".6.0.0x3")}) {
        write_inf("ROOT\\QUILLMARK_NO_SUCH_DEVICE", c.second);
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, c.first, 2 * DWORD(wcslen(c.first) + 1));
        finished_run run;
        const bool ran = run_program(program(), L"/S /C /PATH \"" + folder + L"\"", run);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version");
        DeleteFileW(stored_inf.c_str());
        EXPECT_TRUE(ran && run.exit_code == 0x100u) << c.second << "\n" << run.output;
    }
}

// Before it even looks at the folder (this one does not exist).
TEST(dpinst32, RefusesAtOnceOn64BitWindows) {
    if (!sixty_four_bit_windows()) GTEST_SKIP() << "on 64-bit Windows only";
    const std::wstring log = windows_folder() + L"\\DPINST.LOG";
    const std::size_t logged = read_file(log).size();
    finished_run run;
    ASSERT_TRUE(run_program(QM_PROGRAM_DIR_W L"\\DPInst32.exe", L"/S /PATH \"" QM_PROGRAM_DIR_W L"\\none\"", run));
    EXPECT_EQ(run.exit_code, 0x80000000u) << run.output;
    EXPECT_NE(run.output.find("Run DPInst64.exe instead"), std::string::npos) << run.output;
    EXPECT_NE(read_file(log).find("Run DPInst64.exe instead", logged), std::string::npos);
}

// The manifests (plain text in the programs' resources) name Windows Vista to
// 10: without them Windows 8.1, 10 and 11 tell the programs they run on 6.2.
TEST(dpinst, ManifestsNameWindowsVistaTo10) {
    for (const wchar_t* name : {L"\\DPInst32.exe", L"\\DPInst64.exe"}) {
        const std::string image = read_file(QM_PROGRAM_DIR_W + std::wstring(name));
        for (const char* id : {"e2011457-1546", "35138b9a-5d96", "4a2f28e3-53b9", "1f676c76-80e1", "8e0f7a12-bfb3"})
            EXPECT_NE(image.find(std::string("<supportedOS Id=\"{") + id), std::string::npos) << id;
    }
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, real_dpinst, ::testing::Values(L"DPInst32.exe", L"DPInst64.exe"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                             return info.param[6] == L'3' ? std::string("x86") : std::string("x64");
                         });
