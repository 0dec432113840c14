#include "service/update_client.h"

// libcurl brings winsock2.h, which must come before windows.h.
#include "service/http_client.h"

#include <windows.h>

#include <new>
#include <vector>

const std::array<const char*, 3> builtin_mirrors = {
    "https://update1.vantorel.com/",
    "https://update2.vantorel.com/",
    "https://update3.vantorel.com/",
};

namespace {

bool valid_base_url(std::wstring_view url) {
    for (wchar_t ch : url)
        if (ch <= L' ' || ch >= 0x7F) return false;
    for (std::wstring_view scheme : {std::wstring_view(L"http://"), std::wstring_view(L"https://")}) {
        if (url.size() > scheme.size() &&
            CompareStringOrdinal(url.data(), static_cast<int>(scheme.size()), scheme.data(),
                                 static_cast<int>(scheme.size()), TRUE) == CSTR_EQUAL)
            return url[scheme.size()] != L'/';
    }
    return false;
}

}  // namespace

bool parse_mirror_list(std::wstring_view value, std::array<std::string, 3>& out) {
    std::array<std::string, 3> mirrors;
    std::size_t start = 0;
    for (std::size_t i = 0; i < mirrors.size(); ++i) {
        std::size_t end = value.find(L';', start);
        if ((i + 1 < mirrors.size()) != (end != std::wstring_view::npos)) return false;
        std::wstring_view url = value.substr(start, end == std::wstring_view::npos ? end : end - start);
        if (!valid_base_url(url)) return false;
        mirrors[i].assign(url.begin(), url.end());  // plain ASCII, checked above
        start = end + 1;
    }
    out = mirrors;
    return true;
}

update_client* create_update_client(device_store* store) {
    update_client* client = new (std::nothrow) update_client;
    if (!client) return nullptr;
    client->store = store;
    for (std::size_t i = 0; i < builtin_mirrors.size(); ++i) client->mirrors[i] = builtin_mirrors[i];
    DWORD n = GetEnvironmentVariableW(L"QUILLMARK_MIRRORS", nullptr, 0);
    if (n > 0 && n < 32768) {
        std::vector<wchar_t> value(n);
        DWORD got = GetEnvironmentVariableW(L"QUILLMARK_MIRRORS", value.data(), n);
        if (got > 0 && got < n) parse_mirror_list(std::wstring_view(value.data(), got), client->mirrors);
    }
    return client;
}

void release_update_client(update_client* client) {
    if (!client) return;
    destroy_http_client(client->http);
    delete client;
}
