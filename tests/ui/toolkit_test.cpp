// The smaller pieces of the toolkit: fonts, the progress bar, the panel
// list, the hyperlink, the bitmap button's image choice, message maps and
// the message loop.
#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "ui/skin/back_buffer.h"
#include "ui/skin/bitmap_button.h"
#include "resources/resource.h"
#include "ui/skin/fonts.h"
#include "ui/skin/image.h"
#include "ui/skin/link.h"
#include "ui/skin/message_loop.h"
#include "ui/skin/panel_list.h"
#include "ui/skin/progress_bar.h"
#include "ui/skin/window.h"
#include "ui_test_support.h"

TEST(Fonts, TheTwentyOneFonts) {
    const int heights[FONT_COUNT] = {11, 15, 20, 24, 21, 24, 33, 11, 11, 13, 11,
                                     12, 13, 16, 16, 19, 21, 21, 24, 29, 33};
    create_fonts();
    for (int i = 0; i < FONT_COUNT; ++i) {
        SCOPED_TRACE(i + 1);
        HFONT font = ui_font(static_cast<font_id>(i));
        ASSERT_NE(font, nullptr);
        LOGFONTW lf{};
        ASSERT_TRUE(GetObjectW(font, sizeof(lf), &lf));
        EXPECT_EQ(lf.lfHeight, -heights[i]);
        EXPECT_EQ(lf.lfWidth, 0);
        EXPECT_STREQ(lf.lfFaceName, font_definitions[i].face);
        EXPECT_EQ(lf.lfWeight, font_definitions[i].weight);
        EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(lf.lfOutPrecision, OUT_OUTLINE_PRECIS);
        EXPECT_EQ(lf.lfQuality, ANTIALIASED_QUALITY);
        EXPECT_EQ(lf.lfPitchAndFamily & 3, VARIABLE_PITCH);
    }
    EXPECT_STREQ(font_definitions[12].face, L"Verdana");
    EXPECT_STREQ(font_definitions[13].face, L"verdana");
    EXPECT_EQ(font_definitions[static_cast<int>(font_id::verdana_9_bold)].weight, FW_BOLD);
    EXPECT_NE(ui_font(font_id::verdana_8), ui_font(font_id::verdana_8_second));
    // A second creation keeps the same fonts.
    HFONT first = ui_font(font_id::arial_8);
    create_fonts();
    EXPECT_EQ(ui_font(font_id::arial_8), first);
}

TEST(ProgressBar, FillAndLabel) {
    EXPECT_EQ(progress_fill_right(10, 110, 0.0f), 10);
    EXPECT_EQ(progress_fill_right(10, 110, 0.5f), 60);
    EXPECT_EQ(progress_fill_right(10, 110, 0.999f), 109);  // truncated
    EXPECT_EQ(progress_fill_right(10, 110, 1.0f), 110);
    EXPECT_EQ(progress_fill_right(10, 113, 1.0f / 3.0f), 44);
    // Out of range and not-a-number stay inside the bar.
    EXPECT_EQ(progress_fill_right(10, 110, 1.7f), 110);
    EXPECT_EQ(progress_fill_right(10, 110, -0.2f), 10);
    EXPECT_EQ(progress_fill_right(10, 110, std::numeric_limits<float>::quiet_NaN()), 10);

    EXPECT_EQ(progress_label(0.0f), L"0%");
    EXPECT_EQ(progress_label(0.37f), L"37%");
    EXPECT_EQ(progress_label(0.999f), L"99%");
    EXPECT_EQ(progress_label(1.0f), L"100%");
    EXPECT_EQ(progress_label(std::numeric_limits<float>::quiet_NaN()), L"0%");
}

