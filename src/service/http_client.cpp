#include "service/http_client.h"

#include <windows.h>

#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "app/globals.h"
#include "platform/tls_verify.h"

namespace {

struct client_deleter {
    void operator()(http_client* client) const { destroy_http_client(client); }
};
using client_ptr = std::unique_ptr<http_client, client_deleter>;

void default_pause(uint32_t milliseconds) { Sleep(milliseconds); }
std::atomic<retry_pause_function> retry_pause{default_pause};

bool starts_with_nocase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        char a = *text, b = *prefix;
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;  // also at the end of text
    }
    return true;
}

enum class link_scheme { http, ftp, other };

link_scheme scheme_of(const char* url) {
    if (starts_with_nocase(url, "http://") || starts_with_nocase(url, "https://"))
        return link_scheme::http;
    if (starts_with_nocase(url, "ftp://")) return link_scheme::ftp;
    return link_scheme::other;
}

// Multiplies size by items, or false when the product does not fit.
bool byte_count(size_t size, size_t items, size_t& n) {
    if (size == 0 || items == 0 || items > std::numeric_limits<size_t>::max() / size) return false;
    n = size * items;
    return true;
}

size_t memory_writer(char* data, size_t size, size_t items, void* user) {
    auto* client = static_cast<http_client*>(user);
    size_t n = 0;
    if (!data || !client || !byte_count(size, items, n)) return 0;
    http_result& r = client->result;
    // filled + n must stay below the capacity so that a NUL always follows
    // the answer; written without the sum, which could wrap.
    if (r.filled >= r.capacity || n >= r.capacity - r.filled) return 0;
    std::memcpy(r.body.data() + r.filled, data, n);
    r.filled += static_cast<uint32_t>(n);
    return n;
}

size_t file_writer(char* data, size_t size, size_t items, void* user) {
    auto* client = static_cast<http_client*>(user);
    size_t n = 0;
    if (!data || !client || !client->progress || !client->file || !byte_count(size, items, n))
        return 0;
    download_progress& p = *client->progress;
    if (static_cast<uint64_t>(p.bytes_so_far) + n > p.expected_size) {
        client->overran = true;
        last_error = 25;
        return 0;
    }
    // Flushed at once, so that the file's size on disk is always bytes_so_far.
    if (std::fwrite(data, 1, n, client->file) != n || std::fflush(client->file) != 0) {
        last_error = 5;
        return 0;
    }
    p.bytes_so_far += static_cast<uint32_t>(n);
    return n;
}

int stop_check(void* user, double, double, double, double) {
    auto* client = static_cast<http_client*>(user);
    if (!client || !client->progress) return 1;
    return client->progress->stop_flag != 0 ? 1 : 0;
}

// Called on every connection before its request is sent: an HTTPS server must
// present a certificate that the Windows store trusts and that names the host.
int check_server(void* user, char*, char*, int, int) {
    auto* client = static_cast<http_client*>(user);
    char* url = nullptr;
    curl_easy_getinfo(client->easy, CURLINFO_EFFECTIVE_URL, &url);
    if (!url || !starts_with_nocase(url, "https://")) return CURL_PREREQFUNC_OK;
    bool trusted = false;
    curl_tlssessioninfo* tls = nullptr;
    CURLU* parts = curl_url();
    char* host = nullptr;
    if (parts && curl_url_set(parts, CURLUPART_URL, url, 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_easy_getinfo(client->easy, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls &&
        tls->backend == CURLSSLBACKEND_SCHANNEL)
        trusted = verify_server_certificate(tls->internals, host);
    curl_free(host);
    curl_url_cleanup(parts);
    if (trusted) return CURL_PREREQFUNC_OK;
    client->tls_rejected = true;
    return CURL_PREREQFUNC_ABORT;
}

// The code of a finished transfer, with a refused server certificate told
// apart from a stop request.
CURLcode transfer_code(http_client& client, CURLcode code) {
    if (!client.tls_rejected) return code;
    std::snprintf(client.result.error_text, sizeof(client.result.error_text), "%s",
                  "The server's certificate is not trusted or does not name the server");
    return CURLE_PEER_FAILED_VERIFICATION;
}

void reset_result(http_result& r) {
    r.status = 0;
    r.curl_code = 0;
    r.filled = 0;
    std::fill(r.body.begin(), r.body.end(), '\0');
}

}  // namespace

http_client* create_http_client(uint32_t capacity) {
    client_ptr client(new (std::nothrow) http_client);
    if (!client) return nullptr;
    try {
        client->result.body.assign(capacity, '\0');
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    client->result.capacity = capacity;
    client->easy = curl_easy_init();
    if (!client->easy) return nullptr;
    CURL* e = client->easy;

    // Links and mirrors may name http, https or ftp, and so may redirects:
    // packages that are run with administrator rights can then come over
    // verified TLS (the Windows certificate store, through Schannel).
    constexpr long protocols = CURLPROTO_HTTP | CURLPROTO_HTTPS | CURLPROTO_FTP;
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, client->result.error_text);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS, protocols);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS, protocols);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT,
                     "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0)");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, check_server);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, client.get());

    client->headers = curl_slist_append(nullptr, "Connection: close");
    if (!client->headers) return nullptr;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, client->headers);

    // A transfer that moves less than 1 byte per second for 30 seconds ends.
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 30L);
    return client.release();
}

