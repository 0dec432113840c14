// The backup and restore pages: a tree with check boxes on the left, the
// details of the selected row, the backup folder and a large button on the
// right. The backup page backs up the checked driver packages; the restore
// page reinstalls the one checked backup. Both refill their tree every time
// they are shown, and each runs its job on a worker thread.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backup/catalogue.h"
#include "backup/detached_worker.h"
#include "backup/restore.h"
#include "backup/store_index.h"
#include "ui/skin/bitmap_button.h"
#include "ui/skin/image.h"
#include "ui/skin/progress_bar.h"
#include "ui/skin/window.h"

// Posted by a page to itself after a click on a check box; lParam is the item.
constexpr UINT UM_TREE_CHECK = WM_USER + 100;
constexpr UINT_PTR BACKUP_TIMER_ID = 1;
constexpr int PAGE_TREE_ID = 100;
constexpr int PAGE_BUTTON_ID = 101;

// The label keys and values of a details panel; values are empty when no
// row is selected.
using detail_rows = std::vector<std::pair<const char*, std::wstring>>;
detail_rows backup_details(const device_record* device);
detail_rows restore_details(const backed_up_device* entry);

// What the two pages share: the tree, the panels and the button.
class tree_page_c : public window_base_c {
public:
    HWND create(HWND owner);
    HWND tree() const { return tree_; }
    HWND button() const { return button_.handle(); }
    // The check-box state of a row: 1 unchecked, 2 checked, 0 none.
    int check_state(HTREEITEM item) const;
    void set_check_state(HTREEITEM item, int state);
    // Whether the page's worker is still running.
    virtual bool busy() const = 0;

protected:
    ~tree_page_c() override;
    // The tree and the button with its text; the header images.
    void create_controls(const char* button_key, int settings_header_id);
    // The handlers the pages share; each page's map lists them.
    LRESULT on_size(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_set_focus(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&) { return 1; }
    // The page goes with the main window when the program quits: a job that
    // is still writing an archive, the catalogue or an unpack (which a later
    // restore would keep as it is) is let finish first.
    LRESULT on_destroy(UINT, WPARAM, LPARAM, bool&);
    // Control 101, the large button, calls button_clicked.
    LRESULT on_command(UINT, WPARAM, LPARAM, bool&);
    virtual void button_clicked() = 0;
    // NM_CLICK on a check box posts UM_TREE_CHECK; TVN_SELCHANGEDW gives the
    // new row's parameter to selection_changed. Never marked handled for
    // NM_CLICK, so the tree toggles the box itself.
    LRESULT on_notify(UINT, WPARAM, LPARAM, bool&);
    virtual void selection_changed(LPARAM parameter) = 0;
    // Inserts a row; `checkable` false removes its check box.
    HTREEITEM insert_row(HTREEITEM parent, const wchar_t* text, int image, LPARAM parameter,
                         bool checkable);
    // Empties the tree and gives it the class images and its indent.
    void reset_tree(bool with_images);
    // White background, separator, details panel and settings panel.
    void paint_panels(HDC dc, const RECT& client, const char* details_title,
                      const detail_rows& rows, const char* settings_title);
    int show_box(const char* key, unsigned kind);

    HWND tree_ = nullptr;
    bitmap_button_c button_;
    HIMAGELIST button_images_ = nullptr;
    image_c details_header_;
    image_c settings_header_;
    detached_worker worker_;
};

class backup_window_c : public tree_page_c {
public:
    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;
    bool busy() const override { return worker_.holds_thread(); }
    // Rebuilds the package list and the tree (every time the page is shown).
    void fill_tree();
    // The button: backs up the checked packages.
    void start_backup();
    const backup_job& job() const { return *job_; }

private:
    LRESULT on_create(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_show(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_timer(UINT, WPARAM, LPARAM, bool&);
    void button_clicked() override { start_backup(); }
    LRESULT on_tree_check(UINT, WPARAM, LPARAM, bool&);
    void selection_changed(LPARAM parameter) override;
    void paint(HDC dc, const RECT& client);

    const device_record* selected_ = nullptr;
    progress_bar_c progress_;
    int progress_right_ = 0;  // the bar's right edge, fixed at the first paint
    int package_count_ = 0;
    // Shared with the worker, which keeps it while it runs.
    std::shared_ptr<backup_job> job_ = std::make_shared<backup_job>();
};

class restore_window_c : public tree_page_c {
public:
    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;
    bool busy() const override { return request_->running != 0; }
    // Reloads the catalogue and fills the tree; -1 when there are no backups.
    int fill_tree();
    // The button: restores the checked backup.
    void start_restore();
    const restore_request& request() const { return *request_; }

private:
    LRESULT on_create(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_show(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_tree_check(UINT, WPARAM, LPARAM, bool&);
    void selection_changed(LPARAM parameter) override;
    void button_clicked() override { start_restore(); }

    // The catalogue as the tree shows it; rows point into it.
    std::vector<backup_entry> entries_;
    const backed_up_device* selected_ = nullptr;
    std::shared_ptr<restore_request> request_ = std::make_shared<restore_request>();
};
