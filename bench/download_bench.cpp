// Download throughput: a package fetched from a loopback server by the
// download session's worker (the path a download-page row uses), fresh and
// resumed from half, against a bare libcurl loop that writes the same bytes
// to a file. The loop uses the same buffers as the product: its libcurl
// receive buffer and the C runtime's default stream buffer. Runs alternate
// between ours and the baseline, and every download by the session is
// checked byte for byte by its MD5. A loop that only receives (no file)
// shows what the socket path under Wine allows at all.
//
//   download_bench URL FOLDER SIZE MD5 HALF_FILE RUNS SECONDS
//
// URL serves the package of SIZE bytes with the digest MD5 (32 hex digits);
// FOLDER (Windows path) holds the downloads; HALF_FILE holds the package's
// first half, the temporary file a paused session leaves. At most RUNS
// rounds are made, and no round that would end after SECONDS (at least 3).

// libcurl's header (through the session's) brings winsock2.h, which must
// come before windows.h.
#include "downloads/download_session.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "bench_common.h"
#include "downloads/md5.h"
#include "platform/text.h"

namespace {

constexpr double mebibyte = 1024.0 * 1024.0;

void no_pause(uint32_t) {}

// The MD5 of a file as 32 hex digits; empty when it cannot be read.
std::string file_md5(const std::wstring& path) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return {};
    std::vector<char> buffer(1 << 20);
    md5_state state;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) md5_update(state, buffer.data(), n);
    std::fclose(file);
    unsigned char digest[16];
    md5_finish(state, digest);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

// The bare loop: every block libcurl hands over goes to fwrite, followed by
// fflush as the product does when asked, or is dropped.
enum class sink_kind { drop, file, file_flushed };

struct bare_sink {
    FILE* file = nullptr;  // null: the bytes are dropped
    bool flush_each = false;
    uint64_t writes = 0;
};

size_t bare_write(char* data, size_t size, size_t items, void* user) {
    auto* sink = static_cast<bare_sink*>(user);
    const size_t n = size * items;
    ++sink->writes;
    if (!sink->file) return n;
    if (std::fwrite(data, 1, n, sink->file) != n) return 0;
    if (sink->flush_each && std::fflush(sink->file) != 0) return 0;
    return n;
}

// Downloads url into path (from `from` on with a Range when it is not 0, the
// file opened at its end as the product does); the seconds taken, or a
// negative value on failure.
double bare_download(const std::string& url, sink_kind kind, const std::wstring& path = {},
                     uint32_t from = 0, uint64_t* writes = nullptr) {
    const double start = bench::now_seconds();
    CURL* easy = curl_easy_init();
    bare_sink sink;
    sink.flush_each = kind == sink_kind::file_flushed;
    if (kind != sink_kind::drop) sink.file = _wfopen(path.c_str(), from ? L"r+b" : L"wb");
    if (!easy || (kind != sink_kind::drop && (!sink.file || std::fseek(sink.file, 0, SEEK_END) != 0))) {
        if (easy) curl_easy_cleanup(easy);
        if (sink.file) std::fclose(sink.file);
        return -1;
    }
    char range[24] = {};
    if (from) std::snprintf(range, sizeof range, "%u-", static_cast<unsigned>(from));
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, download_receive_buffer_size);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, bare_write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    if (from) curl_easy_setopt(easy, CURLOPT_RANGE, range);
    const CURLcode code = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    const bool closed = !sink.file || std::fclose(sink.file) == 0;
    const double seconds = bench::now_seconds() - start;
    if (writes) *writes = sink.writes;
    return code == CURLE_OK && closed ? seconds : -1;
}

// The file side alone, without the network: `size` bytes in the blocks
// libcurl hands over (at most CURL_MAX_WRITE_SIZE, the first one shorter as
// when the headers' packet brought part of the body), each flushed or not.
double write_loop(const std::wstring& path, uint32_t size, bool flush_each) {
    static const std::vector<char> block(CURL_MAX_WRITE_SIZE, 'q');
    const double start = bench::now_seconds();
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return -1;
    bool ok = true;
    for (uint32_t left = size, n = 1000; ok && left > 0; left -= n, n = CURL_MAX_WRITE_SIZE) {
        n = std::min(n, left);
        ok = std::fwrite(block.data(), 1, n, file) == n && (!flush_each || std::fflush(file) == 0);
    }
    ok = std::fclose(file) == 0 && ok;
    return ok ? bench::now_seconds() - start : -1;
}

