// Kill tests: a separate process (kill_target.exe) runs one of the program's
// operations with the program's code and is ended with TerminateProcess at
// seeded points while the operation is under way; then this process does what
// the program's next start does, with the same code, and the state it finds
// must be consistent:
//   - a download: the session starts paused on a prefix of the package and
//     resumes to the exact bytes;
//   - a backup's catalogue saves: "backup.xml" loads, with every entry it had;
//   - an installation's unpack: installing again completes, and the unpacked
//     files equal the archive's.
// Its libcurl header brings winsock2.h, which must come before windows.h.
#include "downloads/download_session.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/settings.h"
#include "backup/catalogue.h"
#include "backup/zip_writer.h"
#include "common/recording_shell.h"
#include "common/reference_service.h"
#include "common/scratch_folder.h"
#include "install/install.h"
#include "platform/text.h"
#include "robustness/kill_target/kill_devices.h"

namespace {

constexpr uint32_t kill_seed = 20261207;

std::string blob(std::size_t size, std::mt19937& random) {
    std::string bytes(size, '\0');
    // Runs of repeated bytes between random ones: compressible, but not to nothing.
    for (std::size_t i = 0; i < size; i += 8) {
        char c = static_cast<char>(random());
        for (std::size_t j = i; j < std::min(size, i + 8); ++j) bytes[j] = (j % 8 < 3) ? c : 'q';
    }
    return bytes;
}

int64_t file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One run of kill_target.exe; ended when the object goes.
class target_process {
public:
    // Starts it with `args`; it creates `marker` once its operation is under way.
    bool start(const std::wstring& args, const std::wstring& marker) {
        DeleteFileW(marker.c_str());
        SetEnvironmentVariableW(L"KILL_TARGET_MARKER", marker.c_str());
        const std::wstring program = std::wstring(QM_BINARY_DIR_W) + L"\\kill_target.exe";
        std::wstring line = L"\"" + program + L"\" " + args;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &process_);
        SetEnvironmentVariableW(L"KILL_TARGET_MARKER", nullptr);
        return started != FALSE;
    }
    // Waits until `reached` holds while the process runs; false when it ended
    // first (or nothing happened for a minute: a generous bound, not a measure).
    bool wait_until(const std::function<bool()>& reached) {
        for (int i = 0; i < 12000; ++i) {
            if (reached()) return true;
            if (WaitForSingleObject(process_.hProcess, 5) == WAIT_OBJECT_0) return reached();
        }
        return false;
    }
    // True when the process was still running and has now been ended.
    bool kill() {
        bool running = WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
        TerminateProcess(process_.hProcess, 9);
        WaitForSingleObject(process_.hProcess, INFINITE);
        return running;
    }
    ~target_process() {
        if (!process_.hProcess) return;
        kill();
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

private:
    PROCESS_INFORMATION process_ = {};
};

// --- during a download ---------------------------------------------------------

TEST(KillDuringDownload, TheNextStartFindsItPausedAndResumesByteExact) {
    reference_service* service = reference_service::get();
    ASSERT_NE(service, nullptr);
    std::mt19937 random(kill_seed);
    const std::string package = blob(2 * 1024 * 1024, random);
    const std::string name = "kill-package-" + std::to_string(GetCurrentProcessId()) + ".bin";
    ASSERT_TRUE(write_file_bytes(service->extra_packages() + utf8_to_wide(name), package));
    const std::string link = service->mirror_url(1) + "packages/" + name;
    scratch_folder scratch;
    const std::wstring folder = scratch / L"downloads";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    copy_text(current_settings.session_download_path, folder);
    const std::wstring final_path = download_final_path(folder.c_str(), link.c_str());
    const std::wstring partial_path = final_path + L".tmp";
    const std::wstring args = L"download " + utf8_to_wide(link) + L" " +
                              std::to_wstring(package.size()) + L" \"" + folder + L"\"";

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        DeleteFileW(final_path.c_str());
        DeleteFileW(partial_path.c_str());
        // About a millisecond per KiB: two seconds or more for the package.
        ASSERT_TRUE(service->reset());
        ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.001}})"));
        const int64_t kill_at = std::uniform_int_distribution<int64_t>(16 * 1024, 1536 * 1024)(random);
        {
            target_process target;
            ASSERT_TRUE(target.start(args, scratch / L"under-way"));
            ASSERT_TRUE(target.wait_until([&] { return file_size(partial_path) >= kill_at; }));
            ASSERT_TRUE(target.kill());
        }
        ASSERT_TRUE(service->reset());

        // The next start: paused on what the killed run left, a prefix of the package.
        clear_download_sessions();
        const std::string left = read_file_bytes(partial_path);
        ASSERT_GE(left.size(), static_cast<std::size_t>(kill_at));
        ASSERT_LT(left.size(), package.size());
        EXPECT_TRUE(package.compare(0, left.size(), left) == 0);
        download_session_c* session = get_download_session(link.c_str(), static_cast<uint32_t>(package.size()));
        EXPECT_EQ(session->state(), DOWNLOAD_PAUSED);
        EXPECT_EQ(session->progress().bytes_so_far, left.size());

        ASSERT_TRUE(session->start());
        for (int i = 0; i < 3000 && !session->poll(); ++i) Sleep(20);
        EXPECT_EQ(session->state(), DOWNLOAD_COMPLETE);
        EXPECT_TRUE(read_file_bytes(final_path) == package);
        EXPECT_EQ(service->log().back(),
                  "1 GET /packages/" + name + " range=bytes=" + std::to_string(left.size()) + "-");
        clear_download_sessions();
    }
    DeleteFileW((service->extra_packages() + utf8_to_wide(name)).c_str());
}

