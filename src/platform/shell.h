// What the program hands to the Windows shell: web pages opened in the
// user's browser, folders opened in Explorer, programs and documents started
// with their default verb. Everything goes through ShellExecuteW or
// ShellExecuteExW.
//
// Tests install their own shell to record the calls instead: opening a
// folder under Wine starts an Explorer that never ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class shell_actions {
public:
    virtual ~shell_actions() = default;

    // Each returns what ShellExecuteW returns, as an integer: greater than 32
    // on success, an error code of 32 or less otherwise.

    // Opens a web page with the "open" verb.
    virtual intptr_t open_web_page(const wchar_t* address) = 0;
    // Opens a folder in Explorer ("open" verb, shown normally).
    virtual intptr_t open_folder(const wchar_t* path) = 0;
    // Starts a program, or opens a document with its associated program, with
    // the default verb. `parameters` may be null; `owner` may be null.
    virtual intptr_t start_program(HWND owner, const wchar_t* program, const wchar_t* parameters,
                                   int show_command) = 0;
    // Starts a program without arguments with the default verb, shown
    // normally, and shows nothing when it cannot be started (ShellExecuteExW
    // with SEE_MASK_FLAG_NO_UI: no error box of the shell's own). A shell
    // that has no quiet way starts it as start_program does.
    virtual intptr_t start_program_quietly(HWND owner, const wchar_t* program) {
        return start_program(owner, program, nullptr, SW_SHOWNORMAL);
    }
    // Lets the user pick a file-system folder in the shell's folder browser
    // (SHBrowseForFolderW) owned by `owner`. The folder's path, or an empty
    // text when the user cancelled or picked something that is no folder.
    virtual std::wstring browse_for_folder(HWND owner);
};

// The shell in effect: the one installed by set_shell, else the real one.
// Safe to call from any thread.
shell_actions& shell();
// Installs `replacement` (kept by the caller), or restores the real shell
// when null. Called while no worker uses the shell.
void set_shell(shell_actions* replacement);
