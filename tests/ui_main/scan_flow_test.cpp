// The scan page's arithmetic and texts.
#include <gtest/gtest.h>

#include "app/language.h"
#include "ui/scan_flow.h"

namespace {

TEST(ScanPage, StatusBoxIsCentredLeftOfTheSidebar) {
    RECT r = scan_status_box(800, 500, 12, 200);
    EXPECT_EQ(r.left, 91);   // (800 − 250) / 6
    EXPECT_EQ(r.right, 458); // 5 × 550 / 6
    EXPECT_EQ(r.top, (500 - 100) / 2);
    EXPECT_EQ(r.bottom - r.top, 100);
    // A text wider than two thirds: the box is centred on it.
    r = scan_status_box(800, 500, 12, 400);
    EXPECT_EQ(r.left, 75);
    EXPECT_EQ(r.right, 475);
}

TEST(ScanPage, ClockTextsAndProgress) {
    EXPECT_EQ(format_elapsed(25 * 3600 + 62), L"01:01:02");  // a day wraps
    EXPECT_EQ(format_elapsed(-5), L"00:00:00");
    EXPECT_EQ(std::wstring(waiting_dots(30)), L".");
    EXPECT_EQ(std::wstring(waiting_dots(31)), L"..");
    EXPECT_EQ(std::wstring(waiting_dots(32)), L"...");
    EXPECT_EQ(scan_fraction(5, 0), 0.0f);
    EXPECT_EQ(scan_fraction(1, 4), 0.25f);
    EXPECT_EQ(scan_fraction(9, 4), 1.0f);
}

TEST(ScanPage, StatusLinesJoinTheirParts) {
    reset_language_table();
    ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
    scan_status_values v;
    v.start_time = 1000;
    v.now = 1000 + 3 * 3600 + 4;
    v.phase = 2;
    v.index = 17;
    v.name = L"Realtek Audio";
    wchar_t line[SCAN_LINE_CAPACITY];
    format_scan_status_line(1, v, line);
    EXPECT_EQ(std::wstring(line), L"Time elapsed: 03:00:04");
    format_scan_status_line(2, v, line);
    EXPECT_EQ(std::wstring(line), L"Status: Looking for new drivers" + std::wstring(waiting_dots(v.now)));
    v.phase = 1;
    format_scan_status_line(2, v, line);
    EXPECT_EQ(std::wstring(line), L"Status: Checking your devices");
    format_scan_status_line(3, v, line);
    EXPECT_EQ(std::wstring(line), L"Devices scanned: 17");
    format_scan_status_line(4, v, line);
    EXPECT_EQ(std::wstring(line), L"Device: Realtek Audio");
    // A long name is cut, never overrun.
    v.name.assign(5000, L'x');
    format_scan_status_line(4, v, line);
    EXPECT_EQ(std::wcslen(line), SCAN_LINE_CAPACITY - 1);
}

}  // namespace
