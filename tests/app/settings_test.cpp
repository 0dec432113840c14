// The settings store against the real registry, under a scratch root.
#include <gtest/gtest.h>

#include <objbase.h>
#include <time.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/settings.h"
#include "app_test_support.h"
#include "common/job_file.h"
#include "common/recording_task_scheduler.h"
#include "platform/registry_root.h"
#include "platform/task_scheduler.h"
#include "platform/text.h"

namespace {

const wchar_t* const VANTOREL = L"SOFTWARE\\Vantorel";
const wchar_t* const VANTOREL_INIT = L"SOFTWARE\\Vantorel_Init";
const wchar_t* const RUN = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

const wchar_t* const AUTOSTART_ITEM = L"Quillmark Autostart";

class SettingsStore : public ::testing::Test {
protected:
    scratch_settings scratch;
    recording_task_scheduler tasks;  // in place of the machine's scheduler

    std::wstring stored_text(const wchar_t* name) {
        auto v = read_reg_value(scratch.root(), VANTOREL, name);
        return v ? v->text() : L"<absent>";
    }
    // Loads and checks that the date stamped is today's (either side of midnight).
    void load_expecting_today() {
        std::wstring before = utc_date_today();
        ASSERT_TRUE(load_settings());
        std::wstring after = utc_date_today();
        std::wstring stamped = current_settings.install_date;
        EXPECT_TRUE(stamped == before || stamped == after) << stamped;
    }
};

TEST_F(SettingsStore, FirstRunWritesEveryDefaultAndRemovesTheAutostartEntry) {
    write_reg_text(scratch.root(), RUN, L"Quillmark", L"\"C:\\old\\quillmark.exe\"");
    write_reg_text(scratch.root(), RUN, L"Other", L"other.exe");

    load_expecting_today();

    const std::wstring download = scratch.folder() + L"download";
    const std::wstring backup = scratch.folder() + L"backup";
    const app_settings& s = current_settings;
    EXPECT_EQ(s.autorun, 0u);
    EXPECT_EQ(s.scan_offline, 0u);
    EXPECT_EQ(s.close_to_tray, 1u);
    EXPECT_EQ(s.scheduled_scan, 0u);
    EXPECT_EQ(std::wstring(s.download_path), download);
    EXPECT_EQ(std::wstring(s.session_download_path), download);
    EXPECT_EQ(std::wstring(s.backup_path), backup);
    EXPECT_EQ(std::wstring(s.language), L"English");

    std::vector<std::wstring> expected_names = {L"autorun",       L"backup_path",  L"close_to_tray",
                                                L"download_path", L"install_date", L"language",
                                                L"scan_offline",  L"scheduled_scan"};
    EXPECT_EQ(reg_value_names(scratch.root(), VANTOREL), expected_names);
    struct text_case {
        const wchar_t* name;
        std::wstring value;
    } texts[] = {{L"download_path", download},
                 {L"backup_path", backup},
                 {L"language", L"English"},
                 {L"install_date", s.install_date}};
    for (const auto& t : texts) {
        auto v = read_reg_value(scratch.root(), VANTOREL, t.name);
        ASSERT_TRUE(v) << t.name;
        EXPECT_EQ(v->type, static_cast<DWORD>(REG_SZ)) << t.name;
        // Stored with the terminator and nothing after it.
        EXPECT_EQ(v->data.size(), (t.value.size() + 1) * sizeof(wchar_t)) << t.name;
        EXPECT_EQ(v->text(), t.value) << t.name;
    }
    struct dword_case {
        const wchar_t* name;
        DWORD value;
    } dwords[] = {{L"autorun", 0}, {L"scan_offline", 0}, {L"close_to_tray", 1}, {L"scheduled_scan", 0}};
    for (const auto& d : dwords) {
        auto v = read_reg_value(scratch.root(), VANTOREL, d.name);
        ASSERT_TRUE(v) << d.name;
        EXPECT_EQ(v->type, static_cast<DWORD>(REG_DWORD)) << d.name;
        EXPECT_EQ(v->data.size(), 4u) << d.name;
        EXPECT_EQ(v->dword(), d.value) << d.name;
    }

    EXPECT_FALSE(read_reg_value(scratch.root(), RUN, L"Quillmark"));
    EXPECT_TRUE(read_reg_value(scratch.root(), RUN, L"Other"));
    EXPECT_TRUE(folder_exists(download));
    EXPECT_TRUE(folder_exists(backup));
    // Reading the installer's choice does not leave its key behind.
    EXPECT_FALSE(reg_key_exists(scratch.root(), VANTOREL_INIT));
}

TEST_F(SettingsStore, FirstRunTakesTheInstallerLanguageWhenItIsKnown) {
    const wchar_t* const names[] = {
        L"English",    L"Deutsch",    L"Espa\u00F1ol",    L"Fran\u00E7ais",
        L"Italiano",   L"\u65E5\u672C\u8A9E",             L"\u7B80\u4F53\u4E2D\u6587",
        L"\u7E41\u9AD4\u4E2D\u6587", L"Nederlands", L"Portugu\u00EAs",
        L"\u0627\u0644\u0639\u0631\u0628\u064A\u0629"};
    for (DWORD n = 0; n <= 12; ++n) {
        scratch.clear();
        write_reg_dword(scratch.root(), VANTOREL_INIT, L"language", n);
        ASSERT_TRUE(load_settings());
        std::wstring expected = (n >= 1 && n <= 11) ? names[n - 1] : L"English";
        EXPECT_EQ(std::wstring(current_settings.language), expected) << "installer number " << n;
        EXPECT_EQ(stored_text(L"language"), expected) << "installer number " << n;
    }

    // The key without the value, a value of the wrong type, or one of the
    // wrong size: English, not the number the reading starts from.
    scratch.clear();
    write_reg_text(scratch.root(), VANTOREL_INIT, L"other", L"x");
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), L"English");

    scratch.clear();
    write_reg_text(scratch.root(), VANTOREL_INIT, L"language", L"2");
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), L"English");

    scratch.clear();
    const BYTE two[2] = {2, 0};
    write_reg_raw(scratch.root(), VANTOREL_INIT, L"language", REG_DWORD, two, sizeof(two));
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), L"English");
}

