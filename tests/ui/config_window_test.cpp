// The settings dialog: its decisions as plain functions, then the dialog in
// real windows driven with the real pointer and keyboard (xdotool), with the
// settings under a scratch registry root and the scheduler replaced by the
// recording one; its look in three languages, and the texts that must fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/language.h"
#include "app/scheduled_task.h"
#include "app/settings.h"
#include "common/recording_task_scheduler.h"
#include "devices/device_store.h"
#include "downloads/download_names.h"
#include "platform/registry_root.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/config_window.h"
#include "ui/main_window.h"
#include "ui/message_window.h"
#include "ui/prompt.h"
#include "ui/skin/fonts.h"
#include "real_pointer.h"
#include "ui_test_support.h"

namespace {

const wchar_t* const RUN_KEY = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* const SETTINGS_KEY = L"SOFTWARE\\Vantorel";
const wchar_t* const TEST_MODULE = L"C:\\Quillmark\\quillmark.exe";
const wchar_t shipped_language_file[] = QM_PROGRAM_DIR_W L"\\language.ini";

// Loads `name` as the current language with English behind it, as start-up does.
void use_language(const wchar_t* name) {
    reset_language_table();
    ASSERT_EQ(load_language_file(shipped_language_file, name, true), 0);
    if (lstrcmpiW(name, L"English") != 0)
        load_language_file(shipped_language_file, L"English", false);
}

int language_index(const wchar_t* name) {
    for (std::size_t i = 0; i < language_names.size(); ++i)
        if (language_names[i] == name) return static_cast<int>(i);
    return -1;
}

bool always_a_directory(const wchar_t*) { return true; }
bool never_a_directory(const wchar_t*) { return false; }
std::vector<std::wstring> asked_about;
bool directory_unless_missing(const wchar_t* path) {
    asked_about.push_back(path);
    return std::wstring(path).find(L"missing") == std::wstring::npos;
}

}  // namespace

// --- Decisions without a window ---------------------------------------------------

TEST(ConfigDecisions, FoldersAreCheckedForExistenceFirstThenForLength) {
    const std::wstring here = L"C:\\here", missing = L"C:\\missing";
    const std::wstring too_long(MAX_PATH, L'a');
    const std::wstring longest_fitting(MAX_PATH - 1, L'a');
    EXPECT_EQ(check_config_folders(here, here, directory_unless_missing), config_problem::none);
    EXPECT_EQ(check_config_folders(missing, here, directory_unless_missing),
              config_problem::download_folder_missing);
    EXPECT_EQ(check_config_folders(here, missing, directory_unless_missing),
              config_problem::backup_folder_missing);
    EXPECT_EQ(check_config_folders(missing, missing, directory_unless_missing),
              config_problem::download_folder_missing);
    // A missing folder is reported before a text that is too long.
    EXPECT_EQ(check_config_folders(too_long, missing, directory_unless_missing),
              config_problem::backup_folder_missing);
    EXPECT_EQ(check_config_folders(too_long, here, always_a_directory),
              config_problem::download_path_too_long);
    EXPECT_EQ(check_config_folders(here, too_long, always_a_directory),
              config_problem::backup_path_too_long);
    // A download folder must leave room for the names of the packages in it.
    const std::wstring longest_download(download_folder_longest(L"C:\\a"), L'a');
    EXPECT_EQ(check_config_folders(longest_download, longest_fitting, always_a_directory),
              config_problem::none);
    EXPECT_EQ(check_config_folders(longest_download + L"a", longest_fitting, always_a_directory),
              config_problem::download_folder_too_deep);
    EXPECT_EQ(check_config_folders(longest_download + L"\\", here, always_a_directory), config_problem::none);
    EXPECT_EQ(check_config_folders(L"", here, never_a_directory),
              config_problem::download_folder_missing);
    // A text longer than a path is never handed to the folder test.
    asked_about.clear();
    check_config_folders(too_long, too_long, directory_unless_missing);
    EXPECT_TRUE(asked_about.empty());
}

