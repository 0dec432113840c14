#include "ui/scan_window.h"

#include <string>

#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "resources/resource.h"
#include "ui/demo_shots.h"
#include "ui/messages.h"
#include "ui/page_class.h"
#include "ui/prompt.h"
#include "ui/sidebar.h"
#include "ui/skin/colors.h"
#include "ui/skin/fonts.h"
#include "ui/text_boxes.h"

std::wstring scan_devices_error_text(const active_profile& profile) {
    std::wstring text = SCAN_DEVICES_ERROR;
    if (profile.status == profile_status::broken) text += L"\n" + profile.reason;
    return text;
}

scan_window_c::scan_window_c() {
    enumeration_job.context = &progress;
    enumeration_job.function = run_enumeration;
    query_job_record.context = &query;
    query_job_record.function = run_query;
    fill_scan_query_params(query);
}

scan_window_c::~scan_window_c() {
    if (query_thread_) stop_query();
    for (HANDLE* thread : {&enumeration_thread_, &query_thread_}) {
        if (!*thread) continue;
        WaitForSingleObject(*thread, INFINITE);
        CloseHandle(*thread);
        *thread = nullptr;
    }
    if (frame_brush_) DeleteObject(frame_brush_);
    if (band_brush_) DeleteObject(band_brush_);
}

HWND scan_window_c::create(HWND owner) {
    owner_ = owner;
    HWND page = create_page(*this, owner, false);
    if (!page) return nullptr;
    HINSTANCE module = resource_module();
    header_.load(module, IDB_SCAN_HEADER);
    header_right_.load(module, IDB_SCAN_HEADER_RIGHT);
    sidebar_header_.load(module, IDB_SIDEBAR_HEADER);
    sidebar_header_.set_transparent_color(RGB(255, 255, 255));
    frame_brush_ = CreateSolidBrush(SKIN_STATUS_FRAME);
    band_brush_ = CreateSolidBrush(SKIN_ALTERNATE_BAND);
    image_c pattern;
    HBRUSH fill = pattern.load(module, IDB_SCAN_PROGRESS_PATTERN)
                      ? CreatePatternBrush(pattern.bitmap())
                      : CreateSolidBrush(SKIN_TITLE_TEXT);
    progress_bar_.set_brushes(fill, CreateSolidBrush(SKIN_SIDEBAR));
    return page;
}

bool scan_window_c::process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                    LRESULT& result) {
    static const message_entry<scan_window_c> map[] = {
        {WM_CREATE, &scan_window_c::on_create},
        {WM_PAINT, &scan_window_c::on_paint},
        {WM_ERASEBKGND, &scan_window_c::on_erase_background},
        {WM_SIZE, &scan_window_c::on_size},
        {WM_TIMER, &scan_window_c::on_timer},
        {WM_DESTROY, &scan_window_c::on_destroy},
    };
    return dispatch_message(this, map, message, wparam, lparam, result);
}

LRESULT scan_window_c::on_create(UINT, WPARAM, LPARAM, bool&) { return 0; }

LRESULT scan_window_c::on_erase_background(UINT, WPARAM, LPARAM, bool&) { return 1; }

// The page goes with the program: a query that waits on a slow service must
// not keep the process alive after its window has gone.
LRESULT scan_window_c::on_destroy(UINT, WPARAM, LPARAM, bool& handled) {
    if (query_thread_) stop_query();
    handled = false;
    return 0;
}

LRESULT scan_window_c::on_size(UINT, WPARAM, LPARAM lparam, bool&) {
    const int width = LOWORD(lparam), height = HIWORD(lparam);
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, ui_font(SCAN_STATUS_FONT));
    const std::wstring& text = text_for("scan_status2");
    RECT measured{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    row_height_ = measured.bottom - measured.top;
    status_box_ = scan_status_box(width, height, row_height_, measured.right - measured.left);
    return 0;
}

LRESULT scan_window_c::on_timer(UINT, WPARAM, LPARAM, bool&) {
    tick();
    return 0;
}

