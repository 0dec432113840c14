// Start-up of the application core, in a fixed order, and its teardown.
#pragma once

#include <windows.h>

struct device_store;
struct update_client;

// The process-wide objects created by app_init and released by app_teardown.
extern device_store* app_device_store;
extern update_client* app_update_client;

// Start-up failure codes shown to the user.
enum init_failure : int {
    init_ok = 0,
    init_environment = 1,  // version or power-status query (last_error 10 / 12)
    init_system_info = 2,  // WMI could not be set up
    init_settings = 3,     // the settings key could not be created or opened
    init_language = 4,     // language.ini could not be opened
    init_objects = 5,      // the HTTP library, device store or update client
};

// The environment values: Windows version and os_kind, power status, OEM code
// page, SYSTEM_INFO, module_path and program_dir, all through the current
// system source. init_ok or init_environment (with last_error 10 or 12).
int capture_environment();

// Every start-up step in order; the first failing step ends it. Returns its
// code, or init_ok.
int run_init_steps();

// The text of the start-up failure box for a code.
void format_init_failure(int code, wchar_t (&out)[128]);

// run_init_steps, and on failure the message box. 0 or -1.
int app_init();

// Releases what app_init created: the update client (with its transfer
// handle) before the HTTP library's global clean-up, then the device store.
void app_teardown();