TEST(ConfigDecisions, CloseToTrayKeepsAShownWarningAndWarnsAfterUnchecking) {
    const struct {
        bool checked;
        DWORD before, after;
    } cases[] = {{true, 0, 1},  {true, 1, 1},  {true, 2, 2},  {true, 7, 1},
                 {false, 0, 0}, {false, 1, 0}, {false, 2, 0}, {false, 7, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(close_to_tray_after(c.checked, c.before), c.after)
            << c.checked << " " << c.before;
}

TEST(ConfigDecisions, OpeningResetsOutOfRangeValuesAndShowsTheRest) {
    app_settings s;
    s.autorun = 2;
    s.scan_offline = 3;
    s.scheduled_scan = 0xFFFFFFFF;
    s.close_to_tray = 5;
    copy_text(s.download_path, L"D:\\down");
    copy_text(s.backup_path, L"D:\\back");
    config_choices c = config_choices_from(s);
    EXPECT_EQ(s.autorun, 2u);
    EXPECT_EQ(s.scan_offline, 0u);
    EXPECT_EQ(s.scheduled_scan, 0u);
    EXPECT_EQ(s.close_to_tray, 5u);  // not one of the three values: shown unchecked
    EXPECT_TRUE(c.autorun);
    EXPECT_FALSE(c.scan_offline);
    EXPECT_FALSE(c.scheduled_scan);
    EXPECT_FALSE(c.close_to_tray);
    EXPECT_EQ(c.download_path, L"D:\\down");
    EXPECT_EQ(c.backup_path, L"D:\\back");
    EXPECT_EQ(c.language, current_language);
}

TEST(ConfigDecisions, ApplyingTakesEveryChoiceAndTellsALanguageChange) {
    use_language(L"English");
    const int english = current_language;
    const int deutsch = language_index(L"Deutsch");
    ASSERT_GE(deutsch, 0);

    app_settings s;
    s.close_to_tray = 2;
    copy_text(s.language, L"English");
    config_choices c;
    c.download_path = L"D:\\down";
    c.backup_path = std::wstring(MAX_PATH + 20, L'b');  // kept within the field
    c.close_to_tray = true;
    c.autorun = true;
    c.scan_offline = true;
    c.scheduled_scan = false;
    c.language = english;
    EXPECT_FALSE(apply_config_choices(c, s));
    EXPECT_EQ(std::wstring(s.download_path), L"D:\\down");
    EXPECT_EQ(std::wstring(s.backup_path), std::wstring(MAX_PATH - 1, L'b'));
    EXPECT_EQ(s.autorun, 1u);
    EXPECT_EQ(s.scan_offline, 1u);
    EXPECT_EQ(s.scheduled_scan, 0u);
    EXPECT_EQ(s.close_to_tray, 2u);
    EXPECT_EQ(std::wstring(s.language), L"English");

    c.language = deutsch;
    EXPECT_TRUE(apply_config_choices(c, s));
    EXPECT_EQ(std::wstring(s.language), L"Deutsch");
    EXPECT_EQ(current_language, deutsch);
    EXPECT_TRUE(locale_is(L"de"));  // the per-language choices follow at once
    EXPECT_FALSE(apply_config_choices(c, s));

    // A choice that names no language changes nothing.
    c.language = static_cast<int>(language_names.size());
    EXPECT_FALSE(apply_config_choices(c, s));
    EXPECT_EQ(current_language, deutsch);
    use_language(L"English");
}

TEST(ConfigDecisions, NarrowerBoxesAndTheDecorationMoveForFrenchSpanishAndPortuguese) {
    const struct {
        const wchar_t* language;
        int width, decoration_x;
    } cases[] = {{L"English", 205, 300}, {L"Deutsch", 205, 300},   {L"Français", 200, 320},
                 {L"Español", 200, 320}, {L"Português", 200, 320}, {L"日本語", 205, 300}};
    for (const auto& c : cases) {
        use_language(c.language);
        int count = 0;
        const config_control_place* places = config_control_places(count);
        for (int i = 0; i < count; ++i) {
            if (places[i].id == IDC_CONFIG_CLOSE_TO_TRAY || places[i].id == IDC_CONFIG_AUTORUN) {
                EXPECT_EQ(places[i].width, c.width) << wide_to_utf8(c.language);
            }
        }
        EXPECT_EQ(config_decoration_point().x, c.decoration_x) << wide_to_utf8(c.language);
        EXPECT_EQ(config_decoration_point().y, 140);
    }
    use_language(L"English");
    const RECT frame = config_edit_frame(RECT{100, 58, 450, 76});
    EXPECT_EQ(frame.left, 93);
    EXPECT_EQ(frame.top, 53);
    EXPECT_EQ(frame.right, 453);
    EXPECT_EQ(frame.bottom, 77);
}

// --- The dialog in real windows -----------------------------------------------

namespace {

struct seen_box {
    std::wstring title;
    std::wstring texts;  // the window texts of its controls, joined by '|'
};

// Answers the dialog boxes that open over `owner` while it is installed: a
// thread timer (it runs inside the boxes' own loops) notes each box's title
// and texts and clicks its push button `button` with the real pointer.
class box_answerer {
public:
    box_answerer(HWND owner, int button) : owner_(owner), button_(button) {
        active = this;
        timer_ = SetTimer(nullptr, 0, 100, tick);
    }
    ~box_answerer() {
        KillTimer(nullptr, timer_);
        active = nullptr;
    }
    box_answerer(const box_answerer&) = delete;
    box_answerer& operator=(const box_answerer&) = delete;

    void set_owner(HWND owner) { owner_ = owner; }
    std::vector<seen_box> seen;
    int answered = 0;  // boxes that opened and are gone again
    HWND open_box = nullptr;

private:
    static BOOL CALLBACK collect(HWND control, LPARAM out) {
        wchar_t text[256] = {};
        GetWindowTextW(control, text, 256);
        auto& texts = *reinterpret_cast<std::wstring*>(out);
        if (!texts.empty()) texts += L"|";
        texts += text;
        return TRUE;
    }
    static BOOL CALLBACK find(HWND window, LPARAM self_pointer) {
        auto* self = reinterpret_cast<box_answerer*>(self_pointer);
        wchar_t name[16] = {};
        if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != self->owner_ ||
            !GetClassNameW(window, name, 16) || lstrcmpW(name, L"#32770") != 0)
            return TRUE;
        self->open_box = window;
        return FALSE;
    }
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        box_answerer* self = active;
        if (!self || !self->owner_) return;
        if (self->open_box) {
            if (IsWindow(self->open_box) && IsWindowVisible(self->open_box)) return;
            self->open_box = nullptr;
            ++self->answered;
        }
        EnumThreadWindows(GetCurrentThreadId(), find, reinterpret_cast<LPARAM>(self));
        if (!self->open_box) return;
        seen_box box;
        wchar_t title[128] = {};
        GetWindowTextW(self->open_box, title, 128);
        box.title = title;
        EnumChildWindows(self->open_box, collect, reinterpret_cast<LPARAM>(&box.texts));
        self->seen.push_back(box);
        HWND button = GetDlgItem(self->open_box, self->button_);
        if (button) start_pointer(pointer_click(screen_centre(button)));
    }

    static inline box_answerer* active = nullptr;
    HWND owner_;
    int button_;
    UINT_PTR timer_ = 0;
};

// The language notices: noted, then shown in the real skinned box.
std::vector<std::pair<std::wstring, unsigned>> prompts;
int note_and_show(HWND owner, const wchar_t* text, unsigned kind) {
    prompts.emplace_back(text ? text : L"", kind);
    return show_message(owner, text, kind);
}

// A shell whose folder browser answers with `folder`.
class browsing_shell final : public shell_actions {
public:
    std::wstring folder;
    int browsed = 0;
    intptr_t open_web_page(const wchar_t*) override { return 33; }
    intptr_t open_folder(const wchar_t*) override { return 33; }
    intptr_t start_program(HWND, const wchar_t*, const wchar_t*, int) override { return 33; }
    std::wstring browse_for_folder(HWND) override {
        ++browsed;
        return folder;
    }
};

}  // namespace

