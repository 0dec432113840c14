// The download rows: their plain parts (height, size texts, date lines,
// status bitmap), and rows in a real window driven with the real pointer
// against the reference update service: download, pause and resume, the
// context menu, download all, rows rebuilt while a download runs, and
// installing.
#include "ui/download_panel.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "common/recording_signature_checker.h"
#include "common/reference_service.h"
#include "devices/device_store.h"
#include "downloads/download_session.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "service/http_client.h"
#include "ui/skin/panel_list.h"
#include "download_test_support.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

// --- Plain parts -------------------------------------------------------------

TEST(DownloadRowParts, HeightGrowsWithTheDevices) {
    const row_line_heights lines{14, 12};
    EXPECT_EQ(download_row_height(1, lines), 14 + 12 * 3 + 16 + 24);
    EXPECT_EQ(download_row_height(3, lines), 14 + 12 * 7 + 48 + 24);
    EXPECT_EQ(row_device_top(0, lines), 30);
    EXPECT_EQ(row_device_top(2, lines), 14 + 4 * 20 + 16);
    // The bottom line and its 13-pixel bar fit above the row's end.
    EXPECT_LT(row_device_top(3, lines) + 13, download_row_height(3, lines));

    const row_line_heights measured = measure_row_line_heights();
    EXPECT_GT(measured.h1, 0);
    EXPECT_GT(measured.h2, 0);
}

TEST(DownloadRowParts, SizeTexts) {
    EXPECT_EQ(progress_size_text(0, 1572864), L"1.50M");
    EXPECT_EQ(progress_size_text(786432, 1572864), L"768.00K/1.50M");
    EXPECT_EQ(progress_size_text(1572864, 1572864), L"1.50M");
    EXPECT_EQ(progress_size_text(0, 1024), L"1024B");
    EXPECT_EQ(progress_size_text(0, 1025), L"1.00K");
    EXPECT_EQ(progress_size_text(0, 0x100000), L"1024.00K");
    EXPECT_EQ(progress_size_text(0, 0x40000000), L"1024.00M");
    EXPECT_EQ(progress_size_text(0, 0x40000001), L"1.00G");
    // Packages of 4 GiB and more.
    EXPECT_EQ(progress_size_text(0x140000000ull / 2, 0x140000000ull), L"2.50G/5.00G");
    EXPECT_EQ(progress_size_text(0x100000000ull, 0x100000000ull), L"4.00G");
    EXPECT_EQ(progress_size_text(0, 0), L"0B");
    // More than expected (a server that sends too much) shows the total.
    EXPECT_EQ(progress_size_text(2000, 1000), L"1000B");

    EXPECT_FLOAT_EQ(progress_fraction(786432, 1572864), 0.5f);
    EXPECT_FLOAT_EQ(progress_fraction(5, 0), 0.0f);
    EXPECT_FLOAT_EQ(progress_fraction(0x100000000ull, 0x200000000ull), 0.5f);
    EXPECT_FLOAT_EQ(progress_fraction(2000, 1000), 1.0f);
}

TEST(DownloadRowParts, DateLines) {
    device_record device;
    driver_offer offer;
    offer.date = std::wstring_view(L"2014-10-22");
    // No installed driver: the empty date is lower.
    EXPECT_EQ(download_date_line(device, offer), L"Installed:     Newer: 2014-10-22");
    copy_text(device.DriverDate, L"2012-01-05");
    EXPECT_EQ(download_date_line(device, offer), L"Installed: 2012-01-05    Newer: 2014-10-22");
    copy_text(device.DriverDate, L"2014-10-22");
    EXPECT_EQ(download_date_line(device, offer), L"Installed: 2014-10-22    Available: 2014-10-22");
    offer.date = std::wstring_view(L"0000-00-00");
    EXPECT_EQ(download_date_line(device, offer), L"Installed: 2014-10-22");
    // An empty installed date is lower than any offered one, 0000-00-00 too.
    device.DriverDate[0] = L'\0';
    EXPECT_EQ(download_date_line(device, offer), L"Installed:     Newer: 0000-00-00");
}