TEST_F(SettingsStore, InstallerLanguageIsReadOnlyOnTheFirstRun) {
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"2013-01-02");
    write_reg_dword(scratch.root(), VANTOREL_INIT, L"language", 2);
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), L"English");
}

TEST_F(SettingsStore, ExistingKeyWithoutInstallDateGetsOnlyTheDateWritten) {
    write_reg_text(scratch.root(), VANTOREL, L"language", L"Deutsch");
    write_reg_dword(scratch.root(), VANTOREL, L"close_to_tray", 2);
    write_reg_text(scratch.root(), RUN, L"Quillmark", L"stale");

    load_expecting_today();

    EXPECT_EQ(std::wstring(current_settings.language), L"Deutsch");
    EXPECT_EQ(current_settings.close_to_tray, 2u);
    EXPECT_EQ(current_settings.autorun, 0u);
    std::vector<std::wstring> expected = {L"close_to_tray", L"install_date", L"language"};
    EXPECT_EQ(reg_value_names(scratch.root(), VANTOREL), expected);
    EXPECT_EQ(stored_text(L"install_date"), std::wstring(current_settings.install_date));
    // Nothing but the date is written: the Run entry stays as it was.
    auto run = read_reg_value(scratch.root(), RUN, L"Quillmark");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->text(), L"stale");

    // A date still at its placeholder is stamped the same way.
    close_settings_key();
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"0000-00-00");
    load_expecting_today();
    EXPECT_EQ(stored_text(L"install_date"), std::wstring(current_settings.install_date));
}

