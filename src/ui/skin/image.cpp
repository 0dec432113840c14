#include "ui/skin/image.h"

#include <utility>

image_c::~image_c() { destroy(); }

image_c::image_c(image_c&& other) noexcept { *this = std::move(other); }

image_c& image_c::operator=(image_c&& other) noexcept {
    if (this != &other) {
        destroy();
        std::swap(bitmap_, other.bitmap_);
        std::swap(width_, other.width_);
        std::swap(height_, other.height_);
        transparent_ = other.transparent_;
        transparent_color_ = other.transparent_color_;
    }
    return *this;
}

bool image_c::load(HINSTANCE module, int id) {
    destroy();
    HANDLE loaded = LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0,
                               LR_CREATEDIBSECTION);
    if (!loaded) return false;
    BITMAP info{};
    if (!GetObjectW(loaded, sizeof(info), &info)) {
        DeleteObject(loaded);
        return false;
    }
    bitmap_ = static_cast<HBITMAP>(loaded);
    width_ = info.bmWidth;
    // A bottom-up DIB section reports its height as positive; be safe anyway.
    height_ = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    return true;
}

void image_c::destroy() {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = nullptr;
    width_ = height_ = 0;
}

void image_c::set_transparent_color(COLORREF color) {
    transparent_ = true;
    transparent_color_ = color;
}

void image_c::clear_transparent_color() { transparent_ = false; }

void image_c::draw(HDC dc, int x, int y) const {
    if (!bitmap_ || !dc) return;
    HDC source = CreateCompatibleDC(dc);
    if (!source) return;
    HGDIOBJ old = SelectObject(source, bitmap_);
    if (transparent_) {
        TransparentBlt(dc, x, y, width_, height_, source, 0, 0, width_, height_,
                       transparent_color_);
    } else {
        BitBlt(dc, x, y, width_, height_, source, 0, 0, SRCCOPY);
    }
    SelectObject(source, old);
    DeleteDC(source);
}
