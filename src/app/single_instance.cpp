#include "app/single_instance.h"

#include <shellapi.h>

#include "ui/main_window.h"
#include "ui/messages.h"

namespace {

// Held, never closed: the mutex marks the running instance until it ends.
HANDLE instance_mutex = nullptr;

// Splits the process's command line; null when it cannot be split.
struct argument_list {
    int count = 0;
    wchar_t** values = nullptr;
    argument_list() { values = CommandLineToArgvW(GetCommandLineW(), &count); }
    ~argument_list() {
        if (values) LocalFree(values);
    }
    argument_list(const argument_list&) = delete;
    argument_list& operator=(const argument_list&) = delete;
};

// How long a second launch waits for the running instance to take the
// hand-over.
constexpr UINT HANDOVER_TIMEOUT_MS = 5000;

bool single_argument_is(int argc, const wchar_t* const* argv, const wchar_t* expected) {
    return argc == 2 && argv && argv[1] && lstrcmpiW(argv[1], expected) == 0;
}

}  // namespace

WPARAM handover_wparam(int argc, const wchar_t* const* argv) {
    return single_argument_is(argc, argv, L"--autorun") ? 1 : 0;
}

bool is_autoscan_request(int argc, const wchar_t* const* argv) {
    return single_argument_is(argc, argv, L"--autoscan");
}

bool command_line_requests_autoscan() {
    argument_list args;
    return args.values && is_autoscan_request(args.count, args.values);
}

void hand_over(HWND running, WPARAM wparam, const handover_calls& calls) {
    DWORD process = 0;
    if (calls.window_process(running, &process) && process) calls.allow_set_foreground(process);
    DWORD_PTR reply = 0;
    calls.send(running, UM_BRING_TO_FRONT, wparam, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, HANDOVER_TIMEOUT_MS,
               &reply);
}

message_filter_functions system_message_filter_functions() {
    message_filter_functions f;
    // user32 is loaded in every process with a window.
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return f;
    f.per_window = reinterpret_cast<decltype(f.per_window)>(
        reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    f.per_process = reinterpret_cast<decltype(f.per_process)>(
        reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
    return f;
}

bool allow_message_from_lower_processes(HWND window, UINT message,
                                        const message_filter_functions& functions) {
    // MSGFLT_ALLOW and MSGFLT_ADD, both 1.
    constexpr DWORD allow = 1, add = 1;
    if (functions.per_window) return functions.per_window(window, message, allow, nullptr) != FALSE;
    if (functions.per_process) return functions.per_process(message, add) != FALSE;
    return true;
}

HWND find_running_instance_window() { return FindWindowW(MAIN_WINDOW_CLASS, APP_NAME); }

int check_single_instance() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, APP_NAME);
    if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) {
        instance_mutex = mutex;
        return 0;
    }

    WPARAM wparam = 0;
    {
        argument_list args;
        if (args.values) wparam = handover_wparam(args.count, args.values);
    }
    // This launch ends only after the running instance has processed the
    // message, or after the time-out when it does not answer. Without a
    // window (still starting) the launch is dropped.
    if (HWND running = find_running_instance_window()) hand_over(running, wparam);
    ReleaseMutex(mutex);
    return -1;
}
