// The program-wide GDI fonts shared by every window. They are created once at
// start-up, before the language table is loaded, and live until the process
// ends. Their pixel heights do not depend on the display's resolution.
#pragma once

#include <windows.h>

// In creation order. The names give face, size in points and weight; the two
// 8-point normal Verdana fonts are separate fonts of the same look.
enum class font_id : int {
    arial_8,
    arial_11,
    arial_15,
    arial_18,
    arial_16,
    arial_18_bold,
    arial_25_bold,
    verdana_8,
    verdana_8_second,
    verdana_10,
    verdana_8_bold,
    verdana_9_bold,
    verdana_10_bold,
    verdana_12_bold,
    verdana_12,
    verdana_14,
    verdana_16_bold,
    verdana_16,
    verdana_18,
    verdana_22,
    verdana_25,
};
constexpr int FONT_COUNT = 21;

struct font_definition {
    const wchar_t* face;  // passed to CreateFontW exactly as written
    int points;
    int weight;  // FW_NORMAL or FW_BOLD
};
extern const font_definition font_definitions[FONT_COUNT];

// The character height for a size in points at 96 pixels per inch, rounded
// to the nearest pixel; negative, as CreateFontW takes a character height.
int font_height_for_points(int points);

// Creates the fonts (once; later calls do nothing).
void create_fonts();
// A font of the set; null before create_fonts.
HFONT ui_font(font_id id);
