// The download page: its layout, header, score and counters as plain parts,
// and the page in a real window against the reference update service: the
// counts and the sidebar it paints, the best/latest switch and "download all"
// driven with the real pointer while downloads run, and pictures of it in
// English, Arabic and Japanese.
// The rows bring libcurl's winsock2.h, which must come before windows.h.
#include "ui/download_panel.h"

#include "ui/download_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "common/reference_service.h"
#include "common/scratch_folder.h"
#include "devices/device_store.h"
#include "downloads/download_session.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/prompt.h"
#include "ui/skin/colors.h"
#include "download_test_support.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

// --- Plain parts -------------------------------------------------------------

TEST(DownloadPageParts, LayoutForASize) {
    download_page_layout l = download_page_layout_for(790, 490, false);
    auto same = [](const RECT& a, const RECT& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    };
    EXPECT_TRUE(same(l.list, RECT{0, 67, 540, 449}));
    EXPECT_TRUE(same(l.bar, RECT{0, 449, 540, 490}));
    EXPECT_TRUE(same(l.best, RECT{330, 45, 440, 65}));
    EXPECT_TRUE(same(l.latest, RECT{450, 45, 530, 65}));
    EXPECT_TRUE(same(l.pie, RECT{551, 121, 779, 230}));
    EXPECT_TRUE(same(l.faq, RECT{649, 411, 769, 430}));
    // Long texts: both radio buttons reach 30 px further left.
    l = download_page_layout_for(1000, 700, true);
    EXPECT_TRUE(same(l.best, RECT{510, 45, 650, 65}));
    EXPECT_TRUE(same(l.latest, RECT{630, 45, 740, 65}));
    EXPECT_TRUE(same(l.list, RECT{0, 67, 750, 659}));
    // Too small for anything: nothing of negative size.
    l = download_page_layout_for(100, 50, false);
    EXPECT_EQ(l.list.right, 0);
    EXPECT_GE(l.list.bottom, l.list.top);
}

TEST(DownloadPageParts, ScoreHeaderAndSlices) {
    // 10 devices with offers, 3 out of date, 1 without a driver: u = 6.
    download_counters c;
    c.out_of_date = 3;
    c.no_driver = 1;
    c.total_with_offers = 10;
    EXPECT_EQ(download_score(c), 36);
    EXPECT_EQ(download_score_color(36), DOWNLOAD_SCORE_LOW);
    EXPECT_EQ(download_score_color(69), DOWNLOAD_SCORE_LOW);
    EXPECT_EQ(download_score_color(70), DOWNLOAD_SCORE_GOOD);
    // No device with an offer: nothing is out of date.
    EXPECT_EQ(download_score(download_counters{}), 100);
    c = download_counters{};
    c.total_with_offers = 7;
    EXPECT_EQ(download_score(c), 100);
    c.out_of_date = 7;
    EXPECT_EQ(download_score(c), 0);
    // Large counts do not overflow: 99999² / 100000² × 100 = 99.998.
    c.out_of_date = 1;
    c.total_with_offers = 100000;
    EXPECT_EQ(download_score(c), 99);

    EXPECT_STREQ(download_header_key(0), "download_new_drivers_found3");
    EXPECT_STREQ(download_header_key(1), "download_new_drivers_found1");
    EXPECT_STREQ(download_header_key(8), "download_new_drivers_found1");
    EXPECT_STREQ(download_header_key(9), "download_new_drivers_found2");
    EXPECT_FALSE(download_header_shows_number(8));
    EXPECT_TRUE(download_header_shows_number(9));

    c = download_counters{};
    c.out_of_date = 3;
    c.no_driver = 1;
    c.total_with_offers = 10;
    const std::vector<download_slice> slices = download_slices(c);
    ASSERT_EQ(slices.size(), 3u);
    EXPECT_STREQ(slices[0].key, "sidebar_out_of_date");
    EXPECT_EQ(slices[0].color, 0xFFFF0000u);
    EXPECT_EQ(slices[0].value, 3);
    EXPECT_STREQ(slices[1].key, "sidebar_no_driver");
    EXPECT_EQ(slices[1].color, 0xFFFFFF00u);
    EXPECT_EQ(slices[1].value, 1);
    EXPECT_STREQ(slices[2].key, "sidebar_up_to_date");
    EXPECT_EQ(slices[2].color, 0xFF16CD1Fu);
    EXPECT_EQ(slices[2].value, 6);
}

