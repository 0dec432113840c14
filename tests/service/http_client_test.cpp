// Transfers against the reference update service on loopback: answers into
// memory with their status rules, and file downloads with resume, retries,
// the stop request, FTP and HTTPS.
#include "service/http_client.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "platform/text.h"
#include "common/reference_service.h"

namespace {

std::vector<uint32_t> pauses;
void record_pause(uint32_t milliseconds) { pauses.push_back(milliseconds); }

// A package of `size` bytes that only the tests use, served under /packages/.
std::string make_blob(reference_service& service, const std::wstring& name, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
    EXPECT_TRUE(write_file_bytes(service.extra_packages() + name, bytes));
    return bytes;
}

class Downloads : public ::testing::Test {
protected:
    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        pauses.clear();
        previous_pause = set_retry_pause(record_pause);
        wchar_t name[64];
        swprintf(name, 64, L"download-%lu.tmp", GetCurrentProcessId());
        path = service->extra_packages() + L"..\\" + name;
        DeleteFileW(path.c_str());
        last_error = 0;
    }
    void TearDown() override {
        set_retry_pause(previous_pause);
        DeleteFileW(path.c_str());
    }
    std::string url(const char* name, int mirror = 1) {
        return service->mirror_url(mirror) + "packages/" + name;
    }
    // One transfer of a package of mirror 1, without retries: its error text.
    std::string transfer_once(const char* name) {
        http_client* client = create_http_client(0);
        if (!client) return "no client";
        EXPECT_EQ(transfer_file(*client, url(name).c_str(), path.c_str(), progress), 0);
        std::string error = client->result.error_text;
        destroy_http_client(client);
        return error;
    }

    reference_service* service = nullptr;
    retry_pause_function previous_pause = nullptr;
    std::wstring path;
    download_progress progress;
};

TEST(LinkEscaping, EverySpaceBecomesPercent20AndNothingElseChanges) {
    EXPECT_EQ(escape_link_spaces("http://h/a b/c  d.zip"), "http://h/a%20b/c%20%20d.zip");
    EXPECT_EQ(escape_link_spaces("http://h/a b.zip?x=1 2#f g"), "http://h/a%20b.zip?x=1%202#f%20g");
    EXPECT_EQ(escape_link_spaces("http://h/%41\xe4<>\"{}|^`"), "http://h/%41\xe4<>\"{}|^`");
    EXPECT_EQ(escape_link_spaces(""), "");
}

TEST_F(Downloads, FreshDownloadThenResumeWithRange) {
    const std::string blob = make_blob(*service, L"resume.bin", 40000);
    progress.expected_size = 40000;
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 12345)));
    progress.bytes_so_far = 12345;
    EXPECT_EQ(download_with_retries(url("resume.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_EQ(progress.http_status, 206);
    EXPECT_EQ(progress.bytes_so_far, 40000u);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_TRUE(pauses.empty());

    progress.bytes_so_far = 0;
    EXPECT_EQ(download_with_retries(url("resume.bin", 2).c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.http_status, 200);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_EQ(service->log(), (std::vector<std::string>{
                                  "1 GET /packages/resume.bin range=bytes=12345-",
                                  "2 GET /packages/resume.bin range=-"}));
}

// The socket is read in blocks much larger than what each write takes: a
// package of several blocks arrives whole, from the start and from an odd
// offset, and one larger than offered stops with the file holding exactly
// the counted bytes, the package's beginning.
TEST_F(Downloads, PackagesLargerThanTheReceiveBufferStayExact) {
    const size_t size = 3 * download_receive_buffer_size + 4321;
    const std::string blob = make_blob(*service, L"large.bin", size);
    progress.expected_size = static_cast<uint32_t>(size);
    EXPECT_EQ(transfer_once("large.bin"), "");
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_TRUE(read_file_bytes(path) == blob);

    const size_t offset = download_receive_buffer_size + 777;
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, offset)));
    progress.bytes_so_far = static_cast<uint32_t>(offset);
    EXPECT_EQ(transfer_once("large.bin"), "");
    EXPECT_EQ(progress.http_status, 206);
    EXPECT_TRUE(read_file_bytes(path) == blob);

    DeleteFileW(path.c_str());
    progress.bytes_so_far = 0;
    progress.expected_size = static_cast<uint32_t>(2 * download_receive_buffer_size + 1);
    transfer_once("large.bin");
    EXPECT_EQ(progress.curl_code, CURLE_WRITE_ERROR);
    EXPECT_EQ(last_error, 25);
    const std::string kept = read_file_bytes(path);
    EXPECT_EQ(kept.size(), progress.bytes_so_far);
    EXPECT_LE(kept.size(), progress.expected_size);
    EXPECT_GT(kept.size(), size_t{download_receive_buffer_size});
    EXPECT_TRUE(kept == blob.substr(0, kept.size()));
}