TEST_F(SettingsStore, StoredValuesAreTakenAndNothingIsRewritten) {
    const std::wstring download = scratch.folder() + L"dl\\nested\\deeper";
    const std::wstring backup = scratch.folder() + L"bk";
    write_reg_dword(scratch.root(), VANTOREL, L"autorun", 1);
    write_reg_dword(scratch.root(), VANTOREL, L"scan_offline", 7);
    write_reg_dword(scratch.root(), VANTOREL, L"close_to_tray", 0);
    write_reg_dword(scratch.root(), VANTOREL, L"scheduled_scan", 1);
    write_reg_text(scratch.root(), VANTOREL, L"download_path", download);
    write_reg_text(scratch.root(), VANTOREL, L"backup_path", backup);
    write_reg_text(scratch.root(), VANTOREL, L"language", L"Italiano");
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"2012-03-04");

    ASSERT_TRUE(load_settings());

    const app_settings& s = current_settings;
    EXPECT_EQ(s.autorun, 1u);
    EXPECT_EQ(s.scan_offline, 7u);
    EXPECT_EQ(s.close_to_tray, 0u);
    EXPECT_EQ(s.scheduled_scan, 1u);
    EXPECT_EQ(std::wstring(s.download_path), download);
    EXPECT_EQ(std::wstring(s.session_download_path), download);
    EXPECT_EQ(std::wstring(s.backup_path), backup);
    EXPECT_EQ(std::wstring(s.language), L"Italiano");
    EXPECT_EQ(std::wstring(s.install_date), L"2012-03-04");
    EXPECT_TRUE(folder_exists(download));  // with its missing parents
    EXPECT_TRUE(folder_exists(backup));
    // Loading does not apply autorun: only saving does.
    EXPECT_FALSE(read_reg_value(scratch.root(), RUN, L"Quillmark"));
}

TEST_F(SettingsStore, MistypedValuesLeaveTheDefaults) {
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"2012-03-04");
    write_reg_text(scratch.root(), VANTOREL, L"autorun", L"1");  // 4 bytes, but a string
    const BYTE one[4] = {1, 0, 0, 0};
    write_reg_raw(scratch.root(), VANTOREL, L"scan_offline", REG_BINARY, one, sizeof(one));
    write_reg_raw(scratch.root(), VANTOREL, L"close_to_tray", REG_DWORD, one, 2);  // short
    const ULONGLONG big = 1;
    write_reg_raw(scratch.root(), VANTOREL, L"scheduled_scan", REG_QWORD, &big, sizeof(big));
    write_reg_dword(scratch.root(), VANTOREL, L"language", 2);
    const wchar_t multi[] = L"C:\\one\0C:\\two\0";
    write_reg_raw(scratch.root(), VANTOREL, L"backup_path", REG_MULTI_SZ, multi, sizeof(multi));
    const wchar_t binary_text[] = L"C:\\binary";
    write_reg_raw(scratch.root(), VANTOREL, L"download_path", REG_BINARY, binary_text,
                  sizeof(binary_text));

    ASSERT_TRUE(load_settings());

    const app_settings& s = current_settings;
    EXPECT_EQ(s.autorun, 0u);
    EXPECT_EQ(s.scan_offline, 0u);
    EXPECT_EQ(s.close_to_tray, 1u);
    EXPECT_EQ(s.scheduled_scan, 0u);
    EXPECT_EQ(std::wstring(s.language), L"English");
    EXPECT_EQ(std::wstring(s.backup_path), scratch.folder() + L"backup");
    EXPECT_EQ(std::wstring(s.download_path), scratch.folder() + L"download");
    EXPECT_EQ(std::wstring(s.session_download_path), scratch.folder() + L"download");
}

TEST_F(SettingsStore, ExpandableStringsAreTakenLiterally) {
    _wputenv_s(L"QM_SETTINGS_TEST_VAR", L"expanded");
    SetEnvironmentVariableW(L"QM_SETTINGS_TEST_VAR", L"expanded");
    const std::wstring literal = scratch.folder() + L"%QM_SETTINGS_TEST_VAR%";
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"2012-03-04");
    write_reg_text(scratch.root(), VANTOREL, L"download_path", literal, REG_EXPAND_SZ);

    ASSERT_TRUE(load_settings());

    EXPECT_EQ(std::wstring(current_settings.download_path), literal);
    EXPECT_EQ(std::wstring(current_settings.session_download_path), literal);
    EXPECT_TRUE(folder_exists(literal));
    EXPECT_FALSE(folder_exists(scratch.folder() + L"expanded"));
}

