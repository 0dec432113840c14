// The main window, the home and scan pages and the scan flow, driven with
// messages, mouse input in this process and the real pointer. Needs a
// display.
// winsock2.h (through the download sessions' transfer header) must come
// before windows.h.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "devices/device_store.h"
#include "downloads/download_session.h"
#include "install/zip_reader.h"
#include "common/recording_shell.h"
#include "common/reference_service.h"
#include "common/scratch_folder.h"
#include "install/install.h"
#include "platform/machine_profile.h"
#include "platform/profile_device_source.h"
#include "platform/registry_root.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "service/scan_request.h"
#include "service/scan_response.h"
#include "service/update_client.h"
#include "ui/download_panel.h"
#include "resources/resource.h"
#include "ui/main_window.h"
#include "ui/messages.h"
#include "ui/prompt.h"
#include "ui/skin/fonts.h"
#include "ui/skin/window.h"
#include "ui/real_pointer.h"
#include "ui/scan_flow.h"

namespace {

struct shown_box {
    std::wstring text;
    unsigned kind;
};
std::vector<shown_box> boxes;
std::vector<int> answers;  // given in order; 2 (Cancel / No) when none is left

int answer_box(HWND, const wchar_t* text, unsigned kind) {
    boxes.push_back({text ? text : L"", kind});
    if (answers.empty()) return 2;
    int a = answers.front();
    answers.erase(answers.begin());
    return a;
}

// The web pages a recording shell was asked to open.
std::vector<std::wstring> pages_opened(const recording_shell& shell) {
    std::vector<std::wstring> pages;
    for (const recording_shell::call& c : shell.calls())
        if (c.what == L"page") pages.push_back(c.target);
    return pages;
}

// The fake workers count their runs and answer as told.
int enumerations = 0;
int enumeration_result = 0;
int queries = 0;
std::vector<int> query_errors;  // last_error of each failing query; success when none is left
int fake_status = 0;
const char* fake_error_text = "";

int32_t fake_enumeration(void* context) {
    ++enumerations;
    auto* progress = static_cast<scan_progress*>(context);
    progress->total = 4;
    progress->index = 4;
    if (enumeration_result != 0) last_error = 17;
    return enumeration_result;
}

int32_t fake_query(void* context) {
    ++queries;
    if (query_errors.empty()) return 0;
    auto* params = static_cast<scan_query_params*>(context);
    params->http_status = fake_status;
    std::strncpy(params->error_text, fake_error_text, sizeof(params->error_text) - 1);
    last_error = query_errors.front();
    query_errors.erase(query_errors.begin());
    return -1;
}

// The enumeration of the end-to-end test: the application's store filled
// from a machine profile, as the program does when QUILLMARK_MACHINE_PROFILE
// names one.
device_source* profile_source = nullptr;
int32_t profile_enumeration(void* context) {
    ++enumerations;
    return enumerate_devices(*app_device_store, *static_cast<scan_progress*>(context),
                             *profile_source)
               ? 0
               : -1;
}

// Dispatches this thread's messages until `done` holds (or 60 s have gone,
// which fails the test).
template <class F>
bool pump_until(F done) {
    for (int i = 0; i < 6000; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        Sleep(10);
    }
    ADD_FAILURE() << "the window did not get there";
    return false;
}

// Closes the first pop-up menu of this thread that opens, noting what was in
// the foreground meanwhile. A thread timer: a menu runs a loop of its own.
struct menu_watch {
    bool seen = false;
    HWND foreground = nullptr;
};
menu_watch watched_menu;

BOOL CALLBACK find_menu(HWND window, LPARAM out) {
    wchar_t name[16];
    if (!IsWindowVisible(window) || !GetClassNameW(window, name, 16) ||
        lstrcmpW(name, L"#32768") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
}

void CALLBACK close_menu_tick(HWND, UINT, UINT_PTR, DWORD) {
    HWND menu = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_menu, reinterpret_cast<LPARAM>(&menu));
    if (!menu || watched_menu.seen) return;
    watched_menu.seen = true;
    watched_menu.foreground = GetForegroundWindow();
    EndMenu();
}

class menu_closer {
public:
    menu_closer() {
        watched_menu = menu_watch{};
        timer_ = SetTimer(nullptr, 0, 50, close_menu_tick);
    }
    ~menu_closer() { KillTimer(nullptr, timer_); }
    menu_closer(const menu_closer&) = delete;
    menu_closer& operator=(const menu_closer&) = delete;

private:
    UINT_PTR timer_;
};

class MainWindow : public ::testing::Test {
protected:
    // The window comes to the front: not while another test drives the
    // pointer.
    pointer_lock pointer_;

