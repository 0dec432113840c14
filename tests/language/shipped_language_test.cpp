// The language.ini that ships beside quillmark.exe: eleven sections named as
// the installer's languages, each with every key the windows look up, and
// every text that a window uses as a printf-style format carrying exactly the
// conversions that window passes (a wrong %s or %d crashes the formatting).
#include <gtest/gtest.h>

#include <cwchar>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/language.h"
#include "app/settings.h"
#include "platform/text.h"

namespace {

const std::wstring shipped_file = QM_PROGRAM_DIR_W L"\\language.ini";

// The 131 keys the windows look up.
const char* const all_keys[] = {
    "about_btn_bk", "about_btn_check", "about_copyright", "about_info1", "about_information",
    "about_name", "backup_available_drivers", "backup_completed", "backup_date", "backup_failed",
    "backup_inbox_drivers", "backup_info", "backup_no_driver", "backup_settings", "btn_backup",
    "btn_cancel", "btn_no", "btn_ok", "btn_open_folder", "btn_restore", "btn_retry", "btn_yes", "config_backup_path",
    "config_close_option", "config_close_to_system_tray", "config_download_path",
    "config_enable_scheduled_automatic_scan", "config_language", "config_language_change_notice",
    "config_scan_non_present_devices", "config_scan_option", "config_scheduled_task",
    "config_start_when_windows_startup", "config_startup_option", "device_detail_current_driver",
    "device_detail_description", "device_detail_driver_information",
    "device_detail_list_class_desc", "device_detail_list_class_name",
    "device_detail_list_compatible_ids", "device_detail_list_device_desc",
    "device_detail_list_device_id", "device_detail_list_enumerator",
    "device_detail_list_hardware_ids", "device_detail_list_inf_date", "device_detail_list_inf_name",
    "device_detail_list_inf_version", "device_detail_list_manufacturer",
    "device_detail_list_matching_device_id", "device_detail_list_rank_of_installed_driver",
    "device_detail_new_driver", "download_all_button", "download_all_check", "download_all_warning",
    "download_btn_download", "download_btn_fix", "download_btn_pause", "download_btn_resume",
    "download_btn_setup", "download_cbb_best", "download_cbb_latest", "download_certificate_error", "download_date1",
    "download_date2", "download_date3", "download_download_complete", "download_download_error",
    "download_download_paused", "download_downloading", "download_folder_too_long", "download_queued", "download_new_drivers_found1",
    "download_new_drivers_found2", "download_new_drivers_found3", "download_not_download",
    "download_setup_require", "download_setup_warning", "download_started_signed", "download_warning", "error_internal_error",
    "error_invalid_date", "error_network_error", "error_network_timeout", "home_backup_msg",
    "home_download", "home_download_msg", "home_install", "home_restore_msg",
    "home_scan_for_driver_updates", "home_scan_for_drivers", "home_start_scan",
    "home_tarnwick_automatically", "install_not_program", "install_unpack_failed", "install_unsigned",
    "install_state_running", "install_state_installed", "install_state_restart", "install_state_no_device",
    "install_state_failed_log", "install_state_failed", "install_state_unknown", "install_state_folder",
    "quit_confirm_install",
    "menu_about", "menu_exit", "menu_help", "menu_information",
    "menu_open_location", "menu_remove", "menu_settings", "new_driver_notify", "quit_confirm",
    "remove_confirm", "restore_no_backup", "restore_no_driver", "restore_settings", "scan_item",
    "scan_items_scanned", "scan_scanning", "scan_scanning_your_computer", "scan_start_time",
    "scan_status", "scan_status1", "scan_status2", "scan_time_elapsed", "scan_waiting",
    "sidebar_cpu", "sidebar_display", "sidebar_memory", "sidebar_model", "sidebar_no_driver",
    "sidebar_os", "sidebar_out_of_date", "sidebar_score", "sidebar_see_faq", "sidebar_sound",
    "sidebar_storage", "sidebar_system_info", "sidebar_total", "sidebar_up_to_date",
    "sidebar_whql", "system_tray_warning", "top_backup", "top_download", "top_home",
    "top_restore", "top_settings",
};

// The texts the windows use as formats, with the conversions they pass: the
// program's own table, which the loader checks every text against.
const std::map<std::string, std::vector<std::string>> format_keys = [] {
    std::map<std::string, std::vector<std::string>> keys;
    for (const format_rule& rule : format_rules)
        for (const char* argument = rule.arguments; *argument; ++argument)
            keys[rule.key].push_back(std::string(1, *argument));
    return keys;
}();

// The scan page joins these with what follows them and nothing between, so
// they end in their own separator.
const char* const status_labels[] = {"scan_start_time", "scan_time_elapsed", "scan_status",
                                     "scan_items_scanned", "scan_item"};

// The conversions of a printf format, each as its length modifier and type
// ("d", "s", "ls", "I64d", ...); flags, width and precision are dropped. "%%"
// is no conversion. An unfinished "%" at the end gives "?".
std::vector<std::string> conversions(const std::wstring& format) {
    std::vector<std::string> found;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%') continue;
        ++i;
        if (i < format.size() && format[i] == L'%') continue;
        while (i < format.size() && wcschr(L"-+ #0", format[i])) ++i;
        while (i < format.size() && (iswdigit(format[i]) || format[i] == L'*' || format[i] == L'.' ||
                                     format[i] == L'$'))
            ++i;
        std::string spec;
        while (i < format.size() && wcschr(L"hlLIqjztw0123456789", format[i])) spec += char(format[i++]);
        if (i >= format.size()) {
            found.push_back("?");
            break;
        }
        spec += format[i] < 128 ? char(format[i]) : '?';
        found.push_back(spec);
    }
    return found;
}

