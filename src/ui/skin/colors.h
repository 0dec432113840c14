// The colours of the flat blue skin.
#pragma once

#include <windows.h>

constexpr COLORREF SKIN_CAPTION = RGB(139, 184, 241);        // caption band and inner frame
constexpr COLORREF SKIN_FRAME_LINE = RGB(66, 90, 138);       // outer 1-px frame line
constexpr COLORREF SKIN_CAPTION_TEXT = RGB(233, 243, 255);   // caption title
constexpr COLORREF SKIN_TITLE_TEXT = RGB(76, 146, 206);      // page titles, headings, pressed tab text
constexpr COLORREF SKIN_SIDEBAR = RGB(226, 240, 253);        // sidebar band
constexpr COLORREF SKIN_SIDEBAR_LINE = RGB(194, 218, 244);   // sidebar separator line
constexpr COLORREF SKIN_SIDEBAR_VALUE = RGB(67, 110, 152);   // sidebar value text
constexpr COLORREF SKIN_STATUS_FRAME = RGB(195, 218, 245);   // status frame
constexpr COLORREF SKIN_ALTERNATE_BAND = RGB(244, 246, 251); // alternating band
constexpr COLORREF SKIN_TAB_TEXT = RGB(255, 255, 255);       // tab text, normal and hover
constexpr COLORREF SKIN_MESSAGE_TEXT = RGB(91, 135, 201);    // message box text
constexpr COLORREF SKIN_PAGE_BACKGROUND = RGB(255, 255, 255);