    void SetUp() override {
        module_ = LoadLibraryExW(QM_PROGRAM_DIR_W L"\\quillmark.exe", nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr);
        set_resource_module(module_);
        create_fonts();
        ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
        wchar_t key[64];
        _snwprintf(key, 64, L"Software\\QuillmarkTests\\ui-%lu", GetCurrentProcessId());
        key[63] = 0;
        key_path_ = key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &root_, nullptr),
                  ERROR_SUCCESS);
        set_settings_root(root_);
        current_settings = app_settings{};
        ASSERT_TRUE(load_settings());
        set_prompt_function(answer_box);
        set_shell(&shell_);
        if (!app_device_store) app_device_store = create_device_store();
        boxes.clear();
        answers.clear();
        enumerations = queries = 0;
        enumeration_result = 0;
        query_errors.clear();
        fake_status = 0;
        fake_error_text = "";
        ASSERT_NE(window_.create(GetModuleHandleW(nullptr), L"Quillmark UI test", L"Quillmark.UiTest"),
                  nullptr);
        window_.scan().enumeration_job.function = fake_enumeration;
        window_.scan().query_job_record.function = fake_query;
        ShowWindow(window_.handle(), SW_SHOW);
    }
    void TearDown() override {
        if (window_.handle()) DestroyWindow(window_.handle());
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        set_prompt_function(nullptr);
        set_shell(nullptr);
        close_settings_key();
        set_settings_root(nullptr);
        RegCloseKey(root_);
        RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
        set_resource_module(nullptr);
        FreeLibrary(module_);
    }

    HWND page() const { return window_.current_page(); }
    void scan_to_the_end() {
        SendMessageW(window_.handle(), UM_START_SCAN, 0, 0);
        pump_until([&] { return window_.main_state() != main_state_scanning; });
    }
    void click_tab(int index) {
        // The tabs are the first five caption buttons; a click on the middle of one.
        RECT window{};
        GetWindowRect(window_.handle(), &window);
        const RECT& r = window_.caption_buttons()[index]->rect;
        LPARAM at = MAKELPARAM(window.left + (r.left + r.right) / 2, window.top + (r.top + r.bottom) / 2);
        SendMessageW(window_.handle(), WM_NCLBUTTONDOWN, HTCAPTION, at);
        SendMessageW(window_.handle(), WM_NCLBUTTONUP, HTCAPTION, at);
    }

    main_window_c window_;
    recording_shell shell_;
    HMODULE module_ = nullptr;
    HKEY root_ = nullptr;
    std::wstring key_path_;
};

TEST_F(MainWindow, ScanRunsOnBothWorkersAndShowsTheResults) {
    EXPECT_EQ(page(), window_.home().handle());
    EXPECT_EQ(window_.main_state(), main_state_idle);
    // Before a scan the download tab only explains itself.
    click_tab(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text_for("home_download_msg"));
    EXPECT_EQ(boxes[0].kind, 1u);
    EXPECT_EQ(page(), window_.home().handle());

    SendMessageW(window_.handle(), UM_START_SCAN, 0, 0);
    EXPECT_EQ(window_.main_state(), main_state_scanning);
    EXPECT_EQ(page(), window_.scan().handle());
    // The Home tab during a scan leads back to the scan.
    click_tab(0);
    EXPECT_EQ(page(), window_.scan().handle());

    pump_until([&] { return window_.main_state() != main_state_scanning; });
    EXPECT_EQ(window_.main_state(), main_state_results);
    EXPECT_EQ(enumerations, 1);
    EXPECT_EQ(queries, 1);
    EXPECT_EQ(page(), window_.download().handle());
    EXPECT_FALSE(window_.scan().busy());
    // Now the Home tab shows the home page, and the tabs switch pages.
    click_tab(0);
    EXPECT_EQ(page(), window_.home().handle());
    click_tab(2);
    EXPECT_EQ(page(), window_.backup().handle());
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(MainWindow, FailedEnumerationReportsAndReturnsHome) {
    enumeration_result = -1;
    scan_to_the_end();
    EXPECT_EQ(window_.main_state(), main_state_idle);
    EXPECT_EQ(queries, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Scan Devices Error");
    EXPECT_EQ(boxes[0].kind, 2u);
    pump_until([&] { return page() == window_.home().handle(); });
    // The failed scan is over: Home stays on the home page.
    click_tab(0);
    EXPECT_EQ(page(), window_.home().handle());
}

TEST_F(MainWindow, EachQueryErrorShowsItsTextWithRetryAndCancel) {
    struct expected {
        int code;
        int status;
        const char* error_text;
        std::wstring text;  // empty: no box
    } cases[] = {
        {3, 0, "", text_for("error_network_timeout")},
        {7, 0, "", text_for("error_internal_error")},
        {24, 0, "", text_for("error_internal_error")},
        {21, 0, "", text_for("error_invalid_date")},
        {20, 503, "", L"The update service cannot be reached (HTTP 503). Check your connection."},
        {20, 500, "Server busy", L"Server busy"},
        {99, 0, "", L""},
    };
    for (const expected& c : cases) {
        SCOPED_TRACE(c.code);
        boxes.clear();
        query_errors = {c.code};
        fake_status = c.status;
        fake_error_text = c.error_text;
        answers = {2};  // Cancel
        scan_to_the_end();
        pump_until([&] { return page() == window_.home().handle(); });
        EXPECT_EQ(window_.main_state(), main_state_idle);
        if (c.text.empty()) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.text);
            EXPECT_EQ(boxes[0].kind, 4u);
        }
    }
}

