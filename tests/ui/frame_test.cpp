// The skinned frame on a real top-level window laid out like the main
// window's caption: size of the non-client area, its paint, the caption
// buttons driven by non-client mouse messages and by the real pointer, and
// the hit test that lets the pointer reach the whole caption.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "ui/skin/colors.h"
#include "ui/skin/ui_window.h"
#include "ui/skin/window.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

class demo_frame_c : public window_base_c, public ui_window_c<demo_frame_c> {
public:
    demo_frame_c() : ui_window_c<demo_frame_c>(100) {}
    ~demo_frame_c() override {
        if (window_) DestroyWindow(window_);
    }

    HWND create() {
        register_class(L"QuillmarkTest.Frame", 0, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        HWND w = window_base_c::create(
            L"QuillmarkTest.Frame", 0,
            WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN,
            L"Quillmark", 40, 40, 800, 600, nullptr);
        if (w) ShowWindow(w, SW_SHOWNOACTIVATE);
        return w;
    }

    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override {
        static const message_entry<demo_frame_c> map[] = {
            {WM_CREATE, &demo_frame_c::on_create},
            {WM_SIZE, &demo_frame_c::on_size},
        };
        if (process_frame_message(window, message, wparam, lparam, result)) return true;
        return dispatch_message(this, map, message, wparam, lparam, result);
    }

    void on_close() { ++closes; }
    void on_maximise() { ++maximises; }
    void on_minimise() { ++minimises; }
    void on_menu() { ++menus; }
    void on_logo() { ++logos; }
    void on_home() { ++homes; }

    int closes = 0;
    int maximises = 0;
    int minimises = 0;
    int menus = 0;
    int logos = 0;
    int homes = 0;

private:
    LRESULT on_create(UINT, WPARAM, LPARAM, bool&) {
        HINSTANCE module = resource_module();
        const frame_metrics& m = metrics();
        int fx = m.frame_y;  // the caption items' x origin
        int fy = m.frame_x;
        struct tab {
            int normal;
            const char* key;
            int left;
        };
        const tab tabs[] = {{IDB_HOME_TAB_NORMAL, "top_home", 10},
                            {IDB_DOWNLOAD_TAB_NORMAL, "top_download", 92},
                            {IDB_BACKUP_TAB_NORMAL, "top_backup", 174},
                            {IDB_RESTORE_TAB_NORMAL, "top_restore", 256},
                            {IDB_SETTINGS_TAB_NORMAL, "top_settings", 338}};
        for (const tab& t : tabs) {
            auto* b = new top_button_c<demo_frame_c>;
            b->create(module, t.normal, t.normal + 1, t.normal + 2, fx + t.left, fy + 23,
                      fx + t.left + 83, fy + 90, L"");
            b->text_key = t.key;
            b->set_action(&demo_frame_c::on_home);
            append_button(b);
        }
        struct caption_button {
            int normal;
            int from_right;
            void (demo_frame_c::*action)();
        };
        const caption_button buttons[] = {
            {IDB_CLOSE_BUTTON_NORMAL, 0, &demo_frame_c::on_close},
            {IDB_MAXIMIZE_BUTTON_NORMAL, 30, &demo_frame_c::on_maximise},
            {IDB_MINIMIZE_BUTTON_NORMAL, 60, &demo_frame_c::on_minimise},
            {IDB_MENU_BUTTON_NORMAL, 90, &demo_frame_c::on_menu}};
        for (const caption_button& c : buttons) {
            auto* b = new system_button_c<demo_frame_c>;
            b->create(module, c.normal, c.normal + 1, c.normal + 2, fx + c.from_right, fy,
                      fx + c.from_right + 30, fy + 21, L"system");
            b->set_action(c.action);
            append_button(b);
        }
        auto* logo = new system_button_c<demo_frame_c>;
        logo->create(module, IDB_LOGO, IDB_LOGO, IDB_LOGO, fx + 20, fy + 40, fx + 181, fy + 90,
                     L"logo");
        logo->set_action(&demo_frame_c::on_logo);
        append_button(logo);
        caption_icon_ = static_cast<HICON>(
            LoadImageW(resource_module(), MAKEINTRESOURCEW(IDI_QUILLMARK), IMAGE_ICON, 32, 32, 0));
        return 0;
    }

    LRESULT on_size(UINT, WPARAM, LPARAM, bool&) {
        set_rect_region(window_);
        return 0;
    }
};

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(frame.create(), nullptr);
        pump_messages(100);
        fx = frame.metrics().frame_y;
        fy = frame.metrics().frame_x;
        RECT r{};
        GetWindowRect(frame.handle(), &r);
        width = r.right - r.left;
    }

    // Sends a non-client mouse message at a window-relative point.
    LRESULT send_nc(UINT message, int x, int y, WPARAM hit = HTCAPTION) {
        return SendMessageW(frame.handle(), message, hit,
                            screen_lparam(window_point(frame.handle(), x, y)));
    }
    // Whether the caption button whose rectangle starts `from_right` px from
    // the right edge shows bitmap `id` of its three.
    ::testing::AssertionResult button_shows(const picture& shot, int from_right, int id,
                                            int normal_id) const {
        return shows_bitmap(shot, width - (fx + from_right + 30), fy, id,
                            {normal_id, normal_id + 1, normal_id + 2});
    }
    ::testing::AssertionResult close_shows(const picture& shot, int id) const {
        return button_shows(shot, 0, id, IDB_CLOSE_BUTTON_NORMAL);
    }
    ::testing::AssertionResult maximise_shows(const picture& shot, int id) const {
        return button_shows(shot, 30, id, IDB_MAXIMIZE_BUTTON_NORMAL);
    }

    // The frame lies in the screen's top band, and one test maximises it.
    pointer_lock pointer;
    demo_frame_c frame;
    int fx = 0;
    int fy = 0;
    int width = 0;
};

}  // namespace