TEST(DownloadRowParts, StatusBitmapAndStateTexts) {
    device_record with_driver, without_driver;
    with_driver.has_driver = 1;
    download_group group;
    group.devices = {&with_driver};
    EXPECT_EQ(row_status_bitmap(group), IDB_STATUS_OUT_OF_DATE);
    group.not_update = 1;
    EXPECT_EQ(row_status_bitmap(group), IDB_STATUS_UP_TO_DATE);
    group.devices.push_back(&without_driver);
    EXPECT_EQ(row_status_bitmap(group), IDB_STATUS_NO_DRIVER);
    group.not_update = 0;
    EXPECT_EQ(row_status_bitmap(group), IDB_STATUS_NO_DRIVER);

    EXPECT_STREQ(row_button_key(DOWNLOAD_ERROR), "download_btn_resume");
    EXPECT_STREQ(row_status_key(DOWNLOAD_ERROR), "download_download_error");
    EXPECT_STREQ(row_button_key(DOWNLOAD_COMPLETE), "download_btn_setup");
    EXPECT_STREQ(row_button_key(DOWNLOAD_QUEUED), "download_btn_pause");
    EXPECT_STREQ(row_status_key(DOWNLOAD_QUEUED), "download_queued");
    EXPECT_EQ(row_button_key(0), nullptr);
    EXPECT_EQ(row_status_key(7), nullptr);

    EXPECT_EQ(select_in_explorer_parameters(L"C:\\dl\\a b.zip"), L"/select,\"C:\\dl\\a b.zip\"");
    // Bounded: a path beyond the buffer is cut, never overrun.
    EXPECT_EQ(select_in_explorer_parameters(std::wstring(3000, L'x')).size(), 1023u);

    EXPECT_EQ(row_status_text(DOWNLOAD_COMPLETE, L"Vendor Inc.", ""), L"Started, signed by Vendor Inc.");
    EXPECT_EQ(row_status_text(DOWNLOAD_COMPLETE, L"", ""), L"Downloaded");
    EXPECT_EQ(row_status_text(DOWNLOAD_ERROR, L"", "updates.example.com"),
              L"Certificate refused: updates.example.com");
    EXPECT_EQ(row_status_text(DOWNLOAD_ERROR, L"Vendor Inc.", ""), text_for("download_download_error"));

    // The installation's line: running, then a DPInst failure with its log.
    install_report report{install_outcome::dpinst_started, L"C:\\dl\\drv", L"", true, 0x80010000, L"C:\\DPINST.LOG"};
    EXPECT_EQ(install_status_text(true, report), L"Installing\u2026");
    EXPECT_EQ(install_status_text(false, report), L"Failed, see C:\\DPINST.LOG");

    // A refused download is named as its link names it, a program in it by its own name.
    const std::wstring package = L"C:\\dl\\5d41402abc4b2a76b9719d911017c592.exe";
    EXPECT_EQ(refused_file_label(package, package, "http://h/p/vendor setup.exe"), L"vendor setup.exe");
    EXPECT_EQ(refused_file_label(L"C:\\dl\\5d41\\a\\setup.exe", package, "http://h/p/x.zip"), L"setup.exe");
    EXPECT_EQ(refused_file_label(package, package, "http://h/p/"), L"5d41402abc4b2a76b9719d911017c592.exe");
    EXPECT_EQ(refused_file_label(package, package, "http://h/abcdefghijklmnopqrstuvwxyz0123456789-ABCDEFGHIJ.exe"),
              L"abcdefghijklmnopqrst\u20266789-ABCDEFGHIJ.exe");
}

// --- Rows in a window -----------------------------------------------------------

// A shell that records launches from any thread and holds the installer's
// launch until it is released, so that an installation stays running.
class holding_shell final : public shell_actions {
public:
    holding_shell() : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) { set_shell(this); }
    ~holding_shell() override {
        release();
        set_shell(nullptr);
        CloseHandle(release_);
    }
    void release() { SetEvent(release_); }
    std::vector<recording_shell::call> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::atomic<int> entered{0};

    intptr_t open_web_page(const wchar_t* address) override { return record(L"page", address, nullptr); }
    intptr_t open_folder(const wchar_t* path) override { return record(L"folder", path, nullptr); }
    intptr_t start_program(HWND, const wchar_t* program, const wchar_t* parameters, int) override {
        intptr_t result = record(L"program", program, parameters);
        ++entered;
        if (std::wstring(program).find(L"DPInst") != std::wstring::npos)
            WaitForSingleObject(release_, 60000);
        return result;
    }
    // DPInst ends with this code once released.
    program_run run_program(HWND owner, const wchar_t* program, const wchar_t* parameters, int show) override {
        program_run run;
        run.code = start_program(owner, program, parameters, show);
        run.exit_known = true;
        run.exit_code = exit_code;
        return run;
    }
    uint32_t exit_code = 0x00000001;  // one package installed

private:
    intptr_t record(const wchar_t* what, const wchar_t* target, const wchar_t* parameters) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back({what, target ? target : L"", parameters ? parameters : L""});
        return 42;
    }
    HANDLE release_;
    mutable std::mutex mutex_;
    std::vector<recording_shell::call> calls_;
};

// Answers every message box of this thread with button `id` (1 Yes/OK, 2 No)
// and counts them.
struct box_answer {
    int id = 1;
    int answered = 0;
};
box_answer* current_answer = nullptr;

void CALLBACK answer_tick(HWND, UINT, UINT_PTR, DWORD) {
    static bool busy = false;
    if (!current_answer || busy) return;
    // A modal box is the thread's active window while it is up.
    HWND box = GetActiveWindow();
    wchar_t name[16];
    if (!box || !IsWindowVisible(box) || !GetClassNameW(box, name, 16) ||
        lstrcmpW(name, L"#32770") != 0)
        return;
    busy = true;
    ++current_answer->answered;
    SendMessageW(GetDlgItem(box, current_answer->id), BM_CLICK, 0, 0);
    busy = false;
}

class message_box_answerer {
public:
    explicit message_box_answerer(int id) {
        answer_.id = id;
        current_answer = &answer_;
        timer_ = SetTimer(nullptr, 0, 50, answer_tick);
    }
    ~message_box_answerer() {
        KillTimer(nullptr, timer_);
        current_answer = nullptr;
    }
    int answered() const { return answer_.answered; }

private:
    box_answer answer_;
    UINT_PTR timer_ = 0;
};