TEST_F(SettingsStore, StringsThatDoNotFitTheirFieldAreIgnored) {
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"2012-03-04");
    write_reg_text(scratch.root(), VANTOREL, L"language", std::wstring(31, L'L'));
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), std::wstring(31, L'L'));

    close_settings_key();
    write_reg_text(scratch.root(), VANTOREL, L"language", std::wstring(32, L'L'));
    write_reg_text(scratch.root(), VANTOREL, L"download_path", L"C:\\" + std::wstring(257, L'd'));
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), L"English");
    EXPECT_EQ(std::wstring(current_settings.download_path), scratch.folder() + L"download");

    // An install date too long for its field counts as missing: stamped anew.
    close_settings_key();
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"2012-03-04 10:11:12");
    load_expecting_today();
    EXPECT_EQ(stored_text(L"install_date"), std::wstring(current_settings.install_date));
}

TEST_F(SettingsStore, StringDataWithoutTerminatorIsIgnored) {
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"2012-03-04");
    // The character after the stored bytes is not a NUL, so the registry keeps
    // the data exactly as given: "Deutsch" without its terminator.
    const wchar_t unterminated[] = L"DeutschX";
    write_reg_raw(scratch.root(), VANTOREL, L"language", REG_SZ, unterminated, 7 * sizeof(wchar_t));
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), L"English");

    // Exactly the field's capacity without a terminator.
    close_settings_key();
    std::wstring full(33, L'F');
    write_reg_raw(scratch.root(), VANTOREL, L"language", REG_SZ, full.c_str(), 32 * sizeof(wchar_t));
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), L"English");

    // Data after the terminator is not part of the text; an odd trailing byte
    // does not matter either.
    close_settings_key();
    const wchar_t with_tail[] = L"Deutsch\0tail";
    write_reg_raw(scratch.root(), VANTOREL, L"language", REG_SZ, with_tail, sizeof(with_tail));
    std::wstring backup = scratch.folder() + L"bk";
    std::wstring odd = backup + L'\0' + L'\xFFFF';
    write_reg_raw(scratch.root(), VANTOREL, L"backup_path", REG_SZ, odd.c_str(),
                  static_cast<DWORD>((backup.size() + 1) * sizeof(wchar_t) + 1));
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.language), L"Deutsch");
    EXPECT_EQ(std::wstring(current_settings.backup_path), backup);
}

TEST_F(SettingsStore, AutostartEntryHoldsTheQuotedProgramPath) {
    tasks.run_levels = false;  // Windows XP: the Run entry starts the program
    copy_text(module_path, L"C:\\Program Files\\Quillmark\\quillmark.exe");
    const std::wstring quoted = L"\"C:\\Program Files\\Quillmark\\quillmark.exe\"";

    ASSERT_TRUE(set_autostart(true));
    auto v = read_reg_value(scratch.root(), RUN, L"Quillmark");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v->text(), quoted);
    EXPECT_EQ(v->data.size(), (quoted.size() + 1) * sizeof(wchar_t));

    ASSERT_TRUE(set_autostart(false));
    EXPECT_FALSE(read_reg_value(scratch.root(), RUN, L"Quillmark"));
    EXPECT_TRUE(set_autostart(false));  // nothing to delete is fine

    set_settings_root(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7FFF0)));
    EXPECT_FALSE(set_autostart(true));
    set_settings_root(scratch.root());
}

