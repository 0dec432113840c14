// The pie chart: slices and their refusals, colours, the tilted geometry and
// the back-to-front order without a window; then real windows painted under
// the display, checked by their pixels, and the legend scrolled with the
// real pointer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <string>

#include "app/language.h"
#include "ui/gdiplus_session.h"
#include "ui/pie_chart.h"
#include "ui/skin/window.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

constexpr uint32_t RED = 0xFFFF0000;
constexpr uint32_t YELLOW = 0xFFFFFF00;
constexpr uint32_t GREEN = 0xFF16CD1F;

std::vector<std::size_t> slices_of(const std::vector<pie_draw_step>& order) {
    std::vector<std::size_t> out;
    for (const pie_draw_step& s : order) out.push_back(s.slice);
    return out;
}

int red_of(uint32_t argb) { return (argb >> 16) & 0xFF; }
int green_of(uint32_t argb) { return (argb >> 8) & 0xFF; }
int blue_of(uint32_t argb) { return argb & 0xFF; }

// Whether a pixel lies channel by channel between two ARGB colours (within
// `slack`), as a gradient between them paints.
::testing::AssertionResult between(COLORREF got, uint32_t a, uint32_t b, int slack = 3) {
    const int g[3] = {GetRValue(got), GetGValue(got), GetBValue(got)};
    const int x[3] = {red_of(a), green_of(a), blue_of(a)};
    const int y[3] = {red_of(b), green_of(b), blue_of(b)};
    for (int i = 0; i < 3; ++i) {
        if (g[i] < std::min(x[i], y[i]) - slack || g[i] > std::max(x[i], y[i]) + slack)
            return ::testing::AssertionFailure()
                   << std::hex << "pixel " << got << " (BGR) is not between " << a << " and " << b;
    }
    return ::testing::AssertionSuccess();
}

COLORREF rgb_of(uint32_t argb) { return RGB(red_of(argb), green_of(argb), blue_of(argb)); }

}  // namespace

// --- Without a window ----------------------------------------------------------

TEST(PieChart, DerivedColours) {
    EXPECT_EQ(pie_light_color(RED), 0xFFFF7878u);
    EXPECT_EQ(pie_dark_color(RED), 0xFFF50000u);
    // Each channel on its own, truncated: 22 → 131 / 21, 205 → 228 / 196,
    // 31 → 136 / 29.
    EXPECT_EQ(pie_light_color(GREEN), 0xFF83E488u);
    EXPECT_EQ(pie_dark_color(GREEN), 0xFF15C41Du);
    // Exact steps stay exact (238 + 17 × 120 / 255 = 246; 51 − 2 = 49), and
    // alpha is always 255.
    EXPECT_EQ(pie_light_color(0x00EE0000), 0xFFF67878u);
    EXPECT_EQ(pie_dark_color(0x00330000), 0xFF310000u);
    EXPECT_EQ(pie_light_color(0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(pie_dark_color(0xFF000000), 0xFF000000u);
}

TEST(PieChart, SlicesAreAddedFoundAndRefused) {
    CPieChart chart;
    pie_slice* red = chart.add_slice(L"out", L"Out of date", 3.0, RED);
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->insertion, 0u);
    EXPECT_EQ(red->light_color, pie_light_color(RED));
    EXPECT_EQ(red->dark_color, pie_dark_color(RED));
    EXPECT_EQ(red->alpha, 255);
    EXPECT_EQ(red->label, L"Out of date");
    ASSERT_NE(chart.add_slice(L"none", nullptr, 1.0, YELLOW), nullptr);

    // Refused, and nothing changes: empty or missing name, a name in use,
    // values that are not above 0 or not finite, a total that would overflow.
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(chart.add_slice(L"", L"x", 1.0, GREEN), nullptr);
    EXPECT_EQ(chart.add_slice(nullptr, L"x", 1.0, GREEN), nullptr);
    EXPECT_EQ(chart.add_slice(L"out", L"again", 5.0, GREEN), nullptr);
    EXPECT_EQ(chart.add_slice(L"zero", L"x", 0.0, GREEN), nullptr);
    EXPECT_EQ(chart.add_slice(L"negative", L"x", -2.0, GREEN), nullptr);
    EXPECT_EQ(chart.add_slice(L"nan", L"x", std::nan(""), GREEN), nullptr);
    EXPECT_EQ(chart.add_slice(L"inf", L"x", inf, GREEN), nullptr);
    EXPECT_EQ(chart.slices().size(), 2u);
    EXPECT_DOUBLE_EQ(chart.total(), 4.0);
    EXPECT_DOUBLE_EQ(red->fraction, 0.75);

    EXPECT_EQ(chart.find_slice(L"out"), red);
    EXPECT_EQ(chart.find_slice(L"missing"), nullptr);
    EXPECT_EQ(chart.find_slice(nullptr), nullptr);
    pie_slice* up = chart.add_slice(L"up", L"Up to date", 4.0, GREEN);
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(up->insertion, 2u);

    // Explode: a share of the top face's width; no slice, no explode.
    chart.set_pie_rect(60, 20, 165, 100);
    EXPECT_TRUE(chart.set_explode(red, 5));
    EXPECT_EQ(red->explode_offset, 5);  // 5 × 105 / 100
    EXPECT_TRUE(chart.set_explode(up, 250));
    EXPECT_EQ(up->explode_offset, 105);  // at most the whole width
    EXPECT_FALSE(chart.set_explode(nullptr, 5));
    pie_slice stranger;
    EXPECT_FALSE(chart.set_explode(&stranger, 5));

    // Clear starts over: numbers from 0, no total.
    chart.clear();
    EXPECT_TRUE(chart.slices().empty());
    EXPECT_DOUBLE_EQ(chart.total(), 0.0);
    pie_slice* again = chart.add_slice(L"out", L"Out of date", 1.0, RED);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->insertion, 0u);
    EXPECT_DOUBLE_EQ(again->fraction, 1.0);
    EXPECT_FLOAT_EQ(again->sweep, 360.0f);

    // A total that would no longer be a number is refused too.
    const double most = std::numeric_limits<double>::max();
    ASSERT_NE(chart.add_slice(L"huge", L"x", most, GREEN), nullptr);
    EXPECT_EQ(chart.add_slice(L"huger", L"x", most, GREEN), nullptr);
    EXPECT_DOUBLE_EQ(chart.total(), most);
    for (const auto& [n, s] : chart.slices()) EXPECT_TRUE(std::isfinite(s.fraction));
}

