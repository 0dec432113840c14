#include "ui/download_panel.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <windowsx.h>

#include <cstdio>
#include <cstring>

#include "app/language.h"
#include "app/settings.h"
#include "devices/category.h"
#include "devices/device_store.h"
#include "devices/system_info.h"
#include "downloads/download_session.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "service/scan_response.h"
#include "ui/config_window.h"
#include "ui/devinfo_window.h"
#include "ui/message_window.h"
#include "ui/page_class.h"
#include "ui/prompt.h"
#include "ui/skin/fonts.h"
#include "ui/skin/progress_bar.h"

namespace {

constexpr UINT CHECK_BOX_ID = 1;

bool process_is_admin() { return IsUserAnAdmin() != FALSE; }
admin_check_function admin_check = process_is_admin;

int line_height(HDC dc, font_id id) {
    HGDIOBJ old = SelectObject(dc, ui_font(id));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    return metrics.tmHeight;
}

void text_out(HDC dc, int x, int y, const std::wstring& text) {
    TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

bool is_french() { return lstrcmpW(current_language_name(), L"Français") == 0; }

// The point, or the nearest monitor's closest point when it lies off every
// monitor.
POINT onto_a_monitor(POINT p) {
    if (MonitorFromPoint(p, MONITOR_DEFAULTTONULL)) return p;
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST), &info)) return p;
    const RECT& r = info.rcMonitor;
    if (p.x < r.left) p.x = r.left;
    if (p.x >= r.right) p.x = r.right - 1;
    if (p.y < r.top) p.y = r.top;
    if (p.y >= r.bottom) p.y = r.bottom - 1;
    return p;
}

void set_menu_text(HMENU menu, UINT id, const std::wstring& text) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING;
    item.dwTypeData = const_cast<wchar_t*>(text.c_str());
    SetMenuItemInfoW(menu, id, FALSE, &item);
}

}  // namespace

// --- Plain parts -------------------------------------------------------------

row_line_heights measure_row_line_heights() {
    row_line_heights lines;
    HDC screen = GetDC(nullptr);
    lines.h1 = line_height(screen, font_id::verdana_9_bold);
    lines.h2 = line_height(screen, font_id::arial_8);
    ReleaseDC(nullptr, screen);
    return lines;
}

int download_row_height(int devices, const row_line_heights& lines) {
    return lines.h1 + lines.h2 * (2 * devices + 1) + 16 * devices + 24;
}

int row_device_top(int index, const row_line_heights& lines) {
    return lines.h1 + 2 * index * (lines.h2 + 8) + 16;
}

std::wstring progress_size_text(uint64_t done, uint64_t total) {
    const auto size = [](uint64_t bytes) { return format_size(static_cast<int64_t>(bytes)); };
    if (done > 0 && done < total) return size(done) + L"/" + size(total);
    return size(total);
}

float progress_fraction(uint64_t done, uint64_t total) {
    if (total == 0) return 0.0f;
    if (done >= total) return 1.0f;
    return static_cast<float>(static_cast<double>(done) / static_cast<double>(total));
}

std::wstring download_date_line(const device_record& device, const driver_offer& offer) {
    wchar_t line[128];
    if (lstrcmpW(device.DriverDate, offer.date.c_str()) < 0) {
        format_text(line, 128, text_for("download_date1").c_str(), device.DriverDate,
                    offer.date.c_str());
    } else if (lstrcmpW(offer.date.c_str(), L"0000-00-00") == 0) {
        format_text(line, 128, text_for("download_date3").c_str(), device.DriverDate);
    } else {
        format_text(line, 128, text_for("download_date2").c_str(), device.DriverDate,
                    offer.date.c_str());
    }
    return line;
}

int row_status_bitmap(const download_group& group) {
    for (const device_record* device : group.devices) {
        if (!device->has_driver) return IDB_STATUS_NO_DRIVER;
    }
    return group.not_update ? IDB_STATUS_UP_TO_DATE : IDB_STATUS_OUT_OF_DATE;
}

