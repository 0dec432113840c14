#include "ui/home_window.h"

#include <windowsx.h>

#include <string>

#include "app/language.h"
#include "resources/resource.h"
#include "ui/messages.h"
#include "ui/page_class.h"
#include "ui/sidebar.h"
#include "ui/skin/colors.h"
#include "ui/skin/fonts.h"
#include "ui/skin/wrapped_text.h"
#include "ui/text_boxes.h"

namespace {

// A pattern brush of a bitmap resource and the bitmap's height; null when it
// cannot be loaded.
HBRUSH pattern_brush(int id, int& height) {
    image_c image;
    height = 0;
    if (!image.load(resource_module(), id)) return nullptr;
    height = image.height();
    return CreatePatternBrush(image.bitmap());
}

void fill(HDC dc, int left, int top, int right, int bottom, HBRUSH brush) {
    if (!brush) return;
    RECT r{left, top, right, bottom};
    FillRect(dc, &r, brush);
}

// A single-line text starting at the top-left corner of its box.
void text_at(HDC dc, const RECT& box, const char* key) {
    const std::wstring& text = text_for(key);
    TextOutW(dc, box.left, box.top, text.c_str(), static_cast<int>(text.size()));
}

// The weekly-scan line, wrapped left of the sidebar when it is too long for
// one line.
void draw_auto_scan_line(HDC dc, int width, int small_picture_top) {
    const std::wstring& text = text_for("home_tarnwick_automatically");
    const RECT box = home_auto_scan_box(width, small_picture_top);
    RECT measured = box;
    draw_wrapped_text(dc, text, measured, HOME_AUTO_SCAN_LINE_GAP, wrap_mode::measure);
    const int top = home_auto_scan_text_top(box, small_picture_top, measured.bottom);
    RECT shown{box.left, top, box.right, box.bottom};
    draw_wrapped_text(dc, text, shown, HOME_AUTO_SCAN_LINE_GAP, wrap_mode::draw);
}

}  // namespace

home_window_c::~home_window_c() {
    if (banner_brush_) DeleteObject(banner_brush_);
    if (separator_brush_) DeleteObject(separator_brush_);
}

HWND home_window_c::create(HWND owner) {
    owner_ = owner;
    HWND page = create_page(*this, owner, true);
    if (!page) return nullptr;
    HINSTANCE module = resource_module();
    home_image_numbers images = home_images();
    banner_brush_ = pattern_brush(IDB_HOME_HEADER_PATTERN, banner_height_);
    steps_.load(module, IDB_HOME_STEPS);
    bottom_picture_.load(module, images.banner);
    separator_brush_ = pattern_brush(IDB_HOME_SEPARATOR, separator_height_);
    auto_scan_picture_.load(module, IDB_AUTO_SCAN);
    sidebar_header_.load(module, IDB_SIDEBAR_HEADER);
    sidebar_header_.set_transparent_color(RGB(255, 255, 255));
    // The caption is part of the localised bitmaps; the text is kept, not drawn.
    start_button_.create(module, images.start_button_base, images.start_button_base + 1,
                         images.start_button_base + 2, 0, 0, 0, 0, text_for("home_start_scan"));
    return page;
}

bool home_window_c::process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                    LRESULT& result) {
    static const message_entry<home_window_c> map[] = {
        {WM_PAINT, &home_window_c::on_paint},
        {WM_ERASEBKGND, &home_window_c::on_erase_background},
        {WM_MOUSEMOVE, &home_window_c::on_mouse_move},
        {WM_LBUTTONDOWN, &home_window_c::on_button_down},
        {WM_LBUTTONUP, &home_window_c::on_button_up},
    };
    return dispatch_message(this, map, message, wparam, lparam, result);
}

RECT home_window_c::start_button_rect() const {
    RECT client{};
    GetClientRect(window_, &client);
    POINT origin = home_button_origin(start_button_, client.right, client.bottom);
    const image_c& normal = start_button_.images[BUTTON_NORMAL];
    return RECT{origin.x, origin.y, origin.x + normal.width(), origin.y + normal.height()};
}

bool home_window_c::button_hit(LPARAM lparam) const {
    RECT client{};
    GetClientRect(window_, &client);
    return start_button_.hit_test(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), client.left,
                                  client.top, client.right, client.bottom);
}

void home_window_c::set_button_state(int state) {
    start_button_.state = state;
    RECT r = start_button_rect();
    InvalidateRect(window_, &r, FALSE);
    UpdateWindow(window_);
}

LRESULT home_window_c::on_mouse_move(UINT, WPARAM, LPARAM lparam, bool&) {
    bool inside = button_hit(lparam);
    if (inside && start_button_.state == BUTTON_NORMAL)
        set_button_state(BUTTON_HOVER);
    else if (!inside && start_button_.state != BUTTON_NORMAL)
        set_button_state(BUTTON_NORMAL);
    return 0;
}

LRESULT home_window_c::on_button_down(UINT, WPARAM, LPARAM lparam, bool& handled) {
    if (button_hit(lparam) && start_button_.state != BUTTON_PRESSED)
        set_button_state(BUTTON_PRESSED);
    else
        handled = false;
    return 0;
}

LRESULT home_window_c::on_button_up(UINT, WPARAM, LPARAM lparam, bool& handled) {
    // A click needs the press inside as well: only a pressed button starts.
    if (button_hit(lparam) && start_button_.state == BUTTON_PRESSED) {
        set_button_state(BUTTON_HOVER);
        SendMessageW(owner_, UM_START_SCAN, 0, 0);
    } else {
        handled = false;
    }
    return 0;
}

LRESULT home_window_c::on_erase_background(UINT, WPARAM, LPARAM, bool&) { return 1; }

LRESULT home_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    paint_page(window_, [this](HDC dc, const RECT& client) { paint(dc, client); });
    return 0;
}

void home_window_c::paint(HDC dc, const RECT& client) {
    const int W = client.right, H = client.bottom;
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    fill(dc, 0, 0, W - SIDEBAR_WIDTH, banner_height_, banner_brush_);
    paint_sidebar_band(dc, W, H);

    const int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, SKIN_TITLE_TEXT);
    SelectObject(dc, ui_font(HOME_TITLE_FONT));
    text_at(dc, home_title_box(W), "home_scan_for_driver_updates");

    SelectObject(dc, ui_font(home_caption_font()));
    const POINT steps_at = home_steps_origin(W, H);
    steps_.draw(dc, steps_at.x, steps_at.y);
    const home_step_boxes steps = home_step_caption_boxes(W, H);
    text_at(dc, steps.scan, "home_scan_for_drivers");
    text_at(dc, steps.download, "home_download");
    text_at(dc, steps.install, "home_install");

    start_button_.draw(dc, 0, 0, W, H);

    const int bottom_top = H - bottom_picture_.height() - 10;
    bottom_picture_.draw(dc, 10, bottom_top);
    const int small_top = bottom_top - 25;
    auto_scan_picture_.draw(dc, 10, small_top);
    draw_auto_scan_line(dc, W, small_top);
    fill(dc, 10, small_top - 20, W - 260, small_top - 20 + 2, separator_brush_);
    RestoreDC(dc, saved);

    draw_system_info(dc, W, sidebar_header_, sidebar_page::home);
}
