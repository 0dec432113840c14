// quillmark.exe as a user starts it: first run, single instance and hand-over,
// the start-up scan, and closing. Needs a display (scripts/test.sh has one).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app_test_support.h"
#include "app/single_instance.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "common/reference_service.h"
#include "ui/main_window.h"
#include "ui/messages.h"
#include "ui/real_pointer.h"

namespace {

constexpr DWORD HANDED_OVER = 0xFFFFFFFF;  // exit code -1

// The main window of the process, waiting for it to appear. Null on time-out
// or when the start-up failure box shows instead (reported as a failure).
HWND wait_for_main_window(child_process& process) {
    window_search found = wait_for_window(process);
    if (found.main) return found.main;
    if (found.message_box)
        ADD_FAILURE() << "quillmark.exe showed its start-up failure box";
    else if (process.wait(0))
        ADD_FAILURE() << "quillmark.exe ended before showing its window";
    else
        ADD_FAILURE() << "quillmark.exe showed no window within " << START_TIMEOUT_MS << " ms";
    return nullptr;
}

struct scan_state {
    int main_state = -1;
    int scans_started = -1;
};

scan_state read_scan_state(HWND window) {
    DWORD_PTR reply = 0;
    scan_state state;
    if (SendMessageTimeoutW(window, scan_state_message(), 0, 0, SMTO_ABORTIFHUNG, 10000, &reply)) {
        state.main_state = LOWORD(reply);
        state.scans_started = HIWORD(reply);
    }
    return state;
}

// Waits until a scan has started and ended again; the state then. The window
// can be found while it is still being created, before "--autoscan" has made
// it start its scan, so the start is waited for too.
scan_state wait_for_scan_end(HWND window) {
    scan_state state = read_scan_state(window);
    auto scanning_or_not_yet = [&] { return state.scans_started == 0 || state.main_state == 1; };
    for (DWORD waited = 0; waited < START_TIMEOUT_MS && scanning_or_not_yet(); waited += 100) {
        Sleep(100);
        state = read_scan_state(window);
    }
    return state;
}

// A second launch with these arguments: it must end at once with -1.
void launch_second(const std::wstring& args) {
    child_process second;
    ASSERT_TRUE(second.start(program, args, program_folder)) << "cannot start quillmark.exe";
    std::optional<DWORD> code = second.wait(EXIT_TIMEOUT_MS);
    ASSERT_TRUE(code) << "the second instance (" << wide_to_utf8(args) << ") did not end";
    EXPECT_EQ(*code, HANDED_OVER) << wide_to_utf8(args);
}

// Ends the program with its menu's Exit command (closing only hides it).
void close_and_expect_clean_exit(child_process& first, HWND window) {
    PostMessageW(window, WM_COMMAND, ID_MENU_EXIT, 0);
    std::optional<DWORD> code = first.wait(EXIT_TIMEOUT_MS);
    ASSERT_TRUE(code) << "quillmark.exe did not end after Exit";
    EXPECT_EQ(*code, 0u);
}

// A top-level window titled "Quillmark" of `class_name` on a thread of its
// own. It counts the UM_BRING_TO_FRONT messages it gets (the last wParam
// kept); a hung one pumps no messages until it is released.
class titled_window {
public:
    titled_window(const wchar_t* class_name, bool hung) : class_name_(class_name), hung_(hung) {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] { run(); });
        WaitForSingleObject(ready_, 10000);
    }
    ~titled_window() {
        SetEvent(release_);
        if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
        thread_.join();
        CloseHandle(ready_);
        CloseHandle(release_);
    }
    titled_window(const titled_window&) = delete;
    titled_window& operator=(const titled_window&) = delete;

    // Lets a hung window pump again and waits until it has seen its queue.
    void release() {
        SetEvent(release_);
        DWORD_PTR reply = 0;
        SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &reply);
    }

    std::atomic<int> received{0};
    std::atomic<WPARAM> last_wparam{~WPARAM{0}};

