#include "service/http_client.h"

#include <windows.h>

#include <io.h>

#include <cinttypes>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "app/globals.h"
#include "platform/text.h"
#include "platform/tls_verify.h"

namespace {

struct client_deleter {
    void operator()(http_client* client) const { destroy_http_client(client); }
};
using client_ptr = std::unique_ptr<http_client, client_deleter>;

void default_pause(uint32_t milliseconds) { Sleep(milliseconds); }
std::atomic<retry_pause_function> retry_pause{default_pause};
std::atomic<uint32_t> stall_limit{stall_limit_seconds};

bool starts_with_nocase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        char a = *text, b = *prefix;
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;  // also at the end of text
    }
    return true;
}

enum class link_scheme { http, ftp, other };

// The header every request carries.
constexpr const char* connection_close = "Connection: close";

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

// The decimal number at value[i], with i moved past it; -1 for none.
int64_t read_number(const char* value, size_t n, size_t& i) {
    int64_t number = -1;
    for (; i < n && value[i] >= '0' && value[i] <= '9'; ++i) {
        if (number > (int64_t{1} << 40)) return -1;  // beyond any package
        number = (number < 0 ? 0 : number * 10) + (value[i] - '0');
    }
    return number;
}

// A "Content-Range: bytes FIRST-LAST/SIZE" value gives its FIRST as `start`,
// a "bytes */SIZE" value (of a 416) its SIZE as `total`; -1 for what it
// does not give.
void read_content_range(const char* value, size_t n, int64_t& start, int64_t& total) {
    start = total = -1;
    size_t i = 0;
    while (i < n && (value[i] == ' ' || value[i] == '\t')) ++i;
    if (n - i < 6 || !starts_with_nocase(value + i, "bytes") || (value[i + 5] != ' ' && value[i + 5] != '\t'))
        return;
    i += 5;
    while (i < n && (value[i] == ' ' || value[i] == '\t')) ++i;
    if (i + 1 < n && value[i] == '*' && value[i + 1] == '/') {
        i += 2;
        total = read_number(value, n, i);
        return;
    }
    const int64_t first = read_number(value, n, i);
    if (i < n && value[i] == '-') start = first;
}

// Notes the Content-Range of the latest answer; a status line begins the
// headers of another answer (after a redirect, or an interim one).
size_t header_reader(char* data, size_t size, size_t items, void* user) {
    auto* client = static_cast<http_client*>(user);
    size_t n = 0;
    if (!data || !client || !byte_count(size, items, n)) return n;
    constexpr char name[] = "content-range:";
    constexpr size_t name_length = sizeof(name) - 1;
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0)
        client->range_start = client->range_total = -1;
    else if (n > name_length && starts_with_nocase(data, name))
        read_content_range(data + name_length, n - name_length, client->range_start, client->range_total);
    return n;
}

// Cuts an open file to `size` bytes and puts its position at the new end
// (through the file's handle: the C runtime's 64-bit calls are missing from
// older systems' runtime).
bool cut_file(FILE* file, uint64_t size) {
    if (std::fflush(file) != 0) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return handle != INVALID_HANDLE_VALUE && SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) &&
           SetEndOfFile(handle) && std::fseek(file, 0, SEEK_END) == 0;
}

// Empties the file and the count: the answer holds the package from its start.
bool restart_file(http_client& client) {
    if (!cut_file(client.file, 0)) return false;
    client.progress->bytes_so_far = 0;
    return true;
}

// Whether the latest leg of the transfer is FTP (an http:// link may be
// redirected to ftp://).
bool on_ftp_leg(CURL* easy) {
    char* url = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
    return url && scheme_of(url) == link_scheme::ftp;
}

// Decides, before any of its bytes are written, whether the final answer of
// an HTTP transfer may go into the file: a 206 that starts where the file
// ends is appended, a 200 replaces the file; nothing else is package data
// (an unfollowed redirect, a 206 of another range). A redirect to FTP
// brings the whole file (its status is an FTP reply code, and no Range
// reaches it): it replaces the file too.
bool accept_answer(http_client& client) {
    client.answer_checked = true;
    long status = 0;
    curl_easy_getinfo(client.easy, CURLINFO_RESPONSE_CODE, &status);
    const bool whole_file = status == 200 || on_ftp_leg(client.easy);
    if (whole_file && client.resume_offset != 0 && !restart_file(client)) {
        last_error = 5;
        return false;
    }
    client.answer_refused =
        !(whole_file || (status == 206 && client.range_start == static_cast<int64_t>(client.resume_offset)));
    return !client.answer_refused;
}

