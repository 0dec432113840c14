// The scan request: the device list as an XML document, compressed and posted
// to the update service's mirrors in turn; a good answer is handed on to the
// answer parser and the choice of offers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct device_store;
struct update_client;

// What a query needs and what it reports. The caller fills the inputs and
// clears the two outputs before each start. The model is a copy: the system
// information it comes from is published after the first frame, and the
// query runs on a worker while the window's thread goes on.
struct scan_query_params {
    const char* os_code_name = "";   // "WIN7", "VISTA64", "NOT_SUPPORTED", ... (static text)
    const char* client_code = "";    // opaque; empty when there is none (static text)
    std::wstring model;              // the computer model (WMI Model)
    int32_t os_version = 0;          // major * 10 + minor; not sent, the ranking reads it
    int32_t language_code = 0;       // the OEM code page (GetOEMCP)
    int32_t http_status = 0;         // out: status of the last attempt, 504 for no answer
    char error_text[256] = {};       // out: NUL-terminated, or empty
};

// The parameters of the query that runs (or ran last); set at its start.
extern const scan_query_params* current_query;

// Stores a code in last_error and returns it.
int set_last_error(int code);

// The request document as 8-bit text (the thread's ANSI code page), printed
// with a TAB indent and LF line breaks, without a terminating NUL.
std::string build_scan_request(const device_store& store, const scan_query_params& params);

// One zlib stream (RFC 1950) of the document at the default level. 0, or a
// negative zlib code with `out` empty.
int compress_request(std::string_view document, std::vector<unsigned char>& out);

// The query worker's job: builds and compresses the request, posts it to
// mirror 1, 2, 3 until one answers, parses the answer into the devices'
// offers, reloads "setup.dat" and chooses every device's offers. 0 on
// success; -1 with last_error 3 (no answer), 7 (no HTTP client), 20 (every
// mirror failed otherwise, with the status and error text in params), 21
// (invalid answer) or 24 (compression failed).
int query_updates(update_client& client, scan_query_params& params);
// The same with the application's update client (last_error 7 without one).
int query_updates(scan_query_params& params);
