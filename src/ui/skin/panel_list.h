// A vertical scrolling container of child panel windows (the download page's
// rows). The owner creates each panel as a child of the list, gives it its
// unscrolled place, adds it and sets the content height (the sum of the
// panel heights); the list moves the panels as it scrolls.
//
// With a realiser set, panels may be added without a window: after every
// change of size or scroll position the list tells the realiser which panels
// lie in or near the view, so that only those need a window. Thousands of
// rows then cost neither the time to create thousands of windows nor their
// memory and handles.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "ui/skin/window.h"

// Where a panel lies in the list, unscrolled.
struct panel_geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

constexpr int PANEL_LINE_SCROLL = 10;  // pixels per scroll-bar arrow click

// The position kept within 0 … content − view + 1 (0 when content fits).
int clamp_scroll_position(int position, int content_height, int view_height);
// The position after a WM_VSCROLL request (not yet clamped): arrows move 10
// px, page clicks a view height, the thumb its tracked position; other codes
// change nothing.
int vscroll_position(int code, int position, int track_position, int view_height);
// The position after a wheel turn of `wheel_delta` (120 a notch, positive away
// from the user): one notch scrolls 15 px up. Nothing moves while the content
// fits the view; false then.
bool wheel_scroll_position(int& position, int wheel_delta, int content_height, int view_height);

// Whether a panel from `top` to `top + height` (unscrolled) lies in the view
// at `position` or within one view height above or below it: the panels
// that keep a window while the list scrolls.
bool panel_near_view(int top, int height, int position, int view_height);

// Sets the vertical scroll bar to range 0 … content, page = view, and the
// position; disabled rather than hidden while it is not needed.
void set_vertical_scroll_info(HWND window, int content_height, int view_height, int position);
// The thumb's tracked position.
int vertical_track_position(HWND window);

// `T` is the panel type: a window with `HWND handle() const` and a public
// `panel_geometry panel`.
template <class T>
class panel_list_c : public window_base_c {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Quillmark.PanelList";

    HWND create(HWND parent, const RECT& r, UINT id) {
        register_class(CLASS_NAME, 0, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        return window_base_c::create(CLASS_NAME, 0, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, L"",
                                     r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                                     reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
    }

    // Takes a panel already created as a child of the list, or, with a
    // realiser, one that has no window yet.
    void add_panel(std::unique_ptr<T> panel) { panels_.push_back(std::move(panel)); }
    // Called with each panel and whether it lies near the view (see
    // panel_near_view) whenever the view changes; it gives the panel a
    // window as a child of the list, or takes it away.
    using realiser = std::function<void(T& panel, bool near_view)>;
    void set_realiser(realiser r) { realise_ = std::move(r); }
    // Destroys every panel.
    void clear_panels() { panels_.clear(); }
    const std::vector<std::unique_ptr<T>>& panels() const { return panels_; }

    int content_height = 0;
    int scroll_position() const { return position_; }
    int view_height() const { return view_height_; }

    // Lays the panels out again for the list's present size, as a resize
    // does; for use after panels were added or removed.
    void update_layout() {
        RECT client{};
        GetClientRect(window_, &client);
        on_size(client.right, client.bottom);
    }

    // Clamps the position, moves the panels and updates the scroll bar.
    void place_panels() {
        position_ = clamp_scroll_position(position_, content_height, view_height_);
        realise_panels();
        for (auto& p : panels_) {
            if (!p->handle()) continue;
            SetWindowPos(p->handle(), nullptr, p->panel.x, p->panel.y - position_, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        set_vertical_scroll_info(window_, content_height, view_height_, position_);
    }

    bool process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override {
        switch (message) {
        case WM_SIZE:
            on_size(LOWORD(lparam), HIWORD(lparam));
            result = 0;
            return true;
        case WM_VSCROLL: {
            int track = vertical_track_position(window_);
            int next = vscroll_position(LOWORD(wparam), position_, track, view_height_);
            if (next != position_) {
                position_ = next;
                place_panels();
            }
            result = 0;
            return true;
        }
        case WM_MOUSEWHEEL:
            if (wheel_scroll_position(position_, GET_WHEEL_DELTA_WPARAM(wparam), content_height,
                                      view_height_)) {
                place_panels();
            }
            return false;
        default:
            return false;
        }
    }

private:
    void on_size(int width, int height) {
        view_height_ = height;
        for (auto& p : panels_) {
            p->panel.width = width;
            if (p->handle())
                MoveWindow(p->handle(), p->panel.x, p->panel.y, width, p->panel.height, TRUE);
        }
        if (view_height_ < content_height) {
            ShowScrollBar(window_, SB_VERT, TRUE);
            place_panels();
        } else {
            // Everything fits: back to the top, so no panel stays scrolled
            // out of sight with no scroll bar to bring it back.
            position_ = 0;
            ShowScrollBar(window_, SB_VERT, FALSE);
            realise_panels();
        }
    }

    // Windows for the panels near the view, none for the others. A new
    // window starts at its unscrolled place; place_panels moves it.
    void realise_panels() {
        if (!realise_) return;
        for (auto& p : panels_)
            realise_(*p, panel_near_view(p->panel.y, p->panel.height, position_, view_height_));
    }

    std::vector<std::unique_ptr<T>> panels_;
    realiser realise_;
    int position_ = 0;
    int view_height_ = 0;
};