TEST(ProgressBar, DrawsBackgroundFillAndCentredLabel) {
    memory_canvas canvas(220, 40);
    HDC dc = canvas.dc();
    SelectObject(dc, ui_font(font_id::verdana_8));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));

    progress_bar_c bar;
    bar.set_brushes(CreateSolidBrush(RGB(0, 160, 0)), CreateSolidBrush(RGB(226, 240, 253)));
    bar.fraction = 0.25f;
    bar.draw(dc, 10, 10, 210, 30);
    picture p = canvas.capture();
    EXPECT_EQ(p.at(9, 11), RGB(255, 255, 255));
    EXPECT_EQ(p.at(10, 11), RGB(0, 160, 0));
    EXPECT_EQ(p.at(59, 11), RGB(0, 160, 0));
    EXPECT_EQ(p.at(60, 11), RGB(226, 240, 253));
    EXPECT_EQ(p.at(209, 29), RGB(226, 240, 253));
    EXPECT_EQ(p.at(210, 29), RGB(255, 255, 255));
    // "25%" in the middle of the bar.
    EXPECT_TRUE(p.contains({90, 12, 130, 28}, RGB(0, 0, 0)));
    EXPECT_FALSE(p.contains({10, 10, 80, 30}, RGB(0, 0, 0)));
}

TEST(BackBuffer, DrawsInTargetCoordinatesAndCopiesItsAreaOnly) {
    memory_canvas canvas(100, 100);
    {
        back_buffer_c buffer(canvas.dc(), RECT{20, 30, 60, 70});
        ASSERT_NE(buffer.dc(), canvas.dc());
        RECT everything{0, 0, 100, 100};
        HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
        FillRect(buffer.dc(), &everything, red);
        DeleteObject(red);
        SetPixel(buffer.dc(), 20, 30, RGB(0, 0, 255));
        // Nothing reaches the target before the buffer is done.
        EXPECT_EQ(canvas.capture().at(40, 50), RGB(255, 255, 255));
    }
    picture p = canvas.capture();
    EXPECT_EQ(p.at(20, 30), RGB(0, 0, 255));
    EXPECT_EQ(p.at(59, 69), RGB(255, 0, 0));
    EXPECT_EQ(p.at(19, 50), RGB(255, 255, 255));
    EXPECT_EQ(p.at(60, 50), RGB(255, 255, 255));
    EXPECT_EQ(p.at(40, 29), RGB(255, 255, 255));
    EXPECT_EQ(p.at(40, 70), RGB(255, 255, 255));
}

