#include <gtest/gtest.h>

#include <minizip/unzip.h>
#include <minizip/iowin32.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/settings.h"
#include "backup/catalogue.h"
#include "backup/restore.h"
#include "backup/store_index.h"
#include "common/recording_shell.h"
#include "common/reference_service.h"  // read_file_bytes, write_file_bytes
#include "common/run_program.h"
#include "common/scratch_folder.h"
#include "platform/profile_device_source.h"
#include "platform/text.h"

namespace {

// Entry name -> content of every entry of a zip archive, names as stored.
std::map<std::string, std::string> zip_entries(const std::wstring& path) {
    std::map<std::string, std::string> entries;
    zlib_filefunc64_def files{};
    fill_win32_filefunc64W(&files);
    unzFile zip = unzOpen2_64(path.c_str(), &files);
    if (!zip) return entries;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        char name[512] = {};
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        std::string data(static_cast<std::size_t>(info.uncompressed_size), '\0');
        unzOpenCurrentFile(zip);
        if (!data.empty()) unzReadCurrentFile(zip, data.data(), static_cast<unsigned>(data.size()));
        unzCloseCurrentFile(zip);
        entries[name] = data;
    }
    unzClose(zip);
    return entries;
}

// The files under `folder` keyed by their path inside it, as a backup names
// them; names beginning with "." left out with all they hold.
void folder_files(const std::wstring& folder, const std::string& prefix,
                  std::map<std::string, std::string>& out) {
    for (const std::wstring& name : list_folder(folder)) {
        if (name[0] == L'.') continue;
        std::wstring path = join_path(folder, name);
        if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            folder_files(path, prefix + wide_to_ansi(name) + "/", out);
        else
            out[prefix + wide_to_ansi(name)] = read_file_bytes(path);
    }
}

// A machine profile scanned into the process-wide device store, with the
// program folder (for the catalogue) and the backup folder in a scratch
// folder and the profile's Windows version in effect.
class ProfileStore : public ::testing::Test {
protected:
    void SetUp() override {
        saved_version_ = windows_version;
        saved_store_ = app_device_store;
        copy_text(saved_program_dir_, program_dir);
        copy_text(saved_backup_path_, current_settings.backup_path);
        SetEnvironmentVariableW(L"QUILLMARK_DRIVER_STORE", QM_BINARY_DIR_W L"\\driver-store");
        CreateDirectoryW(backups().c_str(), nullptr);
        copy_text(program_dir, scratch_ / L"");
        copy_text(current_settings.backup_path, backups());
        app_device_store = &store_;
        std::lock_guard<std::mutex> hold(backup_catalogue_lock);
        backup_catalogue.clear();
    }

    void TearDown() override {
        windows_version = saved_version_;
        app_device_store = saved_store_;
        copy_text(program_dir, saved_program_dir_);
        copy_text(current_settings.backup_path, saved_backup_path_);
        package_list.clear();
        build_store_index(driver_store_places{});
        std::lock_guard<std::mutex> hold(backup_catalogue_lock);
        backup_catalogue.clear();
    }

    // Scans the profile and builds the index from its store.
    void use_profile(const wchar_t* name) {
        std::wstring error;
        ASSERT_TRUE(load_machine_profile((std::wstring(QM_SOURCE_DIR_W L"\\profiles\\") + name).c_str(),
                                         profile_, &error))
            << wide_to_utf8(error);
        ASSERT_TRUE(profile_.driver_store && profile_.windows);
        windows_version.dwMajorVersion = *profile_.windows->major;
        windows_version.dwMinorVersion = *profile_.windows->minor;
        profile_device_source source(&profile_);
        scan_progress progress;
        reset_scan_progress(progress, false);
        ASSERT_TRUE(enumerate_devices(store_, progress, source));
        ASSERT_EQ(build_store_index(profile_driver_store_places(*profile_.driver_store)), 0);
    }

