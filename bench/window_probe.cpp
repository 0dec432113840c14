#include "window_probe.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "bench_common.h"
#include "ui/main_window.h"

HWND find_main_window() { return FindWindowW(MAIN_WINDOW_CLASS, nullptr); }

namespace {

BOOL CALLBACK child_painted(HWND child, LPARAM argument) {
    if (!IsWindowVisible(child)) return TRUE;
    if (GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(argument) = false;
        return FALSE;
    }
    return TRUE;
}

struct window_search {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK visible_window_of(HWND window, LPARAM argument) {
    auto* search = reinterpret_cast<window_search*>(argument);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !IsWindowVisible(window)) return TRUE;
    RECT r{};
    GetWindowRect(window, &r);
    if (r.right - r.left <= 1 || r.bottom - r.top <= 1) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

bool window_painted(HWND window) {
    if (!IsWindowVisible(window) || GetUpdateRect(window, nullptr, FALSE)) return false;
    bool painted = true;
    EnumChildWindows(window, child_painted, reinterpret_cast<LPARAM>(&painted));
    return painted;
}

first_frame wait_for_first_frame(DWORD process_id, HANDLE process, double started,
                                 double timeout_seconds) {
    first_frame frame;
    while (bench::now_seconds() - started < timeout_seconds) {
        if (!frame.window) {
            window_search search{process_id, nullptr};
            EnumWindows(visible_window_of, reinterpret_cast<LPARAM>(&search));
            if (search.found) {
                frame.window = search.found;
                frame.shown = bench::now_seconds() - started;
            }
        }
        if (frame.window && window_painted(frame.window)) {
            frame.painted = bench::now_seconds() - started;
            return frame;
        }
        if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0) break;
    }
    return frame;
}

bool close_process_window(HWND window, HANDLE process, DWORD timeout_ms) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0;
}

scan_state query_scan_state(HWND window) {
    scan_state s;
    DWORD_PTR reply = 0;
    if (!window || !SendMessageTimeoutW(window, scan_state_message(), 0, 0, SMTO_NORMAL, 5000,
                                        &reply))
        return s;
    s.state = LOWORD(reply);
    s.scans = HIWORD(reply);
    return s;
}

namespace {

std::optional<POINT> centre_of(HWND window) {
    RECT r{};
    if (!window || !IsWindowVisible(window) || !GetWindowRect(window, &r)) return std::nullopt;
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

bool has_class(HWND window, const wchar_t* name) {
    wchar_t text[64] = {};
    GetClassNameW(window, text, 64);
    return lstrcmpiW(text, name) == 0;
}

struct row_search {
    std::vector<std::pair<LONG, HWND>> rows;  // top, row
};

BOOL CALLBACK collect_row(HWND window, LPARAM argument) {
    if (IsWindowVisible(window) && has_class(window, L"Quillmark.DownloadRow")) {
        RECT r{};
        GetWindowRect(window, &r);
        reinterpret_cast<row_search*>(argument)->rows.emplace_back(r.top, window);
    }
    return TRUE;
}

BOOL CALLBACK find_download_all_bar(HWND window, LPARAM argument) {
    if (!IsWindowVisible(window) || !has_class(window, L"Quillmark.DownloadAll")) return TRUE;
    *reinterpret_cast<HWND*>(argument) = window;
    return FALSE;
}

}  // namespace

std::optional<POINT> row_check_box_point(HWND main, std::size_t index) {
    if (!main) return std::nullopt;
    row_search search;
    EnumChildWindows(main, collect_row, reinterpret_cast<LPARAM>(&search));
    std::sort(search.rows.begin(), search.rows.end());
    if (index >= search.rows.size()) return std::nullopt;
    return centre_of(FindWindowExW(search.rows[index].second, nullptr, L"BUTTON", nullptr));
}

std::optional<POINT> download_all_button_point(HWND main) {
    if (!main) return std::nullopt;
    HWND bar = nullptr;
    EnumChildWindows(main, find_download_all_bar, reinterpret_cast<LPARAM>(&bar));
    return bar ? centre_of(GetDlgItem(bar, 2)) : std::nullopt;
}

std::optional<POINT> message_box_button_point(HWND main) {
    if (!main) return std::nullopt;
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == process && w != main && IsWindowVisible(w) && GetDlgItem(w, 1))
            return centre_of(GetDlgItem(w, 1));
    }
    return std::nullopt;
}
