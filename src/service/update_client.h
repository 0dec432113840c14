// The process-wide context of the update-service queries.
#pragma once

#include <array>
#include <set>
#include <string>
#include <string_view>

struct device_store;
struct http_client;

struct update_client {
    device_store* store = nullptr;  // the process-wide device store, not owned
    // Shared by every query; made by the first one with a 5 MB answer buffer.
    http_client* http = nullptr;
    // Links of the packages whose installation the user has started
    // ("setup.dat"), ordered by unsigned byte comparison.
    std::set<std::string> installed;
    // The base URLs of the update service's three mirrors, tried in order.
    std::array<std::string, 3> mirrors;
};

// The built-in mirror base URLs.
extern const std::array<const char*, 3> builtin_mirrors;

// Three base URLs separated by ";" (the environment variable
// QUILLMARK_MIRRORS), each http:// or https:// with a host, plain ASCII
// without blanks. False, with `out` untouched, for any other form.
bool parse_mirror_list(std::wstring_view value, std::array<std::string, 3>& out);

// Created once during initialisation; null when it cannot be created. The
// mirrors come from QUILLMARK_MIRRORS when it holds a valid list, else from
// the built-in ones.
update_client* create_update_client(device_store* store);
// Frees the client and everything it holds; null is allowed.
void release_update_client(update_client* client);
