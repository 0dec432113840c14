// Helpers shared by the application-core tests: a scratch registry root with a
// scratch program folder, registry readers, processes that are always ended,
// and the built quillmark.exe with the windows it shows.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Points the settings at HKCU\Software\QuillmarkTests\app-<pid>-<n> and
// program_dir at a fresh folder under %TEMP%; removes both afterwards and
// restores program_dir and module_path.
class scratch_settings {
public:
    scratch_settings();
    ~scratch_settings();
    scratch_settings(const scratch_settings&) = delete;
    scratch_settings& operator=(const scratch_settings&) = delete;

    HKEY root() const { return root_; }
    const std::wstring& folder() const { return folder_; }  // ends in a backslash
    // Deletes everything below the root (closing the settings key first).
    void clear();

private:
    std::wstring key_path_;
    HKEY root_ = nullptr;
    std::wstring folder_;
    wchar_t saved_program_dir_[MAX_PATH] = {};
    wchar_t saved_module_path_[MAX_PATH] = {};
};

struct reg_value {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    std::wstring text() const;  // the data as UTF-16 up to its first NUL
    DWORD dword() const;        // the first four bytes
};

std::optional<reg_value> read_reg_value(HKEY root, const wchar_t* subkey, const wchar_t* name);
std::vector<std::wstring> reg_value_names(HKEY root, const wchar_t* subkey);  // sorted
bool reg_key_exists(HKEY root, const wchar_t* subkey);
// Creates the key when needed and writes the value with exactly these bytes.
void write_reg_raw(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                   const void* data, DWORD bytes);
void write_reg_text(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& text,
                    DWORD type = REG_SZ);
void write_reg_dword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value);

// Today's date in UTC as "YYYY-MM-DD".
std::wstring utc_date_today();
bool folder_exists(const std::wstring& path);
void remove_folder_tree(const std::wstring& path);

// A started process that is terminated on destruction if still running.
class child_process {
public:
    child_process() = default;
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // Starts `program` with the command line `"program" args` in `folder`,
    // with the given show command. False when it cannot be started.
    bool start(const std::wstring& program, const std::wstring& args, const std::wstring& folder,
               WORD show_command = SW_SHOWNORMAL);
    // Waits up to `timeout_ms`; the exit code, or nullopt when still running.
    std::optional<DWORD> wait(DWORD timeout_ms);
    DWORD id() const { return info_.dwProcessId; }
    void kill();

private:
    PROCESS_INFORMATION info_ = {};
};

// The built quillmark.exe, its folder, and how long the tests wait for it to
// show a window and to end.
inline const std::wstring program_folder = QM_PROGRAM_DIR_W;
inline const std::wstring program = program_folder + L"\\quillmark.exe";
constexpr DWORD START_TIMEOUT_MS = 30000;
constexpr DWORD EXIT_TIMEOUT_MS = 30000;

// Success when quillmark.exe is in the program folder and no Quillmark
// main window is open (it would take the launches of a test for its own).
::testing::AssertionResult program_ready_to_start();

// The top-level windows titled "Quillmark" of one process: its main window
// and a message box (such as the start-up failure box).
struct window_search {
    DWORD process;
    HWND main = nullptr;
    HWND message_box = nullptr;
};

// Waits up to START_TIMEOUT_MS until the process shows its main window or a
// message box titled "Quillmark", or ends. The search result (both null on
// time-out or exit).
window_search wait_for_window(child_process& process);

// main_state of a running program's main window (1 while it scans, 3 with
// results), or -1 when it does not answer.
int main_state_of(HWND window);

// The program's own settings key in the test prefix, the folders the settings
// step creates in the program folder, and the program's Run entry, removed
// before and after.
struct clean_program_settings {
    clean_program_settings() { clear(); }
    ~clean_program_settings() { clear(); }
    clean_program_settings(const clean_program_settings&) = delete;
    clean_program_settings& operator=(const clean_program_settings&) = delete;
    static void clear();
};
