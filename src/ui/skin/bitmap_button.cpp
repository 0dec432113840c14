#include "ui/skin/bitmap_button.h"

#include <initializer_list>

#include "ui/skin/image.h"
#include "ui/skin/window.h"

namespace {
constexpr UINT_PTR SUBCLASS_ID = 0x51424254;  // any number unique to this subclass
}

int bitmap_button_image(bool pushed, bool hover, bool focused) {
    if (pushed) return BITMAP_BUTTON_PUSHED;
    if (hover || focused) return BITMAP_BUTTON_HOVER;
    return BITMAP_BUTTON_NORMAL;
}

HIMAGELIST create_button_image_list(HINSTANCE module, int width, int height, int normal_id,
                                    int pushed_id, int hover_id) {
    HIMAGELIST list = ImageList_Create(width, height, ILC_COLOR32, 3, 0);
    if (!list) return nullptr;
    for (int id : {normal_id, pushed_id, hover_id}) {
        image_c image;
        if (image.load(module, id)) ImageList_Add(list, image.bitmap(), nullptr);
    }
    return list;
}

bitmap_button_c::~bitmap_button_c() { detach(); }

bool bitmap_button_c::subclass(HWND dialog, int id, HIMAGELIST images, HFONT font,
                               COLORREF text_color) {
    detach();
    HWND button = GetDlgItem(dialog, id);
    if (!button) return false;
    if (!SetWindowSubclass(button, subclass_proc, SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    button_ = button;
    images_ = images;
    font_ = font;
    text_color_ = text_color;
    LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
    SetWindowLongPtrW(button, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    int width = 0;
    int height = 0;
    if (images && ImageList_GetIconSize(images, &width, &height)) set_window_size(button, width, height);
    InvalidateRect(button, nullptr, TRUE);
    return true;
}

void bitmap_button_c::detach() {
    if (!button_) return;
    RemoveWindowSubclass(button_, subclass_proc, SUBCLASS_ID);
    button_ = nullptr;
}

void bitmap_button_c::set_text(const wchar_t* text) {
    if (button_) SetWindowTextW(button_, text);
}

void bitmap_button_c::move_to(int x, int y) {
    if (button_) {
        SetWindowPos(button_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void bitmap_button_c::show(bool visible) {
    if (button_) ShowWindow(button_, visible ? SW_SHOW : SW_HIDE);
}

void bitmap_button_c::draw(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    int index = bitmap_button_image((item.itemState & ODS_SELECTED) != 0, hover_,
                                    (item.itemState & ODS_FOCUS) != 0);
    if (images_) {
        if (index >= ImageList_GetImageCount(images_)) index = BITMAP_BUTTON_NORMAL;
        ImageList_Draw(images_, index, dc, r.left, r.top, ILD_NORMAL);
    }
    wchar_t text[256];
    int length = GetWindowTextW(item.hwndItem, text, 256);
    if (length <= 0) return;
    HGDIOBJ old_font = font_ ? SelectObject(dc, font_) : nullptr;
    int old_mode = SetBkMode(dc, TRANSPARENT);
    COLORREF old_color = SetTextColor(dc, text_color_);
    RECT text_rect = r;
    DrawTextW(dc, text, length, &text_rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetTextColor(dc, old_color);
    SetBkMode(dc, old_mode);
    if (old_font) SelectObject(dc, old_font);
}

LRESULT CALLBACK bitmap_button_c::subclass_proc(HWND window, UINT message, WPARAM wparam,
                                                LPARAM lparam, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<bitmap_button_c*>(data);
    switch (message) {
    case UM_REFLECT_DRAWITEM:
        self->draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
        return TRUE;
    case WM_MOUSEMOVE:
        if (!self->hover_) {
            self->hover_ = true;
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof(track);
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = window;
            TrackMouseEvent(&track);
            InvalidateRect(window, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        self->hover_ = false;
        InvalidateRect(window, nullptr, FALSE);
        break;
    case WM_ERASEBKGND:
        // The image covers the whole button.
        return TRUE;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, subclass_proc, SUBCLASS_ID);
        self->button_ = nullptr;
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}
