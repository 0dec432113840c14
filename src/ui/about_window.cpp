#include "ui/about_window.h"

#include <shlwapi.h>

#include "app/globals.h"
#include "app/language.h"
#include "platform/shell.h"
#include "resources/resource.h"
#include "ui/skin/colors.h"
#include "ui/skin/fonts.h"
#include "ui/skin/wrapped_text.h"

namespace {

constexpr COLORREF WHITE = RGB(255, 255, 255);
constexpr int TEXT_LINE_GAP = 6;

void draw_text_at(HDC dc, int x, int y, const std::wstring& text) {
    TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

std::wstring updater_path(const wchar_t* folder) {
    wchar_t path[MAX_PATH] = {};
    if (folder && lstrlenW(folder) >= MAX_PATH) return {};
    if (folder) lstrcpynW(path, folder, MAX_PATH);
    if (!PathAppendW(path, L"update") || !PathAppendW(path, L"update.exe")) return {};
    return path;
}

about_window_c::about_window_c()
    : skinned_dialog_c(IDD_ABOUT_BOX, ABOUT_BOX_CAPTION, ABOUT_BOX_WIDTH, ABOUT_BOX_HEIGHT) {}

about_window_c::~about_window_c() {
    if (separator_brush_) DeleteObject(separator_brush_);
    if (background_) DeleteObject(background_);
}

void about_window_c::set_up(HINSTANCE module) {
    button_images_ = create_button_image_list(module, 130, 24, IDB_ABOUT_BUTTON_NORMAL,
                                              IDB_ABOUT_BUTTON_PRESSED, IDB_ABOUT_BUTTON_HOVER);
    const struct {
        int id;
        int y;
        const char* key;
    } buttons[] = {{1, 210, "about_btn_check"}, {2, 250, "about_btn_bk"}};
    for (const auto& spot : buttons) {
        bitmap_button_c& b = buttons_[spot.id - 1];
        b.subclass(window_, spot.id, button_images_, ui_font(font_id::verdana_8), WHITE);
        b.move_to(340, spot.y);
        b.set_text(text_for(spot.key).c_str());
    }

    picture_.load(module, IDB_ABOUT_PICTURE);
    if (separator_.load(module, IDB_ABOUT_SEPARATOR)) {
        separator_brush_ = CreatePatternBrush(separator_.bitmap());
    }
    background_ = CreateSolidBrush(SKIN_CAPTION);
}

void about_window_c::draw_caption_items(HDC dc, const RECT&) {
    picture_.draw(dc, 20, 30);
    HGDIOBJ old_font = SelectObject(dc, ui_font(font_id::arial_25_bold));
    int old_mode = SetBkMode(dc, TRANSPARENT);
    COLORREF old_color = SetTextColor(dc, WHITE);
    draw_text_at(dc, 90, 49, text_for("about_name"));
    SetTextColor(dc, old_color);
    SetBkMode(dc, old_mode);
    SelectObject(dc, old_font);
    if (separator_brush_) {
        RECT line{5, 100 - separator_.height(), 490, 100};
        FillRect(dc, &line, separator_brush_);
    }
}

void about_window_c::erase_background(HDC dc, const RECT& client) {
    FillRect(dc, &client, background_);
    RECT panel{15, 85, 470, 185};
    FillRect(dc, &panel, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

void about_window_c::paint(HDC dc) {
    HGDIOBJ old_font = SelectObject(dc, ui_font(font_id::verdana_8));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, WHITE);
    draw_text_at(dc, 15, 5, text_for("about_copyright"));
    draw_text_at(dc, 15, 65, text_for("about_information"));

    // The build: the product's texts name the date and time it was built.
    wchar_t info[1024];
    format_text(info, 1024, text_for("about_info1").c_str(), L"", L"" __DATE__, L"" __TIME__);
    SetTextColor(dc, RGB(0, 0, 0));
    RECT r{20, 95, 465, 175};
    draw_wrapped_text(dc, info, r, TEXT_LINE_GAP, wrap_mode::draw);
    SelectObject(dc, old_font);
}

void about_window_c::on_clicked(int id) {
    if (id != 1) return;
    // Whether the updater starts or not, the box closes, and a missing
    // updater shows nothing.
    std::wstring path = updater_path(program_dir);
    if (!path.empty()) shell().start_program_quietly(window_, path.c_str());
}
