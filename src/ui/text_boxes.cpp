#include "ui/text_boxes.h"

#include "app/language.h"

namespace {
// Texts keep this far from the sidebar band and from the page's right edge.
constexpr int MARGIN = 5;
// The status frame of the scan page and the separator of the home page end
// this far left of the client's right edge.
constexpr int FRAME_RIGHT = SIDEBAR_WIDTH + 10;

int line_height(font_id font) { return -font_height_for_points(font_definitions[int(font)].points); }
}  // namespace

RECT home_title_box(int width) {
    return RECT{15, 10, width - SIDEBAR_WIDTH - MARGIN, 40};
}

POINT home_steps_origin(int width, int height) {
    return POINT{(width - SIDEBAR_WIDTH) / 2 - 470 / 2, (height - 150) / 2 - 90};
}

home_step_boxes home_step_caption_boxes(int width, int height) {
    const POINT origin = home_steps_origin(width, height);
    const int x0 = origin.x;
    const int top = origin.y + 25;
    const int bottom = top + 2 * line_height(font_id::verdana_12_bold);
    return home_step_boxes{RECT{x0 + 26, top, x0 + 226 - MARGIN, bottom},
                           RECT{x0 + 226, top, x0 + 399 - MARGIN, bottom},
                           RECT{x0 + 399, top, width - SIDEBAR_WIDTH - MARGIN, bottom}};
}

font_id home_caption_font() {
    const bool long_texts = locale_is(L"fr") || locale_is(L"it") || locale_is(L"es");
    return long_texts ? font_id::verdana_10_bold : font_id::verdana_12_bold;
}

RECT home_auto_scan_box(int width, int small_picture_top) {
    // The separator is 2 px high, 20 px above the picture; the bottom picture
    // starts 25 px below the picture's top.
    return RECT{40, small_picture_top - 20 + 2 + 1, width - FRAME_RIGHT, small_picture_top + 25};
}

int home_auto_scan_text_top(const RECT& box, int small_picture_top, int text_bottom) {
    const int one_line_top = small_picture_top + 2;
    const int text_height = text_bottom - box.top;
    if (one_line_top + text_height <= box.bottom) return one_line_top;
    return box.top + (box.bottom - box.top - text_height) / 2;
}

RECT sidebar_title_box(int width) { return RECT{width - 193, 28, width - MARGIN, 28 + 40}; }

font_id sidebar_title_font(sidebar_page page) {
    const bool small_title = page == sidebar_page::home && (locale_is(L"it") || locale_is(L"pt"));
    return small_title ? font_id::verdana_10_bold : font_id::verdana_12_bold;
}

RECT sidebar_label_box(int width, sidebar_page page, int top, int bottom) {
    const int value_left = width - SIDEBAR_WIDTH + sidebar_value_offset(page);
    return RECT{width - 240, top, value_left - 2, bottom};
}

RECT scan_title_box(int width, int right_picture_width) {
    return RECT{80, 28, width - right_picture_width - FRAME_RIGHT, 85};
}

RECT scan_heading_box(int width, const RECT& status_box) {
    return RECT{status_box.left, status_box.top - 60, width - FRAME_RIGHT - MARGIN,
                status_box.top - 5};
}

RECT scan_waiting_text_box(const RECT& waiting_box) {
    return RECT{waiting_box.left + 45, waiting_box.top, waiting_box.right, waiting_box.bottom};
}
