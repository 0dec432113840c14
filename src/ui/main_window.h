// The program's only top-level window: the skinned frame with the navigation
// tabs, caption buttons and logo; one page at a time in its client area; the
// tray icon with its menu and balloon; close to tray; the automatic scan
// while hidden; the scan messages and the hand-over from a second instance.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "ui/messages.h"

#include "ui/home_window.h"
#include "ui/backup_pages.h"
#include "ui/download_window.h"
#include "ui/scan_window.h"
#include "ui/skin/image.h"
#include "ui/skin/message_loop.h"
#include "ui/skin/ui_window.h"
#include "ui/skin/window.h"

// Window class of the main window; its title is "Quillmark".
constexpr const wchar_t* MAIN_WINDOW_CLASS = L"Quillmark.MainWindow";
constexpr int MAIN_WINDOW_WIDTH = 800;
constexpr int MAIN_WINDOW_HEIGHT = 600;
constexpr int MAIN_CAPTION_HEIGHT = 100;
// The automatic scan 15 minutes after the window was hidden to the tray.
constexpr UINT_PTR AUTO_SCAN_TIMER_ID = 0;
constexpr UINT AUTO_SCAN_PERIOD_MS = 900000;
// The rest of start-up, once the first frame is shown.
constexpr UINT_PTR START_UP_TIMER_ID = 1;
constexpr UINT TRAY_ICON_ID = 333;

// A registered message ("Quillmark.ScanState") the window answers with its
// scan state: low word main_state, high word the number of scans started.
// Lets a watching program (tests, support tools) see what the window does.
UINT scan_state_message();

enum main_state_value : int {
    main_state_idle = 0,
    main_state_scanning = 1,
    main_state_results = 3,
};

class main_window_c : public window_base_c,
                      public ui_window_c<main_window_c>,
                      public message_filter,
                      public idle_handler {
public:
    main_window_c();
    ~main_window_c() override;

    // Creates the window (hidden, centred; the caller shows it). Null on
    // failure. Tests give another title and class, so that no second
    // instance or watching program takes their window for the program's.
    HWND create(HINSTANCE instance, const wchar_t* title = APP_NAME,
                const wchar_t* class_name = MAIN_WINDOW_CLASS);
    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;
    bool pre_translate_message(MSG&) override { return false; }
    bool on_idle() override { return false; }
    // The top strip of the caption.
    void draw_caption_items(HDC dc, const RECT& area);

    int main_state() const { return main_state_; }
    int notify_stage() const { return notify_stage_; }
    HWND current_page() const { return current_page_; }
    bool tray_icon_installed() const { return tray_installed_; }
    UINT tray_message() const { return tray_message_; }
    // Explorer's registered "TaskbarCreated", broadcast when the taskbar
    // starts again (after Explorer ended): the tray icon is added anew.
    UINT taskbar_created_message() const { return taskbar_created_message_; }
    home_window_c& home() { return home_; }
    // The pages after the home page are made when first asked for, or once
    // the first frame is shown (finish_start_up_later).
    scan_window_c& scan() { return create_pages(), scan_; }
    download_window_c& download() { return create_pages(), download_; }
    backup_window_c& backup() { return create_pages(), backup_; }
    restore_window_c& restore() { return create_pages(), restore_; }

    // Once the shown window has painted its first frame and the loop is
    // idle, start-up finishes (finish_start_up): the system information, the
    // other pages, the tray icon and the process objects. It ends, with the
    // window, when the system information or the process objects fail.
    void finish_start_up_later();

    // Caption button actions.
    void on_home_tab();
    void on_download_tab();
    void on_backup_tab();
    void on_restore_tab();
    void on_settings();
    void on_close_button();
    void on_maximize_button();
    void on_minimize_button();
    void on_menu_button();
    void on_logo();

    void show_page(HWND page);
    void close_request();
    void quit();

private:
    LRESULT on_create(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_destroy(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_size(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_set_focus(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_close(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_show_window(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_get_min_max_info(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_command(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_timer(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_start_scan(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_scan_done(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_scan_cancelled(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_bring_to_front(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_tray(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_system_info(UINT, WPARAM, LPARAM, bool&);

    void create_caption_buttons();
    // Makes the pages after the home page, once.
    void create_pages();
    // What the first frame does not need: the other pages, the tray icon
    // and (app_finish_init) the process objects. Called by the start-up
    // timer, and before a scan or a hide to the tray that come earlier.
    // False when start-up failed: the window is then destroyed.
    bool finish_start_up();
    // Publishes the system information that start-up collects on a thread,
    // waiting for it when it is not there yet, and redraws the sidebars.
    // False when it failed: the window is then destroyed.
    bool finish_system_info();
    void load_icons();
    void install_tray_icon();
    // Adds the icon again, as it was, to a taskbar that has started anew.
    void restore_tray_icon();
    void notify_new_drivers();
    void show_tab_page(HWND page, const char* message_key);
    void relabel_menu(HMENU popup);
    void show_menu(HMENU popup, POINT at, UINT flags);
    bool downloads_running() const;
    bool modal_box_open() const;

    // The tray part.
    UINT tray_message_ = 0;
    UINT taskbar_created_message_ = 0;
    NOTIFYICONDATAW tray_{};
    bool tray_installed_ = false;
    // The caption's top strip and the logo.
    image_c strip_;
    HBRUSH strip_brush_ = nullptr;
    image_c logo_;
    HICON large_icon_ = nullptr;
    HICON small_icon_ = nullptr;
    HICON new_driver_icon_ = nullptr;
    // The pages, in creation order.
    home_window_c home_;
    scan_window_c scan_;
    download_window_c download_;
    backup_window_c backup_;
    restore_window_c restore_;
    bool pages_created_ = false;
    bool start_up_finished_ = false;
    bool system_info_shown_ = false;
    HWND current_page_ = nullptr;
    int main_state_ = main_state_idle;
    HMENU menu_ = nullptr;
    button_c<main_window_c>* maximize_button_ = nullptr;
    int notify_stage_ = 0;
    unsigned scans_started_ = 0;
    // Exits put off in a row while boxes were being closed.
    static constexpr int MAX_EXIT_RETRIES = 20;
    int exit_retries_ = 0;
};