const char* row_button_key(int state) {
    switch (state) {
    case DOWNLOAD_NOT_DOWNLOADED: return "download_btn_download";
    case DOWNLOAD_RUNNING:
    case DOWNLOAD_QUEUED: return "download_btn_pause";
    case DOWNLOAD_PAUSED:
    case DOWNLOAD_ERROR: return "download_btn_resume";
    case DOWNLOAD_COMPLETE: return "download_btn_setup";
    default: return nullptr;
    }
}

const char* row_status_key(int state) {
    switch (state) {
    case DOWNLOAD_NOT_DOWNLOADED: return "download_not_download";
    case DOWNLOAD_RUNNING: return "download_downloading";
    case DOWNLOAD_PAUSED: return "download_download_paused";
    case DOWNLOAD_ERROR: return "download_download_error";
    case DOWNLOAD_COMPLETE: return "download_download_complete";
    case DOWNLOAD_QUEUED: return "download_queued";
    default: return nullptr;
    }
}

std::wstring row_status_text(int state, const std::wstring& signer, const char* refused_host) {
    auto formatted = [](const char* key, const std::wstring& value) {
        wchar_t text[512];
        format_text(text, 512, text_for(key).c_str(), value.c_str());
        return std::wstring(text);
    };
    if (state == DOWNLOAD_COMPLETE && !signer.empty()) return formatted("download_started_signed", signer);
    if (state == DOWNLOAD_ERROR && refused_host && refused_host[0]) {
        const std::string_view host(refused_host, strnlen(refused_host, sizeof(download_progress::refused_host)));
        return formatted("download_certificate_error", ansi_to_wide(host));
    }
    const char* key = row_status_key(state);
    return key ? text_for(key) : std::wstring();
}

std::wstring refused_file_label(const std::wstring& file, const std::wstring& package_path, const char* link) {
    std::wstring name = PathFindFileNameW(file.c_str());
    if (file == package_path && link) {
        const char* last = std::strrchr(link, '/');
        std::wstring from_link = ansi_to_wide(last ? last + 1 : link);
        if (!from_link.empty()) name = std::move(from_link);
    }
    constexpr std::size_t longest = 40;
    if (name.size() > longest) name = name.substr(0, 20) + L'\u2026' + name.substr(name.size() - 19);
    return name;
}

std::wstring select_in_explorer_parameters(const std::wstring& path) {
    wchar_t parameters[1024];
    format_text(parameters, 1024, L"/select,\"%s\"", path.c_str());
    return parameters;
}

std::wstring install_status_text(bool running, const install_report& report) {
    if (running) return text_for("install_state_running");
    switch (judge_installation(report)) {
    case install_verdict::none: return {};
    case install_verdict::installed: return text_for("install_state_installed");
    case install_verdict::restart_needed: return text_for("install_state_restart");
    case install_verdict::no_device_matched: return text_for("install_state_no_device");
    case install_verdict::failed:
        if (report.outcome == install_outcome::dpinst_started && !report.log.empty()) {
            wchar_t text[512];
            format_text(text, 512, text_for("install_state_failed_log").c_str(), report.log.c_str());
            return text;
        }
        return text_for("install_state_failed");
    case install_verdict::refused: return text_for("install_state_failed");
    case install_verdict::unknown:
        return text_for(report.outcome == install_outcome::folder_opened ? "install_state_folder"
                                                                        : "install_state_unknown");
    }
    return {};
}

admin_check_function set_admin_check(admin_check_function check) {
    admin_check_function previous = admin_check;
    admin_check = check ? check : process_is_admin;
    return previous;
}

void draw_row_button_text(const button_base_c& b, HDC dc, const RECT& r) {
    const std::wstring& label = b.shown_text();
    if (label.empty()) return;
    const int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT box = r;
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &box,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
    RestoreDC(dc, saved);
}

// --- The row ---------------------------------------------------------------------

download_panel_c::download_panel_c(const download_group& group, const device_store& store)
    : group_(group), store_(store), request_(std::make_shared<install_request>()) {}

