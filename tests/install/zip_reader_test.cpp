#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <utility>

#include "common/reference_service.h"
#include "install/zip_reader.h"
#include "install_test_support.h"
#include "platform/disk_space.h"
#include "platform/text.h"

namespace {

using names = std::vector<std::wstring>;

TEST(SafeEntryPath, KeepsNamesInsideTheFolderAndRefusesTheRest) {
    EXPECT_EQ(safe_entry_path(L"a/b/one.inf"), L"a\\b\\one.inf");
    EXPECT_EQ(safe_entry_path(L"a\\b\\"), L"a\\b\\");  // a folder entry
    EXPECT_EQ(safe_entry_path(L"./a//b.txt"), L"a\\b.txt");
    EXPECT_EQ(safe_entry_path(L"a/..b/c..txt"), L"a\\..b\\c..txt");
    EXPECT_EQ(safe_entry_path(L"console.txt"), L"console.txt");
    EXPECT_EQ(safe_entry_path(L"com10.inf"), L"com10.inf");

    for (const wchar_t* hostile :
         {L"", L"/", L"./", L"../escape.txt", L"..\\escape.txt", L"a/../../escape.txt", L"a/..",
          L"C:\\evil.txt", L"C:evil.txt", L"c:/evil.txt", L"\\rooted.txt", L"/rooted.txt",
          L"\\\\server\\share\\unc.txt", L"//server/share/unc.txt", L"\\\\?\\C:\\x.txt",
          L"file.txt:stream", L"a/... /x.txt", L"a/.. /x.txt", L"NUL", L"a/con.txt", L"COM1",
          L"lpt9.inf", L"aux .txt", L"a\tb.txt"}) {
        EXPECT_EQ(safe_entry_path(hostile), L"") << "name: " << wide_to_utf8(hostile);
    }
    EXPECT_EQ(safe_entry_path(std::wstring(L"a.txt\0.inf", 10)), L"");
}

class ZipReaderTest : public ::testing::Test {
protected:
    scratch_folder scratch;
    std::wstring archive = scratch / L"package.zip";
    std::wstring out = scratch / L"out";
    void SetUp() override { ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr)); }

    int extract(const std::wstring& path) {
        zip_reader reader;
        if (reader.open(path.c_str()) != 0) return -1000;
        return reader.extract_all(out, false, false);
    }
};

TEST_F(ZipReaderTest, OpenTriesThePathWithZipAppended) {
    ASSERT_TRUE(write_zip(archive, {{"a.txt", "A"}}));
    zip_reader reader;
    EXPECT_EQ(reader.open((scratch / L"package").c_str()), 0);
    EXPECT_TRUE(reader.is_open());
    EXPECT_EQ(reader.open(wide_to_ansi(scratch / L"package").c_str()), 0);
    EXPECT_EQ(reader.open((scratch / L"missing").c_str()), -1);
    EXPECT_FALSE(reader.is_open());
    EXPECT_EQ(reader.open(static_cast<const wchar_t*>(nullptr)), -1);

    ASSERT_TRUE(write_file_bytes(scratch / L"plain.exe", "MZ not an archive"));
    EXPECT_EQ(reader.open((scratch / L"plain.exe").c_str()), -1);
}

