// The device information dialog: the table's rows for a device, and the
// dialog itself with devices of the example PC: its layout, refilling on a
// click in the device list, the focus, its results under the real pointer
// and keyboard, and pictures in three languages.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/language.h"
#include "devices/device_store.h"
#include "platform/machine_profile.h"
#include "platform/profile_device_source.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/devinfo_window.h"
#include "ui/skin/fonts.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

const wchar_t* const example_path = QM_SOURCE_DIR_W L"\\profiles\\example-pc.xml";

driver_offer make_offer(const wchar_t* description, const wchar_t* hardid,
                        const wchar_t* manufacturer, const wchar_t* inf_name,
                        const wchar_t* date, const wchar_t* version) {
    driver_offer o;
    o.description = description;
    o.hardid = hardid;
    o.manufacturer = manufacturer;
    o.inf_name = inf_name;
    o.date = date;
    o.version = version;
    o.title = L"Package";
    o.link = "http://updates.example/package.zip";
    return o;
}

// Gives `device` one offer, its best.
void offer_to(device_record& device, driver_offer offer) {
    device.offers.assign(1, std::move(offer));
    device.offer_count = 1;
    device.best_offer = &device.offers[0];
}

// The example PC scanned through its profile; the first three records (the
// two display adapters and the monitor) get offers of their own.
class example_pc {
public:
    example_pc() {
        std::wstring error;
        loaded = load_machine_profile(example_path, profile_, &error);
        if (!loaded) return;
        profile_device_source source(&profile_);
        scan_progress progress;
        reset_scan_progress(progress, false);
        loaded = enumerate_devices(store, progress, source) && store.devices.size() >= 3;
        if (!loaded) return;
        offer_to(store.devices[0],
                 make_offer(L"Intel(R) HD Graphics Family", LR"(PCI\VEN_8086&DEV_0166)",
                            L"Intel", LR"(Graphics\Win64\igdlh64.inf)", L"2013-04-11",
                            L"9.17.10.3062"));
        offer_to(store.devices[1],
                 make_offer(L"NVIDIA NVS 5400M", LR"(PCI\VEN_10DE&DEV_0DEF&SUBSYS_21F517AA)",
                            L"NVIDIA", LR"(Display.Driver\nvlti.inf)", L"2013-03-20",
                            L"9.18.13.1407"));
        offer_to(store.devices[2], make_offer(L"Lenovo LEN40A0 Monitor", L"MONITOR\\LEN40A0",
                                              L"Lenovo", L"len40a0.inf", L"2012-08-01",
                                              L"1.0.0.2"));
    }
    std::vector<const device_record*> group(std::size_t count) const {
        std::vector<const device_record*> g;
        for (std::size_t i = 0; i < count && i < store.devices.size(); ++i)
            g.push_back(&store.devices[i]);
        return g;
    }

    bool loaded = false;
    device_store store;

private:
    machine_profile profile_;
};

