// The single-instance rule: a second launch hands over to the running
// instance's window and ends.
#pragma once

#include <windows.h>

// wParam of UM_BRING_TO_FRONT for a second launch with these arguments
// (argv[0] is the program): 1 when the only argument is "--autorun" in any
// letter case, else 0.
WPARAM handover_wparam(int argc, const wchar_t* const* argv);

// Whether a first launch with these arguments starts with a scan: exactly one
// argument, "--autoscan" in any letter case.
bool is_autoscan_request(int argc, const wchar_t* const* argv);
// The same for the process's own command line.
bool command_line_requests_autoscan();

// The running instance's main window: the top-level window of the main
// window's class titled "Quillmark", or null. Other windows with that title
// (the program's own message boxes, an Explorer window on its folder) are
// never taken for it.
HWND find_running_instance_window();

// The calls a hand-over makes, replaceable for tests.
struct handover_calls {
    DWORD(WINAPI* window_process)(HWND, LPDWORD) = GetWindowThreadProcessId;
    BOOL(WINAPI* allow_set_foreground)(DWORD) = AllowSetForegroundWindow;
    LRESULT(WINAPI* send)(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) = SendMessageTimeoutW;
};

// Hands a second launch over to `running`: first lets the process that owns
// the window take the foreground (a process in the background may not, and
// this launch is the one the user just started), then sends it
// UM_BRING_TO_FRONT with `wparam`, waiting a few seconds at most.
void hand_over(HWND running, WPARAM wparam, const handover_calls& calls = handover_calls{});

// ChangeWindowMessageFilterEx (Windows 7 and later) and
// ChangeWindowMessageFilter (Windows Vista) of user32, null where Windows
// has none (XP). Looked up at run time.
struct message_filter_functions {
    BOOL(WINAPI* per_window)(HWND, UINT, DWORD, void*) = nullptr;
    BOOL(WINAPI* per_process)(UINT, DWORD) = nullptr;
};
message_filter_functions system_message_filter_functions();

// Lets `message` reach `window` from processes of a lower integrity level
// (Explorer, a second launch without administrator rights), which Windows
// Vista and later hold back from the program's elevated window: per window
// where Windows can, else for the whole process; on XP, which holds nothing
// back, nothing is done. False when the call failed.
bool allow_message_from_lower_processes(HWND window, UINT message,
                                        const message_filter_functions& functions);

// Takes the named mutex "Quillmark". Returns 0 when this is the only instance
// (the mutex stays held until the process ends), or -1 after handing the
// launch over to the running instance's window (if it can be found; a window
// that does not take it within a few seconds is given up).
int check_single_instance();
