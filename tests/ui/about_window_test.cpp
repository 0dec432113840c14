// The about box: its buttons, the updater started through the shell, its
// caption under the real pointer, and its look.
#include <gtest/gtest.h>

#include "app/globals.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/about_window.h"
#include "ui/skin/colors.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

// Sets program_dir for the life of the object.
class program_dir_as {
public:
    explicit program_dir_as(const wchar_t* dir) {
        copy_text(saved_, program_dir);
        copy_text(program_dir, dir);
    }
    ~program_dir_as() { copy_text(program_dir, saved_); }

private:
    wchar_t saved_[MAX_PATH];
};

int show_about(const std::function<void(HWND)>& act) {
    return drive_modal([] {
        about_window_c about;
        return about.run_modal(nullptr);
    }, act);
}

}  // namespace

TEST(AboutBox, UpdaterPathHasOneSeparatorBetweenParts) {
    EXPECT_EQ(updater_path(L"C:\\Program Files\\Quillmark\\"),
              L"C:\\Program Files\\Quillmark\\update\\update.exe");
    EXPECT_EQ(updater_path(L"C:\\Quillmark"), L"C:\\Quillmark\\update\\update.exe");
    std::wstring too_long(MAX_PATH - 5, L'a');
    EXPECT_EQ(updater_path(too_long.c_str()), L"");
}

TEST(AboutBox, CheckButtonStartsTheUpdaterAndCloses) {
    program_dir_as dir(L"C:\\Quillmark\\");
    recording_shell shell;
    int result = show_about([](HWND dialog) {
        SendMessageW(GetDlgItem(dialog, 1), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(shell.calls().size(), 1u);
    EXPECT_EQ(shell.calls()[0].what, L"quiet program");
    EXPECT_EQ(shell.calls()[0].target, L"C:\\Quillmark\\update\\update.exe");
    EXPECT_EQ(shell.calls()[0].parameters, L"");
}

TEST(AboutBox, CloseButtonsStartNothing) {
    recording_shell shell;
    EXPECT_EQ(show_about([](HWND dialog) { SendMessageW(GetDlgItem(dialog, 2), BM_CLICK, 0, 0); }),
              2);
    EXPECT_EQ(show_about([](HWND dialog) {
                  RECT r{};
                  GetWindowRect(dialog, &r);
                  POINT p{r.right - GetSystemMetrics(SM_CXDLGFRAME) - 15,
                          r.top + GetSystemMetrics(SM_CYDLGFRAME) + 10};
                  SendMessageW(dialog, WM_NCLBUTTONDOWN, HTCAPTION, screen_lparam(p));
                  SendMessageW(dialog, WM_NCLBUTTONUP, HTCAPTION, screen_lparam(p));
              }),
              0);
    EXPECT_TRUE(shell.calls().empty());
}

TEST(AboutBox, LayoutAndLook) {
    show_about([](HWND dialog) {
        RECT window{};
        GetWindowRect(dialog, &window);
        EXPECT_EQ(window.right - window.left, ABOUT_BOX_WIDTH);
        EXPECT_EQ(window.bottom - window.top, ABOUT_BOX_HEIGHT);
        for (int id : {1, 2}) {
            RECT r{};
            GetWindowRect(GetDlgItem(dialog, id), &r);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
            EXPECT_EQ(r.left, 340);
            EXPECT_EQ(r.top, id == 1 ? 210 : 250);
            EXPECT_EQ(r.right - r.left, 130);
            EXPECT_EQ(r.bottom - r.top, 24);
        }
        picture shot = capture_window(dialog);
        save_screenshot(shot, L"about_box");
        POINT c = client_origin_in_window(dialog);
        EXPECT_EQ(c.y, ABOUT_BOX_CAPTION + GetSystemMetrics(SM_CYDLGFRAME));
        EXPECT_EQ(shot.at(0, 0), SKIN_FRAME_LINE);
        EXPECT_EQ(shot.at(300, 20), SKIN_CAPTION);
        // The picture and the product name in the caption.
        EXPECT_TRUE(shows_bitmap(shot, 20, 30, IDB_ABOUT_PICTURE, {IDB_ABOUT_PICTURE}, {SKIN_CAPTION}));
        EXPECT_TRUE(shot.contains({90, 49, 300, 85}, RGB(255, 255, 255)));
        // The separator just above the client area.
        EXPECT_EQ(shot.at(200, 99), resource_picture(IDB_ABOUT_SEPARATOR).at(200 % 460, 1));
        // Client: blue with a white panel holding the black build text.
        EXPECT_EQ(shot.at(c.x + 5, c.y + 200), SKIN_CAPTION);
        EXPECT_EQ(shot.at(c.x + 16, c.y + 86), RGB(255, 255, 255));
        EXPECT_TRUE(shot.contains({c.x + 20, c.y + 95, c.x + 465, c.y + 175}, RGB(0, 0, 0)));
        EXPECT_TRUE(shot.contains({c.x + 15, c.y + 5, c.x + 300, c.y + 20}, RGB(255, 255, 255)));
        SendMessageW(GetDlgItem(dialog, 2), BM_CLICK, 0, 0);
    });
}

TEST(AboutBox, RealPointerDragsTheTallCaptionAndCloses) {
    pointer_lock pointer;
    recording_shell shell;
    int result = show_about([](HWND dialog) {
        SetWindowPos(dialog, HWND_TOP, 30, 10, 0, 0, SWP_NOSIZE);
        RECT r{};
        GetWindowRect(dialog, &r);
        const int frame = GetSystemMetrics(SM_CXDLGFRAME);
        // Below the system's caption height: over the picture, the name and
        // the bare caption; the close button.
        POINT picture{r.left + 50, r.top + 60};
        POINT name{r.left + 150, r.top + 65};
        POINT bare{r.left + 420, r.top + 70};
        POINT close{r.right - frame - 15, r.top + GetSystemMetrics(SM_CYDLGFRAME) + 10};
        for (POINT p : {picture, name, bare, close}) EXPECT_EQ(hit_code_at(dialog, p), HTCAPTION);
        POINT client{0, 0};
        ClientToScreen(dialog, &client);
        EXPECT_EQ(hit_code_at(dialog, POINT{client.x + 5, client.y + 5}), HTCLIENT);

        EXPECT_TRUE(drag_window(dialog, bare, 30, 20, "drag the about box"));
        POINT new_close{close.x + 30, close.y + 20};
        drive_pointer(pointer_click(new_close), [&] { return !IsWindowVisible(dialog); },
                      "close the about box");
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(shell.calls().empty());
}