std::wstring cell(HWND table, int row, int column) {
    wchar_t text[1100] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 1100;
    SendMessageW(table, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

struct column_view {
    std::wstring heading;
    int width = 0;
    int format = 0;
};

column_view view_column(HWND table, int column) {
    wchar_t heading[128] = {};
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    c.pszText = heading;
    c.cchTextMax = 128;
    if (!SendMessageW(table, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&c))) return {};
    return {heading, c.cx, c.fmt};
}

// The table's column `column`, row by row.
std::vector<std::wstring> table_column(HWND table, int column) {
    std::vector<std::wstring> texts;
    int rows = static_cast<int>(SendMessageW(table, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) texts.push_back(cell(table, row, column));
    return texts;
}

std::vector<std::wstring> expected_column(const device_record& device, int column) {
    std::vector<std::wstring> texts;
    for (const device_detail_row& row : device_detail_rows(device)) {
        texts.push_back(column == 0 ? text_for(row.key)
                                    : column == 1 ? row.installed : row.offered);
    }
    return texts;
}

RECT client_rect_of(HWND dialog, HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

POINT screen_point_of(HWND dialog, int x, int y) {
    POINT p{x, y};
    ClientToScreen(dialog, &p);
    return p;
}

int show_and(const std::vector<const device_record*>& group, const std::function<void(HWND)>& act,
             HWND owner = nullptr) {
    return drive_modal([&] { return show_device_information(owner, group); }, act);
}

// A plain visible window to own the dialog.
class owner_window {
public:
    owner_window(int x, int y, int width, int height) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"Quillmark.DevinfoOwner";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"owner", WS_POPUP | WS_VISIBLE, x, y,
                                 width, height, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~owner_window() { DestroyWindow(window); }
    HWND window = nullptr;
};

}  // namespace

// --- The rows ------------------------------------------------------------------

TEST(DeviceDetails, ThirteenRowsOfAnExampleDeviceWithItsOffer) {
    example_pc pc;
    ASSERT_TRUE(pc.loaded);
    const device_details rows = device_detail_rows(pc.store.devices[0]);
    const struct {
        const char* key;
        const wchar_t* installed;
        const wchar_t* offered;
    } expected[DEVICE_DETAIL_ROW_COUNT] = {
        {"device_detail_list_device_id", LR"(PCI\VEN_8086&DEV_0166&SUBSYS_21FA17AA&REV_09)",
         L"(blank)"},
        {"device_detail_list_device_desc", L"Intel(R) HD Graphics 4000",
         L"Intel(R) HD Graphics Family"},
        {"device_detail_list_matching_device_id", LR"(PCI\VEN_8086&DEV_0166&SUBSYS_21FA17AA)",
         LR"(PCI\VEN_8086&DEV_0166)"},
        {"device_detail_list_hardware_ids", LR"(PCI\VEN_8086&DEV_0166&SUBSYS_21FA17AA&REV_09)",
         L"(blank)"},
        {"device_detail_list_compatible_ids", LR"(PCI\VEN_8086&DEV_0166&REV_09)", L"(blank)"},
        {"device_detail_list_manufacturer", L"Intel Corporation", L"Intel"},
        {"device_detail_list_inf_name", L"oem12.inf", L"igdlh64.inf"},
        {"device_detail_list_inf_date", L"2012-10-03", L"2013-04-11"},
        {"device_detail_list_inf_version", L"9.17.10.2867", L"9.17.10.3062"},
        {"device_detail_list_class_name", L"Display", L"(blank)"},
        {"device_detail_list_class_desc", L"Display adapters", L"(blank)"},
        {"device_detail_list_enumerator", L"PCI", L"(blank)"},
        {"device_detail_list_rank_of_installed_driver", L"00FF0000", L"(blank)"},
    };
    for (int i = 0; i < DEVICE_DETAIL_ROW_COUNT; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(rows[i].key, expected[i].key);
        EXPECT_EQ(rows[i].installed, expected[i].installed);
        EXPECT_EQ(rows[i].offered, expected[i].offered);
        EXPECT_FALSE(text_for(rows[i].key).empty()) << "no English text for " << rows[i].key;
    }
}

TEST(DeviceDetails, MissingValuesRankAndInfNames) {
    device_record device;
    copy_text(device.device_id, L"USB\\VID_1234&PID_5678");
    device.driver_rank = 0;  // not obtained
    // No ProviderName, no class, no identifier lists.
    offer_to(device, make_offer(L"", L"", L"Vendor", L"plain.inf", L"", L""));
    device_details rows = device_detail_rows(device);
    EXPECT_EQ(rows[5].installed, L"");  // manufacturer
    EXPECT_EQ(rows[5].offered, L"Vendor");
    EXPECT_EQ(rows[6].offered, L"plain.inf");  // no backslash: the whole name
    EXPECT_EQ(rows[12].installed, L"00000000");
    EXPECT_EQ(rows[3].installed, L"");
    EXPECT_EQ(rows[4].installed, L"");
    EXPECT_EQ(rows[9].installed, L"");
    EXPECT_EQ(rows[10].installed, L"");
    // Offered values the offer lacks stay empty; only rows without an offered
    // side say "(blank)".
    EXPECT_EQ(rows[1].offered, L"");
    EXPECT_EQ(rows[7].offered, L"");

    device.driver_rank = 0x00ABCDEF;
    device.offers[0].inf_name = L"a\\b\\";  // ends in a backslash: nothing after it
    rows = device_detail_rows(device);
    EXPECT_EQ(rows[12].installed, L"00ABCDEF");
    EXPECT_EQ(rows[6].offered, L"");
    device.driver_rank = 0xFFFFFFFF;
    EXPECT_EQ(device_detail_rows(device)[12].installed, L"FFFFFFFF");

    // A device without an offer shows "(blank)" on the whole offered side.
    device.best_offer = nullptr;
    for (const device_detail_row& row : device_detail_rows(device)) EXPECT_EQ(row.offered, L"(blank)");
}

TEST(DeviceDetails, TheFirstColumnWidensOnlyForNamesThatDoNotFit) {
    EXPECT_EQ(devinfo_column_widths(60), (std::array<int, 3>{130, 231, 231}));
    EXPECT_EQ(devinfo_column_widths(130), (std::array<int, 3>{130, 231, 231}));
    EXPECT_EQ(devinfo_column_widths(171), (std::array<int, 3>{171, 210, 211}));
    // The value columns keep their least width.
    EXPECT_EQ(devinfo_column_widths(500), (std::array<int, 3>{292, 150, 150}));
}

// --- The dialog ----------------------------------------------------------------

TEST(DeviceInformation, LayoutContentAndFocus) {
    example_pc pc;
    ASSERT_TRUE(pc.loaded);
    owner_window owner(100, 50, 800, 600);
    ASSERT_NE(owner.window, nullptr);
    const auto group = pc.group(3);
    int result = show_and(group, [&](HWND dialog) {
        RECT window{};
        GetWindowRect(dialog, &window);
        EXPECT_EQ(window.right - window.left, DEVINFO_WIDTH);
        EXPECT_EQ(window.bottom - window.top, DEVINFO_HEIGHT);
        EXPECT_EQ(window.left, 100 + (800 - DEVINFO_WIDTH) / 2);  // centred over its owner
        EXPECT_EQ(window.top, 50 + (600 - DEVINFO_HEIGHT) / 2);
        EXPECT_EQ(client_origin_in_window(dialog).y,
                  DEVINFO_CAPTION + GetSystemMetrics(SM_CYDLGFRAME));
        wchar_t title[64] = {};
        GetWindowTextW(dialog, title, 64);
        EXPECT_EQ(std::wstring(title), text_for("menu_information"));

        // The device list: names in group order, the first selected.
        HWND list = GetDlgItem(dialog, IDC_DEVINFO_LIST);
        ASSERT_NE(list, nullptr);
        RECT r = client_rect_of(dialog, list);
        EXPECT_EQ(r.left, 10);
        EXPECT_EQ(r.top, 30);
        EXPECT_EQ(r.right, 622);
        EXPECT_EQ(r.bottom, 160);
        EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & LBS_NOTIFY);
        EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & WS_BORDER);
        ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
        for (int i = 0; i < 3; ++i) {
            wchar_t name[1025] = {};
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(name));
            EXPECT_STREQ(name, group[i]->display_name);
        }
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 0);

        // The table: report mode, its columns, the first device's rows.
        HWND table = GetDlgItem(dialog, IDC_DEVINFO_TABLE);
        ASSERT_NE(table, nullptr);
        r = client_rect_of(dialog, table);
        EXPECT_EQ(r.left, 10);
        EXPECT_EQ(r.top, 180);
        EXPECT_EQ(r.right, 622);
        EXPECT_EQ(r.bottom, 380);
        LONG style = GetWindowLongW(table, GWL_STYLE);
        EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
        EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
        EXPECT_TRUE(style & WS_BORDER);
        EXPECT_TRUE(SendMessageW(table, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(table, WM_GETFONT, 0, 0)),
                  ui_font(font_id::verdana_8_second));
        const char* headings[3] = {"device_detail_description", "device_detail_current_driver",
                                   "device_detail_new_driver"};
        for (int column = 0; column < 3; ++column) {
            SCOPED_TRACE(column);
            const column_view c = view_column(table, column);
            EXPECT_EQ(c.heading, text_for(headings[column]));
            EXPECT_EQ(c.width, DEVINFO_COLUMN_WIDTHS[column]);
            EXPECT_EQ(c.format & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
            EXPECT_EQ(table_column(table, column), expected_column(*group[0], column));
        }

        // OK: the 80 × 22 skinned button at (290, 400).
        r = client_rect_of(dialog, GetDlgItem(dialog, IDOK));
        EXPECT_EQ(r.left, 290);
        EXPECT_EQ(r.top, 400);
        EXPECT_EQ(r.right - r.left, 80);
        EXPECT_EQ(r.bottom - r.top, 22);

        // Tab order: list, table, OK.
        EXPECT_EQ(GetNextDlgTabItem(dialog, list, FALSE), table);
        EXPECT_EQ(GetNextDlgTabItem(dialog, table, FALSE), GetDlgItem(dialog, IDOK));

        // The table has the focus, and gets it whenever the dialog does.
        EXPECT_EQ(GetFocus(), table);
        SetFocus(list);
        EXPECT_EQ(GetFocus(), list);
        SetFocus(dialog);
        EXPECT_EQ(GetFocus(), table);

        picture shot = capture_window(dialog);
        POINT c = client_origin_in_window(dialog);
        EXPECT_EQ(shot.at(c.x + 300, c.y + 170), RGB(255, 255, 255));  // between the controls
        EXPECT_EQ(shot.at(c.x + 5, c.y + 430), RGB(255, 255, 255));
        EXPECT_TRUE(shows_bitmap(shot, c.x + 290, c.y + 400, IDB_DIALOG_BUTTON_NORMAL,
                                 {IDB_DIALOG_BUTTON_NORMAL, IDB_DIALOG_BUTTON_HOVER,
                                  IDB_DIALOG_BUTTON_PRESSED},
                                 {RGB(255, 255, 255)}));
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    }, owner.window);
    EXPECT_EQ(result, 1);
}

