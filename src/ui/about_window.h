// The modal about box: the product's name, copyright and build, a button that
// starts the separate updater program and a button that closes the box.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "ui/skin/bitmap_button.h"
#include "ui/skin/image.h"
#include "ui/skin/ui_window.h"
#include "ui/skin/window.h"

constexpr int ABOUT_BOX_WIDTH = 500;
constexpr int ABOUT_BOX_HEIGHT = 400;
constexpr int ABOUT_BOX_CAPTION = 100;

// The updater: "update\update.exe" in `folder`, one separator between the
// parts. Empty when the path would not fit MAX_PATH.
std::wstring updater_path(const wchar_t* folder);

class about_window_c : public dialog_base_c, public ui_window_c<about_window_c> {
public:
    about_window_c();
    ~about_window_c() override;

    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;
    // The picture, the product name and the separator in the caption.
    void draw_caption_items(HDC dc, const RECT& area);

private:
    LRESULT on_init_dialog(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_command(UINT, WPARAM, LPARAM, bool&);
    void on_close_button();

    bitmap_button_c buttons_[2];
    HIMAGELIST button_images_ = nullptr;
    image_c picture_;
    image_c separator_;
    HBRUSH separator_brush_ = nullptr;
    HBRUSH background_ = nullptr;
};
