// What the program hands to the Windows shell: web pages opened in the
// user's browser, folders opened in Explorer, programs and documents started
// with their default verb. Everything goes through ShellExecuteW or
// ShellExecuteExW, except web pages: the program runs with administrator
// rights, and a browser started from it would have them too, so a page is
// handed to the desktop's own shell (Explorer), which opens it as the
// signed-in user; ShellExecuteW only when that cannot be done.
//
// Tests install their own shell to record the calls instead: opening a
// folder under Wine starts an Explorer that never ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// What run_program learnt of the program it started.
struct program_run {
    intptr_t code = 0;        // as start_program's: greater than 32 when started
    bool exit_known = false;  // its process was waited for to its end
    uint32_t exit_code = 0;   // then its exit code
};

class shell_actions {
public:
    virtual ~shell_actions() = default;

    // Each returns what ShellExecuteW returns, as an integer: greater than 32
    // on success, an error code of 32 or less otherwise.

    // Opens a web page (an http or https address) with the "open" verb.
    // Anything else is refused with SE_ERR_ACCESSDENIED.
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
    // Starts a program as start_program does, without the shell's own error
    // box, and waits for its process to end (ShellExecuteExW with
    // SEE_MASK_NOCLOSEPROCESS). When the shell gives no process (the file
    // went to a program that runs already), its end cannot be known. A
    // shell that cannot wait starts it with start_program and knows no end.
    virtual program_run run_program(HWND owner, const wchar_t* program, const wchar_t* parameters,
                                    int show_command);
    // Lets the user pick a file-system folder in the shell's folder browser
    // (SHBrowseForFolderW) owned by `owner`. The folder's path, or an empty
    // text when the user cancelled or picked something that is no folder.
    virtual std::wstring browse_for_folder(HWND owner);
};

// Whether `address` is an http:// or https:// address (any case) with a
// host, and without spaces, quotes or control characters, which would let it
// be read as more than one argument or as a file: the only things opened as
// web pages.
bool is_web_address(const wchar_t* address);

// Opens a page through the desktop's shell: true when the desktop took it.
using web_page_opener = bool (*)(const wchar_t* address);
// How the real shell opens a web page: anything but a web address is refused
// (SE_ERR_ACCESSDENIED) without a call; otherwise `through_desktop` first,
// then, when it returns false, `fallback` (ShellExecuteW in the real shell),
// whose code is returned. 33 when the desktop took the page.
intptr_t open_web_page_by(const wchar_t* address, web_page_opener through_desktop,
                          intptr_t (*fallback)(const wchar_t* address));
// Asks the desktop's Explorer, through its shell windows and the desktop
// view's IShellDispatch2::ShellExecute, to open `target` with the "open"
// verb. False when a step fails: no COM on this thread, no Explorer desktop.
// True says only that the desktop took it: whether it could open it is not
// reported back.
bool open_through_desktop(const wchar_t* target);

// The shell in effect: the one installed by set_shell, else the real one.
// Safe to call from any thread.
shell_actions& shell();
// Installs `replacement` (kept by the caller), or restores the real shell
// when null. Called while no worker uses the shell.
void set_shell(shell_actions* replacement);
