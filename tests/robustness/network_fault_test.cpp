// Network faults against the reference update service, for the scan's query
// (run on its worker as the scan page runs it) and for package downloads
// (the HTTP layer, and a download session driven as the download page drives
// it): a refused connection, a reset in mid-body, a trickle and a stall, a
// lying Content-Length, a garbage status line, a redirect loop, an ignored
// Range and 416. Each ends with the outcome the program reports for it; a
// partial download is always the package's beginning and resumes to exactly
// its bytes. The stall limit is shortened to a few seconds here.

// libcurl brings winsock2.h, which must come before windows.h.
#include "service/http_client.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "common/reference_service.h"
#include "common/scratch_folder.h"
#include "devices/device_store.h"
#include "downloads/download_session.h"
#include "downloads/md5.h"
#include "platform/text.h"
#include "service/scan_request.h"
#include "service/update_client.h"
#include "ui/scan_flow.h"

namespace {

constexpr uint32_t short_stall_limit = 2;  // seconds

// Runs between download attempts on the worker thread: the tests change the
// service's faults there. Set only while no worker runs.
std::function<void(int attempt)> between_attempts;
int attempts_paused = 0;
void pause_hook(uint32_t) {
    ++attempts_paused;
    if (between_attempts) between_attempts(attempts_paused);
}

bool is_prefix(const std::string& part, const std::string& whole) {
    return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0;
}

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 257 + 5) % 256);
    return bytes;
}

class NetworkFaults : public ::testing::Test {
protected:
    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        previous_stall = set_stall_limit(short_stall_limit);
        previous_pause = set_retry_pause(pause_hook);
        between_attempts = nullptr;
        attempts_paused = 0;
        last_error = 0;
    }
    void TearDown() override {
        set_stall_limit(previous_stall);
        set_retry_pause(previous_pause);
        between_attempts = nullptr;
    }
    void faults(const std::string& json) { ASSERT_TRUE(service->set_faults(json)) << json; }

    reference_service* service = nullptr;
    uint32_t previous_stall = 0;
    retry_pause_function previous_pause = nullptr;
};

// ---------------------------------------------------------------------------
// The scan's query

device_record lan_adapter() {
    device_record d;
    wcscpy_s(d.device_id, L"PCI\\VEN_8086&DEV_1502&SUBSYS_21F317AA&REV_04");
    d.hardware_ids = make_multi_string({L"PCI\\VEN_8086&DEV_1502&SUBSYS_21F317AA"});
    return d;
}

class ScanFaults : public NetworkFaults {
protected:
    void SetUp() override {
        NetworkFaults::SetUp();
        if (HasFatalFailure()) return;
        store.devices.push_back(lan_adapter());
        client.store = &store;
        for (int i = 0; i < 3; ++i) client.mirrors[i] = service->mirror_url(i + 1);
        ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
        saved_client = app_update_client;
        app_update_client = &client;
        params.os_code_name = "WIN764";
        params.os_version = 61;
        params.language_code = 437;
    }
    void TearDown() override {
        app_update_client = saved_client;
        destroy_http_client(client.http);
        NetworkFaults::TearDown();
    }
    // The query on a worker thread of its own, as the scan page starts it.
    int32_t run_query_job() {
        clear_query_outputs(params);
        last_error = 0;
        scan_job job;
        job.context = &params;
        job.function = run_query;
        HANDLE thread = start_scan_job(job);
        EXPECT_NE(thread, nullptr);
        if (!thread) return job.result;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        return job.result;
    }
    // The mirrors asked, in order, one entry per request.
    std::vector<std::string> mirrors_asked() {
        std::vector<std::string> asked;
        for (const std::string& line : service->log()) asked.push_back(line.substr(0, line.find(' ')));
        return asked;
    }

    device_store store;
    update_client client;
    update_client* saved_client = nullptr;
    scan_query_params params;
};

// The same fault on every mirror: {"1": {F}, "2": {F}, "3": {F}}.
std::string on_every_mirror(const std::string& fault) {
    return "{\"1\": {" + fault + "}, \"2\": {" + fault + "}, \"3\": {" + fault + "}}";
}