// What the row's context menu showed, read while it is open.
struct menu_seen {
    bool shown = false;
    std::wstring action_text;
    bool remove_enabled = false;
    std::vector<std::wstring> texts;  // in menu order
    UINT choose = 0;                  // an item to click with the pointer, or 0 to close
};
menu_seen* current_menu = nullptr;

void start_xdotool(const std::wstring& words) {
    std::wstring command = L"Z:\\usr\\bin\\xdotool " + words;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(L"Z:\\usr\\bin\\xdotool", &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

void CALLBACK menu_tick(HWND, UINT, UINT_PTR, DWORD) {
    menu_seen* seen = current_menu;
    if (!seen || seen->shown) return;
    HWND popup = FindWindowW(L"#32768", nullptr);
    if (!popup || !IsWindowVisible(popup)) return;
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    if (!menu) return;
    seen->shown = true;
    wchar_t text[128];
    int choose_at = -1;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        UINT id = GetMenuItemID(menu, i);
        if (id == 0) continue;  // a separator
        GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
        seen->texts.push_back(text);
        if (id == ID_ROW_ACTION) seen->action_text = text;
        if (id == ID_ROW_REMOVE)
            seen->remove_enabled = !(GetMenuState(menu, i, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED));
        if (id == seen->choose) choose_at = i;
    }
    RECT item{};
    if (choose_at >= 0 && GetMenuItemRect(nullptr, menu, choose_at, &item)) {
        start_xdotool(pointer_click(POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2}));
    } else {
        EndMenu();
    }
}

class DownloadRows : public ::testing::Test {
protected:
    static constexpr int WIDTH = 720;
    static constexpr int HEIGHT = 440;

    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        previous_pause = set_retry_pause(no_pause);
        wchar_t name[64];
        swprintf(name, 64, L"rows-%lu\\", GetCurrentProcessId());
        wchar_t full[MAX_PATH];
        GetFullPathNameW((service->extra_packages() + L"..\\" + name).c_str(), MAX_PATH, full, nullptr);
        folder = full;
        CreateDirectoryW(folder.c_str(), nullptr);
        copy_text(current_settings.session_download_path, folder);
        program_folder = folder + L"program\\";
        CreateDirectoryW(program_folder.c_str(), nullptr);
        copy_text(saved_program_dir, std::wstring_view(program_dir));
        copy_text(program_dir, program_folder);

        store.own_class_images = create_own_class_images(resource_module());
        store.classes.reserve(4);
        add_class(L"Display", L"Display adapters");
        add_class(L"Net", L"Network adapters");
        store.devices.reserve(16);

        host = create_test_host(L"rows", 20, 20, WIDTH, HEIGHT);
        ASSERT_NE(host, nullptr);
        ASSERT_NE(list.create(host, RECT{0, 0, WIDTH, HEIGHT}, 100), nullptr);
        pump_messages(50);
    }

    void TearDown() override {
        list.clear_panels();
        DestroyWindow(host);
        clear_download_sessions();
        set_retry_pause(previous_pause);
        copy_text(program_dir, std::wstring_view(saved_program_dir));
        if (store.own_class_images) ImageList_Destroy(store.own_class_images);
        remove_tree(folder);
    }

    static void remove_tree(const std::wstring& path) {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((path + L"*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    remove_tree(path + name + L"\\");
                else
                    DeleteFileW((path + name).c_str());
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        RemoveDirectoryW(path.c_str());
    }

    void add_class(const wchar_t* name, const wchar_t* description) {
        device_class c;
        copy_text(c.name, name);
        copy_text(c.description, description);
        store.classes.push_back(c);
    }

    // Serves `bytes` as /packages/<name> on mirror 1 and returns its link.
    std::string serve(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(write_file_bytes(service->extra_packages() + utf8_to_wide(name), bytes));
        return service->mirror_url(1) + "packages/" + name;
    }

    // The link of the sample package two-inf-folders.zip (its one INF file is
    // a\y\two.inf), downloaded already; `size` receives its size.
    std::string downloaded_sample(uint32_t& size) {
        const std::string package =
            read_file_bytes(reference_service::sample_packages() + L"two-inf-folders.zip");
        const std::string link = service->mirror_url(1) + "packages/two-inf-folders.zip";
        EXPECT_TRUE(plant_download(folder, link, package));
        size = static_cast<uint32_t>(package.size());
        return link;
    }

    // A device of class `cls` whose best offer is `link`.
    device_record& add_device(const wchar_t* name, int cls, const std::string& link, uint32_t size,
                              bool update = true, bool has_driver = true) {
        device_record d;
        copy_text(d.display_name, name);
        copy_text(d.class_name, store.classes[cls].name);
        d.class_info = &store.classes[cls];
        d.instance_count = 1;
        d.has_driver = has_driver ? 1 : 0;
        if (has_driver) copy_text(d.DriverDate, L"2012-03-04");
        d.offers.resize(1);
        driver_offer& o = d.offers[0];
        o.link = link;
        o.size = size;
        o.date = std::wstring_view(L"2014-10-22");
        o.inf_name = std::wstring_view(L"a\\y\\two.inf");
        d.offer_count = 1;
        d.best_offer = d.latest_offer = &o;
        d.best_is_update = d.latest_is_update = update;
        store.devices.push_back(std::move(d));
        return store.devices.back();
    }

    // Groups the store and shows one row per group, as the page does.
    void fill() {
        list.clear_panels();
        groups = build_download_groups(store, CHOICE_BEST);
        int y = 0;
        for (const download_group& g : groups) {
            auto row = std::make_unique<download_panel_c>(g, store);
            ASSERT_NE(row->create(list.handle(), 0, y, WIDTH), nullptr);
            y += row->panel.height;
            list.add_panel(std::move(row));
        }
        list.content_height = y;
        list.update_layout();
        pump_messages(50);
    }
    download_panel_c& row(std::size_t i) { return *list.panels().at(i); }

    // A point of a row in screen coordinates.
    POINT on_row(download_panel_c& r, int x, int y) {
        POINT p{x, y};
        ClientToScreen(r.handle(), &p);
        return p;
    }
    POINT on_button(download_panel_c& r) {
        RECT b = r.button_rect();
        return on_row(r, (b.left + b.right) / 2, (b.top + b.bottom) / 2);
    }
    // The row as painted, in its own client coordinates.
    picture shot_of(download_panel_c& r) {
        picture all = capture_window(host);
        POINT origin{0, 0};
        ClientToScreen(r.handle(), &origin);
        RECT h{};
        GetWindowRect(host, &h);
        RECT c{};
        GetClientRect(r.handle(), &c);
        picture p;
        p.width = c.right;
        p.height = c.bottom;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                COLORREF v = all.at(origin.x - h.left + x, origin.y - h.top + y);
                p.pixels.push_back((GetRValue(v) << 16) | (GetGValue(v) << 8) | GetBValue(v));
            }
        return p;
    }
    RECT bar_of(download_panel_c& r) {
        RECT c{};
        GetClientRect(r.handle(), &c);
        const int y = row_device_top(static_cast<int>(r.group().devices.size()), r.lines());
        return RECT{c.right - 430, y, c.right - 280, y + 13};
    }

    reference_service* service = nullptr;
    retry_pause_function previous_pause = nullptr;
    std::wstring folder;
    std::wstring program_folder;
    wchar_t saved_program_dir[MAX_PATH] = {};
    device_store store;
    std::vector<download_group> groups;
    HWND host = nullptr;
    panel_list_c<download_panel_c> list;
};

