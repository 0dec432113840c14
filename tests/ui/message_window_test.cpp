// The skinned message box: each kind's buttons and results, the caption close
// button and the caption under the real pointer, the wrapped text and the
// skin's colours.
#include <gtest/gtest.h>

#include <string>

#include "app/language.h"
#include "resources/resource.h"
#include "ui/message_window.h"
#include "ui/skin/colors.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

const wchar_t* const SHORT_TEXT = L"Please scan your PC first.";
const wchar_t* const LONG_TEXT =
    L"Downloads are still running in the background and will stop when the program ends. "
    L"Quit anyway and lose what has been downloaded so far of every package?";

const std::vector<int> BUTTONS{IDB_MESSAGE_BUTTON_NORMAL, IDB_MESSAGE_BUTTON_HOVER,
                               IDB_MESSAGE_BUTTON_PRESSED};

struct button_view {
    bool visible = false;
    RECT rect{};  // client coordinates
    std::wstring text;
};

button_view view_button(HWND dialog, int id) {
    button_view v;
    HWND b = GetDlgItem(dialog, id);
    if (!b) return v;
    v.visible = IsWindowVisible(b) != FALSE;
    GetWindowRect(b, &v.rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&v.rect), 2);
    wchar_t text[64] = {};
    GetWindowTextW(b, text, 64);
    v.text = text;
    return v;
}

// Clicks the caption close button with non-client mouse messages.
void click_close_button(HWND dialog) {
    RECT r{};
    GetWindowRect(dialog, &r);
    int frame = GetSystemMetrics(SM_CXDLGFRAME);
    POINT p{r.right - frame - 15, r.top + GetSystemMetrics(SM_CYDLGFRAME) + 10};
    SendMessageW(dialog, WM_NCMOUSEMOVE, HTCAPTION, screen_lparam(p));
    SendMessageW(dialog, WM_NCLBUTTONDOWN, HTCAPTION, screen_lparam(p));
    SendMessageW(dialog, WM_NCLBUTTONUP, HTCAPTION, screen_lparam(p));
}

int show_and(unsigned kind, const wchar_t* text, const std::function<void(HWND)>& act) {
    return drive_modal([&] { return show_message(nullptr, text, kind); }, act);
}

}  // namespace

// Every kind: its buttons as shown, a screenshot, the result of each button
// and of the caption close button.
struct kind_case {
    unsigned kind;
    int symbol;  // 0: none
    const char* right_key;  // button 1, right-hand or only
    int right_x;
    const char* left_key;  // button 2, or null when hidden
};

class MessageWindowKind : public ::testing::TestWithParam<kind_case> {};