size_t file_writer(char* data, size_t size, size_t items, void* user) {
    auto* client = static_cast<http_client*>(user);
    size_t n = 0;
    if (!data || !client || !client->progress || !client->file || !byte_count(size, items, n))
        return 0;
    if (!client->answer_checked && !accept_answer(*client)) return 0;
    download_progress& p = *client->progress;
    if (p.bytes_so_far + n > p.expected_size) {
        client->overran = true;
        last_error = 25;
        return 0;
    }
    // Flushed at once, so that the file's size on disk is always bytes_so_far.
    if (std::fwrite(data, 1, n, client->file) != n || std::fflush(client->file) != 0) {
        last_error = 5;
        return 0;
    }
    p.bytes_so_far += n;
    return n;
}

int stop_check(void* user, double, double, double, double) {
    auto* client = static_cast<http_client*>(user);
    if (!client || !client->progress) return 1;
    return client->progress->stop_flag != 0 ? 1 : 0;
}

// libcurl calls it about once a second even while nothing arrives.
int query_stop_check(void* user, double, double, double, double) {
    auto* client = static_cast<http_client*>(user);
    return client && client->query_stop && *client->query_stop != 0 ? 1 : 0;
}

// The scheme of `url` is https: curl takes "https:" with one to three
// slashes after it.
bool is_https(const char* url) { return starts_with_nocase(url, "https:"); }

// Where a transfer may be redirected. An https address stays https: a
// package that is run with administrator rights, or the list of packages,
// must not come in the clear because a server (or whoever answers in its
// place) says so.
void limit_redirects(CURL* e, const char* url) {
    constexpr long any = CURLPROTO_HTTP | CURLPROTO_HTTPS | CURLPROTO_FTP;
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS, is_https(url) ? long{CURLPROTO_HTTPS} : any);
}

// The host part of `url`; empty when it has none that can be read.
void host_of(const char* url, char (&host)[256]) {
    host[0] = '\0';
    CURLU* parts = curl_url();
    char* name = nullptr;
    if (parts && url && curl_url_set(parts, CURLUPART_URL, url, 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &name, 0) == CURLUE_OK && name)
        copy_text(host, name);
    curl_free(name);
    curl_url_cleanup(parts);
}

// Called on every connection before its request is sent: notes the host, and
// an HTTPS server must present a certificate that the Windows store trusts
// and that names the host.
int check_server(void* user, char*, char*, int, int) {
    auto* client = static_cast<http_client*>(user);
    char* url = nullptr;
    curl_easy_getinfo(client->easy, CURLINFO_EFFECTIVE_URL, &url);
    host_of(url, client->requested_host);
    if (!url || !is_https(url)) return CURL_PREREQFUNC_OK;
    curl_tlssessioninfo* tls = nullptr;
    if (client->requested_host[0] && curl_easy_getinfo(client->easy, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK &&
        tls && tls->backend == CURLSSLBACKEND_SCHANNEL &&
        verify_server_certificate(tls->internals, client->requested_host))
        return CURL_PREREQFUNC_OK;
    client->refused = http_client::refusal::certificate;
    copy_text(client->refused_host, client->requested_host);
    return CURL_PREREQFUNC_ABORT;
}

// Readies the client for a transfer of `url`.
void begin_transfer(http_client& client, const char* url) {
    limit_redirects(client.easy, url);
    client.refused = http_client::refusal::none;
    client.refused_host[0] = client.requested_host[0] = '\0';
}

// The code of a finished transfer of `url`. A refused certificate (by the
// check above, which ends the transfer as a callback would, or by the secure
// channel during the handshake: codes 35 and 60), or a redirect of an https
// address elsewhere (code 1), is noted in the client with its host, and told
// in the error text; the text names the host, so that a proxy that presents
// certificates of its own, or turns https into http, is seen as what it is.
CURLcode finish_transfer(http_client& client, const char* url, CURLcode code) {
    using refusal = http_client::refusal;
    char* failed = nullptr;
    curl_easy_getinfo(client.easy, CURLINFO_EFFECTIVE_URL, &failed);
    long redirects = 0;
    curl_easy_getinfo(client.easy, CURLINFO_REDIRECT_COUNT, &redirects);
    if (client.refused == refusal::certificate) {
        code = CURLE_PEER_FAILED_VERIFICATION;
    } else if ((code == CURLE_SSL_CONNECT_ERROR || code == CURLE_PEER_FAILED_VERIFICATION) && failed &&
               is_https(failed)) {
        client.refused = refusal::certificate;
        host_of(failed, client.refused_host);
    } else if (code == CURLE_UNSUPPORTED_PROTOCOL && is_https(url) && redirects > 0) {
        // The redirect came from the latest request: an https one, as every
        // address before the refused one was.
        client.refused = refusal::insecure_redirect;
        copy_text(client.refused_host, client.requested_host);
    }
    if (client.refused == refusal::none) return code;
    if (!client.refused_host[0]) copy_text(client.refused_host, "(unknown host)");
    char* text = client.result.error_text;
    const size_t size = sizeof(client.result.error_text);
    if (client.refused == refusal::certificate)
        std::snprintf(text, size,
                      "The secure connection to %s was refused: the server did not present a trusted "
                      "certificate that names it",
                      client.refused_host);
    else
        std::snprintf(text, size, "%s redirected a secure address to an insecure one: the redirect was refused",
                      client.refused_host);
    return code;
}

void reset_result(http_result& r) {
    r.status = 0;
    r.curl_code = 0;
    r.refused = false;
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
    client->query_deadline_seconds = query_deadline;
    client->easy = curl_easy_init();
    if (!client->easy) return nullptr;
    CURL* e = client->easy;

    // Links and mirrors may name http, https or ftp; where redirects may go
    // is set for each transfer. Packages that are run with administrator
    // rights can then come over verified TLS (the Windows certificate store,
    // through Schannel, and the check before each request).
    constexpr long protocols = CURLPROTO_HTTP | CURLPROTO_HTTPS | CURLPROTO_FTP;
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, client->result.error_text);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS, protocols);
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

    client->headers = curl_slist_append(nullptr, connection_close);
    if (!client->headers) return nullptr;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, client->headers);

    // A transfer that moves less than 1 byte per second for the stall limit
    // (30 seconds) ends.
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall_limit.load()));
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

