// The download page: the result of a scan. One row per offered package (the
// rows of download_panel.h), a switch between every device's best and latest
// offer, a "download all" bar under the rows and a sidebar with the driver
// score, the counts, a pie chart of them and a link to the FAQ.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "downloads/download_list.h"
#include "ui/pie_chart.h"
#include "ui/skin/bitmap_button.h"
#include "ui/skin/fonts.h"
#include "ui/skin/image.h"
#include "ui/skin/link.h"
#include "ui/skin/panel_list.h"
#include "ui/skin/window.h"

class download_panel_c;
struct device_store;

// --- The parts of the page that are plain functions ---------------------------

// Bands and columns of the page, in pixels.
constexpr int DOWNLOAD_HEADER_HEIGHT = 40;
constexpr int DOWNLOAD_CHOICE_HEIGHT = 27;
constexpr int DOWNLOAD_ALL_HEIGHT = 41;
constexpr int DOWNLOAD_SIDEBAR_WIDTH = 250;

// Where the page's children go in a client area width × height.
struct download_page_layout {
    RECT list;    // the rows
    RECT bar;     // "download all"
    RECT best;    // the two radio buttons
    RECT latest;
    RECT pie;
    RECT faq;     // the link, before it makes way for the WHQL text
};
// `wide_choice`: the radio buttons reach 30 px further left (languages whose
// texts are long: fr, es, pt, nl).
download_page_layout download_page_layout_for(int width, int height, bool wide_choice);
bool download_choice_is_wide();

// The driver score: floor(u² / t² × 100) with u = up to date and t = total
// with offers; 100 when no device has an offer (nothing is out of date).
int download_score(const download_counters& counters);
// Red below 70, green from 70 on.
COLORREF download_score_color(int score);
constexpr COLORREF DOWNLOAD_SCORE_LOW = RGB(255, 0, 0);
constexpr COLORREF DOWNLOAD_SCORE_GOOD = RGB(0x16, 0xCD, 0x1F);
constexpr COLORREF DOWNLOAD_HEADER_NUMBER = RGB(255, 255, 0);

// The header's text for n out-of-date devices: "download_new_drivers_found3"
// for none, "…found1" for 1 … 8, "…found2" (followed by n in yellow) above.
const char* download_header_key(int out_of_date);
bool download_header_shows_number(int out_of_date);
// Verdana 12 for it, es and nl, Verdana 14 otherwise.
font_id download_header_font();
// The score's title: Verdana 8 in Deutsch, Verdana 10 otherwise.
font_id download_score_title_font();

// The pie chart's slices, in order: out of date (red), no driver (yellow),
// up to date (green), each named by its language text.
struct download_slice {
    const char* key;
    uint32_t color;  // ARGB
    int32_t value;
};
std::vector<download_slice> download_slices(const download_counters& counters);
constexpr int DOWNLOAD_SLICE_EXPLODE = 5;  // percent

// Where the WHQL text is wrapped, and the first line below it where nothing
// of it is drawn, measured with the font selected into `dc`.
RECT download_whql_box(int width);
int download_whql_bottom(HDC dc, int width);

// --- The download-all bar -----------------------------------------------------

// A child bar with the check box "download_all_check" (id 1), which sends
// 1031 with its new check state to the bar's parent, and the image button
// "download_all_button" (id 2, 106 × 27, 136 px from the right edge and 8
// from the top), which sends 1032. After either click the parent has the
// focus again.
class download_all_window_c : public window_base_c {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Quillmark.DownloadAll";
    static constexpr int CHECK_ID = 1;
    static constexpr int BUTTON_ID = 2;
    static constexpr int BUTTON_WIDTH = 106;
    static constexpr int BUTTON_HEIGHT = 27;
    static constexpr int BUTTON_RIGHT_OFFSET = 136;
    static constexpr int BUTTON_TOP = 8;

    download_all_window_c() = default;
    ~download_all_window_c() override;

    HWND create(HWND parent, const RECT& r, UINT id);
    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

    HWND check_box() const { return check_box_; }
    HWND button() const { return button_.handle(); }
    // Takes the texts of the current language.
    void refresh_texts();

private:
    LRESULT on_create(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_size(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_command(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&) { return 1; }
    LRESULT on_control_colour(UINT, WPARAM, LPARAM, bool&);

    HWND check_box_ = nullptr;
    bitmap_button_c button_;
    HIMAGELIST images_ = nullptr;
    HBRUSH background_ = nullptr;
    HBRUSH line_ = nullptr;
};

// --- The page -------------------------------------------------------------------

class download_window_c : public window_base_c {
public:
    static constexpr int BEST_ID = 1;    // the choice is the id − 1
    static constexpr int LATEST_ID = 2;
    static constexpr int LIST_ID = 100;
    static constexpr int BAR_ID = 101;
    static constexpr int FAQ_ID = 102;

    download_window_c();
    ~download_window_c() override;

    // Creates the hidden child page over the owner's client area.
    HWND create(HWND owner);
    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

    // Builds the rows from the store with the current choice and counts the
    // devices; `total_devices` is the number the scan enumerated. The store
    // must stay as it is until the next fill or clear.
    void fill(const device_store& store, int total_devices);
    // Drops the rows and the counts (before the store is rebuilt by a scan);
    // running downloads go on.
    void clear();
    // What a click on radio button BEST_ID or LATEST_ID does.
    void choose(int id);

    int choice() const { return choice_; }
    const download_counters& counters() const { return counters_; }
    // The number of new drivers: the out-of-date counter.
    int out_of_date() const { return counters_.out_of_date; }
    int total_devices() const { return total_devices_; }
    int score() const { return download_score(counters_); }
    const std::vector<download_group>& groups() const { return groups_; }
    panel_list_c<download_panel_c>& list() { return list_; }
    download_all_window_c& bar() { return bar_; }
    CPieChart& pie() { return pie_; }
    link_c& faq() { return faq_; }
    HWND best_button() const { return best_; }
    HWND latest_button() const { return latest_; }

private:
    LRESULT on_create(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&) { return 1; }
    LRESULT on_set_focus(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_size(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_show_window(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_control_colour(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_command(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_check_all(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_start_all(UINT, WPARAM, LPARAM, bool&);

    void layout();
    void refresh_texts();
    void count_devices();
    void update_pie();
    void rebuild_rows();
    void paint(HDC dc, const RECT& client);
    void paint_header(HDC dc, int width);
    void paint_sidebar(HDC dc, int width, int height);

    const device_store* store_ = nullptr;
    int total_devices_ = 0;
    int choice_ = CHOICE_BEST;
    download_counters counters_;
    // The rows refer to the groups: the list is declared after them so that
    // the rows go first.
    std::vector<download_group> groups_;
    panel_list_c<download_panel_c> list_;
    HWND best_ = nullptr;
    HWND latest_ = nullptr;
    CPieChart pie_;
    image_c status_out_of_date_;
    image_c status_no_driver_;
    image_c status_up_to_date_;
    image_c status_total_;
    link_c faq_;
    HBRUSH header_brush_ = nullptr;
    image_c header_picture_;
    HBRUSH sidebar_brush_ = nullptr;
    HBRUSH box_brush_ = nullptr;
    HBRUSH frame_brush_ = nullptr;
    download_all_window_c bar_;
};
