#include "ui/skin/buttons.h"

#include "app/language.h"
#include "ui/skin/colors.h"
#include "ui/skin/fonts.h"

bool button_base_c::create(HINSTANCE module, int normal_id, int hover_id, int pressed_id, int left,
                           int top, int right, int bottom, std::wstring_view label) {
    rect = RECT{left, top, right, bottom};
    text.assign(label);
    return set_images(module, normal_id, hover_id, pressed_id);
}

bool button_base_c::set_images(HINSTANCE module, int normal_id, int hover_id, int pressed_id) {
    bool ok = images[BUTTON_NORMAL].load(module, normal_id);
    ok = images[BUTTON_HOVER].load(module, hover_id) && ok;
    ok = images[BUTTON_PRESSED].load(module, pressed_id) && ok;
    return ok;
}

const image_c& button_base_c::current_image() const {
    int i = state >= BUTTON_NORMAL && state <= BUTTON_PRESSED ? state : BUTTON_NORMAL;
    return images[i];
}

const std::wstring& button_base_c::shown_text() const {
    return text_key.empty() ? text : text_for(text_key);
}

bool point_in_rect(int x, int y, const RECT& r) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

bool hit_test_from_right(const button_base_c& b, int x, int y, const RECT& area) {
    return point_in_rect((area.right - area.left) - x, y, b.rect);
}

void draw_from_right(const button_base_c& b, HDC dc, const RECT& area) {
    b.current_image().draw(dc, area.right - b.rect.right, b.rect.top);
}

void draw_top_button(button_base_c& b, HDC dc) {
    b.current_image().draw(dc, b.rect.left, b.rect.top);
    b.draw_text(dc, b.rect.left, b.rect.top, b.rect.right, b.rect.bottom);
}

void draw_top_button_text(const button_base_c& b, HDC dc, const RECT& rect) {
    const std::wstring& label = b.shown_text();
    if (label.empty()) return;
    bool long_texts = locale_is(L"de") || locale_is(L"it") || locale_is(L"es") || locale_is(L"pt");
    HGDIOBJ old_font =
        SelectObject(dc, ui_font(long_texts ? font_id::verdana_8 : font_id::verdana_8_bold));
    int old_mode = SetBkMode(dc, TRANSPARENT);
    COLORREF old_color =
        SetTextColor(dc, b.state == BUTTON_PRESSED ? SKIN_TITLE_TEXT : SKIN_TAB_TEXT);
    RECT r{rect.left, rect.top, rect.right, rect.bottom - 5};
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &r,
              DT_CENTER | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX);
    SetTextColor(dc, old_color);
    SetBkMode(dc, old_mode);
    SelectObject(dc, old_font);
}

POINT home_button_origin(const button_base_c& b, int client_width, int client_height) {
    int image_width = b.images[BUTTON_NORMAL].width();
    return POINT{(client_width - 250) / 2 - image_width / 2, (client_height - 150) / 2};
}

bool hit_test_home_button(const button_base_c& b, int x, int y, const RECT& area) {
    POINT origin = home_button_origin(b, area.right - area.left, area.bottom - area.top);
    const image_c& normal = b.images[BUTTON_NORMAL];
    RECT placed{origin.x, origin.y, origin.x + normal.width(), origin.y + normal.height()};
    return point_in_rect(x, y, placed);
}

void draw_home_button(const button_base_c& b, HDC dc, const RECT& area) {
    POINT origin = home_button_origin(b, area.right - area.left, area.bottom - area.top);
    b.current_image().draw(dc, area.left + origin.x, area.top + origin.y);
}

// --- Caption mouse handling --------------------------------------------------

caption_change caption_mouse_move(button_list& buttons, int x, int y, const RECT& area) {
    caption_change change;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        button_base_c& b = *buttons[i];
        bool hit = b.hit_test(x, y, area.left, area.top, area.right, area.bottom);
        change.hit = change.hit || hit;
        if (hit && b.state == BUTTON_NORMAL) {
            b.state = BUTTON_HOVER;
            change.changed = static_cast<int>(i);
            change.hover_began = true;
            return change;
        }
        if (!hit && b.state != BUTTON_NORMAL) {
            b.state = BUTTON_NORMAL;
            change.changed = static_cast<int>(i);
            return change;
        }
    }
    return change;
}

namespace {

// The first hit button whose state is not `state` takes it.
caption_change set_first_hit(button_list& buttons, int x, int y, const RECT& area, int state) {
    caption_change change;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        button_base_c& b = *buttons[i];
        if (!b.hit_test(x, y, area.left, area.top, area.right, area.bottom)) continue;
        change.hit = true;
        if (b.state != state) {
            b.state = state;
            change.changed = static_cast<int>(i);
            return change;
        }
    }
    return change;
}

}  // namespace

caption_change caption_button_down(button_list& buttons, int x, int y, const RECT& area) {
    return set_first_hit(buttons, x, y, area, BUTTON_PRESSED);
}

caption_change caption_button_up(button_list& buttons, int x, int y, const RECT& area) {
    return set_first_hit(buttons, x, y, area, BUTTON_HOVER);
}

caption_change caption_mouse_leave(button_list& buttons) {
    caption_change change;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i]->state != BUTTON_NORMAL) {
            buttons[i]->state = BUTTON_NORMAL;
            change.changed = static_cast<int>(i);
            return change;
        }
    }
    return change;
}

bool caption_hit(const button_list& buttons, int x, int y, const RECT& area) {
    for (const auto& b : buttons) {
        if (b->hit_test(x, y, area.left, area.top, area.right, area.bottom)) return true;
    }
    return false;
}
