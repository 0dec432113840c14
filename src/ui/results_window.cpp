#include "ui/results_window.h"

#include "app/language.h"
#include "devices/device_store.h"
#include "ui/page_class.h"
#include "ui/skin/colors.h"
#include "ui/skin/fonts.h"

std::wstring result_line(const device_record& device) {
    std::wstring line = device.display_name;
    line += L"\t";
    line += device.has_driver ? device.DriverVersion : L"-";
    if (device.DriverDate[0]) line += std::wstring(L" (") + device.DriverDate + L")";
    if (const driver_offer* offer = device.best_offer) {
        line += L"  \u2192  ";
        line += offer->version;
        if (!offer->date.empty()) line += std::wstring(L" (") + offer->date.c_str() + L")";
    }
    return line;
}

bool has_new_driver(const device_record& device) {
    return device.best_offer && device.best_is_update;
}

HWND results_window_c::create(HWND owner) {
    return create_page(*this, owner, false);
}

int results_window_c::set_devices(const device_record* first, int count) {
    has_results_ = true;
    new_drivers_ = 0;
    lines_.clear();
    for (int i = 0; first && i < count; ++i) {
        const device_record& device = first[i];
        if (device.offer_count == 0) continue;
        if (has_new_driver(device)) ++new_drivers_;
        lines_.push_back(result_line(device));
    }
    if (window_) InvalidateRect(window_, nullptr, FALSE);
    return new_drivers_;
}

bool results_window_c::process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                       LRESULT& result) {
    static const message_entry<results_window_c> map[] = {
        {WM_PAINT, &results_window_c::on_paint},
        {WM_ERASEBKGND, &results_window_c::on_erase_background},
    };
    return dispatch_message(this, map, message, wparam, lparam, result);
}

LRESULT results_window_c::on_erase_background(UINT, WPARAM, LPARAM, bool&) { return 1; }

LRESULT results_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    paint_page(window_, [this](HDC dc, const RECT& client) { paint(dc, client); });
    return 0;
}

void results_window_c::paint(HDC dc, const RECT& client) {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, SKIN_TITLE_TEXT);
    SelectObject(dc, ui_font(font_id::verdana_18));
    std::wstring title = text_for(title_key_);
    if (has_results_)
        title = text_for(new_drivers_ > 0 ? "download_new_drivers_found1"
                                          : "download_new_drivers_found3");
    TextOutW(dc, 15, 10, title.c_str(), static_cast<int>(title.size()));
    int y = 50;
    if (has_results_) {
        SelectObject(dc, ui_font(font_id::verdana_10_bold));
        std::wstring count = text_for("download_new_drivers_found2") + L" " +
                             std::to_wstring(new_drivers_);
        TextOutW(dc, 15, y, count.c_str(), static_cast<int>(count.size()));
        y += 30;
        SelectObject(dc, ui_font(font_id::verdana_8));
        SetTextColor(dc, SKIN_SIDEBAR_VALUE);
        const int tab_stop = client.right / 2;
        for (const std::wstring& line : lines_) {
            if (y > client.bottom) break;
            TabbedTextOutW(dc, 15, y, line.c_str(), static_cast<int>(line.size()), 1,
                           &tab_stop, 15);
            y += 18;
        }
    }
    RestoreDC(dc, saved);
}