TEST_F(MainWindow, RetryStartsAgainWithTheEnumeration) {
    // Retry after each of two failures.
    query_errors = {3, 3};
    answers = {1, 1};
    SendMessageW(window_.handle(), UM_START_SCAN, 0, 0);
    pump_until([&] { return window_.main_state() == main_state_results; });
    EXPECT_EQ(enumerations, 3);
    EXPECT_EQ(queries, 3);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(MainWindow, OnlyRetryStartsAgain) {
    // A box that could not be shown (-1) or was closed (0 for information
    // boxes) gives the scan up like Cancel.
    for (int answer : {-1, 0, 2}) {
        enumerations = queries = 0;
        boxes.clear();
        query_errors = {3};
        answers = {answer};
        SendMessageW(window_.handle(), UM_START_SCAN, 0, 0);
        pump_until([&] { return window_.main_state() != main_state_scanning; });
        EXPECT_EQ(enumerations, 1) << answer;
        EXPECT_EQ(boxes.size(), 1u) << answer;
        EXPECT_EQ(page(), window_.home().handle()) << answer;
    }
}

TEST_F(MainWindow, CloseToTrayWarnsOnceSavesAndArmsTheAutomaticScan) {
    ASSERT_EQ(current_settings.close_to_tray, 1u);
    SendMessageW(window_.handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window_.handle()));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text_for("system_tray_warning"));
    EXPECT_EQ(boxes[0].kind, 0u);
    EXPECT_EQ(current_settings.close_to_tray, 2u);
    DWORD stored = 0, size = sizeof(stored);
    EXPECT_EQ(RegGetValueW(root_, L"SOFTWARE\\Vantorel", L"close_to_tray", RRF_RT_REG_DWORD,
                           nullptr, &stored, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(stored, 2u);

    // The tray icon's left click shows the window again, and hides it.
    const UINT tray = window_.tray_message();
    SendMessageW(window_.handle(), tray, TRAY_ICON_ID, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(window_.handle()));
    SendMessageW(window_.handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window_.handle()));
    EXPECT_EQ(boxes.size(), 1u);  // the second close is silent

    // The automatic scan's tick starts a scan and counts as a notified scan.
    SendMessageW(window_.handle(), WM_TIMER, AUTO_SCAN_TIMER_ID, 0);
    EXPECT_EQ(window_.notify_stage(), 1);
    EXPECT_EQ(window_.main_state(), main_state_scanning);
    pump_until([&] { return window_.main_state() == main_state_results; });
    EXPECT_EQ(window_.notify_stage(), 2);
    // A tick with results present changes nothing.
    SendMessageW(window_.handle(), WM_TIMER, AUTO_SCAN_TIMER_ID, 0);
    EXPECT_EQ(enumerations, 1);
    SendMessageW(window_.handle(), tray, TRAY_ICON_ID, WM_LBUTTONUP);
    EXPECT_EQ(window_.notify_stage(), 3);
}

TEST_F(MainWindow, QuittingWhileDownloadsRunOrWaitAsksFirst) {
    reference_service* service = reference_service::get();
    ASSERT_TRUE(service && service->reset() && service->set_faults(R"({"1": {"slow_body": 1}})"));
    scratch_folder scratch;
    const std::wstring saved_folder = current_settings.session_download_path;
    copy_text(current_settings.session_download_path, scratch.path());
    ASSERT_TRUE(write_file_bytes(service->extra_packages() + L"quit.zip", std::string(100000, 'q')));
    // Four transfers run, the fifth waits for one of them.
    for (int i = 0; i <= download_workers_max; ++i)
        ASSERT_TRUE(get_download_session((service->mirror_url(1) + "packages/quit.zip?" + std::to_string(i)).c_str(), 100000)->start());
    ASSERT_TRUE(any_downloading());
    const HWND window = window_.handle();

    // No keeps the program running, and so does a box closed by its X (2).
    answers = {2};
    SendMessageW(window, WM_COMMAND, ID_MENU_EXIT, 0);
    EXPECT_TRUE(IsWindow(window));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text_for("quit_confirm"));
    EXPECT_EQ(boxes[0].kind, 3u);

    answers = {1};
    SendMessageW(window, WM_COMMAND, ID_MENU_EXIT, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(boxes.size(), 2u);

    // Quitting stops the workers and waits for them.
    clear_download_sessions();
    EXPECT_FALSE(any_downloading());
    copy_text(current_settings.session_download_path, saved_folder);
    ASSERT_TRUE(service->reset());
}

