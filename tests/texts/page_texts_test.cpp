// The home and scan pages as drawn, in a window of the main window's smallest
// client size: the weekly-scan line stays left of the sidebar in every
// language, and pictures of the pages and the close-to-tray box are saved in
// English, Arabic and Japanese (build tree, screenshots folder).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/language.h"
#include "app/settings.h"
#include "devices/system_info.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "texts/text_test_support.h"
#include "ui/demo_shots.h"
#include "ui/home_window.h"
#include "ui/message_window.h"
#include "ui/scan_flow.h"
#include "ui/scan_window.h"
#include "ui/skin/image.h"
#include "ui/text_boxes.h"

namespace {

const wchar_t shipped_file[] = QM_PROGRAM_DIR_W L"\\language.ini";

// A borderless top-level window as large as a page, to hold the pages.
class page_host {
public:
    explicit page_host(SIZE size) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"Quillmark.TextsHost";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"texts", WS_POPUP | WS_VISIBLE, 0, 0, size.cx,
                                 size.cy, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~page_host() { DestroyWindow(window); }
    HWND window = nullptr;
};

// What `page` shows, read back from its window.
std::vector<uint32_t> capture_page(HWND page, SIZE size) {
    RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    text_canvas canvas(size.cx, size.cy);
    HDC dc = GetDC(page);
    BitBlt(canvas.dc(), 0, 0, size.cx, size.cy, dc, 0, 0, SRCCOPY);
    ReleaseDC(page, dc);
    return canvas.pixels();
}

// The smallest rectangle holding every pixel where the pictures differ.
RECT difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, SIZE size) {
    RECT r{size.cx, size.cy, -1, -1};
    for (int y = 0; y < size.cy; ++y)
        for (int x = 0; x < size.cx; ++x) {
            const size_t i = static_cast<size_t>(y) * size.cx + x;
            if (a[i] == b[i]) continue;
            r.left = std::min<LONG>(r.left, x);
            r.top = std::min<LONG>(r.top, y);
            r.right = std::max<LONG>(r.right, x + 1);
            r.bottom = std::max<LONG>(r.bottom, y + 1);
        }
    return r;
}

void load(const wchar_t* language) {
    reset_language_table();
    ASSERT_EQ(load_language_file(shipped_file, language, true), 0);
}

// The picture of the open message box is saved under this name.
std::wstring box_shot_name;

