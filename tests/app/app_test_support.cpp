#include "app_test_support.h"

#include <algorithm>
#include <atomic>

#include "app/globals.h"
#include "app/settings.h"
#include "platform/registry_root.h"
#include "platform/text.h"
#include "ui/main_window.h"

namespace {
std::atomic<int> scratch_counter{0};
}

scratch_settings::scratch_settings() {
    copy_text(saved_program_dir_, program_dir);
    copy_text(saved_module_path_, module_path);

    int n = ++scratch_counter;
    std::wstring leaf = L"app-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n);
    key_path_ = L"Software\\QuillmarkTests\\" + leaf;
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());  // left over from a crashed run
    RegCreateKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &root_, nullptr);
    set_settings_root(root_);

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"qm-" + leaf + L"\\";
    remove_folder_tree(folder_);
    CreateDirectoryW(folder_.c_str(), nullptr);
    copy_text(program_dir, folder_);
}

scratch_settings::~scratch_settings() {
    close_settings_key();
    set_settings_root(nullptr);
    if (root_) RegCloseKey(root_);
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
    remove_folder_tree(folder_);
    copy_text(program_dir, saved_program_dir_);
    copy_text(module_path, saved_module_path_);
}

void scratch_settings::clear() {
    close_settings_key();
    RegDeleteTreeW(root_, nullptr);
}

std::wstring reg_value::text() const {
    std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    return s.substr(0, s.find(L'\0'));
}

DWORD reg_value::dword() const {
    DWORD v = 0;
    if (data.size() >= sizeof(v)) memcpy(&v, data.data(), sizeof(v));
    return v;
}

std::optional<reg_value> read_reg_value(HKEY root, const wchar_t* subkey, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    reg_value v;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &v.type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        v.data.resize(size);
        rc = RegQueryValueExW(key, name, nullptr, &v.type, v.data.data(), &size);
        v.data.resize(size);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return v;
}

std::vector<std::wstring> reg_value_names(HKEY root, const wchar_t* subkey) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

bool reg_key_exists(HKEY root, const wchar_t* subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void write_reg_raw(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                   const void* data, DWORD bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
}

void write_reg_text(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& text,
                    DWORD type) {
    write_reg_raw(root, subkey, name, type, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void write_reg_dword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value) {
    write_reg_raw(root, subkey, name, REG_DWORD, &value, sizeof(value));
}

std::wstring utc_date_today() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    wchar_t text[16];
    swprintf(text, 16, L"%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

bool folder_exists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void remove_folder_tree(const std::wstring& path) {
    if (path.empty()) return;
    std::wstring base = path;
    if (base.back() != L'\\') base += L'\\';
    WIN32_FIND_DATAW found{};
    HANDLE h = FindFirstFileW((base + L"*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = base + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_folder_tree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(base.c_str());
}

child_process::~child_process() { kill(); }

bool child_process::start(const std::wstring& program, const std::wstring& args,
                          const std::wstring& folder, WORD show_command) {
    kill();
    std::wstring command = L"\"" + program + L"\"";
    if (!args.empty()) command += L" " + args;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = show_command;
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &info_)) {
        info_ = {};
        return false;
    }
    return true;
}

std::optional<DWORD> child_process::wait(DWORD timeout_ms) {
    if (!info_.hProcess) return std::nullopt;
    if (WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void child_process::kill() {
    if (info_.hProcess) {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 0xDEAD);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hProcess);
    }
    if (info_.hThread) CloseHandle(info_.hThread);
    info_ = {};
}

namespace {
BOOL CALLBACK find_windows_of(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<window_search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->process) return TRUE;
    wchar_t title[64] = {}, cls[64] = {};
    GetWindowTextW(window, title, 64);
    GetClassNameW(window, cls, 64);
    if (std::wstring(title) != L"Quillmark") return TRUE;
    if (std::wstring(cls) == MAIN_WINDOW_CLASS) search->main = window;
    if (std::wstring(cls) == L"#32770") search->message_box = window;
    return TRUE;
}
}  // namespace

::testing::AssertionResult program_ready_to_start() {
    if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ::testing::AssertionFailure() << "no quillmark.exe in the program folder";
    if (FindWindowW(MAIN_WINDOW_CLASS, nullptr))
        return ::testing::AssertionFailure() << "another Quillmark is already running";
    return ::testing::AssertionSuccess();
}

window_search wait_for_window(child_process& process) {
    for (DWORD waited = 0; waited < START_TIMEOUT_MS; waited += 50) {
        window_search search{process.id()};
        EnumWindows(find_windows_of, reinterpret_cast<LPARAM>(&search));
        if (search.main || search.message_box) return search;
        if (process.wait(0)) break;
        Sleep(50);
    }
    return window_search{process.id()};
}

void clean_program_settings::clear() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Vantorel");
    // The folders the settings create, when nothing was put in them.
    RemoveDirectoryW((program_folder + L"\\download").c_str());
    RemoveDirectoryW((program_folder + L"\\backup").c_str());
    HKEY run = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
        RegDeleteValueW(run, L"Quillmark");
        RegCloseKey(run);
    }
}

int main_state_of(HWND window) {
    DWORD_PTR reply = 0;
    if (!SendMessageTimeoutW(window, scan_state_message(), 0, 0, SMTO_ABORTIFHUNG, 10000, &reply))
        return -1;
    return LOWORD(reply);
}