HWND exit_target = nullptr;
// The tray menu's Exit, chosen inside the open box's message loop.
void CALLBACK exit_from_tray(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    SendMessageW(exit_target, WM_COMMAND, ID_MENU_EXIT, 0);
}

TEST_F(MainWindow, ExitWhileABoxIsOpenEndsTheBoxAsNoThenQuits) {
    exit_target = window_.handle();
    set_prompt_function(nullptr);  // a real box
    SetTimer(nullptr, 0, 200, exit_from_tray);
    const int answer = prompt_user(exit_target, text_for("remove_confirm").c_str(), 3);
    set_prompt_function(answer_box);
    EXPECT_EQ(answer, 2);
    // The asker went on with No while the window lived; then the exit came.
    EXPECT_TRUE(IsWindow(exit_target));
    EXPECT_TRUE(pump_until([] { return !IsWindow(exit_target); }));
}

TEST_F(MainWindow, QuittingWhileAnInstallationRunsAsksAndStopsTheUnpacking) {
    ASSERT_TRUE(claim_package(L"C:\\quit-test\\drv.zip"));
    const HWND window = window_.handle();
    answers = {2, 1};
    SendMessageW(window, WM_COMMAND, ID_MENU_EXIT, 0);
    EXPECT_TRUE(IsWindow(window));
    SendMessageW(window, WM_COMMAND, ID_MENU_EXIT, 0);
    EXPECT_FALSE(IsWindow(window));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, text_for("quit_confirm_install"));
    // Once quitting, no unpack starts: none would be cut short.
    zip_reader reader;
    EXPECT_EQ(unpack_into_fresh_folder(reader, L"C:\\quit-test\\drv"), UNPACK_STOPPED);
    resume_unpacking();
    release_package(L"C:\\quit-test\\drv.zip");
}

