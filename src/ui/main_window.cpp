// winsock2.h (through the download sessions' transfer header) must come
// before windows.h.
#include <winsock2.h>

#include "ui/main_window.h"

#include <commctrl.h>

#include <string>

#include "app/app_init.h"
#include "app/language.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "devices/device_store.h"
#include "downloads/download_session.h"
#include "install/install.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/about_window.h"
#include "ui/config_window.h"
#include "ui/demo_shots.h"
#include "ui/messages.h"
#include "ui/prompt.h"
#include "ui/scan_flow.h"

namespace {

HICON load_icon(int id, int size) {
    return static_cast<HICON>(
        LoadImageW(resource_module(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}

// The menu's x moved into the nearest monitor's work area when the point lies
// on no monitor.
POINT clamp_to_monitor(POINT at) {
    if (MonitorFromPoint(at, MONITOR_DEFAULTTONULL)) return at;
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &info)) {
        if (at.x < info.rcWork.left) at.x = info.rcWork.left;
        if (at.x >= info.rcWork.right) at.x = info.rcWork.right - 1;
    }
    return at;
}

}  // namespace

UINT scan_state_message() {
    static const UINT message = RegisterWindowMessageW(L"Quillmark.ScanState");
    return message;
}

main_window_c::main_window_c() : ui_window_c<main_window_c>(MAIN_CAPTION_HEIGHT) {
    tray_message_ = RegisterWindowMessageW(L"WM_TRAYICON");
    taskbar_created_message_ = RegisterWindowMessageW(L"TaskbarCreated");
    // The size Windows XP knows: its shell refuses the larger structure of
    // Vista and later (with hBalloonIcon), which every later Windows still
    // takes in this size. Nothing here needs the later fields.
    tray_.cbSize = NOTIFYICONDATAW_V3_SIZE;
}

main_window_c::~main_window_c() {
    // The window goes first, while the pages and icons it uses still exist.
    if (window_) DestroyWindow(window_);
    if (menu_) DestroyMenu(menu_);
    if (strip_brush_) DeleteObject(strip_brush_);
    for (HICON icon : {large_icon_, small_icon_, new_driver_icon_})
        if (icon) DestroyIcon(icon);
}

HWND main_window_c::create(HINSTANCE, const wchar_t* title, const wchar_t* class_name) {
    if (!window_base_c::register_class(class_name, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, nullptr))
        return nullptr;
    HWND window = window_base_c::create(
        class_name, 0,
        WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN, title,
        CW_USEDEFAULT, CW_USEDEFAULT, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT, nullptr);
    if (window) center_window(window, nullptr);
    return window;
}

bool main_window_c::process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                    LRESULT& result) {
    if (process_frame_message(window, message, wparam, lparam, result)) return true;
    static const message_entry<main_window_c> map[] = {
        {WM_CREATE, &main_window_c::on_create},
        {WM_DESTROY, &main_window_c::on_destroy},
        {WM_SIZE, &main_window_c::on_size},
        {WM_SETFOCUS, &main_window_c::on_set_focus},
        {WM_PAINT, &main_window_c::on_paint},
        {WM_CLOSE, &main_window_c::on_close},
        {WM_ERASEBKGND, &main_window_c::on_erase_background},
        {WM_SHOWWINDOW, &main_window_c::on_show_window},
        {WM_GETMINMAXINFO, &main_window_c::on_get_min_max_info},
        {WM_COMMAND, &main_window_c::on_command},
        {WM_TIMER, &main_window_c::on_timer},
        {UM_START_SCAN, &main_window_c::on_start_scan},
        {UM_SCAN_DONE, &main_window_c::on_scan_done},
        {UM_SCAN_CANCELLED, &main_window_c::on_scan_cancelled},
        {UM_BRING_TO_FRONT, &main_window_c::on_bring_to_front},
        {UM_SYSTEM_INFO, &main_window_c::on_system_info},
    };
    if (dispatch_message(this, map, message, wparam, lparam, result)) return true;
    if (message == taskbar_created_message_ && message != 0) {
        restore_tray_icon();
        result = 0;
        return true;
    }
    if (message == tray_message_) {
        bool handled = true;
        result = on_tray(message, wparam, lparam, handled);
        return handled;
    }
    if (message == scan_state_message()) {
        result = MAKELRESULT(static_cast<WORD>(main_state_), static_cast<WORD>(scans_started_));
        return true;
    }
    if (message == language_state_message()) {
        result = MAKELRESULT(static_cast<WORD>(current_language),
                             static_cast<WORD>(language_names.size()));
        return true;
    }
    return false;
}