download_panel_c::~download_panel_c() {
    // The window goes first (its timer and drawing objects with it).
    if (window_) DestroyWindow(window_);
    delete_drawing_objects();
}

namespace {

template <class H>
void delete_object(H& object) {
    if (object) DeleteObject(object);
    object = nullptr;
}

}  // namespace

void download_panel_c::delete_drawing_objects() {
    delete_object(frame_pen_);
    delete_object(fill_brush_);
    delete_object(background_);
    delete_object(bottom_line_);
}

HWND download_panel_c::create(HWND parent, int x, int y, int width) {
    place(x, y, width, measure_row_line_heights());
    return create_window(parent);
}

void download_panel_c::place(int x, int y, int width, const row_line_heights& lines) {
    lines_ = lines;
    panel = panel_geometry{x, y, width,
                           download_row_height(static_cast<int>(group_.devices.size()), lines_)};
}

HWND download_panel_c::create_window(HWND parent) {
    if (window_) return window_;
    if (!register_class(CLASS_NAME, CS_HREDRAW | CS_VREDRAW, nullptr, nullptr, nullptr,
                        LoadCursorW(nullptr, IDC_ARROW)))
        return nullptr;
    return window_base_c::create(CLASS_NAME, 0, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, L"",
                                 panel.x, panel.y, panel.width, panel.height, parent);
}

void download_panel_c::destroy_window() {
    if (window_) DestroyWindow(window_);
}

download_session_c& download_panel_c::find_session() {
    if (!session_) session_ = get_download_session(group_.link, group_.offer ? group_.offer->size : 0);
    return *session_;
}

bool download_panel_c::checked() const {
    return check_box_ ? SendMessageW(check_box_, BM_GETCHECK, 0, 0) == BST_CHECKED
                      : checked_ == BST_CHECKED;
}

bool download_panel_c::process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                       LRESULT& result) {
    static const message_entry<download_panel_c> map[] = {
        {WM_CREATE, &download_panel_c::on_create},
        {WM_DESTROY, &download_panel_c::on_destroy},
        {WM_PAINT, &download_panel_c::on_paint},
        {WM_ERASEBKGND, &download_panel_c::on_erase_background},
        {WM_SIZE, &download_panel_c::on_size},
        {WM_CONTEXTMENU, &download_panel_c::on_context_menu},
        {WM_COMMAND, &download_panel_c::on_command},
        {WM_TIMER, &download_panel_c::on_timer},
        {WM_MOUSEMOVE, &download_panel_c::on_mouse_move},
        {WM_MOUSELEAVE, &download_panel_c::on_mouse_leave},
        {WM_LBUTTONDOWN, &download_panel_c::on_button_down},
        {WM_LBUTTONUP, &download_panel_c::on_button_up},
        {WM_CTLCOLORSTATIC, &download_panel_c::on_control_colour},
        {UM_DOWNLOAD_ALL_CHECK, &download_panel_c::on_check_all},
        {UM_DOWNLOAD_ALL_START, &download_panel_c::on_start_all},
    };
    return dispatch_message(this, map, message, wparam, lparam, result);
}

LRESULT download_panel_c::on_create(UINT, WPARAM, LPARAM, bool&) {
    const uint64_t size = group_.offer ? group_.offer->size : 0;
    find_session();

    total_ = size;
    done_ = session_->progress().bytes_so_far;
    frame_pen_ = CreatePen(PS_SOLID, 1, ROW_PROGRESS_FRAME);
    fill_brush_ = CreateSolidBrush(ROW_PROGRESS_FILL);
    background_ = CreateSolidBrush(group_.not_update ? ROW_BACKGROUND_NOT_UPDATE
                                                     : ROW_BACKGROUND_UPDATE);
    bottom_line_ = CreateSolidBrush(ROW_BOTTOM_LINE);

    const int n = static_cast<int>(group_.devices.size());
    const int g = 2 * n * (lines_.h2 + 8);
    button_.create(resource_module(), IDB_ROW_BUTTON_NORMAL, IDB_ROW_BUTTON_HOVER,
                   IDB_ROW_BUTTON_PRESSED, 20, lines_.h1 + g + 8, 100, lines_.h1 + g + 30, L"");
    if (const char* key = row_button_key(session_->state())) button_.text_key = key;

    if (session_->busy()) {
        timer_running_ = SetTimer(window_, ROW_TIMER_ID, ROW_TIMER_MS, nullptr) != 0;
    }
    if (install_watched_ || install_running()) SetTimer(window_, INSTALL_TIMER_ID, ROW_TIMER_MS, nullptr);

    check_box_ = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 10,
                                 lines_.h1 + g + 16, 13, 13, window_,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(CHECK_BOX_ID)),
                                 nullptr, nullptr);
    if (check_box_) SendMessageW(check_box_, BM_SETCHECK, checked_, 0);

    status_bitmap_ = row_status_bitmap(group_);
    status_image_.load(resource_module(), status_bitmap_);
    status_image_.set_transparent_color(RGB(255, 255, 255));
    return 0;
}