class ConfigWindow : public ::testing::Test {
protected:
    recording_task_scheduler tasks;  // in place of the machine's scheduler
    const std::wstring weekly = weekly_task_name();

    void SetUp() override {
        tasks.run_levels = false;  // Windows XP: the Run entry and 1.0 work items
        copy_text(saved_program_dir_, program_dir);
        copy_text(saved_module_path_, module_path);
        saved_settings_ = current_settings;
        const std::wstring leaf = L"config-" + std::to_wstring(GetCurrentProcessId());
        key_path_ = L"Software\\QuillmarkTests\\" + leaf;
        RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &root_, nullptr),
                  ERROR_SUCCESS);
        set_settings_root(root_);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"qm-" + leaf + L"\\";
        CreateDirectoryW(folder_.c_str(), nullptr);
        copy_text(program_dir, folder_);
        copy_text(module_path, TEST_MODULE);
        use_language(L"English");
        current_settings = app_settings{};
        ASSERT_TRUE(load_settings());  // first run: the defaults, the folders made
        prompts.clear();
        set_prompt_function(note_and_show);
    }
    void TearDown() override {
        set_prompt_function(nullptr);
        close_settings_key();
        set_settings_root(nullptr);
        RegCloseKey(root_);
        RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
        for (const wchar_t* sub : {L"download", L"backup", L"other"})
            RemoveDirectoryW((folder_ + sub).c_str());
        RemoveDirectoryW(folder_.c_str());
        copy_text(program_dir, saved_program_dir_);
        copy_text(module_path, saved_module_path_);
        current_settings = saved_settings_;
        use_language(L"English");
    }

    // Opens the dialog and runs `act` on it once it shows; its result.
    int with_dialog(const std::function<void(HWND)>& act) {
        return drive_modal([] { return show_settings_dialog(nullptr); }, act, 60000);
    }

    // The real pointer's acts on the open dialog.
    static void click(HWND dialog, int id, const std::function<bool()>& done, const char* what) {
        HWND control = GetDlgItem(dialog, id);
        RECT r{};
        GetWindowRect(control, &r);
        // Check boxes on their box, other controls in their middle.
        wchar_t name[16] = {};
        GetClassNameW(control, name, 16);
        const bool check_box =
            (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX &&
            lstrcmpiW(name, L"Button") == 0;
        POINT at = check_box ? POINT{r.left + 6, (r.top + r.bottom) / 2} : screen_centre(control);
        drive_pointer(pointer_click(at), done, what);
    }
    static void toggle(HWND dialog, int id, const char* what) {
        const UINT before = IsDlgButtonChecked(dialog, id);
        click(
            dialog, id, [&] { return IsDlgButtonChecked(dialog, id) != before; }, what);
    }
    static void press_ok(HWND dialog) {
        click(
            dialog, IDOK, [&] { return !IsWindowVisible(dialog); }, "OK");
    }
    static void press_cancel(HWND dialog) {
        click(
            dialog, IDCANCEL, [&] { return !IsWindowVisible(dialog); }, "Cancel");
    }
    // Opens the language list with the pointer and picks entry `index`.
    static void choose_language(HWND dialog, int index) {
        HWND list = GetDlgItem(dialog, IDC_CONFIG_LANGUAGE);
        click(
            dialog, IDC_CONFIG_LANGUAGE,
            [&] { return SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0) != 0; },
            "open the language list");
        COMBOBOXINFO info{};
        info.cbSize = sizeof(info);
        ASSERT_TRUE(GetComboBoxInfo(list, &info));
        RECT item{};
        ASSERT_NE(SendMessageW(info.hwndList, LB_GETITEMRECT, static_cast<WPARAM>(index),
                               reinterpret_cast<LPARAM>(&item)),
                  LB_ERR);
        MapWindowPoints(info.hwndList, nullptr, reinterpret_cast<POINT*>(&item), 2);
        drive_pointer(
            pointer_click(POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2}),
            [&] {
                return SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0) == 0 &&
                       SendMessageW(list, CB_GETCURSEL, 0, 0) == index;
            },
            "pick a language");
    }

    DWORD stored_dword(const wchar_t* name) const {
        DWORD value = 0xDEAD, size = sizeof(value);
        RegGetValueW(root_, SETTINGS_KEY, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
        return value;
    }
    std::wstring stored_text(HKEY root, const wchar_t* key, const wchar_t* name) const {
        wchar_t text[MAX_PATH + 1] = {};
        DWORD size = sizeof(text) - sizeof(wchar_t);
        if (RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
            return L"<absent>";
        return text;
    }
    // Stores close_to_tray as if an earlier run had.
    void store_close_to_tray(DWORD value) {
        current_settings.close_to_tray = value;
        save_settings();
    }

    HKEY root_ = nullptr;
    std::wstring key_path_;
    std::wstring folder_;  // the scratch program folder, ending in a backslash

private:
    wchar_t saved_program_dir_[MAX_PATH] = {};
    wchar_t saved_module_path_[MAX_PATH] = {};
    app_settings saved_settings_;
};

TEST_F(ConfigWindow, MissingBackupFolderShowsTheSystemBoxAndKeepsTheDialogOpen) {
    const std::wstring backup_before = current_settings.backup_path;
    std::vector<seen_box> seen;
    bool still_open = false;
    int result = with_dialog([&](HWND dialog) {
        HWND edit = GetDlgItem(dialog, IDC_CONFIG_BACKUP_PATH);
        wchar_t text[MAX_PATH + 16] = {};
        drive_pointer(
            pointer_click(screen_centre(edit)) + L" key --delay 30 End m i s s i n g",
            [&] {
                GetWindowTextW(edit, text, MAX_PATH + 16);
                return std::wstring(text) == backup_before + L"missing";
            },
            "type into the backup folder");
        {
            box_answerer answer(dialog, IDOK);
            drive_pointer(
                pointer_click(screen_centre(GetDlgItem(dialog, IDOK))),
                [&] { return answer.answered == 1; }, "OK, then the box's OK");
            seen = answer.seen;
        }
        still_open = IsWindowVisible(dialog) != FALSE;
        GetWindowTextW(edit, text, MAX_PATH + 16);
        EXPECT_EQ(std::wstring(text), backup_before + L"missing");  // the entry stays
        press_cancel(dialog);
    });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(still_open);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, L"Quillmark");
    EXPECT_NE(seen[0].texts.find(L"invalid download path"), std::wstring::npos)
        << wide_to_utf8(seen[0].texts);
    EXPECT_EQ(std::wstring(current_settings.backup_path), backup_before);
    EXPECT_EQ(stored_text(root_, SETTINGS_KEY, L"backup_path"), backup_before);
}

