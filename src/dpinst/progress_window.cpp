#include "dpinst/progress_window.h"

#include <windows.h>

#include <mutex>
#include <thread>

namespace {

constexpr UINT UM_LOG_LINE = WM_APP + 1;  // a new line is waiting
constexpr UINT UM_WORK_DONE = WM_APP + 2;
constexpr int WINDOW_WIDTH = 480, WINDOW_HEIGHT = 190;

// Shared by the worker, which writes the lines, and the window, which shows
// the latest.
struct progress_state {
    HWND window = nullptr;
    HWND text = nullptr;
    HWND close = nullptr;
    std::mutex mutex;
    std::wstring latest;
    bool done = false;
    std::wstring summary;
};

class window_log final : public log_sink {
public:
    window_log(progress_state& state, log_sink& file_log) : state_(state), file_log_(file_log) {}
    void line(const std::wstring& text) override {
        file_log_.line(text);
        {
            std::lock_guard<std::mutex> lock(state_.mutex);
            state_.latest = text;
        }
        PostMessageW(state_.window, UM_LOG_LINE, 0, 0);
    }

private:
    progress_state& state_;
    log_sink& file_log_;
};

LRESULT CALLBACK progress_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* state = reinterpret_cast<progress_state*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case UM_LOG_LINE: {
        std::wstring text;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            text = state->latest;
        }
        SetWindowTextW(state->text, text.c_str());
        return 0;
    }
    case UM_WORK_DONE:
        state->done = true;
        SetWindowTextW(state->text, state->summary.c_str());
        EnableWindow(state->close, TRUE);
        SetFocus(state->close);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wparam) == progress_close_id || LOWORD(wparam) == IDCANCEL) PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        // Packages half installed cannot be left: the window stays until the work ends.
        if (state && state->done) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

HWND create_progress_window(progress_state& state, int show_command) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW c{};
    c.cbSize = sizeof(c);
    c.lpfnWndProc = progress_procedure;
    c.hInstance = instance;
    c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    c.lpszClassName = progress_window_class;
    if (!RegisterClassExW(&c) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    RECT work{0, 0, 800, 600};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HWND window = CreateWindowExW(0, progress_window_class, L"Driver package installer",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                  (work.left + work.right - WINDOW_WIDTH) / 2,
                                  (work.top + work.bottom - WINDOW_HEIGHT) / 2, WINDOW_WIDTH, WINDOW_HEIGHT,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    RECT client{};
    GetClientRect(window, &client);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    state.window = window;
    state.text = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                 12, 12, client.right - 24, client.bottom - 60, window, nullptr, instance,
                                 nullptr);
    state.close = CreateWindowExW(0, L"BUTTON", L"Close", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                                  client.right - 100, client.bottom - 38, 88, 26, window,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(progress_close_id)), instance,
                                  nullptr);
    if (!state.text || !state.close) {
        DestroyWindow(window);
        MSG pending;
        PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // its PostQuitMessage
        return nullptr;
    }
    SendMessageW(state.text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(state.close, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    EnableWindow(state.close, FALSE);
    ShowWindow(window, show_command == SW_HIDE ? SW_SHOWNORMAL : show_command);
    UpdateWindow(window);
    return window;
}

}  // namespace

run_counts run_with_progress_window(const std::function<run_counts(log_sink&)>& work, log_sink& file_log,
                                    const std::function<std::wstring(const run_counts&)>& summary,
                                    int show_command) {
    progress_state state;
    if (!create_progress_window(state, show_command)) return work(file_log);
    window_log log(state, file_log);
    run_counts counts;
    std::thread worker([&] {
        counts = work(log);
        state.summary = summary(counts);
        PostMessageW(state.window, UM_WORK_DONE, 0, 0);
    });
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(state.window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    worker.join();
    return counts;
}
