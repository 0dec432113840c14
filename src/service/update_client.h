// The process-wide context of the update-service queries.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct device_store;
struct http_client;
struct http_result;
struct scan_query_params;

struct update_client {
    device_store* store = nullptr;  // the process-wide device store, not owned
    // Shared by every query; made by the first one with a 5 MB answer buffer.
    http_client* http = nullptr;
    // Links of the packages whose installation the user has started
    // ("setup.dat"), ordered by unsigned byte comparison.
    std::set<std::string> installed;
    // The base URLs of the update service's three mirrors, tried in order.
    std::array<std::string, 3> mirrors;
    // Why no mirror may be asked (QUILLMARK_MIRRORS set but unreadable), or empty.
    std::string mirror_error;
    // Set by the user-interface thread to end a running query; read by its
    // transfers' progress check.
    std::atomic<int32_t> stop_flag{0};
};

// The built-in mirror base URLs.
extern const std::array<const char*, 3> builtin_mirrors;

// Three base URLs separated by ";" (the environment variable
// QUILLMARK_MIRRORS), each http:// or https:// with a host, plain ASCII
// without blanks. False, with `out` untouched, for any other form.
bool parse_mirror_list(std::wstring_view value, std::array<std::string, 3>& out);

// Created once during initialisation; null when it cannot be created. The
// mirrors come from QUILLMARK_MIRRORS when it is set and not empty, else
// from the built-in ones. A set variable that is not a valid list leaves
// `mirror_error` set: the device list then goes nowhere, rather than to
// mirrors the user did not choose.
update_client* create_update_client(device_store* store);

// Posts the compressed request to mirror 1, 2, 3 in turn until one answers
// (an answer with curl code 0 and a status below 400); stops trying when
// the client's stop flag is set. The answer, or null with last_error 3 (no
// answer: the last status was 504), 7 (no form) or 20 (with the status and
// an error text in `params`: libcurl's when the answer did not fit, the
// refusal, naming the host, when a certificate or a redirect of an https
// mirror to another scheme was refused, the reason when the mirror list
// cannot be read).
const http_result* post_scan_request(update_client& client, const std::vector<unsigned char>& packed,
                                     scan_query_params& params);

// Frees the client and everything it holds; null is allowed.
void release_update_client(update_client* client);