TEST_F(ConfigWindow, TooLongFolderKeepsTheDialogOpenAndTakesNothing) {
    store_close_to_tray(1);
    bool still_open = false;
    HWND focus = nullptr, edit = nullptr;
    int result = with_dialog([&](HWND dialog) {
        edit = GetDlgItem(dialog, IDC_CONFIG_DOWNLOAD_PATH);
        SetWindowTextW(edit, std::wstring(MAX_PATH + 5, L'x').c_str());
        toggle(dialog, IDC_CONFIG_CLOSE_TO_TRAY, "uncheck close to tray");
        click(
            dialog, IDOK, [&] { return GetFocus() == edit; }, "OK");
        still_open = IsWindowVisible(dialog) != FALSE;
        focus = GetFocus();
        press_cancel(dialog);
    });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(still_open);
    EXPECT_EQ(focus, edit);
    EXPECT_EQ(current_settings.close_to_tray, 1u);
    EXPECT_EQ(stored_dword(L"close_to_tray"), 1u);
}

TEST_F(ConfigWindow, LanguageChangeNoticeOnceAndNothingForTheSameLanguage) {
    const int deutsch = language_index(L"Deutsch");
    ASSERT_GE(deutsch, 0);
    box_answerer answer(nullptr, IDOK);
    int result = with_dialog([&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_CONFIG_LANGUAGE, CB_GETCOUNT, 0, 0),
                  static_cast<LRESULT>(language_names.size()));
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_CONFIG_LANGUAGE, CB_GETCURSEL, 0, 0),
                  current_language);
        choose_language(dialog, deutsch);
        answer.set_owner(dialog);
        click(
            dialog, IDOK, [&] { return !IsWindowVisible(dialog) && answer.answered == 1; }, "OK");
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].first, text_for("config_language_change_notice"));
    EXPECT_EQ(prompts[0].second, 0u);
    EXPECT_EQ(answer.answered, 1);  // the skinned box was shown and answered
    EXPECT_EQ(std::wstring(current_settings.language), L"Deutsch");
    EXPECT_EQ(stored_text(root_, SETTINGS_KEY, L"language"), L"Deutsch");
    EXPECT_EQ(current_language, deutsch);

    // Opened again, the list shows the chosen language; choosing it again
    // says nothing.
    result = with_dialog([&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_CONFIG_LANGUAGE, CB_GETCURSEL, 0, 0), deutsch);
        choose_language(dialog, deutsch);
        press_ok(dialog);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(prompts.size(), 1u);
}

