// Download sessions against the reference update service on loopback: file
// naming, the first state from what an earlier run left on disk, pause and
// resume, completion, removal, and quitting while a download runs.
#include "downloads/download_session.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/globals.h"
#include "app/settings.h"
#include "common/reference_service.h"
#include "downloads/md5.h"
#include "platform/text.h"

namespace {

void no_pause(uint32_t) {}

std::string blob(size_t size, int seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + seed + i / 509) % 256);
    return bytes;
}

// Runs the row's 200 ms poll until the worker has ended (at most ~60 s).
bool poll_until_ended(download_session_c& session) {
    for (int i = 0; i < 3000; ++i) {
        if (session.poll()) return true;
        Sleep(20);
    }
    return false;
}

class DownloadSessions : public ::testing::Test {
protected:
    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        previous_pause = set_retry_pause(no_pause);
        wchar_t name[64];
        swprintf(name, 64, L"sessions-%lu\\", GetCurrentProcessId());
        folder = service->extra_packages() + L"..\\" + name;
        CreateDirectoryW(folder.c_str(), nullptr);
        copy_text(current_settings.session_download_path, folder);
    }
    void TearDown() override {
        clear_download_sessions();
        set_retry_pause(previous_pause);
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do DeleteFileW((folder + found.cFileName).c_str());
            while (FindNextFileW(find, &found));
            FindClose(find);
        }
        RemoveDirectoryW(folder.c_str());
    }
    // Serves `bytes` as /packages/<name> on mirror 1 and returns its link.
    std::string serve(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(write_file_bytes(service->extra_packages() + utf8_to_wide(name), bytes));
        return service->mirror_url(1) + "packages/" + name;
    }

    reference_service* service = nullptr;
    retry_pause_function previous_pause = nullptr;
    std::wstring folder;
};

TEST(DownloadNaming, DigestOfTheLastSegmentWithItsExtension) {
    const wchar_t* d = L"C:\\dl";
    EXPECT_EQ(download_final_path(d, "http://h/a/dpinst_video.zip"),
              L"C:\\dl\\" + utf8_to_wide(md5_hex("dpinst_video.zip", 16)) + L".zip");
    // Nothing after the last "/": the digest of the empty text.
    EXPECT_EQ(download_final_path(d, "http://h/a/"), L"C:\\dl\\d41d8cd98f00b204e9800998ecf8427e.exe");
    // No "." in the segment: ".exe", also when the host name has one.
    EXPECT_EQ(download_final_path(d, "http://h.example.com/a/setup"),
              L"C:\\dl\\" + utf8_to_wide(md5_hex("setup", 5)) + L".exe");
    // A query string is part of the digest but cannot stand in a file name.
    EXPECT_EQ(download_final_path(d, "http://h/a/p.zip?k=1"),
              L"C:\\dl\\" + utf8_to_wide(md5_hex("p.zip?k=1", 9)) + L".zip");
    // Long extensions are cut; a folder too deep for every name gives none.
    EXPECT_EQ(download_final_path(d, "http://h/p.abcdefghijklmn").substr(38), L".abcdefghijk");
    const std::wstring deepest(download_folder_longest(L"C:\\a"), L'a');
    EXPECT_EQ(download_owner_path(download_final_path(deepest.c_str(), "h/p.abcdefghijk")).size(), MAX_PATH - 1u);
    EXPECT_TRUE(download_final_path((deepest + L"a").c_str(), "h/p.abcdefghijk").empty());
}

TEST_F(DownloadSessions, OneSessionPerLinkComparedByteForByte) {
    download_session_c* a = get_download_session("http://h/x/a.zip", 10);
    EXPECT_EQ(get_download_session("http://h/x/a.zip", 99), a);
    EXPECT_NE(get_download_session("http://h/x/A.zip", 10), a);
    // Links longer than a session keeps are matched by what it keeps.
    const std::string long_link = "http://h/" + std::string(1100, 'l') + ".zip";
    download_session_c* b = get_download_session(long_link.c_str(), 1);
    EXPECT_EQ(get_download_session(long_link.c_str(), 1), b);
    EXPECT_EQ(std::string(b->link()).size(), 1024u);
}