TEST_F(Downloads, WholeFileAnsweringAResumeReplacesThePartialFile) {
    const std::string blob = make_blob(*service, L"norange.bin", 30000);
    ASSERT_TRUE(service->set_faults(R"({"1": {"ignore_range": true}})"));
    progress.expected_size = 30000;
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 1000)));
    progress.bytes_so_far = 1000;
    EXPECT_EQ(download_with_retries(url("norange.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_EQ(progress.http_status, 200);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 GET /packages/norange.bin range=bytes=1000-"});

    // Cut short every time, the file only ever holds the package's first
    // bytes, never a piece of it after another.
    ASSERT_TRUE(service->set_faults(R"({"1": {"ignore_range": true, "cut_after": 7000}})"));
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 1000)));
    progress.bytes_so_far = 1000;
    EXPECT_EQ(download_with_retries(url("norange.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_NE(progress.curl_code, 0);
    EXPECT_EQ(progress.bytes_so_far, 7000u);
    EXPECT_TRUE(read_file_bytes(path) == blob.substr(0, 7000));
}

TEST_F(Downloads, ResumeOffsetIsWhatTheFileHolds) {
    const std::string blob = make_blob(*service, L"offset.bin", 20000);
    progress.expected_size = 20000;
    // The count says 5000, but the file is gone: start from zero.
    progress.bytes_so_far = 5000;
    EXPECT_EQ(download_with_retries(url("offset.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_TRUE(read_file_bytes(path) == blob);

    // More bytes in the file than counted: cut to the count, resumed there.
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 5000) + std::string(3000, 'x')));
    progress.bytes_so_far = 5000;
    EXPECT_EQ(download_with_retries(url("offset.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_TRUE(read_file_bytes(path) == blob);

    // Fewer bytes than counted: resumed where the file ends.
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 4000)));
    progress.bytes_so_far = 9000;
    EXPECT_EQ(download_with_retries(url("offset.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.bytes_so_far, 20000u);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(service->log(), (std::vector<std::string>{"1 GET /packages/offset.bin range=-",
                                                        "1 GET /packages/offset.bin range=bytes=5000-",
                                                        "1 GET /packages/offset.bin range=bytes=4000-"}));
}

TEST_F(Downloads, PartFromAnotherOffsetIsNotAppended) {
    const std::string blob = make_blob(*service, L"shift.bin", 12000);
    ASSERT_TRUE(service->set_faults(R"({"1": {"range_shift": 500}})"));
    progress.expected_size = 12000;
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 3000)));
    progress.bytes_so_far = 3000;
    transfer_once("shift.bin");
    EXPECT_EQ(progress.curl_code, CURLE_RANGE_ERROR);
    EXPECT_EQ(progress.http_status, 206);
    EXPECT_EQ(progress.bytes_so_far, 3000u);
    EXPECT_TRUE(read_file_bytes(path) == blob.substr(0, 3000));

    // With retries the next attempt starts over and gets the whole file.
    EXPECT_EQ(download_with_retries(url("shift.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_EQ(pauses.size(), 1u);
    EXPECT_EQ(service->log().back(), "1 GET /packages/shift.bin range=-");
}

TEST_F(Downloads, RedirectThatCannotBeFollowedIsAnError) {
    // A 302 without Location, with a page as its body.
    const std::string blob = make_blob(*service, L"moved.bin", 4000);
    ASSERT_TRUE(service->set_faults(R"({"1": {"status": 302}})"));
    progress.expected_size = 4000;
    EXPECT_EQ(download_with_retries(url("moved.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, CURLE_HTTP_RETURNED_ERROR);
    EXPECT_EQ(progress.http_status, 302);
    EXPECT_EQ(progress.bytes_so_far, 0u);
    EXPECT_EQ(read_file_bytes(path), "");
    EXPECT_EQ(pauses.size(), 10u);

    // On a resume the partial file stays as it was.
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 1500)));
    progress.bytes_so_far = 1500;
    transfer_once("moved.bin");
    EXPECT_EQ(progress.curl_code, CURLE_HTTP_RETURNED_ERROR);
    EXPECT_TRUE(read_file_bytes(path) == blob.substr(0, 1500));
}

TEST_F(Downloads, StalledTransferIsAbortedAfterThirtySeconds) {
    // One kilobyte, then nothing for longer than the low-speed window.
    make_blob(*service, L"stall.bin", 4096);
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 50}})"));
    progress.expected_size = 4096;
    const std::string error = transfer_once("stall.bin");
    EXPECT_EQ(progress.curl_code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(progress.bytes_so_far, 1024u);
    EXPECT_NE(error.find("Less than 1 bytes/sec transferred the last 30 seconds"), std::string::npos) << error;
}

