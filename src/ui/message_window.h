// The program's own modal message box in the skin: a symbol, a wrapped text
// and one or two push buttons, chosen by its kind.
//
//   kind 0  information symbol, OK            → 1
//   kind 1  warning symbol, OK                → 1
//   kind 2  error symbol, OK                  → 1
//   kind 3  question symbol, No | Yes         → Yes 1, No 2
//   kind 4  error symbol, Cancel | Retry      → Retry 1, Cancel 2
//   kind 5  error symbol, Open folder (wide)  → 1
//   other   no symbol, OK                     → 1
// Closing a question box (kinds 3 and 4) with its caption close button gives
// its negative answer, 2 (No, Cancel), as closing a Windows dialog does;
// every other kind gives 0 then.
#pragma once

#include <windows.h>

#include "ui/skin/image.h"
#include "ui/skin/skinned_dialog.h"

constexpr int MESSAGE_BOX_WIDTH = 300;
constexpr int MESSAGE_BOX_HEIGHT = 200;
constexpr int MESSAGE_BOX_CAPTION = 30;
constexpr int MESSAGE_BOX_BUTTON_Y = 136;  // client coordinates
constexpr int MESSAGE_BOX_BAND_TOP = 130;  // the button band
constexpr RECT MESSAGE_BOX_TEXT_RECT{80, 30, 272, 100};
constexpr int MESSAGE_BUTTON_WIDTH = 70;
// For a longer action, such as "Open folder": the about dialog's button.
constexpr int MESSAGE_WIDE_BUTTON_WIDTH = 130;

// What a kind shows. Button 1 is the right-hand (or only) button and
// returns 1; button 2 the left-hand one and returns 2.
struct message_box_layout {
    int symbol_id;            // 0: no symbol
    const char* button1_key;  // language key of its text
    int button1_x;
    const char* button2_key;  // null: button 2 stays hidden
    int button2_x;
    int close_result;  // of the caption close button
    int button_width = MESSAGE_BUTTON_WIDTH;  // or MESSAGE_WIDE_BUTTON_WIDTH
};
message_box_layout message_box_layout_for(unsigned kind);

// Shows `text`; returns 0, 1 or 2 as above (-1 if the box cannot be made).
int show_message(HWND owner, const wchar_t* text, unsigned kind);

class message_window_c : public skinned_dialog_c<message_window_c> {
public:
    // `text` is not copied: it must outlive the box.
    message_window_c(const wchar_t* text, unsigned kind);
    ~message_window_c() override;

private:
    void set_up(HINSTANCE module) override;
    void erase_background(HDC dc, const RECT& client) override;
    void paint(HDC dc) override;
    int close_result() const override;

    image_c symbol_;
    HBRUSH background_ = nullptr;
    HBRUSH band_ = nullptr;
    const wchar_t* text_;
    unsigned kind_;
};
