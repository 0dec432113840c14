#include "ui/config_window.h"

#include <shlwapi.h>

#include "app/language.h"
#include "app/scheduled_task.h"
#include "downloads/download_names.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/demo_shots.h"
#include "ui/prompt.h"
#include "ui/skin/fonts.h"

namespace {

constexpr COLORREF WHITE = RGB(255, 255, 255);
// Once, half a second after opening, when the dialog is on the screen: the
// demonstration picture.
constexpr UINT_PTR DEMO_SHOT_TIMER_ID = 1;
constexpr UINT DEMO_SHOT_DELAY_MS = 500;

bool wide_check_boxes_fit() { return !(locale_is(L"fr") || locale_is(L"es") || locale_is(L"pt")); }

bool path_is_directory(const wchar_t* path) { return PathIsDirectoryW(path) != FALSE; }

// The settings dialog on the screen, if any.
HWND open_settings_dialog = nullptr;

}  // namespace

// --- Layout -------------------------------------------------------------------

const config_control_place* config_control_places(int& count) {
    static config_control_place places[] = {
        {IDC_CONFIG_DOWNLOAD_PATH, 100, 58, 350, 18, nullptr},
        {IDC_CONFIG_BACKUP_PATH, 100, 110, 350, 18, nullptr},
        {IDC_CONFIG_CLOSE_TO_TRAY, 95, 170, 205, 16, "config_close_to_system_tray"},
        {IDC_CONFIG_AUTORUN, 95, 230, 205, 16, "config_start_when_windows_startup"},
        {IDC_CONFIG_SCAN_OFFLINE, 340, 170, 280, 16, "config_scan_non_present_devices"},
        {IDC_CONFIG_SCHEDULED_SCAN, 340, 230, 280, 16, "config_enable_scheduled_automatic_scan"},
        {IDC_CONFIG_LANGUAGE, 95, 290, 200, 200, nullptr},
    };
    const int check_width = wide_check_boxes_fit() ? 205 : 200;
    places[2].width = places[3].width = check_width;
    count = static_cast<int>(sizeof(places) / sizeof(places[0]));
    return places;
}

const config_control_place* config_button_places(int& count) {
    static const config_control_place places[] = {
        {IDC_CONFIG_BROWSE_DOWNLOAD, 468, 54, 80, 22, "top_download"},
        {IDC_CONFIG_BROWSE_BACKUP, 468, 105, 80, 22, "top_backup"},
        {IDCANCEL, 155, 360, 80, 22, "btn_cancel"},
        {IDOK, 375, 360, 80, 22, "btn_ok"},
    };
    count = static_cast<int>(sizeof(places) / sizeof(places[0]));
    return places;
}

const config_label config_labels[7] = {
    {"config_download_path", 93, 32}, {"config_backup_path", 93, 86},
    {"config_close_option", 95, 150}, {"config_startup_option", 95, 210},
    {"config_scan_option", 340, 150}, {"config_scheduled_task", 340, 210},
    {"config_language", 95, 268},
};

RECT config_edit_frame(const RECT& edit) {
    return RECT{edit.left - 2 - 5, edit.top - 2 - 3, edit.right - 2 + 5, edit.bottom - 2 + 3};
}

POINT config_decoration_point() { return POINT{wide_check_boxes_fit() ? 300 : 320, 140}; }

// --- Decisions ----------------------------------------------------------------

config_choices config_choices_from(app_settings& s) {
    for (DWORD* value : {&s.autorun, &s.scan_offline, &s.scheduled_scan})
        if (*value > 2) *value = 0;
    config_choices c;
    c.download_path = s.download_path;
    c.backup_path = s.backup_path;
    c.close_to_tray = s.close_to_tray == 1 || s.close_to_tray == 2;
    c.autorun = s.autorun != 0;
    c.scan_offline = s.scan_offline != 0;
    c.scheduled_scan = s.scheduled_scan != 0;
    c.language = current_language;
    return c;
}

