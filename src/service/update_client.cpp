#include "service/update_client.h"

// libcurl brings winsock2.h, which must come before windows.h.
#include "service/http_client.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

#include "platform/text.h"
#include "service/scan_request.h"

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
        if (url.size() > scheme.size() && equal_ignoring_case(url.substr(0, scheme.size()), scheme))
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
    // The size with the terminator, 1 for an empty value, 0 when not set.
    DWORD n = GetEnvironmentVariableW(L"QUILLMARK_MIRRORS", nullptr, 0);
    if (n > 1) {
        std::vector<wchar_t> value(n);
        DWORD got = GetEnvironmentVariableW(L"QUILLMARK_MIRRORS", value.data(), n);
        if (got == 0 || got >= n || !parse_mirror_list(std::wstring_view(value.data(), got), client->mirrors))
            client->mirror_error =
                "QUILLMARK_MIRRORS is set but is not three http:// or https:// base URLs "
                "separated by \";\": the update service was not asked.";
    }
    return client;
}

const http_result* post_scan_request(update_client& client, const std::vector<unsigned char>& packed,
                                     scan_query_params& params) {
    if (!client.mirror_error.empty()) {
        set_last_error(20);
        copy_text(params.error_text, client.mirror_error);
        return nullptr;
    }
    http_client& http = *client.http;
    for (const std::string& mirror : client.mirrors) {
        if (client.stop_flag != 0) break;
        // One part, no file name and no content type; freed after the attempt.
        CURLFORMcode added = curl_formadd(
            &http.form_first, &http.form_last, CURLFORM_COPYNAME, "tarnwick",
            CURLFORM_COPYCONTENTS, reinterpret_cast<const char*>(packed.data()),
            CURLFORM_CONTENTSLENGTH, static_cast<long>(packed.size()), CURLFORM_END);
        if (added != CURL_FORMADD_OK) return set_last_error(7), nullptr;
        const http_result& r = request_to_memory(http, mirror.c_str(), &client.stop_flag);
        params.http_status = r.status;
        if (r.curl_code == CURLE_OK && r.status < 400) return &r;
    }
    // A stopped query is given up without a message: the program is quitting.
    if (client.stop_flag != 0) return set_last_error(0), nullptr;

    const http_result& r = http.result;
    const std::string_view error_text(r.error_text, strnlen(r.error_text, sizeof(r.error_text)));
    // A refused certificate, or a secure mirror redirected to an insecure
    // address, is told as what it is (a proxy that intercepts TLS, for one),
    // not as a service that did not answer.
    if (r.refused) {
        set_last_error(20);
        copy_text(params.error_text, error_text);
        return nullptr;
    }
    if (r.status == 504) return set_last_error(3), nullptr;
    set_last_error(20);
    if (r.curl_code == CURLE_WRITE_ERROR)
        copy_text(params.error_text, error_text);
    else if (r.status < 400)
        copy_text(params.error_text, curl_easy_strerror(static_cast<CURLcode>(r.curl_code)));
    else
        params.error_text[0] = '\0';
    return nullptr;
}

void release_update_client(update_client* client) {
    if (!client) return;
    destroy_http_client(client->http);
    delete client;
}