// --- Creation and teardown ----------------------------------------------------

LRESULT main_window_c::on_create(UINT, WPARAM, LPARAM, bool&) {
    if (message_loop_c* loop = message_loop_c::current()) {
        loop->add_message_filter(this);
        loop->add_idle_handler(this);
    }
    // The window runs with administrator rights; Explorer's taskbar and a
    // second launch without them are held back by Windows unless their
    // messages are let through.
    const message_filter_functions filters = system_message_filter_functions();
    for (UINT message : {taskbar_created_message_, static_cast<UINT>(UM_BRING_TO_FRONT)})
        if (message) allow_message_from_lower_processes(window_, message, filters);
    create_caption_buttons();
    HINSTANCE module = resource_module();
    if (strip_.load(module, IDB_CAPTION_STRIP)) strip_brush_ = CreatePatternBrush(strip_.bitmap());
    logo_.load(module, IDB_LOGO);

    // The first frame shows the home page; the others follow once it is shown.
    home_.create(window_);
    current_page_ = home_.handle();

    menu_ = LoadMenuW(module, MAKEINTRESOURCEW(IDR_MAIN_MENU));
    load_icons();
    // The tray icon follows the first frame (finish_start_up).
    set_rect_region(window_);

    const frame_metrics& m = metrics();
    auto* logo = new system_button_c<main_window_c>;
    logo->create(module, IDB_LOGO, IDB_LOGO, IDB_LOGO, m.frame_y + 20, m.frame_x + 40,
                 m.frame_y + 181, m.frame_x + 90, L"logo");
    logo->set_action(&main_window_c::on_logo);
    append_button(logo);

    notify_stage_ = 0;
    main_state_ = main_state_idle;
    // Posted: the scan starts from the message loop, once start-up has
    // finished collecting what the scan reads.
    if (command_line_requests_autoscan()) PostMessageW(window_, UM_START_SCAN, 0, 0);
    return 0;
}

void main_window_c::create_pages() {
    if (pages_created_ || !window_) return;
    pages_created_ = true;
    // The common controls load here rather than before the first frame,
    // which the home page makes without them.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);
    scan_.create(window_);
    download_.create(window_);
    backup_.create(window_);
    restore_.create(window_);
}

void main_window_c::finish_start_up_later() {
    // A timer's message comes only when no other message, painting
    // included, is waiting.
    SetTimer(window_, START_UP_TIMER_ID, 0, nullptr);
}

bool main_window_c::finish_start_up() {
    KillTimer(window_, START_UP_TIMER_ID);
    if (!start_up_finished_) {
        start_up_finished_ = true;
        // WMI answers on its own thread while the rest is made here.
        app_start_system_info(window_, UM_SYSTEM_INFO);
        create_pages();
        install_tray_icon();
    }
    if (app_finish_init()) return true;
    DestroyWindow(window_);
    return false;
}

bool main_window_c::finish_system_info() {
    if (system_info_shown_) return true;
    if (!app_finish_system_info()) {
        DestroyWindow(window_);
        return false;
    }
    // The sidebars show the fields now there.
    system_info_shown_ = true;
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    return true;
}

LRESULT main_window_c::on_system_info(UINT, WPARAM, LPARAM, bool&) {
    finish_system_info();
    return 0;
}

