// DPInst32.exe / DPInst64.exe: stages the driver packages (INF files) of a
// folder and its subfolders and installs them on the present devices they
// are for. What it did is in its log and its exit code; unless /S or /Q is
// given, a small window of its own shows its progress and then a summary.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "dpinst/installer.h"
#include "dpinst/log.h"
#include "dpinst/options.h"
#include "dpinst/progress_window.h"
#include "dpinst/system_win32.h"
#include "platform/dll_search.h"

namespace {

std::wstring full_path(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0) return {};
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.assign(n + 1, L'\0');
    }
    return {};
}

std::wstring hex(std::uint32_t code) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(code));
    return text;
}

// "Installed 1, copied to the driver store only 0, failed 0; a restart is
// needed."
std::wstring counts_text(const run_counts& counts) {
    return L"Installed " + std::to_wstring(counts.installed) + L", copied to the driver store only " +
           std::to_wstring(counts.staged_only) + L", failed " + std::to_wstring(counts.failures) +
           (counts.reboot ? L"; a restart is needed." : L".");
}

// True when this process is a 32-bit one on 64-bit Windows. IsWow64Process
// is looked up at run time: Windows XP before SP2 lacks it, and has no WOW64.
bool running_under_wow64() {
    using is_wow64_process_fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto is_wow64_process = reinterpret_cast<is_wow64_process_fn>(
        reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "IsWow64Process") : nullptr));
    BOOL wow64 = FALSE;
    return is_wow64_process && is_wow64_process(GetCurrentProcess(), &wow64) && wow64;
}

const wchar_t* const wrong_bitness_text =
    L"This is the 32-bit DPInst32.exe, and this Windows is 64-bit: it does not let a 32-bit "
    L"program install drivers. Run DPInst64.exe instead. Nothing was staged or installed.";

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show_command) {
    // Before anything loads a DLL: newdev.dll and the rest come from System32.
    restrict_dll_search();
    const wchar_t* command_line = GetCommandLineW();
    std::vector<std::wstring> args = split_command_line(command_line ? command_line : L"");
    if (!args.empty()) args.erase(args.begin());
    parsed_options parsed = parse_options(args);
    dpinst_options& options = parsed.options;

    dpinst_log log;
    log.open();
    // Every installation of a 32-bit DPInst on 64-bit Windows fails
    // (ERROR_IN_WOW64), after it has staged the packages: it refuses before
    // anything is touched.
    const bool wrong_bitness = running_under_wow64();
    // A refused line is shown on the console it was typed in, if there is one.
    if (options.console || !parsed.ok || wrong_bitness) log.use_console(options.console);
    log.line(std::wstring(L"DPInst started: ") + (command_line ? command_line : L""));
    if (wrong_bitness) {
        log.line(L"Refused: " + std::wstring(wrong_bitness_text));
        log.line(L"Exit code " + hex(exit_code_wrong_bitness));
        if (!options.silent && !options.quiet)
            MessageBoxW(nullptr, wrong_bitness_text, L"Driver package installer", MB_OK | MB_ICONERROR);
        return static_cast<int>(exit_code_wrong_bitness);
    }
    if (!parsed.ok) {
        log.line(L"Refused: " + parsed.error);
        log.line(dpinst_usage);
        log.line(L"Exit code " + hex(exit_code_bad_request));
        return static_cast<int>(exit_code_bad_request);
    }

    const std::wstring folder = full_path(options.folder);
    const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        log.line(L"The folder \"" + options.folder + L"\" does not exist.");
        log.line(L"Exit code " + hex(exit_code_bad_request));
        return static_cast<int>(exit_code_bad_request);
    }
    options.folder = folder;
    log.line(L"Folder: " + folder + (options.present_only ? L"; present devices only (/SH)" : L"") +
             (options.force ? L"; forced (/F)" : L"") +
             (options.legacy_mode ? L"; legacy mode (/LM)" : L""));

    win32_driver_system system;
    const platform_target target = system.target();
    log.line(L"Windows " + std::to_wstring(target.major) + L"." + std::to_wstring(target.minor) + L"." +
             std::to_wstring(target.build) + L", product type " + std::to_wstring(target.product_type) +
             L", suites " + hex(target.suite_mask) + L", " + target.architecture);
    auto work = [&](log_sink& sink) {
        const run_counts counts = install_packages(options, system, sink);
        sink.line(counts_text(counts) + L" Exit code " + hex(exit_code(counts)));
        return counts;
    };
    const run_counts counts =
        options.silent || options.quiet
            ? work(log)
            : run_with_progress_window(work, log,
                                       [&log](const run_counts& c) {
                                           return counts_text(c) + L"\r\n\r\nLog: " +
                                                  (log.path().empty() ? L"not written." : log.path());
                                       },
                                       show_command);
    return static_cast<int>(exit_code(counts));
}
