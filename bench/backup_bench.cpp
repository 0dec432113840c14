// Backup and restore of one large driver package, ours against bare minizip.
//
//   backup_bench.exe backup|restore|backup-small|restore-small PACKAGE WORK [RUNS [SECONDS]]
//
// backup: the product's write_archive of the package folder against a bare
// minizip loop over the same files with the same settings, interleaved, RUNS
// pairs at most (5), fewer (at least 3) once SECONDS have passed. The two
// archives must list the same entries with the same data, times and sizes.
// restore: the product's zip reader unpacking the product's archive into an
// empty folder against a bare minizip unzip loop, the same way; the
// product's unpacked folder must equal the package folder byte for byte and
// date for date, the baseline's must hold the same files.
// The -small modes do the same for a package of small files only and print
// their rows for information: there the cost of each file decides.
//
// Figures are MiB of package (uncompressed) bytes per second. Each timed run
// is a process of its own (this program with "once"), so that neither side
// inherits the heap the other one grew: with small files, whichever ran
// second in one process was up to a third faster for that alone.

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "backup/store_index.h"
#include "backup_baseline.h"
#include "bench_common.h"
#include "install/zip_reader.h"

namespace {

using namespace backup_bench;

constexpr double mib = 1024.0 * 1024.0;

struct package_facts {
    std::size_t files = 0;
    uint64_t bytes = 0;
};

package_facts facts_of(const std::wstring& folder) {
    package_facts facts;
    for (const file_info& file : list_files(folder)) {
        ++facts.files;
        facts.bytes += file.size;
    }
    return facts;
}

// Wall-clock seconds, and the seconds of processor time the thread used:
// others' work on the same cores lengthens the first, hardly the second.
struct timings {
    std::vector<double> ours, baseline;
    std::vector<double> ours_cpu, baseline_cpu;
};

double thread_cpu_seconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](FILETIME t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// One timed run in this process: writes "wall-clock processor" seconds to
// `result` and returns 0, or 1 when the work failed.
int run_once(const std::function<bool()>& work, const std::wstring& result) {
    const double cpu_start = thread_cpu_seconds();
    const double start = bench::now_seconds();
    const bool ok = work();
    const double took = bench::now_seconds() - start;
    const double cpu = thread_cpu_seconds() - cpu_start;
    FILE* out = ok ? _wfopen(result.c_str(), L"w") : nullptr;
    if (!out) return 1;
    std::fprintf(out, "%.6f %.6f\n", took, cpu);
    return std::fclose(out) == 0 ? 0 : 1;
}

// Runs this program with `arguments` ("once ...") and reads what its run
// wrote to `result`. False when it failed.
bool run_child(const std::wstring& arguments, const std::wstring& result, double& took, double& cpu) {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    DeleteFileW(result.c_str());
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (code != 0) std::printf("the run ended with exit code %lu\n", static_cast<unsigned long>(code));
    FILE* in = code == 0 ? _wfopen(result.c_str(), L"r") : nullptr;
    if (!in) return false;
    const bool read = std::fscanf(in, "%lf %lf", &took, &cpu) == 2;
    std::fclose(in);
    return read;
}

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Runs ours, baseline, ours, baseline ... each in a process of its own, with
// `prepare(side)` (untimed) before each, side 0 for ours and 1 for the
// baseline; `arguments(side)` are the child's arguments after "once". False
// as soon as one side fails.
bool interleave(int runs, double budget, const std::wstring& work, const std::function<void(int)>& prepare,
                const std::function<std::wstring(int)>& arguments, timings& out) {
    const std::wstring result = work + L"\\run.txt";
    const double started = bench::now_seconds();
    for (int i = 0; i < runs; ++i) {
        if (i >= 3 && bench::now_seconds() - started > budget) break;
        for (int side = 0; side < 2; ++side) {
            prepare(side);
            double took = 0, cpu = 0;
            const bool ok = run_child(L"once " + arguments(side) + L" " + quoted(result), result, took, cpu);
            std::printf("run %d %s: %.3f s (processor %.3f s)%s\n", i + 1, side == 0 ? "ours" : "baseline", took,
                        cpu, ok ? "" : " FAILED");
            std::fflush(stdout);
            if (!ok) return false;
            (side == 0 ? out.ours : out.baseline).push_back(took);
            (side == 0 ? out.ours_cpu : out.baseline_cpu).push_back(cpu);
        }
    }
    return true;
}

bench::row throughput_row(const std::string& name, const std::string& what, const package_facts& facts,
                          const timings& t) {
    bench::row r;
    r.name = name;
    r.what = what;
    const double ours_s = bench::median(t.ours), baseline_s = bench::median(t.baseline);
    r.ours = facts.bytes / mib / ours_s;
    r.baseline = facts.bytes / mib / baseline_s;
    r.unit = "MiB/s";
    const bool judged = name.find("-small") == std::string::npos;
    r.kind = judged ? bench::compare::throughput : bench::compare::info;
    r.target = judged ? 0.9 : 0;
    r.detail = {{"files", static_cast<double>(facts.files)},
                {"package_mib", facts.bytes / mib},
                {"runs", static_cast<double>(t.ours.size())},
                {"ours_s", ours_s},
                {"baseline_s", baseline_s},
                {"ours_cpu_s", bench::median(t.ours_cpu)},
                {"baseline_cpu_s", bench::median(t.baseline_cpu)}};
    return r;
}

std::string describe(const package_facts& facts) {
    return std::to_string(static_cast<long long>(facts.bytes / mib + 0.5)) + " MiB, " +
           std::to_string(facts.files) + " files";
}

bool write_ours(const std::wstring& package, const std::wstring& archive) {
    std::atomic<int32_t> progress{0};
    return write_archive(package, archive, progress) == 0 && progress == 100;
}

// The first difference between two archive directories, or empty.
std::string compare_directories(const std::vector<entry>& a, const std::vector<entry>& b) {
    if (a.size() != b.size())
        return std::to_string(a.size()) + " entries against " + std::to_string(b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name) return "entry " + a[i].name + " against " + b[i].name;
        if (a[i].crc != b[i].crc || a[i].size != b[i].size || a[i].dos_date != b[i].dos_date ||
            a[i].method != b[i].method || a[i].compressed != b[i].compressed)
            return "entry " + a[i].name + " differs";
    }
    return {};
}

