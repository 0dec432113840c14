#include "ui/skin/panel_list.h"

#include <cstdint>

int clamp_scroll_position(int position, int content_height, int view_height) {
    int last = content_height - view_height + 1;
    if (position > last) position = last;
    return position < 0 ? 0 : position;
}

int vscroll_position(int code, int position, int track_position, int view_height) {
    switch (code) {
    case SB_LINEUP:
        return position - PANEL_LINE_SCROLL;
    case SB_LINEDOWN:
        return position + PANEL_LINE_SCROLL;
    case SB_PAGEUP:
        return position - view_height;
    case SB_PAGEDOWN:
        return position + view_height;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        return track_position;
    default:
        return position;
    }
}

bool wheel_scroll_position(int& position, int wheel_delta, int content_height, int view_height) {
    if (view_height >= content_height) return false;
    position += wheel_delta / -8;
    return true;
}

bool panel_near_view(int top, int height, int position, int view_height) {
    const int64_t from = static_cast<int64_t>(position) - view_height;
    const int64_t to = static_cast<int64_t>(position) + 2 * static_cast<int64_t>(view_height);
    return static_cast<int64_t>(top) + height > from && top < to;
}

void set_vertical_scroll_info(HWND window, int content_height, int view_height, int position) {
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = content_height;
    info.nPage = view_height > 0 ? static_cast<UINT>(view_height) : 0;
    info.nPos = position;
    SetScrollInfo(window, SB_VERT, &info, TRUE);
}

int vertical_track_position(HWND window) {
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_TRACKPOS;
    return GetScrollInfo(window, SB_VERT, &info) ? info.nTrackPos : 0;
}
