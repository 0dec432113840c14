// The program's entry: single-instance rule, start-up, the message loop on the
// start-up thread, and teardown in reverse order.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/app_init.h"
#include "app/single_instance.h"
#include "ui/main_window.h"
#include "ui/skin/message_loop.h"

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
        ShowWindow(window.handle(), show_command);
        window.finish_start_up_later();
        exit_code = loop.run();
    }

    app_teardown();
    if (SUCCEEDED(com)) CoUninitialize();
    return app_init_failed() ? -1 : exit_code;
}