TEST_F(ScanFaults, EachFaultEndsTheQueryWithItsCodeAndText) {
    struct fault_case {
        const char* name;
        std::string faults;
        int last_error;
        int status;
        CURLcode text_of;  // the error text is libcurl's for this code; none for 0
        std::vector<std::string> asked;
        const wchar_t* shown;  // part of the message the scan page shows
    };
    // A reset after part of the body is reported as a failed receive or,
    // when the reset is seen as the connection's end, as a cut transfer.
    const auto reset_text = [](const char* text) {
        return std::string(text) == curl_easy_strerror(CURLE_RECV_ERROR) ||
               std::string(text) == curl_easy_strerror(CURLE_PARTIAL_FILE);
    };
    const std::vector<fault_case> cases = {
        {"refused", on_every_mirror(R"("down": true)"), 3, 504, CURLE_OK, {}, L"did not answer"},
        {"reset mid-body", on_every_mirror(R"("reset_after": 200)"), 20, 200, CURLE_RECV_ERROR, {"1", "2", "3"},
         L""},
        {"Content-Length above what is sent", on_every_mirror(R"("length_delta": 500)"), 20, 200,
         CURLE_PARTIAL_FILE, {"1", "2", "3"}, L"Transferred a partial file"},
        {"garbage status line", on_every_mirror(R"("status_line": "SPAM SPAM SPAM")"), 3, 504, CURLE_OK,
         {"1", "2", "3"}, L"did not answer"},
        {"416", on_every_mirror(R"("status": 416)"), 20, 416, CURLE_OK, {"1", "2", "3"}, L"(HTTP 416)"},
        // The last attempt's outcome is the one reported.
        {"stall", R"({"1": {"down": true}, "2": {"down": true}, "3": {"slow_body": 20, "chunk": 100}})", 20, 200,
         CURLE_OPERATION_TIMEDOUT, {"3"}, L"Timeout was reached"},
        // An answer cut short by its own Content-Length went through: it is
        // parsed, fails, and is not asked of another mirror.
        {"Content-Length below what is sent", R"({"1": {"length_delta": -300}})", 21, 200, CURLE_OK, {"1"},
         L"could not be read"},
    };
    for (const fault_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(service->reset());
        faults(c.faults);
        EXPECT_EQ(run_query_job(), -1);
        EXPECT_EQ(last_error, c.last_error);
        EXPECT_EQ(params.http_status, c.status);
        if (c.text_of == CURLE_RECV_ERROR)
            EXPECT_TRUE(reset_text(params.error_text)) << params.error_text;
        else
            EXPECT_STREQ(params.error_text, c.text_of == CURLE_OK ? "" : curl_easy_strerror(c.text_of));
        EXPECT_EQ(mirrors_asked(), c.asked);
        EXPECT_EQ(store.devices[0].offer_count, 0u);
        const wchar_t* shown = scan_error_text(last_error, params);
        ASSERT_NE(shown, nullptr);
        EXPECT_NE(std::wstring(shown).find(c.shown), std::wstring::npos) << wide_to_utf8(shown);
    }
}

TEST_F(ScanFaults, RedirectLoopEndsAtTheRedirectLimitOnEveryMirror) {
    faults(on_every_mirror(R"("redirect_loop": true)"));
    EXPECT_EQ(run_query_job(), -1);
    EXPECT_EQ(last_error, 20);
    EXPECT_EQ(params.http_status, 302);
    EXPECT_STREQ(params.error_text, curl_easy_strerror(CURLE_TOO_MANY_REDIRECTS));
    // The form once, then the 20 redirects the client follows, per mirror.
    const std::vector<std::string> log = service->log();
    ASSERT_EQ(log.size(), 3u * 21u);
    for (int m = 0; m < 3; ++m) {
        EXPECT_EQ(log[m * 21], std::to_string(m + 1) + " POST / range=-");
        EXPECT_EQ(log[m * 21 + 20], std::to_string(m + 1) + " GET / range=-");
    }
}

