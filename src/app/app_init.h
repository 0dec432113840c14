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
// what the first frame of the window needs: everything before the system
// information and after it up to the language. When one of those fails, the
// system-information step runs too, and its failure is the code returned, as
// it comes first. run_later_steps creates the process objects and the driver
// store index, which nothing on the first frame needs. Each returns the first
// failing code, or init_ok.
int run_first_frame_steps();
int run_later_steps();

// The text of the start-up failure box for a code.
void format_init_failure(int code, wchar_t (&out)[128]);

// The program's start-up around its window, each part showing the failure
// box when a step fails. app_init runs the first-frame steps (0 or -1) and
// leaves the rest for once the window has been painted:
// - app_start_system_info starts collecting the system information on a
//   thread, which posts `message` to `notify` when done; the window's thread
//   then calls app_finish_system_info, which publishes it into machine_info.
//   app_finish_system_info also waits for it (and starts it when it was not
//   started), for anything that reads machine_info before the message (a
//   scan).
// - app_finish_init runs the later steps, before anything that needs the
//   process objects (a scan).
// Each runs once; false when it failed, or had failed before. Without
// app_init's success they do nothing and return true.
int app_init();
void app_start_system_info(HWND notify, UINT message);
bool app_finish_system_info();
bool app_finish_init();
// True when a step after app_init failed: the program ends with -1.
bool app_init_failed();

// Releases what start-up created: the update client (with its transfer
// handle) before the HTTP library's global clean-up, then the device store.
void app_teardown();