TEST_F(Downloads, CutConnectionsAreResumedWhereTheyStopped) {
    const std::string blob = make_blob(*service, L"cut.bin", 25000);
    ASSERT_TRUE(service->set_faults(R"({"1": {"cut_after": 10000}})"));
    progress.expected_size = 25000;
    EXPECT_EQ(download_with_retries(url("cut.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_EQ(pauses.size(), 2u);
    EXPECT_EQ(service->log(), (std::vector<std::string>{
                                  "1 GET /packages/cut.bin range=-",
                                  "1 GET /packages/cut.bin range=bytes=10000-",
                                  "1 GET /packages/cut.bin range=bytes=20000-"}));
}

TEST_F(Downloads, SizeZeroCanNeverBeDownloaded) {
    make_blob(*service, L"small.bin", 100);
    progress.expected_size = 0;
    EXPECT_EQ(download_with_retries(url("small.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, CURLE_WRITE_ERROR);
    EXPECT_EQ(last_error, 25);
    EXPECT_EQ(progress.bytes_so_far, 0u);
    EXPECT_EQ(pauses, std::vector<uint32_t>(10, 5000));  // after the tenth attempt too
    EXPECT_EQ(service->log().size(), 10u);
}

TEST_F(Downloads, StopRequestEndsTheTransferWithoutRetrying) {
    make_blob(*service, L"slow.bin", 200000);
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.05}})"));
    progress.expected_size = 200000;
    std::thread stopper([this] {
        for (int i = 0; i < 2000 && progress.bytes_so_far == 0; ++i) Sleep(10);
        progress.stop_flag = 1;
    });
    int result = download_with_retries(url("slow.bin").c_str(), progress, path.c_str());
    stopper.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_EQ(progress.stop_flag, 1);
    EXPECT_GT(progress.bytes_so_far, 0u);
    EXPECT_LT(progress.bytes_so_far, 200000u);
    EXPECT_EQ(read_file_bytes(path).size(), progress.bytes_so_far);
    EXPECT_TRUE(pauses.empty());
}

TEST_F(Downloads, ErrorPagesNeverReachThePackageFile) {
    const std::string blob = make_blob(*service, L"err.bin", 5000);
    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 2000)));
    progress.expected_size = 5000;
    progress.bytes_so_far = 2000;
    ASSERT_TRUE(service->set_faults(R"({"1": {"status": 503}})"));
    EXPECT_EQ(download_with_retries(url("err.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, CURLE_HTTP_RETURNED_ERROR);
    EXPECT_EQ(progress.http_status, 503);
    EXPECT_TRUE(read_file_bytes(path) == blob.substr(0, 2000));
    EXPECT_EQ(progress.bytes_so_far, 2000u);
    EXPECT_EQ(pauses.size(), 10u);
}

TEST_F(Downloads, OffsetBeyondTheFileStartsOver) {
    const std::string blob = make_blob(*service, L"short.bin", 3000);
    ASSERT_TRUE(write_file_bytes(path, std::string(3500, 'x')));
    progress.expected_size = 3000;
    progress.bytes_so_far = 3500;  // longer than the package: not its beginning
    EXPECT_EQ(download_with_retries(url("short.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_EQ(pauses.size(), 1u);
}

TEST_F(Downloads, LinkWithSpacesIsSentEscaped) {
    const std::string blob = make_blob(*service, L"with space.bin", 700);
    progress.expected_size = 700;
    EXPECT_EQ(download_with_retries(url("with space.bin").c_str(), progress, path.c_str()), 0);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 GET /packages/with%20space.bin range=-"});
}

TEST_F(Downloads, FtpStartsOverAndCountsFromZeroAlsoAfterARedirect) {
    const std::string name = "intel-usb3-1.0.10.255.zip";
    const std::string package = read_file_bytes(reference_service::sample_packages() + utf8_to_wide(name));
    ASSERT_FALSE(package.empty());
    ASSERT_TRUE(write_file_bytes(path, package.substr(0, 100)));
    progress.expected_size = static_cast<uint32_t>(package.size());
    progress.bytes_so_far = 100;  // paused before: FTP cannot resume
    EXPECT_EQ(download_with_retries((service->ftp_url() + name).c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_EQ(progress.bytes_so_far, package.size());
    EXPECT_TRUE(read_file_bytes(path) == package);
    EXPECT_TRUE(pauses.empty());
    const std::string ftp_leg = "ftp RETR /" + name + " range=-";
    EXPECT_EQ(service->log(), std::vector<std::string>{ftp_leg});

    // An http link moved there, paused during the FTP leg, then resumed:
    // the Range goes to HTTP alone, and the file starts over.
    ASSERT_TRUE(service->reset());
    ASSERT_TRUE(service->set_faults(R"({"1": {"redirect": "ftp"}, "ftp": {"rate": 256}})"));
    progress.bytes_so_far = 0;
    std::thread pauser([this] {
        for (int i = 0; i < 2000 && progress.bytes_so_far == 0; ++i) Sleep(10);
        progress.stop_flag = 1;
    });
    EXPECT_EQ(download_with_retries(url(name.c_str()).c_str(), progress, path.c_str()), 0);
    pauser.join();
    const uint32_t paused_at = progress.bytes_so_far;
    EXPECT_TRUE(paused_at > 0 && paused_at < package.size());
    EXPECT_TRUE(read_file_bytes(path) == package.substr(0, paused_at));
    ASSERT_TRUE(service->set_faults(R"({"ftp": {"rate": 0}})"));
    progress.stop_flag = 0;
    EXPECT_EQ(download_with_retries(url(name.c_str()).c_str(), progress, path.c_str()), 0);
    EXPECT_TRUE(progress.curl_code == 0 && read_file_bytes(path) == package && pauses.empty());
    const std::string http_leg = "1 GET /packages/" + name + " range=";
    const std::string resumed = http_leg + "bytes=" + std::to_string(paused_at) + "-";
    EXPECT_EQ(service->log(), (std::vector<std::string>{http_leg + "-", ftp_leg, resumed, ftp_leg}));
}

TEST_F(Downloads, HttpsIsVerifiedAndResumesLikeHttp) {
    // The test certificate names "localhost" and is trusted for this process
    // (see reference_service.cpp); reached by its address, the same server
    // is refused and nothing is written.
    const std::string blob = make_blob(*service, L"secure.bin", 20000);
    progress.expected_size = 20000;
    const std::string by_address =
        "https://127.0.0.1:" + std::to_string(service->https_port) + "/packages/secure.bin";
    EXPECT_EQ(download_with_retries(by_address.c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_EQ(progress.bytes_so_far, 0u);
    EXPECT_EQ(pauses.size(), 10u);
    EXPECT_TRUE(service->log().empty()) << "no request may reach an unverified server";

    ASSERT_TRUE(write_file_bytes(path, blob.substr(0, 5000)));
    progress.bytes_so_far = 5000;
    const std::string link = service->https_url() + "packages/secure.bin";
    EXPECT_EQ(download_with_retries(link.c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_EQ(progress.http_status, 206);
    EXPECT_TRUE(read_file_bytes(path) == blob);

    // A redirect from http to https is followed.
    ASSERT_TRUE(service->set_faults(R"({"2": {"redirect": "https"}})"));
    progress.bytes_so_far = 0;
    EXPECT_EQ(download_with_retries(url("secure.bin", 2).c_str(), progress, path.c_str()), 0);
    EXPECT_EQ(progress.curl_code, 0);
    EXPECT_TRUE(read_file_bytes(path) == blob);
    EXPECT_EQ(service->log().back(), "https GET /packages/secure.bin range=-");
}

// What every request of the program says about itself, downloads and
// queries alike.
void expect_program_headers(const std::string& log_json) {
    EXPECT_NE(log_json.find(R"("Connection": "close")"), std::string::npos) << log_json;
    EXPECT_NE(log_json.find(R"x("User-Agent": "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0)")x"),
              std::string::npos)
        << log_json;
}

TEST_F(Downloads, RequestHeaders) {
    make_blob(*service, L"headers.bin", 10);
    progress.expected_size = 10;
    EXPECT_EQ(download_with_retries(url("headers.bin").c_str(), progress, path.c_str()), 0);
    expect_program_headers(service->log_json());
}

TEST_F(Downloads, TransfersThatCannotStart) {
    http_client* client = create_http_client(0);
    ASSERT_NE(client, nullptr);
    progress.expected_size = 10;
    EXPECT_EQ(transfer_file(*client, "file:///c:/windows/win.ini", path.c_str(), progress), -1);
    EXPECT_EQ(progress.curl_code, CURLE_URL_MALFORMAT);
    EXPECT_EQ(transfer_file(*client, url("x").c_str(), L"Q:\\no\\such\\folder\\file", progress), -1);
    EXPECT_EQ(last_error, 4);
    // The scheme is compared without regard to case.
    make_blob(*service, L"case.bin", 10);
    std::string upper = url("case.bin");
    upper.replace(0, 4, "HTTP");
    EXPECT_EQ(transfer_file(*client, upper.c_str(), path.c_str(), progress), 0);
    EXPECT_EQ(progress.curl_code, 0);
    destroy_http_client(client);
}

class MemoryRequests : public ::testing::Test {
protected:
    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
    }
    // Posts an empty form part as the update-service query does.
    const http_result& post(http_client& client, const std::string& url) {
        curl_formadd(&client.form_first, &client.form_last, CURLFORM_COPYNAME, "tarnwick",
                     CURLFORM_COPYCONTENTS, "", CURLFORM_CONTENTSLENGTH, 0L, CURLFORM_END);
        return request_to_memory(client, url.c_str());
    }
    reference_service* service = nullptr;
};

TEST_F(MemoryRequests, StatusRulesAndTheBufferBoundary) {
    http_client* client = create_http_client(query_buffer_capacity);
    ASSERT_NE(client, nullptr);
    // No HTTP answer: 504.
    const int closed = reference_service::closed_port();
    const http_result& refused = post(*client, "http://127.0.0.1:" + std::to_string(closed) + "/");
    EXPECT_EQ(refused.status, 504);
    EXPECT_EQ(refused.curl_code, CURLE_COULDNT_CONNECT);
    EXPECT_EQ(client->form_first, nullptr);
    // An error status of a transfer that went through: code 22.
    ASSERT_TRUE(service->set_faults(R"({"1": {"status": 500}})"));
    const http_result& failed = post(*client, service->mirror_url(1));
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.curl_code, CURLE_HTTP_RETURNED_ERROR);
    // A broken form is refused by the service with 400 and a short text.
    const http_result& bad = post(*client, service->mirror_url(2));
    EXPECT_EQ(bad.status, 400);
    ASSERT_GT(bad.filled, 0u);
    const std::string text(bad.body.data(), bad.filled);
    EXPECT_EQ(bad.body[bad.filled], '\0');
    destroy_http_client(client);

    // A body of capacity - 1 bytes fails; one byte more of room and it fits.
    http_client* tight = create_http_client(static_cast<uint32_t>(text.size()));
    http_client* room = create_http_client(static_cast<uint32_t>(text.size() + 1));
    ASSERT_TRUE(tight && room);
    const http_result& cut = post(*tight, service->mirror_url(2));
    EXPECT_EQ(cut.curl_code, CURLE_WRITE_ERROR);
    EXPECT_EQ(cut.status, 400);
    EXPECT_NE(cut.error_text[0], '\0');
    const http_result& fits = post(*room, service->mirror_url(2));
    EXPECT_EQ(fits.curl_code, CURLE_HTTP_RETURNED_ERROR);
    EXPECT_EQ(std::string(fits.body.data()), text);
    destroy_http_client(tight);
    destroy_http_client(room);
}

TEST_F(MemoryRequests, HeadersAndRefusedCertificate) {
    http_client* client = create_http_client(query_buffer_capacity);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(post(*client, service->mirror_url(1)).status, 400);
    expect_program_headers(service->log_json());

    // Reached by its address, the HTTPS server's certificate does not name
    // it: refused before anything is sent, and the refusal says so.
    const http_result& refused =
        post(*client, "https://127.0.0.1:" + std::to_string(service->https_port) + "/");
    EXPECT_EQ(refused.curl_code, CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_NE(std::string(refused.error_text).find("connection to 127.0.0.1 was refused"), std::string::npos)
        << refused.error_text;
    EXPECT_EQ(service->log().size(), 1u);
    destroy_http_client(client);
}

TEST_F(MemoryRequests, DeadlineAndStopEndAHeldRequest) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"delay": 60}, "2": {"delay": 60}})"));
    http_client* client = create_http_client(query_buffer_capacity);
    ASSERT_NE(client, nullptr);
    client->query_deadline_seconds = 2;
    const http_result& late = post(*client, service->mirror_url(1));
    EXPECT_EQ(late.curl_code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(late.status, 504);

    client->query_deadline_seconds = query_deadline;
    std::atomic<int32_t> stop{0};
    std::thread stopper([&] {
        for (int i = 0; i < 3000 && service->log().size() < 2; ++i) Sleep(10);
        stop = 1;
    });
    curl_formadd(&client->form_first, &client->form_last, CURLFORM_COPYNAME, "tarnwick",
                 CURLFORM_COPYCONTENTS, "", CURLFORM_CONTENTSLENGTH, 0L, CURLFORM_END);
    const http_result& stopped = request_to_memory(*client, service->mirror_url(2).c_str(), &stop);
    stopper.join();
    EXPECT_EQ(stopped.curl_code, CURLE_ABORTED_BY_CALLBACK);
    EXPECT_EQ(service->log(), (std::vector<std::string>{"1 POST / range=-", "2 POST / range=-"}));
    destroy_http_client(client);
}

}  // namespace
