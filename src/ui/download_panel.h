// One row of the download page: an offered package with the devices it
// serves and their driver dates, its signing mark, a progress bar with the
// download state, a check box for "download all" and a button (and context
// menu) that downloads, pauses, resumes or installs the package.
//
// The row drives the download session of its link and starts the install
// job; it downloads nothing by itself.
#pragma once

// The session header brings libcurl's winsock2.h, which must come before windows.h.
#include "downloads/download_session.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "downloads/download_list.h"
#include "install/install.h"
#include "ui/skin/buttons.h"
#include "ui/skin/image.h"
#include "ui/skin/panel_list.h"
#include "ui/skin/window.h"

struct device_record;
struct device_store;
struct driver_offer;

// Sent by the download page to every row: 1031 checks (wParam 1) or clears
// (0) the check box of every update row; 1032 starts every checked row.
constexpr UINT UM_DOWNLOAD_ALL_CHECK = WM_USER + 7;
constexpr UINT UM_DOWNLOAD_ALL_START = WM_USER + 8;
// The row's poll of its download session.
constexpr UINT_PTR ROW_TIMER_ID = 2;
constexpr UINT ROW_TIMER_MS = 200;
// The row's watch of its install job, at the same pace.
constexpr UINT_PTR INSTALL_TIMER_ID = 3;

// The row's colours (COLORREF values).
constexpr COLORREF ROW_PROGRESS_FRAME = 0xE8BA93;
constexpr COLORREF ROW_PROGRESS_FILL = 0xD5D5B4;
constexpr COLORREF ROW_BACKGROUND_NOT_UPDATE = 0xFBF6F4;
constexpr COLORREF ROW_BACKGROUND_UPDATE = RGB(255, 255, 255);
constexpr COLORREF ROW_BOTTOM_LINE = 0xF3EAE6;
constexpr COLORREF ROW_HEADING_TEXT = 0xC38247;  // class description, sizes on the bar
constexpr COLORREF ROW_WHQL_TEXT = 0x0990CB;
constexpr COLORREF ROW_STATUS_TEXT = 0x00AD38;

// --- The parts of a row that are plain functions -----------------------------

// H1 (a line of Verdana 9 bold) and H2 (a line of Arial 8), in pixels.
struct row_line_heights {
    int h1 = 0;
    int h2 = 0;
};
row_line_heights measure_row_line_heights();
// The height of a row of `devices` devices: H1 + H2 × (2n + 1) + 16n + 24.
int download_row_height(int devices, const row_line_heights& lines);
// The top of device i's name line: H1 + 2i(H2 + 8) + 16. With i = n it is
// the row's bottom line (WHQL, progress bar, state).
int row_device_top(int index, const row_line_heights& lines);

// The text on the progress bar: the total size, or while 0 < done < total
// "done/total"; each size as format_size gives it ("1.50M", "768.00K").
std::wstring progress_size_text(uint64_t done, uint64_t total);
// The fraction done, 0 … 1 (0 for a total of 0).
float progress_fraction(uint64_t done, uint64_t total);

// A device's date line for the offer: "download_date1" (installed, offered)
// when the installed date sorts before the offer's (an empty one does unless
// the offer's is empty too), else "download_date3" (installed) for an offer dated 0000-00-00,
// else "download_date2" (installed, offered); at most 127 characters.
std::wstring download_date_line(const device_record& device, const driver_offer& offer);

// The status bitmap of a group: 359 when a device has no installed driver,
// else 361 when the group is not an update, else 360.
int row_status_bitmap(const download_group& group);

// The language keys of a session state's button (and menu) text and status
// text; null for a state that is none of 1 … 5.
const char* row_button_key(int state);
const char* row_status_key(int state);

// The row's status text: "Started, signed by …" for a complete download
// whose signed program was started (`signer`), "Certificate refused: …" for
// a download that failed for its server's certificate or redirect
// (`refused_host`, empty or null otherwise), else the state's text.
std::wstring row_status_text(int state, const std::wstring& signer, const char* refused_host);

// The parameters of "explorer.exe" that select `path`: /select,"path", at
// most 1023 characters.
std::wstring select_in_explorer_parameters(const std::wstring& path);
// How a box names the file an installation refused: the downloaded package
// by its link's last part (on disk it is named by a digest), any other
// file by its own name; a name of more than 40 characters keeps its first
// 20 and last 19 around an ellipsis.
std::wstring refused_file_label(const std::wstring& file, const std::wstring& package_path, const char* link);

// The row's line on the installation of its package: "Installing…" while
// one runs (from this row or any other), else what the row's last one came
// to (with DPInst's log for a failure DPInst reported), empty before any.
std::wstring install_status_text(bool running, const install_report& report);

// Whether the process may install drivers (IsUserAnAdmin). Tests replace
// the check; null restores it. Returns the check it replaces.
using admin_check_function = bool (*)();
admin_check_function set_admin_check(admin_check_function check);

