// winsock2.h must come before windows.h, which the other headers include.
#include <winsock2.h>

#include "app/app_init.h"

#include <curl/curl.h>
#include <objbase.h>
#include <process.h>
#include <wchar.h>

#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "backup/store_index.h"
#include "devices/device_store.h"
#include "devices/system_info.h"
#include "downloads/download_session.h"
#include "platform/system_source.h"
#include "service/update_client.h"
#include "ui/gdiplus_session.h"
#include "ui/messages.h"
#include "ui/skin/fonts.h"

device_store* app_device_store = nullptr;
update_client* app_update_client = nullptr;

namespace {

bool curl_ready = false;

// Makes the executable's folder the current directory, so that language.ini,
// setup.dat and the relative folders resolve against it.
void enter_program_folder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;  // failed or cut short
    wchar_t* last = wcsrchr(path, L'\\');
    if (!last) return;
    // Keep the backslash: for a program in a drive's root, "C:" alone would
    // name the drive's current directory instead of its root.
    last[1] = L'\0';
    SetCurrentDirectoryW(path);
}

void capture_program_paths() {
    DWORD length = GetModuleFileNameW(nullptr, module_path, MAX_PATH);
    if (length == 0) module_path[0] = L'\0';
    module_path[MAX_PATH - 1] = L'\0';  // a cut path is not terminated on older systems

    wchar_t dir[MAX_PATH] = {};
    length = GetCurrentDirectoryW(MAX_PATH, dir);
    if (length == 0 || length >= MAX_PATH) dir[0] = L'\0';
    size_t n = wcslen(dir);
    // The current directory leaves room for the backslash; a root already has one.
    if (n == 0 || (dir[n - 1] != L'\\' && n + 1 < MAX_PATH)) {
        dir[n] = L'\\';
        dir[n + 1] = L'\0';
    }
    lstrcpynW(program_dir, dir, MAX_PATH);
}

int create_process_objects() {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return init_objects;
    curl_ready = true;
    app_device_store = create_device_store();
    if (!app_device_store) return init_objects;
    app_update_client = create_update_client(app_device_store);
    if (!app_update_client) return init_objects;
    return init_ok;
}

}  // namespace

int capture_environment() {
    system_source& source = current_system_source();

    OSVERSIONINFOEXW version{};
    if (!source.query_version(version, sizeof(OSVERSIONINFOEXW)) &&
        !source.query_version(version, sizeof(OSVERSIONINFOW))) {
        last_error = 10;
        return init_environment;
    }
    windows_version = version;
    os_kind = derive_os_kind(version, source.server_r2_metric());

    SYSTEM_POWER_STATUS power{};
    if (!source.query_power_status(power)) {
        last_error = 12;
        return init_environment;
    }

    oem_code_page = source.oem_code_page();
    source.query_system_info(system_info);
    capture_program_paths();
    return init_ok;
}

namespace {

// The system information, collected on a thread of its own once the first
// frame is shown (start_system_info, wait_for_system_info): WMI is slow, and
// the window shows the fields as soon as they are there. The thread fills a
// record of its own; the window's thread publishes it into machine_info.
struct system_info_job {
    HANDLE thread = nullptr;
    int result = 0;
    machine_info_record collected;
    HWND notify = nullptr;  // told with `message` when the thread is done
    UINT message = 0;
};
system_info_job system_info_worker;

unsigned __stdcall collect_system_info_thread(void* argument) {
    auto* job = static_cast<system_info_job*>(argument);
    // WMI needs COM on the thread that asks it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    job->result = collect_system_info(job->collected);
    if (SUCCEEDED(com)) CoUninitialize();
    if (job->notify) PostMessageW(job->notify, job->message, 0, 0);
    return 0;
}

// Starts the system-information step; it runs on the calling thread when no
// thread can be started (whose COM, set up already, then serves WMI).
void start_system_info(HWND notify, UINT message) {
    system_info_job& job = system_info_worker;
    job.result = 0;
    job.notify = notify;
    job.message = message;
    job.thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, collect_system_info_thread, &job, 0, nullptr));
    if (!job.thread) collect_system_info_thread(&job);
}

