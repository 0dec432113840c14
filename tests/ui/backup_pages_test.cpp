// The backup and restore pages over the example PC's driver store, driven
// with the real pointer: check boxes, the large button, the result boxes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "backup/catalogue.h"
#include "common/reference_service.h"  // read_file_bytes
#include "common/scratch_folder.h"
#include "platform/profile_device_source.h"
#include "platform/text.h"
#include "ui/backup_pages.h"
#include "ui/prompt.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

std::vector<std::wstring> boxes;
int answer_box(HWND, const wchar_t* text, unsigned) {
    boxes.push_back(text);
    return 1;
}

bool box_shown(const char* key) {
    for (const std::wstring& text : boxes)
        if (text == text_for(key)) return true;
    return false;
}

// The example PC scanned, its driver store indexed, the catalogue and the
// backups in a scratch folder, and a plain top-level window for a page.
class BackupPages : public ::testing::Test {
protected:
    void SetUp() override {
        copy_text(saved_program_dir_, program_dir);
        saved_settings_ = current_settings;
        saved_version_ = windows_version;
        saved_store_ = app_device_store;
        SetEnvironmentVariableW(L"QUILLMARK_DRIVER_STORE", QM_BINARY_DIR_W L"\\driver-store");
        ASSERT_TRUE(load_machine_profile(QM_SOURCE_DIR_W L"\\profiles\\example-pc.xml", profile_));
        windows_version.dwMajorVersion = 6;
        windows_version.dwMinorVersion = 1;
        profile_device_source source(&profile_);
        scan_progress progress;
        reset_scan_progress(progress, false);
        store_ = create_device_store(source, resource_module());
        ASSERT_TRUE(enumerate_devices(*store_, progress, source));
        app_device_store = store_;
        ASSERT_EQ(build_store_index(profile_driver_store_places(*profile_.driver_store)), 0);
        copy_text(program_dir, scratch_ / L"");
        copy_text(current_settings.backup_path, scratch_ / L"backups");
        CreateDirectoryW(current_settings.backup_path, nullptr);
        {
            std::lock_guard<std::mutex> hold(backup_catalogue_lock);
            backup_catalogue.clear();
        }
        boxes.clear();
        set_prompt_function(answer_box);

        WNDCLASSW host_class{};
        host_class.lpfnWndProc = DefWindowProcW;
        host_class.hInstance = GetModuleHandleW(nullptr);
        host_class.lpszClassName = L"QuillmarkTests.PageHost";
        RegisterClassW(&host_class);
        host_ = CreateWindowExW(0, L"QuillmarkTests.PageHost", L"pages", WS_POPUP | WS_VISIBLE, 10, 10,
                                780, 470, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host_, nullptr);
    }

    void TearDown() override {
        if (host_) DestroyWindow(host_);
        pump_messages(50);
        set_prompt_function(nullptr);
        release_device_store(store_);
        app_device_store = saved_store_;
        windows_version = saved_version_;
        current_settings = saved_settings_;
        copy_text(program_dir, saved_program_dir_);
        package_list.clear();
        std::lock_guard<std::mutex> hold(backup_catalogue_lock);
        backup_catalogue.clear();
    }

    // Creates the page over the host and shows it, which fills its tree.
    void open(tree_page_c& page) {
        ASSERT_NE(page.create(host_), nullptr);
        ShowWindow(page.handle(), SW_SHOW);
        pump_messages(100);
    }

    // The screen point of a row's check box, found by asking the tree.
    POINT check_box_of(HWND tree, HTREEITEM item) {
        TreeView_EnsureVisible(tree, item);
        RECT line{};
        TreeView_GetItemRect(tree, item, &line, FALSE);
        TVHITTESTINFO hit{};
        for (int x = 0; x < line.right; ++x) {
            hit.pt = {x, (line.top + line.bottom) / 2};
            if (TreeView_HitTest(tree, &hit) == item && (hit.flags & TVHT_ONITEMSTATEICON)) {
                POINT at{x + 6, hit.pt.y};
                ClientToScreen(tree, &at);
                return at;
            }
        }
        ADD_FAILURE() << "no check box on the row";
        return POINT{0, 0};
    }

