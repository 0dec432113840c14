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
    wcscpy_s(program_dir, MAX_PATH, dir);
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

// The system information, collected on a thread of its own while the window
// is made (start_system_info, wait_for_system_info). The window's thread
// waits for it, so it runs at normal priority, unlike the workers.
struct system_info_job {
    HANDLE thread = nullptr;
    int result = 0;
};
system_info_job system_info_worker;

unsigned __stdcall collect_system_info_thread(void* argument) {
    auto* job = static_cast<system_info_job*>(argument);
    // WMI needs COM on the thread that asks it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    job->result = collect_system_info();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

// Starts the system-information step; it runs on the calling thread when no
// thread can be started.
void start_system_info() {
    system_info_worker.result = 0;
    system_info_worker.thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, collect_system_info_thread, &system_info_worker, 0, nullptr));
    if (!system_info_worker.thread) system_info_worker.result = collect_system_info();
}

// The steps after the system information that the first frame needs. The
// system-information step runs meanwhile; its failure comes first, as it
// would in order.
int run_settings_and_language_steps() {
    int code = init_ok;
    if (!load_settings()) {
        code = init_settings;
    } else {
        create_fonts();
        if (load_language(current_settings.language, true) < 0)
            code = init_language;
        else if (lstrcmpiW(current_settings.language, L"English") != 0)
            load_language(L"English", false);
    }
    if (code != init_ok && wait_for_system_info() != init_ok) return init_system_info;
    return code;
}

enum class later_steps { none, pending, done, failed };
later_steps later_state = later_steps::none;

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
    start_system_info();
    return run_settings_and_language_steps();
}

int wait_for_system_info() {
    if (system_info_worker.thread) {
        WaitForSingleObject(system_info_worker.thread, INFINITE);
        CloseHandle(system_info_worker.thread);
        system_info_worker.thread = nullptr;
    }
    return system_info_worker.result < 0 ? init_system_info : init_ok;
}

int run_later_steps() {
    if (int code = create_process_objects()) return code;
    build_store_index();
    return init_ok;
}

int run_init_steps() {
    if (int code = run_first_frame_steps()) return code;
    if (int code = wait_for_system_info()) return code;
    return run_later_steps();
}

void format_init_failure(int code, wchar_t (&out)[128]) {
    swprintf(out, sizeof(out) / sizeof(out[0]), L"Application initialization failed, error code: %d.",
             code);
}

int app_init() {
    const int code = run_first_frame_steps();
    if (code == init_ok) return 0;
    show_init_failure(code);
    return -1;
}

int app_await_system_info() {
    const int code = wait_for_system_info();
    if (code == init_ok) {
        later_state = later_steps::pending;
        return 0;
    }
    show_init_failure(code);
    return -1;
}

bool app_finish_init() {
    if (later_state != later_steps::pending) return later_state != later_steps::failed;
    const int code = run_later_steps();
    later_state = code == init_ok ? later_steps::done : later_steps::failed;
    if (code != init_ok) show_init_failure(code);
    return code == init_ok;
}

bool app_init_failed() { return later_state == later_steps::failed; }

void app_teardown() {
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
