// The real pointer in the tests: xdotool, a program of the X display the
// tests run on, moves the pointer and presses its buttons, so a window gets
// its input the way it gets a person's mouse (hit test, activation, capture,
// the move loop) instead of messages a test composes itself. Windows of Wine
// that no window manager handles lie on the X screen where Windows places
// them, so window coordinates are X coordinates.
//
// Header only: the window tests of both UI programs use it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// Holds the display's one pointer for the life of the object: the UI test
// programs run side by side, and a window of one lying under the pointer of
// the other would take its clicks. While it is held, the holder may place
// windows in the top band of the screen (above where centred windows start)
// or maximise them; other tests keep their windows centred.
class pointer_lock {
public:
    pointer_lock() : mutex_(CreateMutexW(nullptr, FALSE, L"QuillmarkTests.RealPointer")) {
        // An abandoned lock (its holder died) is ours as well.
        if (mutex_) held_ = WaitForSingleObject(mutex_, 150000) != WAIT_TIMEOUT;
        if (!held_) ADD_FAILURE() << "the pointer stayed busy";
    }
    ~pointer_lock() {
        if (held_) ReleaseMutex(mutex_);
        if (mutex_) CloseHandle(mutex_);
    }
    pointer_lock(const pointer_lock&) = delete;
    pointer_lock& operator=(const pointer_lock&) = delete;

private:
    HANDLE mutex_;
    bool held_ = false;
};

// xdotool's command words for the pointer.
inline std::wstring pointer_jump(POINT to) {
    return L"mousemove " + std::to_wstring(to.x) + L" " + std::to_wstring(to.y);
}
// Onto `to` in two moves that arrive apart, as a hand's do: a window may
// answer the first move onto a new spot by leaving the old one only.
inline std::wstring pointer_move(POINT to) {
    return pointer_jump(POINT{to.x, to.y - 2}) + L" sleep 0.1 " + pointer_jump(to);
}
inline std::wstring pointer_click(POINT at) { return pointer_move(at) + L" click 1"; }
// Press at `from`, move in steps to `to`, release there.
inline std::wstring pointer_drag(POINT from, POINT to) {
    POINT half{(from.x + to.x) / 2, (from.y + to.y) / 2};
    return pointer_move(from) + L" mousedown 1 sleep 0.2 " + pointer_jump(half) + L" sleep 0.2 " +
           pointer_jump(to) + L" sleep 0.2 mouseup 1";
}

// Dispatches the thread's messages for one round.
inline void pump_once() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A Unix path no earlier run of this process has used.
inline std::wstring next_pointer_marker() {
    static unsigned runs = 0;
    return L"/tmp/quillmark-pointer-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++runs);
}

// When the pointer's time is up while a loop of the system's own runs (the
// move loop of a drag whose release went astray, a menu), this ends it:
// Escape leaves the move loop, EndMenu the menu. A thread timer, so that it
// runs inside such loops too.
inline DWORD pointer_deadline = 0;
inline void CALLBACK pointer_watchdog(HWND, UINT, UINT_PTR, DWORD) {
    if (static_cast<LONG>(GetTickCount() - pointer_deadline) < 0) return;
    if (HWND captured = GetCapture()) PostMessageW(captured, WM_KEYDOWN, VK_ESCAPE, 0);
    EndMenu();
}

// Runs "xdotool `words`" while dispatching this thread's messages (the pointer
// acts while the windows answer), until xdotool has done all and `done()`
// holds. False, with a test failure naming `what`, when that takes more than
// `limit_ms` (a generous bound: the pointer acts in a fraction of a second).
//
// Under Wine the handle of a Unix process is not signalled when it ends, so
// xdotool's last act is to create a marker file, which tells that it is done.
// Starts "xdotool `words`" and returns at once. False, with a test failure,
// when it cannot be started.
inline bool start_pointer(const std::wstring& words) {
    const wchar_t* xdotool = L"Z:\\usr\\bin\\xdotool";
    std::wstring command = std::wstring(xdotool) + L" " + words;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(xdotool, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "xdotool cannot be started (" << GetLastError() << ")";
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The screen point at the middle of a window.
inline POINT screen_centre(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

inline bool pointer_lost = false;  // an earlier xdotool never finished

template <class F>
bool drive_pointer(const std::wstring& words, F done, const char* what, DWORD limit_ms = 15000,
                   bool report_miss = true) {
    // A test fails in good time with its reason instead of waiting out every
    // step.
    if (pointer_lost) {
        ADD_FAILURE() << "the pointer is lost, not tried: " << what;
        return false;
    }
    const std::wstring marker = next_pointer_marker();
    std::wstring marker_seen_as = L"Z:" + marker;
    for (wchar_t& c : marker_seen_as)
        if (c == L'/') c = L'\\';
    DeleteFileW(marker_seen_as.c_str());

    if (!start_pointer(words + L" exec touch " + marker)) return false;
    const DWORD start = GetTickCount();
    pointer_deadline = start + limit_ms;
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 250, pointer_watchdog);
    bool ended = false;
    for (;;) {
        pump_once();
        if (!ended) ended = GetFileAttributesW(marker_seen_as.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (ended && done()) break;
        if (GetTickCount() - start > limit_ms) {
            if (report_miss || !ended)
                ADD_FAILURE() << "the pointer did not get there: " << what
                              << (ended ? "" : " (xdotool did not finish)");
            pointer_lost = !ended;
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    KillTimer(nullptr, watchdog);
    DeleteFileW(marker_seen_as.c_str());
    return ended && done();
}

// The answer of `window` to WM_NCHITTEST at screen point `at`.
inline LRESULT hit_code_at(HWND window, POINT at) {
    return SendMessageW(window, WM_NCHITTEST, 0,
                        MAKELPARAM(static_cast<short>(at.x), static_cast<short>(at.y)));
}

// Drags `window` with the real pointer from its screen point `from` by
// (dx, dy); true when the window moved by exactly that.
inline bool drag_window(HWND window, POINT from, int dx, int dy, const char* what) {
    RECT before{};
    GetWindowRect(window, &before);
    return drive_pointer(pointer_drag(from, POINT{from.x + dx, from.y + dy}),
                         [&] {
                             RECT now{};
                             GetWindowRect(window, &now);
                             return now.left == before.left + dx && now.top == before.top + dy;
                         },
                         what);
}
