// What the text tests share: a memory canvas to measure and draw on, text
// extents in the program's fonts, and the size of a page when the main window
// is as small as it can be.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/skin/fonts.h"

// A white 32-bit bitmap selected into a memory DC.
class text_canvas {
public:
    explicit text_canvas(int width = 256, int height = 64);
    ~text_canvas();
    text_canvas(const text_canvas&) = delete;
    text_canvas& operator=(const text_canvas&) = delete;
    HDC dc() const { return dc_; }
    // Fills the canvas white again.
    void clear();
    // The pixels, 0x00RRGGBB, top-down.
    std::vector<uint32_t> pixels() const;

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
};

// The size of `text` on one line in a font of the set (GetTextExtentPoint32W).
SIZE text_extent(HDC dc, font_id font, const std::wstring& text);

// The client area of the main window at its smallest size: the width and
// height every page is laid out in.
SIZE smallest_page_size();
