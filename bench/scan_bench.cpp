// The scan pipeline against bare zlib, libcurl and TinyXML doing the same bytes.
//
//   bench_scan.exe [--runs N] [--stage-runs N]
//                  --case DEVICES PROFILE MIRROR_URL KEPT UPDATES [--case ...]
//
// For each case (a machine profile from bench/make_profile.py, and a mirror
// of the reference service that answers every scan with the prepared answer
// made for that profile):
//   ours      the scan as the program runs it: enumeration from the profile
//             (the profile device source; the file is read once beforehand,
//             as the program reads it once per process), then query_updates:
//             request build, compression, POST, parse and evaluation;
//   baseline  compress2 of the same request document, a bare libcurl POST of
//             it as the same one-part form, a bare TiXmlDocument::Parse of
//             the answer received.
// Runs alternate between the two (which goes first alternates too); the
// medians are reported. The first case's scan must keep KEPT devices and
// find UPDATES devices with an update, or the program fails.
//
// Rows: scan-DEVICES (time, target 1.3) for every case; scan-growth (ours per
// device at the last case over ours per device at the first, target 1.1)
// when there are two cases or more; and for the last case the stages one by
// one (info rows), from separate runs of the same functions, and what the
// scan's results hold in memory (an info row in MiB: the records, the
// offers, the answer buffer, and the working set after each stage).
#include <curl/curl.h>
#include <tinyxml.h>
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "devices/device_store.h"
#include "platform/machine_profile.h"
#include "platform/profile_device_source.h"
#include "service/http_client.h"
#include "service/scan_request.h"
#include "service/scan_response.h"
#include "service/update_client.h"

namespace {

struct scan_case {
    std::string label;  // the profile's device instances
    int devices = 0;
    std::wstring profile_path;
    std::string mirror;
    int kept = 0;
    int updates = 0;
};

[[noreturn]] void fail(const char* what, const std::string& label) {
    std::fprintf(stderr, "bench_scan: %s: %s\n", label.c_str(), what);
    std::exit(1);
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; *text; ++text) out += static_cast<char>(*text < 0x80 ? *text : '?');
    return out;
}

// The bare-library scan: one easy handle kept across runs, as a program
// doing one POST after another would.
struct bare_scan {
    CURL* easy = curl_easy_init();
    std::string answer;
    double compress_s = 0, post_s = 0, parse_s = 0;  // the stages of the last run

    ~bare_scan() { curl_easy_cleanup(easy); }

    static size_t write(char* data, size_t size, size_t items, void* user) {
        static_cast<std::string*>(user)->append(data, size * items);
        return size * items;
    }