LRESULT download_panel_c::on_destroy(UINT, WPARAM, LPARAM, bool&) {
    // The session goes on downloading; the next window of the row, or the
    // next row of its link, polls it.
    if (timer_running_) KillTimer(window_, ROW_TIMER_ID);
    timer_running_ = false;
    KillTimer(window_, INSTALL_TIMER_ID);  // watched again by the next window
    if (check_box_) checked_ = SendMessageW(check_box_, BM_GETCHECK, 0, 0);
    check_box_ = nullptr;
    tracking_mouse_ = false;
    button_.state = BUTTON_NORMAL;
    delete_drawing_objects();
    return 0;
}

RECT download_panel_c::button_rect() const {
    RECT client{};
    GetClientRect(window_, &client);
    return RECT{client.right - button_.rect.right, button_.rect.top,
                client.right - button_.rect.left, button_.rect.bottom};
}

bool download_panel_c::button_hit(int x, int y) const {
    RECT client{};
    GetClientRect(window_, &client);
    return button_.hit_test(x, y, client.left, client.top, client.right, client.bottom);
}

void download_panel_c::set_button_state(int state) {
    if (button_.state == state) return;
    button_.state = state;
    RECT r = button_rect();
    InvalidateRect(window_, &r, FALSE);
}

LRESULT download_panel_c::on_mouse_move(UINT, WPARAM, LPARAM lparam, bool&) {
    if (button_hit(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam))) {
        if (button_.state == BUTTON_NORMAL) set_button_state(BUTTON_HOVER);
        if (!tracking_mouse_) {
            // So that the button is no longer hot once the pointer leaves the row.
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof(track);
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = window_;
            tracking_mouse_ = TrackMouseEvent(&track) != FALSE;
        }
    } else {
        set_button_state(BUTTON_NORMAL);
    }
    return 0;
}

LRESULT download_panel_c::on_mouse_leave(UINT, WPARAM, LPARAM, bool&) {
    tracking_mouse_ = false;
    set_button_state(BUTTON_NORMAL);
    return 0;
}

LRESULT download_panel_c::on_button_down(UINT, WPARAM, LPARAM lparam, bool& handled) {
    if (button_hit(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)) &&
        button_.state != BUTTON_PRESSED) {
        set_button_state(BUTTON_PRESSED);
    } else {
        handled = false;
    }
    return 0;
}

LRESULT download_panel_c::on_button_up(UINT, WPARAM, LPARAM lparam, bool& handled) {
    if (button_hit(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)) &&
        button_.state != BUTTON_HOVER) {
        set_button_state(BUTTON_HOVER);
        button_action();
        if (window_) InvalidateRect(window_, nullptr, FALSE);
    } else {
        handled = false;
    }
    return 0;
}

void download_panel_c::start_download() {
    // A row without a window starts its session all the same: the session
    // finishes by itself, and the row's window, once it comes into view,
    // shows its progress.
    if (find_session().start() && session_->busy() && window_ && !timer_running_) {
        timer_running_ = SetTimer(window_, ROW_TIMER_ID, ROW_TIMER_MS, nullptr) != 0;
    }
    done_ = session_->progress().bytes_so_far;
    if (window_) InvalidateRect(window_, nullptr, FALSE);
}

