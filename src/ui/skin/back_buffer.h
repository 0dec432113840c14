// Flicker-free painting: drawing goes into a memory bitmap the size of the
// painted rectangle, in the target's coordinates, and is copied to the target
// in one piece when the buffer is destroyed.
#pragma once

#include <windows.h>

class back_buffer_c {
public:
    // `area` is in the target's coordinates. When the memory objects cannot
    // be made, dc() is the target itself and nothing is copied.
    back_buffer_c(HDC target, const RECT& area);
    ~back_buffer_c();
    back_buffer_c(const back_buffer_c&) = delete;
    back_buffer_c& operator=(const back_buffer_c&) = delete;

    HDC dc() const { return memory_ ? memory_ : target_; }

private:
    HDC target_;
    RECT area_;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
};