TEST(DeviceInformation, RealPointerPicksTheSecondDeviceAndClicksOk) {
    pointer_lock pointer;
    example_pc pc;
    ASSERT_TRUE(pc.loaded);
    const auto group = pc.group(3);
    int result = show_and(group, [&](HWND dialog) {
        SetWindowPos(dialog, HWND_TOP, 20, 0, 0, 0, SWP_NOSIZE);
        HWND list = GetDlgItem(dialog, IDC_DEVINFO_LIST);
        HWND table = GetDlgItem(dialog, IDC_DEVINFO_TABLE);
        RECT item{};
        ASSERT_NE(SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item)), LB_ERR);
        POINT second{item.left + 30, (item.top + item.bottom) / 2};
        ClientToScreen(list, &second);
        EXPECT_TRUE(drive_pointer(pointer_click(second),
                                  [&] { return SendMessageW(list, LB_GETCURSEL, 0, 0) == 1; },
                                  "pick the second device"));
        // Columns 1 and 2 come from the second record and its own offer.
        for (int column = 0; column < 3; ++column) {
            SCOPED_TRACE(column);
            EXPECT_EQ(table_column(table, column), expected_column(*group[1], column));
        }
        EXPECT_EQ(cell(table, 0, 1), group[1]->device_id);
        EXPECT_EQ(cell(table, 6, 2), L"nvlti.inf");
        EXPECT_EQ(cell(table, 5, 1), L"NVIDIA");

        POINT ok = screen_point_of(dialog, DEVINFO_OK_AT.x + 40, DEVINFO_OK_AT.y + 11);
        drive_pointer(pointer_click(ok), [&] { return !IsWindowVisible(dialog); }, "click OK");
    });
    EXPECT_EQ(result, 1);
}