TEST(PieChart, FractionsAndSweepsCoverTheWholePie) {
    CPieChart chart;
    const double values[] = {3, 2, 5, 0.25, 1e6, 7.5};
    for (int i = 0; i < 6; ++i)
        ASSERT_NE(chart.add_slice(std::to_wstring(i).c_str(), L"", values[i], RED), nullptr);
    double fractions = 0.0, sweeps = 0.0;
    for (const auto& [n, s] : chart.slices()) {
        EXPECT_DOUBLE_EQ(s.fraction, s.value / chart.total());
        EXPECT_NEAR(s.sweep, s.fraction * 360.0, 1e-3);
        fractions += s.fraction;
        sweeps += s.sweep;
    }
    EXPECT_NEAR(fractions, 1.0, 1e-12);
    EXPECT_NEAR(sweeps, 360.0, 1e-3);
}

TEST(PieChart, TiltThicknessAndStyle) {
    CPieChart chart;
    chart.set_tilt(35);
    EXPECT_DOUBLE_EQ(chart.tilt(), 35.0);
    chart.set_tilt(120);
    EXPECT_DOUBLE_EQ(chart.tilt(), 89.0);
    chart.set_tilt(-5);
    EXPECT_DOUBLE_EQ(chart.tilt(), 0.0);
    chart.set_tilt(std::nan(""));
    EXPECT_DOUBLE_EQ(chart.tilt(), 0.0);

    // Thickness: pixels / ((height × 89) / 180), the denominator in integers.
    chart.set_pie_rect(60, 20, 165, 100);
    EXPECT_DOUBLE_EQ(chart.thickness_ratio(), 0.5);
    EXPECT_TRUE(chart.set_thickness(50));
    EXPECT_DOUBLE_EQ(chart.thickness_ratio(), 50.0 / 39.0);
    EXPECT_FALSE(chart.set_thickness(-1));
    EXPECT_DOUBLE_EQ(chart.thickness_ratio(), 50.0 / 39.0);
    EXPECT_TRUE(chart.set_thickness(0));
    EXPECT_DOUBLE_EQ(chart.thickness_ratio(), 0.0);
    // A pie too low to tilt has no thickness (no division by zero).
    chart.set_pie_rect(0, 0, 100, 2);
    EXPECT_FALSE(chart.set_thickness(10));
    EXPECT_LT(pie_thickness_ratio(10, 0), 0.0);

    // Only the tilted pie is drawn; other styles are refused.
    EXPECT_FALSE(chart.set_style(0));
    EXPECT_FALSE(chart.set_style(1));
    EXPECT_FALSE(chart.set_style(3));
    EXPECT_TRUE(chart.set_style(2));
    EXPECT_EQ(chart.style(), 2);
}

TEST(PieChart, TiltedEllipses) {
    // The download page's pie: (60, 20) – (165, 100), tilt 35, 50 px thick.
    pie_ellipses e = pie_tilted_ellipses(RECT{60, 20, 165, 100}, 35, 50.0 / 39.0);
    // c = 80 × 35 / 180 = 15; lift = 15 × 1.28 / 2 = 9.
    EXPECT_EQ(e.flat.top, 35);
    EXPECT_EQ(e.flat.bottom, 85);
    EXPECT_EQ(e.flat.left, 60);
    EXPECT_EQ(e.flat.right, 165);
    EXPECT_EQ(e.lift, 9);
    EXPECT_EQ(e.top.top, 26);
    EXPECT_EQ(e.top.bottom, 76);
    EXPECT_EQ(e.bottom.top, 44);
    EXPECT_EQ(e.bottom.bottom, 94);
    EXPECT_EQ(e.rim_height(), 18);

    // Flat pie: no tilt, no rim; the tilt is clamped here too.
    e = pie_tilted_ellipses(RECT{0, 0, 100, 100}, 0, 0.5);
    EXPECT_EQ(e.top.top, 0);
    EXPECT_EQ(e.top.bottom, 100);
    EXPECT_EQ(e.rim_height(), 0);
    e = pie_tilted_ellipses(RECT{0, 0, 180, 180}, 400, 0.0);
    EXPECT_EQ(e.flat.top, 89);
    EXPECT_EQ(e.flat.bottom, 91);
}