// --- The button ---------------------------------------------------------------

// The rows' button: its rectangle is measured from the row's right edge, its
// image is drawn there and its text centred on it in white.
void draw_row_button_text(const button_base_c& b, HDC dc, const RECT& r);

template <class T>
class download_button_c final : public button_c<T> {
public:
    bool hit_test(int x, int y, int left, int top, int right, int bottom) const override {
        return hit_test_from_right(*this, x, y, RECT{left, top, right, bottom});
    }
    void draw_text(HDC dc, int left, int top, int right, int bottom) override {
        draw_row_button_text(*this, dc, RECT{left, top, right, bottom});
    }
    void draw(HDC dc, int left, int top, int right, int bottom) override {
        draw_from_right(*this, dc, RECT{left, top, right, bottom});
        draw_text(dc, right - this->rect.right, this->rect.top, right - this->rect.left,
                  this->rect.bottom);
    }
};

// --- The row --------------------------------------------------------------------

class download_panel_c : public window_base_c {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Quillmark.DownloadRow";

    // `group` and `store` belong to the page and outlive the row.
    download_panel_c(const download_group& group, const device_store& store);
    ~download_panel_c() override;

    // Creates the row as a child of `parent` (the panel list) at (x, y),
    // `width` wide and as high as its devices need. The handle, or null.
    HWND create(HWND parent, int x, int y, int width);
    // The same in two steps, for a list that gives windows only to the rows
    // in view: the row's place and size (its window, if any, is not moved),
    // then its window at that place. A row keeps its check mark while it
    // has no window.
    void place(int x, int y, int width, const row_line_heights& lines);
    HWND create_window(HWND parent);
    void destroy_window();

    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

    // Where the panel list places the row (unscrolled).
    panel_geometry panel;

    const download_group& group() const { return group_; }
    download_session_c& session() { return find_session(); }
    // The install request, shared with a running install job.
    const std::shared_ptr<install_request>& request() const { return request_; }
    int button_state() const { return button_.state; }
    HWND check_box() const { return check_box_; }
    int status_bitmap() const { return status_bitmap_; }
    const row_line_heights& lines() const { return lines_; }
    uint64_t bytes_done() const { return done_; }
    uint64_t bytes_total() const { return total_; }
    // The button's rectangle in client coordinates.
    RECT button_rect() const;

    // Whether the row's check box is checked (kept while it has no window).
    bool checked() const;
    // "Download all": check (1) or clear (0) the row unless it is not an
    // update; start it when it is checked and its session is not
    // downloading, complete or installing (state 1, 3 or 4).
    void check_for_all(WPARAM state);
    void start_if_checked();

    // What the button does in the present session state: Stop (2, and 6,
    // which leaves the queue), Install (5), else Start with the poll timer.
    void button_action();
    // The installation of the downloaded package (state 5); refused while
    // one of the same package runs, from any row.
    void install();
    // Whether an installation of the row's package runs.
    bool install_running() const;
    // Once the install job has ended: a box for what it refused to start
    // (with "Open folder"), else a redraw for the status it leaves.
    void report_install();
    // The signer of the program the last installation started, once it has
    // ended; empty otherwise.
    std::wstring started_program_signer() const;

private:
    LRESULT on_create(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_destroy(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_size(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_context_menu(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_command(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_timer(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_mouse_move(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_mouse_leave(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_button_down(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_button_up(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_control_colour(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_check_all(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_start_all(UINT, WPARAM, LPARAM, bool&);

    bool button_hit(int x, int y) const;
    void set_button_state(int state);
    void start_download();
    void remove_download();
    void open_location();
    void paint(HDC dc, const RECT& client);
    void paint_bottom_line(HDC dc, int width);
    void paint_install_status(HDC dc, int width, int y);

    download_session_c& find_session();
    void delete_drawing_objects();

    const download_group& group_;
    const device_store& store_;
    download_session_c* session_ = nullptr;  // lives until the program ends
    WPARAM checked_ = BST_UNCHECKED;         // the check box's state while there is none
    // Shared with the install job, which keeps it while it runs.
    std::shared_ptr<install_request> request_;
    download_button_c<download_panel_c> button_;
    HWND check_box_ = nullptr;
    bool tracking_mouse_ = false;
    bool timer_running_ = false;
    bool install_watched_ = false;  // the install job's end is still to be reported
    uint64_t total_ = 0;  // the offer's size
    uint64_t done_ = 0;   // bytes so far
    HPEN frame_pen_ = nullptr;
    HBRUSH fill_brush_ = nullptr;
    HBRUSH background_ = nullptr;
    HBRUSH bottom_line_ = nullptr;
    int status_bitmap_ = 0;
    image_c status_image_;
    row_line_heights lines_;
};