// Waits for the started step and, when it succeeded, publishes what it
// collected. init_ok or init_system_info.
int wait_for_system_info() {
    system_info_job& job = system_info_worker;
    if (job.thread) {
        WaitForSingleObject(job.thread, INFINITE);
        CloseHandle(job.thread);
        job.thread = nullptr;
    }
    if (job.result < 0) return init_system_info;
    machine_info = std::move(job.collected);
    job.collected = machine_info_record{};
    return init_ok;
}

int run_settings_and_language_steps() {
    if (!load_settings()) return init_settings;
    create_fonts();
    if (load_language(current_settings.language, true) < 0) return init_language;
    if (lstrcmpiW(current_settings.language, L"English") != 0) load_language(L"English", false);
    return init_ok;
}

// Where start-up is, after the first-frame steps.
enum class step_state { none, pending, running, done, failed };
step_state system_info_state = step_state::none;
step_state later_state = step_state::none;

void show_init_failure(int code) {
    wchar_t text[128];
    format_init_failure(code, text);
    MessageBoxW(nullptr, text, APP_NAME, MB_ICONERROR);
}

}  // namespace

int run_first_frame_steps() {
    WSADATA wsa{};
    WSAStartup(MAKEWORD(2, 2), &wsa);
    enter_program_folder();

    if (int code = capture_environment()) return code;
    const int code = run_settings_and_language_steps();
    if (code == init_ok) return init_ok;
    // The system information comes before the settings and the language:
    // when it fails too, its code is the one shown.
    start_system_info(nullptr, 0);
    return wait_for_system_info() != init_ok ? init_system_info : code;
}

int run_later_steps() {
    if (int code = create_process_objects()) return code;
    build_store_index();
    return init_ok;
}

int run_init_steps() {
    if (int code = run_first_frame_steps()) return code;
    start_system_info(nullptr, 0);
    if (int code = wait_for_system_info()) return code;
    return run_later_steps();
}

void format_init_failure(int code, wchar_t (&out)[128]) {
    swprintf(out, sizeof(out) / sizeof(out[0]), L"Application initialization failed, error code: %d.",
             code);
}

int app_init() {
    const int code = run_first_frame_steps();
    if (code != init_ok) {
        show_init_failure(code);
        return -1;
    }
    system_info_state = step_state::pending;
    later_state = step_state::pending;
    return 0;
}

void app_start_system_info(HWND notify, UINT message) {
    if (system_info_state != step_state::pending) return;
    system_info_state = step_state::running;
    start_system_info(notify, message);
}

bool app_finish_system_info() {
    if (system_info_state == step_state::pending) app_start_system_info(nullptr, 0);
    if (system_info_state != step_state::running) return system_info_state != step_state::failed;
    const int code = wait_for_system_info();
    system_info_state = code == init_ok ? step_state::done : step_state::failed;
    if (code != init_ok) show_init_failure(code);
    return code == init_ok;
}

bool app_finish_init() {
    if (later_state != step_state::pending) return later_state != step_state::failed;
    const int code = run_later_steps();
    later_state = code == init_ok ? step_state::done : step_state::failed;
    if (code != init_ok) show_init_failure(code);
    return code == init_ok;
}

bool app_init_failed() {
    return later_state == step_state::failed || system_info_state == step_state::failed;
}

void app_teardown() {
    // A system-information thread still asking WMI ends first.
    if (system_info_worker.thread) wait_for_system_info();
    // Every transfer handle goes before libcurl's global clean-up: freeing
    // a handle afterwards touches the TLS state that the clean-up has torn
    // down (it crashes after any HTTPS transfer). Running downloads are
    // stopped and waited for, so no worker writes into a freed session.
    clear_download_sessions();
    release_update_client(app_update_client);
    app_update_client = nullptr;
    if (curl_ready) curl_global_cleanup();
    curl_ready = false;
    if (app_device_store) release_device_store(app_device_store);
    app_device_store = nullptr;
    // The windows, and with them the charts, are gone by now.
    gdiplus_shutdown();
}