TEST_F(Frame, CaptionIsTheSkinHeight) {
    POINT client = client_origin_in_window(frame.handle());
    EXPECT_EQ(client.y, 100 + GetSystemMetrics(SM_CYFRAME));
    EXPECT_EQ(client.x, GetSystemMetrics(SM_CXFRAME));
    EXPECT_EQ(frame.metrics().caption, GetSystemMetrics(SM_CYCAPTION));
}

TEST_F(Frame, PaintsBandFrameButtonsAndTitle) {
    picture shot = capture_window(frame.handle());
    ASSERT_FALSE(shot.empty());
    save_screenshot(shot, L"frame");
    EXPECT_EQ(shot.at(0, 0), SKIN_FRAME_LINE);
    EXPECT_EQ(shot.at(width - 1, 300), SKIN_FRAME_LINE);
    EXPECT_EQ(shot.at(300, shot.height - 1), SKIN_FRAME_LINE);
    if (frame.metrics().frame_x > 1) {
        EXPECT_EQ(shot.at(1, 300), SKIN_CAPTION);
    }
    EXPECT_EQ(shot.at(500, fy + 95), SKIN_CAPTION);  // the band below the tabs
    // The caption buttons show their normal images.
    EXPECT_TRUE(close_shows(shot, IDB_CLOSE_BUTTON_NORMAL));
    EXPECT_TRUE(button_shows(shot, 90, IDB_MENU_BUTTON_NORMAL, IDB_MENU_BUTTON_NORMAL));
    // The title, in the caption text colour, right of the icon.
    EXPECT_TRUE(shot.contains({30, 8, 140, 24}, SKIN_CAPTION_TEXT));
    // The client area is not painted over.
    POINT client = client_origin_in_window(frame.handle());
    EXPECT_EQ(shot.at(client.x + 300, client.y + 200), RGB(255, 255, 255));
}

