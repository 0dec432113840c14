// The user settings, kept under HKEY_CURRENT_USER\SOFTWARE\Vantorel (the root
// is replaceable, see platform/registry_root.h), and the autostart entry in the
// per-user Run key (with its log-on work item on Windows Vista and later).
#pragma once

#include <windows.h>

struct app_settings {
    DWORD autorun = 0;         // 1: start with Windows (Run-key entry present)
    DWORD scan_offline = 0;    // nonzero: the enumeration includes non-present devices
    DWORD close_to_tray = 1;   // 0 quit, 1 hide after the one-time warning, 2 hide silently
    DWORD scheduled_scan = 0;  // nonzero: the weekly scheduled task is wanted
    wchar_t download_path[MAX_PATH] = {};  // configured download folder (edited, saved)
    wchar_t backup_path[MAX_PATH] = {};
    wchar_t language[32] = {};             // a section name of language.ini
    wchar_t install_date[16] = {};         // "%Y-%m-%d" in UTC, "0000-00-00" until set
    // The download folder in effect for this run: a copy of download_path taken
    // by load_settings. A folder changed in the settings dialog takes effect at
    // the next start.
    wchar_t session_download_path[MAX_PATH] = {};
};

// The process-wide settings. Read and written on the UI thread only.
extern app_settings current_settings;
// SOFTWARE\Vantorel, opened by load_settings and kept open for the run.
extern HKEY settings_key;

// Puts the defaults in place, then creates or opens the settings key and reads
// the stored values (first run: stamps the install date, applies the
// installer's language choice and writes everything). Creates the download and
// backup folders when missing. False when the key cannot be created or opened.
bool load_settings();
// Writes every value to settings_key, then applies the autostart entry.
// Write failures are not reported: always true.
bool save_settings();
// Windows XP: writes (enabled) or deletes the "Quillmark" value of the Run
// key. Windows Vista and later: deletes that value (Windows does not start a
// program that requires elevation from it) and makes anew (enabled) or
// deletes the user's log-on task "Quillmark Autostart (DOMAIN+user)" at the
// highest run level. False when the Run key cannot be opened (then nothing
// changes) or, on Vista and later, when the log-on task could not be made or
// removed.
bool set_autostart(bool enabled);
// install_date := today's date in UTC.
void stamp_install_date();
// Closes settings_key (process exit does the same; tests need it earlier).
void close_settings_key();

// The language section name for the installer's language number 1..11, or
// null for any other number.
const wchar_t* installer_language_name(DWORD number);