const http_result& request_to_memory(http_client& client, const char* url,
                                     const std::atomic<int32_t>* stop) {
    http_result& r = client.result;
    reset_result(r);
    CURL* e = client.easy;
    client.query_stop = stop;
    curl_easy_setopt(e, CURLOPT_HTTPPOST, client.form_first);
    curl_easy_setopt(e, CURLOPT_URL, url);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, memory_writer);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &client);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, nullptr);
    curl_easy_setopt(e, CURLOPT_WRITEHEADER, nullptr);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_PROGRESSFUNCTION, query_stop_check);
    curl_easy_setopt(e, CURLOPT_PROGRESSDATA, &client);
    curl_easy_setopt(e, CURLOPT_TIMEOUT, static_cast<long>(client.query_deadline_seconds));
    curl_easy_setopt(e, CURLOPT_RANGE, nullptr);
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 0L);

    begin_transfer(client, url);
    r.curl_code = finish_transfer(client, url, curl_easy_perform(e));
    r.refused = client.refused != http_client::refusal::none;
    client.query_stop = nullptr;
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

namespace {

// Opens the file of an HTTP download for writing at the resume offset: what
// the file holds, but no more than the count says was received (a longer
// file is cut to the count, a missing one starts from zero). The offset goes
// to the count and to the client. Null when the file cannot be opened.
FILE* open_for_resume(http_client& client, const wchar_t* path, download_progress& progress) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    uint64_t size = 0;
    if (GetFileAttributesExW(path, GetFileExInfoStandard, &info))
        size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const uint64_t count = progress.bytes_so_far;
    const uint64_t offset = size < count ? size : count;
    client.resume_offset = offset;
    progress.bytes_so_far = offset;
    if (offset == 0) return _wfopen(path, L"wb");
    FILE* file = _wfopen(path, L"r+b");
    if (file && !cut_file(file, offset)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

}  // namespace

int transfer_file(http_client& client, const char* url, const wchar_t* path,
                  download_progress& progress) {
    progress.refused_host[0] = '\0';
    CURL* e = client.easy;
    const link_scheme scheme = scheme_of(url);
    // The resume offset goes as a header of the HTTP requests alone: with
    // CURLOPT_RANGE libcurl would carry it to an FTP server that a redirect
    // leads to (as REST), and FTP downloads always start over.
    using header_list = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
    header_list range_headers(nullptr, curl_slist_free_all);
    switch (scheme) {
    case link_scheme::http:
        reset_result(client.result);
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        // An error status ends the transfer before its body reaches the file:
        // an error page must not become part of the package.
        curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
        client.file = open_for_resume(client, path, progress);
        if (client.file && client.resume_offset != 0) {
            char range[32];
            std::snprintf(range, sizeof(range), "Range: bytes=%" PRIu64 "-", client.resume_offset);
            range_headers.reset(curl_slist_append(nullptr, connection_close));
            if (!range_headers || !curl_slist_append(range_headers.get(), range)) {
                std::fclose(client.file);
                client.file = nullptr;
            }
        }
        break;
    case link_scheme::ftp:
        // No resume over FTP: the file starts over, and so does the count.
        progress.bytes_so_far = 0;
        client.resume_offset = 0;
        client.file = _wfopen(path, L"wb");
        break;
    case link_scheme::other:
        progress.curl_code = CURLE_URL_MALFORMAT;
        return -1;
    }
    if (!client.file) {
        last_error = 4;
        return -1;
    }
    client.progress = &progress;
    client.overran = false;
    client.range_start = client.range_total = -1;
    client.answer_refused = false;
    // FTP answers need no check; HTTP ones are looked at before their first byte.
    client.answer_checked = scheme != link_scheme::http;

    curl_easy_setopt(e, CURLOPT_URL, url);
    curl_easy_setopt(e, CURLOPT_RANGE, nullptr);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, range_headers ? range_headers.get() : client.headers);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, file_writer);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &client);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_PROGRESSFUNCTION, stop_check);
    curl_easy_setopt(e, CURLOPT_PROGRESSDATA, &client);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, header_reader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &client);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, download_receive_buffer_size);
    // Downloads have no overall deadline: a large package on a slow line
    // takes its time; the low-speed abort ends a stalled one.
    curl_easy_setopt(e, CURLOPT_TIMEOUT, 0L);

    begin_transfer(client, url);
    CURLcode code = finish_transfer(client, url, curl_easy_perform(e));
    // An answer without a body was not looked at by the writer.
    if (code == CURLE_OK && !client.answer_checked) accept_answer(client);
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    // A refused answer is an error of its own, like an error status.
    if (client.answer_refused && (code == CURLE_OK || code == CURLE_WRITE_ERROR))
        code = status == 206 ? CURLE_RANGE_ERROR : CURLE_HTTP_RETURNED_ERROR;
    // Asked for what follows a file that holds the whole package (its last
    // byte came, but not the rename; or the answer that brought it claimed
    // more than it sent), the server has nothing past its end and says how
    // long the package is: the download is complete, not to be fetched again.
    if (code == CURLE_HTTP_RETURNED_ERROR && status == 416 && client.resume_offset != 0 &&
        client.resume_offset == progress.expected_size && client.range_total == static_cast<int64_t>(client.resume_offset))
        code = CURLE_OK;
    // A stop request ends the transfer through the progress callback; that
    // is not a failure.
    progress.curl_code = code == CURLE_ABORTED_BY_CALLBACK ? CURLE_OK : code;
    progress.http_status = static_cast<int32_t>(status);
    copy_text(progress.refused_host, client.refused_host);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, client.headers);
    std::fclose(client.file);
    client.file = nullptr;
    client.progress = nullptr;
    return 0;
}