int run_backup(const std::string& name, const std::wstring& package, const std::wstring& work, int runs,
               double budget) {
    const package_facts facts = facts_of(package);
    const std::wstring ours_zip = work + L"\\ours.zip", baseline_zip = work + L"\\baseline.zip";
    timings t;
    auto prepare = [&](int side) { DeleteFileW((side == 0 ? ours_zip : baseline_zip).c_str()); };
    auto arguments = [&](int side) {
        return std::wstring(side == 0 ? L"backup-ours " : L"backup-baseline ") + quoted(package) + L" " +
               quoted(side == 0 ? ours_zip : baseline_zip);
    };
    if (!interleave(runs, budget, work, prepare, arguments, t)) return 1;
    // The last pair's archives are still there; the product's one stays for
    // the restore benchmark.
    std::vector<entry> ours_entries, baseline_entries;
    if (!read_directory(ours_zip, ours_entries) || !read_directory(baseline_zip, baseline_entries)) {
        std::printf("an archive cannot be read back\n");
        return 1;
    }
    std::string difference = compare_directories(ours_entries, baseline_entries);
    if (ours_entries.size() != facts.files) difference = "the archive does not hold every file";
    if (!difference.empty()) {
        std::printf("the archives differ: %s\n", difference.c_str());
        return 1;
    }
    uint64_t compressed = 0;
    for (const entry& e : ours_entries) compressed += e.compressed;
    bench::row r = throughput_row(name, "backup of a package folder into a zip (" + describe(facts) + ")", facts, t);
    r.detail.push_back({"archive_mib", compressed / mib});
    bench::print_row(r);
    return 0;
}

