#include <gtest/gtest.h>

#include <shlobj.h>

#include "app/globals.h"
#include "common/recording_signature_checker.h"
#include "devices/system_info.h"
#include "install/install.h"
#include "install_test_support.h"
#include "platform/disk_space.h"
#include "platform/system_source.h"
#include "platform/text.h"

namespace {

using names = std::vector<std::wstring>;
using call = recording_shell::call;

TEST(CommonInfFolder, IsTheCommonLeadingFolderOfTheNames) {
    auto folder = [](std::set<std::wstring> s) {
        common_folder f = common_inf_folder(s);
        return std::to_wstring(f.status) + L" " + f.folder;
    };
    EXPECT_EQ(folder({L"a\\x\\one.inf", L"a\\y\\two.inf"}), L"0 a\\");
    EXPECT_EQ(folder({L"drv\\one.inf"}), L"0 drv\\");
    EXPECT_EQ(folder({L"one.inf"}), L"-1 ");
    EXPECT_EQ(folder({L"a\\one.inf", L"b\\two.inf"}), L"-1 ");
    // The common text "a\xy" is cut back to its folder, "a\".
    EXPECT_EQ(folder({L"a\\xy1\\one.inf", L"a\\xy2\\two.inf"}), L"0 a\\");
    // Case counts: these have no common folder.
    EXPECT_EQ(folder({L"A\\one.inf", L"a\\two.inf"}), L"-1 ");
}

TEST(SetupProgram, TheOnlyProgramOrTheFirstSetupOrAutorunInListingOrder) {
    EXPECT_EQ(choose_setup_program({L"install.exe"}), L"install.exe");
    EXPECT_EQ(choose_setup_program({L"a.exe", L"AutoRun.EXE", L"setup.exe"}), L"AutoRun.EXE");
    EXPECT_EQ(choose_setup_program({L"setup.exe", L"autorun.exe"}), L"setup.exe");
    EXPECT_EQ(choose_setup_program({L"a.exe", L"b.exe"}), L"");
    EXPECT_EQ(choose_setup_program({}), L"");
}

// Answers like a 32-bit process on 64-bit Windows (WOW64) or on 32-bit Windows.
class wow64_source final : public system_source {
public:
    explicit wow64_source(bool wow64) : wow64_(wow64) {}
    bool query_version(OSVERSIONINFOEXW& out, DWORD size) override {
        return real_system_source().query_version(out, size);
    }
    bool query_power_status(SYSTEM_POWER_STATUS& out) override {
        return real_system_source().query_power_status(out);
    }
    void query_system_info(SYSTEM_INFO& out) override {
        out = {};
        out.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    }
    bool is_wow64() override { return wow64_; }
    int server_r2_metric() override { return 0; }
    UINT oem_code_page() override { return 437; }

private:
    bool wow64_;
};

TEST(DpinstLaunch, SixtyFourBitWindowsGetsDpinst64EvenFromA32BitProcess) {
    recording_shell shell;
    SYSTEM_INFO saved = system_info;
    system_info = {};
    system_info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;  // a 32-bit process
    const std::wstring program_folder = program_dir;

    for (bool wow64 : {true, false}) {
        wow64_source source(wow64);
        set_system_source(&source);
        install_environment environment = current_install_environment();
        set_system_source(nullptr);
        launch_dpinst(L"D:\\dl\\drv\\", wow64, environment);  // a restore forces, /F
    }
    system_info = saved;
    EXPECT_EQ(shell.calls(),
              (std::vector<call>{{L"program", program_folder + L"DPInst64.exe", L"/SH /F /PATH \"D:\\dl\\drv\""},
                                 {L"program", program_folder + L"DPInst32.exe", L"/SH /PATH \"D:\\dl\\drv\""}}));
}

// A download folder with one package in it, installed as the download row
// would: the package is named drv.zip (or as given) in the download folder.
class InstallTest : public ::testing::Test {
protected:
    scratch_folder scratch;
    recording_shell shell;
    recording_signature_checker signatures;  // every program signed, unless a test says otherwise
    install_environment environment;
    install_report report;
    std::wstring downloads = scratch / L"downloads";
    std::wstring unpacked = downloads + L"\\drv";

    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
        environment.download_folder = downloads;
        environment.program_folder = L"P:\\Quillmark\\";
    }

    std::wstring put_package(const wchar_t* sample, const wchar_t* name = L"drv.zip") {
        std::wstring path = join_path(downloads, name);
        EXPECT_TRUE(CopyFileW(sample_package(sample).c_str(), path.c_str(), FALSE));
        return path;
    }
    call dpinst(const std::wstring& folder) const {
        return {L"program", L"P:\\Quillmark\\DPInst32.exe", L"/SH /PATH \"" + folder + L"\""};
    }
};

