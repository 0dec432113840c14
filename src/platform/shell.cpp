#include "platform/shell.h"

#include <shellapi.h>
#include <shlobj.h>

#include <atomic>

namespace {

intptr_t execute(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                 int show_command) {
    if (!file || !*file) return SE_ERR_FNF;
    HINSTANCE result = ShellExecuteW(owner, verb, file, parameters, nullptr, show_command);
    return reinterpret_cast<intptr_t>(result);
}

intptr_t execute_quietly(HWND owner, const wchar_t* file) {
    if (!file || !*file) return SE_ERR_FNF;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpFile = file;
    info.nShow = SW_SHOWNORMAL;
    const BOOL started = ShellExecuteExW(&info);
    const auto code = reinterpret_cast<intptr_t>(info.hInstApp);
    // hInstApp holds the ShellExecuteW-style code; the answer agrees with
    // the call's success however the shell filled it.
    if (started) return code > 32 ? code : 33;
    return code > 0 && code <= 32 ? code : SE_ERR_FNF;
}

class windows_shell final : public shell_actions {
public:
    intptr_t open_web_page(const wchar_t* address) override {
        return execute(nullptr, L"open", address, nullptr, SW_SHOWNORMAL);
    }
    intptr_t open_folder(const wchar_t* path) override {
        return execute(nullptr, L"open", path, nullptr, SW_SHOWNORMAL);
    }
    intptr_t start_program(HWND owner, const wchar_t* program, const wchar_t* parameters,
                           int show_command) override {
        return execute(owner, nullptr, program, parameters, show_command);
    }
    intptr_t start_program_quietly(HWND owner, const wchar_t* program) override {
        return execute_quietly(owner, program);
    }
};

windows_shell real_shell;
std::atomic<shell_actions*> shell_in_use{nullptr};

}  // namespace

shell_actions& shell() {
    shell_actions* s = shell_in_use.load();
    return s ? *s : real_shell;
}

void set_shell(shell_actions* replacement) { shell_in_use.store(replacement); }

std::wstring shell_actions::browse_for_folder(HWND owner) {
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) return {};
    wchar_t path[MAX_PATH] = {};
    const bool found = SHGetPathFromIDListW(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    return found ? path : L"";
}
