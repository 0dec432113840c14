// A progress bar a page draws: the background, the done part from the left
// in the fill brush, and the percentage centred on top in the font, colour
// and background mode the caller selected.
#pragma once

#include <windows.h>

#include <string>

// The done part's right edge: left + (right − left) × fraction, truncated.
// A fraction outside 0 … 1 (or not a number) counts as the nearest end.
int progress_fill_right(int left, int right, float fraction);
// "%d%%" of the truncated percentage, e.g. "37%".
std::wstring progress_label(float fraction);

class progress_bar_c {
public:
    progress_bar_c() = default;
    ~progress_bar_c();
    progress_bar_c(const progress_bar_c&) = delete;
    progress_bar_c& operator=(const progress_bar_c&) = delete;

    // The bar owns the brushes from now on (earlier ones are deleted).
    void set_brushes(HBRUSH fill, HBRUSH background);

    void draw(HDC dc, int left, int top, int right, int bottom) const;

    float fraction = 0.0f;

private:
    HBRUSH fill_ = nullptr;
    HBRUSH background_ = nullptr;
};
