#include "platform/shell.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <atomic>
#include <cwctype>

#include "platform/com_ref.h"

namespace {

// A VARIANT cleared when it goes.
struct variant_holder {
    VARIANT v;
    variant_holder() { VariantInit(&v); }
    ~variant_holder() { VariantClear(&v); }
    variant_holder(const variant_holder&) = delete;
    variant_holder& operator=(const variant_holder&) = delete;
};

// The desktop view's IShellDispatch2: Explorer's shell windows, the
// desktop's window, its top-level browser, the active view, the view's
// automation object and its Application.
bool desktop_shell_dispatch(com_ref<IShellDispatch2>& out) {
    com_ref<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.out_void())))
        return false;
    variant_holder location, root;
    location.v.vt = VT_I4;
    location.v.lVal = CSIDL_DESKTOP;
    long window = 0;
    com_ref<IDispatch> desktop;
    // S_FALSE: no desktop window was found.
    if (windows->FindWindowSW(&location.v, &root.v, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              desktop.out()) != S_OK ||
        !desktop)
        return false;
    com_ref<IServiceProvider> services;
    com_ref<IShellBrowser> browser;
    com_ref<IShellView> view;
    com_ref<IDispatch> view_object;
    com_ref<IShellFolderViewDual> folder_view;
    com_ref<IDispatch> application;
    return SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, services.out_void())) && services &&
           SUCCEEDED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                            browser.out_void())) && browser &&
           SUCCEEDED(browser->QueryActiveShellView(view.out())) && view &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, view_object.out_void())) &&
           view_object &&
           SUCCEEDED(view_object->QueryInterface(IID_IShellFolderViewDual, folder_view.out_void())) &&
           folder_view && SUCCEEDED(folder_view->get_Application(application.out())) && application &&
           SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, out.out_void())) && out;
}

intptr_t execute(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                 int show_command) {
    if (!file || !*file) return SE_ERR_FNF;
    HINSTANCE result = ShellExecuteW(owner, verb, file, parameters, nullptr, show_command);
    return reinterpret_cast<intptr_t>(result);
}

// ShellExecuteExW with `mask`, filling `info`: the ShellExecuteW-style
// code, above 32 exactly when the call succeeded. (hInstApp holds that code;
// the answer agrees with the call's success however the shell filled it.)
intptr_t execute_ex(SHELLEXECUTEINFOW& info, ULONG mask, HWND owner, const wchar_t* file,
                    const wchar_t* parameters, int show_command) {
    if (!file || !*file) return SE_ERR_FNF;
    info = SHELLEXECUTEINFOW{};
    info.cbSize = sizeof(info);
    info.fMask = mask;
    info.hwnd = owner;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = show_command;
    const BOOL started = ShellExecuteExW(&info);
    const auto code = reinterpret_cast<intptr_t>(info.hInstApp);
    if (started) return code > 32 ? code : 33;
    return code > 0 && code <= 32 ? code : SE_ERR_FNF;
}

intptr_t execute_quietly(HWND owner, const wchar_t* file) {
    SHELLEXECUTEINFOW info{};
    return execute_ex(info, SEE_MASK_FLAG_NO_UI, owner, file, nullptr, SW_SHOWNORMAL);
}

program_run execute_and_wait(HWND owner, const wchar_t* file, const wchar_t* parameters, int show_command) {
    program_run run;
    SHELLEXECUTEINFOW info{};
    run.code = execute_ex(info, SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI, owner,
                          file, parameters, show_command);
    if (run.code <= 32) {
        if (info.hProcess) CloseHandle(info.hProcess);
        return run;
    }
    if (!info.hProcess) return run;
    DWORD exit_code = 0;
    run.exit_known = WaitForSingleObject(info.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(info.hProcess, &exit_code) && exit_code != STILL_ACTIVE;
    if (run.exit_known) run.exit_code = exit_code;
    CloseHandle(info.hProcess);
    return run;
}

intptr_t execute_web_page(const wchar_t* address) {
    return execute(nullptr, L"open", address, nullptr, SW_SHOWNORMAL);
}

bool starts_with_ignoring_case(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (std::towlower(*text) != *prefix) return false;
    return true;
}

class windows_shell final : public shell_actions {
public:
    intptr_t open_web_page(const wchar_t* address) override {
        return open_web_page_by(address, open_through_desktop, execute_web_page);
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
    program_run run_program(HWND owner, const wchar_t* program, const wchar_t* parameters,
                            int show_command) override {
        return execute_and_wait(owner, program, parameters, show_command);
    }
};

windows_shell real_shell;
std::atomic<shell_actions*> shell_in_use{nullptr};

}  // namespace

bool is_web_address(const wchar_t* address) {
    if (!address) return false;
    const wchar_t* host = nullptr;
    if (starts_with_ignoring_case(address, L"http://")) host = address + 7;
    else if (starts_with_ignoring_case(address, L"https://")) host = address + 8;
    else return false;
    if (!*host || *host == L'/' || *host == L'?' || *host == L'#') return false;
    for (const wchar_t* c = address; *c; ++c)
        if (*c <= L' ' || *c == 0x7F || *c == L'"') return false;
    return true;
}

intptr_t open_web_page_by(const wchar_t* address, web_page_opener through_desktop,
                          intptr_t (*fallback)(const wchar_t* address)) {
    if (!is_web_address(address)) return SE_ERR_ACCESSDENIED;
    if (through_desktop && through_desktop(address)) return 33;
    return fallback ? fallback(address) : SE_ERR_ACCESSDENIED;
}

bool open_through_desktop(const wchar_t* target) {
    if (!target || !*target) return false;
    // Without COM on this thread the first call fails (CO_E_NOTINITIALIZED)
    // and the caller falls back.
    com_ref<IShellDispatch2> dispatch;
    if (!desktop_shell_dispatch(dispatch)) return false;
    BSTR file = SysAllocString(target);
    if (!file) return false;
    variant_holder parameters, folder, operation, show;
    operation.v.vt = VT_BSTR;
    operation.v.bstrVal = SysAllocString(L"open");
    show.v.vt = VT_I4;
    show.v.lVal = SW_SHOWNORMAL;
    const HRESULT result = operation.v.bstrVal
                               ? dispatch->ShellExecute(file, parameters.v, folder.v, operation.v, show.v)
                               : E_OUTOFMEMORY;
    SysFreeString(file);
    return SUCCEEDED(result);
}

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

program_run shell_actions::run_program(HWND owner, const wchar_t* program, const wchar_t* parameters,
                                       int show_command) {
    program_run run;
    run.code = start_program(owner, program, parameters, show_command);
    return run;
}
