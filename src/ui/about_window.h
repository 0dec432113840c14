// The modal about box: the product's name, copyright and build, a button that
// starts the separate updater program and a button that closes the box.
#pragma once

#include <windows.h>

#include <string>

#include "ui/skin/image.h"
#include "ui/skin/skinned_dialog.h"

constexpr int ABOUT_BOX_WIDTH = 500;
constexpr int ABOUT_BOX_HEIGHT = 400;
constexpr int ABOUT_BOX_CAPTION = 100;

// The updater: "update\update.exe" in `folder`, one separator between the
// parts. Empty when the path would not fit MAX_PATH.
std::wstring updater_path(const wchar_t* folder);

// Ends with 1 after starting the updater (button 1), 2 (button 2) or 0 (the
// caption close button).
class about_window_c : public skinned_dialog_c<about_window_c> {
public:
    about_window_c();
    ~about_window_c() override;

    // The picture, the product name and the separator in the caption.
    void draw_caption_items(HDC dc, const RECT& area);

private:
    void set_up(HINSTANCE module) override;
    void erase_background(HDC dc, const RECT& client) override;
    void paint(HDC dc) override;
    void on_clicked(int id) override;

    image_c picture_;
    image_c separator_;
    HBRUSH separator_brush_ = nullptr;
    HBRUSH background_ = nullptr;
};