TEST_F(InstallTest, InfFoldersUnderACommonFolderGoToDpinstOnThatFolder) {
    std::wstring package = put_package(L"two-inf-folders.zip");
    EXPECT_EQ(install_package(package, {L"a\\x\\one.inf", L"a\\y\\two.inf"}, environment, report), 0);
    EXPECT_EQ(shell.calls(), (std::vector<call>{dpinst(unpacked + L"\\a")}));
    EXPECT_EQ(files_under(unpacked), (names{L"a\\readme.txt", L"a\\x\\one.inf", L"a\\y\\two.inf"}));
}

TEST_F(InstallTest, ASingleInfAtTheRootGoesToDpinstOnTheUnpackFolder) {
    // web-pages.zip: one.inf, index.htm, Release Notes.htm at the top,
    // docs\manual.htm and docs\guide.txt below.
    std::wstring package = put_package(L"web-pages.zip");
    EXPECT_EQ(install_package(package, {L"one.inf"}, environment, report), 0);
    EXPECT_EQ(shell.calls(), (std::vector<call>{dpinst(unpacked)}));
    // The web pages at the top are gone, the ones in subfolders stay.
    EXPECT_EQ(files_under(unpacked), (names{L"docs\\guide.txt", L"docs\\manual.htm", L"one.inf"}));
}

TEST_F(InstallTest, MissingInfFilesStartTheOnlyProgramOfTheInfFolder) {
    std::wstring package = put_package(L"missing-inf-setup.zip");
    EXPECT_EQ(install_package(package, {L"a\\x\\one.inf"}, environment, report), 0);
    EXPECT_EQ(shell.calls(), (std::vector<call>{{L"program", unpacked + L"\\a\\x\\install.exe", L""}}));
}

TEST_F(InstallTest, NoSetupProgramUpToTheRootOpensTheUnpackFolder) {
    // a.exe and b.exe in a\x, in a and at the root; the INF file is missing.
    std::wstring package = put_package(L"two-programs.zip");
    EXPECT_EQ(install_package(package, {L"a\\x\\one.inf"}, environment, report), 0);
    EXPECT_EQ(shell.calls(), (std::vector<call>{{L"folder", unpacked, L""}}));
}

TEST_F(InstallTest, TheSetupSearchWalksUpFromTheInfFolder) {
    std::wstring root = scratch / L"tree";
    SHCreateDirectoryExW(nullptr, (root + L"\\a\\b").c_str(), nullptr);
    for (const wchar_t* file : {L"\\a\\b\\one.exe", L"\\a\\b\\two.exe", L"\\a\\x.exe", L"\\a\\setup.exe",
                                L"\\autorun.exe"}) {
        ASSERT_TRUE(write_file_bytes(root + file, "MZ"));
    }
    run_setup_upwards(root, L"a\\b\\", environment, report);
    run_setup_upwards(root, L"", environment, report);
    EXPECT_EQ(shell.calls(), (std::vector<call>{{L"program", root + L"\\a\\setup.exe", L""},
                                                {L"program", root + L"\\autorun.exe", L""}}));

    // Several programs, none of them setup or autorun, and a file named ".exe".
    ASSERT_TRUE(write_file_bytes(root + L"\\a\\b\\.exe", "MZ"));
    EXPECT_EQ(run_package_setup(root + L"\\a\\b", environment, report), 0);
    EXPECT_EQ(shell.calls().back(), (call{L"program", root + L"\\a\\b\\.exe", L""}));
}

TEST_F(InstallTest, NamesOutsideAsciiFindTheirInfFolder) {
    const std::wstring folder = L"Gr\u00e4fik";
    std::wstring package = put_package(L"utf8-names.zip");
    EXPECT_EQ(install_package(package, {folder + L"\\\u0434\u0440\u0430\u0439\u0432\u0435\u0440.inf"},
                              environment, report),
              0);
    EXPECT_EQ(shell.calls(), (std::vector<call>{dpinst(unpacked + L"\\" + folder)}));
}

