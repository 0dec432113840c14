// Japanese, both Chinese scripts and Arabic are drawn with real letters in
// the program's fonts, not with the box a font draws for a character it does
// not have. The fonts of the program (Verdana, Arial) and their stand-ins
// have none of these letters: they come through font linking.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/language.h"
#include "app/settings.h"
#include "platform/text.h"
#include "texts/text_test_support.h"
#include "ui/skin/fonts.h"

namespace {

const wchar_t shipped_file[] = QM_PROGRAM_DIR_W L"\\language.ini";

// Characters no font has: drawn as the missing-glyph box of the font (or of
// the font linked in first).
const wchar_t unassigned[] = {L'\u0378', L'\uFFFF'};

// Draws one character in black on the white canvas.
std::vector<uint32_t> draw_character(text_canvas& canvas, HFONT font, wchar_t c) {
    canvas.clear();
    HDC dc = canvas.dc();
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    TextOutW(dc, 8, 8, &c, 1);
    SelectObject(dc, old);
    return canvas.pixels();
}

bool blank(const std::vector<uint32_t>& pixels) {
    for (uint32_t p : pixels)
        if (p != 0xFFFFFF) return false;
    return true;
}

// The letters of `text` (blanks, digits, Latin and punctuation left out)
// that `font` draws as a missing-glyph box or not at all.
std::wstring boxed_letters(HFONT font, const std::wstring& text) {
    text_canvas canvas(64, 64);
    std::vector<std::vector<uint32_t>> boxes;
    for (wchar_t c : unassigned) boxes.push_back(draw_character(canvas, font, c));
    std::wstring boxed;
    for (wchar_t c : text) {
        if (c < 0x0600 || (c >= 0xFF00 && c <= 0xFF20) || boxed.find(c) != std::wstring::npos)
            continue;
        std::vector<uint32_t> drawn = draw_character(canvas, font, c);
        bool is_box = blank(drawn);
        for (const auto& box : boxes) is_box = is_box || drawn == box;
        if (is_box) boxed += c;
    }
    return boxed;
}

HFONT make_font(const wchar_t* face, int height, int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS,
                       CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH, face);
}

// Some texts of a language, and its name as the settings dialog lists it.
std::wstring sample_of(const wchar_t* language) {
    reset_language_table();
    if (load_language_file(shipped_file, language, true) != 0) return L"";
    std::wstring sample = language;
    for (const char* key : {"home_scan_for_driver_updates", "sidebar_system_info", "sidebar_model",
                            "sidebar_memory", "scan_waiting", "system_tray_warning", "top_backup",
                            "btn_cancel"})
        sample += text_for(key);
    reset_language_table();
    return sample;
}

const wchar_t* const linked_languages[] = {L"\u65e5\u672c\u8a9e", L"\u7b80\u4f53\u4e2d\u6587",
                                           L"\u7e41\u9ad4\u4e2d\u6587",
                                           L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629"};

TEST(FontLinking, EveryLanguageIsDrawnWithRealLettersInTheProgramsFonts) {
    create_fonts();
    for (const wchar_t* language : linked_languages) {
        const std::wstring sample = sample_of(language);
        ASSERT_GT(sample.size(), 20u) << wide_to_utf8(language);
        // Verdana and Arial, normal and bold, as the windows use them.
        for (font_id font : {font_id::arial_8, font_id::verdana_10, font_id::verdana_12_bold,
                             font_id::verdana_18, font_id::arial_25_bold}) {
            EXPECT_EQ(wide_to_utf8(boxed_letters(ui_font(font), sample)), "")
                << wide_to_utf8(language) << " in " << wide_to_utf8(font_definitions[int(font)].face)
                << " " << font_definitions[int(font)].points << " pt";
        }
    }
}

// A word drawn whole, and the same word drawn one character at a time from
// left to right at the advances of its characters: identical for a script
// that neither joins nor reorders, different where the letters are joined
// and placed right to left.
bool drawn_as_separate_letters(HFONT font, const std::wstring& word) {
    text_canvas whole(256, 64), letters(256, 64);
    for (text_canvas* canvas : {&whole, &letters}) {
        SelectObject(canvas->dc(), font);
        SetBkMode(canvas->dc(), TRANSPARENT);
    }
    TextOutW(whole.dc(), 8, 8, word.c_str(), static_cast<int>(word.size()));
    int x = 8;
    for (wchar_t c : word) {
        TextOutW(letters.dc(), x, 8, &c, 1);
        SIZE size{};
        GetTextExtentPoint32W(letters.dc(), &c, 1, &size);
        x += size.cx;
    }
    const bool same = whole.pixels() == letters.pixels();
    for (text_canvas* canvas : {&whole, &letters}) SelectObject(canvas->dc(), GetStockObject(SYSTEM_FONT));
    return same;
}

TEST(FontLinking, ArabicIsJoinedAndRightToLeftInVerdanaAndArial) {
    create_fonts();
    const std::wstring model = L"\u0627\u0644\u0637\u0631\u0627\u0632:";  // the model label
    for (font_id font : {font_id::arial_8, font_id::verdana_10, font_id::verdana_12_bold}) {
        SCOPED_TRACE(std::string(wide_to_utf8(font_definitions[int(font)].face)) + " " +
                     std::to_string(font_definitions[int(font)].points) + " pt");
        // The comparison is exact for Latin letters ...
        EXPECT_TRUE(drawn_as_separate_letters(ui_font(font), L"Model:"));
        // ... and Arabic must not come out as unjoined letters in reading order.
        EXPECT_FALSE(drawn_as_separate_letters(ui_font(font), model));
    }
}

// The check sees boxes: a font that links nothing draws these letters as
// its missing-glyph box.
TEST(FontLinking, AFontWithoutLinksShowsBoxesForTheseLetters) {
    HFONT unlinked = make_font(L"Liberation Serif", -16, FW_NORMAL);
    ASSERT_NE(unlinked, nullptr);
    for (const wchar_t* language : linked_languages) {
        const std::wstring name = language;
        EXPECT_EQ(boxed_letters(unlinked, name).size(), name.size())
            << wide_to_utf8(name);
    }
    DeleteObject(unlinked);
}

// Why Arial's stand-in must have Arabic letters of its own: Wine joins and
// orders Arabic with the font asked for, so a font without them that is
// linked to one with them draws the letters apart, left to right.
TEST(FontLinking, ALinkedFontWithoutArabicDrawsItsLettersApart) {
    HFONT linked = make_font(L"Liberation Sans", -11, FW_NORMAL);
    ASSERT_NE(linked, nullptr);
    const std::wstring model = L"\u0627\u0644\u0637\u0631\u0627\u0632:";
    EXPECT_EQ(boxed_letters(linked, model), L"");
    EXPECT_TRUE(drawn_as_separate_letters(linked, model));
    DeleteObject(linked);
}

}  // namespace