TEST(DeviceInformation, EscapeAndTheCaptionCloseButtonGiveTwo) {
    example_pc pc;
    ASSERT_TRUE(pc.loaded);
    const auto group = pc.group(2);
    // Escape on the keyboard (the system's input queue, as a key press),
    // the focus on the table.
    int result = show_and(group, [&](HWND dialog) {
        SetForegroundWindow(dialog);
        INPUT keys[2] = {};
        for (INPUT& key : keys) {
            key.type = INPUT_KEYBOARD;
            key.ki.wVk = VK_ESCAPE;
        }
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        // The dialog's own loop takes the key: it is the dialog manager that
        // turns Escape into the cancel command.
        EXPECT_EQ(SendInput(2, keys, sizeof(INPUT)), 2u);
    });
    EXPECT_EQ(result, 2);

    result = show_and(group, [&](HWND dialog) {
        SetWindowPos(dialog, HWND_TOP, 20, 0, 0, 0, SWP_NOSIZE);
        RECT r{};
        GetWindowRect(dialog, &r);
        POINT close{r.right - GetSystemMetrics(SM_CXDLGFRAME) - 15,
                    r.top + GetSystemMetrics(SM_CYDLGFRAME) + 10};
        EXPECT_EQ(hit_code_at(dialog, close), HTCAPTION);
        drive_pointer(pointer_click(close), [&] { return !IsWindowVisible(dialog); },
                      "click the caption close button");
    });
    EXPECT_EQ(result, 2);
}