TEST(Image, CopiedOrWithATransparentColour) {
    picture source = resource_picture(IDB_SIDEBAR_HEADER);
    ASSERT_FALSE(source.empty());
    POINT white{-1, -1};
    POINT ink{-1, -1};
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            COLORREF c = source.at(x, y);
            if (c == RGB(255, 255, 255) && white.x < 0) white = POINT{x, y};
            if (c != RGB(255, 255, 255) && c != RGB(255, 0, 0) && ink.x < 0) ink = POINT{x, y};
        }
    }
    ASSERT_GE(white.x, 0);
    ASSERT_GE(ink.x, 0);

    image_c image;
    ASSERT_TRUE(image.load(resource_module(), IDB_SIDEBAR_HEADER));
    EXPECT_EQ(image.width(), 48);
    EXPECT_EQ(image.height(), 48);
    memory_canvas canvas(60, 120);
    RECT all{0, 0, 60, 120};
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(canvas.dc(), &all, red);
    DeleteObject(red);
    image.draw(canvas.dc(), 5, 5);
    image.set_transparent_color(RGB(255, 255, 255));
    image.draw(canvas.dc(), 5, 60);
    image_c missing;
    EXPECT_FALSE(missing.load(resource_module(), 9999));
    missing.draw(canvas.dc(), 0, 0);  // draws nothing

    picture p = canvas.capture();
    EXPECT_EQ(p.at(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(p.at(5 + white.x, 5 + white.y), RGB(255, 255, 255));
    EXPECT_EQ(p.at(5 + white.x, 60 + white.y), RGB(255, 0, 0));
    EXPECT_EQ(p.at(5 + ink.x, 60 + ink.y), source.at(ink.x, ink.y));
}

TEST(PanelList, ClampingAndScrollRules) {
    // Content 500 in a view of 200: positions 0 … 301.
    EXPECT_EQ(clamp_scroll_position(400, 500, 200), 301);
    EXPECT_EQ(clamp_scroll_position(301, 500, 200), 301);
    EXPECT_EQ(clamp_scroll_position(-5, 500, 200), 0);
    EXPECT_EQ(clamp_scroll_position(50, 100, 200), 0);

    EXPECT_EQ(vscroll_position(SB_LINEDOWN, 100, 0, 200), 110);
    EXPECT_EQ(vscroll_position(SB_LINEUP, 100, 0, 200), 90);
    EXPECT_EQ(vscroll_position(SB_PAGEDOWN, 100, 0, 200), 300);
    EXPECT_EQ(vscroll_position(SB_PAGEUP, 100, 0, 200), -100);
    EXPECT_EQ(vscroll_position(SB_THUMBTRACK, 100, 77, 200), 77);
    EXPECT_EQ(vscroll_position(SB_THUMBPOSITION, 100, 78, 200), 78);
    EXPECT_EQ(vscroll_position(SB_ENDSCROLL, 100, 78, 200), 100);
    EXPECT_EQ(vscroll_position(SB_TOP, 100, 78, 200), 100);

    int position = 100;
    EXPECT_TRUE(wheel_scroll_position(position, -WHEEL_DELTA, 500, 200));
    EXPECT_EQ(position, 115);  // one notch towards the user: 15 px down
    EXPECT_TRUE(wheel_scroll_position(position, 2 * WHEEL_DELTA, 500, 200));
    EXPECT_EQ(position, 85);
    EXPECT_FALSE(wheel_scroll_position(position, -WHEEL_DELTA, 200, 200));
    EXPECT_EQ(position, 85);

    // Near the view: in it, or within one view height above or below.
    EXPECT_TRUE(panel_near_view(0, 100, 0, 200));
    EXPECT_TRUE(panel_near_view(399, 100, 0, 200));
    EXPECT_FALSE(panel_near_view(400, 100, 0, 200));
    EXPECT_TRUE(panel_near_view(201, 100, 400, 200));
    EXPECT_FALSE(panel_near_view(100, 100, 400, 200));
    EXPECT_TRUE(panel_near_view(2000000000, 100, 2000000000, 2000000000));  // no overflow
}

namespace {

struct test_panel : window_base_c {
    panel_geometry panel;
    bool process_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
};

struct host_window : window_base_c {
    bool process_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
};

class PanelListWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window_base_c::register_class(L"QuillmarkTest.Host", 0,
                                      static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        window_base_c::register_class(L"QuillmarkTest.Panel", 0,
                                      static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
        ASSERT_NE(host.create(L"QuillmarkTest.Host", 0, WS_POPUP | WS_VISIBLE, L"", 0, 0, 400, 300,
                              nullptr),
                  nullptr);
        ASSERT_NE(list.create(host.handle(), RECT{0, 0, 300, 250}, 7), nullptr);
    }

    void add_panels(int count, int height) {
        for (int i = 0; i < count; ++i) {
            auto p = std::make_unique<test_panel>();
            p->panel = panel_geometry{0, i * height, 0, height};
            p->create(L"QuillmarkTest.Panel", 0, WS_CHILD | WS_VISIBLE, L"", 0, i * height, 100,
                      height, list.handle());
            list.add_panel(std::move(p));
        }
        list.content_height = count * height;
    }
    void resize(int height) { SetWindowPos(list.handle(), nullptr, 0, 0, 300, height, SWP_NOZORDER); }
    int panel_top(std::size_t i) const {
        RECT r{};
        GetWindowRect(list.panels()[i]->handle(), &r);
        MapWindowPoints(nullptr, list.handle(), reinterpret_cast<POINT*>(&r), 2);
        return r.top;
    }
    bool scroll_bar_shown() const {
        return (GetWindowLongW(list.handle(), GWL_STYLE) & WS_VSCROLL) != 0;
    }
    void wheel(int delta) {
        SendMessageW(list.handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(delta)), 0);
    }

    host_window host;
    panel_list_c<test_panel> list;
};

}  // namespace