private:
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = reinterpret_cast<titled_window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == UM_BRING_TO_FRONT) {
            self->last_wparam = wparam;
            ++self->received;
            return 0;
        }
        if (message == WM_DESTROY) PostQuitMessage(0);
        return DefWindowProcW(window, message, wparam, lparam);
    }

    void run() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = class_name_;
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, class_name_, APP_NAME, WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetEvent(ready_);
        if (hung_) WaitForSingleObject(release_, INFINITE);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    }

    const wchar_t* class_name_;
    bool hung_;
    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
    std::atomic<HWND> window_{nullptr};
    std::thread thread_;
};

// A system message box titled "Quillmark" on a thread of its own, open for
// the life of the object.
class titled_message_box {
public:
    titled_message_box() {
        thread_ = std::thread([this] {
            thread_id_ = GetCurrentThreadId();
            MessageBoxW(nullptr, L"Busy", APP_NAME, MB_OK);
        });
        // Its own box: other programs of the test run show such boxes too.
        for (int i = 0; i < 200 && !box_; ++i) {
            Sleep(50);
            if (DWORD id = thread_id_.load())
                EnumThreadWindows(id, find_visible, reinterpret_cast<LPARAM>(&box_));
        }
    }
    ~titled_message_box() {
        if (box_) PostMessageW(box_, WM_COMMAND, IDOK, 0);
        thread_.join();
    }
    titled_message_box(const titled_message_box&) = delete;
    titled_message_box& operator=(const titled_message_box&) = delete;

private:
    static BOOL CALLBACK find_visible(HWND window, LPARAM out) {
        if (!IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
    }

    std::thread thread_;
    std::atomic<DWORD> thread_id_{0};
    HWND box_ = nullptr;
};

// The programs started here come to the front (a second launch raises the
// first): not while another test drives the pointer.
class RunningProgram : public ::testing::Test {
protected:
    pointer_lock pointer_;

    void SetUp() override {
        // The programs started here ask the reference update service.
        reference_service* service = reference_service::get();
        ASSERT_NE(service, nullptr);
        std::string mirrors = service->mirror_url(1) + ";" + service->mirror_url(2) + ";" +
                              service->mirror_url(3);
        SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", utf8_to_wide(mirrors).c_str());
        ASSERT_TRUE(program_ready_to_start());
    }
};

TEST_F(RunningProgram, FirstRunWritesDefaultsAndSecondLaunchesHandOver) {
    clean_program_settings settings_guard;
    // Started from another folder: the program works in its own folder anyway.
    wchar_t elsewhere[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, elsewhere);
    child_process first;
    ASSERT_TRUE(first.start(program, L"", elsewhere, SW_HIDE));
    HWND window = wait_for_main_window(first);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));  // started hidden

    // The first run wrote the defaults before the window existed.
    std::vector<std::wstring> names = reg_value_names(HKEY_CURRENT_USER, L"SOFTWARE\\Vantorel");
    EXPECT_EQ(names.size(), 8u);
    auto language = read_reg_value(HKEY_CURRENT_USER, L"SOFTWARE\\Vantorel", L"language");
    ASSERT_TRUE(language);
    EXPECT_EQ(language->text(), L"English");
    auto date = read_reg_value(HKEY_CURRENT_USER, L"SOFTWARE\\Vantorel", L"install_date");
    ASSERT_TRUE(date);
    EXPECT_EQ(date->text(), utc_date_today());
    auto download = read_reg_value(HKEY_CURRENT_USER, L"SOFTWARE\\Vantorel", L"download_path");
    ASSERT_TRUE(download);
    EXPECT_EQ(download->text(), program_folder + L"\\download");
    auto tray = read_reg_value(HKEY_CURRENT_USER, L"SOFTWARE\\Vantorel", L"close_to_tray");
    ASSERT_TRUE(tray);
    EXPECT_EQ(tray->dword(), 1u);
    EXPECT_FALSE(read_reg_value(HKEY_CURRENT_USER,
                                L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quillmark"));

    EXPECT_EQ(read_scan_state(window).scans_started, 0);

    // A plain second launch shows the running window and starts no scan.
    launch_second(L"");
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetForegroundWindow(), window);
    EXPECT_EQ(read_scan_state(window).scans_started, 0);

    // "--autoscan" and two arguments only bring it to the front as well.
    launch_second(L"--autoscan");
    launch_second(L"--autorun extra");
    EXPECT_EQ(read_scan_state(window).scans_started, 0);

    // "--autorun" alone (any letter case) makes it scan.
    ShowWindow(window, SW_HIDE);
    launch_second(L"--AutoRun");
    EXPECT_TRUE(IsWindowVisible(window));
    scan_state state = wait_for_scan_end(window);
    EXPECT_EQ(state.scans_started, 1);
    EXPECT_EQ(state.main_state, 3) << "the scan of the machine profile did not succeed";

    // The second instance holds no window and leaves the first one running.
    EXPECT_FALSE(first.wait(0));
    close_and_expect_clean_exit(first, window);
}

