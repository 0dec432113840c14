// Hit tests of the button kinds and the caption buttons' mouse handling.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "ui/skin/buttons.h"
#include "ui/skin/window.h"

namespace {

struct owner {
    int clicks = 0;
    void click() { ++clicks; }
};

template <class B>
B* make_button(int left, int top, int right, int bottom) {
    auto* b = new B;
    b->rect = RECT{left, top, right, bottom};
    return b;
}

const RECT WINDOW{100, 50, 900, 650};  // 800 × 600 on screen

}  // namespace

TEST(Buttons, SystemButtonIsMeasuredFromTheRightEdge) {
    system_button_c<owner> b;
    b.rect = RECT{4, 4, 34, 25};
    // (800 − x) must lie in 4 … 33.
    EXPECT_TRUE(b.hit_test(796, 4, WINDOW.left, WINDOW.top, WINDOW.right, WINDOW.bottom));
    EXPECT_TRUE(b.hit_test(767, 24, WINDOW.left, WINDOW.top, WINDOW.right, WINDOW.bottom));
    EXPECT_FALSE(b.hit_test(797, 10, WINDOW.left, WINDOW.top, WINDOW.right, WINDOW.bottom));
    EXPECT_FALSE(b.hit_test(766, 10, WINDOW.left, WINDOW.top, WINDOW.right, WINDOW.bottom));
    EXPECT_FALSE(b.hit_test(780, 25, WINDOW.left, WINDOW.top, WINDOW.right, WINDOW.bottom));
    EXPECT_FALSE(b.hit_test(780, 3, WINDOW.left, WINDOW.top, WINDOW.right, WINDOW.bottom));
    // The same rectangle follows a wider window.
    EXPECT_TRUE(b.hit_test(996, 4, 0, 0, 1000, 600));
    EXPECT_FALSE(b.hit_test(796, 4, 0, 0, 1000, 600));
}

TEST(Buttons, TopButtonIsItsRectangle) {
    top_button_c<owner> b;
    b.rect = RECT{14, 27, 97, 94};
    EXPECT_TRUE(b.hit_test(14, 27, 0, 0, 800, 600));
    EXPECT_TRUE(b.hit_test(96, 93, 0, 0, 800, 600));
    EXPECT_FALSE(b.hit_test(97, 50, 0, 0, 800, 600));
    EXPECT_FALSE(b.hit_test(50, 94, 0, 0, 800, 600));
    EXPECT_FALSE(b.hit_test(13, 50, 0, 0, 800, 600));
}

TEST(Buttons, HomeButtonIsItsImagePlacedInTheClientArea) {
    home_button_c<owner> b;
    ASSERT_TRUE(b.create(resource_module(), IDB_START_EN_NORMAL, IDB_START_EN_HOVER,
                         IDB_START_EN_PRESSED, 0, 0, 0, 0, L"home_start_scan"));
    ASSERT_EQ(b.images[0].width(), 450);
    ASSERT_EQ(b.images[0].height(), 120);
    // Client 1000 × 600: left = 375 − 225 = 150, top = 225.
    EXPECT_TRUE(b.hit_test(150, 225, 0, 0, 1000, 600));
    EXPECT_TRUE(b.hit_test(599, 344, 0, 0, 1000, 600));
    EXPECT_FALSE(b.hit_test(149, 300, 0, 0, 1000, 600));
    EXPECT_FALSE(b.hit_test(600, 300, 0, 0, 1000, 600));
    EXPECT_FALSE(b.hit_test(300, 224, 0, 0, 1000, 600));
    EXPECT_FALSE(b.hit_test(300, 345, 0, 0, 1000, 600));
    // Smaller client: the button moves with it.
    EXPECT_TRUE(b.hit_test(50, 200, 0, 0, 800, 500));  // left 50, top 175
    EXPECT_FALSE(b.hit_test(49, 200, 0, 0, 800, 500));
}

TEST(Buttons, MissingBitmapsLeaveEmptyImages) {
    top_button_c<owner> b;
    EXPECT_FALSE(b.create(resource_module(), 9990, 9991, 9992, 1, 2, 3, 4, L"x"));
    EXPECT_TRUE(b.current_image().empty());
    EXPECT_EQ(b.rect.right, 3);
    HDC dc = CreateCompatibleDC(nullptr);
    b.draw(dc, 0, 0, 100, 100);  // draws nothing, does not fail
    DeleteDC(dc);
}

