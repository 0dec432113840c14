// The program's entry: single-instance rule, start-up, the message loop on the
// start-up thread, and teardown in reverse order.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/app_init.h"
#include "app/single_instance.h"
#include "ui/main_window.h"
#include "ui/skin/message_loop.h"

namespace {

HWND start_up_window = nullptr;

// The start-up steps that the first frame does not need run once the loop
// has shown that frame: a timer's message comes only when no other message
// (painting included) waits.
void CALLBACK finish_start_up(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (!app_finish_init() && IsWindow(start_up_window)) DestroyWindow(start_up_window);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    if (check_single_instance() != 0) return -1;

    // COM, then common controls, then the application core, then the window:
    // each later step may rely on the earlier ones.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);

    if (app_init() != 0) return -1;

    int exit_code = 0;
    {
        message_loop_c loop;
        main_window_c window;
        // The system information, collected meanwhile, is on the first frame.
        const bool made = window.create(instance) != nullptr;
        if (app_await_system_info() != 0 || !made) return -1;
        start_up_window = window.handle();
        ShowWindow(window.handle(), show_command);
        SetTimer(nullptr, 0, 0, finish_start_up);
        exit_code = loop.run();
    }

    app_teardown();
    if (SUCCEEDED(com)) CoUninitialize();
    return app_init_failed() ? -1 : exit_code;
}