TEST_F(DownloadRows, RealPointerHoversDownloadsPausesAndResumes) {
    pointer_lock pointer;
    const std::string bytes = blob(300000, 1);
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.02}})"));
    add_device(L"Intel(R) HD Graphics 4000", 0, serve("row-slow.bin", bytes), 300000);
    fill();
    download_panel_c& r = row(0);
    EXPECT_EQ(r.session().state(), DOWNLOAD_NOT_DOWNLOADED);
    const RECT b = r.button_rect();
    EXPECT_EQ(b.right, WIDTH - 20);
    EXPECT_EQ(b.left, WIDTH - 100);

    // Hover, then away from the button, then back.
    ASSERT_TRUE(drive_pointer(pointer_move(on_button(r)), [&] { return r.button_state() == 1; },
                              "hover the row button"));
    EXPECT_TRUE(shows_bitmap(shot_of(r), b.left, b.top, IDB_ROW_BUTTON_HOVER,
                             {IDB_ROW_BUTTON_NORMAL, IDB_ROW_BUTTON_HOVER, IDB_ROW_BUTTON_PRESSED},
                             {RGB(255, 255, 255)}));
    ASSERT_TRUE(drive_pointer(pointer_move(on_row(r, 200, 10)), [&] { return r.button_state() == 0; },
                              "leave the row button"));

    // Download: the poll shows the bytes as they come.
    ASSERT_TRUE(drive_pointer(pointer_click(on_button(r)),
                              [&] { return r.session().state() == DOWNLOAD_RUNNING; },
                              "click Download"));
    EXPECT_EQ(r.button_state(), 1);
    ASSERT_TRUE(wait_for([&] { return r.bytes_done() > 30000; }));
    picture downloading = shot_of(r);
    save_screenshot(downloading, L"download_row_downloading");
    EXPECT_TRUE(downloading.contains(bar_of(r), ROW_PROGRESS_FILL));
    EXPECT_TRUE(downloading.contains(bar_of(r), ROW_PROGRESS_FRAME));
    EXPECT_EQ(downloading.at(bar_of(r).left, bar_of(r).top), ROW_PROGRESS_FRAME);

    // Pause: the worker ends at its next progress callback.
    ASSERT_TRUE(drive_pointer(pointer_click(on_button(r)),
                              [&] { return r.session().state() == DOWNLOAD_PAUSED && r.bytes_done() == r.session().progress().bytes_so_far; },
                              "click Pause"));
    const uint64_t paused_at = r.bytes_done();
    EXPECT_GT(paused_at, 0u);
    EXPECT_LT(paused_at, 300000u);

    // Resume: the rest comes with a Range request.
    ASSERT_TRUE(service->reset());
    ASSERT_TRUE(drive_pointer(pointer_click(on_button(r)),
                              [&] { return r.session().state() != DOWNLOAD_PAUSED; },
                              "click Resume"));
    // The worker finishes the session; the row's timer then shows it.
    ASSERT_TRUE(wait_for([&] { return r.session().state() == DOWNLOAD_COMPLETE && r.bytes_done() == 300000u; }));
    EXPECT_TRUE(read_file_bytes(r.session().final_path()) == bytes);
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 GET /packages/row-slow.bin range=bytes=" +
                                                       std::to_string(paused_at) + "-"});
    // The whole bar is filled once done.
    picture done = shot_of(r);
    const RECT bar = bar_of(r);
    EXPECT_EQ(done.at(bar.right - 3, bar.top + 2), ROW_PROGRESS_FILL);
}

