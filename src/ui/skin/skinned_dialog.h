// A modal dialog box in the skin, the part every such box of class `T` does
// the same way: the skinned frame with a caption close button, two bitmap
// push buttons (ids 1 and 2) sharing one image list, the background erased
// and the client area painted by the box, and the box ended with the id of
// the push button clicked, or with close_result() for the caption close
// button and for WM_CLOSE.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "ui/skin/bitmap_button.h"
#include "ui/skin/ui_window.h"
#include "ui/skin/window.h"

template <class T>
class skinned_dialog_c : public dialog_base_c, public ui_window_c<T> {
public:
    // The box is placed at `width` × `height`, centred on its owner, once it
    // is set up.
    skinned_dialog_c(int template_id, int caption_height, int width, int height)
        : dialog_base_c(template_id),
          ui_window_c<T>(caption_height),
          width_(width),
          height_(height) {}
    ~skinned_dialog_c() override {
        if (button_images_) ImageList_Destroy(button_images_);
    }

    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override {
        static const message_entry<skinned_dialog_c> map[] = {
            {WM_INITDIALOG, &skinned_dialog_c::on_init_dialog},
            {WM_ERASEBKGND, &skinned_dialog_c::on_erase_background},
            {WM_PAINT, &skinned_dialog_c::on_paint},
            {WM_COMMAND, &skinned_dialog_c::on_command},
            {WM_CLOSE, &skinned_dialog_c::on_close},
        };
        if (this->process_frame_message(window, message, wparam, lparam, result)) return true;
        return dispatch_message(this, map, message, wparam, lparam, result);
    }

protected:
    // Creates the box's buttons, pictures and brushes (WM_INITDIALOG).
    virtual void set_up(HINSTANCE module) = 0;
    // Paints the whole client area's background into `dc` (WM_ERASEBKGND).
    virtual void erase_background(HDC dc, const RECT& client) = 0;
    // Paints the client area's content (WM_PAINT).
    virtual void paint(HDC dc) = 0;
    // Called when push button 1 or 2 is clicked, before the box ends with its id.
    virtual void on_clicked(int) {}
    // The result of closing the box with its caption close button.
    virtual int close_result() const { return 0; }

    bitmap_button_c buttons_[2];
    HIMAGELIST button_images_ = nullptr;

private:
    LRESULT on_init_dialog(UINT, WPARAM, LPARAM, bool&) {
        this->append_dialog_close_button(&skinned_dialog_c::on_close_button);
        set_up(resource_module());
        place_dialog(window_, width_, height_);
        return TRUE;
    }

    LRESULT on_erase_background(UINT, WPARAM wparam, LPARAM, bool&) {
        RECT client{};
        GetClientRect(window_, &client);
        erase_background(reinterpret_cast<HDC>(wparam), client);
        return 1;
    }

    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window_, &ps);
        paint(dc);
        EndPaint(window_, &ps);
        return 0;
    }

    LRESULT on_command(UINT, WPARAM wparam, LPARAM, bool& handled) {
        int id = LOWORD(wparam);
        if (HIWORD(wparam) != BN_CLICKED || (id != 1 && id != 2)) {
            handled = false;
            return 0;
        }
        on_clicked(id);
        end_dialog(id);
        return 0;
    }

    void on_close_button() { end_dialog(close_result()); }
    // WM_CLOSE (close_thread_dialogs) ends the box as its caption X does.
    LRESULT on_close(UINT, WPARAM, LPARAM, bool&) {
        on_close_button();
        return 0;
    }

    int width_;
    int height_;
};
