#include "ui/pie_chart.h"

#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>

#include "ui/gdiplus_session.h"

namespace {

constexpr double PI = 3.14159265358979323846;

double radians(double degrees) { return degrees * PI / 180.0; }

// How far a slice moves out along its middle angle.
pie_point explode_shift(double middle, int offset) {
    return pie_point{static_cast<float>(std::cos(radians(middle)) * offset),
                     static_cast<float>(std::sin(radians(middle)) * offset)};
}

uint8_t channel(uint32_t color, int shift) { return static_cast<uint8_t>((color >> shift) & 0xFF); }

uint32_t argb(int a, int r, int g, int b) {
    return (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(r) << 16) |
           (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

// Applies `f` to the red, green and blue channels; alpha 255.
template <class F>
uint32_t map_channels(uint32_t base, F f) {
    return argb(255, f(channel(base, 16)), f(channel(base, 8)), f(channel(base, 0)));
}

}  // namespace

// --- Colours -----------------------------------------------------------------

uint32_t pie_light_color(uint32_t base) {
    return map_channels(
        base, [](int c) { return std::min(255, static_cast<int>(c + (255 - c) * 120.0 / 255.0)); });
}

uint32_t pie_dark_color(uint32_t base) {
    return map_channels(base,
                        [](int c) { return std::max(0, static_cast<int>(c - c * 10.0 / 255.0)); });
}

// --- Geometry ----------------------------------------------------------------

double clamp_pie_tilt(double degrees) {
    if (!(degrees > 0.0)) return 0.0;  // negative, zero or not a number
    return std::min(degrees, PIE_MAX_TILT);
}

pie_ellipses pie_tilted_ellipses(const RECT& pie, double tilt, double thickness_ratio) {
    pie_ellipses e;
    const int side = pie.bottom - pie.top;
    const int c = static_cast<int>(side * clamp_pie_tilt(tilt) / 180.0);
    e.flat = RECT{pie.left, pie.top + c, pie.right, pie.bottom - c};
    // The ratio comes from pie_thickness_ratio; the bound only keeps the
    // conversion defined.
    const double lift = std::clamp(c * thickness_ratio / 2.0, 0.0, 100000.0);
    e.lift = static_cast<int>(lift);
    e.top = e.flat;
    OffsetRect(&e.top, 0, -e.lift);
    e.bottom = e.flat;
    OffsetRect(&e.bottom, 0, e.lift);
    return e;
}

double pie_thickness_ratio(int pixels, int pie_height) {
    if (pixels < 0) return -1.0;
    const long long denominator = static_cast<long long>(pie_height) * 89 / 180;
    if (denominator <= 0) return -1.0;
    return pixels / static_cast<double>(denominator);
}

int pie_explode_offset(int percent, int top_width) {
    percent = std::clamp(percent, 0, 100);
    return static_cast<int>(static_cast<long long>(percent) * std::max(0, top_width) / 100);
}

RECT pie_computed_rect(const RECT& client, int legend_left, int horizontal_offset) {
    const int left = client.left + 30;
    const int top = client.top + 100;
    const int bottom = client.bottom - 30;
    const int width = legend_left - 10 - left;
    const int height = bottom - top;
    int side = std::max(std::min(width, height), 150);
    int y = top;
    if (width < height) y = top + (height - side) / 2;
    if (side % 2) ++side;
    const int x = left + horizontal_offset;
    return RECT{x, y, x + side, y + side};
}

double pie_normal_angle(double degrees) {
    if (!std::isfinite(degrees)) return 0.0;
    double a = std::fmod(degrees, 360.0);
    if (a < 0.0) a += 360.0;
    return a >= 360.0 ? 0.0 : a;
}

double pie_projected_angle(double degrees, int width, int height) {
    const double t = radians(degrees);
    return pie_normal_angle(std::atan2(std::sin(t) * height, std::cos(t) * width) * 180.0 / PI);
}

std::vector<pie_span> pie_projected_spans(double start_angle, const std::vector<float>& sweeps,
                                          int width, int height) {
    std::vector<pie_span> spans(sweeps.size());
    double boundary = start_angle;
    double projected = pie_projected_angle(boundary, width, height);
    for (std::size_t i = 0; i < sweeps.size(); ++i) {
        boundary += sweeps[i];
        const double next = pie_projected_angle(boundary, width, height);
        double sweep = pie_normal_angle(next - projected);
        // The projection keeps the order of angles, so a difference on the
        // far side of a turn is rounding: a sliver stays a sliver, a slice
        // of (nearly) the whole pie stays whole.
        if (sweeps[i] >= 360.0f || (sweeps[i] > 270.0f && sweep < 90.0))
            sweep = 360.0;
        else if (sweeps[i] < 90.0f && sweep > 270.0)
            sweep = 0.0;
        spans[i].start = static_cast<float>(projected);
        spans[i].sweep = static_cast<float>(sweep);
        projected = next;
    }
    return spans;
}

pie_front_back pie_find_front_back(const std::vector<pie_span>& spans) {
    pie_front_back found;
    if (spans.empty()) return found;
    auto covers = [](double a, double s, double at) {
        return (a <= at && a + s > at) || (a >= at && a + s - 360.0 > at);
    };
    double a = pie_normal_angle(spans[0].start);
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const double s = spans[i].sweep;
        if (covers(a, s, 90.0)) found.front = static_cast<int>(i);
        if (covers(a, s, 270.0)) found.back = static_cast<int>(i);
        a += s;
        if (a >= 360.0) a -= 360.0;
    }
    return found;
}

std::vector<pie_draw_step> pie_draw_order(const std::vector<pie_span>& spans) {
    std::vector<pie_draw_step> order;
    const std::size_t n = spans.size();
    const pie_front_back fb = pie_find_front_back(spans);
    if (fb.front < 0 || fb.back < 0) {
        for (std::size_t i = 0; i < n; ++i) order.push_back({i, PIE_ALL_PARTS});
        return order;
    }
    const std::size_t front = static_cast<std::size_t>(fb.front);
    const std::size_t back = static_cast<std::size_t>(fb.back);
    auto lower = [n](std::size_t i) { return i == 0 ? n - 1 : i - 1; };
    auto higher = [n](std::size_t i) { return i + 1 == n ? 0 : i + 1; };

    bool walk_lower = true;
    bool walk_higher = true;
    if (front == back) {
        order.push_back({back, PIE_CUT_FACES});
        const double start = pie_normal_angle(spans[back].start);
        const bool right_side_start = start <= 90.0 || start > 270.0;
        walk_lower = !right_side_start;
        walk_higher = right_side_start;
    } else {
        order.push_back({back, PIE_ALL_PARTS});
    }
    if (walk_lower)
        for (std::size_t i = lower(back); i != front; i = lower(i))
            order.push_back({i, PIE_ALL_PARTS});
    if (walk_higher)
        for (std::size_t i = higher(back); i != front; i = higher(i))
            order.push_back({i, PIE_ALL_PARTS});
    order.push_back({front, front == back ? unsigned{PIE_RIM | PIE_TOP} : unsigned{PIE_ALL_PARTS}});
    return order;
}

std::vector<pie_span> pie_front_rim_segments(const pie_span& span) {
    std::vector<pie_span> segments;
    const double start = pie_normal_angle(span.start);
    const double end = start + std::clamp(static_cast<double>(span.sweep), 0.0, 360.0);
    // The front half, once and one turn later (a span may run past 360).
    for (double half : {0.0, 360.0}) {
        const double from = std::max(start, half);
        const double to = std::min(end, half + 180.0);
        if (to > from)
            segments.push_back({static_cast<float>(from), static_cast<float>(to - from)});
    }
    return segments;
}

// A radial face looks towards the start side (angle − 90°) or the end side
// (angle + 90°); the viewer is in front, at 90°.
bool pie_start_face_visible(double angle) { return std::cos(radians(angle)) < -1e-9; }
bool pie_end_face_visible(double angle) { return std::cos(radians(angle)) > 1e-9; }

pie_point pie_ellipse_point(const RECT& ellipse, double degrees) {
    const double a = (ellipse.right - ellipse.left) / 2.0;
    const double b = (ellipse.bottom - ellipse.top) / 2.0;
    const double cx = ellipse.left + a;
    const double cy = ellipse.top + b;
    const double t = radians(degrees);
    const double c = std::cos(t), s = std::sin(t);
    const double d = std::sqrt(b * c * b * c + a * s * a * s);
    const double r = d > 0.0 ? a * b / d : 0.0;
    return pie_point{static_cast<float>(cx + r * c), static_cast<float>(cy + r * s)};
}

// --- Legend ------------------------------------------------------------------

int pie_legend::step() const { return std::max(1, item_height + item_gap); }

int pie_legend::height() const {
    return items > 0 ? items * (item_height + item_gap) - item_gap : 0;
}

int pie_legend::max_position() const { return needs_scroll() ? height() - view_height + 1 : 0; }

int pie_legend::fitting_items() const { return std::max(1, (view_height + item_gap) / step()); }

void pie_legend::set_position(int p) {
    position = std::clamp(p, 0, max_position());
    first_visible = position / step();
    // Whole entries are drawn from the first visible one: at the end of the
    // range that must be the one that brings the last entry into view.
    if (needs_scroll() && position == max_position())
        first_visible = std::max(first_visible, items - fitting_items());
    first_visible = std::clamp(first_visible, 0, std::max(0, items - 1));
}

void pie_legend::size_for(int pie_height) {
    pie_height = std::max(0, pie_height);
    item_height = std::min(pie_height / 15, 25);
    item_gap = std::min(pie_height / 20, 18);
    view_height = pie_height;
    set_position(position);
}

int pie_legend::left_for(int client_width) { return std::max(client_width * 2 / 3, 180); }

int pie_legend_scroll_request(int code, int position, int track, const pie_legend& legend) {
    switch (code) {
    case SB_LINEUP: return position - legend.step();
    case SB_LINEDOWN: return position + legend.step();
    case SB_PAGEUP: return position - legend.view_height;
    case SB_PAGEDOWN: return position + legend.view_height;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: return track;
    default: return position;
    }
}

// --- The control: data ---------------------------------------------------------

CPieChart::~CPieChart() { release_gdiplus(); }

void CPieChart::release_gdiplus() {
    if (gdiplus_held_) gdiplus_release();
    gdiplus_held_ = false;
}

HWND CPieChart::create(HWND parent, const wchar_t* caption, int left, int top, int right,
                       int bottom) {
    if (!register_class(CLASS_NAME, 0, nullptr)) return nullptr;
    return window_base_c::create(CLASS_NAME, 0, WS_CHILD | WS_VISIBLE, caption ? caption : L"",
                                 left, top, right - left, bottom - top, parent);
}

RECT CPieChart::client_rect() const {
    RECT r{};
    if (window_) GetClientRect(window_, &r);
    return r;
}

RECT CPieChart::pie_rect() const {
    if (!IsRectEmpty(&pie_rect_)) return pie_rect_;
    return pie_computed_rect(client_rect(), legend_.left, 0);
}

pie_ellipses CPieChart::ellipses() const {
    return pie_tilted_ellipses(pie_rect(), tilt_, thickness_ratio_);
}

void CPieChart::repaint() {
    if (window_) InvalidateRect(window_, nullptr, FALSE);
}

void CPieChart::set_pie_rect(int left, int top, int right, int bottom) {
    pie_rect_ = RECT{left, top, right, bottom};
    update_layout();
    repaint();
}

void CPieChart::set_background_color(COLORREF color) {
    background_ = color;
    repaint();
}

void CPieChart::set_show_labels(bool show) {
    show_labels_ = show;
    repaint();
}

void CPieChart::set_tilt(double degrees) {
    tilt_ = clamp_pie_tilt(degrees);
    repaint();
}

bool CPieChart::set_thickness(int pixels) {
    const RECT pie = pie_rect();
    const double ratio = pie_thickness_ratio(pixels, pie.bottom - pie.top);
    if (ratio < 0.0) return false;
    thickness_ratio_ = ratio;
    repaint();
    return true;
}

bool CPieChart::set_style(int style) { return style == STYLE_TILTED; }

pie_slice* CPieChart::add_slice(const wchar_t* name, const wchar_t* label, double value,
                                uint32_t base_color) {
    if (!name || !*name || find_slice(name)) return nullptr;
    if (!(value > 0.0) || !std::isfinite(value) || !std::isfinite(total_ + value)) return nullptr;
    pie_slice s;
    s.value = value;
    s.base_color = base_color;
    s.light_color = pie_light_color(base_color);
    s.dark_color = pie_dark_color(base_color);
    s.name = name;
    s.label = label ? label : L"";
    s.insertion = next_insertion_++;
    pie_slice& added = slices_[s.insertion] = std::move(s);
    total_ += value;
    recompute_fractions();
    update_layout();
    repaint();
    return &added;
}

pie_slice* CPieChart::find_slice(const wchar_t* name) {
    if (!name) return nullptr;
    for (auto& [number, slice] : slices_)
        if (slice.name == name) return &slice;
    return nullptr;
}

bool CPieChart::set_explode(pie_slice* slice, int percent) {
    // Only a slice of this chart.
    auto it = std::find_if(slices_.begin(), slices_.end(),
                           [slice](const auto& entry) { return &entry.second == slice; });
    if (!slice || it == slices_.end()) return false;
    const RECT top = ellipses().top;
    slice->explode_offset = pie_explode_offset(percent, top.right - top.left);
    repaint();
    return true;
}

void CPieChart::clear() {
    slices_.clear();
    total_ = 0.0;
    next_insertion_ = 0;
    update_layout();
    repaint();
}

void CPieChart::recompute_fractions() {
    if (!(total_ > 0.0)) return;
    for (auto& [number, slice] : slices_) {
        slice.fraction = slice.value / total_;
        slice.sweep = static_cast<float>(slice.fraction * 360.0);
    }
}

void CPieChart::update_layout() {
    const RECT client = client_rect();
    if (window_) legend_.left = pie_legend::left_for(client.right - client.left);
    const RECT pie = pie_rect();
    legend_.items = static_cast<int>(slices_.size());
    legend_.size_for(pie.bottom - pie.top);
    if (!scroll_bar_) return;
    MoveWindow(scroll_bar_, client.right - legend_.scroll_width, pie.top, legend_.scroll_width,
               pie.bottom - pie.top, TRUE);
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = legend_.height();
    info.nPage = static_cast<UINT>(legend_.view_height);
    info.nPos = legend_.position;
    SetScrollInfo(scroll_bar_, SB_CTL, &info, TRUE);
    ShowWindow(scroll_bar_, legend_.needs_scroll() ? SW_SHOWNA : SW_HIDE);
}

void CPieChart::place_slices(const pie_ellipses& e) {
    std::vector<float> sweeps;
    for (const auto& entry : slices_) sweeps.push_back(entry.second.sweep);
    const RECT& top = e.top;
    const std::vector<pie_span> spans =
        pie_projected_spans(start_angle_, sweeps, top.right - top.left, top.bottom - top.top);
    // The labels sit on the top face shrunk by a tenth on each side.
    RECT inner = top;
    InflateRect(&inner, -(top.right - top.left) / 10, -(top.bottom - top.top) / 10);
    std::size_t i = 0;
    for (auto& [number, slice] : slices_) {
        slice.projected_start = spans[i].start;
        slice.projected_sweep = spans[i].sweep;
        const double middle = spans[i].start + spans[i].sweep / 2.0;
        const pie_point shift = explode_shift(middle, slice.explode_offset);
        const pie_point edge = pie_ellipse_point(top, middle);
        const pie_point anchor = pie_ellipse_point(inner, middle);
        slice.edge_x = edge.x + shift.x;
        slice.edge_y = edge.y + shift.y;
        slice.label_x = anchor.x + shift.x;
        slice.label_y = anchor.y + shift.y;
        ++i;
    }
}

// --- The control: drawing ------------------------------------------------------

namespace {

using Gdiplus::Color;
using Gdiplus::GraphicsPath;
using Gdiplus::PointF;
using Gdiplus::RectF;

Color with_alpha(uint32_t color, uint8_t alpha) {
    return Color(alpha, channel(color, 16), channel(color, 8), channel(color, 0));
}

RectF rect_f(const RECT& r) {
    return RectF(static_cast<float>(r.left), static_cast<float>(r.top),
                 static_cast<float>(r.right - r.left), static_cast<float>(r.bottom - r.top));
}

// Fills `path` with a vertical gradient from the top to the bottom of
// `bounds` and outlines it.
void fill_gradient(Gdiplus::Graphics& g, const GraphicsPath& path, RectF bounds,
                   const Color& top_color, const Color& bottom_color, const Gdiplus::Pen& pen) {
    // A gradient needs some height.
    if (bounds.Height < 1.0f) bounds.Height = 1.0f;
    if (bounds.Width < 1.0f) bounds.Width = 1.0f;
    Gdiplus::LinearGradientBrush brush(bounds, top_color, bottom_color,
                                       Gdiplus::LinearGradientModeVertical);
    brush.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    g.FillPath(&brush, &path);
    g.DrawPath(&pen, &path);
}

// One slice's parts (of `parts`), already moved out by its explode offset.
void draw_slice_parts(Gdiplus::Graphics& g, const pie_slice& s, const pie_ellipses& e,
                      unsigned parts) {
    const Color light = with_alpha(s.light_color, s.alpha);
    const Color dark = with_alpha(s.dark_color, s.alpha);
    const Color base = with_alpha(s.base_color, s.alpha);
    const Gdiplus::Pen pen(dark, 0.8f);
    const RectF top = rect_f(e.top);
    const RectF bottom = rect_f(e.bottom);
    const float rim = static_cast<float>(e.rim_height());
    const bool whole = s.projected_sweep >= 360.0f;

    if ((parts & PIE_CUT_FACES) && rim > 0.0f && !whole) {
        const PointF centre(top.X + top.Width / 2.0f, top.Y + top.Height / 2.0f);
        Gdiplus::SolidBrush fill(light);
        auto face = [&](double angle) {
            const pie_point p = pie_ellipse_point(e.top, angle);
            const PointF quad[4] = {centre, PointF(p.x, p.y), PointF(p.x, p.y + rim),
                                    PointF(centre.X, centre.Y + rim)};
            g.FillPolygon(&fill, quad, 4);
            g.DrawPolygon(&pen, quad, 4);
        };
        const double start = s.projected_start;
        const double end = start + s.projected_sweep;
        if (pie_start_face_visible(start)) face(start);
        if (pie_end_face_visible(end)) face(end);
    }
    if ((parts & PIE_RIM) && rim > 0.0f) {
        for (const pie_span& seg : pie_front_rim_segments({s.projected_start, s.projected_sweep})) {
            GraphicsPath band;
            band.AddArc(top, seg.start, seg.sweep);
            band.AddArc(bottom, seg.start + seg.sweep, -seg.sweep);
            band.CloseFigure();
            RectF bounds;
            band.GetBounds(&bounds);
            fill_gradient(g, band, bounds, dark, base, pen);
        }
    }
    if (parts & PIE_TOP) {
        GraphicsPath face;
        if (whole)
            face.AddEllipse(top);
        else
            face.AddPie(top, s.projected_start, s.projected_sweep);
        // The gradient spans the whole top face, whatever part the slice
        // covers.
        fill_gradient(g, face, top, dark, light, pen);
    }
}

// The legend face, or a sans-serif one where it is missing.
class font_family_holder {
public:
    explicit font_family_holder(const wchar_t* face) : named_(face) {}
    const Gdiplus::FontFamily* get() const {
        return named_.IsAvailable() ? &named_ : Gdiplus::FontFamily::GenericSansSerif();
    }

private:
    Gdiplus::FontFamily named_;
};

}  // namespace

void CPieChart::render(Gdiplus::Bitmap& buffer, const RECT& client) {
    Gdiplus::Graphics g(&buffer);
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    g.Clear(Color(255, GetRValue(background_), GetGValue(background_), GetBValue(background_)));

    const pie_ellipses e = ellipses();
    const RECT& top = e.top;
    const bool drawable = !slices_.empty() && top.right > top.left && top.bottom > top.top;
    std::vector<const pie_slice*> by_index;
    for (const auto& entry : slices_) by_index.push_back(&entry.second);
    const font_family_holder family(legend_font_.c_str());

    if (drawable) {
        place_slices(e);
        std::vector<pie_span> spans;
        for (const pie_slice* s : by_index)
            spans.push_back({s->projected_start, s->projected_sweep});
        for (const pie_draw_step& step : pie_draw_order(spans)) {
            const pie_slice& s = *by_index[step.slice];
            const pie_point shift =
                explode_shift(s.projected_start + s.projected_sweep / 2.0, s.explode_offset);
            g.TranslateTransform(shift.x, shift.y);
            draw_slice_parts(g, s, e, step.parts);
            g.ResetTransform();
        }
    }

    const RECT pie = pie_rect();
    if (drawable && show_labels_) {
        const int points = std::clamp(static_cast<int>(pie.bottom - pie.top) / 25, 7, 11);
        Gdiplus::Font font(family.get(), static_cast<float>(points), Gdiplus::FontStyleRegular,
                           Gdiplus::UnitPoint);
        Gdiplus::SolidBrush ink{Color(label_color_)};
        Gdiplus::StringFormat centred;
        centred.SetAlignment(Gdiplus::StringAlignmentCenter);
        centred.SetLineAlignment(Gdiplus::StringAlignmentCenter);
        for (const pie_slice* s : by_index) {
            wchar_t text[32];
            swprintf(text, sizeof(text) / sizeof(text[0]), L"%.2f%%", s->fraction * 100.0);
            const RectF box(s->label_x - 100.0f, s->label_y - 20.0f, 200.0f, 40.0f);
            g.DrawString(text, -1, &font, box, &centred, &ink);
        }
    }

    // The legend, right of the pie, when its entries are tall enough to
    // be read.
    const pie_legend& l = legend_;
    const int legend_right = client.right - l.scroll_width - 2;
    if (!slices_.empty() && l.item_height >= PIE_MIN_LEGEND_ITEM_HEIGHT &&
        legend_right - l.left > l.item_height) {
        g.SetClip(RectF(static_cast<float>(l.left), static_cast<float>(pie.top),
                        static_cast<float>(legend_right - l.left),
                        static_cast<float>(pie.bottom - pie.top)));
        Gdiplus::Font font(family.get(), l.item_height * 0.6f, Gdiplus::FontStyleRegular,
                           Gdiplus::UnitPixel);
        Gdiplus::SolidBrush ink{Color(label_color_)};
        Gdiplus::StringFormat line;
        line.SetLineAlignment(Gdiplus::StringAlignmentCenter);
        line.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
        line.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
        const float box = static_cast<float>(l.item_height);
        for (int i = l.first_visible; i < static_cast<int>(by_index.size()); ++i) {
            const int y = pie.top + (i - l.first_visible) * l.step();
            if (y + l.item_height > pie.bottom) break;
            const pie_slice& s = *by_index[static_cast<std::size_t>(i)];
            const RectF swatch(static_cast<float>(l.left), static_cast<float>(y), box, box);
            Gdiplus::SolidBrush fill(with_alpha(s.base_color, s.alpha));
            Gdiplus::Pen pen(with_alpha(s.dark_color, s.alpha), 0.8f);
            g.FillRectangle(&fill, swatch);
            g.DrawRectangle(&pen, swatch);
            const std::wstring& text = s.label.empty() ? s.name : s.label;
            const float text_left = l.left + box + 6.0f;
            const RectF room(text_left, static_cast<float>(y), legend_right - text_left, box);
            g.DrawString(text.c_str(), -1, &font, room, &line, &ink);
        }
        g.ResetClip();
    }
}

void CPieChart::paint_to(HDC dc) {
    const RECT client = client_rect();
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return;
    if (!gdiplus_running()) {
        HBRUSH brush = CreateSolidBrush(background_);
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        return;
    }
    Gdiplus::Bitmap buffer(width, height, PixelFormat32bppARGB);
    render(buffer, client);
    Gdiplus::Graphics screen(dc);
    Gdiplus::CachedBitmap cached(&buffer, &screen);
    if (cached.GetLastStatus() != Gdiplus::Ok ||
        screen.DrawCachedBitmap(&cached, client.left, client.top) != Gdiplus::Ok)
        screen.DrawImage(&buffer, client.left, client.top, width, height);
}

bool pie_image_mime_type(const wchar_t* file_name, std::wstring& mime) {
    const wchar_t* dot = file_name ? std::wcsrchr(file_name, L'.') : nullptr;
    if (!dot || !dot[1] || std::wcschr(dot, L'\\') || std::wcschr(dot, L'/')) return false;
    std::wstring extension = dot + 1;
    for (wchar_t& c : extension) c = static_cast<wchar_t>(towlower(c));
    // The usual short names of two formats whose types are spelt out.
    if (extension == L"jpg") extension = L"jpeg";
    if (extension == L"tif") extension = L"tiff";
    mime = L"image/" + extension;
    return true;
}

bool CPieChart::save_image(const wchar_t* file_name) {
    const RECT client = client_rect();
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    std::wstring mime;
    if (width <= 0 || height <= 0 || !gdiplus_running() || !pie_image_mime_type(file_name, mime))
        return false;
    UINT count = 0, bytes = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
    std::vector<unsigned char> storage(bytes);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(storage.data());
    if (Gdiplus::GetImageEncoders(count, bytes, encoders) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (!encoders[i].MimeType || lstrcmpiW(encoders[i].MimeType, mime.c_str()) != 0) continue;
        Gdiplus::Bitmap buffer(width, height, PixelFormat32bppARGB);
        render(buffer, client);
        return buffer.Save(file_name, &encoders[i].Clsid, nullptr) == Gdiplus::Ok;
    }
    return false;
}

// --- The control: messages -----------------------------------------------------

bool CPieChart::process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                LRESULT& result) {
    switch (message) {
    case WM_CREATE: {
        SetWindowLongPtrW(window, GWL_STYLE,
                          GetWindowLongPtrW(window, GWL_STYLE) | WS_CLIPCHILDREN);
        gdiplus_held_ = gdiplus_acquire();
        RECT client{};
        GetClientRect(window, &client);
        scroll_bar_ =
            CreateWindowExW(0, L"SCROLLBAR", nullptr, WS_CHILD | SBS_VERT, client.right - 40,
                            client.top + 10, 20, std::max(0L, client.bottom - client.top - 20),
                            window, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(SCROLL_BAR_ID)),
                            GetModuleHandleW(nullptr), nullptr);
        result = 0;
        return true;
    }
    case WM_SIZE:
        update_layout();
        repaint();
        result = 0;
        return true;
    case WM_ERASEBKGND:
        result = 1;  // the paint covers everything
        return true;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (dc) paint_to(dc);
        EndPaint(window, &ps);
        result = 0;
        return true;
    }
    case WM_PRINTCLIENT:
        paint_to(reinterpret_cast<HDC>(wparam));
        result = 0;
        return true;
    case WM_VSCROLL: {
        if (!scroll_bar_ || reinterpret_cast<HWND>(lparam) != scroll_bar_) return false;
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_TRACKPOS;
        GetScrollInfo(scroll_bar_, SB_CTL, &info);
        const int before = legend_.position;
        legend_.set_position(
            pie_legend_scroll_request(LOWORD(wparam), before, info.nTrackPos, legend_));
        if (legend_.position != before) {
            SetScrollPos(scroll_bar_, SB_CTL, legend_.position, TRUE);
            repaint();
        }
        result = 0;
        return true;
    }
    case WM_DESTROY:
        release_gdiplus();
        scroll_bar_ = nullptr;
        return false;
    default: return false;
    }
}
