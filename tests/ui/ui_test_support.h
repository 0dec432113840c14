// Helpers shared by the user-interface tests: the program's resources and
// English texts, pictures of windows (pixels and PNG files), and modal dialogs driven from a
// timer with a bounded wait.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/recording_shell.h"

// A 32-bit top-down picture.
struct picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB

    bool empty() const { return pixels.empty(); }
    // RGB(...) of a pixel; 0xFFFFFFFF outside the picture.
    COLORREF at(int x, int y) const;
    // Whether some pixel of the rectangle has exactly this colour.
    bool contains(const RECT& r, COLORREF color) const;
};

// The window as it is on screen, frame included (painted first).
picture capture_window(HWND window);
// What a memory DC holds.
picture capture_dc(HDC dc, int width, int height);
// A white bitmap of the given size selected into a memory DC.
class memory_canvas {
public:
    memory_canvas(int width, int height);
    ~memory_canvas();
    memory_canvas(const memory_canvas&) = delete;
    memory_canvas& operator=(const memory_canvas&) = delete;
    HDC dc() const { return dc_; }
    picture capture() const { return capture_dc(dc_, width_, height_); }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
    HGDIOBJ old_font_ = nullptr;
};

// A bitmap resource of the program.
picture resource_picture(int id);
// A point where the bitmaps' pixels all differ from one another and from
// every colour in `avoid` (so that a pixel of a drawn window tells which
// bitmap is shown there); {-1, -1} when there is none.
POINT distinct_point(const std::vector<int>& ids, const std::vector<COLORREF>& avoid = {});
// Whether `shot` shows bitmap `id` with its top-left corner at (x, y): the
// pixel at a point where the bitmaps of `family` (the states of one button,
// `id` among them) differ from one another and from `avoid` must be `id`'s.
::testing::AssertionResult shows_bitmap(const picture& shot, int x, int y, int id,
                                        const std::vector<int>& family,
                                        const std::vector<COLORREF>& avoid = {});
// Writes the picture as <build tree>\screenshots\<name>.png. False on failure.
bool save_screenshot(const picture& p, const wchar_t* name);

// Runs `run` (which shows a modal dialog and returns its result) while a
// timer waits for the dialog to be shown and then calls `act` with it once.
// If the dialog is still open after `limit_ms` it is ended with -100.
int drive_modal(const std::function<int()>& run, const std::function<void(HWND dialog)>& act,
                DWORD limit_ms = 15000);

// Pumps the thread's messages for about `ms` milliseconds.
void pump_messages(DWORD ms);

// Screen point of a window-relative point.
POINT window_point(HWND window, int x, int y);
LPARAM screen_lparam(POINT p);
// The window rectangle's top-left corner and the client origin in window
// coordinates.
POINT client_origin_in_window(HWND window);