// A download that is no zip archive is started only when it is a signed
// program or Windows Installer package; nothing else is ever opened.
TEST_F(InstallTest, APackageThatIsNoArchiveStartsOnlyAsASignedProgram) {
    const signature_verdict unsigned_file{false, static_cast<int32_t>(TRUST_E_NOSIGNATURE), L""};
    signatures.answer(L"unsigned.exe", unsigned_file);
    struct {
        const wchar_t* name;
        install_outcome outcome;
    } cases[] = {
        {L"drv.exe", install_outcome::program_started},   {L"drv.MSI", install_outcome::program_started},
        {L"unsigned.exe", install_outcome::program_refused}, {L"drv.cmd", install_outcome::type_refused},
        {L"drv.js", install_outcome::type_refused},       {L"drv.hta", install_outcome::type_refused},
        {L"drv.lnk", install_outcome::type_refused},      {L"drv.reg", install_outcome::type_refused},
        {L"drv.exe.txt", install_outcome::type_refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        install_request request;
        request.package_path = put_package(L"setup-package.exe", c.name);
        request.installing = 1;
        const std::size_t launches = shell.calls().size();
        const int32_t result = install_task(request, environment);
        EXPECT_EQ(request.installing, 0);
        EXPECT_EQ(request.report.outcome, c.outcome);
        EXPECT_EQ(request.report.file, request.package_path);
        if (c.outcome == install_outcome::program_started) {
            EXPECT_EQ(result, 42);  // what the shell answered
            EXPECT_EQ(request.report.signer, L"Test Signer");
            EXPECT_EQ(shell.calls().back(), (call{L"program", request.package_path, L""}));
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(shell.calls().size(), launches);
        }
    }
}

TEST_F(InstallTest, ASetupProgramOfAPackageStartsOnlyWhenSigned) {
    std::wstring package = put_package(L"missing-inf-setup.zip");
    signatures.answer(L"install.exe", {false, static_cast<int32_t>(TRUST_E_BAD_DIGEST), L"Someone"});
    install_request request;
    request.package_path = package;
    request.inf_names = {L"a\\x\\one.inf"};
    EXPECT_EQ(install_task(request, environment), 0);
    EXPECT_TRUE(shell.calls().empty());  // neither started nor its folder opened
    EXPECT_EQ(request.report.outcome, install_outcome::program_refused);
    EXPECT_EQ(request.report.file, unpacked + L"\\a\\x\\install.exe");
    EXPECT_EQ(signatures.checked(), (names{unpacked + L"\\a\\x\\install.exe"}));
}

// Tries to replace the file it is asked about, as anyone who may write to
// the download folder could between the check and the start.
class swapping_checker final : public signature_checker {
public:
    swapping_checker() { set_signature_checker(this); }
    ~swapping_checker() override { set_signature_checker(nullptr); }
    signature_verdict check(const wchar_t* path) override {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        swapped = file != INVALID_HANDLE_VALUE || MoveFileW(path, (std::wstring(path) + L".old").c_str());
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return {true, 0, L"Signer"};
    }
    bool swapped = false;
};

TEST_F(InstallTest, AProgramCannotBeReplacedBetweenItsCheckAndItsStart) {
    swapping_checker swapper;
    install_request request;
    request.package_path = put_package(L"setup-package.exe", L"drv.exe");
    EXPECT_EQ(install_task(request, environment), 42);
    EXPECT_FALSE(swapper.swapped);
    EXPECT_EQ(shell.calls(), (std::vector<call>{{L"program", request.package_path, L""}}));
}

// INF names come from the network: one that leads out of the package must
// not choose the installer's folder, nor where a setup program is looked for.
TEST_F(InstallTest, InfNamesThatLeaveThePackageAreDropped) {
    EXPECT_EQ(usable_inf_names({L"..\\drv.inf", L"a\\..\\..\\drv.inf", L"C:\\drv.inf", L"\\drv.inf",
                                L"\\\\host\\share\\drv.inf", L"nul\\drv.inf", L"drv.inf:stream", L"a\\",
                                L"a/b.inf", L"c\\.\\d.inf"}),
              (std::set<std::wstring>{L"a\\b.inf", L"c\\d.inf"}));

    // Planted in the download folder, beside the package.
    ASSERT_TRUE(write_file_bytes(join_path(downloads, L"drv.inf"), "[Version]\r\n"));
    ASSERT_TRUE(write_file_bytes(join_path(downloads, L"setup.exe"), "MZ"));
    std::wstring package = put_package(L"web-pages.zip");  // one.inf, no program
    EXPECT_EQ(install_package(package, {L"..\\drv.inf"}, environment, report), 0);
    EXPECT_EQ(shell.calls(), (std::vector<call>{{L"folder", unpacked, L""}}));
    EXPECT_EQ(report.outcome, install_outcome::folder_opened);
}

// Every unpack starts from an empty folder: files of an earlier version, or
// planted by anyone who may write to the download folder, are gone, and a
// link in the folder's place is removed, never followed.
TEST_F(InstallTest, EveryUnpackIsIntoAFreshFolder) {
    // An earlier unpack, with a planted setup program beside the package's
    // own install.exe, and a leftover of an unpack that was cut short.
    SHCreateDirectoryExW(nullptr, (unpacked + L"\\a\\x").c_str(), nullptr);
    ASSERT_TRUE(write_file_bytes(unpacked + L"\\a\\x\\setup.exe", "MZ planted"));
    ASSERT_TRUE(write_file_bytes(unpacked + L"\\old-version.inf", "[Version]\r\n"));
    SHCreateDirectoryExW(nullptr, (unpacked + L".fresh\\a").c_str(), nullptr);
    std::wstring package = put_package(L"missing-inf-setup.zip");
    const names package_files{L"a\\other\\one.inf", L"a\\x\\install.exe", L"a\\x\\readme.txt"};
    EXPECT_EQ(install_package(package, {L"a\\x\\one.inf"}, environment, report), 0);
    EXPECT_EQ(shell.calls(), (std::vector<call>{{L"program", unpacked + L"\\a\\x\\install.exe", L""}}));
    EXPECT_EQ(files_under(unpacked), package_files);
    EXPECT_FALSE(file_exists(unpacked + L".fresh"));

    // The unpack folder is a link to a folder elsewhere.
    const std::wstring elsewhere = scratch / L"elsewhere";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    ASSERT_TRUE(write_file_bytes(elsewhere + L"\\keep.txt", "kept"));
    ASSERT_TRUE(delete_tree(unpacked));
    folder_link link(unpacked, elsewhere);
    ASSERT_TRUE(link.made());
    const int result = install_package(package, {L"a\\x\\one.inf"}, environment, report);
    EXPECT_EQ(files_under(elsewhere), (names{L"keep.txt"}));
    if (result == 0) {  // Windows removes the link itself
        EXPECT_EQ(GetFileAttributesW(unpacked.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        EXPECT_EQ(files_under(unpacked), package_files);
    } else {  // Wine cannot: the unpack is refused
        EXPECT_EQ(report.outcome, install_outcome::unpack_failed);
        EXPECT_EQ(shell.calls().size(), 1u);
    }
}

bool eight_bytes_free(const wchar_t*, uint64_t& bytes) {
    bytes = 8;
    return true;
}

TEST_F(InstallTest, APackageThatDoesNotUnpackIsReportedAndNothingStarts) {
    free_space_function previous = set_free_space_function(eight_bytes_free);
    install_request request;
    request.package_path = put_package(L"two-inf-folders.zip");
    request.inf_names = {L"a\\x\\one.inf"};
    request.installing = 1;
    EXPECT_EQ(install_task(request, environment), -1);
    set_free_space_function(previous);
    EXPECT_EQ(request.installing, 0);
    EXPECT_EQ(request.report.outcome, install_outcome::unpack_failed);
    EXPECT_TRUE(shell.calls().empty());
    EXPECT_TRUE(list_folder(unpacked).empty());
    EXPECT_FALSE(file_exists(unpacked + L".fresh"));
}

// An archive that does not unpack whole is a failed installation: nothing
// starts, the earlier unpack stays as it was and no new folder is left.
TEST_F(InstallTest, AnArchiveThatDoesNotUnpackWholeStartsNothingAndKeepsTheOldFolder) {
    const std::string body(3000, 'q');
    ASSERT_TRUE(write_zip(join_path(downloads, L"drv.zip"), {{"one.inf", "x"}, {"driver.sys", body, false, 0}}));
    std::string bytes = read_file_bytes(join_path(downloads, L"drv.zip"));
    bytes[bytes.find(body) + 100] = 'Q';  // its checksum fails
    ASSERT_TRUE(write_file_bytes(join_path(downloads, L"drv.zip"), bytes));
    SHCreateDirectoryExW(nullptr, unpacked.c_str(), nullptr);
    ASSERT_TRUE(write_file_bytes(unpacked + L"\\earlier.inf", "x"));
    EXPECT_EQ(install_package(join_path(downloads, L"drv.zip"), {L"one.inf"}, environment, report), -1);
    EXPECT_EQ(report.outcome, install_outcome::unpack_failed);
    EXPECT_TRUE(shell.calls().empty());
    EXPECT_EQ(files_under(unpacked), (names{L"earlier.inf"}));
    EXPECT_FALSE(file_exists(unpacked + L".fresh"));
}

// Only an installer that reported success has its link recorded: DPInst by
// its 0xWWXXYYZZ code, a setup program by 0 (3010: restart needed); the
// folder opened, or an end that cannot be known, is neither.
TEST_F(InstallTest, TheInstallersExitCodeDecidesWhatIsRecorded) {
    environment.installed_list = scratch / L"setup.dat";
    using v = install_verdict;
    const struct { const wchar_t* sample; const wchar_t* program; uint32_t code; v verdict; } cases[] = {
        {L"two-inf-folders.zip", L"DPInst32.exe", 0x00000001, v::installed},
        {L"two-inf-folders.zip", L"DPInst32.exe", 0x40000102, v::restart_needed},
        {L"two-inf-folders.zip", L"DPInst32.exe", 0x00000100, v::no_device_matched},
        {L"two-inf-folders.zip", L"DPInst32.exe", 0x00010001, v::failed},
        {L"two-inf-folders.zip", nullptr, 0, v::unknown},
        {L"missing-inf-setup.zip", L"install.exe", 3010, v::restart_needed},
        {L"missing-inf-setup.zip", L"install.exe", 1603, v::failed},
        {L"two-programs.zip", nullptr, 0, v::unknown},
    };
    for (const auto& c : cases) {
        recording_shell answering;
        if (c.program) answering.answer_exit(c.program, c.code);
        DeleteFileW(environment.installed_list.c_str());
        install_request request;
        request.package_path = put_package(c.sample);
        request.inf_names = {L"a\\x\\one.inf"};
        request.link = "http://h/p/drv.zip";
        install_task(request, environment);
        EXPECT_EQ(judge_installation(request.report), c.verdict) << c.code;
        EXPECT_EQ(read_file_bytes(environment.installed_list),
                  installation_succeeded(c.verdict) ? "http://h/p/drv.zip\r\n" : "") << c.code;
    }
}

// One installation per package at a time, whatever asks for it.
TEST_F(InstallTest, ASecondInstallationOfAPackageIsRefusedWhileOneRuns) {
    auto request = std::make_shared<install_request>();
    request->package_path = put_package(L"two-inf-folders.zip");
    std::wstring other_case = request->package_path;
    CharUpperBuffW(&other_case[0], static_cast<DWORD>(other_case.size()));
    ASSERT_TRUE(claim_package(other_case));
    request->installing = 1;
    EXPECT_EQ(start_install_job(request, environment), install_start::already_installing);
    EXPECT_EQ(request->installing, 0);
    release_package(other_case);
    EXPECT_FALSE(installations_running());
    EXPECT_TRUE(shell.calls().empty());
}

TEST_F(InstallTest, UnpackFoldersAreNamedAfterThePackage) {
    EXPECT_EQ(make_unpack_folder(L"X:\\any\\drv.zip", downloads), downloads + L"\\drv");
    EXPECT_EQ(make_unpack_folder(L"X:\\any\\drv.tar.gz", downloads + L"\\"), downloads + L"\\drv.tar");
    EXPECT_TRUE(file_exists(downloads + L"\\drv"));
    EXPECT_EQ(make_unpack_folder(L"x.zip", downloads + L"\\new\\deeper"), downloads + L"\\new\\deeper\\x");
    EXPECT_TRUE(file_exists(downloads + L"\\new\\deeper\\x"));

    // A downloaded package without an extension is a zip archive all the
    // same: its folder must not be the package file itself.
    const std::wstring digest = L"d41d8cd98f00b204e9800998ecf8427e";
    std::wstring package = put_package(L"two-inf-folders.zip", digest.c_str());
    EXPECT_EQ(install_package(package, {L"a\\x\\one.inf"}, environment, report), 0);
    EXPECT_TRUE(file_exists(downloads + L"\\" + digest + L"_files\\a\\x\\one.inf"));
    EXPECT_EQ(shell.calls(), (std::vector<call>{dpinst(downloads + L"\\" + digest + L"_files\\a\\x")}));
}

TEST_F(InstallTest, TheJobOwnsItsRequestAndEndsByClearingInstalling) {
    auto request = std::make_shared<install_request>();
    request->package_path = put_package(L"two-inf-folders.zip");
    request->inf_names = {L"a\\y\\two.inf"};
    request->installing = 1;
    std::weak_ptr<install_request> watch = request;
    ASSERT_EQ(start_install_job(request, environment), install_start::started);
    request.reset();  // the row that started it is rebuilt

    // The job ends and frees the request; a generous bound only guards
    // against a hang.
    for (int i = 0; i < 600 && !watch.expired(); ++i) Sleep(100);
    ASSERT_TRUE(watch.expired());
    EXPECT_EQ(shell.calls(), (std::vector<call>{dpinst(unpacked + L"\\a\\y")}));
}

}  // namespace