TEST_F(MainWindow, StartButtonNeedsPressAndReleaseInside) {
    HWND home = window_.home().handle();
    RECT button = window_.home().start_button_rect();
    LPARAM inside = MAKELPARAM((button.left + button.right) / 2, (button.top + button.bottom) / 2);
    LPARAM outside = MAKELPARAM(button.left - 5, button.top - 5);
    SendMessageW(home, WM_LBUTTONDOWN, MK_LBUTTON, outside);
    SendMessageW(home, WM_LBUTTONUP, 0, inside);
    EXPECT_EQ(window_.main_state(), main_state_idle);

    SendMessageW(home, WM_MOUSEMOVE, 0, inside);
    EXPECT_EQ(window_.home().button_state(), 1);
    SendMessageW(home, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    EXPECT_EQ(window_.home().button_state(), 2);
    SendMessageW(home, WM_LBUTTONUP, 0, inside);
    EXPECT_EQ(window_.main_state(), main_state_scanning);
    pump_until([&] { return window_.main_state() == main_state_results; });
}

TEST_F(MainWindow, LogoOpensTheProductPageAndHandOverScansOnRequest) {
    // The logo is the last caption button.
    RECT window{};
    GetWindowRect(window_.handle(), &window);
    const RECT& r = window_.caption_buttons().back()->rect;
    LPARAM at = MAKELPARAM(window.right - (r.left + r.right) / 2, window.top + (r.top + r.bottom) / 2);
    SendMessageW(window_.handle(), WM_NCLBUTTONDOWN, HTCAPTION, at);
    SendMessageW(window_.handle(), WM_NCLBUTTONUP, HTCAPTION, at);
    ASSERT_EQ(pages_opened(shell_).size(), 1u);
    EXPECT_EQ(pages_opened(shell_)[0], product_page_address());

    ShowWindow(window_.handle(), SW_HIDE);
    SendMessageW(window_.handle(), UM_BRING_TO_FRONT, 0, 0);
    EXPECT_TRUE(IsWindowVisible(window_.handle()));
    EXPECT_EQ(window_.main_state(), main_state_idle);
    SendMessageW(window_.handle(), UM_BRING_TO_FRONT, 1, 0);
    EXPECT_EQ(window_.main_state(), main_state_scanning);
    // While the scan runs another request starts nothing new.
    SendMessageW(window_.handle(), UM_BRING_TO_FRONT, 1, 0);
    pump_until([&] { return window_.main_state() == main_state_results; });
    EXPECT_EQ(enumerations, 1);
}

TEST_F(MainWindow, TrayClicksRestoreAMinimisedWindowAndShowingStopsTheAutomaticScan) {
    HWND w = window_.handle();
    const UINT tray = window_.tray_message();
    // Closed to the tray: the automatic scan is armed; shown again, it is not.
    SendMessageW(w, WM_CLOSE, 0, 0);
    ASSERT_FALSE(IsWindowVisible(w));
    SendMessageW(w, tray, TRAY_ICON_ID, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_FALSE(KillTimer(w, AUTO_SCAN_TIMER_ID)) << "the automatic scan is still armed";
    SendMessageW(w, WM_CLOSE, 0, 0);
    SendMessageW(w, UM_BRING_TO_FRONT, 0, 0);
    EXPECT_FALSE(KillTimer(w, AUTO_SCAN_TIMER_ID)) << "armed after the hand-over";

    // A minimised window comes back restored, and the next click hides it.
    ShowWindow(w, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(w));
    SendMessageW(w, tray, TRAY_ICON_ID, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_FALSE(IsIconic(w));
    SendMessageW(w, tray, TRAY_ICON_ID, WM_LBUTTONUP);
    EXPECT_FALSE(IsWindowVisible(w));
    // Minimised while hidden: it comes back restored as well.
    ShowWindow(w, SW_SHOWMINNOACTIVE);
    ShowWindow(w, SW_HIDE);
    SendMessageW(w, tray, TRAY_ICON_ID, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_FALSE(IsIconic(w));
    EXPECT_EQ(enumerations, 0);
}

// Explorer started again: the icon comes back, whether it was lost or kept.
TEST_F(MainWindow, TrayIconComesBackWhenTheTaskbarStartsAgain) {
    NOTIFYICONDATAW probe{};
    probe.cbSize = sizeof(probe), probe.hWnd = window_.handle(), probe.uID = TRAY_ICON_ID;
    auto in_tray = [&] { return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE; };
    window_.finish_start_up_later();
    ASSERT_TRUE(pump_until([&] { return window_.tray_icon_installed(); }));
    for (bool lost : {true, false}) {
        ASSERT_TRUE(!lost || (Shell_NotifyIconW(NIM_DELETE, &probe) && !in_tray()));
        SendMessageW(window_.handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        EXPECT_TRUE(in_tray() && window_.tray_icon_installed()) << lost;
    }
}

TEST_F(MainWindow, TrayMenuOpensWithTheWindowInTheForeground) {
    // Another window of the test has the foreground when the icon is clicked.
    WNDCLASSW other_class{};
    other_class.lpfnWndProc = DefWindowProcW;
    other_class.hInstance = GetModuleHandleW(nullptr);
    other_class.lpszClassName = L"Quillmark.UiTest.Other";
    RegisterClassW(&other_class);
    HWND other = CreateWindowExW(0, other_class.lpszClassName, L"other", WS_POPUP | WS_VISIBLE, 300,
                                 300, 100, 100, nullptr, nullptr, other_class.hInstance, nullptr);
    ASSERT_NE(other, nullptr);
    SetForegroundWindow(other);
    pump_until([&] { return GetForegroundWindow() == other; });

    {
        menu_closer closer;
        SendMessageW(window_.handle(), window_.tray_message(), TRAY_ICON_ID, WM_RBUTTONUP);
    }
    EXPECT_TRUE(watched_menu.seen);
    EXPECT_EQ(watched_menu.foreground, window_.handle());
    // The menu is gone and the window had its WM_NULL posted after it.
    MSG posted;
    EXPECT_TRUE(PeekMessageW(&posted, window_.handle(), WM_NULL, WM_NULL, PM_REMOVE));
    DestroyWindow(other);
}

TEST_F(MainWindow, RealPointerReachesTabsLogoCaptionButtonsAndTheBareCaption) {
    HWND w = window_.handle();
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    SetForegroundWindow(w);
    pump_until([&] { return true; });
    const auto& buttons = window_.caption_buttons();
    const int fy = window_.metrics().frame_x;
    // Screen points of the caption items: the tabs' rectangles are window
    // coordinates, the others' are measured from the right edge.
    auto tab_point = [&](std::size_t i) {
        RECT r{};
        GetWindowRect(w, &r);
        const RECT& b = buttons[i]->rect;
        return POINT{r.left + (b.left + b.right) / 2, r.top + (b.top + b.bottom) / 2 + 10};
    };
    auto right_point = [&](std::size_t i) {
        RECT r{};
        GetWindowRect(w, &r);
        const RECT& b = buttons[i]->rect;
        return POINT{r.right - (b.left + b.right) / 2, r.top + (b.top + b.bottom) / 2};
    };
    auto click = [&](POINT p, const char* what, const std::function<bool()>& done) {
        EXPECT_EQ(hit_code_at(w, p), HTCAPTION) << what;
        drive_pointer(pointer_click(p), done, what);
    };
    enum { HOME, DOWNLOAD, BACKUP, RESTORE, SETTINGS, CLOSE, MAXIMISE, MINIMISE, MENU, LOGO };

    // Hover over a tab.
    EXPECT_EQ(hit_code_at(w, tab_point(HOME)), HTCAPTION);
    drive_pointer(pointer_move(tab_point(HOME)), [&] { return buttons[HOME]->state == BUTTON_HOVER; },
                  "hover over the Home tab");

    // Before a scan the result tabs show their notices (the Settings tab
    // opens the settings dialog: tests/ui/config_window_test.cpp).
    click(tab_point(DOWNLOAD), "Download tab", [&] { return boxes.size() == 1; });
    click(tab_point(BACKUP), "Backup tab", [&] { return boxes.size() == 2; });
    click(tab_point(RESTORE), "Restore tab", [&] { return boxes.size() == 3; });
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, text_for("home_download_msg"));
    EXPECT_EQ(boxes[1].text, text_for("home_backup_msg"));
    EXPECT_EQ(boxes[2].text, text_for("home_restore_msg"));
    EXPECT_EQ(page(), window_.home().handle());

    // After a scan every tab switches to its page, Home included. The
    // restore page says that there are no backups yet.
    scan_to_the_end();
    ASSERT_EQ(page(), window_.download().handle());
    click(tab_point(HOME), "Home tab", [&] { return page() == window_.home().handle(); });
    click(tab_point(BACKUP), "Backup tab", [&] { return page() == window_.backup().handle(); });
    click(tab_point(RESTORE), "Restore tab", [&] { return page() == window_.restore().handle(); });
    click(tab_point(DOWNLOAD), "Download tab", [&] { return page() == window_.download().handle(); });
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[3].text, text_for("restore_no_backup"));

    click(right_point(LOGO), "logo", [&] { return pages_opened(shell_).size() == 1; });
    {
        menu_closer closer;
        click(right_point(MENU), "menu button", [&] { return watched_menu.seen; });
    }
    click(right_point(MAXIMISE), "maximise button", [&] { return IsZoomed(w) != FALSE; });
    click(right_point(MAXIMISE), "maximise button again", [&] { return !IsZoomed(w); });
    click(right_point(MINIMISE), "minimise button", [&] { return IsIconic(w) != FALSE; });
    ShowWindow(w, SW_RESTORE);
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    click(right_point(CLOSE), "close button", [&] { return !IsWindowVisible(w); });
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[4].text, text_for("system_tray_warning"));

    // Back from the tray: a drag on the bare caption, between the tabs and
    // the logo and below the system's caption height, moves the window.
    SendMessageW(w, window_.tray_message(), TRAY_ICON_ID, WM_LBUTTONUP);
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    RECT r{};
    GetWindowRect(w, &r);
    POINT bare{r.left + 520, r.top + fy + 60};
    EXPECT_EQ(hit_code_at(w, bare), HTCAPTION);
    EXPECT_TRUE(drag_window(w, bare, 40, 30, "drag the caption"));
    EXPECT_EQ(page(), window_.download().handle());
    EXPECT_EQ(pages_opened(shell_).size(), 1u);
}

void no_pause_for_the_job(uint32_t) {}

// The main job in the window: the example PC scanned against the reference
// update service, the download page filled, one package downloaded with the
// real pointer and then installed with a second click: our DPInst is started
// on the unpacked folder.
TEST_F(MainWindow, TheMainJobScanDownloadAndInstallFromTheWindow) {
    reference_service* service = reference_service::get();
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(service->reset());

    machine_profile profile;
    std::wstring error;
    ASSERT_TRUE(load_machine_profile(QM_SOURCE_DIR_W L"\\profiles\\example-pc.xml", profile, &error))
        << wide_to_utf8(error);
    profile_device_source source(&profile);
    profile_source = &source;
    window_.scan().enumeration_job.function = profile_enumeration;
    window_.scan().query_job_record.function = run_query;
    // The example PC's Windows, whatever runs the test.
    scan_query_params& query = window_.scan().query;
    query.os_code_name = "WIN764";
    query.os_version = 61;
    query.model = L"2349K3G";
    query.language_code = 437;

    // The program and download folder; whatever happens below, the
    // process-wide values go back as they were before it goes.
    scratch_folder scratch;
    const retry_pause_function previous_pause = set_retry_pause(no_pause_for_the_job);
    struct restore {
        update_client* client = app_update_client;
        wchar_t program[MAX_PATH] = {};
        retry_pause_function pause;
        ~restore() {
            if (app_update_client != client) release_update_client(app_update_client);
            app_update_client = client;
            profile_source = nullptr;
            copy_text(program_dir, std::wstring_view(program));
            set_retry_pause(pause);
            clear_download_sessions();
        }
    } restore_after{app_update_client, {}, previous_pause};
    copy_text(restore_after.program, std::wstring_view(program_dir));

    const std::wstring mirrors = utf8_to_wide(service->mirror_url(1) + ";" + service->mirror_url(2) +
                                              ";" + service->mirror_url(3));
    SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", mirrors.c_str());
    app_update_client = create_update_client(app_device_store);
    SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", nullptr);
    ASSERT_NE(app_update_client, nullptr);

    const std::wstring folder = scratch.path() + L"\\";
    copy_text(program_dir, folder);
    copy_text(current_settings.session_download_path, folder);

    // The scan, started as the home page's button starts it.
    SendMessageW(window_.handle(), UM_START_SCAN, 0, 0);
    pump_until([&] { return window_.main_state() != main_state_scanning; });
    ASSERT_EQ(window_.main_state(), main_state_results);
    EXPECT_TRUE(boxes.empty());
    download_window_c& page = window_.download();
    ASSERT_EQ(page.handle(), this->page());
    EXPECT_TRUE(IsWindowVisible(page.handle()));
    EXPECT_EQ(page.total_devices(), window_.scan().progress.total.load());
    EXPECT_GT(page.out_of_date(), 0);
    EXPECT_EQ(page.out_of_date() + page.counters().no_driver + page.counters().up_to_date(),
              page.counters().total_with_offers);
    ASSERT_EQ(page.list().panels().size(), page.groups().size());
    ASSERT_FALSE(page.groups().empty());

    // The row of the Realtek audio package (an INF package, no setup program).
    const std::string package = "realtek-hda-6.0.1.6873.zip";
    download_panel_c* row = nullptr;
    for (const auto& r : page.list().panels()) {
        const std::string link = r->group().link;
        if (link.size() > package.size() && link.compare(link.size() - package.size(), package.size(), package) == 0)
            row = r.get();
    }
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->group().not_update, 0);
    page.list().place_panels();
    SetWindowPos(window_.handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    SetForegroundWindow(window_.handle());
    pump_until([] { return true; });
    auto button_point = [&] {
        const RECT b = row->button_rect();
        POINT p{(b.left + b.right) / 2, (b.top + b.bottom) / 2};
        ClientToScreen(row->handle(), &p);
        return p;
    };
    // The row lies in the list's view.
    RECT view{};
    GetWindowRect(page.list().handle(), &view);
    ASSERT_TRUE(PtInRect(&view, button_point()));

    // Download: the exact bytes of the service's package land in the folder.
    ASSERT_TRUE(drive_pointer(pointer_click(button_point()),
                              [&] { return row->session().state() != DOWNLOAD_NOT_DOWNLOADED; },
                              "click Download"));
    pump_until([&] { return row->session().state() == DOWNLOAD_COMPLETE; });
    ASSERT_EQ(row->session().state(), DOWNLOAD_COMPLETE);
    const std::wstring final_path = row->session().final_path();
    EXPECT_EQ(final_path.rfind(folder, 0), 0u);
    EXPECT_TRUE(read_file_bytes(final_path) ==
                read_file_bytes(reference_service::sample_packages() + utf8_to_wide(package)));

    // Install: DPInst starts on the unpacked INF folder and, once it reports
    // a package installed, the link is recorded.
    shell_.answer_exit(L"DPInst64.exe", 0x00000001);
    shell_.answer_exit(L"DPInst32.exe", 0x00000001);
    ASSERT_TRUE(drive_pointer(pointer_move(POINT{button_point().x - 150, button_point().y}) +
                                  L" sleep 0.2 " + pointer_click(button_point()),
                              [&] { return row->request()->installing == 1 || !shell_.calls().empty(); },
                              "click Install"));
    pump_until([&] { return row->request()->installing == 0; });
    const std::vector<recording_shell::call> calls = shell_.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, L"program");
    install_environment environment = current_install_environment();
    EXPECT_EQ(calls[0].target, dpinst_program(environment));
    EXPECT_EQ(calls[0].target.rfind(folder, 0), 0u);
    const std::wstring unpack_folder = final_path.substr(0, final_path.size() - 4);
    EXPECT_EQ(calls[0].parameters, dpinst_arguments(unpack_folder + L"\\Win64", false));
    EXPECT_NE(GetFileAttributesW((unpack_folder + L"\\Win64\\HDXLV64.inf").c_str()),
              INVALID_FILE_ATTRIBUTES);
    const std::string installed_link = row->group().link;
    EXPECT_EQ(read_file_bytes(setup_dat_path()), installed_link + "\r\n");

    // Scanned again: the rows go as the scan starts (it rebuilds the devices
    // they show) and come back with the installed package no longer an update.
    const int out_of_date = page.out_of_date();
    SendMessageW(window_.handle(), UM_START_SCAN, 0, 0);
    EXPECT_TRUE(page.list().panels().empty());
    EXPECT_TRUE(page.groups().empty());
    pump_until([&] { return window_.main_state() != main_state_scanning; });
    ASSERT_EQ(window_.main_state(), main_state_results);
    EXPECT_EQ(page.out_of_date(), out_of_date - 1);
    bool found = false;
    for (const download_group& g : page.groups()) {
        if (installed_link != g.link) continue;
        found = true;
        EXPECT_EQ(g.not_update, 1);
    }
    EXPECT_TRUE(found);
}

// The windows directly inside `parent`.
int child_count(HWND parent) {
    int n = 0;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++n;
    return n;
}

// A main window as the program makes it, beside the fixture's (whose pages
// the fixture's set-up has made already).
struct fresh_main_window {
    main_window_c window;
    fresh_main_window() {
        window.create(GetModuleHandleW(nullptr), L"Quillmark UI test (start-up)",
                      L"Quillmark.UiTestStartUp");
    }
    HWND handle() const { return window.handle(); }
};

TEST_F(MainWindow, FirstFrameHasTheHomePageAloneAndTheRestFollows) {
    fresh_main_window fresh;
    const HWND w = fresh.handle();
    ASSERT_NE(w, nullptr);
    const int at_first = child_count(w);
    ShowWindow(w, SW_SHOW);
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    SetForegroundWindow(w);
    fresh.window.finish_start_up_later();
    EXPECT_EQ(fresh.window.current_page(), fresh.window.home().handle());
    EXPECT_FALSE(fresh.window.tray_icon_installed());
    // The home page answers the pointer before the other pages are made.
    const RECT button = fresh.window.home().start_button_rect();
    POINT centre{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
    ClientToScreen(fresh.window.home().handle(), &centre);
    drive_pointer(pointer_move(centre), [&] { return fresh.window.home().button_state() == 1; },
                  "hover over the start button");
    // Once the loop is idle the four other pages are there, hidden, and the
    // tray icon.
    pump_until([&] { return child_count(w) == at_first + 4; });
    EXPECT_EQ(child_count(w), at_first + 4);
    EXPECT_TRUE(fresh.window.tray_icon_installed());
    EXPECT_FALSE(IsWindowVisible(fresh.window.download().handle()));
    EXPECT_EQ(fresh.window.current_page(), fresh.window.home().handle());
    EXPECT_EQ(child_count(w), at_first + 4);  // asked for again: not made twice
}

TEST_F(MainWindow, ScanAskedForBeforeThePagesAreMadeShowsItsPage) {
    fresh_main_window fresh;
    ASSERT_NE(fresh.handle(), nullptr);
    ShowWindow(fresh.handle(), SW_SHOW);
    // As "--autoscan" or a second launch asks, before the loop has run.
    SendMessageW(fresh.handle(), UM_START_SCAN, 0, 0);
    EXPECT_EQ(fresh.window.main_state(), main_state_scanning);
    ASSERT_NE(fresh.window.current_page(), nullptr);
    EXPECT_EQ(fresh.window.current_page(), fresh.window.scan().handle());
    fresh.window.scan().enumeration_job.function = fake_enumeration;
    fresh.window.scan().query_job_record.function = fake_query;
    pump_until([&] { return fresh.window.main_state() == main_state_results; });
    EXPECT_EQ(fresh.window.current_page(), fresh.window.download().handle());
    EXPECT_EQ(enumerations, 1);
}

TEST_F(MainWindow, NoScanStartsUnderAnOpenMessageBox) {
    // A modal box disables the window while the row or page that opened it
    // waits for the answer.
    EnableWindow(window_.handle(), FALSE);
    SendMessageW(window_.handle(), UM_START_SCAN, 0, 0);
    SendMessageW(window_.handle(), UM_BRING_TO_FRONT, 1, 0);
    SendMessageW(window_.handle(), WM_TIMER, AUTO_SCAN_TIMER_ID, 0);
    EXPECT_EQ(window_.main_state(), main_state_idle);
    EXPECT_EQ(window_.notify_stage(), 0);
    EXPECT_EQ(page(), window_.home().handle());
    // Once it is closed, the next request scans.
    EnableWindow(window_.handle(), TRUE);
    SendMessageW(window_.handle(), UM_START_SCAN, 0, 0);
    EXPECT_EQ(window_.main_state(), main_state_scanning);
    pump_until([&] { return window_.main_state() == main_state_results; });
    EXPECT_EQ(enumerations, 1);
}

}  // namespace