TEST_F(ZipReaderTest, WritesEntriesByFullPathWithTheirFoldersAndDosTimes) {
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(write_zip(archive, {{"top.inf", "top"},
                                    {"empty/", ""},
                                    {"deep/er/file.txt", "deep file"},
                                    {"stored.bin", std::string(20000, 'x'), false, 0}}));
    EXPECT_EQ(extract(archive), 0);
    EXPECT_EQ(files_under(out), (names{L"deep\\er\\file.txt", L"stored.bin", L"top.inf"}));
    EXPECT_TRUE(list_folder(out + L"\\empty").empty());
    EXPECT_TRUE(file_exists(out + L"\\empty"));
    EXPECT_EQ(read_file_bytes(out + L"\\deep\\er\\file.txt"), "deep file");
    EXPECT_EQ(read_file_bytes(out + L"\\stored.bin"), std::string(20000, 'x'));

    // The current directory is never used for the extraction.
    wchar_t after[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_STREQ(before, after);

    // Creation and last-write time are the entry's local DOS date and time.
    HANDLE file = CreateFileW((out + L"\\top.inf").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created{}, accessed{}, written{};
    GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    for (const FILETIME& utc : {created, written}) {
        FILETIME local{};
        SYSTEMTIME t{};
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        ASSERT_TRUE(FileTimeToSystemTime(&local, &t));
        EXPECT_EQ(t.wYear, 2013);
        EXPECT_EQ(t.wMonth, 4);
        EXPECT_EQ(t.wDay, 11);
        EXPECT_EQ(t.wHour, 10);
        EXPECT_EQ(t.wMinute, 20);
        EXPECT_EQ(t.wSecond, 30);
    }
}

TEST_F(ZipReaderTest, ExistingFilesAreKeptUnlessOverwriteIsAsked) {
    ASSERT_TRUE(write_zip(archive, {{"a/kept.inf", "from the archive"}, {"b.txt", "new"}}));
    CreateDirectoryW((out + L"\\a").c_str(), nullptr);
    ASSERT_TRUE(write_file_bytes(out + L"\\a\\kept.inf", "already here"));

    EXPECT_EQ(extract(archive), 0);
    EXPECT_EQ(read_file_bytes(out + L"\\a\\kept.inf"), "already here");
    EXPECT_EQ(read_file_bytes(out + L"\\b.txt"), "new");

    zip_reader reader;
    ASSERT_EQ(reader.open(archive.c_str()), 0);
    EXPECT_EQ(reader.extract_all(out, false, true), 0);
    EXPECT_EQ(read_file_bytes(out + L"\\a\\kept.inf"), "from the archive");
}

TEST_F(ZipReaderTest, HostileNamesWriteNothingOutsideTheFolder) {
    // The sample archive: first.txt, ../escape.txt, C:\evil.txt, \rooted.txt,
    // sub/../../escape-too.txt, //server/share/unc.txt, last.txt.
    std::wstring nested = out + L"\\one\\two";
    SHCreateDirectoryExW(nullptr, nested.c_str(), nullptr);
    zip_reader reader;
    ASSERT_EQ(reader.open(sample_package(L"hostile-names.zip").c_str()), 0);
    EXPECT_EQ(reader.extract_all(nested, false, false), 0);

    // Everything the archive could reach is inside `out`: only the two plain
    // names were written, and skipping the others did not end the extraction.
    EXPECT_EQ(files_under(scratch.path()), (names{L"out\\one\\two\\first.txt", L"out\\one\\two\\last.txt"}));
    for (const wchar_t* outside : {L"C:\\evil.txt", L"C:\\rooted.txt", L"Z:\\rooted.txt"}) {
        EXPECT_FALSE(file_exists(outside)) << wide_to_utf8(outside);
    }
}

TEST_F(ZipReaderTest, NamesAreDecodedAsUtf8WhenFlaggedElseInTheAnsiCodePage) {
    const std::wstring utf8_name = L"Gr\u00e4fik\\\u0434\u0440\u0430\u0439\u0432\u0435\u0440.inf";
    const std::wstring ansi_name = L"\u00c4rger.inf";
    std::string ansi_bytes = wide_to_ansi(ansi_name);
    if (ansi_to_wide(ansi_bytes) != ansi_name) GTEST_SKIP() << "the ANSI code page lacks the letter";
    ASSERT_TRUE(write_zip(archive, {{wide_to_utf8(L"\u00fcber/\u043f\u0430\u043f\u043a\u0430.txt"), "u", true},
                                    {ansi_bytes, "a", false}}));
    EXPECT_EQ(extract(archive), 0);
    EXPECT_EQ(read_file_bytes(out + L"\\\u00fcber\\\u043f\u0430\u043f\u043a\u0430.txt"), "u");
    EXPECT_EQ(read_file_bytes(out + L"\\" + ansi_name), "a");

    // The sample written by Python's zipfile, which flags names outside ASCII.
    zip_reader reader;
    ASSERT_EQ(reader.open(sample_package(L"utf8-names.zip").c_str()), 0);
    EXPECT_EQ(reader.extract_all(out, false, false), 0);
    EXPECT_TRUE(file_exists(out + L"\\" + utf8_name));
}

TEST_F(ZipReaderTest, AFailingEntryIsAnErrorAndLeavesNoPartialFile) {
    const std::string body(3000, 'q');
    ASSERT_TRUE(write_zip(archive, {{"good.txt", "fine"},
                                    {"broken.bin", body, false, 0},
                                    {"after.txt", "never reached"}}));
    // Damage the stored entry's data: its checksum no longer matches.
    std::string bytes = read_file_bytes(archive);
    std::size_t at = bytes.find(body);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 100] = 'Q';
    ASSERT_TRUE(write_file_bytes(archive, bytes));

    EXPECT_NE(extract(archive), 0);
    // A broken file would never be replaced by a later extraction, which
    // does not overwrite: it is removed, and the extraction ends there.
    EXPECT_EQ(files_under(out), (names{L"good.txt"}));
}

TEST_F(ZipReaderTest, ARaisedStopFlagEndsTheExtractionBeforeTheNextPiece) {
    ASSERT_TRUE(write_zip(archive, {{"a.txt", "A"}, {"b.txt", "B"}}));
    zip_reader reader;
    ASSERT_EQ(reader.open(archive.c_str()), 0);
    std::atomic<bool> stop{true};
    reader.set_stop(&stop);
    EXPECT_EQ(reader.extract_all(out, false, false), UNPACK_STOPPED);
    EXPECT_TRUE(files_under(out).empty());
}

TEST_F(ZipReaderTest, AnUnreadableDirectoryIsAnError) {
    ASSERT_TRUE(write_zip(archive, {{"a.txt", "A"}, {"b.txt", "B"}}));
    zip_reader reader;
    ASSERT_EQ(reader.open(archive.c_str()), 0);
    // The second central-directory record loses its signature: reaching the
    // next entry fails after the first was written.
    std::string bytes = read_file_bytes(archive);
    std::size_t first = bytes.find("PK\x01\x02");
    std::size_t second = bytes.find("PK\x01\x02", first + 4);
    ASSERT_NE(second, std::string::npos);
    reader.close();
    bytes[second + 2] = 'X';
    ASSERT_TRUE(write_file_bytes(archive, bytes));
    ASSERT_EQ(reader.open(archive.c_str()), 0);
    EXPECT_NE(reader.extract_all(out, false, false), 0);
    // The whole directory is read before anything is written.
    EXPECT_TRUE(files_under(out).empty());
}

// Sets the uncompressed size that both headers of the archive's first entry
// declare.
void declare_size(std::string& bytes, uint32_t size) {
    std::size_t local = bytes.find("PK\x03\x04");
    std::size_t central = bytes.find("PK\x01\x02");
    ASSERT_NE(local, std::string::npos);
    ASSERT_NE(central, std::string::npos);
    std::memcpy(&bytes[local + 22], &size, 4);
    std::memcpy(&bytes[central + 24], &size, 4);
}

TEST_F(ZipReaderTest, NoEntryWritesMoreThanItsDirectoryDeclares) {
    std::string body;
    for (int i = 0; i < 10000; ++i) body += static_cast<char>('a' + i * 7 % 26);
    ASSERT_TRUE(write_zip(archive, {{"bomb.bin", body}, {"after.txt", "never reached"}}));
    std::string bytes = read_file_bytes(archive);
    declare_size(bytes, 4000);
    ASSERT_TRUE(write_file_bytes(archive, bytes));

    EXPECT_NE(extract(archive), 0);
    // Reading stopped at the declared 4000 bytes, whose checksum is not the
    // entry's: the file is removed and the extraction ends there.
    EXPECT_TRUE(files_under(out).empty());
}

// Answers `room` free bytes and keeps the folder it was asked about.
uint64_t room = 0;
std::wstring room_asked_for;
bool fixed_room(const wchar_t* folder, uint64_t& bytes) {
    room_asked_for = folder;
    bytes = room;
    return true;
}

class ZipReaderRoom : public ZipReaderTest {
protected:
    void SetUp() override {
        ZipReaderTest::SetUp();
        previous_ = set_free_space_function(fixed_room);
    }
    void TearDown() override { set_free_space_function(previous_); }
    // The extraction's result and Windows' last error just after it.
    std::pair<int, DWORD> extract_into(const std::wstring& folder, bool overwrite) {
        zip_reader reader;
        if (reader.open(archive.c_str()) != 0) return {-1000, 0};
        SetLastError(0);
        int result = reader.extract_all(folder, false, overwrite);
        return {result, GetLastError()};
    }
    free_space_function previous_ = nullptr;
};

TEST_F(ZipReaderRoom, AnArchiveLargerThanTheFreeSpaceIsRefusedBeforeAnythingIsWritten) {
    ASSERT_TRUE(write_zip(archive, {{"a.txt", std::string(1000, 'a')},
                                    {"folder/", ""},
                                    {"sub/b.bin", std::string(2000, 'b')}}));
    room = 2999;
    EXPECT_EQ(extract_into(out, false), std::make_pair(UNPACK_NO_ROOM, DWORD{ERROR_DISK_FULL}));
    EXPECT_EQ(room_asked_for, out);
    EXPECT_TRUE(list_folder(out).empty());

    room = 3000;
    EXPECT_EQ(extract_into(out, false).first, 0);
    EXPECT_EQ(files_under(out), (names{L"a.txt", L"sub\\b.bin"}));

    // Files that are kept need no room; files that are replaced do.
    ASSERT_TRUE(DeleteFileW((out + L"\\sub\\b.bin").c_str()));
    room = 2000;
    EXPECT_EQ(extract_into(out, false).first, 0);
    EXPECT_EQ(read_file_bytes(out + L"\\sub\\b.bin"), std::string(2000, 'b'));
    EXPECT_EQ(extract_into(out, true).first, UNPACK_NO_ROOM);
}

TEST_F(ZipReaderRoom, HugeDeclaredSizesAreRefusedWithoutWritingAByte) {
    ASSERT_TRUE(write_zip(archive, {{"bomb.bin", "small"}}));
    std::string bytes = read_file_bytes(archive);
    declare_size(bytes, 0xFFFFFFF0u);
    ASSERT_TRUE(write_file_bytes(archive, bytes));
    room = 1ull << 30;
    EXPECT_EQ(extract_into(out, false).first, UNPACK_NO_ROOM);
    EXPECT_TRUE(list_folder(out).empty());
}

TEST_F(ZipReaderTest, APartialFileOfACutRunIsWrittenOverAndNoneKeepsAnEntrysName) {
    ASSERT_TRUE(write_zip(archive, {{"drv.sys", std::string(50000, 'd')}}));
    // What an extraction that was killed in the middle of the entry left.
    ASSERT_TRUE(write_file_bytes(out + L".unpacking", std::string(9000, 'd')));
    EXPECT_EQ(extract(archive), 0);
    EXPECT_EQ(files_under(scratch.path()), (names{L"out\\drv.sys", L"package.zip"}));
    EXPECT_EQ(read_file_bytes(out + L"\\drv.sys"), std::string(50000, 'd'));

    // Nothing to write, and still nothing left over.
    ASSERT_TRUE(write_file_bytes(out + L".unpacking", std::string(9000, 'd')));
    EXPECT_EQ(extract(archive), 0);
    EXPECT_EQ(files_under(scratch.path()), (names{L"out\\drv.sys", L"package.zip"}));
}

// A folder of the write path that is a link (a junction, a symbolic link)
// ends the extraction as an error, and nothing is written through it.
TEST_F(ZipReaderTest, FoldersThatAreLinksAreNotWrittenThrough) {
    ASSERT_TRUE(write_zip(archive, {{"a/", ""}, {"a/x.sys", "x"}, {"b/y.sys", "y"}}));
    const std::wstring elsewhere = scratch / L"elsewhere";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    struct {
        std::wstring link;
        const wchar_t* note;
    } cases[] = {{out + L"\\a", L"a folder entry's folder"},
                 {out + L"\\b", L"a file entry's folder"},
                 {out, L"the unpack folder itself"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.note)));
        delete_tree(out);
        if (c.link != out) {
            ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
        }
        folder_link link(c.link, elsewhere);
        ASSERT_TRUE(link.made());
        EXPECT_EQ(extract(archive), UNPACK_LINK_REFUSED);
        EXPECT_TRUE(list_folder(elsewhere).empty());
    }
}

}  // namespace