TEST_F(SettingsStore, SaveWritesTheConfiguredValuesAndAppliesAutostart) {
    tasks.run_levels = false;  // Windows XP: the Run entry starts the program
    copy_text(module_path, L"C:\\Q\\quillmark.exe");
    write_reg_text(scratch.root(), VANTOREL, L"install_date", L"2012-03-04");
    ASSERT_TRUE(load_settings());

    app_settings& s = current_settings;
    s.autorun = 1;
    s.scan_offline = 1;
    s.close_to_tray = 2;
    s.scheduled_scan = 1;
    const std::wstring new_download = scratch.folder() + L"new downloads";
    const std::wstring new_backup = scratch.folder() + L"backups";
    copy_text(s.download_path, new_download);  // the session folder stays
    copy_text(s.backup_path, new_backup);
    copy_text(s.language, L"Nederlands");
    EXPECT_TRUE(save_settings());

    EXPECT_EQ(stored_text(L"download_path"), new_download);
    EXPECT_EQ(std::wstring(s.session_download_path), scratch.folder() + L"download");
    EXPECT_EQ(stored_text(L"backup_path"), new_backup);
    EXPECT_EQ(stored_text(L"language"), L"Nederlands");
    EXPECT_EQ(stored_text(L"install_date"), L"2012-03-04");
    for (const wchar_t* name : {L"autorun", L"scan_offline", L"scheduled_scan"}) {
        auto v = read_reg_value(scratch.root(), VANTOREL, name);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->dword(), 1u) << name;
    }
    EXPECT_EQ(read_reg_value(scratch.root(), VANTOREL, L"close_to_tray")->dword(), 2u);
    auto run = read_reg_value(scratch.root(), RUN, L"Quillmark");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->text(), L"\"C:\\Q\\quillmark.exe\"");

    s.autorun = 0;
    save_settings();
    EXPECT_FALSE(read_reg_value(scratch.root(), RUN, L"Quillmark"));

    // The next start takes the saved download folder for its session.
    ASSERT_TRUE(load_settings());
    EXPECT_EQ(std::wstring(current_settings.session_download_path), new_download);
}

TEST_F(SettingsStore, LoadFailsWhenTheKeyCannotBeOpened) {
    set_settings_root(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7FFF0)));
    EXPECT_FALSE(load_settings());
    EXPECT_EQ(settings_key, nullptr);
    // The defaults are in place all the same.
    EXPECT_EQ(std::wstring(current_settings.language), L"English");
    set_settings_root(scratch.root());
}

