// The window class the main window's pages share, and what every page does
// the same way: covering the main window's client area and painting through
// a back buffer.
#pragma once

#include <windows.h>

#include "ui/skin/back_buffer.h"

class window_base_c;

constexpr const wchar_t* PAGE_WINDOW_CLASS = L"Quillmark.Page";
// Registers it once (no background brush: every page paints all of itself).
bool register_page_class();

// Creates `page` as a child of `owner` covering the owner's client area,
// visible or hidden. The handle, or null.
HWND create_page(window_base_c& page, HWND owner, bool visible);

// Answers WM_PAINT for a page: calls paint(dc, client) with a back buffer the
// size of the client area, copied to the window in one piece.
template <class Paint>
void paint_page(HWND window, Paint&& paint) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client{};
    GetClientRect(window, &client);
    {
        back_buffer_c buffer(dc, client);
        paint(buffer.dc(), client);
    }
    EndPaint(window, &ps);
}
