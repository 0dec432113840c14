#include "common/reference_service.h"

// libcurl brings winsock2.h, which must come before windows.h.
#include <curl/curl.h>
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "downloads/download_names.h"
#include "platform/text.h"

namespace {

std::unique_ptr<reference_service> the_service;
std::unique_ptr<trusted_test_certificate> the_trust;

// Trusts the test certificate before any TLS connection of this process (the
// chain engine reads the root store once) and stops the service at the end.
class service_environment : public ::testing::Environment {
public:
    void SetUp() override {
        curl_global_init(CURL_GLOBAL_ALL);
        the_trust = std::make_unique<trusted_test_certificate>();
    }
    void TearDown() override {
        if (the_service) the_service->stop();
        the_service.reset();
        the_trust.reset();
    }
};
const auto* const registered = ::testing::AddGlobalTestEnvironment(new service_environment);

size_t append_body(char* data, size_t size, size_t items, void* user) {
    static_cast<std::string*>(user)->append(data, size * items);
    return size * items;
}

long perform(const std::string& url, const std::string* post, std::string* body) {
    CURL* e = curl_easy_init();
    if (!e) return 0;
    std::string sink;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, append_body);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, body ? body : &sink);
    if (post) {
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, post->c_str());
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(post->size()));
    }
    long status = 0;
    if (curl_easy_perform(e) == CURLE_OK) curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(e);
    return status;
}

// The number after "key": in a flat JSON object, or 0 (also for null).
int json_number(const std::string& json, const char* key, int index = 0) {
    std::size_t at = json.find(std::string("\"") + key + "\"");
    if (at == std::string::npos) return 0;
    at = json.find(':', at);
    if (at == std::string::npos) return 0;
    ++at;
    if (index > 0 || json.find_first_not_of(" ", at) == json.find('[', at)) {
        at = json.find('[', at) + 1;
        for (int i = 0; i < index; ++i) at = json.find(',', at) + 1;
    }
    return std::atoi(json.c_str() + at);
}

