// A plain page: a title from the language table and, for the scan results,
// one line per device that the update service has offers for. It stands in
// for the download, backup and restore pages, which have their own windows
// later.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/skin/window.h"

struct device_record;

// One line of the results list: the device's name, its installed driver
// version and date, and the best offer's version and date.
std::wstring result_line(const device_record& device);
// Whether the device has a newer driver on offer.
bool has_new_driver(const device_record& device);

class results_window_c : public window_base_c {
public:
    // `title_key` names the page's title text.
    explicit results_window_c(const char* title_key) : title_key_(title_key) {}

    // Creates the hidden child page over the owner's client area.
    HWND create(HWND owner);
    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

    // Builds the list from the devices of a scan. Returns the number of
    // devices with a newer driver.
    int set_devices(const device_record* first, int count);
    int new_driver_count() const { return new_drivers_; }
    const std::vector<std::wstring>& lines() const { return lines_; }

private:
    LRESULT on_paint(UINT, WPARAM, LPARAM, bool&);
    LRESULT on_erase_background(UINT, WPARAM, LPARAM, bool&);
    void paint(HDC dc, const RECT& client);

    const char* title_key_;
    bool has_results_ = false;
    int new_drivers_ = 0;
    std::vector<std::wstring> lines_;
};