// --- during a backup's catalogue saves ---------------------------------------

class KillDuringCatalogueSave : public ::testing::Test {
protected:
    static constexpr int entry_count = 300;
    static constexpr int device_count = 40;

    void SetUp() override {
        CreateDirectoryW(program().c_str(), nullptr);
        CreateDirectoryW(backups().c_str(), nullptr);
        copy_text(program_dir, join_path(program(), L""));
        copy_text(current_settings.backup_path, backups());
        fill_kill_devices(store_, device_count);
        app_device_store = &store_;

        // The catalogue an earlier backup left: one entry per archive.
        std::vector<backup_entry> entries(entry_count);
        for (int i = 0; i < entry_count; ++i) {
            std::string file = "Driver-Package-" + std::to_string(i) + ".zip";
            ASSERT_TRUE(write_file_bytes(join_path(backups(), utf8_to_wide(file)), "PK"));
            copy_text(entries[i].file, file);
            copy_text(entries[i].date, "2013-04-11");
            backed_up_device device;
            copy_text(device.id, store_.devices[i % device_count].device_id);
            entries[i].devices.push_back(device);
        }
        std::lock_guard<std::mutex> hold(backup_catalogue_lock);
        backup_catalogue = std::move(entries);
    }

    void TearDown() override {
        std::lock_guard<std::mutex> hold(backup_catalogue_lock);
        backup_catalogue.clear();
    }

    std::wstring program() const { return scratch_ / L"program"; }
    std::wstring backups() const { return scratch_ / L"backups"; }

    // The process-wide places the catalogue is read from, as they were
    // before the test, back in place at its end.
    struct kept_places {
        std::wstring program = program_dir;
        std::wstring backups = current_settings.backup_path;
        device_store* store = app_device_store;
        ~kept_places() {
            copy_text(program_dir, program);
            copy_text(current_settings.backup_path, backups);
            app_device_store = store;
        }
    } kept_;
    scratch_folder scratch_;
    device_store store_;
};

