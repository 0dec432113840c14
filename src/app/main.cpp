// The program's entry: single-instance rule, start-up, the message loop on the
// start-up thread, and teardown in reverse order.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/app_init.h"
#include "app/single_instance.h"
#include "ui/main_window.h"

namespace {

// Runs until WM_QUIT and returns its exit code.
int run_message_loop() {
    MSG msg{};
    for (;;) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(msg.wParam);
        if (got == -1) return -1;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
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
        main_window_c window;
        if (!window.create(instance)) return -1;
        ShowWindow(window.handle(), show_command);
        exit_code = run_message_loop();
    }

    app_teardown();
    if (SUCCEEDED(com)) CoUninitialize();
    return exit_code;
}
