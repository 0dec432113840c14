// Every shipped text, in all eleven languages, measured with the program's
// fonts in the room its page or box gives it, at the main window's smallest
// size: a translation that is cut, or that runs into its neighbour, fails
// here with its key, its language and by how much.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/language.h"
#include "app/settings.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/main_window.h"
#include "ui/message_window.h"
#include "ui/scan_flow.h"
#include "ui/skin/fonts.h"
#include "ui/skin/image.h"
#include "ui/skin/wrapped_text.h"
#include "ui/text_boxes.h"
#include "texts/text_test_support.h"

namespace {

// Measured with the numbers the windows use for these boxes: the message box
// text's line gap, the tab width, the tab labels' fonts and bottom margin.
constexpr int MESSAGE_LINE_GAP = 6;
constexpr int TAB_WIDTH = 83;
font_id tab_font() {
    const bool long_texts = locale_is(L"de") || locale_is(L"it") || locale_is(L"es") || locale_is(L"pt");
    return long_texts ? font_id::verdana_8 : font_id::verdana_8_bold;
}

const wchar_t shipped_file[] = QM_PROGRAM_DIR_W L"\\language.ini";

class TextsFit : public ::testing::Test {
protected:
    void SetUp() override {
        create_fonts();
        page_ = smallest_page_size();
    }
    void TearDown() override { reset_language_table(); }

    // Runs `check` once per language, with that language's texts current.
    template <class Check>
    void for_each_language(Check&& check) {
        for (DWORD number = 1; number <= 11; ++number) {
            reset_language_table();
            const std::wstring name = installer_language_name(number);
            ASSERT_EQ(load_language_file(shipped_file, name.c_str(), true), 0);
            language_ = wide_to_utf8(name);
            check();
        }
        reset_language_table();
    }

    // A text on one line in `box`: as wide and as high as the box at most.
    void single_line(const char* key, const std::wstring& text, font_id font, const RECT& box) {
        SIZE size = text_extent(canvas_.dc(), font, text);
        EXPECT_LE(size.cx, box.right - box.left)
            << language_ << " " << key << " is " << size.cx - (box.right - box.left)
            << " px too wide: \"" << wide_to_utf8(text) << "\"";
        EXPECT_LE(size.cy, box.bottom - box.top) << language_ << " " << key << " is too high";
    }
    void single_line(const char* key, font_id font, const RECT& box) {
        single_line(key, text_for(key), font, box);
    }

    // A text word-wrapped in `box` with the program's wrapping routine: every
    // line must lie inside the box.
    void wrapped(const char* key, const std::wstring& text, font_id font, const RECT& box, int gap) {
        HDC dc = canvas_.dc();
        HGDIOBJ old = SelectObject(dc, ui_font(font));
        RECT measured = box;
        int lines = draw_wrapped_text(dc, text, measured, gap, wrap_mode::measure);
        SelectObject(dc, old);
        EXPECT_LE(measured.bottom, box.bottom)
            << language_ << " " << key << " needs " << lines << " lines and is cut "
            << measured.bottom - box.bottom << " px below its box: \"" << wide_to_utf8(text)
            << "\"";
        EXPECT_GE(lines, 1) << language_ << " " << key << " is empty";
    }