    const driver_package* package_named(const std::wstring& prefix) const {
        for (const driver_package& p : package_list)
            if (std::wstring(p.folder_name).rfind(prefix, 0) == 0) return &p;
        return nullptr;
    }

    std::wstring backups() const { return scratch_ / L"backups"; }

    scratch_folder scratch_;
    machine_profile profile_;
    device_store store_;

private:
    OSVERSIONINFOEXW saved_version_{};
    device_store* saved_store_ = nullptr;
    wchar_t saved_program_dir_[MAX_PATH] = {};
    wchar_t saved_backup_path_[MAX_PATH] = {};
};

TEST_F(ProfileStore, PackagesOfTheExamplePcGroupTheirDevicesByStoreFolder) {
    use_profile(L"example-pc.xml");
    EXPECT_EQ(build_package_list(), -1);  // no catalogue yet

    // Every device whose INF the store holds, grouped by package folder.
    int devices_in_packages = 0;
    for (const driver_package& p : package_list) {
        ASSERT_FALSE(p.devices.empty());
        devices_in_packages += static_cast<int>(p.devices.size());
        for (const device_record* d : p.devices) {
            EXPECT_EQ(CompareStringOrdinal(d->InfPath, -1, p.devices[0]->InfPath, -1, TRUE), CSTR_EQUAL);
        }
    }
    const driver_package* chipset = package_named(L"ivybridge.inf_");
    ASSERT_NE(chipset, nullptr);
    EXPECT_FALSE(chipset->inbox);
    EXPECT_GT(chipset->devices.size(), 1u);
    const driver_package* graphics = package_named(L"igdlh64.inf_");
    ASSERT_NE(graphics, nullptr);
    EXPECT_STREQ(graphics->devices[0]->display_name, L"Intel(R) HD Graphics 4000");
    const driver_package* usb = package_named(L"usbport.inf_");
    ASSERT_NE(usb, nullptr);
    EXPECT_TRUE(usb->inbox);  // inbox packages are listed on Windows 7
    // monitor.inf is installed but not in the store: its device is in no package.
    EXPECT_EQ(package_named(L"monitor.inf_"), nullptr);
    EXPECT_GT(devices_in_packages, static_cast<int>(package_list.size()));
}

TEST_F(ProfileStore, WindowsXpFindsPackagesByTheContentOfTheirInf) {
    use_profile(L"xp-pc.xml");
    EXPECT_EQ(inf_content_index.size(), 3u);
    EXPECT_NE(std::wstring(store_root).find(L"DRVSTORE"), std::wstring::npos);

    wchar_t found[MAX_PATH] = {};
    ASSERT_TRUE(store_lookup(L"oem3.inf", nullptr, nullptr, found, MAX_PATH, nullptr));
    EXPECT_TRUE(std::wstring(found).find(L"\\DRVSTORE\\nv4_disp.inf_0f3a9c1e7b2d5a84\\nv4_disp.inf") !=
                std::wstring::npos)
        << wide_to_utf8(found);
    EXPECT_FALSE(store_lookup(L"oem99.inf", nullptr, nullptr, found, MAX_PATH, nullptr));

    build_package_list();
    // machine.inf is in DRVSTORE too, but XP offers only oem packages.
    ASSERT_EQ(package_list.size(), 2u);
    EXPECT_STREQ(package_list[0].devices[0]->InfPath, L"oem3.inf");
    EXPECT_STREQ(package_list[1].devices[0]->InfPath, L"oem1.inf");
    EXPECT_FALSE(package_list[0].inbox);
}

// A lookup that answers from a table, for store folders of any shape.
std::map<std::wstring, std::wstring> lookup_table;
BOOL WINAPI table_lookup(PCWSTR inf, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR buffer, DWORD size, PDWORD) {
    auto found = lookup_table.find(inf);
    if (found == lookup_table.end()) return FALSE;
    lstrcpynW(buffer, found->second.c_str(), static_cast<int>(size));
    return TRUE;
}