TEST_F(KillDuringCatalogueSave, TheCatalogueLoadsWithEveryEntry) {
    ASSERT_EQ(save_catalogue(), 0);
    std::mt19937 random(kill_seed + 1);
    const std::wstring args = L"catalogue \"" + program() + L"\" \"" + backups() + L"\" " +
                              std::to_wstring(device_count);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::wstring marker = scratch_ / L"under-way";
        {
            target_process target;
            ASSERT_TRUE(target.start(args, marker));
            ASSERT_TRUE(target.wait_until([&] { return file_size(marker) >= 0; }));
            Sleep(std::uniform_int_distribution<DWORD>(10, 400)(random));
            ASSERT_TRUE(target.kill()) << "the save loop ended by itself";
        }
        // The next start: the old catalogue or a newer one, whole.
        {
            std::lock_guard<std::mutex> hold(backup_catalogue_lock);
            backup_catalogue.clear();
        }
        ASSERT_EQ(load_catalogue(), 0);
        std::vector<backup_entry> loaded = catalogue_snapshot();
        ASSERT_EQ(loaded.size(), static_cast<std::size_t>(entry_count));
        for (int i = 0; i < entry_count; ++i) {
            EXPECT_EQ(std::string(loaded[i].file), "Driver-Package-" + std::to_string(i) + ".zip");
            EXPECT_GE(loaded[i].devices.size(), 1u);
            EXPECT_LE(loaded[i].devices.size(), 3u);
        }
    }
}

// --- during an installation's unpack ------------------------------------------

TEST(KillDuringUnpack, InstallingAgainCompletesWithTheArchivesFiles) {
    scratch_folder scratch;
    std::mt19937 random(kill_seed + 2);
    // A package large enough that a kill lands in the middle of a file, and
    // is killed in its first half, so that the unpack is still running.
    std::vector<std::wstring> names;
    const std::wstring source = scratch / L"source";
    ASSERT_TRUE(CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((source + L"\\data").c_str(), nullptr));
    for (int i = 0; i < 12; ++i) names.push_back(L"driver" + std::to_wstring(i) + L".sys");
    for (int i = 0; i < 4; ++i) names.push_back(L"data\\table" + std::to_wstring(i) + L".bin");
    std::vector<std::string> contents;
    const std::wstring package = scratch / L"package.zip";
    {
        zip_writer writer;
        ASSERT_EQ(writer.create(package), 0);
        for (const std::wstring& name : names) {
            contents.push_back(blob(2 * 1024 * 1024 + contents.size(), random));
            ASSERT_TRUE(write_file_bytes(join_path(source, name), contents.back()));
            writer.add_file(join_path(source, name), name);
        }
        ASSERT_EQ(writer.close(), 0);
    }
    const std::wstring downloads = scratch / L"downloads";
    ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
    const std::wstring unpacked = join_path(downloads, L"package");
    // An unpack writes into a new folder beside the unpack folder.
    const std::wstring fresh = unpacked + L".fresh";
    auto files_written = [&] { return list_folder(fresh).size() + list_folder(fresh + L"\\data").size(); };

    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        delete_tree(unpacked);
        const std::size_t kill_after = std::uniform_int_distribution<std::size_t>(1, names.size() / 2)(random);
        {
            target_process target;
            ASSERT_TRUE(target.start(L"install \"" + package + L"\" \"" + downloads + L"\"",
                                     scratch / L"under-way"));
            ASSERT_TRUE(target.wait_until([&] { return files_written() >= kill_after; }));
            Sleep(std::uniform_int_distribution<DWORD>(0, 10)(random));
            ASSERT_TRUE(target.kill()) << "the unpack ended before the kill";
        }

        // The next installation of the same package.
        recording_shell launches;
        install_environment environment;
        environment.download_folder = downloads;
        environment.program_folder = downloads;
        install_report report;
        ASSERT_EQ(install_package(package, {}, environment, report), 0);
        std::vector<std::wstring> top = list_folder(unpacked), data = list_folder(unpacked + L"\\data");
        std::sort(top.begin(), top.end());
        std::sort(data.begin(), data.end());
        EXPECT_EQ(top.size(), 13u);  // the drivers and the data folder
        EXPECT_EQ(list_folder(downloads), std::vector<std::wstring>{L"package"});  // nothing left over
        EXPECT_EQ(data, (std::vector<std::wstring>{L"table0.bin", L"table1.bin", L"table2.bin", L"table3.bin"}));
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_TRUE(read_file_bytes(join_path(unpacked, names[i])) == contents[i])
                << wide_to_utf8(names[i]) << " differs from the archive's";
        }
    }
}

}  // namespace
