#include "ui/sidebar.h"

#include <string>

#include "app/language.h"
#include "devices/system_info.h"
#include "ui/skin/colors.h"
#include "ui/skin/fonts.h"
#include "ui/skin/image.h"
#include "ui/skin/wrapped_text.h"
#include "ui/text_boxes.h"

void paint_sidebar_band(HDC dc, int width, int height) {
    HBRUSH band = CreateSolidBrush(SKIN_SIDEBAR);
    RECT r{width - SIDEBAR_WIDTH, 0, width, height};
    FillRect(dc, &r, band);
    DeleteObject(band);
    HBRUSH line = CreateSolidBrush(SKIN_SIDEBAR_LINE);
    RECT l{width - SIDEBAR_WIDTH, 0, width - SIDEBAR_WIDTH + 1, height};
    FillRect(dc, &l, line);
    DeleteObject(line);
}

int sidebar_value_offset(sidebar_page page) {
    bool french = page == sidebar_page::home
                      ? locale_is(L"fr") || locale_is(L"nl")
                      : lstrcmpiW(current_language_name(), L"Fran\u00e7ais") == 0;
    return french ? 72 : 55;
}

int draw_system_info(HDC dc, int width, const image_c& header, sidebar_page page) {
    header.draw(dc, width - 247, 5);

    const int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, ui_font(sidebar_title_font(page)));
    SetTextColor(dc, SKIN_TITLE_TEXT);
    const std::wstring& title = text_for("sidebar_system_info");
    const RECT title_box = sidebar_title_box(width);
    TextOutW(dc, title_box.left, title_box.top, title.c_str(), static_cast<int>(title.size()));

    int top = 100;
    if (!machine_info.collected) {
        RestoreDC(dc, saved);
        return top;
    }
    SelectObject(dc, ui_font(SIDEBAR_ROW_FONT));
    SetTextColor(dc, SKIN_SIDEBAR_VALUE);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);

    const struct {
        const char* label;
        const std::wstring* value;
    } rows[] = {
        {"sidebar_model", &machine_info.model},     {"sidebar_os", &machine_info.os},
        {"sidebar_cpu", &machine_info.cpu},         {"sidebar_memory", &machine_info.memory},
        {"sidebar_display", &machine_info.display}, {"sidebar_sound", &machine_info.sound},
        {"sidebar_storage", &machine_info.storage},
    };
    const int value_left = width - SIDEBAR_WIDTH + sidebar_value_offset(page);
    for (const auto& row : rows) {
        // An empty value still takes one line, so the labels never overlap.
        RECT value{value_left, top, width - 5, top + metrics.tmHeight};
        draw_wrapped_text(dc, *row.value, value, 5, wrap_mode::measure);
        RECT shown = value;
        draw_wrapped_text(dc, *row.value, shown, 5, wrap_mode::draw);
        RECT label = sidebar_label_box(width, page, top, value.bottom);
        const std::wstring& text = text_for(row.label);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &label,
                  DT_WORDBREAK | DT_NOPREFIX);
        top = value.bottom + 20;
    }
    RestoreDC(dc, saved);
    return top - 20;
}