TEST_F(ProfileStore, FoldersCompareWithoutCaseAndPathsOutsideTheStoreAreLeftOut) {
    windows_version.dwMajorVersion = 6;
    windows_version.dwMinorVersion = 1;
    auto add = [&](const wchar_t* id, const wchar_t* inf, bool has_driver = true) {
        device_record& d = store_.devices.emplace_back();
        copy_text(d.device_id, id);
        copy_text(d.InfPath, inf);
        d.has_driver = has_driver;
    };
    add(L"A", L"oem1.inf");
    add(L"B", L"OEM2.inf");
    add(L"C", L"machine.inf");
    add(L"D", L"oem3.inf");
    add(L"E", L"oem4.inf");  // the lookup does not know it
    add(L"F", L"oem1.inf", false);
    add(L"G", L"oem5.inf");
    lookup_table = {{L"oem1.inf", L"C:\\Store\\Pkg.inf_a\\pkg.inf"},
                    {L"OEM2.inf", L"c:\\store\\PKG.INF_A\\pkg.inf"},
                    {L"machine.inf", L"C:\\Store\\machine.inf_b\\machine.inf"},
                    {L"oem3.inf", L"\\\\?\\C:\\Store\\x.inf_c\\x.inf"},
                    {L"oem5.inf", L"C:\\Store\\"}};
    driver_store_places places;
    places.file_repository = L"C:\\Store";
    places.lookup = table_lookup;
    ASSERT_EQ(build_store_index(places), 0);
    build_package_list();

    ASSERT_EQ(package_list.size(), 2u);
    EXPECT_STREQ(package_list[0].folder_name, L"Pkg.inf_a");
    ASSERT_EQ(package_list[0].devices.size(), 2u);
    EXPECT_STREQ(package_list[0].devices[1]->device_id, L"B");
    EXPECT_FALSE(package_list[0].inbox);
    EXPECT_STREQ(package_list[1].folder_name, L"machine.inf_b");
    EXPECT_TRUE(package_list[1].inbox);

    // Without the lookup function nothing is found.
    EXPECT_EQ(build_store_index(driver_store_places{L"C:\\inf", L"C:\\Store", L"", nullptr}), -1);
    build_package_list();
    EXPECT_TRUE(package_list.empty());
}

TEST(ArchiveNames, EveryCharacterWindowsRefusesIsReplaced) {
    EXPECT_EQ(archive_base_name(L"  Audio Device: Rev 2 \t"), L"Audio-Device--Rev-2");
    EXPECT_EQ(archive_base_name(L"a\\b/c*d?e<f>g|h\"i"), L"a-b-c-d-e-f-g-h-i");
    EXPECT_EQ(archive_base_name(L"Tab\there"), L"Tab-here");
    EXPECT_EQ(archive_base_name(L"Driver v1..."), L"Driver-v1---");
    EXPECT_EQ(archive_base_name(L"CON"), L"CON-");
    EXPECT_EQ(archive_base_name(L"nul.x"), L"nul-.x");
    EXPECT_EQ(archive_base_name(L"com1"), L"com1-");
    EXPECT_EQ(archive_base_name(L"Console"), L"Console");
    EXPECT_EQ(archive_base_name(L"Intel(R) HD Graphics 4000"), L"Intel(R)-HD-Graphics-4000");
}

