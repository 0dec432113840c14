// A bitmap resource loaded as a device-independent section and drawn at its
// own size, copied or with one colour transparent. An image that failed to
// load is empty and draws nothing.
#pragma once

#include <windows.h>

class image_c {
public:
    image_c() = default;
    ~image_c();
    image_c(image_c&& other) noexcept;
    image_c& operator=(image_c&& other) noexcept;
    image_c(const image_c&) = delete;
    image_c& operator=(const image_c&) = delete;

    // Replaces the image with bitmap resource `id` of `module`. False (and
    // empty) when it cannot be loaded.
    bool load(HINSTANCE module, int id);
    void destroy();

    bool empty() const { return bitmap_ == nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }
    HBITMAP bitmap() const { return bitmap_; }

    // Pixels of this colour are left out when drawing.
    void set_transparent_color(COLORREF color);
    void clear_transparent_color();

    void draw(HDC dc, int x, int y) const;

private:
    HBITMAP bitmap_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool transparent_ = false;
    COLORREF transparent_color_ = 0;
};
