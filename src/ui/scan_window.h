// The scan page: shown while a scan runs. It owns the two worker threads of a
// scan (enumeration, then query), polls them from a 200 ms timer, shows the
// live progress, reports errors with message boxes and tells the main window
// the outcome with posted messages.
#pragma once

#include <windows.h>

#include <cstdint>

#include "devices/device_store.h"
#include "service/scan_request.h"
#include "ui/scan_flow.h"
#include "ui/skin/image.h"
#include "ui/skin/progress_bar.h"
#include "ui/skin/window.h"

constexpr UINT_PTR SCAN_TIMER_ID = 1;
constexpr UINT SCAN_TIMER_PERIOD_MS = 200;

// The text of the box shown when the enumeration fails.
constexpr const wchar_t* SCAN_DEVICES_ERROR = L"Scan Devices Error";

class scan_window_c : public window_base_c {
public:
    scan_window_c();
    // Stops a running query and waits for a worker that still runs: it
    // writes into this page.
    ~scan_window_c() override;

    // Creates the hidden child page over the owner's client area.
    HWND create(HWND owner);
    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

    // Whether a worker thread of a scan is running.
    bool busy() const { return enumeration_thread_ || query_thread_; }

    // Written by the main window: 0 not started, 1 enumerating, 2 querying.
    int scan_phase = 0;
    int64_t scan_start_time = 0;
    // The job records; their functions may be replaced (tests).
    scan_job enumeration_job;
    scan_job query_job_record;
    scan_progress progress;
    scan_query_params query;

private:
    LRESULT on_create(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_size(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_timer(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_destroy(UINT, WPARAM, LPARAM, bool&);

    void tick();
    // Reports a worker that could not be started and gives the scan up.
    void give_up_unstarted_worker();
    int report_query_error();
    void paint(HDC dc, const RECT& client);

    HWND owner_ = nullptr;
    image_c header_;
    image_c header_right_;
    image_c sidebar_header_;
    HBRUSH frame_brush_ = nullptr;
    HBRUSH band_brush_ = nullptr;
    progress_bar_c progress_bar_;
    HANDLE enumeration_thread_ = nullptr;
    HANDLE query_thread_ = nullptr;
    wchar_t line_[SCAN_LINE_CAPACITY] = {};
    RECT status_box_{};
    int row_height_ = 0;
};
