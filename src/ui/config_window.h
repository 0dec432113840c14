// The settings dialog: the download and backup folders, close-to-tray, start
// with Windows, scanning of disconnected devices, the weekly scheduled scan
// and the interface language. A skinned modal box over the program's
// top-level window; the settings change only on OK, except the scheduled
// task's trigger, which follows its check box at once and is set back when
// the box is left any other way.
#pragma once

#include <windows.h>

#include <string>

#include "app/settings.h"
#include "ui/skin/image.h"
#include "ui/skin/skinned_dialog.h"

// Opens the settings dialog modally over the top-level window of `owner`.
// 1 when the user confirmed, 2 when the dialog was cancelled or closed.
int show_settings_dialog(HWND owner);

constexpr int CONFIG_DIALOG_WIDTH = 640;
constexpr int CONFIG_DIALOG_HEIGHT = 480;
constexpr int CONFIG_DIALOG_CAPTION = 30;
constexpr COLORREF CONFIG_LABEL_COLOR = RGB(140, 178, 214);  // labels and edit frames

// Where a control of the dialog sits, in client coordinates, and the
// language key of its text (null: none). Push buttons take the size of
// their 80 × 22 images.
struct config_control_place {
    int id;
    int x, y, width, height;
    const char* key;
};
// Every control but the four push buttons, for the current language (the
// close-to-tray and start-with-Windows boxes are narrower in French, Spanish
// and Portuguese). The language list's height is its dropped-down height.
const config_control_place* config_control_places(int& count);
// The places of the push buttons: browse 1002 and 1003, Cancel 2 and OK 1.
const config_control_place* config_button_places(int& count);

// A label painted on the dialog.
struct config_label {
    const char* key;
    int x, y;
};
extern const config_label config_labels[7];

// The frame painted around an edit whose client-coordinate rectangle is
// `edit`: moved by (-2, -2), 5 px wider on each side and 3 px taller.
RECT config_edit_frame(const RECT& edit);
// Where the decorative picture between the option columns is drawn.
POINT config_decoration_point();

// What the dialog shows, and what the user chose.
struct config_choices {
    std::wstring download_path;
    std::wstring backup_path;
    bool close_to_tray = false;
    bool autorun = false;
    bool scan_offline = false;
    bool scheduled_scan = false;
    int language = 0;  // index into language_names
};

// The choices the dialog opens with. A value of autorun, scan_offline or
// scheduled_scan above 2 is reset to 0 in `s` first.
config_choices config_choices_from(app_settings& s);

// Why OK cannot take the folders, in the order the dialog checks them.
enum class config_problem {
    none,
    download_folder_missing,  // not an existing folder: the "invalid download path" box
    download_folder_too_deep,  // a folder whose path leaves no room for the package names
    backup_folder_missing,
    download_path_too_long,  // longer than its field holds: a beep, focus on the edit
    backup_path_too_long,
};
// A path of MAX_PATH characters or more is too long; `is_directory` is asked
// only about paths that fit.
config_problem check_config_folders(const std::wstring& download, const std::wstring& backup,
                                    bool (*is_directory)(const wchar_t* path));

// close_to_tray after OK: 0 when the box is unchecked; when it is checked, a
// 1 or 2 stays (the one-time warning is not shown again), anything else
// becomes 1 (the warning comes at the next close).
DWORD close_to_tray_after(bool checked, DWORD current);

// Puts the confirmed choices into `s` (close-to-tray by the rule above) and,
// when another language was chosen, its name into s.language and its index
// into current_language. True when the language changed.
bool apply_config_choices(const config_choices& c, app_settings& s);

// Whether leaving without OK must set the scheduled task's trigger back: its
// check box no longer says what the saved setting says.
bool scheduled_scan_needs_reset(bool checked, DWORD saved);

class config_window_c : public skinned_dialog_c<config_window_c> {
public:
    config_window_c();
    ~config_window_c() override;

    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

private:
    void set_up(HINSTANCE module) override;
    void erase_background(HDC dc, const RECT& client) override;
    void paint(HDC dc) override;
    int close_result() const override { return 2; }

    LRESULT on_command(UINT, WPARAM wparam, LPARAM, bool& handled);
    LRESULT on_control_color(UINT, WPARAM wparam, LPARAM, bool&);
    LRESULT on_destroy(UINT, WPARAM, LPARAM, bool& handled);
    LRESULT on_demo_shot(UINT, WPARAM, LPARAM, bool&);

    void browse(int edit_id);
    void scheduled_scan_clicked();
    void confirm();
    config_choices read_choices() const;
    std::wstring edit_text(int id) const;
    RECT control_rect(int id) const;

    bitmap_button_c browse_buttons_[2];
    image_c decoration_;
    HBRUSH frame_brush_ = nullptr;
    bool confirmed_ = false;
};