    SIZE page_{};
    text_canvas canvas_;
    std::string language_;
};

TEST_F(TextsFit, HomePage) {
    const int W = page_.cx, H = page_.cy;
    for_each_language([&] {
        single_line("home_scan_for_driver_updates", HOME_TITLE_FONT, home_title_box(W));
        const home_step_boxes steps = home_step_caption_boxes(W, H);
        single_line("home_scan_for_drivers", home_caption_font(), steps.scan);
        single_line("home_download", home_caption_font(), steps.download);
        single_line("home_install", home_caption_font(), steps.install);

        image_c bottom_picture;
        ASSERT_TRUE(bottom_picture.load(resource_module(), home_images().banner));
        const int small_top = H - bottom_picture.height() - 10 - 25;
        wrapped("home_tarnwick_automatically", text_for("home_tarnwick_automatically"),
                home_caption_font(), home_auto_scan_box(W, small_top), HOME_AUTO_SCAN_LINE_GAP);
    });
}

TEST_F(TextsFit, Sidebar) {
    const int W = page_.cx;
    const char* const labels[] = {"sidebar_model",   "sidebar_os",    "sidebar_cpu",
                                  "sidebar_memory",  "sidebar_display", "sidebar_sound",
                                  "sidebar_storage"};
    for_each_language([&] {
        for (sidebar_page page : {sidebar_page::home, sidebar_page::scan}) {
            SCOPED_TRACE(page == sidebar_page::home ? "home page" : "scan page");
            single_line("sidebar_system_info", sidebar_title_font(page), sidebar_title_box(W));
            // A label is as high as its value: one line beside a short value.
            const int line = text_extent(canvas_.dc(), SIDEBAR_ROW_FONT, L"Ag").cy;
            for (const char* key : labels)
                wrapped(key, text_for(key), SIDEBAR_ROW_FONT, sidebar_label_box(W, page, 100, 100 + line),
                        0);
        }
    });
}

TEST_F(TextsFit, ScanPage) {
    const int W = page_.cx, H = page_.cy;
    image_c right_picture;
    ASSERT_TRUE(right_picture.load(resource_module(), IDB_SCAN_HEADER_RIGHT));
    for_each_language([&] {
        single_line("scan_scanning", SCAN_TITLE_FONT, scan_title_box(W, right_picture.width()));

        // The status box as the page lays it out.
        const SIZE status2 = text_extent(canvas_.dc(), SCAN_STATUS_FONT, text_for("scan_status2"));
        const RECT box = scan_status_box(W, H, status2.cy, status2.cx);
        single_line("scan_scanning_your_computer", SCAN_HEADING_FONT, scan_heading_box(W, box));

        // Each status line with the longest value it shows (the device
        // name is the machine's, not a text of the program).
        const char* const keys[] = {"scan_start_time", "scan_time_elapsed", "scan_status",
                                    "scan_items_scanned", "scan_item"};
        for (int phase : {1, 2}) {
            scan_status_values values;
            values.start_time = 0;
            values.now = 2 + 3 * 12000;  // "..." and a two-digit hour
            values.phase = phase;
            values.index = 99999;
            wchar_t line[SCAN_LINE_CAPACITY];
            for (int i = 0; i < SCAN_STATUS_LINES; ++i) {
                format_scan_status_line(i, values, line);
                RECT row{box.left, 0, box.right, status2.cy};
                single_line(keys[i], line, SCAN_STATUS_FONT, row);
            }
        }

        const int next_line_top = box.top + SCAN_STATUS_LINES * (status2.cy + 10);
        const RECT waiting = scan_waiting_text_box(scan_waiting_box(W, H, next_line_top));
        single_line("scan_waiting", text_for("scan_waiting") + L"...", SCAN_WAITING_FONT, waiting);
    });
}

TEST_F(TextsFit, MessageBoxes) {
    image_c button;
    ASSERT_TRUE(button.load(resource_module(), IDB_MESSAGE_BUTTON_NORMAL));
    const RECT button_box{0, 0, button.width(), button.height()};
    for_each_language([&] {
        for (const char* key : {"system_tray_warning", "home_download_msg", "home_backup_msg",
                                "home_restore_msg", "quit_confirm", "quit_confirm_install", "error_network_timeout",
                                "error_internal_error", "error_invalid_date"})
            wrapped(key, text_for(key), font_id::verdana_10, MESSAGE_BOX_TEXT_RECT, MESSAGE_LINE_GAP);
        // The network error with a three-digit HTTP status.
        wchar_t network_error[1024];
        format_text(network_error, 1024, text_for("error_network_error").c_str(), 503);
        wrapped("error_network_error", network_error, font_id::verdana_10, MESSAGE_BOX_TEXT_RECT,
                MESSAGE_LINE_GAP);

        for (const char* key : {"btn_ok", "btn_yes", "btn_no", "btn_retry", "btn_cancel"})
            single_line(key, font_id::verdana_9_bold, button_box);
    });
}

TEST_F(TextsFit, CaptionTabsAndAboutButtons) {
    image_c about_button;
    ASSERT_TRUE(about_button.load(resource_module(), IDB_ABOUT_BUTTON_NORMAL));
    const RECT about_box{0, 0, about_button.width(), about_button.height()};
    for_each_language([&] {
        // The label stands on the tab's bottom, 5 px up, centred.
        const RECT tab{0, 0, TAB_WIDTH, 90 - 23 - 5};
        for (const char* key : {"top_home", "top_download", "top_backup", "top_restore", "top_settings"})
            single_line(key, tab_font(), tab);
        for (const char* key : {"about_btn_check", "about_btn_bk"})
            single_line(key, font_id::verdana_8, about_box);
    });
}

// The check itself: a text one pixel too wide for its box is caught, and a
// wrapped text that needs one line more than its box holds is caught.
TEST_F(TextsFit, TheMeasureCatchesAnOverrunByOnePixel) {
    const std::wstring text = L"Quillmark keeps running";
    const SIZE size = text_extent(canvas_.dc(), font_id::verdana_10, text);
    language_ = "test";
    RECT exact{0, 0, size.cx, size.cy};
    single_line("exact", text, font_id::verdana_10, exact);
    RECT narrow{0, 0, size.cx - 1, size.cy};
    EXPECT_NONFATAL_FAILURE(single_line("narrow", text, font_id::verdana_10, narrow), "too wide");
    RECT two_lines{0, 0, size.cx / 2, size.cy};
    EXPECT_NONFATAL_FAILURE(wrapped("short", text, font_id::verdana_10, two_lines, 6), "is cut");
}

}  // namespace
