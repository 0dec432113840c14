// The window benchmarks' prober: watches Quillmark from outside, as another
// program on the desktop would.
//
//   probe startup --ours EXE --baseline EXE [--runs N]
//       Starts each program in turn (ours, baseline, ours, ...) and times it
//       from CreateProcess to its first painted frame; closes it between runs.
//   probe respond --stop-file F [--phase-file F] [--log F] [--interval-ms N]
//       Sends the main window a registered message every N ms (20) and times
//       each reply until F exists; prints the percentiles.
//   probe settings --download-path P --backup-path P | --forget
//       Writes the program's settings for a bench run (no close-to-tray
//       question), or removes them again.
//   probe wait-scan --after N [--timeout-s S]
//       Waits until the main window has started more than N scans and shows
//       their results; prints "scans M state S".
//   probe state
//       Prints "scans M state S" of the running program (-1 when none).
//   probe where window | row-check N | download-all | box-button [--timeout-s S]
//       Prints "x y": the main window's top left corner, or the screen point
//       a person clicks: the check box of the
//       download page's row N (from the top, 0 first), the "download all"
//       button, or the first button of a message box of the program (waited
//       for up to S seconds, 30).
//   probe close [--timeout-ms N]
//       Closes the running program's main window and waits for the process;
//       ends it when it does not go.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench_common.h"
#include "window_probe.h"

namespace {

// --- Arguments --------------------------------------------------------------------

struct arguments {
    std::map<std::wstring, std::wstring> values;
    bool has(const wchar_t* name) const { return values.count(name) != 0; }
    std::wstring text(const wchar_t* name, const std::wstring& fallback = L"") const {
        auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
    long number(const wchar_t* name, long fallback) const {
        auto it = values.find(name);
        if (it == values.end()) return fallback;
        wchar_t* end = nullptr;
        const long value = std::wcstol(it->second.c_str(), &end, 10);
        return end && *end == 0 ? value : fallback;
    }
};

// "--name value" pairs; "--flag" alone has an empty value.
arguments parse(int argc, wchar_t** argv, int first) {
    arguments a;
    for (int i = first; i < argc; ++i) {
        std::wstring name = argv[i];
        if (name.rfind(L"--", 0) != 0) continue;
        std::wstring value;
        if (i + 1 < argc && std::wstring(argv[i + 1]).rfind(L"--", 0) != 0) value = argv[++i];
        a.values[name.substr(2)] = value;
    }
    return a;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// --- Start-up ---------------------------------------------------------------------------

struct startup_times {
    std::vector<double> shown;    // to the window's first visible moment
    std::vector<double> painted;  // to its first painted frame
};

// One start of `program`: the seconds to its window shown and painted, or
// nullopt when it showed none within the time-out. The program is closed
// again (or ended) before this returns.
std::optional<std::pair<double, double>> start_once(const std::wstring& program) {
    std::wstring folder = program.substr(0, program.find_last_of(L"\\/") + 1);
    std::wstring command = L"\"" + program + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const double started = bench::now_seconds();
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", narrow(program).c_str(),
                     GetLastError());
        return std::nullopt;
    }
    CloseHandle(info.hThread);
    const first_frame frame = wait_for_first_frame(info.dwProcessId, info.hProcess, started, 30.0);
    if (frame.window) close_process_window(frame.window, info.hProcess, 30000);
    else TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 30000);
    CloseHandle(info.hProcess);
    if (!frame.window || frame.painted <= 0) return std::nullopt;
    return std::make_pair(frame.shown, frame.painted);
}