TEST(PieChart, ComputedPieRectangle) {
    // Height is the smaller side: a square from the top-left corner.
    RECT r = pie_computed_rect(RECT{0, 0, 600, 400}, 400, 0);
    EXPECT_EQ(r.left, 30);
    EXPECT_EQ(r.top, 100);
    EXPECT_EQ(r.right, 300);
    EXPECT_EQ(r.bottom, 370);
    // Width is the smaller side: centred vertically.
    r = pie_computed_rect(RECT{0, 0, 300, 500}, 200, 0);
    EXPECT_EQ(r.right - r.left, 160);
    EXPECT_EQ(r.top, 100 + (370 - 160) / 2);
    EXPECT_EQ(r.bottom - r.top, 160);
    // An odd side grows by one; the side is at least 150; the offset moves
    // it right.
    r = pie_computed_rect(RECT{0, 0, 300, 500}, 201, 7);
    EXPECT_EQ(r.right - r.left, 162);
    EXPECT_EQ(r.left, 37);
    r = pie_computed_rect(RECT{0, 0, 50, 50}, 180, 0);
    EXPECT_EQ(r.right - r.left, 150);
    EXPECT_EQ(r.bottom - r.top, 150);
}

TEST(PieChart, ProjectedAngles) {
    // Round: nothing moves.
    for (double a : {0.0, 30.0, 135.0, 300.0})
        EXPECT_NEAR(pie_projected_angle(a, 100, 100), a, 1e-9);
    // Twice as wide as tall: the quarters stay, the angles between flatten.
    EXPECT_NEAR(pie_projected_angle(90, 200, 100), 90.0, 1e-9);
    EXPECT_NEAR(pie_projected_angle(270, 200, 100), 270.0, 1e-9);
    const double flattened = std::atan(0.5) * 180.0 / 3.14159265358979323846;
    EXPECT_NEAR(pie_projected_angle(45, 200, 100), flattened, 1e-9);
    EXPECT_NEAR(pie_projected_angle(-45, 200, 100), 360.0 - flattened, 1e-9);

    std::vector<pie_span> spans = pie_projected_spans(0.0, {108.0f, 72.0f, 180.0f}, 240, 148);
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_FLOAT_EQ(spans[0].start, 0.0f);
    EXPECT_NEAR(spans[0].start + spans[0].sweep, pie_projected_angle(108, 240, 148), 1e-4);
    EXPECT_NEAR(spans[2].start, 180.0, 1e-4);
    EXPECT_NEAR(spans[0].sweep + spans[1].sweep + spans[2].sweep, 360.0, 1e-3);
    // A whole pie keeps 360, a sliver stays a sliver.
    spans = pie_projected_spans(37.0, {360.0f}, 240, 40);
    EXPECT_FLOAT_EQ(spans[0].sweep, 360.0f);
    spans = pie_projected_spans(0.0, {359.9999f, 0.0001f}, 240, 40);
    EXPECT_GT(spans[0].sweep, 359.0f);
    EXPECT_LT(spans[1].sweep, 1.0f);

    // Points on an ellipse by polar angle.
    pie_point p = pie_ellipse_point(RECT{0, 0, 200, 100}, 90);
    EXPECT_NEAR(p.x, 100.0f, 1e-3);
    EXPECT_NEAR(p.y, 100.0f, 1e-3);
    p = pie_ellipse_point(RECT{0, 0, 200, 100}, 180);
    EXPECT_NEAR(p.x, 0.0f, 1e-3);
    EXPECT_NEAR(p.y, 50.0f, 1e-3);
}