TEST_F(DownloadRows, AFailedDownloadShowsOnlyItsStatus) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"status": 404}})"));
    add_device(L"Missing", 0, serve("row-missing.bin", blob(100, 2)), 100);
    fill();
    download_panel_c& r = row(0);
    r.button_action();
    ASSERT_TRUE(wait_for([&] { return r.session().state() == DOWNLOAD_ERROR; }));
    // No message box: only the status text in its colour.
    EXPECT_TRUE(shot_of(r).contains(RECT{WIDTH - 250, bar_of(r).top, WIDTH - 110, bar_of(r).bottom},
                                    ROW_STATUS_TEXT));
}

TEST_F(DownloadRows, RightClickShowsTheMenuWithRemoveEnabledOnlyForAFile) {
    pointer_lock pointer;
    const std::string bytes = blob(200000, 3);
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.02}})"));
    add_device(L"Realtek PCIe GBE Family Controller", 1, serve("row-menu.bin", bytes), 200000);
    fill();
    download_panel_c& r = row(0);
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, menu_tick);

    auto right_click = [&](POINT at, menu_seen& seen, const char* what) {
        current_menu = &seen;
        drive_pointer(pointer_move(at) + L" click 3", [&] { return seen.shown; }, what);
        pump_messages(100);
        current_menu = nullptr;
    };

    menu_seen idle;
    right_click(on_row(r, 200, 12), idle, "right-click an idle row");
    EXPECT_TRUE(idle.shown);
    EXPECT_EQ(idle.action_text, L"Download");
    EXPECT_FALSE(idle.remove_enabled);
    EXPECT_EQ(idle.texts, (std::vector<std::wstring>{L"Download", L"Open folder", L"Delete download",
                                                     L"Device details", L"Settings"}));

    r.button_action();
    ASSERT_EQ(r.session().state(), DOWNLOAD_RUNNING);
    menu_seen running;
    right_click(on_row(r, 200, 12), running, "right-click a downloading row");
    EXPECT_EQ(running.action_text, L"Pause");
    EXPECT_FALSE(running.remove_enabled);

    // Not on the button: no menu there.
    menu_seen on_the_button;
    current_menu = &on_the_button;
    drive_pointer(pointer_move(on_button(r)) + L" click 3", [] { return true; }, "right-click the button");
    pump_messages(400);
    current_menu = nullptr;
    EXPECT_FALSE(on_the_button.shown);

    r.session().stop();
    ASSERT_TRUE(wait_for([&] { return r.session().state() == DOWNLOAD_PAUSED; }));
    ASSERT_TRUE(wait_for([&] { return r.bytes_done() > 0; }));

    // Paused: Remove is enabled; chosen with the pointer and confirmed, the
    // partial file goes and the row starts again from nothing.
    {
        message_box_answerer yes(1);
        menu_seen paused;
        paused.choose = ID_ROW_REMOVE;
        right_click(on_row(r, 200, 12), paused, "right-click a paused row");
        EXPECT_EQ(paused.action_text, L"Resume");
        EXPECT_TRUE(paused.remove_enabled);
        ASSERT_TRUE(wait_for([&] { return r.session().state() == DOWNLOAD_NOT_DOWNLOADED; }, 15000));
        EXPECT_EQ(yes.answered(), 1);
    }
    EXPECT_EQ(r.bytes_done(), 0u);
    EXPECT_EQ(GetFileAttributesW(r.session().temporary_path().c_str()), INVALID_FILE_ATTRIBUTES);
    KillTimer(nullptr, timer);
}

TEST_F(DownloadRows, MenuActionsOpenTheFolderSelectTheFileAndAskBeforeRemoving) {
    recording_shell shell;
    const std::string bytes = blob(5000, 4);
    add_device(L"Device", 0, serve("row-open.bin", bytes), 5000);
    fill();
    download_panel_c& r = row(0);
    // Nothing downloaded: the download folder.
    SendMessageW(r.handle(), WM_COMMAND, ID_ROW_OPEN_LOCATION, 0);
    std::vector<recording_shell::call> calls = shell.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, L"folder");
    EXPECT_EQ(calls[0].target, folder);

    SendMessageW(r.handle(), WM_COMMAND, ID_ROW_ACTION, 0);
    ASSERT_TRUE(wait_for([&] { return r.session().state() == DOWNLOAD_COMPLETE; }));
    SendMessageW(r.handle(), WM_COMMAND, ID_ROW_OPEN_LOCATION, 0);
    calls = shell.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].what, L"program");
    EXPECT_EQ(calls[1].target, L"explorer.exe");
    EXPECT_EQ(calls[1].parameters, L"/select,\"" + r.session().final_path() + L"\"");

    // "No" keeps the file.
    {
        message_box_answerer no(2);
        SendMessageW(r.handle(), WM_COMMAND, ID_ROW_REMOVE, 0);
        EXPECT_EQ(no.answered(), 1);
    }
    EXPECT_EQ(r.session().state(), DOWNLOAD_COMPLETE);
    EXPECT_TRUE(read_file_bytes(r.session().final_path()) == bytes);
}

