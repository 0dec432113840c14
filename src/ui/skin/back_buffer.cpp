#include "ui/skin/back_buffer.h"

back_buffer_c::back_buffer_c(HDC target, const RECT& area) : target_(target), area_(area) {
    int w = area.right - area.left;
    int h = area.bottom - area.top;
    if (!target || w <= 0 || h <= 0) return;
    memory_ = CreateCompatibleDC(target);
    if (!memory_) return;
    bitmap_ = CreateCompatibleBitmap(target, w, h);
    if (!bitmap_) {
        DeleteDC(memory_);
        memory_ = nullptr;
        return;
    }
    old_bitmap_ = SelectObject(memory_, bitmap_);
    SetViewportOrgEx(memory_, -area.left, -area.top, nullptr);
}

back_buffer_c::~back_buffer_c() {
    if (!memory_) return;
    SetViewportOrgEx(memory_, 0, 0, nullptr);
    BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top,
           memory_, 0, 0, SRCCOPY);
    SelectObject(memory_, old_bitmap_);
    DeleteObject(bitmap_);
    DeleteDC(memory_);
}
