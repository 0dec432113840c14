// Word-wrapped text in a rectangle: lines break after a blank (space, tab or
// line feed) where one fits, else between characters; each line is as high
// as its tallest character and lines are `line_gap` pixels apart. Callers
// measure first and draw second with the measured rectangle.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>
#include <vector>

enum class wrap_mode { measure, draw };

constexpr int WRAP_TAB_STOP = 8;  // pixels

// Size of a piece of text (one character, or a surrogate pair).
class text_measurer {
public:
    virtual ~text_measurer() = default;
    virtual SIZE measure(const wchar_t* text, int length) const = 0;
};

struct wrapped_line {
    std::size_t start;   // index into the text
    std::size_t length;  // characters to draw (a line feed ending the line is left out)
    int y;
};

struct wrap_layout {
    std::vector<wrapped_line> lines;  // in draw mode only the lines that fit
    int bottom = 0;                   // the rectangle's new bottom
    bool whole_text_on_first_line = false;
};

// Lays `text` out in `rect`. In draw mode the lines stop before the first one
// that would end below rect.bottom. An empty text leaves the bottom as it is.
wrap_layout layout_wrapped_text(std::wstring_view text, const RECT& rect, int line_gap,
                                wrap_mode mode, const text_measurer& measurer);

// Measures (and in draw mode draws) `text` with the font, colour and
// background mode selected into `dc`; rect.bottom becomes the bottom of the
// last measured line. Returns the number of lines laid out (drawn lines in
// draw mode).
int draw_wrapped_text(HDC dc, std::wstring_view text, RECT& rect, int line_gap, wrap_mode mode);