int download_with_retries(const char* link, download_progress& progress, const wchar_t* path) {
    // A download that cannot even start names no host of an earlier one.
    progress.refused_host[0] = '\0';
    client_ptr client(create_http_client(download_buffer_capacity));
    if (!client) {
        last_error = 7;
        return -1;
    }
    std::string url = escape_link_spaces(link ? link : "");
    if (url.size() > 1024) url.resize(1024);

    int result = -1;
    for (int attempt = 0; attempt < 10; ++attempt) {
        result = transfer_file(*client, url.c_str(), path, progress);
        if (progress.stop_flag != 0) break;
        if (result == 0 && progress.curl_code == CURLE_OK) break;
        // More data than expected (a package larger than offered), an offset
        // the server does not have, or a range other than the one asked
        // for: the partial file is of no use with this server, so the next
        // attempt starts over.
        const bool refused_range = progress.curl_code == CURLE_RANGE_ERROR ||
                                   (progress.curl_code == CURLE_HTTP_RETURNED_ERROR &&
                                    progress.http_status == 416);
        const bool bad_offset = client->resume_offset != 0 && refused_range;
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
    for (char ch : link) {
        if (ch == ' ')
            out += "%20";
        else
            out += ch;
    }
    return out;
}

retry_pause_function set_retry_pause(retry_pause_function pause) {
    return retry_pause.exchange(pause ? pause : default_pause);
}

uint32_t set_stall_limit(uint32_t seconds) {
    return stall_limit.exchange(seconds ? seconds : stall_limit_seconds);
}
