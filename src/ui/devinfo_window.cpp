#include "ui/devinfo_window.h"

#include <commctrl.h>

#include <algorithm>
#include <string_view>

#include "app/language.h"
#include "resources/resource.h"
#include "ui/skin/fonts.h"

namespace {

// The font of the program's lists: the second 8-pt Verdana of the set.
constexpr font_id LIST_FONT = font_id::verdana_8_second;
constexpr font_id BUTTON_FONT = font_id::verdana_8_bold;

std::wstring first_entry(const std::wstring& multi_string) {
    std::vector<std::wstring_view> entries = multi_string_entries(multi_string);
    return entries.empty() ? std::wstring() : std::wstring(entries.front());
}

// Eight upper-case hexadecimal digits with leading zeros.
std::wstring hex8(uint32_t value) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text(8, L'0');
    for (int i = 7; i >= 0; --i, value >>= 4) text[i] = digits[value & 0xF];
    return text;
}

// An INF name without its folder: the part after the last backslash.
std::wstring file_part(std::wstring_view inf_name) {
    std::size_t slash = inf_name.rfind(L'\\');
    return std::wstring(slash == std::wstring_view::npos ? inf_name : inf_name.substr(slash + 1));
}

}  // namespace

const char* const device_detail_keys[DEVICE_DETAIL_ROW_COUNT] = {
    "device_detail_list_device_id",
    "device_detail_list_device_desc",
    "device_detail_list_matching_device_id",
    "device_detail_list_hardware_ids",
    "device_detail_list_compatible_ids",
    "device_detail_list_manufacturer",
    "device_detail_list_inf_name",
    "device_detail_list_inf_date",
    "device_detail_list_inf_version",
    "device_detail_list_class_name",
    "device_detail_list_class_desc",
    "device_detail_list_enumerator",
    "device_detail_list_rank_of_installed_driver",
};

device_details device_detail_rows(const device_record& d) {
    const device_class* c = d.class_info;
    const std::wstring installed[DEVICE_DETAIL_ROW_COUNT] = {
        d.device_id,
        d.DriverDesc,
        d.MatchingDeviceId,
        first_entry(d.hardware_ids),
        first_entry(d.compatible_ids),
        d.ProviderName,
        d.InfPath,
        d.DriverDate,
        d.DriverVersion,
        c ? c->name : L"",
        c ? c->description : L"",
        d.enumerator,
        hex8(d.driver_rank),
    };
    // Rows 1, 2, 5, 6, 7 and 8 have an offered side.
    std::wstring offered[DEVICE_DETAIL_ROW_COUNT];
    for (std::wstring& text : offered) text = DEVINFO_BLANK;
    if (const driver_offer* o = d.best_offer) {
        offered[1] = o->description.view();
        offered[2] = o->hardid.view();
        offered[5] = o->manufacturer.view();
        offered[6] = file_part(o->inf_name.view());
        offered[7] = o->date.view();
        offered[8] = o->version.view();
    }
    device_details rows;
    for (int i = 0; i < DEVICE_DETAIL_ROW_COUNT; ++i)
        rows[i] = {device_detail_keys[i], installed[i], std::move(offered[i])};
    return rows;
}

std::array<int, 3> devinfo_column_widths(int first_needed) {
    const int total =
        DEVINFO_COLUMN_WIDTHS[0] + DEVINFO_COLUMN_WIDTHS[1] + DEVINFO_COLUMN_WIDTHS[2];
    if (first_needed <= DEVINFO_COLUMN_WIDTHS[0])
        return {DEVINFO_COLUMN_WIDTHS[0], DEVINFO_COLUMN_WIDTHS[1], DEVINFO_COLUMN_WIDTHS[2]};
    const int first = std::min(first_needed, total - 2 * DEVINFO_MIN_VALUE_WIDTH);
    const int second = (total - first) / 2;
    return {first, second, total - first - second};
}

int show_device_information(HWND owner, const std::vector<const device_record*>& group) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    devinfo_window_c dialog(group);
    return dialog.run_modal(owner);
}

devinfo_window_c::devinfo_window_c(const std::vector<const device_record*>& group)
    : skinned_dialog_c(IDD_DEVICE_INFO, DEVINFO_CAPTION, DEVINFO_WIDTH, DEVINFO_HEIGHT) {
    for (const device_record* device : group) {
        if (device) group_.push_back(device);
    }
}