TEST_F(ScanFaults, TrickleBelowTheStallLimitAndFaultyMirrorsBeforeAGoodOne) {
    // About 1.5 KB in pieces of 256 bytes every half second: longer than the
    // stall limit in all, yet never still for that long.
    faults(R"({"1": {"slow_body": 0.5, "chunk": 256}})");
    EXPECT_EQ(run_query_job(), 0);
    EXPECT_EQ(params.http_status, 200);
    EXPECT_EQ(mirrors_asked(), std::vector<std::string>{"1"});
    ASSERT_EQ(store.devices[0].offer_count, 1u);

    // A reset on mirror 1 and garbage on mirror 2: mirror 3's answer is used.
    ASSERT_TRUE(service->reset());
    faults(R"({"1": {"reset_after": 100}, "2": {"status_line": "HTTP/1.1 2x0 OK"}})");
    store.devices.clear();
    store.devices.push_back(lan_adapter());
    EXPECT_EQ(run_query_job(), 0);
    EXPECT_EQ(mirrors_asked(), (std::vector<std::string>{"1", "2", "3"}));
    ASSERT_EQ(store.devices[0].offer_count, 1u);
    EXPECT_EQ(std::string(store.devices[0].offers[0].link).rfind(service->mirror_url(3), 0), 0u)
        << store.devices[0].offers[0].link;
}

// ---------------------------------------------------------------------------
// Downloads: the HTTP layer

class TransferFaults : public NetworkFaults {
protected:
    void SetUp() override {
        NetworkFaults::SetUp();
        if (HasFatalFailure()) return;
        truth = pattern(48000);
        ASSERT_TRUE(write_file_bytes(service->extra_packages() + L"faulty.bin", truth));
        wchar_t name[64];
        swprintf(name, 64, L"netfault-%lu.tmp", GetCurrentProcessId());
        path = service->extra_packages() + L"..\\" + name;
    }
    void TearDown() override {
        DeleteFileW(path.c_str());
        NetworkFaults::TearDown();
    }
    std::string link() const { return service->mirror_url(1) + "packages/faulty.bin"; }
    // A partial file of the package's first `held` bytes, as a pause leaves it.
    void hold(size_t held) {
        ASSERT_TRUE(write_file_bytes(path, truth.substr(0, held)));
        progress.expected_size = static_cast<uint32_t>(truth.size());
        progress.bytes_so_far = static_cast<uint32_t>(held);
        progress.curl_code = 0;
        progress.http_status = 0;
    }
    // One transfer without retries.
    void transfer_once() {
        http_client* client = create_http_client(download_buffer_capacity);
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(transfer_file(*client, link().c_str(), path.c_str(), progress), 0);
        destroy_http_client(client);
    }
    // The file is the package's beginning and holds exactly the count.
    void expect_prefix_of_count() {
        const std::string got = read_file_bytes(path);
        EXPECT_EQ(got.size(), progress.bytes_so_far);
        EXPECT_TRUE(is_prefix(got, truth)) << got.size() << " bytes are not the package's beginning";
    }

    std::string truth;
    std::wstring path;
    download_progress progress;
};