config_problem check_config_folders(const std::wstring& download, const std::wstring& backup,
                                    bool (*is_directory)(const wchar_t* path)) {
    const bool download_fits = download.size() < MAX_PATH;
    const bool backup_fits = backup.size() < MAX_PATH;
    if (download_fits && !is_directory(download.c_str()))
        return config_problem::download_folder_missing;
    if (download_fits && !download_folder_fits(download.c_str()))
        return config_problem::download_folder_too_deep;
    if (backup_fits && !is_directory(backup.c_str())) return config_problem::backup_folder_missing;
    if (!download_fits) return config_problem::download_path_too_long;
    if (!backup_fits) return config_problem::backup_path_too_long;
    return config_problem::none;
}

DWORD close_to_tray_after(bool checked, DWORD current) {
    if (!checked) return 0;
    return current == 1 || current == 2 ? current : 1;
}

bool apply_config_choices(const config_choices& c, app_settings& s) {
    copy_text(s.download_path, c.download_path);
    copy_text(s.backup_path, c.backup_path);
    s.autorun = c.autorun;
    s.scan_offline = c.scan_offline;
    s.scheduled_scan = c.scheduled_scan;
    bool language_changed = false;
    if (c.language != current_language && c.language >= 0 &&
        c.language < static_cast<int>(language_names.size())) {
        copy_text(s.language, language_names[c.language]);
        current_language = c.language;
        language_changed = true;
    }
    s.close_to_tray = close_to_tray_after(c.close_to_tray, s.close_to_tray);
    return language_changed;
}

bool scheduled_scan_needs_reset(bool checked, DWORD saved) { return checked != (saved != 0); }

// --- The dialog -----------------------------------------------------------------

int show_settings_dialog(HWND owner) {
    // One dialog at a time: the tray menu still reaches the main window while
    // the dialog is open, and a second dialog's OK would be overwritten by
    // the first one's.
    if (open_settings_dialog) {
        SetForegroundWindow(open_settings_dialog);
        return 2;
    }
    HWND top = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
    config_window_c dialog;
    return dialog.run_modal(top ? top : owner);
}

config_window_c::config_window_c()
    : skinned_dialog_c(IDD_CONFIG_DIALOG, CONFIG_DIALOG_CAPTION, CONFIG_DIALOG_WIDTH,
                       CONFIG_DIALOG_HEIGHT) {}

config_window_c::~config_window_c() {
    if (frame_brush_) DeleteObject(frame_brush_);
}

bool config_window_c::process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                      LRESULT& result) {
    static const message_entry<config_window_c> map[] = {
        {WM_COMMAND, &config_window_c::on_command},
        {WM_CTLCOLOREDIT, &config_window_c::on_control_color},
        {WM_CTLCOLORSTATIC, &config_window_c::on_control_color},
        {WM_CTLCOLORBTN, &config_window_c::on_control_color},
        {WM_DESTROY, &config_window_c::on_destroy},
        {WM_TIMER, &config_window_c::on_demo_shot},
    };
    // The skinned frame and the dialog's painting first; the commands of
    // push buttons 1 and 2 never reach it, as OK may keep the dialog open.
    if (message != WM_COMMAND &&
        skinned_dialog_c::process_message(window, message, wparam, lparam, result))
        return true;
    return dispatch_message(this, map, message, wparam, lparam, result);
}

