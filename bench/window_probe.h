// What the window prober asks of another process's windows: its main window,
// its first painted frame, the main window's scan state, closing it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>

// The running Quillmark main window, or null.
HWND find_main_window();

struct first_frame {
    HWND window = nullptr;  // the process's top-level window, null when none showed
    double shown = 0;       // seconds from `started` until it was first visible
    double painted = 0;     // ... until it and its children had no update region left
};

// Whether `window` and each of its visible descendants has been painted:
// none holds an update region.
bool window_painted(HWND window);

// Polls until a visible top-level window of the process `process_id` has
// been painted (see window_painted), the process ends, or `timeout_seconds`
// from `started` (a bench::now_seconds() value) have passed.
first_frame wait_for_first_frame(DWORD process_id, HANDLE process, double started,
                                 double timeout_seconds);

// Posts WM_CLOSE to `window` and waits up to `timeout_ms` for `process` to
// end. True when it ended.
bool close_process_window(HWND window, HANDLE process, DWORD timeout_ms);

// The main window's answer to its scan-state query: scans started since the
// program began and main_state (0 idle, 1 scanning, 3 results); -1 for both
// when there is no window or no answer.
struct scan_state {
    int scans = -1;
    int state = -1;
};
scan_state query_scan_state(HWND window);

// Screen points a person clicks, as seen from outside: the centre of the
// check box of the download page's visible row `index` (rows by their top),
// of the "download all" button, and of the first button (id 1) of a message
// box the program shows. nullopt when there is none.
std::optional<POINT> row_check_box_point(HWND main, std::size_t index);
std::optional<POINT> download_all_button_point(HWND main);
std::optional<POINT> message_box_button_point(HWND main);
