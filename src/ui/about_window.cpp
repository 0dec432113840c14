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
    : dialog_base_c(IDD_ABOUT_BOX), ui_window_c<about_window_c>(ABOUT_BOX_CAPTION) {}

about_window_c::~about_window_c() {
    if (button_images_) ImageList_Destroy(button_images_);
    if (separator_brush_) DeleteObject(separator_brush_);
    if (background_) DeleteObject(background_);
}

bool about_window_c::process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                     LRESULT& result) {
    static const message_entry<about_window_c> map[] = {
        {WM_INITDIALOG, &about_window_c::on_init_dialog},
        {WM_ERASEBKGND, &about_window_c::on_erase_background},
        {WM_PAINT, &about_window_c::on_paint},
        {WM_COMMAND, &about_window_c::on_command},
    };
    if (process_frame_message(window, message, wparam, lparam, result)) return true;
    return dispatch_message(this, map, message, wparam, lparam, result);
}

LRESULT about_window_c::on_init_dialog(UINT, WPARAM, LPARAM, bool&) {
    HINSTANCE module = resource_module();
    append_dialog_close_button(&about_window_c::on_close_button);

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

    place_dialog(window_, ABOUT_BOX_WIDTH, ABOUT_BOX_HEIGHT);
    return TRUE;
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

LRESULT about_window_c::on_erase_background(UINT, WPARAM wparam, LPARAM, bool&) {
    HDC dc = reinterpret_cast<HDC>(wparam);
    RECT client{};
    GetClientRect(window_, &client);
    FillRect(dc, &client, background_);
    RECT panel{15, 85, 470, 185};
    FillRect(dc, &panel, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    return 1;
}

LRESULT about_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window_, &ps);
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
    EndPaint(window_, &ps);
    return 0;
}

LRESULT about_window_c::on_command(UINT, WPARAM wparam, LPARAM, bool& handled) {
    int id = LOWORD(wparam);
    if (HIWORD(wparam) != BN_CLICKED || (id != 1 && id != 2)) {
        handled = false;
        return 0;
    }
    if (id == 1) {
        // Whether the updater starts or not, the box closes.
        std::wstring path = updater_path(program_dir);
        if (!path.empty()) shell().start_program(window_, path.c_str(), nullptr, SW_SHOWNORMAL);
    }
    end_dialog(id);
    return 0;
}

void about_window_c::on_close_button() { end_dialog(0); }
