#include "ui/main_window.h"

#include <stdio.h>

#include <string>
#include <system_error>

#include "app/app_init.h"
#include "app/language.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "devices/device_store.h"
#include "ui/messages.h"

namespace {

constexpr int WINDOW_WIDTH = 800;
constexpr int WINDOW_HEIGHT = 600;
constexpr int MARGIN = 12;

bool register_window_class(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hIconSm = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void center_on_screen(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    SetWindowPos(window, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// One line of the device list: class, name, instances, driver version and date.
std::wstring device_line(const device_record& device) {
    std::wstring line = device.class_info && device.class_info->description[0]
                            ? device.class_info->description
                            : device.class_name;
    line += L"  |  ";
    line += device.display_name;
    if (device.instance_count > 1) {
        wchar_t count[24];
        swprintf(count, sizeof(count) / sizeof(count[0]), L" (x%d)", device.instance_count);
        line += count;
    }
    line += L"  |  ";
    line += device.has_driver ? device.DriverVersion : L"no driver";
    if (device.DriverDate[0]) {
        line += L"  |  ";
        line += device.DriverDate;
    }
    return line;
}

}  // namespace

UINT scan_state_message() {
    static const UINT message = RegisterWindowMessageW(L"Quillmark.ScanState");
    return message;
}

main_window_c::main_window_c() : progress_(new scan_progress) {}

main_window_c::~main_window_c() {
    if (window_) DestroyWindow(window_);
    stop_worker();
}

HWND main_window_c::create(HINSTANCE instance) {
    if (!register_window_class(instance, &main_window_c::window_proc)) return nullptr;
    HWND window = CreateWindowExW(0, MAIN_WINDOW_CLASS, APP_NAME,
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                  CW_USEDEFAULT, WINDOW_WIDTH, WINDOW_HEIGHT, nullptr, nullptr,
                                  instance, this);
    return window;
}

LRESULT CALLBACK main_window_c::window_proc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
    main_window_c* self = nullptr;
    if (message == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lparam);
        self = static_cast<main_window_c*>(cs->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<main_window_c*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(window, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        return DefWindowProcW(window, message, wparam, lparam);
    }
    return self->on_message(message, wparam, lparam);
}

LRESULT main_window_c::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        on_create();
        return 0;
    case WM_DESTROY:
        KillTimer(window_, SCAN_TIMER_ID);
        stop_worker();
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
        if (wparam == SCAN_TIMER_ID) {
            on_scan_timer();
            return 0;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window_, &ps);
        RECT client{};
        GetClientRect(window_, &client);
        paint(dc, client);
        EndPaint(window_, &ps);
        return 0;
    }
    case UM_START_SCAN:
        start_scan();
        return 0;
    case UM_BRING_TO_FRONT:
        on_bring_to_front(wparam);
        return 0;
    default:
        if (message == scan_state_message())
            return MAKELRESULT(static_cast<WORD>(main_state_), static_cast<WORD>(scans_started_));
        if (message == language_state_message())
            return MAKELRESULT(static_cast<WORD>(current_language),
                               static_cast<WORD>(language_names.size()));
        break;
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

void main_window_c::on_create() {
    center_on_screen(window_);
    main_state_ = main_state_idle;
    if (command_line_requests_autoscan()) SendMessageW(window_, UM_START_SCAN, 0, 0);
}

void main_window_c::on_bring_to_front(WPARAM wparam) {
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    BringWindowToTop(window_);
    if (wparam != 0 && main_state_ != main_state_scanning) SendMessageW(window_, UM_START_SCAN, 0, 0);
}

void main_window_c::start_scan() {
    if (main_state_ == main_state_scanning) return;  // one scan at a time
    stop_worker();
    ++scans_started_;
    scan_failed_ = false;
    device_store* store = app_device_store;
    if (!store) {
        scan_failed_ = true;
        main_state_ = main_state_idle;
        InvalidateRect(window_, nullptr, TRUE);
        return;
    }
    reset_scan_progress(*progress_, current_settings.scan_offline != 0);
    worker_done_ = false;
    scan_progress* progress = progress_.get();
    try {
        worker_ = std::thread([this, store, progress] {
            worker_result_ = enumerate_devices(*store, *progress);
            worker_done_ = true;
        });
    } catch (const std::system_error&) {
        scan_failed_ = true;
        main_state_ = main_state_idle;
        InvalidateRect(window_, nullptr, TRUE);
        return;
    }
    main_state_ = main_state_scanning;
    SetTimer(window_, SCAN_TIMER_ID, SCAN_TIMER_PERIOD_MS, nullptr);
    InvalidateRect(window_, nullptr, TRUE);
}

void main_window_c::on_scan_timer() {
    if (!worker_done_) {
        InvalidateRect(window_, nullptr, TRUE);  // repaint the progress
        return;
    }
    KillTimer(window_, SCAN_TIMER_ID);
    stop_worker();
    scan_failed_ = !worker_result_;
    main_state_ = worker_result_ ? main_state_results : main_state_idle;
    InvalidateRect(window_, nullptr, TRUE);
}

void main_window_c::stop_worker() {
    // The enumeration cannot be interrupted; it ends on its own shortly.
    if (worker_.joinable()) worker_.join();
}

void main_window_c::paint(HDC dc, const RECT& client) {
    HGDIOBJ old_font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int line_height = tm.tmHeight + tm.tmExternalLeading + 2;
    int y = MARGIN;
    auto draw = [&](const std::wstring& text) {
        TextOutW(dc, MARGIN, y, text.c_str(), static_cast<int>(text.size()));
        y += line_height;
    };

    wchar_t buffer[128];
    if (main_state_ == main_state_scanning) {
        swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), L"Scanning devices: %d of %d",
                 progress_->index.load(), progress_->total.load());
        draw(buffer);
        draw(current_name(*progress_));
    } else if (scan_failed_) {
        draw(L"Scan Devices Error");
    } else if (main_state_ == main_state_results && app_device_store) {
        device_store& store = *app_device_store;
        swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), L"%d devices", device_count(store));
        draw(buffer);
        y += line_height / 2;
        for (const device_record& device : store.devices) {
            if (y > client.bottom) break;
            draw(device_line(device));
        }
    } else {
        draw(L"Ready to scan.");
    }
    SelectObject(dc, old_font);
}