void download_panel_c::button_action() {
    switch (find_session().state()) {
    case DOWNLOAD_RUNNING:
    case DOWNLOAD_QUEUED:
        session_->stop();
        break;
    case DOWNLOAD_COMPLETE:
        install();
        break;
    default:
        start_download();
        break;
    }
}

void download_panel_c::install() {
    // Only an explicit Yes goes on: No, the caption X, a box closed by Exit
    // or one that could not be shown all stop here.
    if (group_.not_update && prompt_user(window_, text_for("download_setup_warning").c_str(), 3) != 1)
        return;
    if (!admin_check()) {
        show_message(window_, text_for("download_setup_require").c_str(), 2);
        return;
    }
    // This row's installation, or another row's of the same package, runs:
    // the row shows it as installing.
    if (request_->installing == 1 || install_running()) return;

    request_->package_path = session_->final_path();
    request_->link = group_.link;
    request_->inf_names.clear();
    for (const device_record* device : group_.devices) {
        if (const driver_offer* offer = chosen_offer(*device, group_.choice))
            request_->inf_names.insert(offer->inf_name.c_str());
    }
    request_->installing = 1;

    install_environment environment = current_install_environment();
    environment.owner = GetAncestor(window_, GA_ROOT);
    // The job records the link once the installer reports success: it then
    // counts as installed at the next query.
    environment.installed_list = setup_dat_path();
    if (start_install_job(request_, std::move(environment)) == install_start::started) install_watched_ = true;
    if (window_) {
        SetTimer(window_, INSTALL_TIMER_ID, ROW_TIMER_MS, nullptr);
        InvalidateRect(window_, nullptr, FALSE);
    }
}

bool download_panel_c::install_running() const {
    return request_->installing != 0 ||
           (session_ && session_->state() == DOWNLOAD_COMPLETE && package_installing(session_->final_path()));
}

std::wstring download_panel_c::started_program_signer() const {
    if (request_->installing != 0 || request_->report.outcome != install_outcome::program_started) return {};
    return request_->report.signer;
}

void download_panel_c::report_install() {
    const install_report& report = request_->report;
    const char* key = nullptr;
    switch (report.outcome) {
    case install_outcome::program_refused: key = "install_unsigned"; break;
    case install_outcome::type_refused: key = "install_not_program"; break;
    case install_outcome::unpack_failed: key = "install_unpack_failed"; break;
    default: break;
    }
    InvalidateRect(window_, nullptr, FALSE);
    if (!key) return;
    wchar_t text[1024];
    format_text(text, 1024, text_for(key).c_str(),
                refused_file_label(report.file, request_->package_path, group_.link).c_str());
    if (show_message(window_, text, 5) == 1) {
        shell().start_program(window_, L"explorer.exe", select_in_explorer_parameters(report.file).c_str(),
                              SW_SHOWNORMAL);
    }
}

LRESULT download_panel_c::on_timer(UINT, WPARAM wparam, LPARAM, bool& handled) {
    if (wparam == INSTALL_TIMER_ID) {
        if (!install_running()) {
            KillTimer(window_, INSTALL_TIMER_ID);
            if (install_watched_) {
                install_watched_ = false;
                report_install();
            }
            InvalidateRect(window_, nullptr, FALSE);
        }
        return 0;
    }
    if (wparam != ROW_TIMER_ID) {
        handled = false;
        return 0;
    }
    // Once the session neither runs nor waits, its state is the outcome.
    if (!session_->busy()) {
        KillTimer(window_, ROW_TIMER_ID);
        timer_running_ = false;
    }
    done_ = session_->progress().bytes_so_far;
    InvalidateRect(window_, nullptr, FALSE);
    return 0;
}

LRESULT download_panel_c::on_check_all(UINT, WPARAM wparam, LPARAM, bool&) {
    check_for_all(wparam);
    return 0;
}

LRESULT download_panel_c::on_start_all(UINT, WPARAM, LPARAM, bool&) {
    start_if_checked();
    return 0;
}