std::string read_bytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ShippedLanguageFile : public ::testing::Test {
protected:
    void SetUp() override { reset_language_table(); }
    void TearDown() override { reset_language_table(); }

    // The table of one section alone.
    void load_section(const std::wstring& name) {
        reset_language_table();
        ASSERT_EQ(load_language_file(shipped_file.c_str(), name.c_str(), true), 0)
            << "cannot open " << wide_to_utf8(shipped_file);
    }
};

TEST_F(ShippedLanguageFile, IsPlainUtf8WithShortLines) {
    std::string bytes = read_bytes(shipped_file);
    ASSERT_FALSE(bytes.empty()) << "no language.ini in the program folder";
    EXPECT_NE(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0) << "a byte-order mark hides the first header";
    EXPECT_EQ(wide_to_utf8(utf8_to_wide(bytes)), bytes) << "not valid UTF-8";
    std::size_t line = 1, start = 0;
    for (std::size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', start)) {
        EXPECT_LT(at - start, 2047u) << "line " << line << " is read in pieces";
        start = at + 1;
        ++line;
    }
}

TEST_F(ShippedLanguageFile, HasTheElevenInstallerLanguagesInOrder) {
    load_section(L"English");
    std::vector<std::wstring> expected;
    for (DWORD number = 1; number <= 11; ++number) expected.push_back(installer_language_name(number));
    EXPECT_EQ(language_names, expected);
    EXPECT_EQ(current_language, 0);  // English first: an unknown setting follows English
}

TEST_F(ShippedLanguageFile, EverySectionHasEveryKeyAndNoOther) {
    const std::set<std::string> expected(std::begin(all_keys), std::end(all_keys));
    ASSERT_EQ(expected.size(), 148u);
    for (DWORD number = 1; number <= 11; ++number) {
        std::wstring name = installer_language_name(number);
        SCOPED_TRACE(wide_to_utf8(name));
        load_section(name);
        EXPECT_EQ(current_language, static_cast<int32_t>(number - 1));
        std::set<std::string> keys;
        for (const auto& [key, text] : language_table) {
            keys.insert(key);
            EXPECT_FALSE(text.empty()) << key;
        }
        // An extra key is a typing mistake, or a text that the entry
        // expression splits elsewhere (a blank before "=", a quotation mark
        // followed by "=" inside the text).
        for (const std::string& key : keys) EXPECT_TRUE(expected.count(key)) << "unknown key " << key;
        for (const std::string& key : expected) EXPECT_TRUE(keys.count(key)) << "missing key " << key;
    }
}

TEST_F(ShippedLanguageFile, FormatTextsHaveExactlyTheirCallersConversions) {
    for (DWORD number = 1; number <= 11; ++number) {
        std::wstring name = installer_language_name(number);
        SCOPED_TRACE(wide_to_utf8(name));
        load_section(name);
        for (const char* key : all_keys) {
            auto format = format_keys.find(key);
            std::vector<std::string> expected =
                format == format_keys.end() ? std::vector<std::string>{} : format->second;
            EXPECT_EQ(conversions(text_for(key)), expected) << key << ": " << wide_to_utf8(text_for(key));
            if (format == format_keys.end()) {
                EXPECT_EQ(text_for(key).find(L'%'), std::wstring::npos) << key << " is no format";
            }
        }
    }
}