TEST_F(Frame, CaptionButtonsFollowTheMouse) {
    const int close_x = width - fx - 15;
    const int maximise_x = width - fx - 45;
    send_nc(WM_NCMOUSEMOVE, close_x, fy + 10);
    EXPECT_TRUE(close_shows(capture_window(frame.handle()), IDB_CLOSE_BUTTON_HOVER));

    // Straight onto the maximise button: one button changes per move.
    send_nc(WM_NCMOUSEMOVE, maximise_x, fy + 10);
    picture shot = capture_window(frame.handle());
    EXPECT_TRUE(close_shows(shot, IDB_CLOSE_BUTTON_NORMAL));
    EXPECT_TRUE(maximise_shows(shot, IDB_MAXIMIZE_BUTTON_NORMAL));
    send_nc(WM_NCMOUSEMOVE, maximise_x, fy + 11);
    EXPECT_TRUE(maximise_shows(capture_window(frame.handle()), IDB_MAXIMIZE_BUTTON_HOVER));

    // Press and release on the close button.
    send_nc(WM_NCMOUSEMOVE, close_x, fy + 10);
    send_nc(WM_NCMOUSEMOVE, close_x, fy + 10);
    send_nc(WM_NCLBUTTONDOWN, close_x, fy + 10);
    EXPECT_TRUE(close_shows(capture_window(frame.handle()), IDB_CLOSE_BUTTON_PRESSED));
    send_nc(WM_NCLBUTTONUP, close_x, fy + 10);
    EXPECT_TRUE(close_shows(capture_window(frame.handle()), IDB_CLOSE_BUTTON_HOVER));
    EXPECT_EQ(frame.closes, 1);
    EXPECT_EQ(frame.maximises, 0);

    // Over to a tab in the lower part of the caption, and a click on it.
    send_nc(WM_NCMOUSEMOVE, fx + 40, fy + 50, HTNOWHERE);
    send_nc(WM_NCMOUSEMOVE, fx + 40, fy + 50, HTNOWHERE);
    shot = capture_window(frame.handle());
    EXPECT_TRUE(close_shows(shot, IDB_CLOSE_BUTTON_NORMAL));
    EXPECT_TRUE(shows_bitmap(shot, fx + 10, fy + 23, IDB_HOME_TAB_HOVER,
                             {IDB_HOME_TAB_NORMAL, IDB_HOME_TAB_HOVER, IDB_HOME_TAB_PRESSED}));
    send_nc(WM_NCLBUTTONDOWN, fx + 40, fy + 50, HTNOWHERE);
    shot = capture_window(frame.handle());
    save_screenshot(shot, L"frame_tab_pressed");
    EXPECT_TRUE(shows_bitmap(shot, fx + 10, fy + 23, IDB_HOME_TAB_PRESSED,
                             {IDB_HOME_TAB_NORMAL, IDB_HOME_TAB_HOVER, IDB_HOME_TAB_PRESSED}));
    EXPECT_TRUE(shot.contains({fx + 10, fy + 70, fx + 93, fy + 90}, SKIN_TITLE_TEXT));
    send_nc(WM_NCLBUTTONUP, fx + 40, fy + 50, HTNOWHERE);
    EXPECT_EQ(frame.homes, 1);

    // Leaving the frame puts the hovering tab back to normal.
    SendMessageW(frame.handle(), WM_NCMOUSELEAVE, 0, 0);
    EXPECT_TRUE(shows_bitmap(capture_window(frame.handle()), fx + 10, fy + 23, IDB_HOME_TAB_NORMAL,
                             {IDB_HOME_TAB_NORMAL, IDB_HOME_TAB_HOVER, IDB_HOME_TAB_PRESSED}));
}

TEST_F(Frame, DoubleClickMaximisesOnTheBareCaptionOnly) {
    const int close_x = width - fx - 15;
    EXPECT_EQ(send_nc(WM_NCHITTEST, 500, fy + 5, 0), HTCAPTION);
    send_nc(WM_NCLBUTTONDBLCLK, close_x, fy + 10);
    EXPECT_FALSE(IsZoomed(frame.handle()));
    send_nc(WM_NCLBUTTONDBLCLK, 500, fy + 5);
    EXPECT_TRUE(IsZoomed(frame.handle()));
    ShowWindow(frame.handle(), SW_RESTORE);
}