TEST_F(TransferFaults, EachFaultOnAResumeKeepsThePackagesBeginning) {
    constexpr size_t held = 6000;
    struct fault_case {
        const char* name;
        const char* faults;
        CURLcode code;
        long status;
        size_t least, most;  // the bytes the file holds afterwards
    };
    const size_t whole = truth.size();
    const std::vector<fault_case> cases = {
        {"refused", R"({"1": {"down": true}})", CURLE_COULDNT_CONNECT, 0, held, held},
        {"reset mid-body", R"({"1": {"reset_after": 9000}})", CURLE_RECV_ERROR, 206, held, held + 9000},
        {"Content-Length above what is sent", R"({"1": {"length_delta": 700}})", CURLE_PARTIAL_FILE, 206, whole,
         whole},
        {"Content-Length below what is sent", R"({"1": {"length_delta": -700}})", CURLE_OK, 206,
         whole - 700, whole - 700},
        {"redirect loop", R"({"1": {"redirect_loop": true}})", CURLE_TOO_MANY_REDIRECTS, 302, held, held},
        {"416", R"({"1": {"status": 416}})", CURLE_HTTP_RETURNED_ERROR, 416, held, held},
        {"Range ignored", R"({"1": {"ignore_range": true}})", CURLE_OK, 200, whole, whole},
        {"Range ignored, then cut", R"({"1": {"ignore_range": true, "cut_after": 4000}})", CURLE_PARTIAL_FILE,
         200, 4000, 4000},
        {"trickle below the stall limit", R"({"1": {"slow_body": 0.3, "chunk": 4096}})", CURLE_OK, 206, whole,
         whole},
    };
    for (const fault_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(service->reset());
        faults(c.faults);
        hold(held);
        transfer_once();
        if (c.code == CURLE_RECV_ERROR)  // or, seen as the connection's end, a cut transfer
            EXPECT_TRUE(progress.curl_code == CURLE_RECV_ERROR || progress.curl_code == CURLE_PARTIAL_FILE)
                << progress.curl_code;
        else
            EXPECT_EQ(progress.curl_code, c.code);
        EXPECT_EQ(progress.http_status, c.status);
        EXPECT_GE(progress.bytes_so_far, c.least);
        EXPECT_LE(progress.bytes_so_far, c.most);
        expect_prefix_of_count();
    }
}

TEST_F(TransferFaults, GarbageStatusLinesAreNoAnswer) {
    for (const char* line : {"SPAM SPAM SPAM", "HTTP/1.1 2x0 OK", "HTTP/9.9 206 Partial Content", "", "ICY 200 OK"}) {
        SCOPED_TRACE(line);
        faults(std::string(R"({"1": {"status_line": ")") + line + "\"}}");
        hold(3000);
        transfer_once();
        EXPECT_NE(progress.curl_code, CURLE_OK);
        EXPECT_EQ(progress.bytes_so_far, 3000u);
        expect_prefix_of_count();
    }
}

TEST_F(TransferFaults, RetriesResumeAfterEveryReset) {
    // Each attempt is reset after at most 12000 bytes of its part; every
    // attempt resumes where the file ends.
    faults(R"({"1": {"reset_after": 12000}})");
    hold(1000);
    EXPECT_EQ(download_with_retries(link().c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, CURLE_OK);
    EXPECT_TRUE(read_file_bytes(path) == truth);
    EXPECT_LE(attempts_paused, 9);
    const std::vector<std::string> log = service->log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "1 GET /packages/faulty.bin range=bytes=1000-");
    for (const std::string& line : log) EXPECT_NE(line, "1 GET /packages/faulty.bin range=-") << "started over";
}