TEST_F(DownloadSessions, FirstStateComesFromWhatAnEarlierRunLeft) {
    const std::string bytes = blob(5000, 1);
    const std::string partial_link = serve("partial.bin", bytes);
    const std::wstring partial_final = download_final_path(folder.c_str(), partial_link.c_str());
    ASSERT_TRUE(plant_download(folder, partial_link, bytes.substr(0, 1234), true));
    download_session_c* partial = get_download_session(partial_link.c_str(), 5000);
    EXPECT_EQ(partial->state(), DOWNLOAD_PAUSED);
    EXPECT_EQ(partial->progress().bytes_so_far, 1234u);

    // Resume asks for the rest and ends byte-exact under the final name.
    ASSERT_TRUE(partial->start());
    EXPECT_EQ(partial->state(), DOWNLOAD_RUNNING);
    ASSERT_TRUE(poll_until_ended(*partial));
    EXPECT_EQ(partial->state(), DOWNLOAD_COMPLETE);
    EXPECT_TRUE(read_file_bytes(partial_final) == bytes);
    EXPECT_EQ(GetFileAttributesW((partial_final + L".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(service->log().back(), "1 GET /packages/partial.bin range=bytes=1234-");

    const std::string done_link = serve("done.bin", bytes);
    ASSERT_TRUE(plant_download(folder, done_link, bytes));
    download_session_c* done = get_download_session(done_link.c_str(), 5000);
    EXPECT_EQ(done->state(), DOWNLOAD_COMPLETE);
    EXPECT_EQ(done->progress().bytes_so_far, 5000u);

    // An offer of unknown size (0) takes any final file as its own.
    const std::string unsized_link = serve("unsized.bin", bytes);
    ASSERT_TRUE(plant_download(folder, unsized_link, "xyz"));
    EXPECT_EQ(get_download_session(unsized_link.c_str(), 0)->state(), DOWNLOAD_COMPLETE);

    EXPECT_EQ(get_download_session(serve("none.bin", bytes).c_str(), 5000)->state(), DOWNLOAD_NOT_DOWNLOADED);
}

TEST_F(DownloadSessions, PackagesOfTheSameNameOnDifferentPathsDoNotShareAFile) {
    // Another package whose link also ends in setup.exe finished earlier (or
    // was paused) in a version that named no owner: those files are nobody's.
    const std::string other = blob(3000, 2), ours = blob(4000, 3);
    const std::string link = serve("setup.exe", ours);
    const std::wstring final_path = download_final_path(folder.c_str(), link.c_str());
    EXPECT_EQ(final_path, download_final_path(folder.c_str(), "http://elsewhere/drivers/setup.exe"));
    ASSERT_TRUE(write_file_bytes(final_path, other) && write_file_bytes(final_path + L".tmp", "earlier"));

    download_session_c* s = get_download_session(link.c_str(), 4000);
    EXPECT_EQ(s->state(), DOWNLOAD_NOT_DOWNLOADED);
    ASSERT_TRUE(s->start());
    ASSERT_TRUE(poll_until_ended(*s));
    EXPECT_EQ(s->state(), DOWNLOAD_COMPLETE);
    EXPECT_TRUE(read_file_bytes(final_path) == ours);
    EXPECT_EQ(service->log().back(), "1 GET /packages/setup.exe range=-");  // nothing appended
}

TEST_F(DownloadSessions, LinksEndingAlikeKeepTheirOwnFilesInThisRunAndTheNext) {
    // Both links end in /setup.exe; A is paused part-way while B downloads whole.
    const std::string a_bytes = blob(300000, 11), b_bytes = blob(200000, 12);
    const std::string a_link = serve("pa.bin", a_bytes) + "?f=/setup.exe", b_link = serve("pb.bin", b_bytes) + "?f=/setup.exe";
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.02}})"));
    download_session_c* a = get_download_session(a_link.c_str(), a_bytes.size());
    download_session_c* b = get_download_session(b_link.c_str(), b_bytes.size());
    ASSERT_TRUE(a->start());
    for (int i = 0; i < 3000 && a->progress().bytes_so_far == 0; ++i) Sleep(10);
    a->stop();
    ASSERT_TRUE(poll_until_ended(*a) && a->state() == DOWNLOAD_PAUSED && service->reset());
    for (download_session_c* s : {b, a}) ASSERT_TRUE(s->start() && poll_until_ended(*s));
    for (int run = 0; run < 2; ++run) {  // this run, then the next one from what lies on disk
        EXPECT_TRUE(a->state() == DOWNLOAD_COMPLETE && read_file_bytes(a->final_path()) == a_bytes) << run;
        EXPECT_TRUE(b->state() == DOWNLOAD_COMPLETE && read_file_bytes(b->final_path()) == b_bytes) << run;
        clear_download_sessions();
        b = get_download_session(b_link.c_str(), b_bytes.size());
        a = get_download_session(a_link.c_str(), a_bytes.size());
    }
}

