#include "ui/skin/progress_bar.h"

namespace {

float clamped(float fraction) {
    if (!(fraction >= 0.0f)) return 0.0f;  // also not a number
    return fraction > 1.0f ? 1.0f : fraction;
}

}  // namespace

int progress_fill_right(int left, int right, float fraction) {
    return left + static_cast<int>(static_cast<float>(right - left) * clamped(fraction));
}

std::wstring progress_label(float fraction) {
    return std::to_wstring(static_cast<int>(clamped(fraction) * 100.0f)) + L"%";
}

progress_bar_c::~progress_bar_c() { set_brushes(nullptr, nullptr); }

void progress_bar_c::set_brushes(HBRUSH fill, HBRUSH background) {
    if (fill_ && fill_ != fill) DeleteObject(fill_);
    if (background_ && background_ != background) DeleteObject(background_);
    fill_ = fill;
    background_ = background;
}

void progress_bar_c::draw(HDC dc, int left, int top, int right, int bottom) const {
    RECT bar{left, top, right, bottom};
    if (background_) FillRect(dc, &bar, background_);
    RECT done{left, top, progress_fill_right(left, right, fraction), bottom};
    if (fill_ && done.right > done.left) FillRect(dc, &done, fill_);
    std::wstring label = progress_label(fraction);
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &bar,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}