bool devinfo_window_c::process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       LRESULT& result) {
    switch (message) {
    case WM_SETFOCUS:
        if (table_) {
            SetFocus(table_);
            result = 0;
            return true;
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDC_DEVINFO_LIST && HIWORD(wparam) == LBN_SELCHANGE) {
            fill_table(static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0)));
            result = 0;
            return true;
        }
        break;
    default:
        break;
    }
    bool handled = skinned_dialog_c::process_message(window, message, wparam, lparam, result);
    if (message == WM_INITDIALOG && table_) {
        // The table has the focus, not the first control in tab order.
        SetFocus(table_);
        result = FALSE;
    }
    return handled;
}

void devinfo_window_c::set_up(HINSTANCE module) {
    SetWindowTextW(window_, text_for("menu_information").c_str());

    // The list and the table come first in tab order, before OK. A plain
    // one-pixel border: the dialog manager would make a template's bordered
    // control a sunken one, two pixels wide on each side.
    list_ = create_control(L"LISTBOX", IDC_DEVINFO_LIST, DEVINFO_LIST_RECT, HWND_TOP,
                           LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL);
    table_ = create_control(WC_LISTVIEWW, IDC_DEVINFO_TABLE, DEVINFO_TABLE_RECT, list_,
                            LVS_REPORT | LVS_SHOWSELALWAYS);
    if (list_) fill_device_list();
    if (table_) {
        // A value cut at its column's edge unfolds under the resting pointer
        // where the common controls support it.
        const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP;
        SendMessageW(table_, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
        create_columns();
        fill_table(0);
    }

    button_images_ = create_button_image_list(module, 80, 22, IDB_DIALOG_BUTTON_NORMAL,
                                              IDB_DIALOG_BUTTON_PRESSED, IDB_DIALOG_BUTTON_HOVER);
    bitmap_button_c& ok = buttons_[0];
    ok.subclass(window_, IDOK, button_images_, ui_font(BUTTON_FONT), RGB(255, 255, 255));
    ok.set_text(text_for("btn_ok").c_str());
    ok.move_to(DEVINFO_OK_AT.x, DEVINFO_OK_AT.y);
}

HWND devinfo_window_c::create_control(const wchar_t* window_class, int id, const RECT& r,
                                      HWND after, DWORD style) {
    HWND control = CreateWindowExW(
        0, window_class, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | style, r.left,
        r.top, r.right - r.left, r.bottom - r.top, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!control) return nullptr;
    SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(ui_font(LIST_FONT)), FALSE);
    return control;
}

void devinfo_window_c::erase_background(HDC dc, const RECT& client) {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

void devinfo_window_c::fill_device_list() {
    SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    for (const device_record* device : group_) {
        SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(device->display_name));
    }
    if (!group_.empty()) SendMessageW(list_, LB_SETCURSEL, 0, 0);
}

void devinfo_window_c::create_columns() {
    static const char* const headings[3] = {"device_detail_description",
                                            "device_detail_current_driver",
                                            "device_detail_new_driver"};
    auto needed = [this](const std::wstring& text) {
        return static_cast<int>(SendMessageW(table_, LVM_GETSTRINGWIDTHW, 0,
                                             reinterpret_cast<LPARAM>(text.c_str()))) +
               DEVINFO_CELL_PADDING;
    };
    int first_needed = needed(text_for(headings[0]));
    for (const char* key : device_detail_keys)
        first_needed = std::max(first_needed, needed(text_for(key)));
    const std::array<int, 3> widths = devinfo_column_widths(first_needed);

    for (int i = 0; i < 3; ++i) {
        const std::wstring& heading = text_for(headings[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = widths[i];
        column.pszText = const_cast<wchar_t*>(heading.c_str());
        column.iSubItem = i;
        SendMessageW(table_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

void devinfo_window_c::fill_table(int index) {
    SendMessageW(table_, LVM_DELETEALLITEMS, 0, 0);
    if (index < 0 || static_cast<std::size_t>(index) >= group_.size()) return;
    const device_details rows = device_detail_rows(*group_[index]);
    for (int i = 0; i < DEVICE_DETAIL_ROW_COUNT; ++i) {
        // The list view copies the texts.
        const std::wstring* cells[3] = {&text_for(rows[i].key), &rows[i].installed,
                                        &rows[i].offered};
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(cells[0]->c_str());
        SendMessageW(table_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        for (int column = 1; column < 3; ++column) {
            item.iSubItem = column;
            item.pszText = const_cast<wchar_t*>(cells[column]->c_str());
            SendMessageW(table_, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        }
    }
}
