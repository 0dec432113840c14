// Where the home page, the scan page and the sidebar put their fixed texts:
// the point each text starts at, how far it may reach, and its font. The
// pages draw from these, so a translation can be measured in exactly the room
// it gets (the text-fit test does, for every language).
#pragma once

#include <windows.h>

#include "ui/sidebar.h"
#include "ui/skin/fonts.h"

// Home page, for a client area width × height.

// The title on the banner strip, single line, left of the sidebar.
RECT home_title_box(int width);
constexpr font_id HOME_TITLE_FONT = font_id::verdana_18;

// The top-left corner of the three-step illustration (470 px wide), 90 px
// above the start button, centred left of the sidebar.
POINT home_steps_origin(int width, int height);
// The captions over the three steps of the illustration, single line each:
// a caption may reach the next step's caption (the last one the sidebar).
struct home_step_boxes {
    RECT scan;
    RECT download;
    RECT install;
};
home_step_boxes home_step_caption_boxes(int width, int height);

// The font of the step captions and the weekly-scan line: smaller where the
// translations are long (French, Italian, Spanish).
font_id home_caption_font();

// The weekly-scan line beside its small picture, which stands 25 px above the
// bottom picture. Left of the sidebar's margin; a text that needs a second
// line takes the band between the separator above the picture and the bottom
// picture, so nothing else moves.
RECT home_auto_scan_box(int width, int small_picture_top);
constexpr int HOME_AUTO_SCAN_LINE_GAP = 2;
// Where the text starts: one line keeps its place beside the picture, more
// lines are centred in the box. `text_bottom` is the measured bottom of the
// text laid out from the box's top.
int home_auto_scan_text_top(const RECT& box, int small_picture_top, int text_bottom);

// Sidebar of both pages, for a client area `width` wide.

// The title beside the header picture, single line, up to the page's edge.
RECT sidebar_title_box(int width);
font_id sidebar_title_font(sidebar_page page);
constexpr font_id SIDEBAR_ROW_FONT = font_id::arial_8;
// The label of a row, word-wrapped left of its value column, as high as the
// value (from `top` to `bottom`).
RECT sidebar_label_box(int width, sidebar_page page, int top, int bottom);

// Scan page, for a client area width × height.

// The page title, single line, left of the right header picture.
RECT scan_title_box(int width, int right_picture_width);
constexpr font_id SCAN_TITLE_FONT = font_id::verdana_22;
// The heading above the status box, single line, inside the status frame.
RECT scan_heading_box(int width, const RECT& status_box);
constexpr font_id SCAN_HEADING_FONT = font_id::verdana_18;
constexpr font_id SCAN_STATUS_FONT = font_id::verdana_9_bold;
// The text of the waiting box, single line, 45 px inside its left edge.
RECT scan_waiting_text_box(const RECT& waiting_box);
constexpr font_id SCAN_WAITING_FONT = font_id::verdana_12_bold;
