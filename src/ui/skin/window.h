// The small windowing layer every window of the program is built on:
// windows and dialogs that route their messages to a C++ object, message maps
// (a table of message → handler with a handled flag), modal dialogs run from
// the caller's stack, and a few placement helpers.
#pragma once

#include <windows.h>

#include <cstddef>

// The module the bitmaps, icons, menus and dialog templates are loaded from:
// the executable unless replaced (tests load them from quillmark.exe).
HINSTANCE resource_module();
void set_resource_module(HINSTANCE module);

// Sent by a dialog or window of this layer to an owner-drawn control before
// its own map sees WM_DRAWITEM, with the same parameters; a control that
// draws itself answers TRUE.
constexpr UINT UM_REFLECT_DRAWITEM = WM_APP + 0x3F00;

// One row of a message map: a message and the member that handles it. The
// handler is called with `handled` set to true and clears it to let the
// message go on to default processing; its return value is the result.
template <class T>
struct message_entry {
    UINT message;
    LRESULT (T::*handler)(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
};

// Looks `message` up in `map` (first matching row) and calls its handler.
// True when a handler took the message; `result` is then its result.
template <class T, std::size_t N>
bool dispatch_message(T* owner, const message_entry<T> (&map)[N], UINT message, WPARAM wparam,
                      LPARAM lparam, LRESULT& result) {
    for (const message_entry<T>& entry : map) {
        if (entry.message != message) continue;
        bool handled = true;
        LRESULT r = (owner->*entry.handler)(message, wparam, lparam, handled);
        if (handled) result = r;
        return handled;
    }
    return false;
}

// The part windows and dialogs share: the handle and the message hook.
class window_c {
public:
    window_c() = default;
    window_c(const window_c&) = delete;
    window_c& operator=(const window_c&) = delete;
    virtual ~window_c() = default;

    HWND handle() const { return window_; }

    // Offers a message to the object. True when it was handled, with its
    // result in `result`; otherwise default processing follows.
    virtual bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                 LRESULT& result) = 0;

protected:
    // Called after the last message (WM_NCDESTROY), when the handle is gone.
    virtual void on_final_message() {}

    // Routes one message: reflection of WM_DRAWITEM, then process_message.
    // Clears the handle after WM_NCDESTROY.
    bool route(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);

    HWND window_ = nullptr;
};

// A window created with CreateWindowExW whose class uses this layer's window
// procedure. Destroying the object destroys the window.
class window_base_c : public window_c {
public:
    ~window_base_c() override;

    // Registers a class whose window procedure routes to window_base_c
    // objects (once per name; later calls succeed at once). False on failure.
    static bool register_class(const wchar_t* class_name, UINT style, HBRUSH background,
                               HICON icon = nullptr, HICON small_icon = nullptr,
                               HCURSOR cursor = nullptr);

    // CreateWindowExW with this object as the target of its messages (from
    // WM_NCCREATE on). The handle, or null.
    HWND create(const wchar_t* class_name, DWORD ex_style, DWORD style, const wchar_t* title,
                int x, int y, int width, int height, HWND parent, HMENU menu_or_id = nullptr);

private:
    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
};

// A dialog from a template of resource_module(), run modally on the caller's
// stack.
class dialog_base_c : public window_c {
public:
    explicit dialog_base_c(int template_id) : template_id_(template_id) {}

    // Runs the dialog until end_dialog; its result, or -1 when the dialog
    // could not be created.
    int run_modal(HWND owner);
    void end_dialog(int result);

private:
    static INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    int template_id_;
};

// Sends WM_CLOSE to every dialog box of the calling thread, so that each
// ends as its close button ends it. The boxes end when their modal loops
// next look; the number of boxes asked.
int close_thread_dialogs();

// Centres `window` on `owner` (on the owner's monitor work area when there is
// no owner or it is hidden), keeping it on that monitor's work area.
void center_window(HWND window, HWND owner);
// Gives a window a rectangular region the size of its window rectangle.
void set_rect_region(HWND window);
// Resizes a window without moving it or changing its z-order.
void set_window_size(HWND window, int width, int height);
// A skinned dialog's final placement: the given size, centred on its owner,
// with a rectangular region of that size.
void place_dialog(HWND dialog, int width, int height);
