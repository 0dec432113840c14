#include "ui/skin/wrapped_text.h"

#include <algorithm>

namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }

// Characters of the piece starting at i: a surrogate pair stays together.
std::size_t piece_length(std::wstring_view text, std::size_t i) {
    if (i + 1 < text.size() && IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1])) return 2;
    return 1;
}

// The line's drawn length: a line feed ending it (and a carriage return
// before that) is not drawn.
std::size_t drawn_length(std::wstring_view text, std::size_t start, std::size_t end) {
    if (end > start && text[end - 1] == L'\n') --end;
    if (end > start && text[end - 1] == L'\r') --end;
    return end - start;
}

class dc_measurer final : public text_measurer {
public:
    explicit dc_measurer(HDC dc) : dc_(dc) {}
    SIZE measure(const wchar_t* text, int length) const override {
        int tab = WRAP_TAB_STOP;
        DWORD extent = GetTabbedTextExtentW(dc_, text, length, 1, &tab);
        return SIZE{LOWORD(extent), HIWORD(extent)};
    }

private:
    HDC dc_;
};

}  // namespace

wrap_layout layout_wrapped_text(std::wstring_view text, const RECT& rect, int line_gap,
                                wrap_mode mode, const text_measurer& measurer) {
    wrap_layout layout;
    layout.bottom = rect.bottom;
    if (text.empty()) return layout;

    const int width = rect.right - rect.left;
    const std::size_t n = text.size();
    int y = rect.top;
    std::size_t start = 0;
    for (;;) {
        // Measure from `start` until a character no longer fits or a line feed.
        int line_width = 0;
        int line_height = 0;
        std::size_t stop = start;
        while (stop < n) {
            std::size_t len = piece_length(text, stop);
            SIZE size = measurer.measure(text.data() + stop, static_cast<int>(len));
            if (text[stop] == L'\n') {
                line_height = std::max<int>(line_height, size.cy);
                break;
            }
            if (line_width + size.cx > width && stop > start) break;
            // (A line always takes at least one character, however wide.)
            line_width += size.cx;
            line_height = std::max<int>(line_height, size.cy);
            stop += len;
        }

        if (stop >= n) {
            // The rest of the text fits on this line.
            if (mode == wrap_mode::measure || y + line_height <= rect.bottom) {
                layout.lines.push_back({start, drawn_length(text, start, n), y});
                layout.whole_text_on_first_line = start == 0;
            }
            layout.bottom = y + line_height;
            return layout;
        }

        // Where the line ends: after a blank at or before the stop, else
        // before the character that did not fit.
        std::size_t end;
        if (is_blank(text[stop])) {
            end = stop + 1;
        } else {
            end = stop;
            for (std::size_t j = stop; j > start; --j) {
                if (is_blank(text[j - 1])) {
                    end = j;
                    break;
                }
            }
        }
        if (end <= start) end = start + piece_length(text, start);

        if (mode == wrap_mode::draw && y + line_height > rect.bottom) {
            layout.bottom = y + line_height;
            return layout;
        }
        layout.lines.push_back({start, drawn_length(text, start, end), y});
        y += line_gap + line_height;
        start = end;
    }
}

int draw_wrapped_text(HDC dc, std::wstring_view text, RECT& rect, int line_gap, wrap_mode mode) {
    dc_measurer measurer(dc);
    wrap_layout layout = layout_wrapped_text(text, rect, line_gap, mode, measurer);
    if (mode == wrap_mode::draw) {
        if (layout.whole_text_on_first_line && layout.lines.size() == 1) {
            RECT r = rect;
            DrawTextW(dc, text.data(), static_cast<int>(layout.lines[0].length), &r,
                      DT_SINGLELINE | DT_EXPANDTABS | DT_NOPREFIX);
        } else {
            int tab = WRAP_TAB_STOP;
            for (const wrapped_line& line : layout.lines) {
                TabbedTextOutW(dc, rect.left, line.y, text.data() + line.start,
                               static_cast<int>(line.length), 1, &tab, rect.left);
            }
        }
    }
    if (!text.empty()) rect.bottom = layout.bottom;
    return static_cast<int>(layout.lines.size());
}