void config_window_c::set_up(HINSTANCE module) {
    open_settings_dialog = window_;
    SetWindowTextW(window_, text_for("menu_settings").c_str());

    button_images_ = create_button_image_list(module, 80, 22, IDB_DIALOG_BUTTON_NORMAL,
                                              IDB_DIALOG_BUTTON_PRESSED, IDB_DIALOG_BUTTON_HOVER);
    int count = 0;
    const config_control_place* buttons = config_button_places(count);
    for (int i = 0; i < count; ++i) {
        bitmap_button_c& b = i < 2 ? browse_buttons_[i] : buttons_[buttons[i].id - 1];
        b.subclass(window_, buttons[i].id, button_images_, ui_font(font_id::verdana_8_bold), WHITE);
        b.move_to(buttons[i].x, buttons[i].y);
        b.set_text(text_for(buttons[i].key).c_str());
    }

    const config_control_place* places = config_control_places(count);
    for (int i = 0; i < count; ++i) {
        HWND control = GetDlgItem(window_, places[i].id);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(ui_font(font_id::verdana_8)),
                     FALSE);
        SetWindowPos(control, nullptr, places[i].x, places[i].y, places[i].width, places[i].height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (places[i].key) SetWindowTextW(control, text_for(places[i].key).c_str());
    }

    const config_choices c = config_choices_from(current_settings);
    HWND list = GetDlgItem(window_, IDC_CONFIG_LANGUAGE);
    for (const std::wstring& name : language_names)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(c.language), 0);

    SetDlgItemTextW(window_, IDC_CONFIG_DOWNLOAD_PATH, c.download_path.c_str());
    SetDlgItemTextW(window_, IDC_CONFIG_BACKUP_PATH, c.backup_path.c_str());
    CheckDlgButton(window_, IDC_CONFIG_CLOSE_TO_TRAY,
                   c.close_to_tray ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_CONFIG_AUTORUN, c.autorun ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_CONFIG_SCAN_OFFLINE, c.scan_offline ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_CONFIG_SCHEDULED_SCAN,
                   c.scheduled_scan ? BST_CHECKED : BST_UNCHECKED);

    decoration_.load(module, IDB_SETTINGS_DECORATION);
    frame_brush_ = CreateSolidBrush(CONFIG_LABEL_COLOR);
    SetTimer(window_, DEMO_SHOT_TIMER_ID, DEMO_SHOT_DELAY_MS, nullptr);
}

void config_window_c::erase_background(HDC dc, const RECT& client) {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

void config_window_c::paint(HDC dc) {
    HGDIOBJ old_font = SelectObject(dc, ui_font(font_id::verdana_8_bold));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, CONFIG_LABEL_COLOR);
    for (const config_label& label : config_labels) {
        const std::wstring& text = text_for(label.key);
        TextOutW(dc, label.x, label.y, text.c_str(), static_cast<int>(text.size()));
    }
    SelectObject(dc, old_font);
    for (int id : {IDC_CONFIG_DOWNLOAD_PATH, IDC_CONFIG_BACKUP_PATH}) {
        RECT frame = config_edit_frame(control_rect(id));
        FrameRect(dc, &frame, frame_brush_);
    }
    const POINT at = config_decoration_point();
    decoration_.draw(dc, at.x, at.y);
}