void download_panel_c::check_for_all(WPARAM state) {
    if (group_.not_update) return;
    checked_ = state;
    if (check_box_) SendMessageW(check_box_, BM_SETCHECK, state, 0);
}

void download_panel_c::start_if_checked() {
    // The check comes first: only a checked row needs its session.
    if (!checked()) return;
    const int state = find_session().state();
    if (state == DOWNLOAD_NOT_DOWNLOADED || state == DOWNLOAD_PAUSED || state == DOWNLOAD_ERROR)
        start_download();
}

LRESULT download_panel_c::on_context_menu(UINT, WPARAM, LPARAM lparam, bool&) {
    POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    if (at.x == -1 && at.y == -1) {
        GetCursorPos(&at);  // from the keyboard
    } else {
        POINT client = at;
        ScreenToClient(window_, &client);
        if (button_hit(client.x, client.y)) return 0;
    }
    HMENU resource = LoadMenuW(resource_module(), MAKEINTRESOURCEW(IDR_ROW_MENU));
    if (!resource) return 0;
    HMENU menu = GetSubMenu(resource, 0);
    const int state = session_->state();
    if (const char* key = row_button_key(state)) set_menu_text(menu, ID_ROW_ACTION, text_for(key));
    set_menu_text(menu, ID_ROW_SETTINGS, text_for("menu_settings"));
    set_menu_text(menu, ID_ROW_INFORMATION, text_for("menu_information"));
    set_menu_text(menu, ID_ROW_REMOVE, text_for("menu_remove"));
    set_menu_text(menu, ID_ROW_OPEN_LOCATION, text_for("menu_open_location"));
    if (state == DOWNLOAD_NOT_DOWNLOADED || state == DOWNLOAD_RUNNING || state == DOWNLOAD_QUEUED)
        EnableMenuItem(menu, ID_ROW_REMOVE, MF_BYCOMMAND | MF_GRAYED);
    at = onto_a_monitor(at);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
    DestroyMenu(resource);
    return 0;
}

LRESULT download_panel_c::on_command(UINT, WPARAM wparam, LPARAM, bool& handled) {
    switch (LOWORD(wparam)) {
    case ID_ROW_SETTINGS:
        show_settings_dialog(GetAncestor(window_, GA_ROOT));
        break;
    case ID_ROW_INFORMATION:
        show_device_information(GetActiveWindow(), group_.devices);
        break;
    case ID_ROW_REMOVE:
        remove_download();
        break;
    case ID_ROW_ACTION:
        button_action();
        InvalidateRect(window_, nullptr, FALSE);
        break;
    case ID_ROW_OPEN_LOCATION:
        open_location();
        break;
    default:
        handled = false;
        break;
    }
    return 0;
}

void download_panel_c::remove_download() {
    if (prompt_user(window_, text_for("remove_confirm").c_str(), 3) != 1) return;
    if (!session_->remove()) return;  // the file stays: nothing changes
    done_ = 0;
    InvalidateRect(window_, nullptr, FALSE);
}

void download_panel_c::open_location() {
    const int state = session_->state();
    if (state == DOWNLOAD_NOT_DOWNLOADED) {
        shell().open_folder(current_settings.session_download_path);
        return;
    }
    const std::wstring& path =
        state == DOWNLOAD_COMPLETE ? session_->final_path() : session_->temporary_path();
    shell().start_program(window_, L"explorer.exe", select_in_explorer_parameters(path).c_str(),
                          SW_SHOWNORMAL);
}

LRESULT download_panel_c::on_control_colour(UINT, WPARAM wparam, LPARAM, bool&) {
    SetBkColor(reinterpret_cast<HDC>(wparam),
               group_.not_update ? ROW_BACKGROUND_NOT_UPDATE : ROW_BACKGROUND_UPDATE);
    return reinterpret_cast<LRESULT>(background_);
}

LRESULT download_panel_c::on_size(UINT, WPARAM, LPARAM, bool&) {
    InvalidateRect(window_, nullptr, FALSE);
    return 0;
}