// One download by a session, as a row starts and polls it: from the
// session's construction (which reads what lies on disk) to the poll that
// sees the worker end and renames the file. Negative on failure.
double session_download(const std::string& link, uint32_t size) {
    const double start = bench::now_seconds();
    download_session_c session(link.c_str(), size);
    if (!session.start()) return -1;
    while (!session.poll()) Sleep(1);
    const double seconds = bench::now_seconds() - start;
    return session.state() == DOWNLOAD_COMPLETE ? seconds : -1;
}

struct series {
    std::vector<double> seconds;
    double mib_per_s(uint64_t bytes) const { return bytes / mebibyte / bench::median(seconds); }
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "download_bench: %s\n", what);
    std::fflush(stderr);
    std::exit(1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 8) fail("usage: download_bench URL FOLDER SIZE MD5 HALF_FILE RUNS SECONDS");
    const std::string url = wide_to_utf8(argv[1]);
    std::wstring folder = argv[2];
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    const uint32_t size = static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 10));
    const std::string md5 = wide_to_utf8(argv[4]);
    const std::wstring half_file = argv[5];
    const int most_runs = std::max(1, _wtoi(argv[6]));
    const double budget = _wtof(argv[7]);

    WIN32_FILE_ATTRIBUTE_DATA half_info{};
    if (!GetFileAttributesExW(half_file.c_str(), GetFileExInfoStandard, &half_info) || half_info.nFileSizeHigh)
        fail("the half file cannot be read");
    const uint32_t half = half_info.nFileSizeLow;
    if (size == 0 || half == 0 || half >= size || md5.size() != 32) fail("bad arguments");

    curl_global_init(CURL_GLOBAL_ALL);
    set_retry_pause(no_pause);  // a failed attempt shows at once, not after 5 s
    const std::wstring session_folder = folder + L"session";
    CreateDirectoryW(session_folder.c_str(), nullptr);
    copy_text(current_settings.session_download_path, session_folder);
    const std::wstring final_path = download_final_path(current_settings.session_download_path, url.c_str());
    const std::wstring temporary_path = final_path + L".tmp";
    const std::wstring bare_path = folder + L"bare.bin";

    series ours_fresh, bare_fresh, bare_flushed, ours_resume, bare_resume, received, written, written_flushed;
    uint64_t bare_writes = 0;
    auto check = [&](double seconds, const std::wstring& path, const std::string& what) {
        if (seconds < 0) fail((what + ": the download failed").c_str());
        if (file_md5(path) != md5) fail((what + ": the downloaded bytes differ").c_str());
    };
    // Writes a file's data to disk outside the timed runs: otherwise the
    // system's write-back of one run's 256 MiB falls into the next run and
    // decides which side looks slower.
    auto settle = [](const std::wstring& path) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        FlushFileBuffers(file);
        CloseHandle(file);
    };
    // The session's downloads are all checked; the bare loop's in the first round.
    auto ours = [&](bool resumed) {
        DeleteFileW(final_path.c_str());
        DeleteFileW(temporary_path.c_str());
        if (resumed && !CopyFileW(half_file.c_str(), temporary_path.c_str(), FALSE))
            fail("cannot place the half file");
        if (resumed) settle(temporary_path);
        const double s = session_download(url, size);
        settle(final_path);
        check(s, final_path, resumed ? "session, resumed" : "session, fresh");
        (resumed ? ours_resume : ours_fresh).seconds.push_back(s);
    };
    auto bare = [&](int round, sink_kind kind, bool resumed) {
        DeleteFileW(bare_path.c_str());
        if (resumed && !CopyFileW(half_file.c_str(), bare_path.c_str(), FALSE)) fail("cannot place the half file");
        if (resumed) settle(bare_path);
        const double s = bare_download(url, kind, bare_path, resumed ? half : 0,
                                       kind == sink_kind::file && !resumed ? &bare_writes : nullptr);
        settle(bare_path);
        if (s < 0) fail("bare loop");
        if (round == 0) check(s, bare_path, "bare loop");
        (resumed ? bare_resume : kind == sink_kind::file ? bare_fresh : bare_flushed).seconds.push_back(s);
    };
    auto receive = [&] {
        const double s = bare_download(url, sink_kind::drop);
        if (s < 0) fail("bare loop without a file");
        received.seconds.push_back(s);
    };
    auto write_only = [&](bool flush_each) {
        DeleteFileW(bare_path.c_str());
        const double s = write_loop(bare_path, size, flush_each);
        settle(bare_path);
        if (s < 0) fail("write loop");
        (flush_each ? written_flushed : written).seconds.push_back(s);
    };

    // Each round alternates which side goes first, so that a drift of the
    // machine's load favours neither.
    const double started = bench::now_seconds();
    int runs = 0;
    for (int round = 0; round < most_runs; ++round) {
        const double elapsed = bench::now_seconds() - started;
        if (round >= 3 && elapsed + elapsed / round > budget) break;
        runs = round + 1;
        std::vector<std::function<void()>> steps = {
            [&] { ours(false); },
            [&] { bare(round, sink_kind::file, false); },
            [&] { bare(round, sink_kind::file_flushed, false); },
            receive,
            [&] { write_only(false); },
            [&] { write_only(true); },
            [&] { ours(true); },
            [&] { bare(round, sink_kind::file, true); },
        };
        if (round % 2) std::reverse(steps.begin(), steps.end());
        for (auto& step : steps) step();
        std::printf("round %d: fresh %.3f s (bare %.3f, flushed %.3f, no file %.3f), resume %.3f s (bare %.3f),"
                    " writes alone %.3f s (flushed %.3f)\n",
                    round, ours_fresh.seconds.back(), bare_fresh.seconds.back(), bare_flushed.seconds.back(),
                    received.seconds.back(), ours_resume.seconds.back(), bare_resume.seconds.back(),
                    written.seconds.back(), written_flushed.seconds.back());
        std::fflush(stdout);
    }
    DeleteFileW(final_path.c_str());
    DeleteFileW(bare_path.c_str());
    RemoveDirectoryW(session_folder.c_str());

    const uint64_t rest = size - half;
    bench::row fresh;
    fresh.name = "download-fresh";
    fresh.what = std::to_string(size >> 20) + " MiB package by the download session vs a bare libcurl loop to a file";
    fresh.ours = ours_fresh.mib_per_s(size);
    fresh.baseline = bare_fresh.mib_per_s(size);
    fresh.unit = "MiB/s";
    fresh.kind = bench::compare::throughput;
    fresh.target = 0.9;
    fresh.detail = {{"runs", runs},
                    {"ours_median_s", bench::median(ours_fresh.seconds)},
                    {"baseline_median_s", bench::median(bare_fresh.seconds)},
                    {"baseline_writes", static_cast<double>(bare_writes)}};
    bench::print_row(fresh);

    bench::row resume = fresh;
    resume.name = "download-resume";
    resume.what = "the second half after a pause (Range from the temporary file's size)";
    resume.ours = ours_resume.mib_per_s(rest);
    resume.baseline = bare_resume.mib_per_s(rest);
    resume.detail = {{"runs", runs},
                     {"ours_median_s", bench::median(ours_resume.seconds)},
                     {"baseline_median_s", bench::median(bare_resume.seconds)}};
    bench::print_row(resume);

    const double flushed = bare_flushed.mib_per_s(size);
    const double unflushed = bare_fresh.mib_per_s(size);
    bench::row flush;
    flush.name = "download-flush-cost";
    char what[160];
    auto cost = [](const series& with, const series& without) {
        return (bench::median(with.seconds) / bench::median(without.seconds) - 1) * 100;
    };
    const double file_cost = cost(written_flushed, written);
    std::snprintf(what, sizeof what,
                  "fflush after every write, bare loop: %.0f vs %.0f MiB/s without; file writes alone: %+.0f %%",
                  flushed, unflushed, file_cost);
    flush.what = what;
    flush.ours = cost(bare_flushed, bare_fresh);
    flush.unit = "%";
    flush.detail = {{"flushed_mib_s", flushed},
                    {"unflushed_mib_s", unflushed},
                    {"file_only_cost_pct", file_cost},
                    {"file_only_flushed_mib_s", written_flushed.mib_per_s(size)},
                    {"file_only_unflushed_mib_s", written.mib_per_s(size)}};
    bench::print_row(flush);

    bench::row socket;
    socket.name = "download-receive-only";
    socket.what = "bare libcurl loop under Wine that drops the bytes: the socket path alone";
    socket.ours = received.mib_per_s(size);
    socket.unit = "MiB/s";
    bench::print_row(socket);
    curl_global_cleanup();
    return 0;
}