LRESULT config_window_c::on_control_color(UINT, WPARAM wparam, LPARAM, bool&) {
    HDC dc = reinterpret_cast<HDC>(wparam);
    SetBkMode(dc, TRANSPARENT);
    SetBkColor(dc, WHITE);
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

LRESULT config_window_c::on_command(UINT, WPARAM wparam, LPARAM, bool& handled) {
    if (HIWORD(wparam) != BN_CLICKED) {
        handled = false;
        return 0;
    }
    switch (LOWORD(wparam)) {
    case IDOK:
        confirm();
        break;
    case IDCANCEL:
        end_dialog(2);
        break;
    case IDC_CONFIG_BROWSE_DOWNLOAD:
        browse(IDC_CONFIG_DOWNLOAD_PATH);
        break;
    case IDC_CONFIG_BROWSE_BACKUP:
        browse(IDC_CONFIG_BACKUP_PATH);
        break;
    case IDC_CONFIG_SCHEDULED_SCAN:
        scheduled_scan_clicked();
        break;
    default:
        handled = false;
        break;
    }
    return 0;
}

// However the dialog is left without OK (Cancel, Escape, the caption close
// button), the trigger goes back to what the saved setting says.
LRESULT config_window_c::on_destroy(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    if (open_settings_dialog == window_) open_settings_dialog = nullptr;
    const bool checked = IsDlgButtonChecked(window_, IDC_CONFIG_SCHEDULED_SCAN) == BST_CHECKED;
    const DWORD saved = current_settings.scheduled_scan;
    if (!confirmed_ && scheduled_scan_needs_reset(checked, saved))
        enable_scheduled_task(saved != 0);
    return 0;
}

LRESULT config_window_c::on_demo_shot(UINT, WPARAM wparam, LPARAM, bool& handled) {
    if (wparam != DEMO_SHOT_TIMER_ID) {
        handled = false;
        return 0;
    }
    KillTimer(window_, DEMO_SHOT_TIMER_ID);
    save_demo_shot(window_, L"settings.png");
    return 0;
}

void config_window_c::browse(int edit_id) {
    std::wstring folder = shell().browse_for_folder(GetActiveWindow());
    if (!folder.empty()) SetDlgItemTextW(window_, edit_id, folder.c_str());
}

void config_window_c::scheduled_scan_clicked() {
    if (IsDlgButtonChecked(window_, IDC_CONFIG_SCHEDULED_SCAN) == BST_CHECKED) {
        // A task made at an earlier check is kept: creating it again fails.
        create_scheduled_task();
        enable_scheduled_task(true);
        edit_scheduled_task(window_);
    } else {
        enable_scheduled_task(false);
    }
}

void config_window_c::confirm() {
    const config_choices c = read_choices();
    switch (check_config_folders(c.download_path, c.backup_path, path_is_directory)) {
    case config_problem::download_folder_missing:
    case config_problem::backup_folder_missing:
        MessageBoxW(window_, L"invalid download path", L"Quillmark", MB_OK);
        return;
    case config_problem::download_folder_too_deep: {
        wchar_t text[512];
        format_text(text, 512, text_for("download_folder_too_long").c_str(),
                    static_cast<int>(download_folder_longest(c.download_path.c_str())));
        prompt_user(window_, text, 0);
        SetFocus(GetDlgItem(window_, IDC_CONFIG_DOWNLOAD_PATH));
        return;
    }
    case config_problem::download_path_too_long:
        // Nothing is taken: the user's other changes stay in the dialog.
        MessageBeep(MB_OK);
        SetFocus(GetDlgItem(window_, IDC_CONFIG_DOWNLOAD_PATH));
        return;
    case config_problem::backup_path_too_long:
        MessageBeep(MB_OK);
        SetFocus(GetDlgItem(window_, IDC_CONFIG_BACKUP_PATH));
        return;
    case config_problem::none:
        break;
    }
    if (apply_config_choices(c, current_settings))
        prompt_user(window_, text_for("config_language_change_notice").c_str(), 0);
    save_settings();
    confirmed_ = true;
    end_dialog(1);
}

config_choices config_window_c::read_choices() const {
    config_choices c;
    c.download_path = edit_text(IDC_CONFIG_DOWNLOAD_PATH);
    c.backup_path = edit_text(IDC_CONFIG_BACKUP_PATH);
    c.close_to_tray = IsDlgButtonChecked(window_, IDC_CONFIG_CLOSE_TO_TRAY) == BST_CHECKED;
    c.autorun = IsDlgButtonChecked(window_, IDC_CONFIG_AUTORUN) == BST_CHECKED;
    c.scan_offline = IsDlgButtonChecked(window_, IDC_CONFIG_SCAN_OFFLINE) == BST_CHECKED;
    c.scheduled_scan = IsDlgButtonChecked(window_, IDC_CONFIG_SCHEDULED_SCAN) == BST_CHECKED;
    LRESULT selected = SendDlgItemMessageW(window_, IDC_CONFIG_LANGUAGE, CB_GETCURSEL, 0, 0);
    c.language = selected == CB_ERR ? current_language : static_cast<int>(selected);
    return c;
}

std::wstring config_window_c::edit_text(int id) const {
    HWND edit = GetDlgItem(window_, id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    int n = GetWindowTextW(edit, &text[0], static_cast<int>(text.size()));
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

RECT config_window_c::control_rect(int id) const {
    RECT r{};
    GetWindowRect(GetDlgItem(window_, id), &r);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
    return r;
}