TEST_F(DownloadRows, DownloadAllChecksUpdateRowsAndStartsCheckedOnesThatCanStart) {
    const std::string update_link = serve("row-all-a.bin", blob(3000, 5));
    const std::string same_link = serve("row-all-b.bin", blob(3000, 6));
    const std::string done_link = serve("row-all-c.bin", blob(3000, 7));
    const std::string paused_link = serve("row-all-d.bin", blob(3000, 8));
    // What an earlier run left: a finished package and a partial one.
    ASSERT_TRUE(plant_download(folder, done_link, blob(3000, 7)));
    ASSERT_TRUE(plant_download(folder, paused_link, blob(3000, 8).substr(0, 1000), true));
    add_device(L"update", 0, update_link, 3000);
    add_device(L"not an update", 1, same_link, 3000, false);
    add_device(L"downloaded", 0, done_link, 3000);
    add_device(L"partial", 0, paused_link, 3000);
    fill();
    ASSERT_EQ(groups.size(), 4u);
    // Updates first, by class; the one that is not an update last.
    download_panel_c& update = row(0);
    download_panel_c& downloaded = row(1);
    download_panel_c& partial = row(2);
    download_panel_c& not_update = row(3);
    EXPECT_EQ(not_update.group().not_update, 1);
    EXPECT_EQ(downloaded.session().state(), DOWNLOAD_COMPLETE);
    EXPECT_EQ(partial.session().state(), DOWNLOAD_PAUSED);
    EXPECT_EQ(partial.bytes_done(), 1000u);

    auto checked = [](download_panel_c& r) {
        return SendMessageW(r.check_box(), BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    for (auto& r : list.panels()) SendMessageW(r->handle(), UM_DOWNLOAD_ALL_CHECK, 1, 0);
    EXPECT_TRUE(checked(update));
    EXPECT_TRUE(checked(downloaded));
    EXPECT_TRUE(checked(partial));
    EXPECT_FALSE(checked(not_update));

    for (auto& r : list.panels()) SendMessageW(r->handle(), UM_DOWNLOAD_ALL_START, 0, 0);
    EXPECT_EQ(update.session().state(), DOWNLOAD_RUNNING);
    EXPECT_EQ(partial.session().state(), DOWNLOAD_RUNNING);
    EXPECT_EQ(downloaded.session().state(), DOWNLOAD_COMPLETE);
    EXPECT_EQ(not_update.session().state(), DOWNLOAD_NOT_DOWNLOADED);
    // Both finish through the rows' own polls.
    ASSERT_TRUE(wait_for([&] {
        return update.session().state() == DOWNLOAD_COMPLETE &&
               partial.session().state() == DOWNLOAD_COMPLETE;
    }));
    EXPECT_TRUE(read_file_bytes(partial.session().final_path()) == blob(3000, 8));

    // A row that is not an update can be checked by hand and then starts too.
    SendMessageW(not_update.check_box(), BM_SETCHECK, BST_CHECKED, 0);
    for (auto& r : list.panels()) SendMessageW(r->handle(), UM_DOWNLOAD_ALL_CHECK, 0, 0);
    EXPECT_FALSE(checked(update));
    EXPECT_TRUE(checked(not_update));  // left alone
    for (auto& r : list.panels()) SendMessageW(r->handle(), UM_DOWNLOAD_ALL_START, 0, 0);
    EXPECT_EQ(not_update.session().state(), DOWNLOAD_RUNNING);
    ASSERT_TRUE(wait_for([&] { return not_update.session().state() == DOWNLOAD_COMPLETE; }));
}

TEST_F(DownloadRows, ARowDestroyedMidDownloadStopsItsTimerAndItsSuccessorPollsOn) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"slow_body": 0.02}})"));
    const std::string bytes = blob(200000, 9);
    add_device(L"Device", 0, serve("row-rebuilt.bin", bytes), 200000);
    fill();
    download_session_c& session = row(0).session();
    row(0).button_action();
    ASSERT_EQ(session.state(), DOWNLOAD_RUNNING);
    ASSERT_TRUE(wait_for([&] { return row(0).bytes_done() > 0; }));

    // The page is rebuilt: the old row goes while its timer runs.
    list.clear_panels();
    pump_messages(600);
    EXPECT_EQ(session.state(), DOWNLOAD_RUNNING);

    fill();
    download_panel_c& again = row(0);
    EXPECT_EQ(&again.session(), &session);
    EXPECT_GT(again.bytes_done(), 0u);
    // The new row's timer shows the download to its end.
    ASSERT_TRUE(wait_for([&] { return session.state() == DOWNLOAD_COMPLETE && again.bytes_done() == 200000u; }));
    EXPECT_TRUE(read_file_bytes(session.final_path()) == bytes);
}