TEST_F(TransferFaults, StalledAttemptIsRetriedFromWhereItStopped) {
    // 1500 bytes, then nothing for longer than the stall limit.
    faults(R"({"1": {"slow_body": 20, "chunk": 1500}})");
    int32_t stalled_code = -1;
    std::string stalled_file;
    between_attempts = [&](int) {
        stalled_code = progress.curl_code;
        stalled_file = read_file_bytes(path);
        service->reset();
    };
    hold(2000);
    EXPECT_EQ(download_with_retries(link().c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(stalled_code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_TRUE(stalled_file == truth.substr(0, 3500));
    EXPECT_EQ(progress.curl_code, CURLE_OK);
    EXPECT_TRUE(read_file_bytes(path) == truth);
    EXPECT_EQ(attempts_paused, 1);
    // The log was cleared with the fault.
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 GET /packages/faulty.bin range=bytes=3500-"});
}

// ---------------------------------------------------------------------------
// Downloads: a session as the download page drives it

class SessionFaults : public NetworkFaults {
protected:
    void SetUp() override {
        NetworkFaults::SetUp();
        if (HasFatalFailure()) return;
        copy_text(current_settings.session_download_path, folder.path() + L"\\");
    }
    void TearDown() override {
        clear_download_sessions();
        NetworkFaults::TearDown();
    }
    // Serves `bytes` as /packages/<name> on mirror 1; the session of its
    // link, made after an earlier run left the first `held` bytes (none
    // for -1) as its partial file.
    download_session_c& serve(const std::string& name, const std::string& bytes, int64_t held = -1) {
        EXPECT_TRUE(write_file_bytes(service->extra_packages() + utf8_to_wide(name), bytes));
        const std::string link = service->mirror_url(1) + "packages/" + name;
        if (held >= 0) {
            EXPECT_TRUE(plant_download(folder.path(), link, bytes.substr(0, static_cast<size_t>(held)), true));
        }
        return *get_download_session(link.c_str(), static_cast<uint32_t>(bytes.size()));
    }
    // The row's 200 ms timer, until the worker has ended (at most ~100 s);
    // `stop_after` polls, the user presses Pause.
    static bool run_to_end(download_session_c& session, int stop_after = -1) {
        for (int i = 0; i < 500; ++i) {
            if (i == stop_after) session.stop();
            if (session.poll()) return true;
            Sleep(200);
        }
        return false;
    }
    // What lies on disk agrees with the state, and a partial file is the
    // package's beginning with the count equal to its size.
    static void expect_consistent(download_session_c& session, const std::string& truth) {
        const int state = session.state();
        ASSERT_NE(state, DOWNLOAD_RUNNING);
        if (state == DOWNLOAD_COMPLETE) {
            EXPECT_TRUE(read_file_bytes(session.final_path()) == truth) << "the finished file differs";
            EXPECT_EQ(GetFileAttributesW(session.temporary_path().c_str()), INVALID_FILE_ATTRIBUTES);
            return;
        }
        const std::string partial = read_file_bytes(session.temporary_path());
        EXPECT_TRUE(is_prefix(partial, truth)) << partial.size() << " bytes are not the package's beginning";
        EXPECT_EQ(partial.size(), session.progress().bytes_so_far);
        EXPECT_EQ(GetFileAttributesW(session.final_path().c_str()), INVALID_FILE_ATTRIBUTES);
    }
    // With the faults gone, Resume ends with exactly the package.
    void expect_resumes_to(download_session_c& session, const std::string& truth) {
        ASSERT_TRUE(service->reset());
        between_attempts = nullptr;
        ASSERT_TRUE(session.start());
        ASSERT_TRUE(run_to_end(session));
        ASSERT_EQ(session.state(), DOWNLOAD_COMPLETE);
        const std::string got = read_file_bytes(session.final_path());
        EXPECT_TRUE(got == truth);
        EXPECT_EQ(md5_hex(got.data(), got.size()), md5_hex(truth.data(), truth.size()));
    }

    scratch_folder folder;  // the download folder
};

TEST_F(SessionFaults, EachFaultEndsInItsStateAndResumesToTheExactPackage) {
    struct fault_case {
        const char* name;
        const char* faults;
        int state;   // after the worker with its retries
        int pauses;  // between attempts, when known (after the tenth too)
    };
    const std::vector<fault_case> cases = {
        {"refused", R"({"1": {"down": true}})", DOWNLOAD_ERROR, 10},
        {"reset mid-body, every attempt", R"({"1": {"reset_after": 9000}})", DOWNLOAD_COMPLETE, -1},
        // Every byte came, but the transfer says it was cut short; asked for
        // the rest, the server answers 416 with the package's length.
        {"Content-Length above what is sent", R"({"1": {"length_delta": 1000}})", DOWNLOAD_COMPLETE, 1},
        // The transfer went through, short of the offer's size.
        {"Content-Length below what is sent", R"({"1": {"length_delta": -1000}})", DOWNLOAD_ERROR, 0},
        {"garbage status line", R"({"1": {"status_line": "SPAM"}})", DOWNLOAD_ERROR, 10},
        {"redirect loop", R"({"1": {"redirect_loop": true}})", DOWNLOAD_ERROR, 10},
        {"Range ignored", R"({"1": {"ignore_range": true}})", DOWNLOAD_COMPLETE, 0},
        {"Range ignored, every attempt cut", R"({"1": {"ignore_range": true, "cut_after": 5000}})",
         DOWNLOAD_ERROR, 10},
        {"416 to every request", R"({"1": {"status": 416}})", DOWNLOAD_ERROR, 10},
        {"trickle below the stall limit", R"({"1": {"slow_body": 0.3, "chunk": 4096}})", DOWNLOAD_COMPLETE, 0},
    };
    int n = 0;
    for (const fault_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(service->reset());
        const std::string truth = pattern(30000 + 17 * n);
        download_session_c& session = serve("session-" + std::to_string(n++) + ".zip", truth, 2500);
        ASSERT_EQ(session.state(), DOWNLOAD_PAUSED);
        faults(c.faults);
        attempts_paused = 0;
        ASSERT_TRUE(session.start());
        ASSERT_TRUE(run_to_end(session));
        EXPECT_EQ(session.state(), c.state);
        if (c.pauses >= 0) {
            EXPECT_EQ(attempts_paused, c.pauses);
        }
        expect_consistent(session, truth);
        if (session.state() != DOWNLOAD_COMPLETE) expect_resumes_to(session, truth);
    }
}

TEST_F(SessionFaults, LeftoverAnsweredWith416IsKeptOnlyWhenItIsThePackagesLength) {
    // Killed after the last byte but before the rename: the range past the
    // end is refused with 416 and the package's length, which the file
    // holds. It is complete and is not fetched again.
    const std::string truth = pattern(20000);
    download_session_c& whole = serve("leftover.zip", truth, 20000);
    ASSERT_TRUE(whole.start());
    ASSERT_TRUE(run_to_end(whole));
    EXPECT_EQ(whole.state(), DOWNLOAD_COMPLETE);
    expect_consistent(whole, truth);
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 GET /packages/leftover.zip range=bytes=20000-"});
    EXPECT_EQ(attempts_paused, 0);

    // A leftover longer than the package is not its beginning: the 416 names
    // another length, and the next attempt starts over.
    ASSERT_TRUE(service->reset());
    download_session_c& longer = serve("longer.zip", truth, static_cast<int64_t>(truth.size()));
    ASSERT_TRUE(write_file_bytes(longer.temporary_path(), truth + "0123456789"));
    ASSERT_TRUE(longer.start());
    ASSERT_TRUE(run_to_end(longer));
    EXPECT_EQ(longer.state(), DOWNLOAD_COMPLETE);
    expect_consistent(longer, truth);
    EXPECT_EQ(service->log(), (std::vector<std::string>{"1 GET /packages/longer.zip range=bytes=20010-",
                                                        "1 GET /packages/longer.zip range=-"}));
}

TEST_F(SessionFaults, PauseDuringAStallEndsPausedWithThePackagesBeginning) {
    const std::string truth = pattern(25000);
    download_session_c& session = serve("stalled.zip", truth, 1000);
    faults(R"({"1": {"slow_body": 30, "chunk": 1500}})");
    ASSERT_TRUE(session.start());
    // The user presses Pause once the first piece has come and nothing more does.
    for (int i = 0; i < 500 && session.progress().bytes_so_far < 2500; ++i) Sleep(20);
    ASSERT_EQ(session.progress().bytes_so_far, 2500u);
    ASSERT_TRUE(run_to_end(session, 0));
    EXPECT_EQ(session.state(), DOWNLOAD_PAUSED);
    EXPECT_EQ(attempts_paused, 0);
    expect_consistent(session, truth);
    expect_resumes_to(session, truth);
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 GET /packages/stalled.zip range=bytes=2500-"});
}

TEST_F(SessionFaults, OfferOfAScanDownloadsThroughFaultsToThePackageFile) {
    // The scan finds the package on mirror 3; its download is reset, then
    // answered whole and cut, and ends as the package file the service holds.
    device_store store;
    store.devices.push_back(lan_adapter());
    update_client client;
    client.store = &store;
    for (int i = 0; i < 3; ++i) client.mirrors[i] = service->mirror_url(i + 1);
    faults(R"({"1": {"down": true}, "2": {"reset_after": 50}})");
    scan_query_params params;
    params.os_version = 61;
    ASSERT_EQ(query_updates(client, params), 0);
    destroy_http_client(client.http);
    ASSERT_EQ(store.devices[0].offer_count, 1u);
    const driver_offer& offer = store.devices[0].offers[0];
    const std::string package =
        read_file_bytes(reference_service::sample_packages() + L"intel-lan-12.12.50.7.zip");
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(offer.size, package.size());

    ASSERT_TRUE(service->reset());
    const std::string piece = std::to_string(package.size() / 3 + 1);
    faults(R"({"3": {"reset_after": )" + piece + "}}");
    between_attempts = [this](int attempt) {
        if (attempt == 2) service->set_faults(R"({"3": {"ignore_range": true, "cut_after": 700}})");
        if (attempt == 3) service->reset();
    };
    download_session_c* session = get_download_session(offer.link, offer.size);
    ASSERT_TRUE(session->start());
    ASSERT_TRUE(run_to_end(*session));
    EXPECT_EQ(session->state(), DOWNLOAD_COMPLETE);
    expect_consistent(*session, package);
    EXPECT_EQ(attempts_paused, 3);
}

// Random fault sequences on one download: after every step the partial file
// is the package's beginning, and at the end the package resumes exactly.
TEST_F(SessionFaults, RandomFaultSequencesKeepThePrefix) {
    const std::string truth = pattern(64 * 1024 + 333);
    download_session_c& session = serve("random.zip", truth);
    const size_t size = truth.size();
    const auto fault_for = [&](std::mt19937& rng) -> std::string {
        const auto below = [&](size_t n) { return std::to_string(rng() % n); };
        switch (rng() % 12) {
        case 0: return R"({"1": {"down": true}})";
        case 1: return R"({"1": {"reset_after": )" + below(size) + "}}";
        case 2: return R"({"1": {"cut_after": )" + below(size) + "}}";
        case 3: return R"({"1": {"length_delta": )" + std::to_string(int(rng() % 4000) - 2000) + "}}";
        case 4: return R"({"1": {"ignore_range": true, "cut_after": )" + below(size) + "}}";
        case 5: return R"({"1": {"range_shift": )" + below(3000) + "}}";
        case 6: return R"({"1": {"status": )" + std::string(rng() % 2 ? "416" : "503") + "}}";
        case 7: return R"({"1": {"status_line": "HTTP/1.1 2x0 OK"}})";
        case 8: return R"({"1": {"redirect_loop": true}})";
        case 9: return R"({"1": {"redirect": "2"}, "2": {"reset_after": )" + below(size) + "}}";
        case 10: return R"({"1": {"slow_body": 0.02, "chunk": 2048}})";
        default: return "{}";
        }
    };
    const unsigned seed = 20261207;
    std::mt19937 rng(seed);
    int ended_in[6] = {};
    for (int step = 0; step < 24; ++step) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(step));
        ASSERT_TRUE(service->reset());
        faults(fault_for(rng));
        // Between attempts the fault mostly stays; now and then it changes
        // or clears.
        std::mt19937 worker_rng(rng());
        between_attempts = [&, worker_rng](int) mutable {
            const unsigned roll = worker_rng() % 8;
            if (roll == 0) service->reset();
            if (roll == 1 || roll == 2) service->set_faults(fault_for(worker_rng));
        };
        const int stop_after = rng() % 4 == 0 ? static_cast<int>(rng() % 3) : -1;
        ASSERT_TRUE(session.start());
        ASSERT_TRUE(run_to_end(session, stop_after));
        between_attempts = nullptr;
        expect_consistent(session, truth);
        if (HasFailure()) return;
        ++ended_in[session.state()];
        if (session.state() == DOWNLOAD_COMPLETE) {
            ASSERT_TRUE(session.remove());
        }
    }
    // The sequence reached every end a download can have.
    EXPECT_GT(ended_in[DOWNLOAD_PAUSED], 0);
    EXPECT_GT(ended_in[DOWNLOAD_ERROR], 0);
    EXPECT_GT(ended_in[DOWNLOAD_COMPLETE], 0);
    std::printf("paused %d, failed %d, complete %d\n", ended_in[DOWNLOAD_PAUSED], ended_in[DOWNLOAD_ERROR],
                ended_in[DOWNLOAD_COMPLETE]);
    expect_resumes_to(session, truth);
}

}  // namespace
