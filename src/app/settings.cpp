#include "app/settings.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <time.h>
#include <wchar.h>

#include <string>
#include <string_view>

#include "app/globals.h"
#include "app/scheduled_task.h"
#include "platform/registry_root.h"
#include "platform/task_scheduler.h"
#include "platform/text.h"

app_settings current_settings;
HKEY settings_key = nullptr;

namespace {

const wchar_t settings_subkey[] = L"SOFTWARE\\Vantorel";
const wchar_t installer_subkey[] = L"SOFTWARE\\Vantorel_Init";
const wchar_t run_subkey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t run_value[] = L"Quillmark";
const wchar_t unset_date[] = L"0000-00-00";
const wchar_t autostart_item_name[] = L"Quillmark Autostart";

// Reads a REG_DWORD of exactly four bytes; anything else leaves `field` alone.
void read_dword_value(HKEY key, const wchar_t* name, DWORD& field) {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        return;
    if (type != REG_DWORD || size != sizeof(value)) return;
    field = value;
}

// Reads a REG_SZ or REG_EXPAND_SZ (taken literally) into `field`. The value is
// taken only when it fits the field and carries its terminating NUL within the
// returned data; otherwise `field` keeps what it had. The stored data need not
// be terminated, so only the bytes the query reports are looked at.
template <std::size_t N>
void read_text_value(HKEY key, const wchar_t* name, wchar_t (&field)[N]) {
    wchar_t buffer[N];
    DWORD type = 0;
    DWORD size = sizeof(buffer);  // at most N characters, terminator included
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return;
    std::size_t chars = size / sizeof(wchar_t);
    if (chars > N) return;  // cannot happen: the query never exceeds the buffer
    const wchar_t* end = wmemchr(buffer, L'\0', chars);
    if (!end) return;
    copy_text(field, std::wstring_view(buffer, static_cast<std::size_t>(end - buffer)));
}

void write_text_value(HKEY key, const wchar_t* name, const wchar_t* text) {
    DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

void write_dword_value(HKEY key, const wchar_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// program_dir + `leaf`. program_dir ends in a backslash; PathAppendW keeps the
// result within MAX_PATH and leaves the folder alone when it would not fit.
void folder_in_program_dir(wchar_t (&out)[MAX_PATH], const wchar_t* leaf) {
    copy_text(out, program_dir);
    PathAppendW(out, leaf);
}

void put_defaults() {
    app_settings& s = current_settings;
    s.autorun = 0;
    s.scan_offline = 0;
    s.scheduled_scan = 0;
    s.close_to_tray = 1;
    folder_in_program_dir(s.download_path, L"download");
    copy_text(s.session_download_path, s.download_path);
    folder_in_program_dir(s.backup_path, L"backup");
    copy_text(s.language, L"English");
    copy_text(s.install_date, unset_date);
}

// The language the installer recorded. The key is only opened, never created,
// and a missing or mistyped value leaves the language as it is.
void apply_installer_language() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(settings_root(), installer_subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD number = 0;
    read_dword_value(key, L"language", number);
    RegCloseKey(key);
    if (const wchar_t* name = installer_language_name(number))
        copy_text(current_settings.language, name);
}

void read_stored_values() {
    app_settings& s = current_settings;
    read_dword_value(settings_key, L"autorun", s.autorun);
    read_dword_value(settings_key, L"scan_offline", s.scan_offline);
    read_dword_value(settings_key, L"close_to_tray", s.close_to_tray);
    read_dword_value(settings_key, L"scheduled_scan", s.scheduled_scan);
    read_text_value(settings_key, L"download_path", s.download_path);
    copy_text(s.session_download_path, s.download_path);
    read_text_value(settings_key, L"backup_path", s.backup_path);
    read_text_value(settings_key, L"language", s.language);
    read_text_value(settings_key, L"install_date", s.install_date);
}

// The log-on task that starts the program with Windows on Vista and later,
// where Windows does not start a program that requires elevation from the Run
// entry. It is made anew whenever autostart is saved on, so it always starts
// the program where it is now; an earlier version's item of the whole computer
// goes when it is this user's. False when the task could not be made (or, off,
// removed).
bool apply_autostart_task(task_scheduler& tasks, bool enabled) {
    std::wstring account;
    if (!current_account(account)) return false;
    const std::wstring name = per_user_task_name(autostart_item_name, account);
    remove_earlier_task(tasks, autostart_item_name, L"");
    if (!tasks.delete_task(name)) return false;
    if (!enabled) return true;
    task_definition task;
    task.description = L"Starts Quillmark when you log on.";
    task.user = account;
    task.application = module_path;  // no arguments
    task.trigger = logon_trigger(_time64(nullptr));
    return tasks.register_task(name, task_xml(task), account);
}

void ensure_folder(const wchar_t* path) {
    if (path[0] != L'\0' && !PathIsDirectoryW(path)) SHCreateDirectoryExW(nullptr, path, nullptr);
}

}  // namespace

const wchar_t* installer_language_name(DWORD number) {
    static const wchar_t* const names[] = {
        L"English",
        L"Deutsch",
        L"Espa\u00F1ol",
        L"Fran\u00E7ais",
        L"Italiano",
        L"\u65E5\u672C\u8A9E",
        L"\u7B80\u4F53\u4E2D\u6587",
        L"\u7E41\u9AD4\u4E2D\u6587",
        L"Nederlands",
        L"Portugu\u00EAs",
        L"\u0627\u0644\u0639\u0631\u0628\u064A\u0629",
    };
    if (number < 1 || number > sizeof(names) / sizeof(names[0])) return nullptr;
    return names[number - 1];
}

void stamp_install_date() {
    __time64_t now = _time64(nullptr);
    struct tm utc = {};
    if (_gmtime64_s(&utc, &now) != 0) return;
    wchar_t text[16];
    if (wcsftime(text, sizeof(text) / sizeof(text[0]), L"%Y-%m-%d", &utc) == 0) return;
    copy_text(current_settings.install_date, text);
}

bool set_autostart(bool enabled) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(settings_root(), run_subkey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    task_scheduler& tasks = scheduler();
    const bool logon_task = tasks.has_run_levels();
    if (enabled && !logon_task) {
        // Quoted: Windows splits an unquoted command line at its first space,
        // so a path such as C:\Program Files\... would start the wrong file.
        std::wstring command = L"\"";
        command += module_path;
        command += L"\"";
        write_text_value(key, run_value, command.c_str());
    } else {
        // On Vista and later an entry (left by an earlier version) would only
        // bring Windows' notice of a blocked start-up program.
        RegDeleteValueW(key, run_value);  // a missing value is fine
    }
    RegCloseKey(key);
    return logon_task ? apply_autostart_task(tasks, enabled) : true;
}

bool save_settings() {
    const app_settings& s = current_settings;
    write_text_value(settings_key, L"download_path", s.download_path);
    write_text_value(settings_key, L"backup_path", s.backup_path);
    write_text_value(settings_key, L"language", s.language);
    write_text_value(settings_key, L"install_date", s.install_date);
    write_dword_value(settings_key, L"autorun", s.autorun);
    write_dword_value(settings_key, L"scan_offline", s.scan_offline);
    write_dword_value(settings_key, L"close_to_tray", s.close_to_tray);
    write_dword_value(settings_key, L"scheduled_scan", s.scheduled_scan);
    set_autostart(s.autorun != 0);
    return true;
}

void close_settings_key() {
    if (settings_key) RegCloseKey(settings_key);
    settings_key = nullptr;
}

bool load_settings() {
    put_defaults();
    close_settings_key();

    DWORD disposition = 0;
    if (RegCreateKeyExW(settings_root(), settings_subkey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &settings_key, &disposition) != ERROR_SUCCESS) {
        settings_key = nullptr;
        return false;
    }

    if (disposition == REG_OPENED_EXISTING_KEY) {
        read_stored_values();
        if (wcscmp(current_settings.install_date, unset_date) == 0) {
            stamp_install_date();
            write_text_value(settings_key, L"install_date", current_settings.install_date);
        }
    } else {
        stamp_install_date();
        apply_installer_language();
        save_settings();
    }

    ensure_folder(current_settings.session_download_path);
    ensure_folder(current_settings.backup_path);
    return true;
}