TEST_F(DownloadRows, InstallRunsOncePerPackageOutlivesTheRowAndRecordsTheLinkOnSuccess) {
    pointer_lock pointer;
    holding_shell shell;
    admin_check_function previous = set_admin_check([] { return true; });
    uint32_t size = 0;
    const std::string link = downloaded_sample(size);
    ASSERT_GT(size, 0u);
    add_device(L"first", 0, link, size);
    add_device(L"second", 0, link, size);
    fill();
    download_panel_c& r = row(0);
    ASSERT_EQ(r.session().state(), DOWNLOAD_COMPLETE);
    std::weak_ptr<install_request> request = r.request();

    ASSERT_TRUE(drive_pointer(pointer_click(on_button(r)), [&] { return shell.entered == 1; },
                              "click Install"));
    EXPECT_EQ(r.request()->installing, 1);
    EXPECT_EQ(r.request()->package_path, r.session().final_path());
    EXPECT_EQ(r.request()->inf_names, (std::set<std::wstring>{L"a\\y\\two.inf"}));
    // Nothing is recorded before the installer has reported success.
    const std::wstring setup_dat = program_folder + L"setup.dat";
    EXPECT_EQ(GetFileAttributesW(setup_dat.c_str()), INVALID_FILE_ATTRIBUTES);

    // A second click while the installer still starts does nothing.
    ASSERT_TRUE(drive_pointer(pointer_move(on_row(r, 200, 12)) + L" sleep 0.2 " +
                                  pointer_click(on_button(r)),
                              [] { return true; }, "click Install again"));
    pump_messages(300);
    EXPECT_EQ(shell.entered, 1);

    // The page is rebuilt while the installation runs: the job keeps what it
    // uses, and the new row of the package shows it installing and starts
    // no second one.
    list.clear_panels();
    EXPECT_FALSE(request.expired());
    fill();
    download_panel_c& rebuilt = row(0);
    EXPECT_TRUE(rebuilt.install_running());
    ASSERT_TRUE(drive_pointer(pointer_click(on_button(rebuilt)), [] { return true; }, "click Install on the new row"));
    pump_messages(300);
    EXPECT_EQ(shell.entered, 1);
    shell.release();
    ASSERT_TRUE(wait_for([&] { return request.expired() && !rebuilt.install_running(); }));
    // A text file: Windows ends the line with CR LF, which its reader trims.
    EXPECT_EQ(read_file_bytes(setup_dat), link + "\r\n");
    const std::vector<recording_shell::call> calls = shell.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, L"program");
    EXPECT_NE(calls[0].target.find(program_folder + L"DPInst"), std::wstring::npos);
    const std::wstring final_path = download_final_path(folder.c_str(), link.c_str());
    const std::wstring unpack_folder = final_path.substr(0, final_path.size() - 4);
    EXPECT_EQ(calls[0].parameters, dpinst_arguments(unpack_folder + L"\\a\\y", false));
    set_admin_check(previous);
}

TEST_F(DownloadRows, AnUnsignedProgramIsNotStartedAndItsBoxOpensItsFolder) {
    pointer_lock pointer;
    recording_shell shell;
    recording_signature_checker signatures;
    signatures.answer_others({false, static_cast<int32_t>(TRUST_E_NOSIGNATURE), L""});
    admin_check_function previous = set_admin_check([] { return true; });
    const std::string link = service->mirror_url(1) + "packages/vendor-setup.exe";
    const std::string bytes = "MZ without a signature";
    ASSERT_TRUE(plant_download(folder, link, bytes));
    add_device(L"Device", 0, link, static_cast<uint32_t>(bytes.size()));
    fill();
    download_panel_c& r = row(0);
    {
        message_box_answerer open_folder(1);
        ASSERT_TRUE(drive_pointer(pointer_click(on_button(r)), [&] { return open_folder.answered() == 1; },
                                  "click Install, then Open folder"));
    }
    const std::vector<recording_shell::call> calls = shell.calls();
    ASSERT_EQ(calls.size(), 1u);  // the folder, not the program
    EXPECT_EQ(calls[0].target, L"explorer.exe");
    EXPECT_EQ(calls[0].parameters, select_in_explorer_parameters(r.session().final_path()));
    EXPECT_EQ(signatures.checked(), (std::vector<std::wstring>{r.session().final_path()}));
    set_admin_check(previous);
}

TEST_F(DownloadRows, InstallIsRefusedWithoutAdministratorRightsAndAsksForNonUpdates) {
    holding_shell shell;
    admin_check_function previous = set_admin_check([] { return false; });
    uint32_t size = 0;
    const std::string link = downloaded_sample(size);
    add_device(L"older offer", 0, link, size, false);
    fill();
    download_panel_c& r = row(0);
    const std::wstring setup_dat = program_folder + L"setup.dat";
    {
        // Not an update: "No" ends it at the question.
        message_box_answerer no(2);
        r.install();
        EXPECT_EQ(no.answered(), 1);
    }
    {
        // "Yes", then the rights are missing: one more box, and nothing starts.
        message_box_answerer yes(1);
        r.install();
        EXPECT_EQ(yes.answered(), 2);
    }
    EXPECT_EQ(r.request()->installing, 0);
    EXPECT_EQ(GetFileAttributesW(setup_dat.c_str()), INVALID_FILE_ATTRIBUTES);
    pump_messages(100);
    EXPECT_TRUE(shell.calls().empty());
    set_admin_check(previous);
}

