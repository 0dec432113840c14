// A dialog push button drawn from images: it takes over an existing button
// of a dialog, makes it owner-drawn, sizes it to its images and draws the
// image for its state (normal 0, pushed 1, hover or focus 2 in an image list
// shared with the dialog's other buttons) with its window text centred on
// top.
#pragma once

#include <windows.h>

#include <commctrl.h>

// Image list indexes.
constexpr int BITMAP_BUTTON_NORMAL = 0;
constexpr int BITMAP_BUTTON_PUSHED = 1;
constexpr int BITMAP_BUTTON_HOVER = 2;

// Which image a button shows.
int bitmap_button_image(bool pushed, bool hover, bool focused);

// An image list of `width` × `height` 32-bit images made from the bitmap
// resources, in the given order (normal, pushed, hover); bitmaps that fail
// to load are left out. Null when the list cannot be created.
HIMAGELIST create_button_image_list(HINSTANCE module, int width, int height, int normal_id,
                                    int pushed_id, int hover_id);

class bitmap_button_c {
public:
    bitmap_button_c() = default;
    ~bitmap_button_c();
    bitmap_button_c(const bitmap_button_c&) = delete;
    bitmap_button_c& operator=(const bitmap_button_c&) = delete;

    // Takes over button `id` of `dialog`. The image list stays the caller's
    // and must outlive the button. False when there is no such button.
    bool subclass(HWND dialog, int id, HIMAGELIST images, HFONT font, COLORREF text_color);

    HWND handle() const { return button_; }
    void set_text(const wchar_t* text);
    void move_to(int x, int y);
    void show(bool visible);

private:
    static LRESULT CALLBACK subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                          UINT_PTR id, DWORD_PTR data);
    void draw(const DRAWITEMSTRUCT& item);
    void detach();

    HWND button_ = nullptr;
    HIMAGELIST images_ = nullptr;
    HFONT font_ = nullptr;
    COLORREF text_color_ = RGB(255, 255, 255);
    bool hover_ = false;
};