void destroy_http_client(http_client* client) {
    if (!client) return;
    if (client->easy) curl_easy_cleanup(client->easy);
    if (client->form_first) curl_formfree(client->form_first);
    if (client->headers) curl_slist_free_all(client->headers);
    if (client->file) std::fclose(client->file);
    delete client;
}

const http_result& request_to_memory(http_client& client, const char* url) {
    http_result& r = client.result;
    reset_result(r);
    CURL* e = client.easy;
    curl_easy_setopt(e, CURLOPT_HTTPPOST, client.form_first);
    curl_easy_setopt(e, CURLOPT_URL, url);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, memory_writer);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &client);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, nullptr);
    curl_easy_setopt(e, CURLOPT_WRITEHEADER, nullptr);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(e, CURLOPT_RANGE, nullptr);
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 0L);

    client.tls_rejected = false;
    r.curl_code = transfer_code(client, curl_easy_perform(e));
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    r.status = static_cast<int32_t>(status);
    if (r.status == 0) r.status = 504;
    if (r.curl_code == CURLE_OK && r.status >= 400) r.curl_code = CURLE_HTTP_RETURNED_ERROR;

    if (client.form_first) curl_formfree(client.form_first);
    client.form_first = client.form_last = nullptr;
    curl_easy_setopt(e, CURLOPT_HTTPPOST, nullptr);
    return r;
}

int transfer_file(http_client& client, const char* url, const wchar_t* path,
                  download_progress& progress) {
    CURL* e = client.easy;
    const wchar_t* mode = L"wb";
    char range[16] = {};
    switch (scheme_of(url)) {
    case link_scheme::http:
        reset_result(client.result);
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        // An error status ends the transfer before its body reaches the file:
        // an error page must not become part of the package.
        curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
        if (progress.bytes_so_far != 0) {
            mode = L"ab";
            std::snprintf(range, sizeof(range), "%u-", static_cast<unsigned>(progress.bytes_so_far));
        }
        break;
    case link_scheme::ftp:
        // No resume over FTP: the file starts over, and so does the count.
        progress.bytes_so_far = 0;
        break;
    case link_scheme::other:
        progress.curl_code = CURLE_URL_MALFORMAT;
        return -1;
    }
    client.file = _wfopen(path, mode);
    if (!client.file) {
        last_error = 4;
        return -1;
    }
    client.progress = &progress;
    client.overran = false;

    curl_easy_setopt(e, CURLOPT_URL, url);
    curl_easy_setopt(e, CURLOPT_RANGE, range[0] ? range : nullptr);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, file_writer);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &client);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_PROGRESSFUNCTION, stop_check);
    curl_easy_setopt(e, CURLOPT_PROGRESSDATA, &client);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, nullptr);
    curl_easy_setopt(e, CURLOPT_WRITEHEADER, nullptr);

    client.tls_rejected = false;
    CURLcode code = curl_easy_perform(e);
    code = transfer_code(client, code);
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    // A stop request ends the transfer through the progress callback; that
    // is not a failure.
    progress.curl_code = code == CURLE_ABORTED_BY_CALLBACK ? CURLE_OK : code;
    progress.http_status = static_cast<int32_t>(status);
    std::fclose(client.file);
    client.file = nullptr;
    client.progress = nullptr;
    return 0;
}

int download_with_retries(const char* link, download_progress& progress, const wchar_t* path) {
    client_ptr client(create_http_client(download_buffer_capacity));
    if (!client) {
        last_error = 7;
        return -1;
    }
    std::string url = escape_link_spaces(link ? link : "");
    if (url.size() > 1024) url.resize(1024);
    const bool http = scheme_of(url.c_str()) == link_scheme::http;

    int result = -1;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const bool resumed = http && progress.bytes_so_far != 0;
        result = transfer_file(*client, url.c_str(), path, progress);
        if (progress.stop_flag != 0) break;
        if (result == 0 && progress.curl_code == CURLE_OK) break;
        // More data than expected (a server that ignored the Range and sent
        // the whole file again, or a package larger than offered), or an
        // offset the server does not have: the partial file is useless, so
        // the next attempt starts over.
        const bool bad_offset = resumed && progress.curl_code == CURLE_HTTP_RETURNED_ERROR &&
                                progress.http_status == 416;
        if (result == 0 && (client->overran || bad_offset)) {
            DeleteFileW(path);
            progress.bytes_so_far = 0;
        }
        retry_pause.load()(download_retry_pause_ms);
    }
    return result;
}

std::string escape_link_spaces(std::string_view link) {
    std::string out;
    out.reserve(link.size());
    bool extra_info = false;
    for (char ch : link) {
        if (ch == '?' || ch == '#') extra_info = true;
        if (ch == ' ' && !extra_info)
            out += "%20";
        else
            out += ch;
    }
    return out;
}

retry_pause_function set_retry_pause(retry_pause_function pause) {
    return retry_pause.exchange(pause ? pause : default_pause);
}
