// The home page shown at start: a title, the three-step illustration, the
// large start-scan button and the system-information sidebar.
#pragma once

#include <windows.h>

#include "ui/skin/buttons.h"
#include "ui/skin/image.h"
#include "ui/skin/window.h"

class home_window_c : public window_base_c {
public:
    home_window_c() = default;
    ~home_window_c() override;

    // Creates the visible child page over the owner's client area.
    HWND create(HWND owner);
    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

    // 0 normal, 1 hover, 2 pressed.
    int button_state() const { return start_button_.state; }
    // Where the start button lies in the client area (its normal image).
    RECT start_button_rect() const;

private:
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_mouse_move(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_button_down(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_button_up(UINT, WPARAM, LPARAM, bool&);

    bool button_hit(LPARAM lparam) const;
    void set_button_state(int state);
    void paint(HDC dc, const RECT& client);

    HWND owner_ = nullptr;
    HBRUSH banner_brush_ = nullptr;
    int banner_height_ = 0;
    image_c steps_;
    image_c bottom_picture_;
    HBRUSH separator_brush_ = nullptr;
    int separator_height_ = 0;
    image_c auto_scan_picture_;
    image_c sidebar_header_;
    home_button_c<home_window_c> start_button_;
};
