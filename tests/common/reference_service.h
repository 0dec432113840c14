// The reference update service, started by a test under Wine as a Linux
// program on 127.0.0.1 and stopped again when the test program ends: by an
// explicit shutdown, and in any case when this process's lifeline connection
// closes (the service also stops itself when idle).
#pragma once

#include <string>
#include <vector>

class reference_service {
public:
    // The one service of this test program, started on first use. Fails the
    // calling test (and returns null) when it cannot be started.
    static reference_service* get();

    int control_port = 0;
    int mirror_ports[3] = {};
    int https_port = 0;
    int ftp_port = 0;

    // "http://127.0.0.1:PORT/" of mirror 1..3; "https://localhost:PORT/".
    std::string mirror_url(int mirror) const;
    std::string https_url() const;
    std::string ftp_url() const;
    // A port on which nothing listens.
    static int closed_port();

    // A JSON object of faults by server tag, e.g. {"1": {"status": 500}}.
    bool set_faults(const std::string& json);
    // Clears faults and the request log, and brings every mirror up.
    bool reset();
    // The request log: "MIRROR METHOD PATH range=RANGE" per request.
    std::vector<std::string> log();
    // The same as the service's JSON array, with each request's headers.
    std::string log_json();

    // A folder (Windows path, ending in a backslash) whose files the service
    // also serves under /packages/.
    const std::wstring& extra_packages() const { return extra_; }
    // The sample packages and pages, made at build time.
    static std::wstring sample_packages();

    void stop();
    ~reference_service();

private:
    bool start(std::string& error);
    std::wstring folder_;  // scratch folder of this process
    std::wstring extra_;
    std::wstring port_file_;
    unsigned long long lifeline_ = ~0ull;
};

// Plain HTTP helpers for the tests (libcurl, nothing of the client under test).
// The status, and the body in *body when given; 0 when no answer came.
long http_get(const std::string& url, std::string* body = nullptr);
long http_post(const std::string& url, const std::string& data, std::string* body = nullptr);

// Trusts the service's test certificate in the current user's root store
// while it lives.
class trusted_test_certificate {
public:
    trusted_test_certificate();
    ~trusted_test_certificate();
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    std::vector<unsigned char> der_;
};

// Unix path of a Windows path on the Z: drive ("Z:\a\b" -> "/a/b").
std::string unix_path(const std::wstring& windows_path);
std::string read_file_bytes(const std::wstring& path);
bool write_file_bytes(const std::wstring& path, const std::string& bytes);
// Leaves `bytes` in the download folder `folder` as an earlier run of `link`
// would have: its finished package, or its partial file, with the owner file.
bool plant_download(const std::wstring& folder, const std::string& link, const std::string& bytes,
                    bool partial = false);
