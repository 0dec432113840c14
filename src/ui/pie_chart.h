// CPieChart: a child-window chart control that draws named, coloured slices
// as a tilted three-dimensional pie (GDI+), with a legend beside it that
// scrolls when its entries do not fit. The download page shows its counts
// with it.
//
// The geometry (colours, fractions, the tilted ellipses, projected angles,
// the back-to-front drawing order, the legend's layout and scrolling) is in
// plain functions below; the window and its GDI+ drawing use them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ui/skin/window.h"

namespace Gdiplus {
class Bitmap;
}

// One slice; owned by its chart.
struct pie_slice {
    double value = 0.0;     // > 0
    double fraction = 0.0;  // value / total
    float sweep = 0.0f;     // fraction × 360
    // On the tilted top face, computed when painting.
    float projected_start = 0.0f;
    float projected_sweep = 0.0f;
    uint32_t light_color = 0;  // ARGB
    uint32_t dark_color = 0;
    uint32_t base_color = 0;
    std::wstring label;
    std::wstring name;  // unique within the chart
    uint8_t alpha = 255;
    uint32_t insertion = 0;
    int explode_offset = 0;  // pixels along the middle angle
    // Where the percentage label is centred, and the top face's edge point
    // on the middle angle; computed when painting.
    float label_x = 0.0f, label_y = 0.0f;
    float edge_x = 0.0f, edge_y = 0.0f;
};

// --- Colours -----------------------------------------------------------------

// Lighter and darker companions of an ARGB colour (each channel on its own,
// alpha forced to 255): light = c + (255 − c) / 255 × 120, dark = c − c /
// 255 × 10, in real arithmetic, truncated.
uint32_t pie_light_color(uint32_t base);
uint32_t pie_dark_color(uint32_t base);

// --- Geometry ----------------------------------------------------------------

constexpr double PIE_MAX_TILT = 89.0;
// Tilt in degrees kept within 0 … 89 (not-a-number gives 0).
double clamp_pie_tilt(double degrees);

// The ellipses of the tilted pie in rectangle `pie`: the flat one, the top
// face lifted by `lift` and the bottom face lowered by it; the rim between
// the top and bottom faces is 2 × lift tall.
struct pie_ellipses {
    RECT flat{};
    RECT top{};
    RECT bottom{};
    int lift = 0;
    int rim_height() const { return 2 * lift; }
};
pie_ellipses pie_tilted_ellipses(const RECT& pie, double tilt, double thickness_ratio);

// The rim ratio for a thickness of `pixels` with a pie `pie_height` tall;
// negative when refused (negative pixels, or a pie too low to have a tilt).
double pie_thickness_ratio(int pixels, int pie_height);
// Explode offset in pixels: percent (kept within 0 … 100) of the top face's
// width, in integer arithmetic.
int pie_explode_offset(int percent, int top_width);

// The pie rectangle when none is set: the client area less 100 px at the top,
// 30 px at the left and 30 px at the bottom, up to legend_left − 10 on the
// right; a square on the smaller side (at least 150 px, even), centred
// vertically when the width is the smaller side; moved right by
// `horizontal_offset`.
RECT pie_computed_rect(const RECT& client, int legend_left, int horizontal_offset);

// An angle (degrees) normalised into 0 … 360.
double pie_normal_angle(double degrees);
// Where a pie boundary at `degrees` on the untilted pie lies on an ellipse
// `width` × `height`: the polar angle (0 … 360, clockwise on screen) of the
// ellipse point at that parameter.
double pie_projected_angle(double degrees, int width, int height);

// A slice's place on the top face: start and sweep in degrees.
struct pie_span {
    float start = 0.0f;
    float sweep = 0.0f;
};
// The projected spans of slices with `sweeps`, the first starting at
// `start_angle`, on an ellipse `width` × `height`. A 360° slice keeps 360.
std::vector<pie_span> pie_projected_spans(double start_angle, const std::vector<float>& sweeps,
                                          int width, int height);

// The slices covering 90° (front, nearest the viewer) and 270° (back); -1
// when none does.
struct pie_front_back {
    int front = -1;
    int back = -1;
};
pie_front_back pie_find_front_back(const std::vector<pie_span>& spans);

// The parts a slice is drawn from.
enum pie_part : unsigned {
    PIE_CUT_FACES = 1,  // the radial faces that can be seen from the front
    PIE_RIM = 2,        // the outer wall on the front half
    PIE_TOP = 4,        // the top face
    PIE_ALL_PARTS = PIE_CUT_FACES | PIE_RIM | PIE_TOP,
};
struct pie_draw_step {
    std::size_t slice = 0;
    unsigned parts = PIE_ALL_PARTS;
};
// Back to front: the back slice, the slices from it to the front going to
// lower numbers, then those going to higher numbers, the front slice last.
// A slice covering both 90° and 270° is drawn first with its cut faces and
// last with its rim and top face, with only the side walk its start angle
// calls for. Without a front or back slice (degenerate angles) every slice
// is drawn whole in order.
std::vector<pie_draw_step> pie_draw_order(const std::vector<pie_span>& spans);

// The parts of a span on the front half (0 … 180°), where the rim can be
// seen: none, one or two spans.
std::vector<pie_span> pie_front_rim_segments(const pie_span& span);
// Whether the radial face at a slice's start (or end) angle faces the viewer.
bool pie_start_face_visible(double angle);
bool pie_end_face_visible(double angle);

