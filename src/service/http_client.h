// Every network transfer of the program goes through one small wrapper around
// a libcurl easy handle: the update-service query (a form posted, the answer
// into a fixed memory buffer) and package downloads (to a file, with resume,
// a stop request and retries).
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The outcome of a transfer to memory.
struct http_result {
    int32_t status = 0;            // HTTP status; 504 when no HTTP answer came
    int32_t curl_code = 0;         // CURLcode
    std::vector<char> body;        // `capacity` bytes; empty for a client without a buffer
    uint32_t capacity = 0;
    uint32_t filled = 0;           // bytes of the answer; body[filled] is always 0
    char error_text[256] = {};     // CURLOPT_ERRORBUFFER
    // A certificate, or a redirect of an https address to another scheme,
    // was refused; error_text says so and names the host.
    bool refused = false;
};

// The caller's record of one file download. The user-interface thread writes
// stop_flag and reads bytes_so_far while the download worker does the reverse.
// One record per download, passed by reference: it cannot be copied.
struct download_progress {
    std::atomic<uint64_t> expected_size{0};  // the offer's size in bytes
    std::atomic<uint64_t> bytes_so_far{0};   // also the resume offset
    std::atomic<int32_t> http_status{0};
    std::atomic<int32_t> curl_code{0};
    std::atomic<int32_t> stop_flag{0};       // non-zero: stop the transfer
    // When the latest transfer ended because a server's certificate was
    // refused (curl code 35 or 60), or because an https link was redirected
    // to an address that is not https (curl code 1): the host whose
    // certificate it was, or that redirected. Empty otherwise. Always
    // terminated. Not atomic: transfer_file clears it when it starts and
    // fills it when it ends, on the download worker; the user-interface
    // thread reads it only after the worker has ended (waiting for the
    // worker's thread orders the accesses), never while it runs.
    char refused_host[256] = {};
};

struct http_client {
    CURL* easy = nullptr;
    curl_httppost* form_first = nullptr;  // the form under construction
    curl_httppost* form_last = nullptr;
    http_result result;
    curl_slist* headers = nullptr;
    FILE* file = nullptr;                     // open while a file transfer runs
    download_progress* progress = nullptr;    // set while a file transfer runs
    // The last file transfer was ended because the server sent more than the
    // expected size (last_error 25 is process-wide; another download may
    // have set it since).
    bool overran = false;
    // Why the last transfer was refused, if it was for its security, and
    // the host concerned (see download_progress::refused_host).
    enum class refusal { none, certificate, insecure_redirect };
    refusal refused = refusal::none;
    char refused_host[256] = {};
    // The host of the latest request, noted before it was sent: the one
    // that redirected, when a redirect is refused.
    char requested_host[256] = {};

    // While a request to memory runs: the flag that stops it, or null.
    const std::atomic<int32_t>* query_stop = nullptr;
    // The longest a request to memory may take, in seconds.
    uint32_t query_deadline_seconds = 0;

    // While an HTTP file transfer runs: where the file ended when it started,
    // the start of the latest answer's Content-Range (-1 for none) and the
    // complete length it names ("bytes */N" of a 416, -1 for none), whether
    // that answer was looked at, and whether it was refused.
    uint64_t resume_offset = 0;
    int64_t range_start = -1;
    int64_t range_total = -1;
    bool answer_checked = false;
    bool answer_refused = false;
};

// Body-buffer capacities in use.
constexpr uint32_t query_buffer_capacity = 0x500000;  // update-service answers
constexpr uint32_t download_buffer_capacity = 0;      // file downloads

// libcurl's receive buffer for file downloads, in bytes (its largest). The
// default of 16 KiB costs one socket read per 16 KiB: on a fast line, and
// under Wine above all, those reads cap the download's speed.
constexpr long download_receive_buffer_size = 512 * 1024;

// A query that has not finished after this many seconds ends (a slow service
// cannot hold it for ever; the low-speed abort alone would not end it).
constexpr uint32_t query_deadline = 180;

// Creates a client with a body buffer of `capacity` bytes (0 for none) and the
// common options set; null when libcurl or memory fails.
http_client* create_http_client(uint32_t capacity);
// Frees the easy handle, any form, the header list and the result. Null is fine.
void destroy_http_client(http_client* client);

// Every transfer: a link or mirror whose scheme is https (compared without
// regard to case) is followed only to https addresses; any other may be
// redirected to http, https or ftp. A redirect of an https address elsewhere
// ends the transfer (curl code 1). A server certificate refused by the
// client's own check (curl code 60) or by the secure channel during the
// handshake (curl code 35 or 60) ends it too. Either refusal is told in the
// error text, which names the host: the one whose certificate it was, or the
// one that redirected.

// Posts the client's form to `url` and receives the answer into the body
// buffer, within the client's query deadline. A missing HTTP answer is
// reported as status 504; an HTTP error status (400 or more) of a transfer
// that went through as curl code 22; a refusal as above, with `refused`
// set. When `stop` is given and becomes non-zero the transfer ends within
// about a second (curl code 42).
// The form is freed afterwards.
const http_result& request_to_memory(http_client& client, const char* url,
                                     const std::atomic<int32_t>* stop = nullptr);

// Downloads `url` (http://, https:// or ftp://, compared without regard to
// case) into the file at `path`. Over HTTP the resume offset is what the
// file holds (at most bytes_so_far: a longer file is cut to it, a missing
// one starts from zero), asked for with a Range; only a 206 whose
// Content-Range starts there is appended, a 200 replaces the file, and any
// other answer is an error that writes nothing (curl code 22, or 33 for a
// 206 that starts elsewhere). A 416 to a file that holds the expected size,
// whose Content-Range says the package is that long, finds the download
// complete (curl code 0). Over FTP the file starts over, also when an
// HTTP link is redirected there (its status is then an FTP reply code). The outcome
// goes to `progress`, a refusal's host to its refused_host. Returns 0 when
// a transfer was performed, whatever its outcome, and -1 when none could
// start (curl code 3 for another scheme, last_error 4 when the file cannot
// be opened).
int transfer_file(http_client& client, const char* url, const wchar_t* path,
                  download_progress& progress);

// Downloads a package link into `path` with up to ten attempts and a pause
// after every attempt that did not finish: the result of the last transfer.
// last_error 7 and -1 when no client can be made.
int download_with_retries(const char* link, download_progress& progress, const wchar_t* path);

// The link with every space as %20 (libcurl refuses a raw space anywhere,
// also after '?' or '#'); everything else stays as it is.
std::string escape_link_spaces(std::string_view link);

// A transfer that moves less than 1 byte per second for this many seconds
// ends (curl code 28).
constexpr uint32_t stall_limit_seconds = 30;
// The stall limit of the clients created from now on, in seconds. Tests
// shorten it so that they need not wait. Returns the previous one.
uint32_t set_stall_limit(uint32_t seconds);

// The pause between download attempts. Tests replace it so that they need
// not wait; the argument is the pause in milliseconds. Returns the previous one.
constexpr uint32_t download_retry_pause_ms = 5000;
using retry_pause_function = void (*)(uint32_t milliseconds);
retry_pause_function set_retry_pause(retry_pause_function pause);