class CaptionMouse : public ::testing::Test {
protected:
    void SetUp() override {
        // Close and maximise buttons side by side, measured from the right,
        // then a tab.
        list.emplace_back(make_button<system_button_c<owner>>(4, 4, 34, 25));
        list.emplace_back(make_button<system_button_c<owner>>(34, 4, 64, 25));
        list.emplace_back(make_button<top_button_c<owner>>(14, 27, 97, 94));
    }
    int state(int i) const { return list[static_cast<std::size_t>(i)]->state; }

    static constexpr int ON_CLOSE = 780;     // 800 − 780 = 20
    static constexpr int ON_MAXIMISE = 750;  // 800 − 750 = 50
    button_list list;
};

TEST_F(CaptionMouse, MovingChangesOneButtonPerMove) {
    caption_change c = caption_mouse_move(list, ON_CLOSE, 10, WINDOW);
    EXPECT_EQ(c.changed, 0);
    EXPECT_TRUE(c.hover_began);
    EXPECT_EQ(state(0), BUTTON_HOVER);

    // Straight onto the maximise button: first the close button leaves hover…
    c = caption_mouse_move(list, ON_MAXIMISE, 10, WINDOW);
    EXPECT_EQ(c.changed, 0);
    EXPECT_FALSE(c.hover_began);
    EXPECT_EQ(state(0), BUTTON_NORMAL);
    EXPECT_EQ(state(1), BUTTON_NORMAL);
    // …and the next move makes the maximise button hover.
    c = caption_mouse_move(list, ON_MAXIMISE, 11, WINDOW);
    EXPECT_EQ(c.changed, 1);
    EXPECT_EQ(state(1), BUTTON_HOVER);
    // Nothing left to change.
    EXPECT_EQ(caption_mouse_move(list, ON_MAXIMISE, 12, WINDOW).changed, -1);

    // Onto the bare caption, then leaving the frame.
    EXPECT_EQ(caption_mouse_move(list, 400, 10, WINDOW).changed, 1);
    caption_mouse_move(list, 20, 40, WINDOW);
    EXPECT_EQ(state(2), BUTTON_HOVER);
    EXPECT_EQ(caption_mouse_leave(list).changed, 2);
    EXPECT_EQ(state(2), BUTTON_NORMAL);
    EXPECT_EQ(caption_mouse_leave(list).changed, -1);
}

TEST_F(CaptionMouse, PressAndReleaseOnAButtonClicksIt) {
    caption_mouse_move(list, ON_CLOSE, 10, WINDOW);
    caption_change c = caption_button_down(list, ON_CLOSE, 10, WINDOW);
    EXPECT_TRUE(c.hit);
    EXPECT_EQ(c.changed, 0);
    EXPECT_EQ(state(0), BUTTON_PRESSED);
    // A pressed button under the mouse stays pressed.
    EXPECT_EQ(caption_mouse_move(list, ON_CLOSE + 1, 10, WINDOW).changed, -1);
    EXPECT_EQ(state(0), BUTTON_PRESSED);

    c = caption_button_up(list, ON_CLOSE, 10, WINDOW);
    EXPECT_TRUE(c.hit);
    EXPECT_EQ(c.changed, 0);  // the button clicked
    EXPECT_EQ(state(0), BUTTON_HOVER);

    owner o;
    static_cast<button_c<owner>*>(list[0].get())->set_action(&owner::click);
    static_cast<button_c<owner>*>(list[0].get())->click(o);
    EXPECT_EQ(o.clicks, 1);
}

TEST_F(CaptionMouse, PressOffTheButtonsIsLeftToTheSystem) {
    caption_change c = caption_button_down(list, 400, 10, WINDOW);
    EXPECT_FALSE(c.hit);
    EXPECT_EQ(c.changed, -1);
    EXPECT_FALSE(caption_button_up(list, 400, 10, WINDOW).hit);

    // Pressed on the close button, dragged away and back: released in hover,
    // so no click.
    caption_button_down(list, ON_CLOSE, 10, WINDOW);
    caption_mouse_move(list, 400, 10, WINDOW);
    EXPECT_EQ(state(0), BUTTON_NORMAL);
    caption_mouse_move(list, ON_CLOSE, 10, WINDOW);
    EXPECT_EQ(state(0), BUTTON_HOVER);
    c = caption_button_up(list, ON_CLOSE, 10, WINDOW);
    EXPECT_TRUE(c.hit);
    EXPECT_EQ(c.changed, -1);
}

TEST_F(CaptionMouse, DoubleClicksAreCaughtOnButtonsOnly) {
    EXPECT_TRUE(caption_hit(list, ON_CLOSE, 10, WINDOW));
    EXPECT_TRUE(caption_hit(list, 20, 40, WINDOW));
    EXPECT_FALSE(caption_hit(list, 400, 10, WINDOW));
}