TEST_F(ProfileStore, BackingUpTwoPackagesWritesTheirFilesAndRecordsThem) {
    use_profile(L"example-pc.xml");
    build_package_list();
    const driver_package* graphics = package_named(L"igdlh64.inf_");
    const driver_package* chipset = package_named(L"ivybridge.inf_");
    ASSERT_TRUE(graphics && chipset);

    backup_job job;
    job.selected = {chipset->devices.back(), graphics->devices[0]};
    job.backup_folder = backups();
    copy_text(current_settings.backup_path, scratch_ / L"elsewhere");  // the run keeps its folder
    ASSERT_EQ(backup_task(job), 0);
    EXPECT_EQ(job.progress.load(), 200);

    for (const driver_package* p : {graphics, chipset}) {
        std::wstring archive = backup_archive_name(*p, backups());
        SCOPED_TRACE(wide_to_utf8(archive));
        std::map<std::string, std::string> expected;
        folder_files(join_path(store_root, p->folder_name), "", expected);
        EXPECT_EQ(zip_entries(archive), expected);
    }
    // Subfolders are separated by "/"; the dot folder is left out.
    std::map<std::string, std::string> graphics_entries = zip_entries(backup_archive_name(*graphics, backups()));
    EXPECT_EQ(graphics_entries.count("data/igfxcfg.bin"), 1u);
    EXPECT_EQ(graphics_entries.size(), 5u);

    std::vector<backup_entry> entries = catalogue_snapshot();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0].file, wide_to_ansi(archive_base_name(chipset->devices[0]->DriverDesc) + L".zip").c_str());
    EXPECT_EQ(entries[0].devices.size(), chipset->devices.size());
    EXPECT_STREQ(entries[1].file, "Intel(R)-HD-Graphics-4000.zip");
    ASSERT_EQ(load_catalogue(), 0);
    EXPECT_EQ(catalogue_snapshot().size(), 2u);

    // A selected device that belongs to no package stops the run.
    backup_job stray;
    stray.selected = {&store_.devices.front(), nullptr};
    EXPECT_EQ(backup_task(stray), -1);
}

TEST_F(ProfileStore, ABackupRestoresThroughTheRealInstaller) {
    use_profile(L"example-pc.xml");
    build_package_list();
    const driver_package* audio = package_named(L"hdxlv64.inf_");
    ASSERT_NE(audio, nullptr);
    backup_job job;
    job.selected = {audio->devices[0]};
    job.backup_folder = backups();
    ASSERT_EQ(backup_task(job), 0);

    recording_shell shell;
    restore_request request;
    request.archive = L"Realtek-High-Definition-Audio.zip";
    request.backup_folder = backups();
    request.environment.program_folder = QM_PROGRAM_DIR_W;
    request.environment.windows_64bit = true;
    ASSERT_EQ(restore_task(request), 0);
    ASSERT_EQ(shell.calls().size(), 1u);
    // What the restore starts, run for real (with its console, and silent:
    // its summary window would wait for a click): the package reads as one,
    // and no device of Wine's takes it.
    finished_run run;
    ASSERT_TRUE(run_program(shell.calls()[0].target, shell.calls()[0].parameters + L" /S /C", run));
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("neither staged nor installed"), std::string::npos) << run.output;
}

TEST_F(ProfileStore, AFailedArchiveKeepsThePreviousOne) {
    use_profile(L"example-pc.xml");
    build_package_list();
    const driver_package* graphics = package_named(L"igdlh64.inf_");
    ASSERT_NE(graphics, nullptr);
    std::wstring archive = join_path(backups(), L"Intel(R)-HD-Graphics-4000.zip");
    write_file_bytes(archive, "the previous backup");
    ASSERT_EQ(record_backup(archive.c_str(), {graphics->devices[0]}), 0);
    CreateDirectoryW((archive + L".new").c_str(), nullptr);  // no new archive can be made
    backup_job job;
    job.selected = {graphics->devices[0]};
    job.backup_folder = backups();
    EXPECT_EQ(backup_task(job), -1);
    EXPECT_EQ(read_file_bytes(archive), "the previous backup");
}