TEST(DownloadPageParts, FontsAndWidthsFollowTheLanguage) {
    struct expected {
        const wchar_t* language;
        font_id header;
        font_id score_title;
        bool wide;
    };
    const expected cases[] = {
        {L"English", font_id::verdana_14, font_id::verdana_10, false},
        {L"Deutsch", font_id::verdana_14, font_id::verdana_8, false},
        {L"Italiano", font_id::verdana_12, font_id::verdana_10, false},
        {L"Espa\u00f1ol", font_id::verdana_12, font_id::verdana_10, true},
        {L"Nederlands", font_id::verdana_12, font_id::verdana_10, true},
        {L"Fran\u00e7ais", font_id::verdana_14, font_id::verdana_10, true},
        {L"Portugu\u00eas", font_id::verdana_14, font_id::verdana_10, true},
        {L"\u65e5\u672c\u8a9e", font_id::verdana_14, font_id::verdana_10, false},
    };
    for (const expected& e : cases) {
        SCOPED_TRACE(wide_to_utf8(e.language));
        ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", e.language, true), 0);
        EXPECT_EQ(download_header_font(), e.header);
        EXPECT_EQ(download_score_title_font(), e.score_title);
        EXPECT_EQ(download_choice_is_wide(), e.wide);
    }
    reset_language_table();
    ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
}

// --- The page in a window --------------------------------------------------------

// The message boxes the page asks, answered through the prompt seam.
struct asked_box {
    std::wstring text;
    unsigned kind;
};
std::vector<asked_box> asked;
int box_answer = 2;
int answer_box(HWND, const wchar_t* text, unsigned kind) {
    asked.push_back({text ? text : L"", kind});
    return box_answer;
}

// Colour families of the pie's shaded slices.
bool reddish(COLORREF c) { return GetRValue(c) > 200 && GetGValue(c) < 90 && GetBValue(c) < 90; }
bool yellowish(COLORREF c) { return GetRValue(c) > 200 && GetGValue(c) > 200 && GetBValue(c) < 90; }
bool greenish(COLORREF c) { return GetGValue(c) > 150 && GetRValue(c) < 110 && GetBValue(c) < 110; }
template <class F>
bool any_pixel(const picture& p, const RECT& r, F test) {
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (test(p.at(x, y))) return true;
    return false;
}
// The pie of the counters shows all three slices.
bool shows_three_slices(const picture& p, const RECT& pie) {
    return any_pixel(p, pie, reddish) && any_pixel(p, pie, yellowish) && any_pixel(p, pie, greenish);
}

class DownloadPage : public ::testing::Test {
protected:
    static constexpr int WIDTH = 790;
    static constexpr int HEIGHT = 490;
    static constexpr int SIDEBAR = WIDTH - DOWNLOAD_SIDEBAR_WIDTH;

    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        previous_pause = set_retry_pause(no_pause);
        folder = scratch.path() + L"\\";
        copy_text(current_settings.session_download_path, folder);
        copy_text(saved_program_dir, std::wstring_view(program_dir));
        copy_text(program_dir, folder);
        asked.clear();
        box_answer = 2;
        set_prompt_function(answer_box);

        store.own_class_images = create_own_class_images(resource_module());
        for (const auto& c : {std::pair{L"Display", L"Display adapters"},
                              std::pair{L"Net", L"Network adapters"},
                              std::pair{L"MEDIA", L"Sound, video and game controllers"}}) {
            device_class dc;
            copy_text(dc.name, c.first);
            copy_text(dc.description, c.second);
            store.classes.push_back(dc);
        }
        store.devices.reserve(32);  // the rows point at the records