TEST(PieChart, BackToFrontOrder) {
    // Four quarters from 0°: back is the fourth (270 … 360), front the
    // second (90 … 180); then the third (left), the first (right).
    std::vector<pie_span> quarters = {{0, 90}, {90, 90}, {180, 90}, {270, 90}};
    pie_front_back fb = pie_find_front_back(quarters);
    EXPECT_EQ(fb.front, 1);
    EXPECT_EQ(fb.back, 3);
    EXPECT_EQ(slices_of(pie_draw_order(quarters)), (std::vector<std::size_t>{3, 2, 0, 1}));

    // A slice crossing the front (30 … 150) is drawn last, the back slice
    // (270 … 30) first.
    std::vector<pie_span> thirds = {{30, 120}, {150, 120}, {270, 120}};
    EXPECT_EQ(slices_of(pie_draw_order(thirds)), (std::vector<std::size_t>{2, 1, 0}));

    // Six slices from 200°: the walks go both ways round from the back.
    std::vector<pie_span> six = {{200, 60}, {260, 60}, {320, 60}, {20, 60}, {80, 60}, {140, 60}};
    fb = pie_find_front_back(six);
    EXPECT_EQ(fb.back, 1);
    EXPECT_EQ(fb.front, 4);
    EXPECT_EQ(slices_of(pie_draw_order(six)), (std::vector<std::size_t>{1, 0, 5, 2, 3, 4}));
    for (const pie_draw_step& s : pie_draw_order(six)) EXPECT_EQ(s.parts, unsigned{PIE_ALL_PARTS});

    // One slice of 100 %: its cut faces first, its rim and top last.
    std::vector<pie_draw_step> whole = pie_draw_order({{0, 360}});
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[0].parts, unsigned{PIE_CUT_FACES});
    EXPECT_EQ(whole[1].parts, unsigned{PIE_RIM | PIE_TOP});

    // A slice covering front and back, starting on the right: the walk to
    // higher numbers only.
    std::vector<pie_draw_step> big = pie_draw_order({{80, 220}, {300, 40}, {340, 100}});
    EXPECT_EQ(slices_of(big), (std::vector<std::size_t>{0, 1, 2, 0}));
    EXPECT_EQ(big.front().parts, unsigned{PIE_CUT_FACES});
    EXPECT_EQ(big.back().parts, unsigned{PIE_RIM | PIE_TOP});
    // Starting on the left: the walk to lower numbers only.
    big = pie_draw_order({{100, 355}, {95, 2}, {97, 3}});
    EXPECT_EQ(slices_of(big), (std::vector<std::size_t>{0, 2, 1, 0}));

    // No slice covers the front (degenerate angles): every slice, in order.
    EXPECT_EQ(slices_of(pie_draw_order({{0, 0}, {0, 0}})), (std::vector<std::size_t>{0, 1}));
    EXPECT_TRUE(pie_draw_order({}).empty());
}

TEST(PieChart, VisibleRimsAndCutFaces) {
    auto segments = [](float start, float sweep) {
        std::vector<std::pair<float, float>> out;
        for (const pie_span& s : pie_front_rim_segments({start, sweep}))
            out.push_back({s.start, s.sweep});
        return out;
    };
    using v = std::vector<std::pair<float, float>>;
    EXPECT_EQ(segments(30, 120), (v{{30, 120}}));
    EXPECT_EQ(segments(150, 60), (v{{150, 30}}));
    EXPECT_EQ(segments(200, 60), v{});
    EXPECT_EQ(segments(300, 120), (v{{360, 60}}));
    EXPECT_EQ(segments(170, 200), (v{{170, 10}, {360, 10}}));
    EXPECT_EQ(segments(0, 360), (v{{0, 180}}));

    // Start faces can be seen on the left half, end faces on the right.
    EXPECT_TRUE(pie_start_face_visible(120));
    EXPECT_TRUE(pie_start_face_visible(250));
    EXPECT_FALSE(pie_start_face_visible(30));
    EXPECT_FALSE(pie_start_face_visible(300));
    EXPECT_TRUE(pie_end_face_visible(30));
    EXPECT_TRUE(pie_end_face_visible(300));
    EXPECT_FALSE(pie_end_face_visible(200));
}

TEST(PieChart, LegendLayoutAndScrolling) {
    EXPECT_EQ(pie_legend::left_for(300), 200);
    EXPECT_EQ(pie_legend::left_for(200), 180);

    pie_legend l;
    l.items = 12;
    l.size_for(150);
    EXPECT_EQ(l.item_height, 10);
    EXPECT_EQ(l.item_gap, 7);
    EXPECT_EQ(l.height(), 12 * 17 - 7);
    EXPECT_TRUE(l.needs_scroll());
    EXPECT_EQ(l.max_position(), 197 - 150 + 1);
    EXPECT_EQ(l.fitting_items(), 9);
    EXPECT_EQ(pie_legend::left_for(3000), 2000);
    l.size_for(600);  // large pies keep entries at most 25 tall, 18 apart
    EXPECT_EQ(l.item_height, 25);
    EXPECT_EQ(l.item_gap, 18);
    l.size_for(150);

    l.set_position(17);
    EXPECT_EQ(l.first_visible, 1);
    l.set_position(-4);
    EXPECT_EQ(l.position, 0);
    EXPECT_EQ(l.first_visible, 0);
    // The end of the range shows the last entry whole, although 48 / 17
    // alone would leave it out.
    l.set_position(1000);
    EXPECT_EQ(l.position, 48);
    EXPECT_EQ(l.first_visible, 3);
    EXPECT_EQ(l.first_visible + l.fitting_items(), l.items);

    EXPECT_EQ(pie_legend_scroll_request(SB_LINEDOWN, 10, 0, l), 27);
    EXPECT_EQ(pie_legend_scroll_request(SB_LINEUP, 10, 0, l), -7);
    EXPECT_EQ(pie_legend_scroll_request(SB_PAGEDOWN, 10, 0, l), 160);
    EXPECT_EQ(pie_legend_scroll_request(SB_PAGEUP, 10, 0, l), -140);
    EXPECT_EQ(pie_legend_scroll_request(SB_THUMBTRACK, 10, 33, l), 33);
    EXPECT_EQ(pie_legend_scroll_request(SB_THUMBPOSITION, 10, 34, l), 34);
    EXPECT_EQ(pie_legend_scroll_request(SB_ENDSCROLL, 10, 34, l), 10);

    // A legend that fits does not scroll.
    l.items = 3;
    l.set_position(30);
    EXPECT_FALSE(l.needs_scroll());
    EXPECT_EQ(l.position, 0);
    // A pie area too low for entries: no division by zero.
    l.size_for(10);
    EXPECT_EQ(l.step(), 1);
    l.set_position(5);
    EXPECT_EQ(l.first_visible, 0);
}