TEST_F(DownloadRows, RowsPaintedInEnglishArabicAndJapanese) {
    const std::string a = serve("row-shot-a.bin", blob(1572864, 10));
    const std::string b = serve("row-shot-b.bin", blob(4000, 11));
    const std::string c = serve("row-shot-c.bin", blob(2000, 12));
    ASSERT_TRUE(plant_download(folder, a, blob(786432, 10), true));
    ASSERT_TRUE(plant_download(folder, c, blob(2000, 12)));
    add_device(L"Intel(R) HD Graphics 4000", 0, a, 1572864);
    add_device(L"Intel(R) HD Graphics 4600 with a name far too long for one line of the row, so "
               L"that its end gives way to an ellipsis at a word",
               0, a, 1572864);
    add_device(L"Realtek PCIe GBE Family Controller", 1, b, 4000, true, false);
    add_device(L"Intel(R) Ethernet Connection I217-LM", 1, c, 2000, false);
    store.devices[3].offers[0].sign = 1;  // signed, not WHQL
    store.devices[3].offers[0].date = std::wstring_view(L"0000-00-00");

    struct language {
        const wchar_t* name;
        const wchar_t* shot;
    };
    for (const language& l : {language{L"English", L"download_rows_en"},
                              language{L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", L"download_rows_ar"},
                              language{L"\u65e5\u672c\u8a9e", L"download_rows_ja"}}) {
        SCOPED_TRACE(testing::Message() << "shot " << wide_to_utf8(l.shot));
        reset_language_table();
        ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", l.name, true), 0);
        load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", false);
        fill();
        ASSERT_EQ(groups.size(), 3u);
        // The downloaded row's installation failed: its log is named.
        install_report& failed = row(2).request()->report;
        failed.outcome = install_outcome::dpinst_started;
        failed.exit_known = true;
        failed.exit_code = 0x80010000;
        failed.log = L"C:\\windows\\DPINST.LOG";
        InvalidateRect(row(2).handle(), nullptr, FALSE);
        picture whole = capture_window(host);
        EXPECT_TRUE(save_screenshot(whole, l.shot));
        const RECT failed_bar = bar_of(row(2));
        EXPECT_TRUE(shot_of(row(2)).contains(RECT{80, failed_bar.top, WIDTH - 440, failed_bar.bottom},
                                             ROW_STATUS_TEXT));

        // The two-device update row: header, status bitmaps, half a bar.
        download_panel_c& first = row(0);
        picture p = shot_of(first);
        EXPECT_EQ(first.panel.height, download_row_height(2, first.lines()));
        EXPECT_TRUE(p.contains(RECT{32, 6, 200, 6 + first.lines().h1 + 2}, ROW_HEADING_TEXT));
        for (int i = 0; i < 2; ++i)
            EXPECT_TRUE(shows_bitmap(p, 8, row_device_top(i, first.lines()), IDB_STATUS_OUT_OF_DATE,
                                     {IDB_STATUS_OUT_OF_DATE, IDB_STATUS_UP_TO_DATE, IDB_STATUS_NO_DRIVER},
                                     {RGB(255, 255, 255)}));
        const RECT bar = bar_of(first);
        const int middle = (bar.left + bar.right) / 2;
        EXPECT_EQ(p.at(bar.left + 3, bar.bottom - 2), ROW_PROGRESS_FILL);
        EXPECT_NE(p.at(middle + 10, bar.bottom - 2), ROW_PROGRESS_FILL);
        EXPECT_TRUE(p.contains(RECT{35, bar.top, 80, bar.bottom}, ROW_WHQL_TEXT));
        EXPECT_EQ(p.at(5, p.height - 1), ROW_BOTTOM_LINE);
        EXPECT_EQ(p.at(5, p.height - 3), ROW_BACKGROUND_UPDATE);

        // No driver: the no-driver mark.
        download_panel_c& second = row(1);
        EXPECT_EQ(second.status_bitmap(), IDB_STATUS_NO_DRIVER);
        EXPECT_TRUE(shows_bitmap(shot_of(second), 8, row_device_top(0, second.lines()),
                                 IDB_STATUS_NO_DRIVER,
                                 {IDB_STATUS_OUT_OF_DATE, IDB_STATUS_UP_TO_DATE, IDB_STATUS_NO_DRIVER},
                                 {RGB(255, 255, 255)}));

        // Not an update: its own background, no WHQL, a full bar.
        download_panel_c& third = row(2);
        picture q = shot_of(third);
        EXPECT_EQ(q.at(5, q.height - 3), ROW_BACKGROUND_NOT_UPDATE);
        EXPECT_FALSE(q.contains(RECT{35, bar_of(third).top, 80, bar_of(third).bottom}, ROW_WHQL_TEXT));
        EXPECT_EQ(q.at(bar_of(third).right - 3, bar_of(third).top + 2), ROW_PROGRESS_FILL);
    }
    reset_language_table();
    ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
}

}  // namespace