TEST_F(ConfigWindow, CloseToTrayKeptWhenLeftCheckedZeroWhenUncheckedOneWhenRechecked) {
    store_close_to_tray(2);
    EXPECT_EQ(with_dialog([&](HWND dialog) {
                  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_CONFIG_CLOSE_TO_TRAY), BST_CHECKED);
                  press_ok(dialog);
              }),
              1);
    EXPECT_EQ(stored_dword(L"close_to_tray"), 2u);

    with_dialog([&](HWND dialog) {
        toggle(dialog, IDC_CONFIG_CLOSE_TO_TRAY, "uncheck close to tray");
        press_ok(dialog);
    });
    EXPECT_EQ(current_settings.close_to_tray, 0u);
    EXPECT_EQ(stored_dword(L"close_to_tray"), 0u);

    with_dialog([&](HWND dialog) {
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_CONFIG_CLOSE_TO_TRAY), BST_UNCHECKED);
        toggle(dialog, IDC_CONFIG_CLOSE_TO_TRAY, "check close to tray");
        press_ok(dialog);
    });
    EXPECT_EQ(stored_dword(L"close_to_tray"), 1u);  // the warning comes again
    EXPECT_TRUE(prompts.empty());
}

TEST_F(ConfigWindow, StartWithWindowsWritesAndDeletesTheRunEntry) {
    EXPECT_EQ(stored_text(root_, RUN_KEY, L"Quillmark"), L"<absent>");
    with_dialog([&](HWND dialog) {
        toggle(dialog, IDC_CONFIG_AUTORUN, "check start with Windows");
        toggle(dialog, IDC_CONFIG_SCAN_OFFLINE, "check disconnected devices");
        press_ok(dialog);
    });
    EXPECT_EQ(stored_text(root_, RUN_KEY, L"Quillmark"), L"\"" + std::wstring(TEST_MODULE) + L"\"");
    EXPECT_EQ(stored_dword(L"autorun"), 1u);
    EXPECT_EQ(stored_dword(L"scan_offline"), 1u);

    with_dialog([&](HWND dialog) {
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_CONFIG_AUTORUN), BST_CHECKED);
        toggle(dialog, IDC_CONFIG_AUTORUN, "uncheck start with Windows");
        press_ok(dialog);
    });
    EXPECT_EQ(stored_text(root_, RUN_KEY, L"Quillmark"), L"<absent>");
    EXPECT_EQ(stored_dword(L"autorun"), 0u);
    EXPECT_EQ(stored_dword(L"scan_offline"), 1u);
}