std::wstring scratch_folder() {
    static int counter = 0;
    wchar_t name[64];
    std::swprintf(name, 64, L"\\service-tests\\%lu-%d\\", GetCurrentProcessId(), counter++);
    std::wstring folder = std::wstring(QM_BINARY_DIR_W) + name;
    CreateDirectoryW((std::wstring(QM_BINARY_DIR_W) + L"\\service-tests").c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void remove_tree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(folder + name + L"\\");
            else
                DeleteFileW((folder + name).c_str());
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

std::string unix_path(const std::wstring& windows_path) {
    std::wstring p = windows_path;
    if (p.size() >= 2 && (p[0] == L'Z' || p[0] == L'z') && p[1] == L':') p = p.substr(2);
    for (wchar_t& ch : p)
        if (ch == L'\\') ch = L'/';
    return wide_to_utf8(p);
}

std::string read_file_bytes(const std::wstring& path) {
    std::string bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

bool write_file_bytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool plant_download(const std::wstring& folder, const std::string& link, const std::string& bytes, bool partial) {
    const std::wstring final_path = download_final_path(folder.c_str(), link.c_str());
    return write_file_bytes(partial ? final_path + download_partial_suffix : final_path, bytes) &&
           write_file_bytes(download_owner_path(final_path), link);
}

long http_get(const std::string& url, std::string* body) { return perform(url, nullptr, body); }
long http_post(const std::string& url, const std::string& data, std::string* body) {
    return perform(url, &data, body);
}

std::wstring reference_service::sample_packages() {
    return std::wstring(QM_BINARY_DIR_W) + L"\\update-service\\packages\\";
}

reference_service* reference_service::get() {
    if (!the_service) {
        auto service = std::make_unique<reference_service>();
        std::string error;
        if (!service->start(error)) {
            ADD_FAILURE() << "the reference update service did not start: " << error;
            return nullptr;
        }
        the_service = std::move(service);
    }
    return the_service.get();
}

bool reference_service::start(std::string& error) {
    folder_ = scratch_folder();
    extra_ = folder_ + L"extra\\";
    CreateDirectoryW(extra_.c_str(), nullptr);
    port_file_ = folder_ + L"ports.json";
    const std::wstring source = QM_SOURCE_DIR_W;
    const std::wstring data = std::wstring(QM_BINARY_DIR_W) + L"\\update-service\\";
    std::string args = quoted(unix_path(source + L"\\update-service\\service.py")) +
                       " --detach --ftp --idle-timeout 120 --time-limit 1200" +
                       " --catalogue " + quoted(unix_path(source + L"\\update-service\\sample-catalogue.xml")) +
                       " --packages " + quoted(unix_path(data + L"packages")) +
                       " --packages " + quoted(unix_path(extra_)) +
                       " --pages " + quoted(unix_path(data + L"pages")) +
                       " --tls-cert " + quoted(unix_path(data + L"tls\\cert.pem")) +
                       " --tls-key " + quoted(unix_path(data + L"tls\\key.pem")) +
                       " --log " + quoted(unix_path(folder_ + L"requests.jsonl")) +
                       " --port-file " + quoted(unix_path(port_file_));
    std::wstring command = L"\"" QM_PYTHON_W L"\" " + utf8_to_wide(args);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        error = "CreateProcessW failed: " + std::to_string(GetLastError());
        return false;
    }
    // Under Wine this is not the Linux process itself; it is of no further use.
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    std::string ports;
    for (int i = 0; i < 600 && ports.find('}') == std::string::npos; ++i) {
        Sleep(50);
        ports = read_file_bytes(port_file_);
    }
    if (ports.find('}') == std::string::npos) {
        error = "no port file within 30 s";
        return false;
    }
    control_port = json_number(ports, "control");
    for (int i = 0; i < 3; ++i) mirror_ports[i] = json_number(ports, "mirrors", i);
    https_port = json_number(ports, "https");
    ftp_port = json_number(ports, "ftp");

    // The lifeline: held open until this process ends.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(control_port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char hold[] = "GET /_control/hold HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        send(s, hold, sizeof(hold) - 1, 0) != static_cast<int>(sizeof(hold) - 1)) {
        if (s != INVALID_SOCKET) closesocket(s);
        http_post("http://127.0.0.1:" + std::to_string(control_port) + "/_control/shutdown", "");
        error = "no lifeline connection";
        return false;
    }
    lifeline_ = s;
    return true;
}

void reference_service::stop() {
    if (control_port)
        http_post("http://127.0.0.1:" + std::to_string(control_port) + "/_control/shutdown", "");
    if (lifeline_ != ~0ull) closesocket(static_cast<SOCKET>(lifeline_));
    lifeline_ = ~0ull;
    control_port = 0;
    // The service removes its port file when it has stopped.
    for (int i = 0; i < 200 && GetFileAttributesW(port_file_.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
    if (!folder_.empty()) remove_tree(folder_);
    folder_.clear();
}

reference_service::~reference_service() { stop(); }

std::string reference_service::mirror_url(int mirror) const {
    return "http://127.0.0.1:" + std::to_string(mirror_ports[mirror - 1]) + "/";
}
std::string reference_service::https_url() const {
    return "https://localhost:" + std::to_string(https_port) + "/";
}
std::string reference_service::ftp_url() const {
    return "ftp://127.0.0.1:" + std::to_string(ftp_port) + "/";
}

int reference_service::closed_port() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    closesocket(s);
    return port;
}

bool reference_service::set_faults(const std::string& json) {
    return http_post("http://127.0.0.1:" + std::to_string(control_port) + "/_control/faults", json) == 200;
}

bool reference_service::reset() {
    return http_post("http://127.0.0.1:" + std::to_string(control_port) + "/_control/reset", "") == 200;
}

std::vector<std::string> reference_service::log() {
    std::string body;
    http_get("http://127.0.0.1:" + std::to_string(control_port) + "/_control/log?lines", &body);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = body.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(body.substr(start, end - start));
    return lines;
}

std::string reference_service::log_json() {
    std::string body;
    http_get("http://127.0.0.1:" + std::to_string(control_port) + "/_control/log", &body);
    return body;
}

trusted_test_certificate::trusted_test_certificate() {
    std::string pem = read_file_bytes(std::wstring(QM_BINARY_DIR_W) + L"\\update-service\\tls\\cert.pem");
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                             CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return;
    der_.resize(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der_.data(), &size, nullptr, nullptr))
        return;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) return;
    ok_ = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der_.data(), size,
                                           CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    CertCloseStore(store, 0);
}

trusted_test_certificate::~trusted_test_certificate() {
    if (!ok_) return;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) return;
    std::vector<PCCERT_CONTEXT> doomed;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c)) != nullptr;)
        if (c->cbCertEncoded == der_.size() &&
            std::memcmp(c->pbCertEncoded, der_.data(), der_.size()) == 0)
            doomed.push_back(CertDuplicateCertificateContext(c));
    for (PCCERT_CONTEXT c : doomed) CertDeleteCertificateFromStore(c);  // frees c
    CertCloseStore(store, 0);
}
