#include <gtest/gtest.h>

#include <windows.h>

#include <minizip/unzip.h>
// After unzip.h, which defines what it uses.
#include <minizip/iowin32.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "backup/store_index.h"
#include "backup/zip_writer.h"
#include "common/reference_service.h"  // read_file_bytes, write_file_bytes
#include "common/scratch_folder.h"

namespace {

struct read_entry {
    std::string name;
    uLong dos_date = 0;
    int method = 0;
    std::string data;
    uLong flag = 0;
};

std::vector<read_entry> read_archive(const std::wstring& path) {
    std::vector<read_entry> entries;
    zlib_filefunc64_def files{};
    fill_win32_filefunc64W(&files);
    unzFile archive = unzOpen2_64(path.c_str(), &files);
    if (!archive) return entries;
    for (int next = unzGoToFirstFile(archive); next == UNZ_OK; next = unzGoToNextFile(archive)) {
        unz_file_info64 info{};
        char name[256];
        if (unzGetCurrentFileInfo64(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        read_entry entry{name, info.dosDate, static_cast<int>(info.compression_method), {}, info.flag};
        if (unzOpenCurrentFile(archive) == UNZ_OK) {
            char buffer[4096];
            for (int n; (n = unzReadCurrentFile(archive, buffer, sizeof buffer)) > 0;) entry.data.append(buffer, n);
            unzCloseCurrentFile(archive);
        }
        entries.push_back(entry);
    }
    unzClose(archive);
    return entries;
}

// Sets the file's last write to the given UTC time and returns that time as
// the DOS date (high word) and time (low word) of the local clock.
uLong set_last_write(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour) {
    SYSTEMTIME utc{};
    utc.wYear = year;
    utc.wMonth = month;
    utc.wDay = day;
    utc.wHour = hour;
    utc.wMinute = 7;
    utc.wSecond = 42;
    FILETIME when, local;
    SystemTimeToFileTime(&utc, &when);
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &when);
    CloseHandle(file);
    FileTimeToLocalFileTime(&when, &local);
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&local, &date, &time);
    return (static_cast<uLong>(date) << 16) | time;
}

TEST(ZipWriter, EntriesHoldTheFilesDatedByTheirLastWriteInLocalTime) {
    scratch_folder scratch;
    // More than one read's worth, so the entry is written in pieces.
    std::string large;
    for (int i = 0; large.size() < 100000; ++i) large += "line " + std::to_string(i) + "\r\n";
    write_file_bytes(scratch / L"oem.inf", "[Version]\r\n");
    write_file_bytes(scratch / L"big.sys", large);
    const uLong winter = set_last_write(scratch / L"oem.inf", 2011, 1, 20, 9);
    const uLong summer = set_last_write(scratch / L"big.sys", 2012, 7, 3, 23);

    zip_writer writer;
    ASSERT_EQ(writer.create(scratch / L"out.zip"), 0);
    writer.add_file(scratch / L"oem.inf", L"\\oem.inf");
    writer.add_file(scratch / L"big.sys", L"x64\\\u00fcber.sys");
    ASSERT_EQ(writer.close(), 0);

    std::vector<read_entry> entries = read_archive(scratch / L"out.zip");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "oem.inf");  // leading separators left out
    EXPECT_EQ(entries[0].dos_date, winter);
    EXPECT_EQ(entries[0].data, "[Version]\r\n");
    EXPECT_EQ(entries[1].name, "x64/\xc3\xbc" "ber.sys");  // UTF-8, flagged with bit 11
    EXPECT_EQ(entries[1].flag & 0x800, 0x800u);
    EXPECT_EQ(entries[1].dos_date, summer);
    EXPECT_EQ(entries[1].method, Z_DEFLATED);
    EXPECT_EQ(entries[1].data, large);
    // A file that is not there fails the archive.
    ASSERT_EQ(writer.create(scratch / L"out.zip"), 0);
    writer.add_file(scratch / L"gone.dll", L"gone.dll");
    EXPECT_EQ(writer.close(), -1);
}

// Reads like ReadFile until `read_budget` bytes have been read in all, then
// fails as a read of a locked or damaged region of a file does.
std::size_t read_budget = 0;
bool read_failing_partway(void* file, void* buffer, unsigned long size, unsigned long& got) {
    DWORD n = 0;
    if (read_budget == 0) {
        SetLastError(ERROR_LOCK_VIOLATION);
        return false;
    }
    bool ok = ReadFile(static_cast<HANDLE>(file), buffer,
                       static_cast<DWORD>(std::min<std::size_t>(size, read_budget)), &n, nullptr);
    read_budget -= n;
    got = n;
    return ok;
}

class ReadFailure : public ::testing::Test {
protected:
    void SetUp() override { previous_ = zip_writer::set_read_function(read_failing_partway); }
    void TearDown() override { zip_writer::set_read_function(previous_); }
    scratch_folder scratch;

private:
    zip_writer::read_function previous_ = nullptr;
};

TEST_F(ReadFailure, AFileThatFailsPartwayFailsTheArchive) {
    write_file_bytes(scratch / L"small.inf", "[Version]\r\n");
    write_file_bytes(scratch / L"big.sys", std::string(100000, 's'));
    zip_writer writer;
    ASSERT_EQ(writer.create(scratch / L"out.zip"), 0);
    read_budget = 50000;  // the whole of small.inf, half of big.sys
    writer.add_file(scratch / L"small.inf", L"small.inf");
    writer.add_file(scratch / L"big.sys", L"big.sys");
    EXPECT_EQ(writer.close(), -1);

    // Every read whole: the archive is good.
    read_budget = 1000000;
    ASSERT_EQ(writer.create(scratch / L"out.zip"), 0);
    writer.add_file(scratch / L"big.sys", L"big.sys");
    EXPECT_EQ(writer.close(), 0);
    std::vector<read_entry> entries = read_archive(scratch / L"out.zip");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].data, std::string(100000, 's'));
}

TEST_F(ReadFailure, APackageWithAFileThatFailsPartwayKeepsThePreviousArchive) {
    const std::wstring package = scratch / L"package";
    CreateDirectoryW(package.c_str(), nullptr);
    write_file_bytes(package + L"\\oem.inf", "[Version]\r\n");
    write_file_bytes(package + L"\\driver.sys", std::string(100000, 'd'));
    const std::wstring archive = scratch / L"Backup.zip";
    write_file_bytes(archive, "the previous backup");
    std::atomic<int32_t> progress{0};
    read_budget = 30000;
    EXPECT_EQ(write_archive(package, archive, progress), -1);
    EXPECT_EQ(read_file_bytes(archive), "the previous backup");
    EXPECT_EQ(GetFileAttributesW((archive + L".new").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
