// The device information dialog: for the devices of one download row (a
// group sharing one offered package), a list of their names and a table that
// compares the selected device's installed driver with the driver offered
// for it. It changes nothing.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "devices/device_store.h"
#include "ui/skin/skinned_dialog.h"

constexpr int DEVINFO_WIDTH = 640;
constexpr int DEVINFO_HEIGHT = 480;
constexpr int DEVINFO_CAPTION = 30;
// Client coordinates.
constexpr RECT DEVINFO_LIST_RECT{10, 30, 622, 160};
constexpr RECT DEVINFO_TABLE_RECT{10, 180, 622, 380};
constexpr POINT DEVINFO_OK_AT{290, 400};
constexpr int DEVINFO_COLUMN_WIDTHS[3] = {130, 231, 231};
// What a cell or heading needs beside its text's width.
constexpr int DEVINFO_CELL_PADDING = 12;
// The narrowest the value columns get when the first column widens.
constexpr int DEVINFO_MIN_VALUE_WIDTH = 150;
// What an offered cell shows where the offer has no such value.
constexpr wchar_t DEVINFO_BLANK[] = L"(blank)";

// One row of the table: the language key of its name, the installed value
// and the offered one, as they are shown.
struct device_detail_row {
    const char* key;
    std::wstring installed;
    std::wstring offered;
};
constexpr int DEVICE_DETAIL_ROW_COUNT = 13;
using device_details = std::array<device_detail_row, DEVICE_DETAIL_ROW_COUNT>;
// The language keys of the rows' names, in row order.
extern const char* const device_detail_keys[DEVICE_DETAIL_ROW_COUNT];

// The table's rows for `device`, in order: device ID, description, matching
// device ID, first hardware ID, first compatible ID, provider, INF file,
// date, version, class name, class description, enumerator and the rank as
// eight upper-case hexadecimal digits. The offered side comes from the
// device's best offer (its INF name after the last backslash). Rows an offer
// has no counterpart for, and every row of a device without an offer, show
// "(blank)" there; an offered value the offer left empty stays empty.
device_details device_detail_rows(const device_record& device);

// The widths of the table's three columns when the first one needs
// `first_needed` pixels for its widest text: the usual widths when that fits;
// otherwise the first column widens as far as needed (the value columns keep
// at least DEVINFO_MIN_VALUE_WIDTH) and the value columns share the rest of
// the usual total, so the table never scrolls sideways.
std::array<int, 3> devinfo_column_widths(int first_needed);

// Shows the dialog over `owner` for `group` (null entries are left out), the
// first device selected. 1 for OK, 2 for the caption close button or Escape,
// -1 when the dialog cannot be made.
int show_device_information(HWND owner, const std::vector<const device_record*>& group);

class devinfo_window_c : public skinned_dialog_c<devinfo_window_c> {
public:
    explicit devinfo_window_c(const std::vector<const device_record*>& group);

    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

private:
    void set_up(HINSTANCE module) override;
    void erase_background(HDC dc, const RECT& client) override;
    void paint(HDC) override {}
    int close_result() const override { return 2; }

    // A child control at `r` (client coordinates), in tab order after
    // `after`, in the list font. Null when it cannot be created.
    HWND create_control(const wchar_t* window_class, int id, const RECT& r, HWND after,
                        DWORD style);
    void fill_device_list();
    void create_columns();
    // Shows device `index` of the group in the table; an index outside the
    // group leaves the table empty.
    void fill_table(int index);

    std::vector<const device_record*> group_;
    HWND list_ = nullptr;
    HWND table_ = nullptr;
};