    bool click_check_box(tree_page_c& page, HTREEITEM item, int expected_state, const char* what) {
        return drive_pointer(pointer_click(check_box_of(page.tree(), item)),
                             [&] { return page.check_state(item) == expected_state; }, what);
    }

    std::vector<HTREEITEM> children(HWND tree, HTREEITEM parent) {
        std::vector<HTREEITEM> items;
        for (HTREEITEM i = parent ? TreeView_GetChild(tree, parent) : TreeView_GetRoot(tree); i;
             i = TreeView_GetNextSibling(tree, i))
            items.push_back(i);
        return items;
    }

    std::wstring row_text(HWND tree, HTREEITEM item) {
        wchar_t text[512] = {};
        TVITEMW row{};
        row.mask = TVIF_TEXT | TVIF_HANDLE;
        row.hItem = item;
        row.pszText = text;
        row.cchTextMax = 512;
        TreeView_GetItem(tree, &row);
        return text;
    }

    // Screenshots of a fresh page in English, Arabic and Japanese, with the
    // first child of the first root selected.
    template <class Page>
    void photograph(const std::wstring& name, HWND page_in_use) {
        ShowWindow(page_in_use, SW_HIDE);
        const std::pair<const wchar_t*, const wchar_t*> languages[] = {
            {L"English", L"en"}, {L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", L"ar"}, {L"\u65e5\u672c\u8a9e", L"ja"}};
        for (const auto& [language, suffix] : languages) {
            reset_language_table();
            ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", language, true), 0);
            Page page;
            open(page);
            TreeView_SelectItem(page.tree(), children(page.tree(), TreeView_GetRoot(page.tree()))[0]);
            RedrawWindow(host_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            pump_messages(100);
            EXPECT_TRUE(save_screenshot(capture_window(host_), (name + L"-" + suffix).c_str()));
        }
        reset_language_table();
        load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true);
    }

    scratch_folder scratch_;
    machine_profile profile_;
    device_store* store_ = nullptr;
    HWND host_ = nullptr;
    pointer_lock pointer_;

private:
    wchar_t saved_program_dir_[MAX_PATH] = {};
    app_settings saved_settings_;
    OSVERSIONINFOEXW saved_version_{};
    device_store* saved_store_ = nullptr;
};

TEST_F(BackupPages, CheckedPackagesAreBackedUpWithTheRealPointer) {
    backup_window_c page;
    open(page);
    HWND tree = page.tree();
    std::vector<HTREEITEM> roots = children(tree, nullptr);
    ASSERT_EQ(roots.size(), 2u);  // available and inbox drivers on Windows 7
    EXPECT_EQ(row_text(tree, roots[0]), text_for("backup_available_drivers"));
    std::vector<HTREEITEM> packages = children(tree, roots[0]);
    ASSERT_GE(packages.size(), 3u);
    for (HTREEITEM device : children(tree, packages[0])) EXPECT_EQ(page.check_state(device), 0);

    // The root checks every package; unchecking one unchecks the root only.
    ASSERT_TRUE(click_check_box(page, roots[0], 2, "the available root"));
    pump_messages(100);
    for (HTREEITEM p : packages) EXPECT_EQ(page.check_state(p), 2);
    ASSERT_TRUE(click_check_box(page, packages[1], 1, "a package row"));
    pump_messages(100);
    EXPECT_EQ(page.check_state(roots[0]), 1);
    EXPECT_EQ(page.check_state(packages[0]), 2);
    EXPECT_EQ(page.check_state(packages[2]), 2);

    // The large button backs up the checked packages and says so once.
    const std::size_t checked = packages.size() - 1;
    ASSERT_TRUE(drive_pointer(pointer_click(screen_centre(page.button())),
                              [&] { return box_shown("backup_completed"); }, "the backup button", 30000));
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(page.job().progress.load(), static_cast<int32_t>(checked * 100));
    EXPECT_EQ(catalogue_snapshot().size(), checked);
    EXPECT_EQ(list_folder(join_path(current_settings.backup_path, L"*.zip")).size(), checked);


    // Nothing checked: the button explains instead. (A second click too soon
    // after the first would be a double click, which the button ignores.)
    for (HTREEITEM p : packages) page.set_check_state(p, 1);
    pump_messages(GetDoubleClickTime() + 100);
    boxes.clear();
    ASSERT_TRUE(drive_pointer(pointer_click(screen_centre(page.button())),
                              [&] { return !boxes.empty(); }, "the backup button, nothing checked"));
    EXPECT_EQ(boxes[0], text_for("backup_no_driver"));
    photograph<backup_window_c>(L"backup-page", page.handle());
}

TEST_F(BackupPages, ARunningBackupKeepsTheTreeItReadsFrom) {
    backup_window_c page;
    open(page);
    HWND tree = page.tree();
    std::vector<HTREEITEM> packages = children(tree, TreeView_GetRoot(tree));
    ASSERT_FALSE(packages.empty());
    page.set_check_state(packages[0], 2);
    {
        // The worker waits for the catalogue after its archive, so it is
        // still running when the page is shown again.
        std::unique_lock<std::mutex> hold(backup_catalogue_lock);
        SendMessageW(page.handle(), WM_COMMAND, MAKEWPARAM(PAGE_BUTTON_ID, 0), 0);
        ASSERT_TRUE(page.busy());
        ShowWindow(page.handle(), SW_HIDE);
        ShowWindow(page.handle(), SW_SHOW);
        pump_messages(100);
        EXPECT_EQ(page.check_state(packages[0]), 2);  // not filled anew
        EXPECT_EQ(package_list.size(), children(tree, TreeView_GetRoot(tree)).size() +
                                           children(tree, TreeView_GetNextSibling(tree, TreeView_GetRoot(tree))).size());
    }
    const DWORD start = GetTickCount();
    while (!box_shown("backup_completed") && GetTickCount() - start < 20000) pump_messages(50);
    EXPECT_TRUE(box_shown("backup_completed"));
    EXPECT_FALSE(page.busy());
}

TEST_F(BackupPages, TheRestorePageRestoresTheOneCheckedBackup) {
    {
        restore_window_c empty;
        open(empty);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], text_for("restore_no_backup"));
    }
    build_package_list();
    backup_job job;
    for (const driver_package& p : package_list)
        if (std::wstring(p.folder_name).rfind(L"igdlh64", 0) == 0 ||
            std::wstring(p.folder_name).rfind(L"hdxlv64", 0) == 0)
            job.selected.push_back(p.devices[0]);
    job.backup_folder = current_settings.backup_path;
    ASSERT_EQ(backup_task(job), 0);