    // Compress, post, parse; false when a step fails.
    bool run(const std::string& document, const std::string& mirror) {
        double at = bench::now_seconds();
        auto lap = [&at](double& into) {
            const double now = bench::now_seconds();
            into = now - at;
            at = now;
        };
        uLongf packed_size = compressBound(static_cast<uLong>(document.size()));
        std::vector<unsigned char> packed(packed_size);
        if (compress2(packed.data(), &packed_size, reinterpret_cast<const Bytef*>(document.data()),
                      static_cast<uLong>(document.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
            return false;
        lap(compress_s);

        curl_httppost* first = nullptr;
        curl_httppost* last = nullptr;
        curl_formadd(&first, &last, CURLFORM_COPYNAME, "tarnwick", CURLFORM_COPYCONTENTS,
                     reinterpret_cast<const char*>(packed.data()), CURLFORM_CONTENTSLENGTH,
                     static_cast<long>(packed_size), CURLFORM_END);
        answer.clear();
        curl_easy_setopt(easy, CURLOPT_URL, mirror.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPPOST, first);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, write);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
        const CURLcode code = curl_easy_perform(easy);
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_setopt(easy, CURLOPT_HTTPPOST, nullptr);
        curl_formfree(first);
        if (code != CURLE_OK || status != 200) return false;
        lap(post_s);

        bool parsed = false;
        {
            TiXmlDocument doc;
            doc.Parse(answer.c_str());
            parsed = !doc.Error() && doc.RootElement();
        }
        lap(parse_s);  // the document freed too, as the program's parse frees its own
        return parsed;
    }
};

// The program's side: the profile read once, the store, the update client.
struct our_scan {
    machine_profile profile;
    std::unique_ptr<profile_device_source> source;
    device_store* store = nullptr;
    update_client client;
    scan_query_params params;
    double profile_seconds = 0;

    our_scan(const scan_case& c) {
        const double start = bench::now_seconds();
        std::wstring error;
        if (!load_machine_profile(c.profile_path.c_str(), profile, &error))
            fail(("the profile cannot be read: " + narrow(error.c_str())).c_str(), c.label);
        profile_seconds = bench::now_seconds() - start;
        source = std::make_unique<profile_device_source>(&profile);
        store = create_device_store(*source);
        if (!store) fail("no device store", c.label);
        client.store = store;
        client.mirrors = {c.mirror, c.mirror, c.mirror};
        params.os_code_name = "WIN764";
        params.model = L"Bench Workstation";
        params.os_version = 61;
        params.language_code = 437;
    }
    ~our_scan() {
        destroy_http_client(client.http);
        release_device_store(store, *source);
    }

    bool enumerate() {
        scan_progress progress;
        reset_scan_progress(progress, false);
        return enumerate_devices(*store, progress, *source);
    }

    bool run() {
        params.http_status = 0;
        params.error_text[0] = '\0';
        return enumerate() && query_updates(client, params) == 0;
    }

    int updates() const {
        int n = 0;
        for (const device_record& d : store->devices) n += d.best_is_update || d.latest_is_update;
        return n;
    }
};

struct stage_times {
    std::vector<double> release, enumerate, build, compress, post, parse, evaluate;
    // The working set after each stage of the last run, in MiB.
    std::vector<std::pair<const char*, double>> working_set;
};

double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

double working_set_mib() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))
               ? mib(static_cast<double>(counters.WorkingSetSize))
               : 0;
}

// The pipeline step by step, each timed: what query_updates does, in its order.
void run_stages(our_scan& ours, stage_times& t, const std::string& label) {
    t.working_set.clear();
    double at = bench::now_seconds();
    auto lap = [&at, &t](std::vector<double>& into) {
        const double now = bench::now_seconds();
        into.push_back(now - at);
        const char* names[] = {"release", "enumerate", "build", "compress", "post", "parse", "evaluate"};
        t.working_set.emplace_back(names[t.working_set.size() % 7], working_set_mib());
        at = bench::now_seconds();  // the probe is not counted
    };
    clear_device_store(*ours.store);  // what the enumeration does first
    lap(t.release);
    if (!ours.enumerate()) fail("enumeration failed", label);
    lap(t.enumerate);
    current_query = &ours.params;
    const std::string document = build_scan_request(*ours.store, ours.params);
    lap(t.build);
    std::vector<unsigned char> packed;
    if (compress_request(document, packed) != 0) fail("compression failed", label);
    lap(t.compress);
    const http_result* answer = post_scan_request(ours.client, packed, ours.params);
    if (!answer) fail("the mirror did not answer", label);
    lap(t.post);
    if (!parse_scan_answer(answer->body.data(), answer->body.size(), *ours.store))
        fail("the answer did not parse", label);
    lap(t.parse);
    load_installed_set(ours.client, setup_dat_path().c_str());
    for (device_record& device : ours.store->devices) evaluate_device(ours.client, device, ours.params);
    lap(t.evaluate);
}

struct case_result {
    double ours = 0, baseline = 0;
};

// The bytes an offer's texts take beside the offer itself.
template <class C, std::size_t N>
std::size_t text_bytes(const bounded_text<C, N>& text) {
    return text.empty() ? 0 : (text.view().size() + 1) * sizeof(C);
}

