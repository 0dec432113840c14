// The rows bring libcurl's winsock2.h, which must come before windows.h.
#include "ui/download_panel.h"

#include "ui/download_window.h"

#include <algorithm>
#include <memory>
#include <string>

#include "app/language.h"
#include "devices/device_store.h"
#include "resources/resource.h"
#include "ui/page_class.h"
#include "ui/prompt.h"
#include "ui/skin/colors.h"
#include "ui/skin/wrapped_text.h"

namespace {

constexpr int WHQL_LINE_GAP = 2;
constexpr int FAQ_GAP = 4;  // between the WHQL text and the link below it

void move_to(HWND window, const RECT& r) {
    if (window) MoveWindow(window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

void text_out(HDC dc, int x, int y, const std::wstring& text) {
    TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

int text_width(HDC dc, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// A single-line text centred in a box.
void text_centred(HDC dc, const std::wstring& text, RECT box) {
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
}

HWND create_control(HWND parent, const wchar_t* kind, DWORD style, int id) {
    HWND control = CreateWindowExW(0, kind, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
                                   nullptr);
    if (control)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(ui_font(font_id::verdana_8)), 0);
    return control;
}

HBRUSH pattern_brush(int id) {
    image_c image;
    return image.load(resource_module(), id) ? CreatePatternBrush(image.bitmap()) : nullptr;
}

void load_status_image(image_c& image, int id) {
    image.load(resource_module(), id);
    image.set_transparent_color(RGB(255, 255, 255));
}

}  // namespace

// --- Plain parts -------------------------------------------------------------

download_page_layout download_page_layout_for(int W, int H, bool wide_choice) {
    const int widen = wide_choice ? 30 : 0;
    const int rows_width = std::max(0, W - DOWNLOAD_SIDEBAR_WIDTH);
    const int top = DOWNLOAD_HEADER_HEIGHT + DOWNLOAD_CHOICE_HEIGHT;
    download_page_layout l;
    l.list = RECT{0, top, rows_width, std::max(top, H - DOWNLOAD_ALL_HEIGHT)};
    l.bar = RECT{0, H - DOWNLOAD_ALL_HEIGHT, rows_width, H};
    l.best = RECT{W - 460 - widen, 45, W - 350, 65};
    l.latest = RECT{W - 340 - widen, 45, W - 260, 65};
    l.pie = RECT{W - 239, 121, W - 239 + 228, 121 + 109};
    l.faq = RECT{W - 141, 411, W - 141 + 120, 411 + 19};
    return l;
}

bool download_choice_is_wide() {
    return locale_is(L"fr") || locale_is(L"es") || locale_is(L"pt") || locale_is(L"nl");
}

int download_score(const download_counters& c) {
    const int64_t t = c.total_with_offers;
    if (t <= 0) return 100;  // no offer at all: nothing is out of date
    const int64_t u = std::max<int64_t>(0, c.up_to_date());
    return static_cast<int>(u * u * 100 / (t * t));
}

COLORREF download_score_color(int score) {
    return score < 70 ? DOWNLOAD_SCORE_LOW : DOWNLOAD_SCORE_GOOD;
}

const char* download_header_key(int n) {
    if (n <= 0) return "download_new_drivers_found3";
    return n <= 8 ? "download_new_drivers_found1" : "download_new_drivers_found2";
}

bool download_header_shows_number(int n) { return n > 8; }

font_id download_header_font() {
    return locale_is(L"it") || locale_is(L"es") || locale_is(L"nl") ? font_id::verdana_12
                                                                     : font_id::verdana_14;
}

font_id download_score_title_font() {
    return lstrcmpW(current_language_name(), L"Deutsch") == 0 ? font_id::verdana_8
                                                               : font_id::verdana_10;
}

std::vector<download_slice> download_slices(const download_counters& c) {
    return {{"sidebar_out_of_date", 0xFFFF0000u, c.out_of_date},
            {"sidebar_no_driver", 0xFFFFFF00u, c.no_driver},
            {"sidebar_up_to_date", 0xFF16CD1Fu, c.up_to_date()}};
}

RECT download_whql_box(int W) { return RECT{W - 230, 390, W - 20, 470}; }

int download_whql_bottom(HDC dc, int W) {
    const RECT box = download_whql_box(W);
    RECT measured = box;
    draw_wrapped_text(dc, text_for("sidebar_whql"), measured, WHQL_LINE_GAP, wrap_mode::measure);
    // Lines below the box are not drawn.
    return std::min(measured.bottom, box.bottom);
}

// --- The download-all bar ----------------------------------------------------------

download_all_window_c::~download_all_window_c() {
    if (window_) DestroyWindow(window_);
    if (images_) ImageList_Destroy(images_);
    if (background_) DeleteObject(background_);
    if (line_) DeleteObject(line_);
}

HWND download_all_window_c::create(HWND parent, const RECT& r, UINT id) {
    if (!register_class(CLASS_NAME, 0, nullptr, nullptr, nullptr, LoadCursorW(nullptr, IDC_ARROW)))
        return nullptr;
    return window_base_c::create(CLASS_NAME, 0, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, L"",
                                 r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

bool download_all_window_c::process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                            LRESULT& result) {
    static const message_entry<download_all_window_c> map[] = {
        {WM_CREATE, &download_all_window_c::on_create},
        {WM_SIZE, &download_all_window_c::on_size},
        {WM_COMMAND, &download_all_window_c::on_command},
        {WM_PAINT, &download_all_window_c::on_paint},
        {WM_ERASEBKGND, &download_all_window_c::on_erase_background},
        {WM_CTLCOLORSTATIC, &download_all_window_c::on_control_colour},
    };
    return dispatch_message(this, map, message, wparam, lparam, result);
}

LRESULT download_all_window_c::on_create(UINT, WPARAM, LPARAM, bool&) {
    background_ = CreateSolidBrush(SKIN_SIDEBAR);
    line_ = CreateSolidBrush(SKIN_SIDEBAR_LINE);
    check_box_ = create_control(window_, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, CHECK_ID);
    images_ = create_button_image_list(resource_module(), BUTTON_WIDTH, BUTTON_HEIGHT,
                                       IDB_DOWNLOAD_ALL_NORMAL, IDB_DOWNLOAD_ALL_PRESSED,
                                       IDB_DOWNLOAD_ALL_HOVER);
    create_control(window_, L"BUTTON", WS_TABSTOP, BUTTON_ID);
    button_.subclass(window_, BUTTON_ID, images_, ui_font(font_id::verdana_8_bold),
                     RGB(255, 255, 255));
    refresh_texts();
    return 0;
}

void download_all_window_c::refresh_texts() {
    if (check_box_) SetWindowTextW(check_box_, text_for("download_all_check").c_str());
    button_.set_text(text_for("download_all_button").c_str());
}

LRESULT download_all_window_c::on_size(UINT, WPARAM, LPARAM lparam, bool&) {
    const int width = LOWORD(lparam);
    const int button_left = width - BUTTON_RIGHT_OFFSET;
    button_.move_to(button_left, BUTTON_TOP);
    // The check box lines up with the rows' check boxes and ends before the button.
    move_to(check_box_, RECT{10, 12, std::max(10, button_left - 10), 12 + 18});
    InvalidateRect(window_, nullptr, FALSE);
    return 0;
}

LRESULT download_all_window_c::on_command(UINT, WPARAM wparam, LPARAM, bool& handled) {
    if (HIWORD(wparam) != BN_CLICKED) {
        handled = false;
        return 0;
    }
    HWND parent = GetParent(window_);
    switch (LOWORD(wparam)) {
    case CHECK_ID:
        SendMessageW(parent, UM_DOWNLOAD_ALL_CHECK, SendMessageW(check_box_, BM_GETCHECK, 0, 0), 0);
        break;
    case BUTTON_ID:
        SendMessageW(parent, UM_DOWNLOAD_ALL_START, 0, 0);
        break;
    default:
        handled = false;
        return 0;
    }
    SetFocus(parent);
    return 0;
}

LRESULT download_all_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    paint_page(window_, [this](HDC dc, const RECT& client) {
        FillRect(dc, &client, background_);
        RECT top{0, 0, client.right, 1};
        FillRect(dc, &top, line_);
    });
    return 0;
}

LRESULT download_all_window_c::on_control_colour(UINT, WPARAM wparam, LPARAM, bool&) {
    HDC dc = reinterpret_cast<HDC>(wparam);
    SetBkColor(dc, SKIN_SIDEBAR);
    SetTextColor(dc, SKIN_SIDEBAR_VALUE);
    return reinterpret_cast<LRESULT>(background_);
}

// --- The page ------------------------------------------------------------------------

download_window_c::download_window_c() = default;

download_window_c::~download_window_c() {
    // The rows first, while the groups they show are here; then the window
    // with its other children, then the brushes.
    list_.clear_panels();
    if (window_) DestroyWindow(window_);
    for (HBRUSH brush : {header_brush_, sidebar_brush_, box_brush_, frame_brush_})
        if (brush) DeleteObject(brush);
}

HWND download_window_c::create(HWND owner) { return create_page(*this, owner, false); }

bool download_window_c::process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                        LRESULT& result) {
    static const message_entry<download_window_c> map[] = {
        {WM_CREATE, &download_window_c::on_create},
        {WM_PAINT, &download_window_c::on_paint},
        {WM_ERASEBKGND, &download_window_c::on_erase_background},
        {WM_SETFOCUS, &download_window_c::on_set_focus},
        {WM_SIZE, &download_window_c::on_size},
        {WM_SHOWWINDOW, &download_window_c::on_show_window},
        {WM_CTLCOLORSTATIC, &download_window_c::on_control_colour},
        {WM_COMMAND, &download_window_c::on_command},
        {UM_DOWNLOAD_ALL_CHECK, &download_window_c::on_check_all},
        {UM_DOWNLOAD_ALL_START, &download_window_c::on_start_all},
    };
    return dispatch_message(this, map, message, wparam, lparam, result);
}

LRESULT download_window_c::on_create(UINT, WPARAM, LPARAM, bool&) {
    RECT client{};
    GetClientRect(window_, &client);
    const int W = client.right;
    // The list shows its vertical scroll bar whenever the rows are taller.
    list_.create(window_, RECT{0, 67, std::max(0, W - 250), 67}, LIST_ID);
    // Only the rows in and near the view have windows: a scan may offer
    // thousands of packages.
    list_.set_realiser([this](download_panel_c& row, bool near_view) {
        if (near_view)
            row.create_window(list_.handle());
        else
            row.destroy_window();
    });

    best_ = create_control(window_, L"BUTTON", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP |
                                                   WS_CLIPSIBLINGS, BEST_ID);
    latest_ = create_control(window_, L"BUTTON", BS_AUTORADIOBUTTON | WS_CLIPSIBLINGS, LATEST_ID);
    move_to(best_, RECT{340, 15, 450, 35});
    move_to(latest_, RECT{460, 15, 520, 35});
    SendMessageW(best_, BM_SETCHECK, BST_CHECKED, 0);

    pie_.create(window_, L"Pie Chart", W - 239, 120, W - 10, 230);
    pie_.set_background_color(GetSysColor(COLOR_BTNFACE));
    pie_.set_show_labels(false);
    pie_.set_tilt(35.0);
    // The rim's thickness is a ratio to the pie rectangle: that comes first.
    pie_.set_pie_rect(60, 20, 165, 100);
    pie_.set_thickness(50);

    load_status_image(status_out_of_date_, IDB_STATUS_OUT_OF_DATE);
    load_status_image(status_no_driver_, IDB_STATUS_NO_DRIVER);
    load_status_image(status_up_to_date_, IDB_STATUS_UP_TO_DATE);
    load_status_image(status_total_, IDB_STATUS_TOTAL);

    faq_.create(window_, RECT{W - 141, 411, W - 21, 430}, FAQ_ID);
    faq_.set_font(ui_font(font_id::verdana_8));

    header_brush_ = pattern_brush(IDB_DOWNLOAD_HEADER_PATTERN);
    header_picture_.load(resource_module(), IDB_DOWNLOAD_HEADER_PICTURE);
    sidebar_brush_ = CreateSolidBrush(SKIN_SIDEBAR);
    box_brush_ = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    frame_brush_ = CreateSolidBrush(SKIN_STATUS_FRAME);

    bar_.create(window_, RECT{0, 0, 0, 0}, BAR_ID);
    refresh_texts();
    layout();
    return 0;
}

void download_window_c::refresh_texts() {
    SetWindowTextW(best_, text_for("download_cbb_best").c_str());
    SetWindowTextW(latest_, text_for("download_cbb_latest").c_str());
    faq_.set_label(text_for("sidebar_see_faq"));
    faq_.set_target(faq_page_address());
    bar_.refresh_texts();
}

void download_window_c::layout() {
    RECT client{};
    GetClientRect(window_, &client);
    const download_page_layout l =
        download_page_layout_for(client.right, client.bottom, download_choice_is_wide());
    move_to(list_.handle(), l.list);
    move_to(bar_.handle(), l.bar);
    move_to(best_, l.best);
    move_to(latest_, l.latest);
    // Widened, the buttons overlap by 20 px: the latest button's circle is
    // there and must take the clicks.
    if (latest_) SetWindowPos(latest_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    move_to(pie_.handle(), l.pie);

    // The link makes way for the WHQL text above it when that needs the room.
    RECT faq = l.faq;
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, ui_font(font_id::verdana_8));
    const int whql_bottom = download_whql_bottom(dc, client.right);
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    if (faq.top < whql_bottom + FAQ_GAP) OffsetRect(&faq, 0, whql_bottom + FAQ_GAP - faq.top);
    move_to(faq_.handle(), faq);
}

LRESULT download_window_c::on_size(UINT, WPARAM, LPARAM, bool&) {
    layout();
    InvalidateRect(window_, nullptr, FALSE);
    return 0;
}

LRESULT download_window_c::on_show_window(UINT, WPARAM wparam, LPARAM, bool& handled) {
    handled = false;  // shown by the default processing
    if (!wparam) return 0;
    refresh_texts();
    layout();
    count_devices();
    return 0;
}

LRESULT download_window_c::on_set_focus(UINT, WPARAM, LPARAM, bool&) {
    if (list_.handle()) SetFocus(list_.handle());
    return 0;
}

LRESULT download_window_c::on_control_colour(UINT, WPARAM wparam, LPARAM lparam, bool&) {
    HDC dc = reinterpret_cast<HDC>(wparam);
    if (reinterpret_cast<HWND>(lparam) == faq_.handle()) {
        SetTextColor(dc, SKIN_SIDEBAR_VALUE);
        return reinterpret_cast<LRESULT>(sidebar_brush_);
    }
    // The radio buttons stand on the white choice band.
    SetBkColor(dc, SKIN_PAGE_BACKGROUND);
    SetTextColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

LRESULT download_window_c::on_command(UINT, WPARAM wparam, LPARAM, bool& handled) {
    const int id = LOWORD(wparam);
    if (HIWORD(wparam) != BN_CLICKED || (id != BEST_ID && id != LATEST_ID)) {
        handled = false;
        return 0;
    }
    choose(id);
    return 0;
}

void download_window_c::choose(int id) {
    const int choice = id - 1;
    if (choice != CHOICE_BEST && choice != CHOICE_LATEST) return;
    SendMessageW(best_, BM_SETCHECK, choice == CHOICE_BEST ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(latest_, BM_SETCHECK, choice == CHOICE_LATEST ? BST_CHECKED : BST_UNCHECKED, 0);
    if (choice == choice_) {
        SetFocus(list_.handle());
        return;
    }
    choice_ = choice;
    // New rows of the other offers; the sessions behind them download on.
    rebuild_rows();
    InvalidateRect(window_, nullptr, FALSE);
}

void download_window_c::fill(const device_store& store, int total_devices) {
    store_ = &store;
    total_devices_ = total_devices;
    rebuild_rows();
    // The main window reads the out-of-date count before the page is shown.
    count_devices();
    if (IsWindowVisible(window_)) SetFocus(list_.handle());
}

void download_window_c::clear() {
    list_.clear_panels();
    list_.content_height = 0;
    if (list_.handle()) list_.update_layout();
    groups_.clear();
    store_ = nullptr;
    total_devices_ = 0;
    counters_ = download_counters{};
    update_pie();
}

void download_window_c::rebuild_rows() {
    list_.clear_panels();  // the rows refer to the groups about to go
    groups_ = store_ ? build_download_groups(*store_, choice_) : std::vector<download_group>{};
    RECT client{};
    GetClientRect(list_.handle(), &client);
    const row_line_heights lines = measure_row_line_heights();
    int y = 0;
    // The rows get their windows from the list as they come into view.
    for (const download_group& group : groups_) {
        auto row = std::make_unique<download_panel_c>(group, *store_);
        row->place(0, y, client.right, lines);
        y += row->panel.height;
        list_.add_panel(std::move(row));
    }
    list_.content_height = y;
    list_.update_layout();
}

void download_window_c::count_devices() {
    counters_ = store_ ? count_download_devices(*store_) : download_counters{};
    update_pie();
    InvalidateRect(window_, nullptr, FALSE);
}

void download_window_c::update_pie() {
    if (!pie_.handle()) return;
    pie_.clear();
    for (const download_slice& s : download_slices(counters_)) {
        // A count of 0 has no slice (the chart refuses it).
        const std::wstring& text = text_for(s.key);
        pie_slice* slice = pie_.add_slice(text.c_str(), text.c_str(), s.value, s.color);
        if (slice) pie_.set_explode(slice, DOWNLOAD_SLICE_EXPLODE);
    }
}

// The rows out of view have no window to send the message to: each row is
// told directly, as the message would tell it.
LRESULT download_window_c::on_check_all(UINT, WPARAM wparam, LPARAM, bool&) {
    for (const auto& row : list_.panels()) row->check_for_all(wparam);
    return 0;
}

LRESULT download_window_c::on_start_all(UINT, WPARAM, LPARAM, bool&) {
    if (prompt_user(window_, text_for("download_all_warning").c_str(), 3) != 1) return 0;
    for (const auto& row : list_.panels()) row->start_if_checked();
    return 0;
}

// --- Painting -------------------------------------------------------------------------

LRESULT download_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    paint_page(window_, [this](HDC dc, const RECT& client) { paint(dc, client); });
    return 0;
}

void download_window_c::paint(HDC dc, const RECT& client) {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    paint_sidebar(dc, client.right, client.bottom);
    paint_header(dc, client.right);
    RestoreDC(dc, saved);
}

void download_window_c::paint_header(HDC dc, int W) {
    RECT band{0, 0, W, DOWNLOAD_HEADER_HEIGHT};
    if (header_brush_) {
        SetBrushOrgEx(dc, 0, 0, nullptr);
        FillRect(dc, &band, header_brush_);
    }
    header_picture_.draw(dc, 0, 0);

    const int n = counters_.out_of_date;
    SelectObject(dc, ui_font(download_header_font()));
    SetTextColor(dc, RGB(255, 255, 255));
    const std::wstring& text = text_for(download_header_key(n));
    text_out(dc, 58, 8, text);
    if (download_header_shows_number(n)) {
        SetTextColor(dc, DOWNLOAD_HEADER_NUMBER);
        text_out(dc, 63 + text_width(dc, text), 7, std::to_wstring(n));
    }
}

void download_window_c::paint_sidebar(HDC dc, int W, int H) {
    RECT band{W - DOWNLOAD_SIDEBAR_WIDTH, 0, W, H};
    FillRect(dc, &band, sidebar_brush_);
    for (const RECT& box : {RECT{W - 240, 40, W - 10, 110}, RECT{W - 240, 120, W - 10, 370}}) {
        FillRect(dc, &box, box_brush_);
        FrameRect(dc, &box, frame_brush_);
    }

    SetTextColor(dc, SKIN_TITLE_TEXT);
    SelectObject(dc, ui_font(download_score_title_font()));
    text_centred(dc, text_for("sidebar_score"), RECT{W - 250, 58, W, 75});

    const int score = download_score(counters_);
    SelectObject(dc, ui_font(font_id::verdana_12_bold));
    SetTextColor(dc, download_score_color(score));
    text_centred(dc, std::to_wstring(score), RECT{W - 250, 80, W, 100});

    struct legend_line {
        const image_c& image;
        const char* key;
        int value;
    };
    const legend_line legend[] = {
        {status_out_of_date_, "sidebar_out_of_date", counters_.out_of_date},
        {status_no_driver_, "sidebar_no_driver", counters_.no_driver},
        {status_up_to_date_, "sidebar_up_to_date", counters_.up_to_date()},
        {status_total_, "sidebar_total", total_devices_},
    };
    SelectObject(dc, ui_font(font_id::verdana_8));
    SetTextColor(dc, SKIN_SIDEBAR_VALUE);
    int y = 260;
    for (const legend_line& line : legend) {
        line.image.draw(dc, W - 220, y);
        wchar_t text[128];
        format_text(text, 128, text_for(line.key).c_str(), line.value);
        TextOutW(dc, W - 220 + line.image.width() + 8, y, text, lstrlenW(text));
        y += 20;
    }

    RECT whql = download_whql_box(W);
    draw_wrapped_text(dc, text_for("sidebar_whql"), whql, WHQL_LINE_GAP, wrap_mode::draw);
}
