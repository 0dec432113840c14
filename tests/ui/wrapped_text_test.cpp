// The word-wrapping text drawer: where lines break, how far the rectangle
// reaches, and that nothing is drawn below its bottom.
#include <gtest/gtest.h>

#include <string>

#include "ui/skin/fonts.h"
#include "ui/skin/wrapped_text.h"
#include "ui_test_support.h"

namespace {

// Every character is 10 px wide and 12 px high; a tab 8 px wide.
class fixed_measurer final : public text_measurer {
public:
    SIZE measure(const wchar_t* text, int length) const override {
        if (length == 1 && text[0] == L'\t') return SIZE{8, 12};
        return SIZE{10, 12};
    }
};

std::vector<std::wstring> lines_of(std::wstring_view text, const wrap_layout& layout) {
    std::vector<std::wstring> out;
    for (const wrapped_line& l : layout.lines) out.emplace_back(text.substr(l.start, l.length));
    return out;
}

wrap_layout lay_out(std::wstring_view text, RECT r, wrap_mode mode = wrap_mode::measure,
                    int gap = 6) {
    return layout_wrapped_text(text, r, gap, mode, fixed_measurer{});
}

using lines = std::vector<std::wstring>;

}  // namespace

TEST(WrappedText, BreaksAfterBlanksWhereTheyFit) {
    // 55 px hold five characters.
    std::wstring text = L"hello world again";
    wrap_layout l = lay_out(text, {0, 0, 55, 500});
    EXPECT_EQ(lines_of(text, l), (lines{L"hello ", L"world ", L"again"}));
    EXPECT_EQ(l.lines[1].y, 18);  // 12 high + 6 gap
    EXPECT_EQ(l.bottom, 36 + 12);

    // The break goes back to the last blank before the character that did
    // not fit.
    text = L"ab cdefg";
    EXPECT_EQ(lines_of(text, lay_out(text, {0, 0, 55, 500})), (lines{L"ab ", L"cdefg"}));
    text = L"a\tbc defgh";
    EXPECT_EQ(lines_of(text, lay_out(text, {0, 0, 25, 500})),
              (lines{L"a\t", L"bc ", L"de", L"fg", L"h"}));
}

TEST(WrappedText, BreaksBetweenCharactersWhenNoBlankFits) {
    std::wstring text = L"abcdefghijkl";
    wrap_layout l = lay_out(text, {10, 20, 65, 500});
    EXPECT_EQ(lines_of(text, l), (lines{L"abcde", L"fghij", L"kl"}));
    EXPECT_EQ(l.lines[0].y, 20);
    EXPECT_EQ(l.bottom, 20 + 2 * 18 + 12);

    // A column narrower than one character still takes one per line.
    text = L"xyz";
    EXPECT_EQ(lines_of(text, lay_out(text, {0, 0, 4, 500})), (lines{L"x", L"y", L"z"}));

    // A surrogate pair is never split.
    text = L"a\U0001F600b";
    EXPECT_EQ(lines_of(text, lay_out(text, {0, 0, 10, 500})),
              (lines{L"a", L"\U0001F600", L"b"}));
}

TEST(WrappedText, LineFeedsEndLines) {
    std::wstring text = L"ab\n\ncd";
    wrap_layout l = lay_out(text, {0, 0, 500, 500});
    EXPECT_EQ(lines_of(text, l), (lines{L"ab", L"", L"cd"}));
    EXPECT_EQ(l.lines[2].y, 36);
    EXPECT_FALSE(l.whole_text_on_first_line);

    text = L"one line";
    l = lay_out(text, {0, 0, 500, 500}, wrap_mode::draw);
    EXPECT_EQ(lines_of(text, l), (lines{L"one line"}));
    EXPECT_TRUE(l.whole_text_on_first_line);
}

TEST(WrappedText, DrawModeStopsAtTheBottomMeasureModeDoesNot) {
    std::wstring text = L"aaaa bbbb cccc dddd";
    // Lines at 0, 18, 36, 54; only the first two end at or above 30.
    wrap_layout drawn = lay_out(text, {0, 0, 50, 30}, wrap_mode::draw);
    EXPECT_EQ(lines_of(text, drawn), (lines{L"aaaa ", L"bbbb "}));
    EXPECT_EQ(drawn.bottom, 36 + 12);
    wrap_layout measured = lay_out(text, {0, 0, 50, 30}, wrap_mode::measure);
    EXPECT_EQ(measured.lines.size(), 4u);
    EXPECT_EQ(measured.bottom, 54 + 12);

    // The last line of the text is drawn only when it fits, too.
    drawn = lay_out(L"abc", {0, 0, 50, 11}, wrap_mode::draw);
    EXPECT_TRUE(drawn.lines.empty());
    EXPECT_EQ(drawn.bottom, 12);
}

TEST(WrappedText, EmptyTextLeavesTheRectangleAlone) {
    RECT r{5, 6, 100, 77};
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(draw_wrapped_text(dc, L"", r, 6, wrap_mode::measure), 0);
    DeleteDC(dc);
    EXPECT_EQ(r.bottom, 77);
}

TEST(WrappedText, DrawsNothingBelowTheRectangle) {
    memory_canvas canvas(120, 200);
    HDC dc = canvas.dc();
    SelectObject(dc, ui_font(font_id::verdana_10));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);

    const std::wstring text =
        L"A long message that wraps onto many lines in a narrow column of text";
    RECT measured{0, 0, 120, 40};
    int measured_lines = draw_wrapped_text(dc, text, measured, 6, wrap_mode::measure);
    RECT drawn{0, 0, 120, 40};
    int drawn_lines = draw_wrapped_text(dc, text, drawn, 6, wrap_mode::draw);
    EXPECT_GT(measured_lines, drawn_lines);
    EXPECT_GE(drawn_lines, 1);
    EXPECT_GT(measured.bottom, 40);

    picture p = canvas.capture();
    EXPECT_TRUE(p.contains({0, 0, 120, 40}, RGB(0, 0, 0)));
    for (int y = 40; y < 200; ++y) {
        for (int x = 0; x < 120; ++x) ASSERT_EQ(p.at(x, y), RGB(255, 255, 255)) << x << "," << y;
    }
}