int run_restore(const std::string& name, const std::wstring& package, const std::wstring& work, int runs,
                double budget) {
    const package_facts facts = facts_of(package);
    const std::wstring archive = work + L"\\ours.zip";
    if (GetFileAttributesW(archive.c_str()) == INVALID_FILE_ATTRIBUTES && !write_ours(package, archive)) {
        std::printf("the archive cannot be written\n");
        return 1;
    }
    const std::wstring ours_folder = work + L"\\restore-ours", baseline_folder = work + L"\\restore-baseline";
    // A used folder is moved aside whole (the group script deletes the work
    // folder at its end): deleting thousands of files through Wine takes
    // longer than unpacking them.
    int moved = 0;
    auto fresh = [&](const std::wstring& folder) {
        const std::wstring aside = work + L"\\used-" + std::to_wstring(++moved);
        if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES && !MoveFileW(folder.c_str(), aside.c_str()))
            return false;
        return CreateDirectoryW(folder.c_str(), nullptr) != 0;
    };
    bool folders_made = true;
    auto prepare = [&](int side) { folders_made = fresh(side == 0 ? ours_folder : baseline_folder) && folders_made; };
    auto arguments = [&](int side) {
        return std::wstring(side == 0 ? L"restore-ours " : L"restore-baseline ") + quoted(archive) + L" " +
               quoted(side == 0 ? ours_folder : baseline_folder);
    };
    timings t;
    if (!interleave(runs, budget, work, prepare, arguments, t)) return 1;
    if (!folders_made) {
        std::printf("the unpack folders cannot be made empty\n");
        return 1;
    }
    std::printf("runs done; comparing\n");
    std::fflush(stdout);
    // What the last pair unpacked is still there. Ours must be the package
    // again, byte for byte and dated as it; the baseline must have written
    // the same files.
    std::string difference = compare_folders(package, ours_folder, true);
    if (difference.empty()) difference = compare_folders(package, baseline_folder, false);
    if (!difference.empty()) {
        std::printf("an unpacked folder differs from the package: %s\n", difference.c_str());
        return 1;
    }
    std::printf("the product's unpacked folder equals the package; the baseline's has the same files\n");
    bench::print_row(throughput_row(name, "restore unpack of that zip into an empty folder", facts, t));
    return 0;
}

// The child's side of run_child: "once WHAT SOURCE TARGET RESULT".
int once(const std::wstring& what, const std::wstring& source, const std::wstring& target,
         const std::wstring& result) {
    if (what == L"backup-ours") return run_once([&] { return write_ours(source, target); }, result);
    if (what == L"backup-baseline") return run_once([&] { return zip_folder(source, target); }, result);
    if (what == L"restore-ours") {
        return run_once([&] {
            zip_reader reader;
            if (reader.open(source.c_str()) != 0) return false;
            const bool ok = reader.extract_all(target, false, false) == 0;
            reader.close();
            return ok;
        }, result);
    }
    if (what == L"restore-baseline") return run_once([&] { return unzip_archive(source, target); }, result);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 6 && std::wstring(argv[1]) == L"once") return once(argv[2], argv[3], argv[4], argv[5]);
    if (argc < 4) {
        std::fprintf(stderr, "usage: backup_bench backup|restore[-small] PACKAGE WORK [RUNS [SECONDS]]\n");
        return 2;
    }
    const std::wstring mode = argv[1], package = argv[2], work = argv[3];
    const int runs = argc > 4 ? _wtoi(argv[4]) : 5;
    const double budget = argc > 5 ? _wtof(argv[5]) : 60;
    CreateDirectoryW(work.c_str(), nullptr);
    const std::string name(mode.begin(), mode.end());
    if (mode == L"backup" || mode == L"backup-small") return run_backup(name, package, work, runs, budget);
    if (mode == L"restore" || mode == L"restore-small") return run_restore(name, package, work, runs, budget);
    std::fprintf(stderr, "unknown mode\n");
    return 2;
}
