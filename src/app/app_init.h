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

// The same steps in the program's three parts. run_first_frame_steps runs
// what the first frame of the window needs and starts the system-information
// step on a thread of its own, so that it runs while the window is made;
// wait_for_system_info waits for that step; run_later_steps creates the
// process objects and the driver store index, which nothing on the first
// frame needs. Each returns the first failing code, or init_ok.
int run_first_frame_steps();
int wait_for_system_info();
int run_later_steps();

// The text of the start-up failure box for a code.
void format_init_failure(int code, wchar_t (&out)[128]);

// The program's start-up around its window, each part showing the failure
// box when a step fails. app_init runs the first-frame steps (0 or -1);
// app_await_system_info, once the window is made, waits for the system
// information (0 or -1) and leaves the later steps to app_finish_init, which
// the program calls once the window has been painted, and before anything
// that needs the process objects (a scan). It runs them once; false when
// they failed, or had failed before. Without app_await_system_info's success
// it does nothing and returns true.
int app_init();
int app_await_system_info();
bool app_finish_init();
// True when the later steps failed: the program ends with -1.
bool app_init_failed();

// Releases what start-up created: the update client (with its transfer
// handle) before the HTTP library's global clean-up, then the device store.
void app_teardown();
