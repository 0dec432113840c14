#include "platform/wow64.h"

#include <windows.h>

namespace {

using disable_function = BOOL(WINAPI*)(PVOID*);
using revert_function = BOOL(WINAPI*)(PVOID);

struct redirection_functions {
    disable_function disable = nullptr;
    revert_function revert = nullptr;
};

// kernel32 is loaded in every process: looking its functions up reads no file.
redirection_functions lookup() {
    redirection_functions f;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return f;
    f.disable = reinterpret_cast<disable_function>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
    f.revert = reinterpret_cast<revert_function>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
    // One without the other could not be undone.
    if (!f.disable || !f.revert) f = redirection_functions{};
    return f;
}

const redirection_functions& functions() {
    static const redirection_functions f = lookup();
    return f;
}

}  // namespace

native_system_folder_scope::native_system_folder_scope() {
    const redirection_functions& f = functions();
    // Fails (ERROR_INVALID_FUNCTION) outside WOW64: nothing to undo then.
    if (f.disable && f.disable(&previous_)) turned_off_ = true;
}

native_system_folder_scope::~native_system_folder_scope() {
    if (turned_off_) functions().revert(previous_);
}
