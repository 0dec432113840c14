// The skinned frame: a mix-in base of every top-level window class `T` that
// enlarges the caption to the skin's height and paints the whole non-client
// area itself (caption band, frame lines, caption buttons and title). Its
// message handling is offered each message before the owner's own map.
#pragma once

#include <windows.h>
#include <windowsx.h>

#include <memory>

#include "resources/resource.h"
#include "ui/skin/buttons.h"
#include "ui/skin/window.h"

struct frame_metrics {
    int caption = 0;  // SM_CYCAPTION
    int frame_x = 0;  // SM_CXFRAME, or SM_CXDLGFRAME for dialogs
    int frame_y = 0;  // SM_CYFRAME, or SM_CYDLGFRAME for dialogs
};
frame_metrics window_frame_metrics();
frame_metrics dialog_frame_metrics();

// Paints a window's non-client area through a back buffer of the whole
// window; the client area is left alone when the buffer is copied.
class frame_paint_c {
public:
    explicit frame_paint_c(HWND window);
    ~frame_paint_c();
    frame_paint_c(const frame_paint_c&) = delete;
    frame_paint_c& operator=(const frame_paint_c&) = delete;

    HDC dc() const;
    // The window in its own coordinates: (0, 0, width, height).
    const RECT& area() const { return area_; }

private:
    HWND window_;
    HDC window_dc_;
    RECT area_{};
    RECT client_{};  // in window coordinates
    std::unique_ptr<class back_buffer_c> buffer_;
};

// The caption band: from x = m.frame_y, y = m.frame_x to the right edge,
// skin_caption_height tall.
void fill_caption_band(HDC dc, const frame_metrics& m, int skin_caption_height, const RECT& area);
// A 1-px outer line, then frame_x − 1 nested lines in the caption colour.
void draw_frame_lines(HDC dc, const RECT& area, int frame_x);
// The window text in the caption: with `icon`, the icon at (5, 5) scaled to
// 20 × 20 and the text at (30, 8); without, the text at (10, 10).
void draw_caption_title(HDC dc, HWND window, HICON icon);
// The hit code of a skinned window at screen point `at`, given the default
// window procedure's code there: the whole skinned caption (inside the frame
// borders, above the client area) is caption, so that the mouse reaches the
// caption buttons and drags the window wherever it is below the system's
// caption height too. Borders, client area and points outside keep the
// default code.
LRESULT skinned_hit_test(HWND window, POINT at, LRESULT default_code, const frame_metrics& m);

template <class T>
class ui_window_c {
public:
    explicit ui_window_c(int skin_caption_height) : skin_caption_height_(skin_caption_height) {}
    virtual ~ui_window_c() = default;
    ui_window_c(const ui_window_c&) = delete;
    ui_window_c& operator=(const ui_window_c&) = delete;

    // Appends a caption button; the list owns it from now on.
    button_c<T>* append_button(button_c<T>* button) {
        buttons_.emplace_back(button);
        return button;
    }
    // A dialog's caption close button (31 × 21, at the frame's top right)
    // that runs `action`.
    void append_dialog_close_button(void (T::*action)()) {
        auto* close = new system_button_c<T>;
        close->create(resource_module(), IDB_DIALOG_CLOSE_NORMAL, IDB_DIALOG_CLOSE_HOVER,
                      IDB_DIALOG_CLOSE_PRESSED, metrics_.frame_x, metrics_.frame_y,
                      metrics_.frame_x + 31, metrics_.frame_y + 21, L"system_close");
        close->set_action(action);
        append_button(close);
    }
    const button_list& caption_buttons() const { return buttons_; }
    const frame_metrics& metrics() const { return metrics_; }
    int skin_caption_height() const { return skin_caption_height_; }