TEST_F(DownloadSessions, FilesThatCannotBeMadeOrMovedEndInTheErrorState) {
    // A folder too deep for the package names writes nothing anywhere.
    const std::wstring saved = current_settings.session_download_path;
    copy_text(current_settings.session_download_path, L"C:\\" + std::wstring(217, L'd'));
    download_session_c* deep = get_download_session(serve("deep.zip", blob(100, 1)).c_str(), 100);
    EXPECT_TRUE(deep->final_path().empty() && deep->temporary_path().empty());
    EXPECT_FALSE(deep->start());
    copy_text(current_settings.session_download_path, saved);
    EXPECT_TRUE(deep->state() == DOWNLOAD_ERROR && service->log().empty());

    // The final name is held open by another program when the last byte comes.
    download_session_c* s = get_download_session(serve("held.zip", blob(5000, 2)).c_str(), 5000);
    HANDLE held = CreateFileW(s->final_path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_TRUE(s->start() && poll_until_ended(*s));
    EXPECT_EQ(s->state(), DOWNLOAD_ERROR);
    CloseHandle(held);
    // Resumed, the server has nothing more and the file is moved.
    ASSERT_TRUE(s->start() && poll_until_ended(*s));
    EXPECT_TRUE(s->state() == DOWNLOAD_COMPLETE && read_file_bytes(s->final_path()) == blob(5000, 2));
}

TEST_F(DownloadSessions, AtMostFourTransfersRunTheOthersWaitInOrderAndNotPastQuit) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.05}})"));
    std::vector<download_session_c*> s;
    for (int i = 0; i < 7; ++i) {
        s.push_back(get_download_session(serve("w" + std::to_string(i) + ".bin", blob(400000, i)).c_str(), 400000));
        ASSERT_TRUE(s.back()->start());
        EXPECT_EQ(s.back()->state(), i < download_workers_max ? DOWNLOAD_RUNNING : DOWNLOAD_QUEUED) << i;
    }
    s[4]->stop();  // leaves the queue at once
    EXPECT_EQ(s[4]->state(), DOWNLOAD_NOT_DOWNLOADED);
    // When a transfer ends the next waiting one starts, with nobody polling.
    s[0]->stop();
    for (int i = 0; i < 3000 && s[5]->state() != DOWNLOAD_RUNNING; ++i) Sleep(20);
    EXPECT_TRUE(s[5]->state() == DOWNLOAD_RUNNING && s[0]->state() == DOWNLOAD_PAUSED);
    EXPECT_TRUE(s[6]->state() == DOWNLOAD_QUEUED && any_downloading());
    // Quitting starts nothing that still waits.
    clear_download_sessions();
    for (const std::string& line : service->log())
        EXPECT_TRUE(line.find("/w4.bin") == std::string::npos && line.find("/w6.bin") == std::string::npos);
}

