// The system-information sidebar at the right edge of the home and scan
// pages: a 250-px band with a header picture, a title and the machine's
// model, OS, CPU, memory, display, sound and storage.
#pragma once

#include <windows.h>

class image_c;

constexpr int SIDEBAR_WIDTH = 250;

enum class sidebar_page { home, scan };

// The band and its 1-px line at x = width − 250, full height.
void paint_sidebar_band(HDC dc, int width, int height);

// Left offset of the value column inside the band: wider labels in French.
// The home page asks the locale code ("fr" or "nl"), the scan page the
// language name ("Français").
int sidebar_value_offset(sidebar_page page);

// The header picture, the title and the rows, for a client area `width`
// wide; the rows once the system information is collected. Returns the
// bottom of the last row (or where the first would start).
int draw_system_info(HDC dc, int width, const image_c& header, sidebar_page page);