TEST_F(RunningProgram, AutoscanArgumentStartsWithAScan) {
    clean_program_settings settings_guard;
    child_process first;
    ASSERT_TRUE(first.start(program, L"--AUTOSCAN", program_folder));
    HWND window = wait_for_main_window(first);
    ASSERT_NE(window, nullptr);
    scan_state state = wait_for_scan_end(window);
    EXPECT_EQ(state.scans_started, 1);
    EXPECT_EQ(state.main_state, 3);
    close_and_expect_clean_exit(first, window);
}

TEST_F(RunningProgram, AutorunArgumentOfAFirstInstanceStartsNoScan) {
    clean_program_settings settings_guard;
    child_process first;
    ASSERT_TRUE(first.start(program, L"--autorun", program_folder));
    HWND window = wait_for_main_window(first);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(read_scan_state(window).scans_started, 0);
    close_and_expect_clean_exit(first, window);
}

TEST(HandOver, SecondLaunchReachesTheMainWindowPastSameTitledOnes) {
    pointer_lock pointer;  // the message box comes to the front
    // This test holds the single-instance mutex, so a launch is a second one;
    // the "running instance" is a window of the main window's class here.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, APP_NAME);
    ASSERT_NE(mutex, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
        << "another Quillmark runs in the test prefix";
    {
        titled_window main(MAIN_WINDOW_CLASS, false);
        titled_message_box box;
        // Made last, so that it comes first among the same-titled windows.
        titled_window hung_decoy(L"Quillmark.InstanceTest.Explorer", true);

        launch_second(L"--autorun");
        EXPECT_EQ(main.received.load(), 1);
        EXPECT_EQ(main.last_wparam.load(), 1u);
        hung_decoy.release();
        EXPECT_EQ(hung_decoy.received.load(), 0);
    }
    {
        // The main window itself hangs: the launch still ends, with -1.
        titled_window hung_main(MAIN_WINDOW_CLASS, true);
        launch_second(L"");
        hung_main.release();
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

std::string seen;  // the calls of a hand-over or a message filter
DWORD WINAPI owner_is(HWND, LPDWORD id) { return seen += "owner;", *id = 42; }
BOOL WINAPI allow_foreground(DWORD id) { return seen += "foreground " + std::to_string(id) + ";", TRUE; }
LRESULT WINAPI send_message(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) { return seen += "send;", 1; }
BOOL WINAPI per_window(HWND, UINT m, DWORD a, void*) { return seen += "window " + std::to_string(m + a), TRUE; }
BOOL WINAPI per_process(UINT m, DWORD a) { return seen += "process " + std::to_string(m + a), TRUE; }

TEST(HandOver, LetsTheRunningInstanceTakeTheForegroundAndItsMessagesPassTheFilter) {
    hand_over(nullptr, 1, {owner_is, allow_foreground, send_message});
    EXPECT_EQ(std::exchange(seen, ""), "owner;foreground 42;send;");
    // ChangeWindowMessageFilterEx (7 and later), else the Vista one, else (XP) nothing;
    // 1030 is message 1029 with MSGFLT_ALLOW or MSGFLT_ADD (1).
    const struct { message_filter_functions have; const char* calls; } cases[] = {
        {{per_window, per_process}, "window 1030"}, {{nullptr, per_process}, "process 1030"}, {{}, ""}};
    for (const auto& c : cases) {
        EXPECT_TRUE(allow_message_from_lower_processes(nullptr, UM_BRING_TO_FRONT, c.have));
        EXPECT_EQ(std::exchange(seen, ""), c.calls);
    }
}

}  // namespace