BOOL CALLBACK find_visible_dialog(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (!IsWindowVisible(window) || lstrcmpW(name, L"#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Timer: once this thread's message box is shown, saves its picture and
// closes it with its button.
void CALLBACK shoot_and_close_box(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_visible_dialog, reinterpret_cast<LPARAM>(&box));
    if (!box) return;
    KillTimer(nullptr, id);
    save_demo_shot(box, box_shot_name.c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

class PageTexts : public ::testing::Test {
protected:
    void SetUp() override {
        create_fonts();
        size_ = smallest_page_size();
        saved_info_ = machine_info;
        machine_info.model = L"Contoso Q100 Desktop";
        machine_info.os = L"Windows 7 Professional 7601 Service Pack 1";
        machine_info.cpu = L"Intel(R) Core(TM) i5-3470 CPU @ 3.20GHz";
        machine_info.memory = L"8.00 GB";
        machine_info.display = L"NVIDIA GeForce GT 640";
        machine_info.sound = L"Realtek High Definition Audio";
        machine_info.storage = L"ST1000DM003-1CH162";
        machine_info.collected = true;
        std::wstring folder = QM_BINARY_DIR_W L"\\screenshots";
        CreateDirectoryW(folder.c_str(), nullptr);
        SetEnvironmentVariableW(L"QUILLMARK_DEMO_SHOTS", folder.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"QUILLMARK_DEMO_SHOTS", nullptr);
        machine_info = saved_info_;
        reset_language_table();
    }
    SIZE size_{};
    machine_info_record saved_info_;
};

TEST_F(PageTexts, TheWeeklyScanLineStaysInItsBoxLeftOfTheSidebar) {
    page_host host(size_);
    ASSERT_NE(host.window, nullptr);
    home_window_c home;
    HWND page = home.create(host.window);
    ASSERT_NE(page, nullptr);
    image_c bottom_picture;
    for (DWORD number = 1; number <= 11; ++number) {
        const std::wstring language = installer_language_name(number);
        SCOPED_TRACE(wide_to_utf8(language));
        load(language.c_str());
        ASSERT_TRUE(bottom_picture.load(resource_module(), home_images().banner));
        const int small_top = size_.cy - bottom_picture.height() - 10 - 25;
        const RECT box = home_auto_scan_box(size_.cx, small_top);

        // The line's pixels: the page with the text, less the page without.
        const std::wstring text = text_for("home_tarnwick_automatically");
        const std::vector<uint32_t> with_text = capture_page(page, size_);
        language_table["home_tarnwick_automatically"] = L"";
        const std::vector<uint32_t> without = capture_page(page, size_);
        language_table["home_tarnwick_automatically"] = text;
        const RECT drawn = difference(with_text, without, size_);

        ASSERT_GT(drawn.right, drawn.left) << "the line is not drawn";
        EXPECT_GE(drawn.left, box.left);
        EXPECT_LE(drawn.right, box.right) << "runs " << drawn.right - box.right << " px past its box";
        EXPECT_LE(drawn.right, size_.cx - SIDEBAR_WIDTH);
        EXPECT_GE(drawn.top, box.top);
        EXPECT_LE(drawn.bottom, box.bottom) << "cut at the bottom picture";
    }
}

TEST_F(PageTexts, SidebarRowsAppearOnceTheSystemInformationIsCollected) {
    page_host host(size_);
    ASSERT_NE(host.window, nullptr);
    home_window_c home;
    HWND page = home.create(host.window);
    ASSERT_NE(page, nullptr);
    load(L"English");
    const std::vector<uint32_t> with_rows = capture_page(page, size_);
    machine_info.collected = false;
    const std::vector<uint32_t> waiting = capture_page(page, size_);
    // Neither labels nor values while it is collected.
    machine_info.model = L"Another model entirely";
    EXPECT_TRUE(capture_page(page, size_) == waiting);
    const RECT rows = difference(with_rows, waiting, size_);
    ASSERT_GT(rows.bottom, rows.top) << "the rows are not drawn";
    EXPECT_GE(rows.left, size_.cx - SIDEBAR_WIDTH);
    EXPECT_GE(rows.top, 100);
}

// Screen pictures for a person to look at; a window that cannot be shown on
// this display saves nothing and fails nothing.
TEST_F(PageTexts, PicturesOfThePagesAndTheCloseToTrayBox) {
    struct shot {
        const wchar_t* language;
        const wchar_t* code;
    };
    for (shot s : {shot{L"English", L"en"}, shot{L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", L"ar"},
                   shot{L"\u65e5\u672c\u8a9e", L"jp"}}) {
        load(s.language);
        page_host host(size_);
        ASSERT_NE(host.window, nullptr);
        {
            home_window_c home;
            ASSERT_NE(home.create(host.window), nullptr);
            save_demo_shot(host.window, (std::wstring(L"texts_home_") + s.code + L".png").c_str());
        }
        {
            scan_window_c scan;
            HWND page = scan.create(host.window);
            ASSERT_NE(page, nullptr);
            scan.scan_phase = 2;
            scan.scan_start_time = now_seconds() - 75;
            scan.progress.total = 120;
            scan.progress.index = 80;
            set_current_name(scan.progress, L"Realtek High Definition Audio");
            SendMessageW(page, WM_SIZE, 0, MAKELPARAM(size_.cx, size_.cy));
            ShowWindow(page, SW_SHOW);
            save_demo_shot(host.window, (std::wstring(L"texts_scan_") + s.code + L".png").c_str());
        }
        box_shot_name = std::wstring(L"texts_tray_warning_") + s.code + L".png";
        UINT_PTR timer = SetTimer(nullptr, 0, 300, shoot_and_close_box);
        EXPECT_EQ(show_message(host.window, text_for("system_tray_warning").c_str(), 0), 1);
        KillTimer(nullptr, timer);
    }
}

}  // namespace