TEST_F(ShippedLanguageFile, FormatTextsFormatTheirArguments) {
    for (DWORD number = 1; number <= 11; ++number) {
        std::wstring name = installer_language_name(number);
        SCOPED_TRACE(wide_to_utf8(name));
        load_section(name);
        wchar_t out[1024];

        format_text(out, 1024, text_for("about_info1").c_str(), L"", L"Apr 18 2013", L"11:32:22");
        std::wstring about = out;
        EXPECT_NE(about.find(L"Apr 18 2013"), std::wstring::npos) << wide_to_utf8(about);
        EXPECT_NE(about.find(L"11:32:22"), std::wstring::npos) << wide_to_utf8(about);

        for (const char* key : {"download_date1", "download_date2"}) {
            format_text(out, 128, text_for(key).c_str(), L"2012-06-21", L"2013-01-02");
            std::wstring line = out;
            EXPECT_LT(line.find(L"2012-06-21"), line.find(L"2013-01-02")) << key;
            EXPECT_NE(line.find(L"2013-01-02"), std::wstring::npos) << key;
        }
        format_text(out, 128, text_for("download_date3").c_str(), L"2012-06-21");
        EXPECT_NE(std::wstring(out).find(L"2012-06-21"), std::wstring::npos);

        format_text(out, 1024, text_for("error_network_error").c_str(), 500);
        EXPECT_NE(std::wstring(out).find(L"500"), std::wstring::npos);

        for (const char* key : {"sidebar_out_of_date", "sidebar_no_driver", "sidebar_up_to_date",
                                "sidebar_total", "download_folder_too_long"}) {
            format_text(out, 1024, text_for(key).c_str(), 1234);
            EXPECT_NE(std::wstring(out).find(L"1234"), std::wstring::npos) << key;
        }

        // The balloon's buffer holds 31 characters: the text must fit with a
        // three-digit count.
        std::size_t length = format_text(out, 1024, text_for("new_driver_notify").c_str(), 999);
        EXPECT_LE(length, 31u) << wide_to_utf8(out);
        EXPECT_NE(std::wstring(out).find(L"999"), std::wstring::npos);
    }
}

TEST_F(ShippedLanguageFile, StatusLabelsEndInTheirOwnSeparator) {
    for (DWORD number = 1; number <= 11; ++number) {
        std::wstring name = installer_language_name(number);
        SCOPED_TRACE(wide_to_utf8(name));
        load_section(name);
        for (const char* key : status_labels) {
            const std::wstring& text = text_for(key);
            ASSERT_FALSE(text.empty()) << key;
            wchar_t last = text.back();
            // A blank, or a full-width colon (which carries its own space).
            EXPECT_TRUE(last == L' ' || last == L'\uFF1A') << key << ": \"" << wide_to_utf8(text) << "\"";
        }
    }
}

TEST_F(ShippedLanguageFile, OtherLanguagesAreTranslations) {
    load_section(L"English");
    const language_map english = language_table;
    for (DWORD number = 2; number <= 11; ++number) {
        std::wstring name = installer_language_name(number);
        SCOPED_TRACE(wide_to_utf8(name));
        load_section(name);
        int same = 0;
        for (const auto& [key, text] : language_table) same += english.at(key) == text;
        // Product names, "OK", "CPU:" and the like may stay as they are.
        EXPECT_LE(same, 12);
    }
}

TEST_F(ShippedLanguageFile, AboutTextHasLineBreaks) {
    load_section(L"English");
    EXPECT_NE(text_for("about_info1").find(L'\n'), std::wstring::npos);
    EXPECT_EQ(text_for("about_info1").find(L"\\n"), std::wstring::npos);
}

TEST(FormatConversions, TheParserSeesWhatPrintfSees) {
    EXPECT_EQ(conversions(L"plain"), std::vector<std::string>{});
    EXPECT_EQ(conversions(L"100%% done"), std::vector<std::string>{});
    EXPECT_EQ(conversions(L"%s and %d"), (std::vector<std::string>{"s", "d"}));
    EXPECT_EQ(conversions(L"%-5.2ls|%08X|%I64d"), (std::vector<std::string>{"ls", "X", "I64d"}));
    EXPECT_EQ(conversions(L"50%"), std::vector<std::string>{"?"});
}

}  // namespace
