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
};

// The caller's record of one file download. The user-interface thread writes
// stop_flag and reads bytes_so_far while the download worker does the reverse.
struct download_progress {
    std::atomic<uint32_t> expected_size{0};  // the offer's size in bytes
    std::atomic<uint32_t> bytes_so_far{0};   // also the resume offset
    std::atomic<int32_t> http_status{0};
    std::atomic<int32_t> curl_code{0};
    std::atomic<int32_t> stop_flag{0};       // non-zero: stop the transfer
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
    // The last transfer was refused because of the server's certificate.
    bool tls_rejected = false;
};

// Body-buffer capacities in use.
constexpr uint32_t query_buffer_capacity = 0x500000;  // update-service answers
constexpr uint32_t download_buffer_capacity = 0;      // file downloads

// Creates a client with a body buffer of `capacity` bytes (0 for none) and the
// common options set; null when libcurl or memory fails.
http_client* create_http_client(uint32_t capacity);
// Frees the easy handle, any form, the header list and the result. Null is fine.
void destroy_http_client(http_client* client);

// Posts the client's form to `url` and receives the answer into the body
// buffer. A missing HTTP answer is reported as status 504; an HTTP error
// status (400 or more) of a transfer that went through as curl code 22. The
// form is freed afterwards.
const http_result& request_to_memory(http_client& client, const char* url);

// Downloads `url` (http://, https:// or ftp://, compared without regard to
// case) into the file at `path`: from the start when bytes_so_far is 0,
// else appended from that offset with an HTTP Range. The outcome goes to
// `progress`. Returns 0 when a transfer was performed, whatever its outcome,
// and -1 when none could start (curl code 3 for another scheme, last_error 4
// when the file cannot be opened).
int transfer_file(http_client& client, const char* url, const wchar_t* path,
                  download_progress& progress);

// Downloads a package link into `path` with up to ten attempts and a pause
// after every attempt that did not finish: the result of the last transfer.
// last_error 7 and -1 when no client can be made.
int download_with_retries(const char* link, download_progress& progress, const wchar_t* path);

// The link as Windows' UrlEscapeA with URL_ESCAPE_SPACES_ONLY |
// URL_DONT_ESCAPE_EXTRA_INFO documents it: every space before the first '?'
// or '#' becomes %20, everything else stays as it is.
std::string escape_link_spaces(std::string_view link);

// The pause between download attempts. Tests replace it so that they need
// not wait; the argument is the pause in milliseconds. Returns the previous one.
constexpr uint32_t download_retry_pause_ms = 5000;
using retry_pause_function = void (*)(uint32_t milliseconds);
retry_pause_function set_retry_pause(retry_pause_function pause);