int run_startup(const arguments& a) {
    const std::wstring ours = a.text(L"ours"), baseline = a.text(L"baseline");
    const int runs = static_cast<int>(std::clamp(a.number(L"runs", 7), 1L, 50L));
    if (ours.empty() || baseline.empty()) {
        std::fprintf(stderr, "startup needs --ours and --baseline\n");
        return 2;
    }
    startup_times ours_times, baseline_times;
    // One start of each first, not counted: it loads the files into the cache.
    for (int i = -1; i < runs; ++i) {
        for (int which = 0; which < 2; ++which) {
            const std::wstring& program = which == 0 ? ours : baseline;
            auto t = start_once(program);
            // Under a busy Wine a start now and then fails outright (error
            // 1359); one more try tells that from a program that cannot start.
            if (!t) {
                Sleep(500);
                t = start_once(program);
            }
            if (!t) {
                std::fprintf(stderr, "%s showed no painted window\n", narrow(program).c_str());
                return 1;
            }
            std::printf("run %d %s: shown %.3f s, painted %.3f s\n", i,
                        which == 0 ? "quillmark" : "minimal", t->first, t->second);
            std::fflush(stdout);
            if (i < 0) continue;
            startup_times& into = which == 0 ? ours_times : baseline_times;
            into.shown.push_back(t->first);
            into.painted.push_back(t->second);
            Sleep(200);  // the closed program's last messages settle
        }
    }
    auto row_of = [](const char* name, const char* what, const std::vector<double>& ours,
                     const std::vector<double>& baseline) {
        bench::row r;
        r.name = name;
        r.what = what;
        r.ours = bench::median(ours);
        r.baseline = bench::median(baseline);
        r.unit = "s";
        r.detail = {{"runs", static_cast<double>(ours.size())},
                    {"ours_min", *std::min_element(ours.begin(), ours.end())},
                    {"ours_max", *std::max_element(ours.begin(), ours.end())},
                    {"baseline_min", *std::min_element(baseline.begin(), baseline.end())},
                    {"baseline_max", *std::max_element(baseline.begin(), baseline.end())}};
        return r;
    };
    bench::row painted = row_of(
        "startup", "start to the first painted frame: quillmark.exe vs a minimal Win32 window",
        ours_times.painted, baseline_times.painted);
    painted.kind = bench::compare::time;
    painted.target = 1.5;
    bench::print_row(painted);
    bench::print_row(row_of("startup-shown", "start to the window first visible (before its paint)",
                            ours_times.shown, baseline_times.shown));
    return 0;
}

// --- Responsiveness ----------------------------------------------------------------------

bool file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The first line of a small text file, or "" when there is none.
std::string first_line(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                              FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    char buffer[64] = {};
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr);
    CloseHandle(file);
    std::string line(buffer, read);
    const std::size_t end = line.find_first_of("\r\n");
    return end == std::string::npos ? line : line.substr(0, end);
}

void print_latency_row(const std::string& name, const std::string& what, double value,
                       bench::compare kind, double target, const std::vector<double>& all) {
    bench::row r;
    r.name = name;
    r.what = what;
    r.ours = value;
    r.unit = "ms";
    r.kind = kind;
    r.target = target;
    r.detail = {{"probes", static_cast<double>(all.size())},
                {"median_ms", bench::median(all)},
                {"p99_ms", bench::percentile(all, 99)},
                {"max_ms", all.empty() ? 0 : *std::max_element(all.begin(), all.end())}};
    bench::print_row(r);
}

int run_respond(const arguments& a) {
    const std::wstring stop_file = a.text(L"stop-file"), phase_file = a.text(L"phase-file");
    const std::wstring log_path = a.text(L"log");
    const double interval = std::clamp(a.number(L"interval-ms", 20), 1L, 1000L) / 1000.0;
    const double limit = std::clamp(a.number(L"limit-s", 600), 1L, 3600L);
    const DWORD reply_timeout_ms = 10000;
    if (stop_file.empty()) {
        std::fprintf(stderr, "respond needs --stop-file\n");
        return 2;
    }
    HWND window = find_main_window();
    if (!window) {
        std::fprintf(stderr, "no Quillmark main window\n");
        return 1;
    }
    const UINT message = RegisterWindowMessageW(L"QuillmarkBench.Probe");
    FILE* log = log_path.empty() ? nullptr : _wfopen(log_path.c_str(), L"w");

    std::vector<double> all;
    std::map<std::string, std::vector<double>> by_phase;
    std::vector<std::string> phase_order;
    const double start = bench::now_seconds();
    double next = start;
    int lost = 0;
    while (!file_exists(stop_file) && bench::now_seconds() - start < limit) {
        const std::string phase = phase_file.empty() ? "run" : first_line(phase_file);
        DWORD_PTR reply = 0;
        const double sent = bench::now_seconds();
        const LRESULT answered = SendMessageTimeoutW(window, message, 0, 0, SMTO_NORMAL,
                                                     reply_timeout_ms, &reply);
        const double ms = (bench::now_seconds() - sent) * 1000.0;
        if (!answered && !IsWindow(window)) break;  // the program has gone
        if (!answered) ++lost;
        all.push_back(ms);
        if (!by_phase.count(phase)) phase_order.push_back(phase);
        by_phase[phase].push_back(ms);
        if (log) std::fprintf(log, "%.3f %.3f %s\n", sent - start, ms, phase.c_str());
        // The next probe at the next free slot of the interval.
        next += interval;
        const double now = bench::now_seconds();
        if (next < now) next = now + interval - std::fmod(now - next, interval);
        const double wait = next - bench::now_seconds();
        if (wait > 0) Sleep(static_cast<DWORD>(wait * 1000.0 + 0.5));
    }
    if (log) std::fclose(log);
    if (all.empty()) {
        std::fprintf(stderr, "no probe was answered\n");
        return 1;
    }
    if (lost) std::fprintf(stderr, "%d probes had no reply within %lu ms\n", lost, reply_timeout_ms);
    print_latency_row("responsiveness-p99",
                      "UI thread's reply to a sent message during scan, downloads, backup: p99",
                      bench::percentile(all, 99), bench::compare::absolute, 50, all);
    print_latency_row("responsiveness-max", "the same: the slowest reply",
                      *std::max_element(all.begin(), all.end()), bench::compare::absolute, 200,
                      all);
    for (const std::string& phase : phase_order) {
        const std::vector<double>& values = by_phase[phase];
        print_latency_row("respond-" + phase, "reply p99 while: " + phase,
                          bench::percentile(values, 99), bench::compare::info, 0, values);
    }
    return 0;
}

