#include <gtest/gtest.h>

#include <memory>

#include "backup/detached_worker.h"
#include "backup/restore.h"
#include "backup/zip_writer.h"
#include "common/recording_shell.h"
#include "common/reference_service.h"  // read_file_bytes, write_file_bytes
#include "common/scratch_folder.h"
#include "platform/disk_space.h"

namespace {

class Restore : public ::testing::Test {
protected:
    void SetUp() override {
        backups_ = scratch_ / L"B";
        CreateDirectoryW(backups_.c_str(), nullptr);
        // A package as a backup writes it: the INF at the archive's root.
        write_file_bytes(scratch_ / L"disp.inf", "[Version]\r\n");
        write_file_bytes(scratch_ / L"x.sys", std::string(5000, 'x'));
        zip_writer writer;
        ASSERT_EQ(writer.create(join_path(backups_, L"Display-Adapter.zip")), 0);
        writer.add_file(scratch_ / L"disp.inf", L"disp.inf");
        writer.add_file(scratch_ / L"x.sys", L"sub\\x.sys");
        ASSERT_EQ(writer.close(), 0);
        request_.archive = L"Display-Adapter.zip";
        request_.backup_folder = backups_;
        request_.environment.program_folder = L"C:\\Program Files\\Quillmark";
        request_.environment.windows_64bit = true;
        request_.running = 1;
    }

    scratch_folder scratch_;
    std::wstring backups_;
    recording_shell shell_;
    restore_request request_;
};

TEST_F(Restore, UnpacksBesideTheArchiveAndForcesTheInstallerOnIt) {
    ASSERT_EQ(restore_task(request_), 0);
    EXPECT_EQ(request_.running.load(), 0);
    const std::wstring folder = join_path(backups_, L"Display-Adapter");
    EXPECT_EQ(read_file_bytes(join_path(folder, L"disp.inf")), "[Version]\r\n");
    EXPECT_EQ(read_file_bytes(join_path(folder, L"sub\\x.sys")), std::string(5000, 'x'));
    const recording_shell::call dpinst{L"program", L"C:\\Program Files\\Quillmark\\DPInst64.exe",
                                       L"/SH /F /PATH \"" + folder + L"\""};
    EXPECT_EQ(shell_.calls(), (std::vector<recording_shell::call>{dpinst}));

    // Again, after the folder was tampered with: the installer gets the
    // archive's files and nothing else.
    write_file_bytes(join_path(folder, L"disp.inf"), "changed");
    write_file_bytes(join_path(folder, L"planted.inf"), "[Version]\r\n");
    request_.environment.windows_64bit = false;
    ASSERT_EQ(restore_task(request_), 0);
    EXPECT_EQ(read_file_bytes(join_path(folder, L"disp.inf")), "[Version]\r\n");
    EXPECT_EQ(GetFileAttributesW(join_path(folder, L"planted.inf").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(shell_.calls().size(), 2u);
    EXPECT_EQ(shell_.calls()[1].target, L"C:\\Program Files\\Quillmark\\DPInst32.exe");
}

TEST_F(Restore, AMissingOrBrokenArchiveStartsNothing) {
    request_.archive = L"Gone.zip";
    EXPECT_EQ(restore_task(request_), -1);
    EXPECT_EQ(request_.running.load(), 0);
    EXPECT_NE(GetFileAttributesW(join_path(backups_, L"Gone").c_str()), INVALID_FILE_ATTRIBUTES);

    write_file_bytes(join_path(backups_, L"Broken.zip"), "PK\3\4 not an archive");
    request_.archive = L"Broken.zip";
    EXPECT_EQ(restore_task(request_), -1);
    EXPECT_TRUE(shell_.calls().empty());
}

// An archive that does not unpack whole (its first entry fails its check)
// starts nothing and leaves the earlier restore's folder as it was.
TEST_F(Restore, AnArchiveThatDoesNotUnpackWholeStartsNothing) {
    ASSERT_EQ(restore_task(request_), 0);
    const std::wstring archive = join_path(backups_, L"Display-Adapter.zip");
    std::string bytes = read_file_bytes(archive);
    bytes[bytes.find("PK\x01\x02") + 16] ^= 0x55;  // the first entry's CRC
    ASSERT_TRUE(write_file_bytes(archive, bytes));
    EXPECT_EQ(restore_task(request_), -1);
    EXPECT_EQ(shell_.calls().size(), 1u);
    EXPECT_EQ(list_folder(join_path(backups_, L"Display-Adapter")).size(), 2u);
    EXPECT_TRUE(list_folder(join_path(backups_, L"Display-Adapter.fresh")).empty());
}

bool eight_bytes_free(const wchar_t*, uint64_t& bytes) {
    bytes = 8;
    return true;
}

TEST_F(Restore, AnArchiveThatDoesNotFitUnpacksNothingAndStartsNothing) {
    free_space_function previous = set_free_space_function(eight_bytes_free);
    EXPECT_EQ(restore_task(request_), -1);
    set_free_space_function(previous);
    EXPECT_EQ(request_.running.load(), 0);
    EXPECT_TRUE(list_folder(join_path(backups_, L"Display-Adapter")).empty());
    EXPECT_TRUE(shell_.calls().empty());
}

TEST(DetachedWorker, AJobOutlivesTheHolderThatAbandonsIt) {
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto context = std::make_shared<restore_request>();
    std::weak_ptr<restore_request> watch = context;
    {
        detached_worker worker;
        ASSERT_TRUE(worker.start([context, go] {
            WaitForSingleObject(go, INFINITE);
            context->running = 7;  // the context is still there
            return 3;
        }));
        EXPECT_TRUE(worker.holds_thread());
        EXPECT_FALSE(worker.collect());
    }
    context.reset();
    EXPECT_FALSE(watch.expired());  // the thread keeps it
    SetEvent(go);
    for (int i = 0; i < 500 && !watch.expired(); ++i) Sleep(10);
    EXPECT_TRUE(watch.expired());  // freed by the thread at its end
    CloseHandle(go);

    detached_worker worker;
    ASSERT_TRUE(worker.start([] { return -1; }));
    worker.wait();
    EXPECT_FALSE(worker.holds_thread());
    EXPECT_EQ(worker.result(), -1);
}

}  // namespace
