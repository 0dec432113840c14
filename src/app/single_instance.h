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

// Takes the named mutex "Quillmark". Returns 0 when this is the only instance
// (the mutex stays held until the process ends), or -1 after handing the
// launch over to the running instance's window (if it can be found; a window
// that does not take it within a few seconds is given up).
int check_single_instance();