    // The frame's message map; true when it handled the message.
    bool process_frame_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                               LRESULT& result) {
        switch (message) {
        case WM_NCCREATE:
            metrics_ = window_frame_metrics();
            return false;
        case WM_INITDIALOG:
            metrics_ = dialog_frame_metrics();
            SetWindowPos(window, nullptr, 0, 0, 0, 0,
                         SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                             SWP_NOACTIVATE);
            return false;
        case WM_NCCALCSIZE: {
            RECT* proposed = wparam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lparam)->rgrc[0]
                                    : reinterpret_cast<RECT*>(lparam);
            if (proposed) proposed->top += skin_caption_height_ - metrics_.caption;
            return false;
        }
        case WM_NCHITTEST:
            result = skinned_hit_test(window, POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)},
                                      DefWindowProcW(window, message, wparam, lparam), metrics_);
            return true;
        case WM_NCPAINT:
            paint_frame();
            result = 0;
            return true;
        case WM_NCACTIVATE:
            if (IsIconic(window)) return false;
            paint_frame();
            result = !wparam;
            return true;
        case WM_NCMOUSEMOVE: {
            RECT area;
            POINT p = relative_point(window, lparam, area);
            caption_change c = caption_mouse_move(buttons_, p.x, p.y, area);
            if (c.hover_began && !tracking_) {
                TRACKMOUSEEVENT track{};
                track.cbSize = sizeof(track);
                track.dwFlags = TME_LEAVE | TME_NONCLIENT;
                track.hwndTrack = window;
                track.dwHoverTime = 100;
                tracking_ = TrackMouseEvent(&track) != FALSE;
            }
            if (c.changed >= 0) paint_frame();
            return false;
        }
        case WM_NCLBUTTONDOWN: {
            RECT area;
            POINT p = relative_point(window, lparam, area);
            caption_change c = caption_button_down(buttons_, p.x, p.y, area);
            if (c.changed >= 0) paint_frame();
            result = 0;
            return c.hit;
        }
        case WM_NCLBUTTONUP: {
            RECT area;
            POINT p = relative_point(window, lparam, area);
            caption_change c = caption_button_up(buttons_, p.x, p.y, area);
            if (c.changed >= 0) {
                paint_frame();
                static_cast<button_c<T>*>(buttons_[c.changed].get())
                    ->click(*static_cast<T*>(this));
            }
            result = 0;
            return c.hit;
        }
        case WM_NCLBUTTONDBLCLK: {
            // No maximising by a double click on a caption button.
            RECT area;
            POINT p = relative_point(window, lparam, area);
            result = 0;
            return caption_hit(buttons_, p.x, p.y, area);
        }
        case WM_NCMOUSELEAVE:
            if (caption_mouse_leave(buttons_).changed >= 0) paint_frame();
            tracking_ = false;
            result = 0;
            return true;
        default:
            return false;
        }
    }

    // Paints the whole non-client area now.
    void paint_frame() {
        HWND window = static_cast<T*>(this)->handle();
        if (!window) return;
        frame_paint_c paint(window);
        HDC dc = paint.dc();
        const RECT& area = paint.area();
        fill_caption_band(dc, metrics_, skin_caption_height_, area);
        static_cast<T*>(this)->draw_caption_items(dc, area);
        draw_frame_lines(dc, area, metrics_.frame_x);
        for (auto& b : buttons_) b->draw(dc, area.left, area.top, area.right, area.bottom);
        draw_caption_title(dc, window, caption_icon_);
    }

    // Extra caption items drawn right after the caption band; an owner that
    // has some declares its own draw_caption_items with this signature.
    void draw_caption_items(HDC, const RECT&) {}

protected:
    // The icon drawn before the caption title (the main window's), or null.
    HICON caption_icon_ = nullptr;

private:
    // The message's screen point relative to the window's top-left corner;
    // `area` receives the window rectangle.
    static POINT relative_point(HWND window, LPARAM lparam, RECT& area) {
        area = RECT{};
        GetWindowRect(window, &area);
        return POINT{GET_X_LPARAM(lparam) - area.left, GET_Y_LPARAM(lparam) - area.top};
    }

    frame_metrics metrics_;
    int skin_caption_height_;
    button_list buttons_;
    bool tracking_ = false;
};