TEST_F(DownloadSessions, PauseResumeRemoveAndRestart) {
    const std::string bytes = blob(300000, 4);
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.02}})"));
    download_session_c* s = get_download_session(serve("slow.bin", bytes).c_str(), 300000);
    ASSERT_TRUE(s->start());
    for (int i = 0; i < 3000 && s->progress().bytes_so_far == 0; ++i) Sleep(10);
    s->stop();
    ASSERT_TRUE(poll_until_ended(*s));
    EXPECT_EQ(s->state(), DOWNLOAD_PAUSED);
    EXPECT_EQ(s->progress().stop_flag, 0);
    const uint32_t paused_at = s->progress().bytes_so_far;
    EXPECT_GT(paused_at, 0u);
    EXPECT_LT(paused_at, 300000u);
    EXPECT_EQ(read_file_bytes(s->temporary_path()).size(), paused_at);

    ASSERT_TRUE(service->reset());
    ASSERT_TRUE(s->start());
    ASSERT_TRUE(poll_until_ended(*s));
    EXPECT_EQ(s->state(), DOWNLOAD_COMPLETE);
    EXPECT_TRUE(read_file_bytes(s->final_path()) == bytes);
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 GET /packages/slow.bin range=bytes=" +
                                                       std::to_string(paused_at) + "-"});

    EXPECT_TRUE(s->remove());
    EXPECT_EQ(s->state(), DOWNLOAD_NOT_DOWNLOADED);
    EXPECT_EQ(s->progress().bytes_so_far, 0u);
    EXPECT_EQ(GetFileAttributesW(s->final_path().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(s->remove());  // nothing to remove in state 1

    // Downloaded again from zero.
    ASSERT_TRUE(s->start());
    ASSERT_TRUE(poll_until_ended(*s));
    EXPECT_EQ(s->state(), DOWNLOAD_COMPLETE);
    EXPECT_EQ(service->log().back(), "1 GET /packages/slow.bin range=-");
}

TEST_F(DownloadSessions, FailuresEndInTheErrorState) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"status": 404}})"));
    download_session_c* s = get_download_session(serve("missing.bin", blob(100, 5)).c_str(), 100);
    ASSERT_TRUE(s->start());
    ASSERT_TRUE(poll_until_ended(*s));
    EXPECT_EQ(s->state(), DOWNLOAD_ERROR);
    EXPECT_EQ(service->log().size(), 10u);  // every attempt was made
    // A wrong expected size is an error too, even when the transfer went through.
    ASSERT_TRUE(service->reset());
    download_session_c* t = get_download_session(serve("short.bin", blob(100, 6)).c_str(), 200);
    ASSERT_TRUE(t->start());
    ASSERT_TRUE(poll_until_ended(*t));
    EXPECT_EQ(t->state(), DOWNLOAD_ERROR);
    EXPECT_EQ(GetFileAttributesW(t->final_path().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DownloadSessions, QuittingStopsAndWaitsForRunningWorkers) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.05}})"));
    download_session_c* a = get_download_session(serve("q1.bin", blob(400000, 7)).c_str(), 400000);
    download_session_c* b = get_download_session(serve("q2.bin", blob(400000, 8)).c_str(), 400000);
    ASSERT_TRUE(a->start());
    ASSERT_TRUE(b->start());
    EXPECT_TRUE(any_downloading());
    const std::wstring partial = a->temporary_path();
    clear_download_sessions();
    EXPECT_FALSE(any_downloading());
    // The partial file stays for the next run, which starts paused.
    const int64_t size = read_file_bytes(partial).size();
    EXPECT_LT(size, 400000);
    download_session_c* again = get_download_session(serve("q1.bin", blob(400000, 7)).c_str(), 400000);
    EXPECT_EQ(again->state(), DOWNLOAD_PAUSED);
    EXPECT_EQ(again->progress().bytes_so_far, static_cast<uint32_t>(size));
}

}  // namespace