    recording_shell shell;
    boxes.clear();
    restore_window_c page;
    open(page);
    EXPECT_TRUE(boxes.empty());
    HWND tree = page.tree();
    std::vector<HTREEITEM> backups = children(tree, nullptr);
    ASSERT_EQ(backups.size(), 2u);
    EXPECT_EQ(row_text(tree, backups[0]), L"Intel(R)-HD-Graphics-4000.zip");  // sorted by name
    EXPECT_EQ(page.check_state(children(tree, backups[1])[0]), 0);

    // One backup at a time.
    ASSERT_TRUE(click_check_box(page, backups[1], 2, "the second backup"));
    ASSERT_TRUE(click_check_box(page, backups[0], 2, "the first backup"));
    pump_messages(100);
    EXPECT_EQ(page.check_state(backups[1]), 1);
    ASSERT_TRUE(click_check_box(page, backups[0], 1, "the first backup again"));
    ASSERT_TRUE(drive_pointer(pointer_click(screen_centre(page.button())),
                              [&] { return !boxes.empty(); }, "the restore button, nothing checked"));
    EXPECT_EQ(boxes[0], text_for("restore_no_driver"));

    ASSERT_TRUE(click_check_box(page, backups[0], 2, "the first backup, checked"));
    ASSERT_TRUE(drive_pointer(pointer_click(screen_centre(page.button())),
                              [&] { return !shell.calls().empty() && !page.busy(); }, "the restore button"));
    const std::wstring folder = join_path(current_settings.backup_path, L"Intel(R)-HD-Graphics-4000");
    EXPECT_EQ(shell.calls()[0].parameters, L"/SH /F /PATH \"" + folder + L"\"");
    EXPECT_NE(GetFileAttributesW(join_path(folder, L"igdlh64.inf").c_str()), INVALID_FILE_ATTRIBUTES);

    photograph<restore_window_c>(L"restore-page", page.handle());
}

}  // namespace