LRESULT download_panel_c::on_erase_background(UINT, WPARAM, LPARAM, bool&) { return 1; }

LRESULT download_panel_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    paint_page(window_, [this](HDC dc, const RECT& client) { paint(dc, client); });
    return 0;
}

void download_panel_c::paint(HDC dc, const RECT& client) {
    const int W = client.right;
    FillRect(dc, &client, background_);
    RECT bottom{0, client.bottom - 1, W, client.bottom};
    FillRect(dc, &bottom, bottom_line_);

    const device_record* first = group_.devices.empty() ? nullptr : group_.devices.front();
    draw_category_header(dc, 0, 0, store_, first ? first->class_info : nullptr,
                         ui_font(font_id::verdana_9_bold), ROW_HEADING_TEXT);

    const int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    const int n = static_cast<int>(group_.devices.size());
    for (int i = 0; i < n; ++i) {
        const device_record& device = *group_.devices[i];
        const int y = row_device_top(i, lines_);
        SelectObject(dc, ui_font(font_id::verdana_8));
        RECT name{35, y, W, y + lines_.h2 + 8};
        DrawTextW(dc, device.display_name, -1, &name,
                  DT_SINGLELINE | DT_LEFT | DT_TOP | DT_NOPREFIX | DT_WORD_ELLIPSIS);
        if (group_.offer) {
            SelectObject(dc, ui_font(font_id::arial_8));
            text_out(dc, 35, y + lines_.h2 + 8, download_date_line(device, *group_.offer));
        }
        status_image_.draw(dc, 8, y);
    }
    paint_bottom_line(dc, W);
    RestoreDC(dc, saved);
}

// Between the WHQL mark and the progress bar; a long log path gives way
// in its middle.
void download_panel_c::paint_install_status(HDC dc, int W, int y) {
    const bool running = install_running();
    // The report is the job's until it ends.
    const std::wstring text = install_status_text(running, running ? install_report{} : request_->report);
    RECT box{80, y, W - 440, y + lines_.h2 + 4};
    if (text.empty() || box.right <= box.left) return;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
              DT_SINGLELINE | DT_LEFT | DT_TOP | DT_NOPREFIX | DT_PATH_ELLIPSIS);
}

void download_panel_c::paint_bottom_line(HDC dc, int W) {
    const int y = row_device_top(static_cast<int>(group_.devices.size()), lines_);
    SelectObject(dc, ui_font(font_id::arial_8));
    if (group_.offer && group_.offer->sign == 0) {
        SetTextColor(dc, ROW_WHQL_TEXT);
        text_out(dc, 35, y, L"WHQL");
    }

    const RECT bar{W - 430, y, W - 280, y + 13};
    HGDIOBJ old_pen = SelectObject(dc, frame_pen_);
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, bar.left, bar.top, bar.right, bar.bottom);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    RECT done{bar.left + 1, bar.top + 1,
              progress_fill_right(bar.left + 1, bar.right - 1, progress_fraction(done_, total_)),
              bar.bottom - 1};
    if (done.right > done.left) FillRect(dc, &done, fill_brush_);
    SelectObject(dc, ui_font(font_id::verdana_8));
    SetTextColor(dc, ROW_HEADING_TEXT);
    const std::wstring sizes = progress_size_text(done_, total_);
    RECT on_bar = bar;
    DrawTextW(dc, sizes.c_str(), static_cast<int>(sizes.size()), &on_bar,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);

    const int state = session_->state();
    SelectObject(dc, ui_font(font_id::arial_8));
    SetTextColor(dc, ROW_STATUS_TEXT);
    // A failed download's host is read only once its worker has ended, as
    // an error state says it has.
    const std::wstring status =
        row_status_text(state, started_program_signer(), session_->progress().refused_host);
    text_out(dc, is_french() ? W - 260 : W - 250, y, status);
    paint_install_status(dc, W, y);
    if (const char* key = row_button_key(state)) button_.text_key = key;
    button_.draw(dc, 0, 0, W, y + 40);
}
