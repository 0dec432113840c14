#include "ui/message_window.h"

#include "app/language.h"
#include "resources/resource.h"
#include "ui/skin/colors.h"
#include "ui/skin/fonts.h"
#include "ui/skin/wrapped_text.h"

namespace {
constexpr int TEXT_LINE_GAP = 6;
}

message_box_layout message_box_layout_for(unsigned kind) {
    switch (kind) {
    case 0:
        return {IDB_SYMBOL_INFORMATION, "btn_ok", 115, nullptr, 0, 0};
    case 1:
        return {IDB_SYMBOL_WARNING, "btn_ok", 115, nullptr, 0, 0};
    case 2:
        return {IDB_SYMBOL_ERROR, "btn_ok", 115, nullptr, 0, 0};
    case 3:
        return {IDB_SYMBOL_QUESTION, "btn_yes", 180, "btn_no", 50, 2};
    case 4:
        return {IDB_SYMBOL_ERROR, "btn_retry", 180, "btn_cancel", 50, 2};
    case 5:
        return {IDB_SYMBOL_ERROR, "btn_open_folder", 85, nullptr, 0, 0, MESSAGE_WIDE_BUTTON_WIDTH};
    default:
        return {0, "btn_ok", 115, nullptr, 0, 0};
    }
}

int show_message(HWND owner, const wchar_t* text, unsigned kind) {
    message_window_c box(text, kind);
    return box.run_modal(owner);
}

message_window_c::message_window_c(const wchar_t* text, unsigned kind)
    : skinned_dialog_c(IDD_MESSAGE_BOX, MESSAGE_BOX_CAPTION, MESSAGE_BOX_WIDTH,
                       MESSAGE_BOX_HEIGHT),
      text_(text ? text : L""),
      kind_(kind) {}

message_window_c::~message_window_c() {
    if (background_) DeleteObject(background_);
    if (band_) DeleteObject(band_);
}

void message_window_c::set_up(HINSTANCE module) {
    const message_box_layout layout = message_box_layout_for(kind_);
    button_images_ = layout.button_width == MESSAGE_WIDE_BUTTON_WIDTH
                         ? create_button_image_list(module, MESSAGE_WIDE_BUTTON_WIDTH, 24, IDB_ABOUT_BUTTON_NORMAL,
                                                    IDB_ABOUT_BUTTON_PRESSED, IDB_ABOUT_BUTTON_HOVER)
                         : create_button_image_list(module, MESSAGE_BUTTON_WIDTH, 24, IDB_MESSAGE_BUTTON_NORMAL,
                                                    IDB_MESSAGE_BUTTON_PRESSED, IDB_MESSAGE_BUTTON_HOVER);
    // Button 1 is bitmap button 0, button 2 bitmap button 1.
    auto set_up = [&](int id, const char* key, int x) {
        bitmap_button_c& b = buttons_[id - 1];
        b.subclass(window_, id, button_images_, ui_font(font_id::verdana_9_bold), RGB(255, 255, 255));
        b.set_text(text_for(key).c_str());
        b.move_to(x, MESSAGE_BOX_BUTTON_Y);
        b.show(true);
    };
    set_up(1, layout.button1_key, layout.button1_x);
    if (layout.button2_key) {
        set_up(2, layout.button2_key, layout.button2_x);
    } else if (HWND second = GetDlgItem(window_, 2)) {
        ShowWindow(second, SW_HIDE);
    }
    if (layout.symbol_id) symbol_.load(module, layout.symbol_id);

    background_ = CreateSolidBrush(SKIN_SIDEBAR);
    band_ = CreateSolidBrush(SKIN_CAPTION);
}

int message_window_c::close_result() const { return message_box_layout_for(kind_).close_result; }

void message_window_c::erase_background(HDC dc, const RECT& client) {
    FillRect(dc, &client, background_);
    RECT band{client.left, MESSAGE_BOX_BAND_TOP, client.right, client.bottom};
    FillRect(dc, &band, band_);
}

void message_window_c::paint(HDC dc) {
    symbol_.draw(dc, 15, 30);

    HGDIOBJ old_font = SelectObject(dc, ui_font(font_id::verdana_10));
    SetTextColor(dc, SKIN_MESSAGE_TEXT);
    SetBkMode(dc, TRANSPARENT);
    RECT text_rect = MESSAGE_BOX_TEXT_RECT;
    RECT measured = text_rect;
    if (draw_wrapped_text(dc, text_, measured, TEXT_LINE_GAP, wrap_mode::measure) == 1) {
        // One line: centred vertically in the text area.
        int line_height = measured.bottom - measured.top;
        text_rect.top += (text_rect.bottom - text_rect.top - line_height) / 2;
    }
    draw_wrapped_text(dc, text_, text_rect, TEXT_LINE_GAP, wrap_mode::draw);
    SelectObject(dc, old_font);
}
