// The program's entry: single-instance rule, start-up, the message loop on the
// start-up thread, and teardown in reverse order.
#include <windows.h>

#include <objbase.h>

#include "app/app_init.h"
#include "app/single_instance.h"
#include "platform/dll_search.h"
#include "ui/main_window.h"
#include "ui/skin/message_loop.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    // Before any DLL is loaded: the delay-loaded ones come from System32 only.
    restrict_dll_search();
    if (check_single_instance() != 0) return -1;

    // COM, then the application core, then the window: each later step may
    // rely on the earlier ones. The common controls are registered with the
    // pages that use them, after the first frame (main_window_c).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    if (app_init() != 0) return -1;

    int exit_code = 0;
    {
        message_loop_c loop;
        main_window_c window;
        if (!window.create(instance)) return -1;
        ShowWindow(window.handle(), show_command);
        window.finish_start_up_later();
        exit_code = loop.run();
    }

    app_teardown();
    if (SUCCEEDED(com)) CoUninitialize();
    return app_init_failed() ? -1 : exit_code;
}
