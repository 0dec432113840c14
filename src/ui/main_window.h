// The program's top-level window. For now a plain window titled "Quillmark"
// that takes the hand-over from a second instance, runs a device scan on a
// worker thread while showing its progress, and lists the kept devices.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <thread>

struct scan_progress;

// Window class of the main window; its title is "Quillmark".
constexpr const wchar_t* MAIN_WINDOW_CLASS = L"Quillmark.MainWindow";
// Timer repainting the progress of a running scan.
constexpr UINT_PTR SCAN_TIMER_ID = 1;
constexpr UINT SCAN_TIMER_PERIOD_MS = 200;
// A registered message ("Quillmark.ScanState") the window answers with its
// scan state: low word main_state, high word the number of scans started.
// Lets a watching program (tests, support tools) see what the window does.
UINT scan_state_message();

enum main_state_value : int {
    main_state_idle = 0,
    main_state_scanning = 1,
    main_state_results = 3,
};

class main_window_c {
public:
    main_window_c();
    ~main_window_c();
    main_window_c(const main_window_c&) = delete;
    main_window_c& operator=(const main_window_c&) = delete;

    // Creates the window (hidden; the caller shows it). Null on failure.
    HWND create(HINSTANCE instance);
    HWND handle() const { return window_; }
    int main_state() const { return main_state_; }

private:
    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam);

    void on_create();
    void on_bring_to_front(WPARAM wparam);
    void start_scan();
    void on_scan_timer();
    void stop_worker();
    void paint(HDC dc, const RECT& client);

    HWND window_ = nullptr;
    int main_state_ = main_state_idle;
    unsigned scans_started_ = 0;
    bool scan_failed_ = false;
    std::unique_ptr<scan_progress> progress_;
    std::thread worker_;
    std::atomic<bool> worker_done_{false};
    bool worker_result_ = false;  // read only after the worker has been joined
};