// --- Settings, scans, closing -------------------------------------------------------

constexpr const wchar_t* SETTINGS_KEY = L"SOFTWARE\\Vantorel";

int run_settings(const arguments& a) {
    RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);
    if (a.has(L"forget")) return 0;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 1;
    const DWORD no = 0;
    // Closing quits instead of asking about the tray.
    RegSetValueExW(key, L"close_to_tray", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&no),
                   sizeof(no));
    const std::pair<const wchar_t*, const wchar_t*> paths[] = {
        {L"download_path", L"download-path"}, {L"backup_path", L"backup-path"}};
    for (const auto& [name, argument] : paths) {
        const std::wstring value = a.text(argument);
        if (value.empty()) continue;
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    return 0;
}

void print_state(const scan_state& s) {
    std::printf("scans %d state %d\n", s.scans, s.state);
    std::fflush(stdout);
}

int run_wait_scan(const arguments& a) {
    const int after = static_cast<int>(a.number(L"after", 0));
    const double timeout = std::clamp(a.number(L"timeout-s", 120), 1L, 3600L);
    const double start = bench::now_seconds();
    scan_state s;
    while (bench::now_seconds() - start < timeout) {
        s = query_scan_state(find_main_window());
        if (s.scans > after && s.state == 3) {
            print_state(s);
            return 0;
        }
        Sleep(50);
    }
    print_state(s);
    return 1;
}

int run_close(const arguments& a) {
    HWND window = find_main_window();
    if (!window) return 0;
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, process_id);
    if (!process) return 1;
    const bool clean = close_process_window(
        window, process, static_cast<DWORD>(std::clamp(a.number(L"timeout-ms", 10000), 0L, 60000L)));
    if (!clean) TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    std::printf("%s\n", clean ? "closed" : "ended");
    return clean ? 0 : 1;
}

int run_where(int argc, wchar_t** argv, const arguments& a) {
    const std::wstring what = argc > 2 ? argv[2] : L"";
    HWND main = find_main_window();
    std::optional<POINT> at;
    if (what == L"window") {
        RECT r{};
        if (main && GetWindowRect(main, &r)) at = POINT{r.left, r.top};
    } else if (what == L"row-check" && argc > 3) {
        at = row_check_box_point(main, static_cast<std::size_t>(std::wcstol(argv[3], nullptr, 10)));
    } else if (what == L"download-all") {
        at = download_all_button_point(main);
    } else if (what == L"box-button") {
        const double timeout = std::clamp(a.number(L"timeout-s", 30), 1L, 600L);
        const double start = bench::now_seconds();
        while (!at && bench::now_seconds() - start < timeout) {
            at = message_box_button_point(main);
            if (!at) Sleep(50);
        }
    }
    if (!at) {
        std::fprintf(stderr, "nothing to click for %s\n", narrow(what).c_str());
        return 1;
    }
    std::printf("%ld %ld\n", at->x, at->y);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: probe startup|respond|settings|wait-scan|state|where|close ...\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    const arguments a = parse(argc, argv, 2);
    if (mode == L"startup") return run_startup(a);
    if (mode == L"respond") return run_respond(a);
    if (mode == L"settings") return run_settings(a);
    if (mode == L"wait-scan") return run_wait_scan(a);
    if (mode == L"state") {
        print_state(query_scan_state(find_main_window()));
        return 0;
    }
    if (mode == L"close") return run_close(a);
    if (mode == L"where") return run_where(argc, argv, a);
    std::fprintf(stderr, "unknown mode\n");
    return 2;
}
