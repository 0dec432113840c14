#include "ui/skin/ui_window.h"

#include "ui/skin/back_buffer.h"
#include "ui/skin/colors.h"
#include "ui/skin/fonts.h"

frame_metrics window_frame_metrics() {
    return {GetSystemMetrics(SM_CYCAPTION), GetSystemMetrics(SM_CXFRAME),
            GetSystemMetrics(SM_CYFRAME)};
}

frame_metrics dialog_frame_metrics() {
    return {GetSystemMetrics(SM_CYCAPTION), GetSystemMetrics(SM_CXDLGFRAME),
            GetSystemMetrics(SM_CYDLGFRAME)};
}

frame_paint_c::frame_paint_c(HWND window) : window_(window), window_dc_(GetWindowDC(window)) {
    RECT screen{};
    GetWindowRect(window, &screen);
    area_ = RECT{0, 0, screen.right - screen.left, screen.bottom - screen.top};
    GetClientRect(window, &client_);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client_), 2);
    OffsetRect(&client_, -screen.left, -screen.top);
    if (window_dc_) buffer_ = std::make_unique<back_buffer_c>(window_dc_, area_);
}

frame_paint_c::~frame_paint_c() {
    if (!window_dc_) return;
    // The copy must not paint over the client area.
    ExcludeClipRect(window_dc_, client_.left, client_.top, client_.right, client_.bottom);
    buffer_.reset();
    ReleaseDC(window_, window_dc_);
}

HDC frame_paint_c::dc() const { return buffer_ ? buffer_->dc() : window_dc_; }

void fill_caption_band(HDC dc, const frame_metrics& m, int skin_caption_height, const RECT& area) {
    RECT band{m.frame_y, m.frame_x, area.right, m.frame_x + skin_caption_height};
    HBRUSH brush = CreateSolidBrush(SKIN_CAPTION);
    FillRect(dc, &band, brush);
    DeleteObject(brush);
}

void draw_frame_lines(HDC dc, const RECT& area, int frame_x) {
    HBRUSH outer = CreateSolidBrush(SKIN_FRAME_LINE);
    HBRUSH inner = CreateSolidBrush(SKIN_CAPTION);
    RECT r = area;
    FrameRect(dc, &r, outer);
    for (int i = 1; i < frame_x; ++i) {
        InflateRect(&r, -1, -1);
        FrameRect(dc, &r, inner);
    }
    DeleteObject(inner);
    DeleteObject(outer);
}

void draw_caption_title(HDC dc, HWND window, HICON icon) {
    wchar_t title[256];
    int length = GetWindowTextW(window, title, 256);
    if (length <= 0) return;
    int x = 10;
    int y = 10;
    if (icon) {
        DrawIconEx(dc, 5, 5, icon, 20, 20, 0, nullptr, DI_NORMAL);
        x = 30;
        y = 8;
    }
    HGDIOBJ old_font = SelectObject(dc, ui_font(font_id::verdana_8_bold));
    int old_mode = SetBkMode(dc, TRANSPARENT);
    COLORREF old_color = SetTextColor(dc, SKIN_CAPTION_TEXT);
    TextOutW(dc, x, y, title, length);
    SetTextColor(dc, old_color);
    SetBkMode(dc, old_mode);
    SelectObject(dc, old_font);
}

LRESULT skinned_hit_test(HWND window, POINT at, LRESULT default_code, const frame_metrics& m) {
    switch (default_code) {
    case HTNOWHERE:
    case HTCAPTION:
    case HTSYSMENU:
    case HTMENU:
    case HTMINBUTTON:
    case HTMAXBUTTON:
    case HTCLOSE:
    case HTHELP:
        break;
    default:  // borders, client area, scroll bars, outside
        return default_code;
    }
    RECT outer{}, client{};
    if (!GetWindowRect(window, &outer) || !GetClientRect(window, &client)) return default_code;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    RECT caption{outer.left + m.frame_x, outer.top + m.frame_y, outer.right - m.frame_x,
                 client.top};
    return PtInRect(&caption, at) ? HTCAPTION : default_code;
}
