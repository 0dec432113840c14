#include "ui/skin/window.h"

namespace {

HINSTANCE resource_module_in_use = nullptr;

// Dialog messages whose result is the dialog procedure's return value itself
// rather than DWLP_MSGRESULT.
bool returns_result_directly(UINT message) {
    switch (message) {
    case WM_INITDIALOG:
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
        return true;
    default:
        return false;
    }
}

}  // namespace

HINSTANCE resource_module() {
    return resource_module_in_use ? resource_module_in_use : GetModuleHandleW(nullptr);
}

void set_resource_module(HINSTANCE module) { resource_module_in_use = module; }

bool window_c::route(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    if (message == WM_DRAWITEM && lparam) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        if (item->CtlType != ODT_MENU && item->hwndItem &&
            SendMessageW(item->hwndItem, UM_REFLECT_DRAWITEM, wparam, lparam)) {
            result = TRUE;
            return true;
        }
    }
    return process_message(window, message, wparam, lparam, result);
}

// --- Windows -----------------------------------------------------------------

window_base_c::~window_base_c() {
    if (!window_) return;
    // The derived parts are gone: let the last messages go to the default
    // procedure instead of this half-destroyed object.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    window_ = nullptr;
}

bool window_base_c::register_class(const wchar_t* class_name, UINT style, HBRUSH background,
                                   HICON icon, HICON small_icon, HCURSOR cursor) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, class_name, &existing)) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.hIconSm = small_icon;
    wc.hCursor = cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = background;
    wc.lpszClassName = class_name;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND window_base_c::create(const wchar_t* class_name, DWORD ex_style, DWORD style,
                           const wchar_t* title, int x, int y, int width, int height, HWND parent,
                           HMENU menu_or_id) {
    if (window_) return nullptr;
    HWND created = CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent,
                                   menu_or_id, GetModuleHandleW(nullptr), this);
    // window_ was set at WM_NCCREATE; a creation that failed later has
    // already destroyed the window and cleared it.
    return created ? window_ : nullptr;
}

LRESULT CALLBACK window_base_c::window_proc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
    auto* self = reinterpret_cast<window_base_c*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self && message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        self = static_cast<window_base_c*>(create->lpCreateParams);
        if (self) {
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            self->window_ = window;
        }
    }
    if (!self) return DefWindowProcW(window, message, wparam, lparam);

    LRESULT result = 0;
    bool handled = self->route(window, message, wparam, lparam, result);
    if (!handled) result = DefWindowProcW(window, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->on_final_message();
    }
    return result;
}

// --- Dialogs -----------------------------------------------------------------

int dialog_base_c::run_modal(HWND owner) {
    if (window_) return -1;
    INT_PTR result = DialogBoxParamW(resource_module(), MAKEINTRESOURCEW(template_id_), owner,
                                     dialog_proc, reinterpret_cast<LPARAM>(this));
    return static_cast<int>(result);
}

void dialog_base_c::end_dialog(int result) {
    if (window_) EndDialog(window_, result);
}

INT_PTR CALLBACK dialog_base_c::dialog_proc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
    dialog_base_c* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<dialog_base_c*>(lparam);
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        self->window_ = window;
    } else {
        self = reinterpret_cast<dialog_base_c*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    // Messages before WM_INITDIALOG go to the default dialog procedure.
    if (!self) return FALSE;

    LRESULT result = 0;
    bool handled = self->route(window, message, wparam, lparam, result);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->window_ = nullptr;
        self->on_final_message();
    }
    if (!handled) return FALSE;
    if (returns_result_directly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

namespace {
BOOL CALLBACK close_if_dialog(HWND window, LPARAM count) {
    wchar_t name[16] = {};
    if (GetClassNameW(window, name, 16) && lstrcmpW(name, L"#32770") == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}
}  // namespace

int close_thread_dialogs() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), close_if_dialog, reinterpret_cast<LPARAM>(&count));
    return count;
}

// --- Placement ---------------------------------------------------------------

void center_window(HWND window, HWND owner) {
    RECT own{};
    bool has_owner = owner && IsWindowVisible(owner) && !IsIconic(owner) &&
                     GetWindowRect(owner, &own);
    HMONITOR monitor = MonitorFromWindow(has_owner ? owner : window, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(monitor, &info)) work = info.rcWork;
    if (!has_owner) own = work;

    RECT r{};
    GetWindowRect(window, &r);
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    int x = own.left + ((own.right - own.left) - w) / 2;
    int y = own.top + ((own.bottom - own.top) - h) / 2;
    // Keep the window on the work area, its top-left corner first.
    if (x + w > work.right) x = work.right - w;
    if (y + h > work.bottom) y = work.bottom - h;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void set_rect_region(HWND window) {
    RECT r{};
    if (!GetWindowRect(window, &r)) return;
    HRGN region = CreateRectRgn(0, 0, r.right - r.left, r.bottom - r.top);
    // The window owns the region from now on; on failure it is ours to free.
    if (region && !SetWindowRgn(window, region, TRUE)) DeleteObject(region);
}

void set_window_size(HWND window, int width, int height) {
    SetWindowPos(window, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void place_dialog(HWND dialog, int width, int height) {
    set_window_size(dialog, width, height);
    center_window(dialog, GetWindow(dialog, GW_OWNER));
    set_rect_region(dialog);
}