TEST_P(MessageWindowKind, ButtonsAndResults) {
    const kind_case k = GetParam();
    int result = show_and(k.kind, SHORT_TEXT, [&](HWND dialog) {
        RECT window{};
        GetWindowRect(dialog, &window);
        EXPECT_EQ(window.right - window.left, MESSAGE_BOX_WIDTH);
        EXPECT_EQ(window.bottom - window.top, MESSAGE_BOX_HEIGHT);
        button_view right = view_button(dialog, 1);
        EXPECT_TRUE(right.visible);
        EXPECT_EQ(right.rect.left, k.right_x);
        EXPECT_EQ(right.rect.top, MESSAGE_BOX_BUTTON_Y);
        EXPECT_EQ(right.rect.right - right.rect.left, k.kind == 5 ? 130 : 70);  // "Open folder" is wide
        EXPECT_EQ(right.rect.bottom - right.rect.top, 24);
        EXPECT_EQ(right.text, text_for(k.right_key));
        button_view left = view_button(dialog, 2);
        EXPECT_EQ(left.visible, k.left_key != nullptr);
        if (k.left_key) {
            EXPECT_EQ(left.rect.left, 50);
            EXPECT_EQ(left.rect.top, MESSAGE_BOX_BUTTON_Y);
            EXPECT_EQ(left.text, text_for(k.left_key));
        }
        picture shot = capture_window(dialog);
        POINT c = client_origin_in_window(dialog);
        if (k.symbol) {
            EXPECT_TRUE(shows_bitmap(shot, c.x + 15, c.y + 30, k.symbol, {k.symbol}, {SKIN_SIDEBAR}));
        } else {
            EXPECT_FALSE(shot.contains({c.x + 15, c.y + 30, c.x + 63, c.y + 78}, SKIN_MESSAGE_TEXT));
            EXPECT_EQ(shot.at(c.x + 39, c.y + 54), SKIN_SIDEBAR);
        }
        std::wstring name = L"message_box_kind" + std::to_wstring(k.kind);
        EXPECT_TRUE(save_screenshot(shot, name.c_str()));
        SendMessageW(GetDlgItem(dialog, 1), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, 1);

    if (k.left_key) {
        result = show_and(k.kind, SHORT_TEXT, [](HWND dialog) {
            SendMessageW(GetDlgItem(dialog, 2), BM_CLICK, 0, 0);
        });
        EXPECT_EQ(result, 2);
    }
    // The caption close button gives a question's negative answer (No,
    // Cancel), and 0 for a notice.
    EXPECT_EQ(show_and(k.kind, SHORT_TEXT, click_close_button), k.left_key ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MessageWindowKind,
                         ::testing::Values(
                             kind_case{0, IDB_SYMBOL_INFORMATION, "btn_ok", 115, nullptr},
                             kind_case{1, IDB_SYMBOL_WARNING, "btn_ok", 115, nullptr},
                             kind_case{2, IDB_SYMBOL_ERROR, "btn_ok", 115, nullptr},
                             kind_case{3, IDB_SYMBOL_QUESTION, "btn_yes", 180, "btn_no"},
                             kind_case{4, IDB_SYMBOL_ERROR, "btn_retry", 180, "btn_cancel"},
                             kind_case{5, IDB_SYMBOL_ERROR, "btn_open_folder", 85, nullptr},
                             kind_case{7, 0, "btn_ok", 115, nullptr}));

TEST(MessageWindow, PaintsTheSkin) {
    show_and(3, SHORT_TEXT, [](HWND dialog) {
        picture shot = capture_window(dialog);
        POINT c = client_origin_in_window(dialog);
        int frame = GetSystemMetrics(SM_CXDLGFRAME);
        EXPECT_EQ(c.y, MESSAGE_BOX_CAPTION + GetSystemMetrics(SM_CYDLGFRAME));
        EXPECT_EQ(shot.at(0, 0), SKIN_FRAME_LINE);
        EXPECT_EQ(shot.at(MESSAGE_BOX_WIDTH - 1, 100), SKIN_FRAME_LINE);
        EXPECT_EQ(shot.at(150, frame + 20), SKIN_CAPTION);  // caption band
        EXPECT_TRUE(shot.contains({10, 10, 120, 26}, SKIN_CAPTION_TEXT));  // "Quillmark"
        EXPECT_EQ(shot.at(c.x + 5, c.y + 5), SKIN_SIDEBAR);  // background
        EXPECT_EQ(shot.at(c.x + 5, c.y + 135), SKIN_CAPTION);  // button band
        EXPECT_EQ(shot.at(c.x + 200, c.y + 128), SKIN_SIDEBAR);
        // Buttons (the focused one shows the hover image) and the caption
        // close button come from their bitmaps.
        auto image_of = [&](int id) {
            return GetFocus() == GetDlgItem(dialog, id) ? IDB_MESSAGE_BUTTON_HOVER
                                                        : IDB_MESSAGE_BUTTON_NORMAL;
        };
        EXPECT_TRUE(shows_bitmap(shot, c.x + 50, c.y + 136, image_of(2), BUTTONS));
        EXPECT_TRUE(shows_bitmap(shot, c.x + 180, c.y + 136, image_of(1), BUTTONS));
        EXPECT_TRUE(shows_bitmap(shot, MESSAGE_BOX_WIDTH - frame - 31, GetSystemMetrics(SM_CYDLGFRAME),
                                 IDB_DIALOG_CLOSE_NORMAL,
                                 {IDB_DIALOG_CLOSE_NORMAL, IDB_DIALOG_CLOSE_HOVER,
                                  IDB_DIALOG_CLOSE_PRESSED}));
        // One line of text, vertically centred in 30 … 100.
        EXPECT_TRUE(shot.contains({c.x + 80, c.y + 50, c.x + 272, c.y + 80}, SKIN_MESSAGE_TEXT));
        EXPECT_FALSE(shot.contains({c.x + 80, c.y + 30, c.x + 272, c.y + 45}, SKIN_MESSAGE_TEXT));
        SendMessageW(GetDlgItem(dialog, 1), BM_CLICK, 0, 0);
    });
}

TEST(MessageWindow, LongTextWrapsAndStopsAboveTheButtonBand) {
    int result = show_and(0, LONG_TEXT, [](HWND dialog) {
        picture shot = capture_window(dialog);
        save_screenshot(shot, L"message_box_long_text");
        POINT c = client_origin_in_window(dialog);
        // Text from the top of the area on several lines…
        EXPECT_TRUE(shot.contains({c.x + 80, c.y + 30, c.x + 272, c.y + 45}, SKIN_MESSAGE_TEXT));
        EXPECT_TRUE(shot.contains({c.x + 80, c.y + 75, c.x + 272, c.y + 100}, SKIN_MESSAGE_TEXT));
        // …none right of the column or below y = 100.
        EXPECT_FALSE(shot.contains({c.x + 273, c.y + 30, c.x + 290, c.y + 130}, SKIN_MESSAGE_TEXT));
        EXPECT_FALSE(shot.contains({c.x + 80, c.y + 100, c.x + 272, c.y + 130}, SKIN_MESSAGE_TEXT));
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0);
    });
    EXPECT_EQ(result, 1);
}

TEST(MessageWindow, ButtonImagesFollowHoverAndPress) {
    show_and(3, SHORT_TEXT, [](HWND dialog) {
        // "No" without the focus: normal, then hover, then pushed.
        SetFocus(GetDlgItem(dialog, 1));
        HWND no = GetDlgItem(dialog, 2);
        POINT c = client_origin_in_window(dialog);
        auto no_shows = [&](int id) {
            return shows_bitmap(capture_window(dialog), c.x + 50, c.y + 136, id, BUTTONS);
        };
        EXPECT_TRUE(no_shows(IDB_MESSAGE_BUTTON_NORMAL));
        SendMessageW(no, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        EXPECT_TRUE(no_shows(IDB_MESSAGE_BUTTON_HOVER));
        SendMessageW(no, BM_SETSTATE, TRUE, 0);
        EXPECT_TRUE(no_shows(IDB_MESSAGE_BUTTON_PRESSED));
        SendMessageW(no, BM_SETSTATE, FALSE, 0);
        SendMessageW(no, WM_MOUSELEAVE, 0, 0);
        EXPECT_TRUE(no_shows(IDB_MESSAGE_BUTTON_NORMAL));
        SendMessageW(GetDlgItem(dialog, 1), BM_CLICK, 0, 0);
    });
}

TEST(MessageWindow, RealPointerDragsTheCaptionAndItsCloseButtonAnswers) {
    pointer_lock pointer;
    // A question closed with the caption button is answered No; a notice
    // gives 0. The whole 30-px caption drags the box.
    for (unsigned kind : {3u, 4u, 0u}) {
        SCOPED_TRACE(kind);
        int result = show_and(kind, SHORT_TEXT, [](HWND dialog) {
            SetWindowPos(dialog, HWND_TOP, 60, 20, 0, 0, SWP_NOSIZE);
            RECT r{};
            GetWindowRect(dialog, &r);
            const int frame_x = GetSystemMetrics(SM_CXDLGFRAME);
            const int frame_y = GetSystemMetrics(SM_CYDLGFRAME);
            POINT low{r.left + 150, r.top + frame_y + MESSAGE_BOX_CAPTION - 3};
            POINT title{r.left + 30, r.top + frame_y + 12};
            POINT close{r.right - frame_x - 15, r.top + frame_y + 10};
            for (POINT p : {low, title, close}) EXPECT_EQ(hit_code_at(dialog, p), HTCAPTION);
            EXPECT_EQ(hit_code_at(dialog, POINT{low.x, low.y + 5}), HTCLIENT);

            EXPECT_TRUE(drag_window(dialog, low, 25, 15, "drag the message box"));
            drive_pointer(pointer_click(POINT{close.x + 25, close.y + 15}),
                          [&] { return !IsWindowVisible(dialog); }, "close the message box");
        });
        EXPECT_EQ(result, kind == 0 ? 0 : 2);
    }
}

// The "Open folder" box has the wide button: it answers across its whole
// width under the real pointer, not only over the first 70 pixels.
TEST(MessageWindow, RealPointerClicksTheWideButtonNearItsRightEnd) {
    pointer_lock pointer;
    const int result = show_and(5, SHORT_TEXT, [](HWND dialog) {
        RECT button{};
        GetWindowRect(GetDlgItem(dialog, 1), &button);
        drive_pointer(pointer_click(POINT{button.right - 8, (button.top + button.bottom) / 2}),
                      [&] { return !IsWindowVisible(dialog); }, "click the right end of Open folder");
    });
    EXPECT_EQ(result, 1);
}