TEST_F(ConfigWindow, ScheduledScanActsAtOnceCancelDisablesItAgainOkKeepsIt) {
    const TASK_TRIGGER* trigger = nullptr;
    HWND opened = nullptr;
    int result = with_dialog([&](HWND dialog) {
        opened = dialog;
        toggle(dialog, IDC_CONFIG_SCHEDULED_SCAN, "check the weekly scan");
        // At once: made, switched on and its property sheet opened over the dialog.
        ASSERT_EQ(tasks.items.count(weekly), 1u);
        trigger = &tasks.items[weekly].item.trigger;
        EXPECT_EQ(trigger->rgFlags, 0u);
        EXPECT_EQ(tasks.edit_owner, dialog);
        press_cancel(dialog);
    });
    EXPECT_EQ(result, 2);
    ASSERT_NE(trigger, nullptr);
    EXPECT_EQ(trigger->rgFlags, static_cast<DWORD>(TASK_TRIGGER_FLAG_DISABLED));
    EXPECT_EQ(stored_dword(L"scheduled_scan"), 0u);

    // Checked again and confirmed: the work item is kept, only switched on.
    tasks.calls.clear();
    result = with_dialog([&](HWND dialog) {
        toggle(dialog, IDC_CONFIG_SCHEDULED_SCAN, "check the weekly scan again");
        press_ok(dialog);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(stored_dword(L"scheduled_scan"), 1u);
    EXPECT_EQ(tasks.items[weekly].item.trigger.rgFlags, 0u);
    // Made again is tried once and refused: the work item exists.
    EXPECT_EQ(std::count(tasks.calls.begin(), tasks.calls.end(), L"create " + weekly), 1);
    EXPECT_EQ(tasks.items.size(), 1u);

    // Unchecked and left with the caption close button: switched on again.
    result = with_dialog([&](HWND dialog) {
        toggle(dialog, IDC_CONFIG_SCHEDULED_SCAN, "uncheck the weekly scan");
        EXPECT_EQ(tasks.items[weekly].item.trigger.rgFlags,
                  static_cast<DWORD>(TASK_TRIGGER_FLAG_DISABLED));
        RECT r{};
        GetWindowRect(dialog, &r);
        POINT close{r.right - GetSystemMetrics(SM_CXDLGFRAME) - 15,
                    r.top + GetSystemMetrics(SM_CYDLGFRAME) + 10};
        drive_pointer(
            pointer_click(close), [&] { return !IsWindowVisible(dialog); },
            "the caption close button");
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(tasks.items[weekly].item.trigger.rgFlags, 0u);
    EXPECT_EQ(stored_dword(L"scheduled_scan"), 1u);
}

TEST_F(ConfigWindow, BrowseButtonsFillTheirFieldsAndOkTakesTheBackupFolderAtOnce) {
    browsing_shell browser;
    set_shell(&browser);
    const std::wstring other = folder_ + L"other";
    CreateDirectoryW(other.c_str(), nullptr);
    const std::wstring session_download = current_settings.session_download_path;
    browser.folder = other;
    with_dialog([&](HWND dialog) {
        wchar_t text[MAX_PATH] = {};
        click(
            dialog, IDC_CONFIG_BROWSE_BACKUP,
            [&] {
                GetDlgItemTextW(dialog, IDC_CONFIG_BACKUP_PATH, text, MAX_PATH);
                return other == text;
            },
            "browse for the backup folder");
        click(
            dialog, IDC_CONFIG_BROWSE_DOWNLOAD,
            [&] {
                GetDlgItemTextW(dialog, IDC_CONFIG_DOWNLOAD_PATH, text, MAX_PATH);
                return other == text;
            },
            "browse for the download folder");
        press_ok(dialog);
    });
    // A cancelled browser changes nothing.
    browser.folder.clear();
    with_dialog([&](HWND dialog) {
        click(
            dialog, IDC_CONFIG_BROWSE_BACKUP, [&] { return browser.browsed == 3; },
            "browse, cancel");
        wchar_t text[MAX_PATH] = {};
        GetDlgItemTextW(dialog, IDC_CONFIG_BACKUP_PATH, text, MAX_PATH);
        EXPECT_EQ(std::wstring(text), other);
        press_cancel(dialog);
    });
    set_shell(nullptr);
    EXPECT_EQ(browser.browsed, 3);
    EXPECT_EQ(std::wstring(current_settings.backup_path), other);
    EXPECT_EQ(std::wstring(current_settings.download_path), other);
    EXPECT_EQ(stored_text(root_, SETTINGS_KEY, L"download_path"), other);
    // Downloads keep their folder until the next start.
    EXPECT_EQ(std::wstring(current_settings.session_download_path), session_download);
}

TEST_F(ConfigWindow, OpeningAgainWhileOpenShowsNoSecondDialog) {
    int second = 0;
    int result = with_dialog([&](HWND dialog) {
        second = show_settings_dialog(dialog);
        EXPECT_TRUE(IsWindowVisible(dialog));
        press_cancel(dialog);
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(second, 2);
    // Once closed, it opens again.
    EXPECT_EQ(with_dialog([&](HWND dialog) { press_ok(dialog); }), 1);
}

// The controls where they belong, the painted labels, frames and picture,
// and a screenshot, in English, Arabic and Japanese.
class ConfigWindowLook : public ConfigWindow,
                         public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(ConfigWindowLook, LayoutAndScreenshot) {
    use_language(GetParam());
    with_dialog([&](HWND dialog) {
        RECT window{};
        GetWindowRect(dialog, &window);
        EXPECT_EQ(window.right - window.left, CONFIG_DIALOG_WIDTH);
        EXPECT_EQ(window.bottom - window.top, CONFIG_DIALOG_HEIGHT);
        auto client_rect = [&](int id) {
            RECT r{};
            GetWindowRect(GetDlgItem(dialog, id), &r);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
            return r;
        };
        int count = 0;
        const config_control_place* places = config_control_places(count);
        for (int i = 0; i < count; ++i) {
            RECT r = client_rect(places[i].id);
            EXPECT_EQ(r.left, places[i].x) << places[i].id;
            EXPECT_EQ(r.top, places[i].y) << places[i].id;
            EXPECT_EQ(r.right - r.left, places[i].width) << places[i].id;
            if (places[i].id != IDC_CONFIG_LANGUAGE) {
                EXPECT_EQ(r.bottom - r.top, places[i].height) << places[i].id;
            }
        }
        const config_control_place* buttons = config_button_places(count);
        for (int i = 0; i < count; ++i) {
            RECT r = client_rect(buttons[i].id);
            EXPECT_EQ(r.left, buttons[i].x) << buttons[i].id;
            EXPECT_EQ(r.top, buttons[i].y) << buttons[i].id;
            EXPECT_EQ(r.right - r.left, 80) << buttons[i].id;
            EXPECT_EQ(r.bottom - r.top, 22) << buttons[i].id;
        }
        const struct {
            int id;
            const char* key;
        } texts[] = {{IDOK, "btn_ok"},
                     {IDCANCEL, "btn_cancel"},
                     {IDC_CONFIG_BROWSE_DOWNLOAD, "top_download"},
                     {IDC_CONFIG_BROWSE_BACKUP, "top_backup"},
                     {IDC_CONFIG_CLOSE_TO_TRAY, "config_close_to_system_tray"},
                     {IDC_CONFIG_AUTORUN, "config_start_when_windows_startup"},
                     {IDC_CONFIG_SCAN_OFFLINE, "config_scan_non_present_devices"},
                     {IDC_CONFIG_SCHEDULED_SCAN, "config_enable_scheduled_automatic_scan"}};
        for (const auto& t : texts) {
            wchar_t text[128] = {};
            GetDlgItemTextW(dialog, t.id, text, 128);
            EXPECT_EQ(std::wstring(text), text_for(t.key)) << t.key;
        }

        picture shot = capture_window(dialog);
        save_screenshot(shot, (L"settings_dialog_" + std::wstring(locale_code())).c_str());
        const POINT c = client_origin_in_window(dialog);
        // A white client area with the labels in their colour.
        EXPECT_EQ(shot.at(c.x + 20, c.y + 20), RGB(255, 255, 255));
        for (const config_label& label : config_labels) {
            EXPECT_TRUE(shot.contains(
                {c.x + label.x, c.y + label.y, c.x + label.x + 200, c.y + label.y + 14},
                CONFIG_LABEL_COLOR))
                << label.key;
        }
        // The frames around the edits.
        for (int id : {IDC_CONFIG_DOWNLOAD_PATH, IDC_CONFIG_BACKUP_PATH}) {
            RECT f = config_edit_frame(client_rect(id));
            EXPECT_EQ(shot.at(c.x + f.left, c.y + (f.top + f.bottom) / 2), CONFIG_LABEL_COLOR)
                << id;
            EXPECT_EQ(shot.at(c.x + (f.left + f.right) / 2, c.y + f.bottom - 1), CONFIG_LABEL_COLOR)
                << id;
            EXPECT_EQ(shot.at(c.x + f.left + 1, c.y + f.top + 1), RGB(255, 255, 255)) << id;
        }
        const POINT d = config_decoration_point();
        EXPECT_TRUE(shows_bitmap(shot, c.x + d.x, c.y + d.y, IDB_SETTINGS_DECORATION,
                                 {IDB_SETTINGS_DECORATION}, {RGB(255, 255, 255)}));
        // The push buttons' faces, in whichever state the pointer left them.
        const std::vector<int> faces{IDB_DIALOG_BUTTON_NORMAL, IDB_DIALOG_BUTTON_HOVER,
                                     IDB_DIALOG_BUTTON_PRESSED};
        for (const config_control_place& b : {buttons[0], buttons[1], buttons[2], buttons[3]}) {
            bool shown = false;
            for (int face : faces)
                shown = shown ||
                        shows_bitmap(shot, c.x + b.x, c.y + b.y, face, faces, {RGB(255, 255, 255)});
            EXPECT_TRUE(shown) << b.id;
        }
        press_cancel(dialog);
    });
}

INSTANTIATE_TEST_SUITE_P(Languages, ConfigWindowLook,
                         ::testing::Values(L"English", L"العربية", L"日本語"));

// Every language's texts in the room the dialog gives them, in its fonts.
TEST_F(ConfigWindow, EveryLanguagesTextsFitTheirPlaces) {
    memory_canvas canvas(200, 50);
    auto width_of = [&](font_id font, const std::wstring& text) {
        HGDIOBJ old = SelectObject(canvas.dc(), ui_font(font));
        SIZE size{};
        GetTextExtentPoint32W(canvas.dc(), text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(canvas.dc(), old);
        return static_cast<int>(size.cx);
    };
    const int client_width = CONFIG_DIALOG_WIDTH - 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int check_mark = 18;  // the box and its gap
    for (DWORD number = 1; number <= 11; ++number) {
        const wchar_t* name = installer_language_name(number);
        use_language(name);
        const std::string language = wide_to_utf8(name);
        int count = 0;
        const config_control_place* places = config_control_places(count);
        for (int i = 0; i < count; ++i) {
            if (!places[i].key) continue;
            EXPECT_LE(width_of(font_id::verdana_8, text_for(places[i].key)),
                      places[i].width - check_mark)
                << places[i].key << " in " << language;
        }
        // Labels: those of the left column end before the picture, the others
        // inside the dialog.
        const int decoration = config_decoration_point().x;
        for (const config_label& label : config_labels) {
            const bool left_column = label.x < decoration && label.y >= 140;
            const int room = (left_column ? decoration : client_width) - label.x;
            EXPECT_LE(width_of(font_id::verdana_8_bold, text_for(label.key)), room)
                << label.key << " in " << language;
        }
        const config_control_place* buttons = config_button_places(count);
        for (int i = 0; i < count; ++i) {
            EXPECT_LE(width_of(font_id::verdana_8_bold, text_for(buttons[i].key)), 80 - 6)
                << buttons[i].key << " in " << language;
        }
    }
    use_language(L"English");
}

// The main window's settings tab, clicked with the real pointer, and its
// menu entry open the dialog over the main window.
TEST_F(ConfigWindow, SettingsTabAndMenuEntryOpenTheDialog) {
    pointer_lock pointer;
    if (!app_device_store) app_device_store = create_device_store();
    main_window_c main;
    ASSERT_NE(
        main.create(GetModuleHandleW(nullptr), L"Quillmark config test", L"Quillmark.ConfigTest"),
        nullptr);
    HWND w = main.handle();
    ShowWindow(w, SW_SHOW);
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    SetForegroundWindow(w);
    pump_messages(200);

    const RECT tab = main.caption_buttons()[4]->rect;  // Home, Download, Backup, Restore, Settings
    RECT r{};
    GetWindowRect(w, &r);
    POINT at{r.left + (tab.left + tab.right) / 2, r.top + (tab.top + tab.bottom) / 2 + 10};
    {
        box_answerer answer(w, IDCANCEL);
        drive_pointer(
            pointer_click(at), [&] { return answer.answered == 1; }, "the Settings tab");
        ASSERT_EQ(answer.seen.size(), 1u);
        EXPECT_EQ(answer.seen[0].title, text_for("menu_settings"));
        EXPECT_NE(answer.seen[0].texts.find(text_for("config_close_to_system_tray")),
                  std::wstring::npos);
    }
    {
        box_answerer answer(w, IDCANCEL);
        PostMessageW(w, WM_COMMAND, ID_MENU_SETTINGS, 0);
        drive_pointer(
            L"sleep 0.1", [&] { return answer.answered == 1; }, "the menu's Settings entry");
        EXPECT_EQ(answer.seen.size(), 1u);
    }
    DestroyWindow(w);
    pump_messages(100);
}