TEST_F(PanelListWindow, ScrollsOnlyWhatDoesNotFit) {
    add_panels(5, 100);  // 500 in a view of 250
    list.update_layout();
    EXPECT_TRUE(scroll_bar_shown());
    EXPECT_EQ(list.view_height(), 250);
    RECT client{};
    GetClientRect(list.handle(), &client);
    EXPECT_EQ(list.panels()[0]->panel.width, client.right);

    wheel(-WHEEL_DELTA);
    EXPECT_EQ(list.scroll_position(), 15);
    EXPECT_EQ(panel_top(1), 100 - 15);
    SendMessageW(list.handle(), WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(list.scroll_position(), 25);
    for (int i = 0; i < 10; ++i) SendMessageW(list.handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(list.scroll_position(), 500 - 250 + 1);
    EXPECT_EQ(panel_top(4), 400 - 251);
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(list.handle(), SB_VERT, &info);
    EXPECT_EQ(info.nMax, 500);
    EXPECT_EQ(info.nPage, 250u);
    EXPECT_EQ(info.nPos, 251);

    // Made tall enough, the list shows everything from the top again.
    resize(600);
    EXPECT_FALSE(scroll_bar_shown());
    EXPECT_EQ(list.scroll_position(), 0);
    EXPECT_EQ(panel_top(0), 0);
    EXPECT_EQ(panel_top(4), 400);
}

TEST_F(PanelListWindow, ContentThatFitsIgnoresTheWheel) {
    add_panels(2, 100);
    list.update_layout();
    EXPECT_FALSE(scroll_bar_shown());
    wheel(-WHEEL_DELTA);
    EXPECT_EQ(list.scroll_position(), 0);
    EXPECT_EQ(panel_top(1), 100);
}

TEST_F(PanelListWindow, ARealiserGivesWindowsOnlyToThePanelsNearTheView) {
    // Sixty panels of 100 px in a view of 250, none with a window yet.
    for (int i = 0; i < 60; ++i) {
        auto p = std::make_unique<test_panel>();
        p->panel = panel_geometry{0, i * 100, 0, 100};
        list.add_panel(std::move(p));
    }
    list.content_height = 6000;
    int created = 0;
    list.set_realiser([&](test_panel& p, bool near_view) {
        if (near_view && !p.handle()) {
            ++created;
            p.create(L"QuillmarkTest.Panel", 0, WS_CHILD | WS_VISIBLE, L"", p.panel.x, p.panel.y,
                     p.panel.width, p.panel.height, list.handle());
        } else if (!near_view && p.handle()) {
            DestroyWindow(p.handle());
        }
    });
    auto windows = [&] {
        std::vector<std::size_t> with;
        for (std::size_t i = 0; i < list.panels().size(); ++i)
            if (list.panels()[i]->handle()) with.push_back(i);
        return with;
    };
    list.update_layout();
    // The view (0 … 250) and one view height below it.
    EXPECT_EQ(windows(), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(panel_top(4), 400);

    // Four pages down: the view is 1000 … 1250.
    for (int i = 0; i < 4; ++i) SendMessageW(list.handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(list.scroll_position(), 1000);
    EXPECT_EQ(windows(), (std::vector<std::size_t>{7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(panel_top(10), 0);  // each new window at its scrolled place
    EXPECT_EQ(panel_top(8), -200);

    // Back at the top the first panels get windows again, the others none.
    for (int i = 0; i < 4; ++i) SendMessageW(list.handle(), WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(windows(), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(panel_top(0), 0);
    // Each page on the way made the windows it needed, once.
    EXPECT_EQ(created, 5 + 10 + 7);
    list.clear_panels();
}

TEST(Link, LabelSpans) {
    link_label_parts p = split_link_label(L"See the <A>questions and answers</A> page.");
    EXPECT_EQ(p.before, L"See the ");
    EXPECT_EQ(p.link, L"questions and answers");
    EXPECT_EQ(p.after, L" page.");
    p = split_link_label(L"<a href=\"x\">FAQ</a>");
    EXPECT_EQ(p.before, L"");
    EXPECT_EQ(p.link, L"FAQ");
    p = split_link_label(L"No tags at all");
    EXPECT_EQ(p.link, L"No tags at all");
    p = split_link_label(L"Broken <A>span");
    EXPECT_EQ(p.link, L"Broken <A>span");
    p = split_link_label(L"<abbr>x</abbr> and <A>y</A>");
    EXPECT_EQ(p.before, L"<abbr>x</abbr> and ");
    EXPECT_EQ(p.link, L"y");

    EXPECT_EQ(parse_color_setting(L"0,0,255", 1), RGB(0, 0, 255));
    EXPECT_EQ(parse_color_setting(L"128, 0, 128", 1), RGB(128, 0, 128));
    EXPECT_EQ(parse_color_setting(L"1,2", 7), 7u);
    EXPECT_EQ(parse_color_setting(L"1,2,300", 7), 7u);
    EXPECT_EQ(parse_color_setting(L"a,b,c", 7), 7u);
}

TEST(Link, ClickOnTheLinkOpensTheTarget) {
    recording_shell shell;
    host_window host;
    window_base_c::register_class(L"QuillmarkTest.Host", 0,
                                  static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ASSERT_NE(host.create(L"QuillmarkTest.Host", 0, WS_POPUP | WS_VISIBLE, L"", 0, 0, 300, 100,
                          nullptr),
              nullptr);
    link_c link;
    ASSERT_NE(link.create(host.handle(), RECT{10, 10, 250, 29}, 3), nullptr);
    link.set_font(ui_font(font_id::verdana_8));
    link.set_label(L"Read the <A>FAQ</A>");
    link.set_target(L"https://quillmark.example/faq.php");
    RECT r = link.link_rect();
    EXPECT_GT(r.left, 0);
    EXPECT_GT(r.right, r.left);

    // Outside the link part: nothing.
    SendMessageW(link.handle(), WM_LBUTTONUP, 0, MAKELPARAM(2, 5));
    EXPECT_TRUE(shell.calls().empty());
    SendMessageW(link.handle(), WM_LBUTTONUP, 0, MAKELPARAM(r.left + 2, 5));
    ASSERT_EQ(shell.calls().size(), 1u);
    EXPECT_EQ(shell.calls()[0].what, L"page");
    EXPECT_EQ(shell.calls()[0].target, L"https://quillmark.example/faq.php");
    EXPECT_TRUE(link.visited());
}

TEST(BitmapButton, ImageForState) {
    EXPECT_EQ(bitmap_button_image(false, false, false), BITMAP_BUTTON_NORMAL);
    EXPECT_EQ(bitmap_button_image(false, true, false), BITMAP_BUTTON_HOVER);
    EXPECT_EQ(bitmap_button_image(false, false, true), BITMAP_BUTTON_HOVER);
    EXPECT_EQ(bitmap_button_image(true, true, true), BITMAP_BUTTON_PUSHED);
}

namespace {

struct mapped {
    int seen = 0;
    LRESULT on_a(UINT, WPARAM w, LPARAM, bool&) {
        ++seen;
        return static_cast<LRESULT>(w) + 1;
    }
    LRESULT on_b(UINT, WPARAM, LPARAM, bool& handled) {
        handled = false;
        return 99;
    }
};

struct counting_filter final : message_filter, idle_handler {
    int filtered = 0;
    int idles = 0;
    bool pre_translate_message(MSG& m) override {
        if (m.message != WM_APP + 5) return false;
        ++filtered;
        return true;
    }
    bool on_idle() override {
        if (++idles == 1) {
            PostThreadMessageW(GetCurrentThreadId(), WM_APP + 5, 0, 0);
        } else {
            PostQuitMessage(7);
        }
        return false;
    }
};

}  // namespace

TEST(WindowLayer, MessageMapsAndTheLoop) {
    static const message_entry<mapped> map[] = {
        {WM_APP + 1, &mapped::on_a}, {WM_APP + 2, &mapped::on_b}, {WM_APP + 1, &mapped::on_b}};
    mapped m;
    LRESULT result = -1;
    EXPECT_TRUE(dispatch_message(&m, map, WM_APP + 1, 4, 0, result));
    EXPECT_EQ(result, 5);
    EXPECT_EQ(m.seen, 1);  // the first matching row only
    result = -1;
    EXPECT_FALSE(dispatch_message(&m, map, WM_APP + 2, 0, 0, result));
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(dispatch_message(&m, map, WM_APP + 3, 0, 0, result));

    EXPECT_EQ(message_loop_c::current(), nullptr);
    counting_filter f;
    {
        message_loop_c loop;
        EXPECT_EQ(message_loop_c::current(), &loop);
        loop.add_message_filter(&f);
        loop.add_idle_handler(&f);
        EXPECT_EQ(loop.run(), 7);
        loop.remove_message_filter(&f);
        loop.remove_idle_handler(&f);
    }
    EXPECT_EQ(message_loop_c::current(), nullptr);
    EXPECT_EQ(f.filtered, 1);
    EXPECT_EQ(f.idles, 2);
}

TEST(WindowLayer, DialogFromAMissingTemplateFails) {
    struct no_dialog : dialog_base_c {
        no_dialog() : dialog_base_c(9999) {}
        bool process_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
    } d;
    EXPECT_EQ(d.run_modal(nullptr), -1);
}