void main_window_c::create_caption_buttons() {
    HINSTANCE module = resource_module();
    // f_x is the cached SM_CYFRAME value and f_y the SM_CXFRAME one.
    const int fx = metrics().frame_y, fy = metrics().frame_x;
    struct tab {
        int normal;
        const char* key;
        void (main_window_c::*action)();
    };
    const tab tabs[] = {
        {IDB_HOME_TAB_NORMAL, "top_home", &main_window_c::on_home_tab},
        {IDB_DOWNLOAD_TAB_NORMAL, "top_download", &main_window_c::on_download_tab},
        {IDB_BACKUP_TAB_NORMAL, "top_backup", &main_window_c::on_backup_tab},
        {IDB_RESTORE_TAB_NORMAL, "top_restore", &main_window_c::on_restore_tab},
        {IDB_SETTINGS_TAB_NORMAL, "top_settings", &main_window_c::on_settings},
    };
    int left = fx + 10;
    for (const tab& t : tabs) {
        auto* b = new top_button_c<main_window_c>;
        b->create(module, t.normal, t.normal + 1, t.normal + 2, left, fy + 23, left + 83, fy + 90,
                  L"");
        b->text_key = t.key;
        b->set_action(t.action);
        append_button(b);
        left += 82;  // neighbouring tabs share one column of pixels
    }
    struct caption_button {
        int normal;
        int offset;  // from the right edge
        const wchar_t* text;
        void (main_window_c::*action)();
    };
    const caption_button buttons[] = {
        {IDB_CLOSE_BUTTON_NORMAL, 0, L"system_close", &main_window_c::on_close_button},
        {IDB_MAXIMIZE_BUTTON_NORMAL, 30, L"system_maximize", &main_window_c::on_maximize_button},
        {IDB_MINIMIZE_BUTTON_NORMAL, 60, L"system_minimum", &main_window_c::on_minimize_button},
        {IDB_MENU_BUTTON_NORMAL, 90, L"system_dropdown", &main_window_c::on_menu_button},
    };
    for (const caption_button& c : buttons) {
        auto* b = new system_button_c<main_window_c>;
        b->create(module, c.normal, c.normal + 1, c.normal + 2, fx + c.offset, fy,
                  fx + c.offset + 30, fy + 21, c.text);
        b->set_action(c.action);
        append_button(b);
        if (c.normal == IDB_MAXIMIZE_BUTTON_NORMAL) maximize_button_ = b;
    }
}

void main_window_c::load_icons() {
    for (HICON* icon : {&large_icon_, &small_icon_})
        if (*icon) DestroyIcon(*icon);
    large_icon_ = load_icon(IDI_QUILLMARK, GetSystemMetrics(SM_CXICON));
    small_icon_ = load_icon(IDI_QUILLMARK, GetSystemMetrics(SM_CXSMICON));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
    caption_icon_ = large_icon_;
    new_driver_icon_ = load_icon(IDI_NEW_DRIVERS, GetSystemMetrics(SM_CXSMICON));
}

void main_window_c::install_tray_icon() {
    tray_.hWnd = window_;
    tray_.uID = TRAY_ICON_ID;
    tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray_.uCallbackMessage = tray_message_;
    tray_.hIcon = small_icon_;
    copy_text(tray_.szTip, APP_NAME);
    tray_installed_ = Shell_NotifyIconW(NIM_ADD, &tray_) != FALSE;
}

void main_window_c::restore_tray_icon() {
    // Before start-up has finished, the icon comes with it.
    if (!start_up_finished_) return;
    // The icon the tray showed (the new-driver one included), without the
    // balloon.
    tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    // A taskbar that kept its icons (it is told so on other occasions too)
    // refuses a second one.
    tray_installed_ = Shell_NotifyIconW(NIM_ADD, &tray_) != FALSE ||
                      Shell_NotifyIconW(NIM_MODIFY, &tray_) != FALSE;
}

LRESULT main_window_c::on_destroy(UINT, WPARAM, LPARAM, bool&) {
    if (message_loop_c* loop = message_loop_c::current()) {
        loop->remove_message_filter(this);
        loop->remove_idle_handler(this);
    }
    KillTimer(window_, AUTO_SCAN_TIMER_ID);
    if (tray_installed_) {
        tray_.uFlags = 0;
        Shell_NotifyIconW(NIM_DELETE, &tray_);
        tray_installed_ = false;
    }
    PostQuitMessage(0);
    return 0;
}

// --- Frame and pages --------------------------------------------------------

void main_window_c::draw_caption_items(HDC dc, const RECT& area) {
    if (!strip_brush_) return;
    RECT strip{area.left, metrics().frame_x, area.right, 24};
    SetBrushOrgEx(dc, 0, strip.top, nullptr);
    FillRect(dc, &strip, strip_brush_);
}