// What the scan's results hold: the records (with their identifier lists)
// and the offers (with their texts), in bytes.
std::pair<double, double> result_bytes(const device_store& store) {
    double records = static_cast<double>(store.devices.capacity() * sizeof(device_record));
    double offers = 0;
    for (const device_record& d : store.devices) {
        records += static_cast<double>((d.hardware_ids.capacity() + d.compatible_ids.capacity()) * sizeof(wchar_t));
        offers += static_cast<double>(d.offers.capacity() * sizeof(driver_offer));
        for (const driver_offer& o : d.offers)
            offers += static_cast<double>(
                text_bytes(o.hardid) + text_bytes(o.title) + text_bytes(o.version) + text_bytes(o.guid) +
                text_bytes(o.link) + text_bytes(o.official_link) + text_bytes(o.inf_name) +
                text_bytes(o.manufacturer) + text_bytes(o.date) + text_bytes(o.description));
    }
    return {records, offers};
}

case_result measure(const scan_case& c, int runs, int stage_runs) {
    our_scan ours(c);
    bare_scan bare;

    // A first scan of each kind, not counted: connections, caches, the
    // answer buffer. It also checks that the scan finds what the profile holds.
    if (!ours.run()) fail("the scan failed", c.label);
    const int kept = device_count(*ours.store);
    const int updates = ours.updates();
    std::printf("%s: %d devices kept, %d with an update, answer %u bytes, profile read in %.3f s\n",
                c.label.c_str(), kept, updates, ours.client.http->result.filled, ours.profile_seconds);
    if (kept != c.kept || updates != c.updates) {
        std::fprintf(stderr, "bench_scan: %s: expected %d devices and %d updates\n", c.label.c_str(),
                     c.kept, c.updates);
        std::exit(1);
    }
    const std::string document = build_scan_request(*ours.store, ours.params);
    if (!bare.run(document, c.mirror)) fail("the bare scan failed", c.label);
    if (bare.answer.size() != ours.client.http->result.filled)
        fail("the bare scan received another answer", c.label);

    std::vector<double> ours_times, bare_times;
    for (int i = 0; i < runs; ++i) {
        for (int k = 0; k < 2; ++k) {
            const bool our_turn = (k == 0) == (i % 2 == 0);
            const double start = bench::now_seconds();
            if (our_turn ? !ours.run() : !bare.run(document, c.mirror)) fail("a run failed", c.label);
            (our_turn ? ours_times : bare_times).push_back(bench::now_seconds() - start);
        }
    }
    case_result result{bench::median(ours_times), bench::median(bare_times)};

    bench::row row;
    row.name = "scan-" + c.label;
    row.what = "scan of " + c.label + " devices (" + std::to_string(kept) +
               " kept): enumerate, build, compress, POST, parse, evaluate vs bare zlib+libcurl+TinyXML";
    row.ours = result.ours;
    row.baseline = result.baseline;
    row.unit = "s";
    row.kind = bench::compare::time;
    row.target = 1.3;
    row.detail = {{"runs", runs}, {"kept", kept}, {"updates", updates},
                  {"request_bytes", static_cast<double>(document.size())},
                  {"answer_bytes", static_cast<double>(bare.answer.size())},
                  {"profile_read_s", ours.profile_seconds}};
    bench::print_row(row);

    if (stage_runs > 0) {
        stage_times t;
        for (int i = 0; i < stage_runs; ++i) run_stages(ours, t, c.label);
        // The bare stages, for comparison beside ours.
        std::vector<double> b_compress, b_post, b_parse;
        for (int i = 0; i < stage_runs; ++i) {
            if (!bare.run(document, c.mirror)) fail("a bare run failed", c.label);
            b_compress.push_back(bare.compress_s);
            b_post.push_back(bare.post_s);
            b_parse.push_back(bare.parse_s);
        }
        struct stage {
            const char* name;
            const char* what;
            const std::vector<double>& ours;
            const std::vector<double>* bare;
        } stages[] = {
            {"release", "the previous scan's records and offers freed", t.release, nullptr},
            {"enumerate", "enumeration from the profile (file read beforehand)", t.enumerate, nullptr},
            {"build", "request document built and printed", t.build, nullptr},
            {"compress", "request compressed; compared with compress2", t.compress, &b_compress},
            {"post", "POST and answer received; compared with bare libcurl", t.post, &b_post},
            {"parse", "answer parsed into offers; compared with TiXmlDocument::Parse", t.parse, &b_parse},
            {"evaluate", "setup.dat read, best and latest offer of every device", t.evaluate, nullptr},
        };
        for (const stage& s : stages) {
            bench::row info;
            info.name = "scan-" + c.label + "-" + s.name;
            info.what = s.what;
            info.ours = bench::median(s.ours);
            info.baseline = s.bare ? bench::median(*s.bare) : 0;
            info.unit = "s";
            info.kind = bench::compare::info;
            info.detail = {{"runs", stage_runs}};
            bench::print_row(info);
        }
        // The records and offers of the last run, and the working set after
        // each of its stages (the records are freed by "release", so it
        // starts low).
        const auto [records, offers] = result_bytes(*ours.store);
        bench::row memory;
        memory.name = "scan-" + c.label + "-memory";
        memory.what = "results held after the scan: records and offers (working set after each stage in detail)";
        memory.ours = mib(records + offers);
        memory.unit = "MiB";
        memory.kind = bench::compare::info;
        memory.detail = {{"records_mib", mib(records)},
                         {"offers_mib", mib(offers)},
                         {"answer_buffer_mib", mib(ours.client.http->result.capacity)}};
        for (const auto& [stage, value] : t.working_set) memory.detail.emplace_back("ws_after_" + std::string(stage) + "_mib", value);
        bench::print_row(memory);
    }
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int runs = 7;
    int stage_runs = 5;
    std::vector<scan_case> cases;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--runs" && i + 1 < argc) {
            runs = std::max(1, _wtoi(argv[++i]));
        } else if (arg == L"--stage-runs" && i + 1 < argc) {
            stage_runs = std::max(0, _wtoi(argv[++i]));
        } else if (arg == L"--case" && i + 5 < argc) {
            scan_case c;
            c.label = narrow(argv[i + 1]);
            c.devices = std::max(1, _wtoi(argv[i + 1]));
            c.profile_path = argv[i + 2];
            c.mirror = narrow(argv[i + 3]);
            c.kept = _wtoi(argv[i + 4]);
            c.updates = _wtoi(argv[i + 5]);
            cases.push_back(c);
            i += 5;
        } else {
            std::fprintf(stderr,
                         "usage: bench_scan [--runs N] [--stage-runs N] "
                         "--case DEVICES PROFILE MIRROR_URL KEPT UPDATES [--case ...]\n");
            return 2;
        }
    }
    if (cases.empty()) return 2;
    curl_global_init(CURL_GLOBAL_ALL);

    std::vector<case_result> results;
    for (std::size_t i = 0; i < cases.size(); ++i)
        results.push_back(measure(cases[i], runs, i + 1 == cases.size() ? stage_runs : 0));

    if (cases.size() >= 2) {
        const case_result& small = results.front();
        const case_result& large = results.back();
        const double small_n = cases.front().devices, large_n = cases.back().devices;
        const double per_small = small.ours / small_n;
        const double per_large = large.ours / large_n;
        bench::row row;
        row.name = "scan-growth";
        row.what = "ours per device at " + cases.back().label + " over at " + cases.front().label +
                   " devices; 1.0 is linear, 1.1 leaves room for noise";
        row.ours = per_large / per_small;
        row.unit = "x";
        row.kind = bench::compare::absolute;
        row.target = 1.1;
        row.detail = {{"ours_per_device_small_ms", per_small * 1000},
                      {"ours_per_device_large_ms", per_large * 1000},
                      {"baseline_growth", (large.baseline / large_n) / (small.baseline / small_n)}};
        bench::print_row(row);
    }
    curl_global_cleanup();
    return 0;
}