TEST_F(ProfileStore, EachPackageGetsAnArchiveOfItsOwnThatReadsBack) {
    use_profile(L"example-pc.xml");
    build_package_list();
    const driver_package *graphics = package_named(L"igdlh64.inf_"), *chipset = package_named(L"ivybridge.inf_"),
                         *audio = package_named(L"hdxlv64.inf_"), *usb = package_named(L"usbport.inf_");
    copy_text(chipset->devices[0]->DriverDesc, graphics->devices[0]->DriverDesc);
    copy_text(audio->devices[0]->DriverDesc, L"\u4e2d\u6587 \u0410");
    // The last package's folder is gone: its previous archive stays.
    const std::wstring gone = backup_archive_name(*usb, backups());
    write_file_bytes(gone, "the previous backup");
    ASSERT_EQ(record_backup(gone.c_str(), {usb->devices[0]}), 0);
    copy_text(package_list[usb - package_list.data()].folder_name, L"gone");
    backup_job job;
    job.backup_folder = backups();
    for (const device_record* first : {graphics->devices[0], chipset->devices[0]}) {
        job.selected = {first, graphics->devices[0], chipset->devices[0], audio->devices[0], usb->devices[0]};
        EXPECT_EQ(backup_task(job), -1);
    }
    EXPECT_EQ(read_file_bytes(gone), "the previous backup");
    EXPECT_EQ(zip_entries(join_path(backups(), L"Intel(R)-HD-Graphics-4000-2.zip")).count("ivybridge.inf"), 1u);
    ASSERT_EQ(load_catalogue(), 0);
    EXPECT_EQ(restorable_entries(catalogue_snapshot(), backups().c_str(), store_).size(), 4u);
    EXPECT_EQ(list_folder(join_path(backups(), L"*.zip")).size(), 4u);
}

// A 32-bit program on 64-bit Windows reads the real System32's stores
// (planted through Sysnative), not SysWOW64.
TEST_F(ProfileStore, StoresInTheRealSystem32AreReadByA32BitProgram) {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) GTEST_SKIP() << "not redirected";
    const std::wstring name = L"\\DriverStore\\FileRepository\\qm-test-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring real = L"C:\\windows\\Sysnative" + name, seen = L"C:\\windows\\System32" + name;
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, (real + L"\\sub").c_str(), nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(write_file_bytes(real + L"\\sub\\x.inf", "[Version]"));
    std::atomic<int32_t> progress{0};
    EXPECT_EQ(write_archive(seen, backups() + L"\\a.zip", progress), 0);
    EXPECT_EQ(zip_entries(backups() + L"\\a.zip").count("sub/x.inf"), 1u);
    windows_version.dwMajorVersion = 5;  // XP x64 indexes the INFs' content
    driver_store_places places;
    places.drvstore = seen;
    EXPECT_EQ(build_store_index(places), 0);
    EXPECT_EQ(inf_content_index.size(), 1u);
    EXPECT_EQ(GetFileAttributesW(seen.c_str()), INVALID_FILE_ATTRIBUTES) << "redirected, as before";
    remove_tree(real);
}

TEST(WalkFolder, ListsFoldersBeforeTheirContentAndSkipsDotNames) {
    scratch_folder root;
    CreateDirectoryW((root / L"a").c_str(), nullptr);
    CreateDirectoryW((root / L"a\\b").c_str(), nullptr);
    CreateDirectoryW((root / L".hidden").c_str(), nullptr);
    write_file_bytes(root / L"a\\b\\x.bin", "x");
    write_file_bytes(root / L".hidden\\y.bin", "y");
    write_file_bytes(root / L".dot", "z");
    write_file_bytes(root / L"top.inf", "t");

    auto walk = [&](walk_folder::mode mode) {
        std::vector<std::wstring> paths;
        walk_folder w(root.path(), mode);
        for (std::wstring p; w.next(p);) paths.push_back(p.substr(root.path().size() + 1));
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    EXPECT_EQ(walk(walk_folder::files), (std::vector<std::wstring>{L"a\\b\\x.bin", L"top.inf"}));
    EXPECT_EQ(walk(walk_folder::folders), (std::vector<std::wstring>{L"a", L"a\\b"}));
    EXPECT_EQ(walk(walk_folder::both).size(), 4u);
    walk_folder missing(root / L"none", walk_folder::both);
    std::wstring path;
    EXPECT_FALSE(missing.next(path));
}

}  // namespace
