// The skinned bitmap buttons drawn inside a window its owner paints: caption
// buttons, navigation tabs, the home page's start button and the download
// rows' buttons. Each has three images (normal, hover, pressed) indexed by
// its state, a rectangle whose meaning depends on the kind, a text and a click
// action on the owner window `T`.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/skin/image.h"

enum button_state : int {
    BUTTON_NORMAL = 0,
    BUTTON_HOVER = 1,
    BUTTON_PRESSED = 2,
};

class button_base_c {
public:
    button_base_c() = default;
    button_base_c(const button_base_c&) = delete;
    button_base_c& operator=(const button_base_c&) = delete;

    // Loads the three images and stores the rectangle and the text. False
    // when an image failed to load (it stays empty and draws nothing).
    virtual bool create(HINSTANCE module, int normal_id, int hover_id, int pressed_id, int left,
                        int top, int right, int bottom, std::wstring_view text);
    // Whether (x, y), relative to the top-left of the area the button lives
    // in, lies on the button; the area is (left, top, right, bottom).
    virtual bool hit_test(int x, int y, int left, int top, int right, int bottom) const = 0;
    virtual void draw_text(HDC dc, int left, int top, int right, int bottom) = 0;
    // Draws the button in the area (left, top, right, bottom).
    virtual void draw(HDC dc, int left, int top, int right, int bottom) = 0;
    // Replaces the three images.
    virtual bool set_images(HINSTANCE module, int normal_id, int hover_id, int pressed_id);
    virtual ~button_base_c() = default;

    const image_c& current_image() const;
    // The text to draw: the language text of text_key when one is set (looked
    // up at every draw), else `text`.
    const std::wstring& shown_text() const;

    image_c images[3];
    int state = BUTTON_NORMAL;
    RECT rect{};
    std::wstring text;
    std::string text_key;
};

using button_list = std::vector<std::unique_ptr<button_base_c>>;

// A button whose click runs a member function of its owner window.
template <class T>
class button_c : public button_base_c {
public:
    using action_type = void (T::*)();

    void set_action(action_type a) { action_ = a; }
    void click(T& owner) const {
        if (action_) (owner.*action_)();
    }

private:
    action_type action_ = nullptr;
};

// --- Geometry and drawing of the kinds, shared by every owner ---------------

// Whether (x, y) lies in r (left and top inclusive, right and bottom not).
bool point_in_rect(int x, int y, const RECT& r);

// Rectangle measured from the area's right edge: (area width − x, y) in it.
bool hit_test_from_right(const button_base_c& b, int x, int y, const RECT& area);
// The image at (area right − rect right, rect top).
void draw_from_right(const button_base_c& b, HDC dc, const RECT& area);

// The tab's image at (left, top), then its text.
void draw_top_button(button_base_c& b, HDC dc);
// Centred, bottom-aligned 5 px above the rectangle's bottom, single line;
// white, or the heading blue while pressed; 8-pt Verdana for the languages
// with long tab texts (de, it, es, pt), else 8-pt bold Verdana.
void draw_top_button_text(const button_base_c& b, HDC dc, const RECT& rect);

// Where the home page's start button lies in a client area of the given size:
// left = (width − 250) / 2 − image width / 2, top = (height − 150) / 2.
POINT home_button_origin(const button_base_c& b, int client_width, int client_height);
bool hit_test_home_button(const button_base_c& b, int x, int y, const RECT& area);
void draw_home_button(const button_base_c& b, HDC dc, const RECT& area);

// --- The kinds ---------------------------------------------------------------

// Caption buttons of every skinned window (and the main window's logo): the
// rectangle is measured from the window's right edge.
template <class T>
class system_button_c final : public button_c<T> {
public:
    bool hit_test(int x, int y, int left, int top, int right, int bottom) const override {
        return hit_test_from_right(*this, x, y, RECT{left, top, right, bottom});
    }
    void draw_text(HDC, int, int, int, int) override {}
    void draw(HDC dc, int left, int top, int right, int bottom) override {
        draw_from_right(*this, dc, RECT{left, top, right, bottom});
    }
};

// The main window's navigation tabs.
template <class T>
class top_button_c final : public button_c<T> {
public:
    bool hit_test(int x, int y, int, int, int, int) const override {
        return point_in_rect(x, y, this->rect);
    }
    void draw_text(HDC dc, int left, int top, int right, int bottom) override {
        draw_top_button_text(*this, dc, RECT{left, top, right, bottom});
    }
    void draw(HDC dc, int, int, int, int) override { draw_top_button(*this, dc); }
};

// The home page's start button, placed from the client area's size.
template <class T>
class home_button_c final : public button_c<T> {
public:
    bool hit_test(int x, int y, int left, int top, int right, int bottom) const override {
        return hit_test_home_button(*this, x, y, RECT{left, top, right, bottom});
    }
    void draw_text(HDC, int, int, int, int) override {}
    void draw(HDC dc, int left, int top, int right, int bottom) override {
        draw_home_button(*this, dc, RECT{left, top, right, bottom});
    }
};

// --- Caption mouse handling --------------------------------------------------
// (x, y) are relative to the window's top-left; `area` is the window
// rectangle. Each step changes at most one button.

struct caption_change {
    int changed = -1;        // index of the button whose state changed, or -1
    bool hit = false;        // whether any button lies under the point
    bool hover_began = false;  // the change made a button hover
};

// Mouse move: the first button whose state must change changes: a hit button
// in state 0 becomes 1; a button not hit and not 0 becomes 0. A pressed
// button still under the mouse stays pressed.
caption_change caption_mouse_move(button_list& buttons, int x, int y, const RECT& area);
// Button down: the first hit button not pressed becomes pressed.
caption_change caption_button_down(button_list& buttons, int x, int y, const RECT& area);
// Button up: the first hit button not in hover becomes hover; that button is
// the one clicked.
caption_change caption_button_up(button_list& buttons, int x, int y, const RECT& area);
// Mouse left the frame: the first button not normal becomes normal.
caption_change caption_mouse_leave(button_list& buttons);
// Whether any button lies under the point.
bool caption_hit(const button_list& buttons, int x, int y, const RECT& area);