namespace {

// Whether a worker thread has ended; a failed wait counts as "not yet".
bool thread_ended(HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

}  // namespace

void scan_window_c::tick() {
    HWND main = owner_;
    switch (scan_phase) {
    case 0:
        scan_phase = 1;
        reset_scan_progress(progress, current_settings.scan_offline != 0);
        enumeration_thread_ = start_scan_job(enumeration_job);
        if (!enumeration_thread_) give_up_unstarted_worker();
        break;
    case 1:
        if (!enumeration_thread_ || !thread_ended(enumeration_thread_)) break;
        CloseHandle(enumeration_thread_);
        enumeration_thread_ = nullptr;
        scan_phase = 2;
        if (enumeration_job.result != 0) {
            // The scan is over: no tick may look for a query that never starts.
            KillTimer(window_, SCAN_TIMER_ID);
            prompt_user(window_, scan_devices_error_text(machine_profile_in_use()).c_str(), 2);
            PostMessageW(main, UM_SCAN_CANCELLED, 0, 0);
            break;
        }
        prepare_query(query);
        allow_query();
        query_thread_ = start_scan_job(query_job_record);
        if (!query_thread_) {
            give_up_unstarted_worker();
            break;
        }
        save_demo_shot(GetAncestor(window_, GA_ROOT), L"scan.png");
        break;
    case 2:
        if (!query_thread_ || !thread_ended(query_thread_)) break;
        CloseHandle(query_thread_);
        query_thread_ = nullptr;
        KillTimer(window_, SCAN_TIMER_ID);
        if (query_job_record.result == 0) {
            PostMessageW(main, UM_SCAN_DONE, static_cast<WPARAM>(progress.total.load()), 0);
        } else {
            // Only Retry starts again; Cancel, the caption X and a box that
            // could not be shown give the scan up.
            int answer = report_query_error();
            PostMessageW(main, answer == 1 ? UM_START_SCAN : UM_SCAN_CANCELLED, 0, 0);
        }
        break;
    default:
        break;
    }
    if (window_) {
        InvalidateRect(window_, nullptr, FALSE);
        UpdateWindow(window_);
    }
}

void scan_window_c::give_up_unstarted_worker() {
    KillTimer(window_, SCAN_TIMER_ID);
    prompt_user(window_, worker_start_failure_text(), 2);
    PostMessageW(owner_, UM_SCAN_CANCELLED, 0, 0);
}

int scan_window_c::report_query_error() {
    const wchar_t* text = scan_error_text(last_error, query);
    if (!text) return 2;
    return prompt_user(window_, text, 4);
}

LRESULT scan_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    paint_page(window_, [this](HDC dc, const RECT& client) { paint(dc, client); });
    return 0;
}

void scan_window_c::paint(HDC dc, const RECT& client) {
    const int W = client.right, H = client.bottom;
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    paint_sidebar_band(dc, W, H);

    const int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    header_.draw(dc, 15, 15);
    header_right_.draw(dc, W - header_right_.width() - 260, 15);
    SelectObject(dc, ui_font(SCAN_TITLE_FONT));
    SetTextColor(dc, SKIN_TITLE_TEXT);
    const std::wstring& title = text_for("scan_scanning");
    const RECT title_box = scan_title_box(W, header_right_.width());
    TextOutW(dc, title_box.left, title_box.top, title.c_str(), static_cast<int>(title.size()));

    RECT frame{10, 85, W - 260, H - 60};
    FrameRect(dc, &frame, frame_brush_);

    const RECT& box = status_box_;
    SelectObject(dc, ui_font(SCAN_HEADING_FONT));
    const std::wstring& heading = text_for("scan_scanning_your_computer");
    const RECT heading_box = scan_heading_box(W, box);
    TextOutW(dc, heading_box.left, heading_box.top, heading.c_str(),
             static_cast<int>(heading.size()));

    scan_status_values values;
    values.start_time = scan_start_time;
    values.now = now_seconds();
    values.phase = scan_phase;
    values.index = progress.index.load();
    values.name = current_name(progress);
    SelectObject(dc, ui_font(SCAN_STATUS_FONT));
    int top = box.top;
    for (int line = 0; line < SCAN_STATUS_LINES; ++line) {
        RECT row{box.left, top, box.right, top + row_height_};
        if (line % 2 == 0) {
            RECT band{box.left - 15, top - 5, box.right + 15, row.bottom + 5};
            FillRect(dc, &band, band_brush_);
        }
        format_scan_status_line(line, values, line_);
        DrawTextW(dc, line_, -1, &row, DT_SINGLELINE | DT_EXPANDTABS | DT_NOPREFIX);
        top = row.bottom + 10;
    }

    if (scan_phase == 2) {
        RECT wait = scan_waiting_box(W, H, top);
        FillRect(dc, &wait, band_brush_);
        SelectObject(dc, ui_font(SCAN_WAITING_FONT));
        SetTextColor(dc, RGB(255, 0, 0));
        std::wstring text = text_for("scan_waiting") + waiting_dots(values.now);
        RECT inside = scan_waiting_text_box(wait);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inside,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    }

    progress_bar_.fraction = scan_fraction(progress.index.load(), progress.total.load());
    SelectObject(dc, ui_font(font_id::verdana_8));
    SetTextColor(dc, RGB(0, 0, 0));
    progress_bar_.draw(dc, 10, H - 40, W - 260, H - 20);
    RestoreDC(dc, saved);

    draw_system_info(dc, W, sidebar_header_, sidebar_page::scan);
}