LRESULT main_window_c::on_size(UINT, WPARAM wparam, LPARAM, bool&) {
    HINSTANCE module = resource_module();
    if (maximize_button_ && wparam == SIZE_RESTORED)
        maximize_button_->set_images(module, IDB_MAXIMIZE_BUTTON_NORMAL,
                                     IDB_MAXIMIZE_BUTTON_HOVER, IDB_MAXIMIZE_BUTTON_PRESSED);
    else if (maximize_button_ && wparam == SIZE_MAXIMIZED)
        maximize_button_->set_images(module, IDB_MAXIMIZED_BUTTON_NORMAL,
                                     IDB_MAXIMIZED_BUTTON_HOVER, IDB_MAXIMIZED_BUTTON_PRESSED);
    RECT client{};
    GetClientRect(window_, &client);
    if (current_page_) MoveWindow(current_page_, 0, 0, client.right, client.bottom, TRUE);
    set_rect_region(window_);
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_FRAME | RDW_ALLCHILDREN);
    return 0;
}

LRESULT main_window_c::on_set_focus(UINT, WPARAM, LPARAM, bool&) {
    if (IsWindow(current_page_)) SetFocus(current_page_);
    return 0;
}

LRESULT main_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    PAINTSTRUCT ps;
    BeginPaint(window_, &ps);
    EndPaint(window_, &ps);
    return 0;
}

LRESULT main_window_c::on_erase_background(UINT, WPARAM wparam, LPARAM, bool&) {
    RECT client{};
    GetClientRect(window_, &client);
    InflateRect(&client, -1, -1);
    FillRect(reinterpret_cast<HDC>(wparam), &client,
             static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    return 1;
}

LRESULT main_window_c::on_get_min_max_info(UINT, WPARAM, LPARAM lparam, bool&) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
    info->ptMinTrackSize.x = MAIN_WINDOW_WIDTH;
    info->ptMinTrackSize.y = MAIN_WINDOW_HEIGHT;
    return 0;
}

void main_window_c::show_page(HWND page) {
    if (!page || page == current_page_) return;
    if (current_page_) ShowWindow(current_page_, SW_HIDE);
    current_page_ = page;
    ShowWindow(page, SW_SHOW);
    SetFocus(page);
    RECT client{};
    GetClientRect(window_, &client);
    MoveWindow(page, 0, 0, client.right, client.bottom, TRUE);
}

void main_window_c::on_home_tab() {
    // A scan is under way from its start, before the first tick sets the phase.
    bool scanning = main_state_ == main_state_scanning || scan().scan_phase != 0;
    show_page(scanning ? scan_.handle() : home_.handle());
}

void main_window_c::show_tab_page(HWND page, const char* message_key) {
    if (main_state_ == main_state_results)
        show_page(page);
    else
        prompt_user(window_, text_for(message_key).c_str(), 1);
}

void main_window_c::on_download_tab() { show_tab_page(download().handle(), "home_download_msg"); }
void main_window_c::on_backup_tab() { show_tab_page(backup().handle(), "home_backup_msg"); }
void main_window_c::on_restore_tab() { show_tab_page(restore().handle(), "home_restore_msg"); }