        host = create_test_host(L"page", 10, 10, WIDTH, HEIGHT);
        ASSERT_NE(host, nullptr);
        ASSERT_NE(page.create(host), nullptr);
        ShowWindow(page.handle(), SW_SHOW);
        pump_messages(50);
    }

    void TearDown() override {
        page.clear();
        DestroyWindow(page.handle());
        DestroyWindow(host);
        clear_download_sessions();
        set_prompt_function(nullptr);
        set_retry_pause(previous_pause);
        copy_text(program_dir, std::wstring_view(saved_program_dir));
        if (store.own_class_images) ImageList_Destroy(store.own_class_images);
    }

    // Serves `bytes` as /packages/<name> on mirror 1 and returns its link.
    std::string serve(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(write_file_bytes(service->extra_packages() + utf8_to_wide(name), bytes));
        return service->mirror_url(1) + "packages/" + name;
    }

    struct offer_spec {
        std::string link;
        uint32_t size = 1000;
        bool update = true;
    };
    // A device of class `cls` with a best and (when given) another latest offer.
    device_record& add_device(const wchar_t* name, int cls, const offer_spec& best,
                              const offer_spec* latest = nullptr, bool has_driver = true,
                              int instances = 1) {
        device_record d;
        copy_text(d.display_name, name);
        copy_text(d.class_name, store.classes[cls].name);
        d.class_info = &store.classes[cls];
        d.instance_count = instances;
        d.has_driver = has_driver ? 1 : 0;
        if (has_driver) copy_text(d.DriverDate, L"2012-03-04");
        d.offers.resize(latest ? 2 : 1);
        for (std::size_t i = 0; i < d.offers.size(); ++i) {
            const offer_spec& spec = i == 0 ? best : *latest;
            driver_offer& o = d.offers[i];
            o.link = spec.link;
            o.size = spec.size;
            o.date = std::wstring_view(L"2014-10-22");
            o.inf_name = std::wstring_view(L"a\\y\\two.inf");
        }
        d.offer_count = static_cast<uint32_t>(d.offers.size());
        d.best_offer = &d.offers[0];
        d.latest_offer = &d.offers.back();
        d.best_is_update = best.update;
        d.latest_is_update = latest ? latest->update : best.update;
        store.devices.push_back(std::move(d));
        return store.devices.back();
    }
    // A device the service has no offer for.
    void add_device_without_offer(const wchar_t* name) {
        device_record d;
        copy_text(d.display_name, name);
        d.instance_count = 1;
        d.has_driver = 1;
        store.devices.push_back(std::move(d));
    }

    void fill(int total_devices) {
        page.fill(store, total_devices);
        pump_messages(50);
    }
    download_panel_c& row(std::size_t i) { return *page.list().panels().at(i); }
    std::size_t rows() { return page.list().panels().size(); }
    bool checked(download_panel_c& r) {
        return SendMessageW(r.check_box(), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    // The page's child `child` in page coordinates.
    RECT child_rect(HWND child) {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, page.handle(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    // A screen point inside a control, `dx` from its left edge, halfway down.
    POINT on_control(HWND control, int dx) {
        RECT r{};
        GetWindowRect(control, &r);
        return POINT{r.left + dx, (r.top + r.bottom) / 2};
    }
    picture shot() { return capture_window(host); }
    // The header text's width in the header font.
    int header_text_width(const char* key) {
        HDC dc = GetDC(page.handle());
        HGDIOBJ old = SelectObject(dc, ui_font(download_header_font()));
        SIZE size{};
        const std::wstring& text = text_for(key);
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(page.handle(), dc);
        return size.cx;
    }
    ::testing::AssertionResult shows_status(const picture& p, int line, int id) {
        return shows_bitmap(p, SIDEBAR + 30, 260 + 20 * line, id,
                            {IDB_STATUS_OUT_OF_DATE, IDB_STATUS_NO_DRIVER, IDB_STATUS_UP_TO_DATE,
                             IDB_STATUS_TOTAL},
                            {GetSysColor(COLOR_BTNFACE)});
    }

    reference_service* service = nullptr;
    retry_pause_function previous_pause = nullptr;
    scratch_folder scratch;  // the download and program folder
    std::wstring folder;     // its path with a trailing backslash
    wchar_t saved_program_dir[MAX_PATH] = {};
    device_store store;
    HWND host = nullptr;
    download_window_c page;
};

TEST_F(DownloadPage, ChildrenLaidOutForTheSize) {
    const download_page_layout l = download_page_layout_for(WIDTH, HEIGHT, false);
    auto same = [](const RECT& a, const RECT& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    };
    EXPECT_TRUE(same(child_rect(page.list().handle()), l.list));
    EXPECT_TRUE(same(child_rect(page.bar().handle()), l.bar));
    EXPECT_TRUE(same(child_rect(page.best_button()), l.best));
    EXPECT_TRUE(same(child_rect(page.latest_button()), l.latest));
    EXPECT_TRUE(same(child_rect(page.pie().handle()), l.pie));
    // The chart as the page sets it up.
    EXPECT_FALSE(page.pie().show_labels());
    EXPECT_DOUBLE_EQ(page.pie().tilt(), 35.0);
    EXPECT_EQ(page.pie().background_color(), GetSysColor(COLOR_BTNFACE));
    const RECT pie = page.pie().pie_rect();
    EXPECT_TRUE(same(pie, RECT{60, 20, 165, 100}));
    // The thickness was set after the rectangle: the rim is 18 px.
    EXPECT_EQ(page.pie().ellipses().rim_height(), 18);
    // The FAQ link keeps its column and stands below the WHQL text.
    const RECT faq = child_rect(page.faq().handle());
    EXPECT_EQ(faq.left, l.faq.left);
    EXPECT_EQ(faq.right - faq.left, 120);
    HDC dc = GetDC(page.handle());
    HGDIOBJ old = SelectObject(dc, ui_font(font_id::verdana_8));
    const int whql_bottom = download_whql_bottom(dc, WIDTH);
    SelectObject(dc, old);
    ReleaseDC(page.handle(), dc);
    EXPECT_GE(faq.top, std::max<LONG>(l.faq.top, whql_bottom));
    // The bar: its button 136 px from its right edge, 8 from its top.
    RECT button{};
    GetWindowRect(page.bar().button(), &button);
    MapWindowPoints(nullptr, page.bar().handle(), reinterpret_cast<POINT*>(&button), 2);
    EXPECT_EQ(button.left, (l.bar.right - l.bar.left) - 136);
    EXPECT_EQ(button.top, 8);
    EXPECT_EQ(button.right - button.left, 106);
    EXPECT_EQ(button.bottom - button.top, 27);
    wchar_t text[64];
    GetWindowTextW(page.best_button(), text, 64);
    EXPECT_EQ(std::wstring(text), text_for("download_cbb_best"));
    EXPECT_EQ(SendMessageW(page.best_button(), BM_GETCHECK, 0, 0), BST_CHECKED);

    // A larger page: everything follows its right and bottom edges.
    MoveWindow(host, 10, 10, 900, 560, TRUE);
    MoveWindow(page.handle(), 0, 0, 900, 560, TRUE);
    const download_page_layout big = download_page_layout_for(900, 560, false);
    EXPECT_TRUE(same(child_rect(page.list().handle()), big.list));
    EXPECT_TRUE(same(child_rect(page.bar().handle()), big.bar));
    EXPECT_TRUE(same(child_rect(page.latest_button()), big.latest));
    EXPECT_TRUE(same(child_rect(page.pie().handle()), big.pie));

    // In French both radio buttons reach 30 px further left; where they
    // overlap, the latest button's circle takes the pointer.
    reset_language_table();
    ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"Fran\u00e7ais", true), 0);
    ShowWindow(page.handle(), SW_HIDE);
    ShowWindow(page.handle(), SW_SHOW);
    const download_page_layout wide = download_page_layout_for(900, 560, true);
    EXPECT_TRUE(same(child_rect(page.best_button()), wide.best));
    EXPECT_TRUE(same(child_rect(page.latest_button()), wide.latest));
    POINT overlap{wide.latest.left + 5, 55};
    ClientToScreen(page.handle(), &overlap);
    EXPECT_EQ(WindowFromPoint(overlap), page.latest_button());
    save_screenshot(shot(), L"download_page_fr");
    reset_language_table();
    ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
}

TEST_F(DownloadPage, CountsInstancesAndPaintsTheScoreInRed) {
    // 10 instances with offers: 3 out of date (one record of two), 1 without
    // a driver, 6 up to date (one record of three). The counters go by the
    // best offers even where the latest is an update.
    const offer_spec latest_update{"http://127.0.0.1:9/latest.zip", 1000, true};
    add_device(L"out of date, twice", 0, {"http://127.0.0.1:9/a.zip"}, nullptr, true, 2);
    add_device(L"out of date", 1, {"http://127.0.0.1:9/b.zip"});
    add_device(L"no driver", 2, {"http://127.0.0.1:9/c.zip"}, nullptr, false);
    add_device(L"up to date, three times", 0, {"http://127.0.0.1:9/d.zip", 1000, false}, nullptr,
               true, 3);
    add_device(L"up to date, newer latest", 1, {"http://127.0.0.1:9/e.zip", 1000, false},
               &latest_update);
    add_device(L"up to date", 2, {"http://127.0.0.1:9/f.zip", 1000, false});
    add_device(L"up to date, no link", 2, {"", 1000, false});
    add_device_without_offer(L"no offer");
    fill(14);

    const download_counters& c = page.counters();
    EXPECT_EQ(c.out_of_date, 3);
    EXPECT_EQ(c.no_driver, 1);
    EXPECT_EQ(c.total_with_offers, 10);
    EXPECT_EQ(c.up_to_date(), 6);
    EXPECT_EQ(page.out_of_date(), 3);
    EXPECT_EQ(page.score(), 36);
    EXPECT_EQ(page.total_devices(), 14);
    // Six rows: the device whose link is empty has none.
    EXPECT_EQ(rows(), 6u);

    // The pie: three slices named by their texts, exploded.
    const auto& slices = page.pie().slices();
    ASSERT_EQ(slices.size(), 3u);
    EXPECT_EQ(slices.at(0).name, text_for("sidebar_out_of_date"));
    EXPECT_DOUBLE_EQ(slices.at(0).value, 3.0);
    EXPECT_EQ(slices.at(1).base_color, 0xFFFFFF00u);
    EXPECT_DOUBLE_EQ(slices.at(1).value, 1.0);
    EXPECT_DOUBLE_EQ(slices.at(2).value, 6.0);
    for (const auto& [n, s] : slices) EXPECT_GT(s.explode_offset, 0) << n;

    picture p = shot();
    save_screenshot(p, L"download_page_counts");
    EXPECT_TRUE(p.contains(RECT{SIDEBAR, 80, WIDTH, 100}, DOWNLOAD_SCORE_LOW));
    EXPECT_FALSE(p.contains(RECT{SIDEBAR, 80, WIDTH, 100}, DOWNLOAD_SCORE_GOOD));
    EXPECT_TRUE(shows_status(p, 0, IDB_STATUS_OUT_OF_DATE));
    EXPECT_TRUE(shows_status(p, 1, IDB_STATUS_NO_DRIVER));
    EXPECT_TRUE(shows_status(p, 2, IDB_STATUS_UP_TO_DATE));
    EXPECT_TRUE(shows_status(p, 3, IDB_STATUS_TOTAL));
    EXPECT_TRUE(shows_three_slices(p, child_rect(page.pie().handle())));
    // 1 … 8 out of date: the first header text, and no number.
    const RECT header{0, 0, SIDEBAR, DOWNLOAD_HEADER_HEIGHT};
    EXPECT_FALSE(p.contains(header, DOWNLOAD_HEADER_NUMBER));
    EXPECT_TRUE(p.contains(header, RGB(255, 255, 255)));
}

TEST_F(DownloadPage, NothingOfferedScoresAHundredWithoutAPie) {
    add_device(L"no link", 0, {"", 1000, true});
    add_device_without_offer(L"no offer");
    fill(2);
    EXPECT_EQ(rows(), 0u);
    EXPECT_EQ(page.counters().total_with_offers, 1);  // it has an offer, with no link
    EXPECT_EQ(page.out_of_date(), 1);

    // Nothing with an offer at all: t = 0.
    store.devices.clear();
    add_device_without_offer(L"no offer");
    fill(1);
    EXPECT_EQ(page.counters().total_with_offers, 0);
    EXPECT_EQ(page.score(), 100);
    EXPECT_TRUE(page.pie().slices().empty());
    picture p = shot();
    EXPECT_TRUE(p.contains(RECT{SIDEBAR, 80, WIDTH, 100}, DOWNLOAD_SCORE_GOOD));
    const RECT pie = child_rect(page.pie().handle());
    EXPECT_FALSE(any_pixel(p, pie, reddish));
    EXPECT_FALSE(any_pixel(p, pie, greenish));
}

TEST_F(DownloadPage, NineOutOfDateShowTheNumberInYellow) {
    for (int i = 0; i < 9; ++i) {
        const std::wstring name = L"device " + std::to_wstring(i);
        add_device(name.c_str(), i % 3, {"http://127.0.0.1:9/n" + std::to_string(i) + ".zip"});
    }
    fill(9);
    EXPECT_EQ(page.out_of_date(), 9);
    EXPECT_EQ(rows(), 9u);
    // Nine rows are taller than the list: it scrolls.
    EXPECT_GT(page.list().content_height, page.list().view_height());
    EXPECT_TRUE(GetWindowLongPtrW(page.list().handle(), GWL_STYLE) & WS_VSCROLL);

    picture p = shot();
    save_screenshot(p, L"download_page_nine");
    const int number_left = 63 + header_text_width("download_new_drivers_found2");
    // The yellow number follows the text; nothing yellow before it.
    EXPECT_TRUE(p.contains(RECT{number_left, 0, number_left + 30, DOWNLOAD_HEADER_HEIGHT},
                           DOWNLOAD_HEADER_NUMBER));
    EXPECT_FALSE(p.contains(RECT{0, 0, number_left - 1, DOWNLOAD_HEADER_HEIGHT},
                            DOWNLOAD_HEADER_NUMBER));
    // 81 / 81: every device with an offer is out of date, the score is 0.
    EXPECT_EQ(page.score(), 0);
}

TEST_F(DownloadPage, RealPointerSwitchesToLatestAndBackWhileADownloadRuns) {
    pointer_lock pointer;
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.02}})"));
    const std::string bytes = blob(240000, 1);
    const offer_spec a{serve("page-a.bin", bytes), 240000, true};
    const offer_spec b{serve("page-b.bin", blob(2000, 2)), 2000, true};
    const offer_spec c{serve("page-c.bin", blob(2000, 3)), 2000, true};
    const offer_spec d_best{serve("page-d.bin", blob(2000, 4)), 2000, false};
    const offer_spec d_latest{d_best.link, 2000, true};
    // Best: A, C and D (not an update, last). Latest: the two graphics
    // devices share B, and D becomes an update.
    add_device(L"Graphics one", 0, a, &b);
    add_device(L"Graphics two", 0, c, &b);
    add_device(L"Network", 1, d_best, &d_latest);
    fill(3);
    ASSERT_EQ(rows(), 3u);
    EXPECT_EQ(std::string(row(0).group().link), a.link);
    EXPECT_EQ(row(2).group().not_update, 1);

    // A downloads.
    download_session_c& session = row(0).session();
    row(0).button_action();
    ASSERT_EQ(session.state(), DOWNLOAD_RUNNING);
    ASSERT_TRUE(wait_for([&] { return row(0).bytes_done() > 0; }));

    ASSERT_TRUE(drive_pointer(pointer_click(on_control(page.latest_button(), 7)),
                              [&] { return page.choice() == CHOICE_LATEST; }, "click Latest"));
    pump_messages(100);
    ASSERT_EQ(rows(), 2u);
    EXPECT_EQ(SendMessageW(page.latest_button(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(page.best_button(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    // The graphics devices are one row now, built from the latest offers.
    const download_group& merged = row(0).group();
    EXPECT_EQ(std::string(merged.link), b.link);
    EXPECT_EQ(merged.choice, CHOICE_LATEST);
    ASSERT_EQ(merged.devices.size(), 2u);
    EXPECT_EQ(row(1).group().not_update, 0);
    // A's download goes on without a row.
    EXPECT_EQ(session.state(), DOWNLOAD_RUNNING);
    EXPECT_TRUE(any_downloading());
    save_screenshot(shot(), L"download_page_latest");

    ASSERT_TRUE(drive_pointer(pointer_click(on_control(page.best_button(), 7)),
                              [&] { return page.choice() == CHOICE_BEST; }, "click Best match"));
    pump_messages(100);
    ASSERT_EQ(rows(), 3u);
    download_panel_c& again = row(0);
    EXPECT_EQ(&again.session(), &session);
    EXPECT_GT(again.bytes_done(), 0u);

    // The same choice again changes nothing and hands the list the focus.
    const download_panel_c* before = &row(0);
    ASSERT_TRUE(drive_pointer(pointer_click(on_control(page.best_button(), 7)),
                              [&] { return GetFocus() == page.list().handle(); },
                              "click Best match again"));
    EXPECT_EQ(&row(0), before);

    // The new row's poll sees the download through.
    ASSERT_TRUE(service->reset());
    ASSERT_TRUE(wait_for([&] { return session.state() == DOWNLOAD_COMPLETE && row(0).bytes_done() == 240000u; }));
    EXPECT_TRUE(read_file_bytes(session.final_path()) == bytes);
}

TEST_F(DownloadPage, RealPointerChecksAllAndStartsThemOnlyAfterConfirmation) {
    pointer_lock pointer;
    recording_shell shell;
    const offer_spec e{serve("page-e.bin", blob(3000, 5)), 3000, true};
    const offer_spec f{serve("page-f.bin", blob(3000, 6)), 3000, true};
    const offer_spec g{serve("page-g.bin", blob(3000, 7)), 3000, false};
    add_device(L"first update", 0, e);
    add_device(L"second update", 2, f, nullptr, false);
    add_device(L"not an update", 1, g);
    fill(3);
    ASSERT_EQ(rows(), 3u);
    ASSERT_EQ(row(2).group().not_update, 1);

    ASSERT_TRUE(drive_pointer(pointer_click(on_control(page.bar().check_box(), 7)),
                              [&] { return checked(row(0)); }, "check Select all"));
    EXPECT_TRUE(checked(row(1)));
    EXPECT_FALSE(checked(row(2)));
    // The focus is back on the page, which gives it to the rows.
    EXPECT_EQ(GetFocus(), page.list().handle());

    // "No": nothing starts.
    box_answer = 2;
    RECT button{};
    GetWindowRect(page.bar().button(), &button);
    const POINT on_button{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
    ASSERT_TRUE(drive_pointer(pointer_click(on_button), [&] { return asked.size() == 1; },
                              "click Download all"));
    EXPECT_EQ(asked[0].text, text_for("download_all_warning"));
    EXPECT_EQ(asked[0].kind, 3u);
    pump_messages(100);
    for (std::size_t i = 0; i < rows(); ++i)
        EXPECT_EQ(row(i).session().state(), DOWNLOAD_NOT_DOWNLOADED) << i;

    // "Yes": the checked update rows download, the other row stays.
    box_answer = 1;
    ASSERT_TRUE(drive_pointer(pointer_move(POINT{on_button.x + 30, on_button.y}) + L" sleep 0.2 " +
                                  pointer_click(on_button),
                              [&] { return asked.size() == 2; }, "click Download all again"));
    ASSERT_TRUE(wait_for([&] {
        return row(0).session().state() == DOWNLOAD_COMPLETE &&
               row(1).session().state() == DOWNLOAD_COMPLETE;
    }));
    EXPECT_EQ(row(2).session().state(), DOWNLOAD_NOT_DOWNLOADED);
    EXPECT_TRUE(read_file_bytes(row(1).session().final_path()) == blob(3000, 6));

    // Cleared again by the pointer.
    ASSERT_TRUE(drive_pointer(pointer_click(on_control(page.bar().check_box(), 7)),
                              [&] { return !checked(row(0)); }, "clear Select all"));
    EXPECT_FALSE(checked(row(1)));

    // The FAQ link opens the page of the language.
    const RECT link = page.faq().link_rect();
    POINT at{(link.left + link.right) / 2, (link.top + link.bottom) / 2};
    ClientToScreen(page.faq().handle(), &at);
    ASSERT_TRUE(drive_pointer(pointer_click(at), [&] { return !shell.calls().empty(); },
                              "click the FAQ link"));
    EXPECT_EQ(shell.calls()[0].what, L"page");
    EXPECT_EQ(shell.calls()[0].target, faq_page_address());
}

TEST_F(DownloadPage, RealPointerOverManyRowsOnlyThoseNearTheViewHaveWindows) {
    pointer_lock pointer;
    const int count = 40;
    store.devices.reserve(count);
    for (int i = 0; i < count; ++i) {
        const std::wstring name = L"device " + std::to_wstring(i);
        add_device(name.c_str(), i % 3, {serve("many" + std::to_string(i) + ".zip", blob(10240, i)), 10240, true});
    }
    fill(count);
    ASSERT_EQ(rows(), static_cast<std::size_t>(count));
    auto with_window = [&] {
        std::size_t n = 0;
        for (std::size_t i = 0; i < rows(); ++i) n += row(i).handle() ? 1 : 0;
        return n;
    };
    // The rows in the view and a view's height below it: a handful.
    EXPECT_GT(with_window(), 2u);
    EXPECT_LT(with_window(), 15u);
    const std::size_t last = count - 1;
    EXPECT_EQ(row(last).handle(), nullptr);

    // "Select all" checks the rows without a window as well.
    ASSERT_TRUE(drive_pointer(pointer_click(on_control(page.bar().check_box(), 7)),
                              [&] { return row(last).checked(); }, "check Select all"));
    EXPECT_TRUE(checked(row(0)));

    // The scroll bar's thumb dragged to the bottom: the last rows get their
    // windows, checked; the first ones lose theirs.
    RECT list{};
    GetWindowRect(page.list().handle(), &list);
    const int arrow = GetSystemMetrics(SM_CYVSCROLL);
    const int bar_x = list.right - GetSystemMetrics(SM_CXVSCROLL) / 2;
    ASSERT_TRUE(drive_pointer(pointer_drag(POINT{bar_x, list.top + arrow + 4},
                                           POINT{bar_x, list.bottom + 20}),
                              [&] { return row(last).handle() != nullptr; }, "drag the thumb down"));
    EXPECT_EQ(row(0).handle(), nullptr);
    EXPECT_TRUE(checked(row(last)));
    EXPECT_LT(with_window(), 15u);

    // Cleared by the pointer, the last row stays cleared without its window.
    ASSERT_TRUE(drive_pointer(pointer_click(on_control(row(last).check_box(), 6)),
                              [&] { return !checked(row(last)); }, "clear the last row"));
    ASSERT_TRUE(drive_pointer(pointer_drag(POINT{bar_x, list.bottom - arrow - 4},
                                           POINT{bar_x, list.top - 20}),
                              [&] { return row(0).handle() != nullptr; }, "drag the thumb up"));
    EXPECT_EQ(row(last).handle(), nullptr);
    EXPECT_FALSE(row(last).checked());
    EXPECT_TRUE(row(last - 1).checked());

    // "Download all" and Yes: every checked row downloads to its end, in
    // view or not, four at a time.
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.05}})"));
    box_answer = 1;
    RECT button{};
    GetWindowRect(page.bar().button(), &button);
    const POINT on_button{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
    ASSERT_TRUE(drive_pointer(pointer_click(on_button), [&] { return asked.size() == 1; },
                              "click Download all"));
    EXPECT_EQ(row(download_workers_max).session().state(), DOWNLOAD_QUEUED);
    EXPECT_TRUE(wait_for([&] { return !any_downloading(); }));
    for (std::size_t i = 0; i < last; ++i) EXPECT_EQ(row(i).session().state(), DOWNLOAD_COMPLETE) << i;
    EXPECT_EQ(row(last).session().state(), DOWNLOAD_NOT_DOWNLOADED);
}

TEST_F(DownloadPage, PaintedInEnglishArabicAndJapanese) {
    ASSERT_TRUE(plant_download(folder, serve("page-shot-b.bin", blob(4000, 9)), blob(4000, 9)));
    add_device(L"Intel(R) HD Graphics 4000", 0, {serve("page-shot-a.bin", blob(1572864, 8)), 1572864});
    add_device(L"Realtek High Definition Audio", 2, {service->mirror_url(1) + "packages/page-shot-b.bin", 4000});
    add_device(L"Ricoh SD/MMC Host Controller", 1, {serve("page-shot-c.bin", blob(2000, 10)), 2000},
               nullptr, false);
    add_device(L"Intel(R) 82579LM Gigabit Network Connection", 1,
               {serve("page-shot-d.bin", blob(2000, 11)), 2000, false}, nullptr, true, 2);
    add_device_without_offer(L"USB Root Hub");

    struct language {
        const wchar_t* name;
        const wchar_t* shot;
    };
    for (const language& l : {language{L"English", L"download_page_en"},
                              language{L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", L"download_page_ar"},
                              language{L"\u65e5\u672c\u8a9e", L"download_page_ja"}}) {
        SCOPED_TRACE(wide_to_utf8(l.shot));
        reset_language_table();
        ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", l.name, true), 0);
        load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", false);
        // Shown again, as after a scan: the texts of the language.
        ShowWindow(page.handle(), SW_HIDE);
        fill(6);
        ShowWindow(page.handle(), SW_SHOW);
        pump_messages(50);
        picture p = shot();
        EXPECT_TRUE(save_screenshot(p, l.shot));

        wchar_t text[64];
        GetWindowTextW(page.latest_button(), text, 64);
        EXPECT_EQ(std::wstring(text), text_for("download_cbb_latest"));
        EXPECT_EQ(page.score(), 16);  // u = 2 of t = 5
        EXPECT_TRUE(p.contains(RECT{SIDEBAR, 80, WIDTH, 100}, DOWNLOAD_SCORE_LOW));
        EXPECT_TRUE(p.contains(RECT{0, 0, SIDEBAR, DOWNLOAD_HEADER_HEIGHT}, RGB(255, 255, 255)));
        EXPECT_TRUE(shows_status(p, 0, IDB_STATUS_OUT_OF_DATE));
        EXPECT_TRUE(shows_status(p, 3, IDB_STATUS_TOTAL));
        EXPECT_TRUE(shows_three_slices(p, child_rect(page.pie().handle())));
        // The rows: the not-updated one last, the downloaded one says so.
        ASSERT_EQ(rows(), 4u);
        EXPECT_EQ(row(3).group().not_update, 1);
    }
    reset_language_table();
    ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
}

}  // namespace