TEST(DeviceInformation, AGroupWithoutDevicesShowsAnEmptyTable) {
    const std::vector<const device_record*> none{nullptr};
    int result = show_and(none, [](HWND dialog) {
        EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_DEVINFO_LIST), LB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_DEVINFO_TABLE), LVM_GETITEMCOUNT, 0, 0), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    EXPECT_EQ(result, 2);
}

// Pictures for a person to look at, in English, Arabic and Japanese; the
// column headings and the row names fit their columns in each.
TEST(DeviceInformation, PicturesInThreeLanguages) {
    example_pc pc;
    ASSERT_TRUE(pc.loaded);
    const auto group = pc.group(3);
    const struct {
        const wchar_t* language;
        const wchar_t* code;
    } languages[] = {{L"English", L"en"},
                     {L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", L"ar"},
                     {L"\u65e5\u672c\u8a9e", L"ja"}};
    for (const auto& l : languages) {
        SCOPED_TRACE(l.code);
        reset_language_table();
        ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", l.language, true), 0);
        show_and(group, [&](HWND dialog) {
            HWND table = GetDlgItem(dialog, IDC_DEVINFO_TABLE);
            HDC dc = GetDC(table);
            HGDIOBJ old = SelectObject(dc, ui_font(font_id::verdana_8_second));
            // A text fits when it leaves the list view's cell margins free.
            auto fits = [&](const std::wstring& text, int column) {
                SIZE size{};
                GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
                return size.cx + DEVINFO_CELL_PADDING <= view_column(table, column).width;
            };
            int total = 0;
            for (int column = 0; column < 3; ++column) {
                total += view_column(table, column).width;
                EXPECT_TRUE(fits(view_column(table, column).heading, column)) << "heading " << column;
            }
            EXPECT_EQ(total,
                      DEVINFO_COLUMN_WIDTHS[0] + DEVINFO_COLUMN_WIDTHS[1] + DEVINFO_COLUMN_WIDTHS[2]);
            EXPECT_FALSE(GetWindowLongW(table, GWL_STYLE) & WS_HSCROLL) << "scrolls sideways";
            for (const std::wstring& name : table_column(table, 0))
                EXPECT_TRUE(fits(name, 0)) << wide_to_utf8(name);
            SelectObject(dc, old);
            ReleaseDC(table, dc);
            EXPECT_TRUE(save_screenshot(capture_window(dialog),
                                        (std::wstring(L"devinfo_") + l.code).c_str()));
            SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        });
    }
    reset_language_table();
    ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
}