void main_window_c::on_settings() {
    // A new language changes the tabs' font at once.
    if (show_settings_dialog(window_) == 1)
        RedrawWindow(window_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

void main_window_c::on_maximize_button() {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    GetWindowPlacement(window_, &placement);
    ShowWindow(window_, placement.showCmd == SW_SHOWMAXIMIZED ? SW_RESTORE : SW_MAXIMIZE);
}

void main_window_c::on_minimize_button() { ShowWindow(window_, SW_MINIMIZE); }

void main_window_c::on_logo() { shell().open_web_page(product_page_address().c_str()); }

// --- Menus --------------------------------------------------------------------

void main_window_c::relabel_menu(HMENU popup) {
    const struct {
        UINT id;
        const char* key;
    } items[] = {{ID_MENU_SETTINGS, "menu_settings"},
                 {ID_MENU_HELP, "menu_help"},
                 {ID_MENU_EXIT, "menu_exit"},
                 {ID_MENU_ABOUT, "menu_about"}};
    for (const auto& item : items)
        ModifyMenuW(popup, item.id, MF_BYCOMMAND | MF_STRING, item.id,
                    text_for(item.key).c_str());
}

void main_window_c::show_menu(HMENU popup, POINT at, UINT flags) {
    if (!popup) return;
    relabel_menu(popup);
    at = clamp_to_monitor(at);
    TrackPopupMenu(popup, TPM_LEFTALIGN | flags, at.x, at.y, 0, window_, nullptr);
}

void main_window_c::on_menu_button() {
    RECT window{}, client{};
    GetWindowRect(window_, &window);
    GetClientRect(window_, &client);
    show_menu(GetSubMenu(menu_, 0), POINT{window.left + client.right - 103, window.top + 10},
              TPM_RIGHTBUTTON);
}

LRESULT main_window_c::on_command(UINT, WPARAM wparam, LPARAM, bool& handled) {
    switch (LOWORD(wparam)) {
    case ID_MENU_SETTINGS:
        on_settings();
        break;
    case ID_MENU_HELP:
        shell().open_web_page((std::wstring(product_site_base(locale_code())) + L"help/").c_str());
        break;
    case ID_MENU_ABOUT: {
        about_window_c about;
        about.run_modal(window_);
        break;
    }
    case ID_MENU_EXIT:
        quit();
        break;
    default:
        handled = LOWORD(wparam) >= ID_MENU_SETTINGS && LOWORD(wparam) <= ID_MENU_EXIT;
        break;
    }
    return 0;
}

// --- Closing ----------------------------------------------------------------

LRESULT main_window_c::on_close(UINT, WPARAM, LPARAM, bool&) {
    close_request();
    return 0;
}

void main_window_c::on_close_button() { close_request(); }

void main_window_c::close_request() {
    if (current_settings.close_to_tray == 0) {
        quit();
        return;
    }
    if (current_settings.close_to_tray == 1) {
        prompt_user(window_, text_for("system_tray_warning").c_str(), 0);
        current_settings.close_to_tray = 2;
        save_settings();
    }
    // The tray icon brings a hidden window back.
    if (!finish_start_up()) return;
    ShowWindow(window_, SW_HIDE);
    if (notify_stage_ == 0) SetTimer(window_, AUTO_SCAN_TIMER_ID, AUTO_SCAN_PERIOD_MS, nullptr);
}

bool main_window_c::downloads_running() const { return any_downloading(); }

// A modal box of the window or one of its pages disables the window.
bool main_window_c::modal_box_open() const { return window_ && !IsWindowEnabled(window_); }

void main_window_c::quit() {
    // Exit chosen while a box of the window is open (from the tray menu):
    // each box ends as its close button ends it (No, Cancel), the code that
    // opened it goes on with that answer, and the exit comes back once the
    // boxes have gone. A box that will not close does not keep the exit
    // knocking for ever.
    if (modal_box_open() && exit_retries_ < MAX_EXIT_RETRIES && close_thread_dialogs() > 0) {
        ++exit_retries_;
        PostMessageW(window_, WM_COMMAND, ID_MENU_EXIT, 0);
        return;
    }
    exit_retries_ = 0;
    // Only a plain Yes quits while downloads or installations run.
    const bool installing = installations_running();
    if ((installing || downloads_running()) &&
        prompt_user(window_, text_for(installing ? "quit_confirm_install" : "quit_confirm").c_str(), 3) != 1)
        return;
    // An unpack ends at a safe point: its new folder goes, the old one
    // stays. An installer already started runs on by itself.
    if (installing) stop_unpacking();
    DestroyWindow(window_);
}

// --- Scans ------------------------------------------------------------------

LRESULT main_window_c::on_timer(UINT, WPARAM wparam, LPARAM, bool& handled) {
    if (wparam == START_UP_TIMER_ID) {
        finish_start_up();
        return 0;
    }
    if (wparam != AUTO_SCAN_TIMER_ID) {
        handled = false;
        return 0;
    }
    if (main_state_ != main_state_idle || modal_box_open()) return 0;
    KillTimer(window_, AUTO_SCAN_TIMER_ID);
    notify_stage_ = 1;
    SendMessageW(window_, UM_START_SCAN, 0, 0);
    return 0;
}

LRESULT main_window_c::on_start_scan(UINT, WPARAM, LPARAM, bool&) {
    // A worker still rebuilding the device store must not get a twin. Nor
    // does a scan start under an open message box: the row or page that
    // opened it goes on with its devices once the box closes, while a scan
    // would rebuild them and the rows with them. A running backup reads the
    // device records too.
    if (scan_.busy() || modal_box_open() || backup_.busy()) return 0;
    // A scan asked for before start-up has finished (by "--autoscan" or a
    // second launch) finishes it first, and waits for the system
    // information: the request names the PC's model.
    if (!finish_start_up() || !finish_system_info()) return 0;
    ++scans_started_;
    main_state_ = main_state_scanning;
    // The scan rebuilds the device store that the download rows show.
    download_.clear();
    show_page(scan_.handle());
    RedrawWindow(scan_.handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    scan_.scan_phase = 0;
    scan_.scan_start_time = now_seconds();
    SetTimer(scan_.handle(), SCAN_TIMER_ID, SCAN_TIMER_PERIOD_MS, nullptr);
    return 0;
}

LRESULT main_window_c::on_scan_done(UINT, WPARAM wparam, LPARAM, bool&) {
    main_state_ = main_state_results;
    scan_.scan_phase = 0;
    if (app_device_store) download_.fill(*app_device_store, static_cast<int>(wparam));
    show_page(download_.handle());
    save_demo_shot(window_, L"results.png");
    if (notify_stage_ == 1) {
        notify_new_drivers();
        notify_stage_ = 2;
    }
    return 0;
}

LRESULT main_window_c::on_scan_cancelled(UINT, WPARAM, LPARAM, bool&) {
    if (main_state_ == main_state_scanning) main_state_ = main_state_idle;
    // The scan is over: the Home tab shows the home page again.
    scan_.scan_phase = 0;
    show_page(home_.handle());
    return 0;
}

void main_window_c::notify_new_drivers() {
    int n = download_.out_of_date();
    if (n <= 0) return;
    if (tray_installed_) {
        tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        tray_.hIcon = new_driver_icon_;
        Shell_NotifyIconW(NIM_MODIFY, &tray_);
    }
    wchar_t text[32];
    format_text(text, 32, text_for("new_driver_notify").c_str(), n);
    tray_.uFlags = NIF_INFO;
    copy_text(tray_.szInfo, text);
    copy_text(tray_.szInfoTitle, APP_NAME);
    tray_.dwInfoFlags = NIIF_INFO;
    tray_.uTimeout = ~0u;
    Shell_NotifyIconW(NIM_MODIFY, &tray_);
}

LRESULT main_window_c::on_show_window(UINT, WPARAM wparam, LPARAM, bool& handled) {
    handled = false;  // default processing as well
    // The automatic scan is for a hidden window only: none starts in front
    // of the user.
    if (wparam) KillTimer(window_, AUTO_SCAN_TIMER_ID);
    if (wparam && notify_stage_ == 2) {
        if (tray_installed_) {
            tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
            tray_.hIcon = small_icon_;
            Shell_NotifyIconW(NIM_MODIFY, &tray_);
        }
        notify_stage_ = 3;
    }
    return 0;
}

LRESULT main_window_c::on_bring_to_front(UINT, WPARAM wparam, LPARAM, bool&) {
    ShowWindow(window_, SW_SHOW);
    if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
    SetForegroundWindow(window_);
    BringWindowToTop(window_);
    if (wparam != 0 && main_state_ != main_state_scanning)
        SendMessageW(window_, UM_START_SCAN, 0, 0);
    return 0;
}

LRESULT main_window_c::on_tray(UINT, WPARAM wparam, LPARAM lparam, bool&) {
    if (wparam != TRAY_ICON_ID) return 0;
    switch (LOWORD(lparam)) {
    case WM_LBUTTONUP:
        // A minimised window comes back as it was, instead of being hidden.
        if (IsWindowVisible(window_) && !IsIconic(window_)) {
            ShowWindow(window_, SW_HIDE);
        } else {
            ShowWindow(window_, SW_SHOW);
            if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
            SetForegroundWindow(window_);
        }
        break;
    case WM_RBUTTONUP: {
        HMENU menu = LoadMenuW(resource_module(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
        POINT at{};
        GetCursorPos(&at);
        // Only a menu of the foreground window closes when the user clicks
        // elsewhere.
        SetForegroundWindow(window_);
        show_menu(GetSubMenu(menu, 0), at, TPM_LEFTBUTTON);
        PostMessageW(window_, WM_NULL, 0, 0);
        if (menu) DestroyMenu(menu);
        break;
    }
    default:
        break;
    }
    return 0;
}