// For failure messages of paths and dates (ASCII).
std::string wide_text(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST_F(SettingsStore, AutostartOnVistaAndLaterIsTheUsersLogOnTaskInPlaceOfTheRunEntry) {
    copy_text(module_path, L"C:\\Program Files\\Quillmark\\quillmark.exe");
    std::wstring account;
    ASSERT_TRUE(current_account(account));
    const std::wstring name = per_user_task_name(AUTOSTART_ITEM, account);
    // Left by an earlier version: the Run entry, and the log-on item, which
    // was one for the whole computer.
    write_reg_text(scratch.root(), RUN, L"Quillmark", L"\"C:\\old\\quillmark.exe\"");
    tasks.registered[AUTOSTART_ITEM].seen = {L"C:\\old\\quillmark.exe", L"", account};
    tasks.registered[L"Quillmark (OTHER+bob)"].xml = L"<Task />";  // another user's

    ASSERT_TRUE(set_autostart(true));
    EXPECT_FALSE(read_reg_value(scratch.root(), RUN, L"Quillmark"));
    std::vector<std::wstring> expected = {L"delete_task " + std::wstring(AUTOSTART_ITEM),
                                          L"delete_task " + name, L"register " + name};
    EXPECT_EQ(tasks.calls, expected);
    EXPECT_FALSE(tasks.registered.count(AUTOSTART_ITEM));
    ASSERT_TRUE(tasks.registered.count(name));
    EXPECT_TRUE(tasks.registered.count(L"Quillmark (OTHER+bob)"));
    const std::wstring xml = tasks.registered[name].xml;
    EXPECT_EQ(tasks.registered[name].user, account);
    EXPECT_EQ(task_value(xml, "Triggers/LogonTrigger/UserId"), wide_text(account));
    EXPECT_EQ(task_value(xml, "Principals/Principal/RunLevel"), "HighestAvailable");
    EXPECT_EQ(task_value(xml, "Actions/Exec/Command"), "C:\\Program Files\\Quillmark\\quillmark.exe");
    EXPECT_EQ(task_value(xml, "Actions/Exec/Arguments"), "<absent>");

    // Enabled again after the program moved: the task follows it.
    copy_text(module_path, L"D:\\Tools\\quillmark.exe");
    tasks.calls.clear();
    ASSERT_TRUE(set_autostart(true));
    EXPECT_EQ(tasks.calls, (std::vector<std::wstring>{L"delete_task " + name, L"register " + name}));
    EXPECT_EQ(task_value(tasks.registered[name].xml, "Actions/Exec/Command"), "D:\\Tools\\quillmark.exe");

    // Off: gone; the other user's task and the weekly scan's stay.
    tasks.registered[L"Quillmark"].xml = L"<Task />";
    ASSERT_TRUE(set_autostart(false));
    EXPECT_FALSE(tasks.registered.count(name));
    EXPECT_EQ(tasks.registered.size(), 2u);

}

TEST_F(SettingsStore, AutostartTaskIsLeftOutBeforeVistaAndItsFailuresAreReported) {
    copy_text(module_path, L"C:\\Q\\quillmark.exe");

    // Windows XP: the Run entry alone, no scheduler call.
    tasks.run_levels = false;
    ASSERT_TRUE(set_autostart(true));
    EXPECT_TRUE(read_reg_value(scratch.root(), RUN, L"Quillmark"));
    ASSERT_TRUE(set_autostart(false));
    EXPECT_TRUE(tasks.calls.empty());

    // A task that cannot be made, or an old one that cannot be removed, is a
    // failure: Windows would not start the program. The Run entry goes.
    tasks.run_levels = true;
    write_reg_text(scratch.root(), RUN, L"Quillmark", L"\"C:\\Q\\quillmark.exe\"");
    tasks.fail_register = true;
    EXPECT_FALSE(set_autostart(true));
    EXPECT_FALSE(read_reg_value(scratch.root(), RUN, L"Quillmark"));
    tasks.fail_register = false;
    ASSERT_TRUE(set_autostart(true));
    tasks.fail_delete = true;
    EXPECT_FALSE(set_autostart(false));
    EXPECT_EQ(tasks.registered.size(), 1u);

    // A Run key that cannot be opened changes nothing, the task neither.
    tasks.fail_delete = false;
    tasks.calls.clear();
    set_settings_root(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7FFF0)));
    EXPECT_FALSE(set_autostart(false));
    set_settings_root(scratch.root());
    EXPECT_TRUE(tasks.calls.empty());
    EXPECT_EQ(tasks.registered.size(), 1u);
}

// The same through the machine's Task Scheduler 2.0 (Wine keeps the tasks'
// description and settings as XML in system32\Tasks).
class SettingsStoreOnTheMachine : public SettingsStore {
protected:
    std::wstring name;

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        set_task_scheduler(nullptr);
        std::wstring account;
        ASSERT_TRUE(current_account(account));
        name = per_user_task_name(AUTOSTART_ITEM, account);
        scheduler().delete_task(name);
    }
    void TearDown() override {
        scheduler().delete_task(name);
        CoUninitialize();
    }
};

TEST_F(SettingsStoreOnTheMachine, AutostartTaskIsRegisteredAndRemoved) {
    ASSERT_TRUE(scheduler().has_run_levels());  // Wine reports Windows 7
    copy_text(module_path, L"C:\\Program Files\\Quillmark\\quillmark.exe");

    ASSERT_TRUE(set_autostart(true));
    std::wstring stored = read_task_file(name);
    EXPECT_EQ(task_value(stored, "RegistrationInfo/Description"), "Starts Quillmark when you log on.");
    EXPECT_EQ(task_value(stored, "Settings/Enabled"), "true");
    // Enabled again from elsewhere: one task, made anew.
    copy_text(module_path, L"D:\\Tools\\quillmark.exe");
    ASSERT_TRUE(set_autostart(true));
    EXPECT_NE(read_task_file(name), L"");

    ASSERT_TRUE(set_autostart(false));
    EXPECT_EQ(read_task_file(name), L"");
    EXPECT_FALSE(read_reg_value(scratch.root(), RUN, L"Quillmark"));
}

}  // namespace