TEST(PieChart, GdiplusStartsOnceAndStopsAfterTheLastUser) {
    ASSERT_EQ(gdiplus_users(), 0);
    ASSERT_TRUE(gdiplus_acquire());
    ASSERT_TRUE(gdiplus_acquire());
    EXPECT_TRUE(gdiplus_running());
    EXPECT_EQ(gdiplus_users(), 2);
    gdiplus_release();
    EXPECT_TRUE(gdiplus_running());  // kept between users
    gdiplus_shutdown();
    EXPECT_TRUE(gdiplus_running());  // a user is left
    gdiplus_release();
    EXPECT_FALSE(gdiplus_running());
    // Started again by a later user.
    ASSERT_TRUE(gdiplus_acquire());
    EXPECT_TRUE(gdiplus_running());
    gdiplus_release();
    gdiplus_shutdown();
    EXPECT_FALSE(gdiplus_running());
}

// --- Real windows --------------------------------------------------------------

namespace {

struct chart_host : window_base_c {
    bool process_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
};

class PieChartWindow : public ::testing::Test {
protected:
    void open(int x, int y, int width, int height) {
        window_base_c::register_class(L"QuillmarkTest.PieHost", 0,
                                      static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ASSERT_NE(host.create(L"QuillmarkTest.PieHost", WS_EX_TOOLWINDOW,
                              WS_POPUP | WS_CLIPCHILDREN, L"", x, y, width, height, nullptr),
                  nullptr);
        ASSERT_NE(chart.create(host.handle(), L"Pie Chart", 0, 0, width, height), nullptr);
        ShowWindow(host.handle(), SW_SHOWNOACTIVATE);
        pump_messages(50);
    }
    picture shot() {
        InvalidateRect(chart.handle(), nullptr, FALSE);
        return capture_window(host.handle());
    }
    POINT px(float x, float y) const {
        return POINT{static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
    }

    chart_host host;  // destroyed last: the chart is its child
    CPieChart chart;
};

std::wstring sidebar_label(const char* key, int count) {
    wchar_t text[128];
    swprintf(text, 128, text_for(key).c_str(), count);
    return text;
}

// The download page's three slices: out of date, no driver, up to date.
void add_page_slices(CPieChart& chart, int out, int none, int up, int explode) {
    chart.clear();
    const struct {
        const char* key;
        int count;
        uint32_t color;
    } slices[] = {{"sidebar_out_of_date", out, RED},
                  {"sidebar_no_driver", none, YELLOW},
                  {"sidebar_up_to_date", up, GREEN}};
    for (const auto& s : slices) {
        pie_slice* added = chart.add_slice(text_for(s.key).c_str(),
                                           sidebar_label(s.key, s.count).c_str(), s.count, s.color);
        ASSERT_NE(added, nullptr);
        chart.set_explode(added, explode);
    }
}

}  // namespace

TEST_F(PieChartWindow, CreatedAsTheControlIsDescribed) {
    ASSERT_NO_FATAL_FAILURE(open(100, 500, 229, 110));
    HWND w = chart.handle();
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(GetWindowLongW(w, GWL_STYLE) & WS_CHILD);
    EXPECT_TRUE(GetWindowLongW(w, GWL_STYLE) & WS_CLIPCHILDREN);
    wchar_t caption[32] = {};
    GetWindowTextW(w, caption, 32);
    EXPECT_STREQ(caption, L"Pie Chart");
    EXPECT_TRUE(gdiplus_running());
    EXPECT_EQ(gdiplus_users(), 1);
    // The legend's scroll bar: hidden while nothing needs scrolling.
    HWND bar = chart.scroll_bar();
    ASSERT_NE(bar, nullptr);
    wchar_t cls[32] = {};
    GetClassNameW(bar, cls, 32);
    EXPECT_EQ(lstrcmpiW(cls, L"SCROLLBAR"), 0);
    EXPECT_FALSE(IsWindowVisible(bar));
    EXPECT_EQ(chart.legend().left, 180);  // max(229 × 2 / 3, 180)
    // Destroying the window lets GDI+ go.
    DestroyWindow(w);
    EXPECT_EQ(gdiplus_users(), 0);
}

TEST_F(PieChartWindow, PaintsTopFacesRimsAndCutFaces) {
    ASSERT_NO_FATAL_FAILURE(open(100, 420, 300, 300));
    const COLORREF background = RGB(236, 233, 216);
    chart.set_background_color(background);
    chart.set_show_labels(false);
    chart.set_pie_rect(20, 40, 260, 280);
    chart.set_tilt(35);
    ASSERT_TRUE(chart.set_thickness(40));

    // Empty: only the background.
    picture empty = shot();
    EXPECT_FALSE(empty.contains({0, 0, 300, 300}, RGB(0, 0, 0)));
    for (POINT p : {POINT{140, 160}, POINT{5, 5}, POINT{290, 290}})
        EXPECT_EQ(empty.at(p.x, p.y), background);

    add_page_slices(chart, 3, 2, 5, 0);
    const pie_ellipses e = chart.ellipses();
    ASSERT_EQ(e.top.top, 79);  // c = 46, lift = 7
    ASSERT_EQ(e.rim_height(), 14);
    const int cx = (e.top.left + e.top.right) / 2;
    const int cy = (e.top.top + e.top.bottom) / 2;
    const pie_slice& red = chart.slices().at(0);
    const pie_slice& yellow = chart.slices().at(1);

    // Green (180 … 360 before the tilt) is the back slice. Its cut faces,
    // hanging down from the centre line, are drawn first and covered by the
    // top faces of red and yellow in front of it.
    picture p = shot();
    EXPECT_TRUE(between(p.at(cx - 50, cy + 7), yellow.dark_color, yellow.light_color));
    EXPECT_TRUE(between(p.at(cx + 50, cy + 7), red.dark_color, red.light_color));

    // Exploded, it opens its two cut faces.
    pie_slice* green = chart.find_slice(text_for("sidebar_up_to_date").c_str());
    ASSERT_NE(green, nullptr);
    ASSERT_TRUE(chart.set_explode(green, 10));
    EXPECT_EQ(green->explode_offset, 24);
    p = shot();
    save_screenshot(p, L"pie_chart_faces");

    // The middle of each slice's top face shows that slice's gradient.
    for (const auto& [n, s] : chart.slices()) {
        SCOPED_TRACE(n);
        POINT at = px(s.label_x, s.label_y);
        EXPECT_TRUE(between(p.at(at.x, at.y), s.dark_color, s.light_color));
        EXPECT_NE(p.at(at.x, at.y), background);
    }
    // Red crosses the front: its rim, under the top face's lowest point,
    // runs from the dark colour to the base colour.
    EXPECT_TRUE(between(p.at(cx, e.top.bottom + 7), red.dark_color, red.base_color));
    EXPECT_EQ(p.at(cx, e.bottom.bottom + 3), background);  // nothing below the rim
    // Green, pushed 24 px up, shows its cut faces below its top face on
    // both sides of the centre: solid light green.
    EXPECT_EQ(p.at(cx - 50, cy - 24 + 7), rgb_of(green->light_color));
    EXPECT_EQ(p.at(cx + 50, cy - 24 + 7), rgb_of(green->light_color));
    // Between the cut faces and the slices in front, the background.
    EXPECT_EQ(p.at(cx - 50, cy - 3), background);
    // Labels are off: no text on the pie (the legend at its right has some).
    EXPECT_FALSE(p.contains({0, 0, chart.legend().left, 300}, RGB(0, 0, 0)));
    EXPECT_TRUE(p.contains({chart.legend().left, 0, 300, 300}, RGB(0, 0, 0)));

    // Labels on: black percentages on the slices.
    chart.set_show_labels(true);
    p = shot();
    for (const auto& [n, s] : chart.slices()) {
        POINT at = px(s.label_x, s.label_y);
        EXPECT_TRUE(p.contains({at.x - 20, at.y - 8, at.x + 20, at.y + 8}, RGB(0, 0, 0))) << n;
    }
    save_screenshot(p, L"pie_chart_faces_labels");
}

TEST_F(PieChartWindow, OneSliceIsAWholeDisc) {
    ASSERT_NO_FATAL_FAILURE(open(100, 420, 300, 300));
    chart.set_background_color(RGB(255, 255, 255));
    chart.set_show_labels(false);
    chart.set_pie_rect(20, 40, 260, 280);
    chart.set_tilt(35);
    ASSERT_TRUE(chart.set_thickness(40));
    pie_slice* only = chart.add_slice(L"all", L"All", 7, GREEN);
    ASSERT_NE(only, nullptr);
    picture p = shot();
    EXPECT_FLOAT_EQ(only->projected_sweep, 360.0f);
    const pie_ellipses e = chart.ellipses();
    const int cx = (e.top.left + e.top.right) / 2, cy = (e.top.top + e.top.bottom) / 2;
    // Top face all round the centre, no cut face line through it, rim below.
    for (POINT at : {POINT{cx, cy}, POINT{e.top.left + 6, cy}, POINT{e.top.right - 6, cy},
                     POINT{cx, e.top.top + 4}, POINT{cx + 40, cy}, POINT{cx + 40, cy + 1}})
        EXPECT_TRUE(between(p.at(at.x, at.y), only->dark_color, only->light_color))
            << at.x << "," << at.y;
    EXPECT_TRUE(between(p.at(cx, e.top.bottom + 7), only->dark_color, only->base_color));
    EXPECT_TRUE(between(p.at(e.top.left + 3, cy + 23), only->dark_color, only->base_color));
    save_screenshot(p, L"pie_chart_whole");
}

TEST_F(PieChartWindow, DownloadPageChart) {
    // As the download page sets it up, at its size, and a larger copy with
    // labels to look at.
    ASSERT_NO_FATAL_FAILURE(open(100, 420, 229, 110));
    chart.set_background_color(GetSysColor(COLOR_BTNFACE));
    chart.set_show_labels(false);
    chart.set_tilt(35);
    chart.set_thickness(50);
    chart.set_pie_rect(60, 20, 165, 100);
    add_page_slices(chart, 4, 3, 3, 5);
    picture p = shot();
    save_screenshot(p, L"pie_chart_download_page");
    for (const auto& [n, s] : chart.slices()) {
        POINT at = px(s.label_x, s.label_y);
        EXPECT_TRUE(between(p.at(at.x, at.y), s.dark_color, s.light_color)) << n;
    }
    // The entries would be 5 px tall: no legend is drawn, and the right of
    // the control stays empty.
    EXPECT_LT(chart.legend().item_height, PIE_MIN_LEGEND_ITEM_HEIGHT);
    for (int x = 175; x < 229; x += 4)
        for (int y = 0; y < 110; y += 4)
            ASSERT_EQ(p.at(x, y), GetSysColor(COLOR_BTNFACE)) << x << "," << y;

    MoveWindow(host.handle(), 100, 420, 460, 300, TRUE);
    MoveWindow(chart.handle(), 0, 0, 460, 300, TRUE);
    chart.set_pie_rect(20, 30, 280, 250);
    chart.set_show_labels(true);
    add_page_slices(chart, 4, 3, 3, 5);
    save_screenshot(shot(), L"pie_chart_download_page_large");
}

TEST(PieChart, ImageTypeFromTheFileName) {
    std::wstring mime;
    EXPECT_TRUE(pie_image_mime_type(L"C:\\out\\chart.PNG", mime));
    EXPECT_EQ(mime, L"image/png");
    EXPECT_TRUE(pie_image_mime_type(L"chart.jpg", mime));
    EXPECT_EQ(mime, L"image/jpeg");
    EXPECT_TRUE(pie_image_mime_type(L"chart.tif", mime));
    EXPECT_EQ(mime, L"image/tiff");
    EXPECT_FALSE(pie_image_mime_type(L"C:\\out.v2\\chart", mime));
    EXPECT_FALSE(pie_image_mime_type(L"chart.", mime));
    EXPECT_FALSE(pie_image_mime_type(nullptr, mime));
}

TEST_F(PieChartWindow, SavesWhatItShows) {
    ASSERT_NO_FATAL_FAILURE(open(100, 420, 229, 110));
    chart.set_pie_rect(60, 20, 165, 100);
    chart.set_tilt(35);
    add_page_slices(chart, 4, 3, 3, 5);
    const std::wstring folder = QM_BINARY_DIR_W L"\\screenshots\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    auto head = [](const std::wstring& path) {
        std::string bytes(8, '\0');
        FILE* f = _wfopen(path.c_str(), L"rb");
        if (!f) return std::string();
        bytes.resize(fread(&bytes[0], 1, bytes.size(), f));
        fclose(f);
        return bytes;
    };
    const std::wstring png = folder + L"pie_chart_export.png";
    const std::wstring bmp = folder + L"pie_chart_export.BMP";
    const std::wstring other = folder + L"pie_chart_export.xyz";
    DeleteFileW(png.c_str());
    DeleteFileW(bmp.c_str());
    EXPECT_TRUE(chart.save_image(png.c_str()));
    EXPECT_EQ(head(png), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_TRUE(chart.save_image(bmp.c_str()));
    EXPECT_EQ(head(bmp).substr(0, 2), "BM");
    DeleteFileW(bmp.c_str());
    EXPECT_FALSE(chart.save_image(other.c_str()));
    EXPECT_EQ(GetFileAttributesW(other.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(chart.save_image((folder + L"no such folder\\chart.png").c_str()));
}

namespace {

const uint32_t many_colors[] = {0xFFE6194B, 0xFF3CB44B, 0xFFFFE119, 0xFF4363D8, 0xFFF58231,
                                0xFF911EB4, 0xFF46F0F0, 0xFFF032E6, 0xFFBCF60C, 0xFFFABEBE,
                                0xFF008080, 0xFFE6BEFF, 0xFF9A6324, 0xFF800000};
constexpr int MANY = 14;

void add_many_slices(CPieChart& chart) {
    for (int i = 0; i < MANY; ++i) {
        std::wstring name = L"Class " + std::to_wstring(i + 1);
        ASSERT_NE(chart.add_slice(name.c_str(), name.c_str(), MANY - i, many_colors[i]), nullptr);
    }
}

}  // namespace

TEST_F(PieChartWindow, ComputedLayoutScrollsAnOverflowingLegend) {
    ASSERT_NO_FATAL_FAILURE(open(100, 420, 460, 400));
    chart.set_background_color(RGB(255, 255, 255));
    chart.set_tilt(40);
    ASSERT_TRUE(chart.set_thickness(60));
    ASSERT_NO_FATAL_FAILURE(add_many_slices(chart));
    // Client 460 × 400: the pie (30, 102) – (296, 368), entries 17 tall and
    // 13 apart: 407 px of legend in 266, and the scroll bar beside it.
    const pie_legend& l = chart.legend();
    const RECT pie = chart.pie_rect();
    EXPECT_EQ(pie.left, 30);
    EXPECT_EQ(pie.top, 102);
    EXPECT_EQ(pie.bottom - pie.top, 266);
    EXPECT_EQ(l.left, 306);
    EXPECT_EQ(l.step(), 30);
    EXPECT_TRUE(l.needs_scroll());
    HWND bar = chart.scroll_bar();
    EXPECT_TRUE(IsWindowVisible(bar));
    RECT br{};
    GetWindowRect(bar, &br);
    MapWindowPoints(nullptr, chart.handle(), reinterpret_cast<POINT*>(&br), 2);
    EXPECT_EQ(br.left, 440);
    EXPECT_EQ(br.right, 460);
    EXPECT_EQ(br.top, 102);
    EXPECT_EQ(br.bottom, 368);
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(bar, SB_CTL, &info);
    EXPECT_EQ(info.nMax, 407);
    EXPECT_EQ(info.nPage, 266u);
    picture p = shot();
    EXPECT_EQ(p.at(l.left + 8, pie.top + 8), rgb_of(many_colors[0]));
    save_screenshot(p, L"pie_chart_many_slices");

    // Made large enough for its legend (a pie 626 px tall, 584 px of
    // legend), the chart hides the bar.
    MoveWindow(host.handle(), 100, 420, 1000, 1000, TRUE);
    MoveWindow(chart.handle(), 0, 0, 1000, 1000, TRUE);
    EXPECT_EQ(chart.pie_rect().bottom - chart.pie_rect().top, 626);
    EXPECT_FALSE(l.needs_scroll());
    EXPECT_FALSE(IsWindowVisible(bar));
}

TEST_F(PieChartWindow, RealPointerScrollsTheLegend) {
    pointer_lock pointer;
    // In the top band of the screen while the pointer is ours.
    ASSERT_NO_FATAL_FAILURE(open(20, 5, 460, 200));
    chart.set_background_color(RGB(255, 255, 255));
    chart.set_pie_rect(20, 10, 200, 190);
    chart.set_tilt(40);
    ASSERT_TRUE(chart.set_thickness(60));
    ASSERT_NO_FATAL_FAILURE(add_many_slices(chart));
    const uint32_t* colors = many_colors;
    // Entries 12 tall and 9 apart: 285 px of legend in 180.
    const pie_legend& l = chart.legend();
    const RECT pie = chart.pie_rect();
    ASSERT_EQ(l.step(), 21);
    ASSERT_EQ(l.max_position(), 106);
    HWND bar = chart.scroll_bar();
    ASSERT_TRUE(IsWindowVisible(bar));
    RECT br{};
    GetWindowRect(bar, &br);

    // The first entry's swatch shows the first slice's colour.
    auto swatch = [&](const picture& p) { return p.at(l.left + 6, pie.top + 6); };
    picture before = shot();
    EXPECT_EQ(swatch(before), rgb_of(colors[0]));
    EXPECT_TRUE(before.contains({l.left + 14, pie.top, 438, pie.top + 12}, RGB(0, 0, 0)));

    // A click on the down arrow moves one entry.
    const int arrow = GetSystemMetrics(SM_CYVSCROLL);
    drive_pointer(
        pointer_click(POINT{br.left + 10, br.bottom - arrow / 2}), [&] { return l.position == 21; },
        "click the legend's down arrow");
    EXPECT_EQ(l.first_visible, 1);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), 21);
    EXPECT_EQ(swatch(shot()), rgb_of(colors[1]));

    // Dragging the thumb to the bottom brings the last entry into view.
    SCROLLBARINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetScrollBarInfo(bar, OBJID_CLIENT, &info));
    POINT thumb{br.left + 10, br.top + (info.xyThumbTop + info.xyThumbBottom) / 2};
    // Past the bar's end, but not so far that the thumb springs back.
    drive_pointer(
        pointer_drag(thumb, POINT{thumb.x, br.bottom + 10}),
        [&] { return l.position == l.max_position(); }, "drag the legend's thumb");
    EXPECT_EQ(l.first_visible, MANY - l.fitting_items());
    picture scrolled = shot();
    const int last_row = pie.top + (MANY - 1 - l.first_visible) * l.step();
    EXPECT_EQ(scrolled.at(l.left + 6, last_row + 6), rgb_of(colors[MANY - 1]));
    save_screenshot(scrolled, L"pie_chart_legend_scrolled");

    // Clearing the chart resets the legend and hides the bar.
    chart.clear();
    EXPECT_EQ(l.position, 0);
    EXPECT_FALSE(IsWindowVisible(bar));
}