TEST_F(Frame, WholeCaptionAnswersAsCaptionBordersAndClientKeepTheirCodes) {
    HWND w = frame.handle();
    RECT r{};
    GetWindowRect(w, &r);
    auto at = [&](int x, int y) { return POINT{r.left + x, r.top + y}; };
    const int bottom_of_caption = fy + 99;
    // The top strip, below the system's caption height, over a tab, between
    // the tabs and the logo, over the logo, right at the bottom of the caption.
    for (POINT p : {at(300, fy + 5), at(300, fy + 40), at(fx + 50, fy + 60), at(500, fy + 60),
                    at(width - fx - 100, fy + 65), at(500, bottom_of_caption),
                    at(width - fx - 15, fy + 10)}) {
        EXPECT_EQ(hit_code_at(w, p), HTCAPTION) << p.x - r.left << ", " << p.y - r.top;
    }
    POINT client = client_origin_in_window(w);
    EXPECT_EQ(hit_code_at(w, at(300, client.y + 1)), HTCLIENT);
    EXPECT_EQ(hit_code_at(w, at(0, 300)), HTLEFT);
    EXPECT_EQ(hit_code_at(w, at(width - 1, 300)), HTRIGHT);
    EXPECT_EQ(hit_code_at(w, at(300, 0)), HTTOP);
    EXPECT_EQ(hit_code_at(w, at(0, 0)), HTTOPLEFT);
    EXPECT_EQ(hit_code_at(w, POINT{r.right + 5, r.top + 50}), HTNOWHERE);
}

TEST_F(Frame, RealPointerHoversClicksAndDragsTheCaption) {
    HWND w = frame.handle();
    SetWindowPos(w, HWND_TOP, 20, 10, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    pump_messages(100);
    RECT r{};
    GetWindowRect(w, &r);
    auto at = [&](int x, int y) { return POINT{r.left + x, r.top + y}; };
    const auto& buttons = frame.caption_buttons();

    // Every tab: hover shows its hover image, a click runs its action.
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const RECT& tab = buttons[i]->rect;
        POINT p = at((tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2 + 10);
        EXPECT_EQ(hit_code_at(w, p), HTCAPTION);
        drive_pointer(pointer_move(p), [&] { return buttons[i]->state == BUTTON_HOVER; },
                      "hover over a tab");
        const int normal = IDB_HOME_TAB_NORMAL;
        picture shot = capture_window(w);
        if (i == 0) {
            save_screenshot(shot, L"frame_tab_hover_real_pointer");
            EXPECT_TRUE(shows_bitmap(shot, tab.left, tab.top, IDB_HOME_TAB_HOVER,
                                     {normal, normal + 1, normal + 2}));
        }
        drive_pointer(pointer_click(p), [&] { return frame.homes == i + 1; }, "click on a tab");
    }

    // The caption buttons and the logo, measured from the right edge.
    struct target {
        std::size_t index;
        int* count;
        const char* name;
    } targets[] = {{5, &frame.closes, "close"},     {6, &frame.maximises, "maximise"},
                   {7, &frame.minimises, "minimise"}, {8, &frame.menus, "menu"},
                   {9, &frame.logos, "logo"}};
    for (const target& t : targets) {
        SCOPED_TRACE(t.name);
        const RECT& b = buttons[t.index]->rect;
        POINT p = at(width - (b.left + b.right) / 2, (b.top + b.bottom) / 2);
        EXPECT_EQ(hit_code_at(w, p), HTCAPTION);
        drive_pointer(pointer_click(p), [&] { return *t.count == 1; }, t.name);
        EXPECT_FALSE(IsZoomed(w));  // the button's own action only
    }
    EXPECT_EQ(frame.homes, 5);

    // Leaving the caption for the client area clears the hover.
    POINT client = client_origin_in_window(w);
    drive_pointer(pointer_move(at(300, client.y + 200)),
                  [&] { return buttons[9]->state == BUTTON_NORMAL; }, "leave the caption");

    // A drag on the bare caption below the system's caption height moves the
    // window.
    POINT from = at(500, fy + 60);
    EXPECT_EQ(hit_code_at(w, from), HTCAPTION);
    EXPECT_TRUE(drag_window(w, from, 40, 30, "drag the caption"));
    EXPECT_EQ(frame.homes + frame.logos + frame.menus, 7);  // the drag clicked nothing
}