// The point of an ellipse (bounding rectangle) at polar angle `degrees`.
struct pie_point {
    float x = 0.0f;
    float y = 0.0f;
};
pie_point pie_ellipse_point(const RECT& ellipse, double degrees);

// --- Legend ------------------------------------------------------------------

// The legend beside the pie: one entry per slice, item_height tall, item_gap
// apart, from the pie's top; it scrolls by `position` pixels when it is taller
// than the pie area (`view_height`).
struct pie_legend {
    int left = 200;
    int item_height = 20;
    int item_gap = 10;
    int scroll_width = 20;
    int first_visible = 0;
    int position = 0;
    int items = 0;
    int view_height = 0;

    int step() const;    // item height + gap, at least 1
    int height() const;  // items × step − gap; 0 without items
    bool needs_scroll() const { return height() > view_height; }
    int max_position() const;  // height − view + 1 while scrolling, else 0
    // Entries drawn whole in the view.
    int fitting_items() const;
    // Takes a position (clamped) and sets the first visible entry from it; at
    // the end of the range that is the one that shows the last entry whole.
    void set_position(int p);
    // The entry size and gap for a pie area `pie_height` tall, as on
    // WM_SIZE, keeping the position in range.
    void size_for(int pie_height);
    // The left edge for a client area `client_width` wide.
    static int left_for(int client_width);
};
// Entries shorter than this are not drawn: their text could not be read.
constexpr int PIE_MIN_LEGEND_ITEM_HEIGHT = 8;
// The position a WM_VSCROLL code asks for (not yet clamped): arrows move one
// entry, page clicks the view height, the thumb its tracked position; other
// codes keep `position`.
int pie_legend_scroll_request(int code, int position, int track, const pie_legend& legend);

// The MIME type of an image file name: "image/" and its extension in lower
// case, "jpg" and "tif" spelt out. False without an extension.
bool pie_image_mime_type(const wchar_t* file_name, std::wstring& mime);

// --- The control ---------------------------------------------------------------

class CPieChart final : public window_base_c {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Quillmark.PieChart";
    static constexpr int SCROLL_BAR_ID = 1;
    static constexpr int STYLE_TILTED = 2;

    CPieChart() = default;
    ~CPieChart() override;

    // A visible child window of `parent` with `caption` as its text.
    HWND create(HWND parent, const wchar_t* caption, int left, int top, int right, int bottom);

    // An empty rectangle goes back to the computed one. The legend is laid
    // out again for it.
    void set_pie_rect(int left, int top, int right, int bottom);
    void set_background_color(COLORREF color);
    void set_show_labels(bool show);
    void set_tilt(double degrees);
    // The rim's height, as a ratio to the pie rectangle in use now (set the
    // pie rectangle first). False (nothing changes) for negative pixels or a
    // pie too low for it.
    bool set_thickness(int pixels);
    // Only style 2, the tilted pie, is drawn: other styles are refused (false)
    // and style 2 stays.
    bool set_style(int style);

    // Null when refused: an empty name, a name already used, or a value
    // that is not a finite number above 0.
    pie_slice* add_slice(const wchar_t* name, const wchar_t* label, double value,
                         uint32_t base_color);
    pie_slice* find_slice(const wchar_t* name);
    // Pushes a slice out by `percent` (kept within 0 … 100) of the top
    // face's width. False when `slice` is not one of this chart's.
    bool set_explode(pie_slice* slice, int percent);
    void clear();

    // Draws the chart into `dc` as the window shows it (client coordinates),
    // without touching the window.
    void paint_to(HDC dc);
    // Saves the chart as the window shows it to an image file, in the format
    // of the file name's extension ("png", "bmp", "jpg" or "jpeg", "gif",
    // "tif" or "tiff"). False when the window has no size, the extension
    // names no format or the file cannot be written.
    bool save_image(const wchar_t* file_name);

    const std::map<uint32_t, pie_slice>& slices() const { return slices_; }
    double total() const { return total_; }
    double tilt() const { return tilt_; }
    double thickness_ratio() const { return thickness_ratio_; }
    int style() const { return STYLE_TILTED; }
    bool show_labels() const { return show_labels_; }
    COLORREF background_color() const { return background_; }
    const pie_legend& legend() const { return legend_; }
    HWND scroll_bar() const { return scroll_bar_; }
    // The pie rectangle in use: the one set, else the computed one.
    RECT pie_rect() const;
    pie_ellipses ellipses() const;

    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

private:
    void recompute_fractions();
    void place_slices(const pie_ellipses& e);
    void render(Gdiplus::Bitmap& buffer, const RECT& client);
    void update_layout();
    void repaint();
    RECT client_rect() const;
    void release_gdiplus();

    std::map<uint32_t, pie_slice> slices_;
    uint32_t next_insertion_ = 0;
    double total_ = 0.0;
    double start_angle_ = 0.0;
    double tilt_ = 0.0;
    double thickness_ratio_ = 0.5;
    COLORREF background_ = 0;
    pie_legend legend_;
    std::wstring legend_font_ = L"Verdana";
    uint32_t label_color_ = 0xFF000000;
    bool show_labels_ = true;
    RECT pie_rect_{};  // empty: computed
    HWND scroll_bar_ = nullptr;
    bool gdiplus_held_ = false;
};
