// quillmark.exe and its language file, as a user starts it: every language
// set in the registry starts the program in that language, and a missing
// language.ini shows the start-up failure box with code 4. Needs a display
// (scripts/test.sh has one).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/language.h"
#include "app/settings.h"
#include "app_test_support.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/main_window.h"

namespace {

constexpr DWORD FAILED_START = 0xFFFFFFFF;  // exit code -1
const wchar_t* const SETTINGS_KEY = L"SOFTWARE\\Vantorel";

BOOL CALLBACK collect_static_texts(HWND child, LPARAM param) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Static") == 0) {
        wchar_t text[512] = {};
        GetWindowTextW(child, text, 512);
        if (text[0]) reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(text);
    }
    return TRUE;
}

class LanguageOfTheProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program_ready_to_start());
    }
};

TEST_F(LanguageOfTheProgram, MissingLanguageFileShowsTheFailureBoxWithCodeFour) {
    clean_program_settings settings_guard;
    // quillmark.exe alone in a folder of its own: no language.ini beside it.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"qm-no-language-" + std::to_wstring(GetCurrentProcessId());
    remove_folder_tree(folder);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring copy = folder + L"\\quillmark.exe";
    ASSERT_TRUE(CopyFileW(program.c_str(), copy.c_str(), FALSE));
    ASSERT_EQ(GetFileAttributesW((folder + L"\\language.ini").c_str()), INVALID_FILE_ATTRIBUTES);

    {
        child_process started;
        ASSERT_TRUE(started.start(copy, L"", folder)) << "cannot start the copy of quillmark.exe";
        window_search found = wait_for_window(started);
        EXPECT_EQ(found.main, nullptr) << "the main window appeared";
        ASSERT_NE(found.message_box, nullptr) << "no message box titled Quillmark appeared";

        std::vector<std::wstring> texts;
        EnumChildWindows(found.message_box, collect_static_texts, reinterpret_cast<LPARAM>(&texts));
        EXPECT_EQ(texts, std::vector<std::wstring>{L"Application initialization failed, error code: 4."});

        // Confirm the box as a user would; the process then ends with -1.
        HWND ok = GetDlgItem(found.message_box, IDOK);
        EXPECT_NE(ok, nullptr);
        PostMessageW(found.message_box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(ok));
        std::optional<DWORD> code = started.wait(EXIT_TIMEOUT_MS);
        ASSERT_TRUE(code) << "quillmark.exe did not end after its failure box was closed";
        EXPECT_EQ(*code, FAILED_START);
    }  // a process still running is ended here
    remove_folder_tree(folder);
}

// Starts quillmark.exe with `language` in the registry and returns the main
// window's answer about its language: low word the current language's index
// in language.ini, high word the number of sections. Nullopt (with the
// failure reported) when the program did not start properly.
std::optional<DWORD> language_of_program_started_with(const std::wstring& language) {
    write_reg_text(HKEY_CURRENT_USER, SETTINGS_KEY, L"language", language);
    child_process started;
    if (!started.start(program, L"", program_folder, SW_SHOWNOACTIVATE)) {
        ADD_FAILURE() << "cannot start quillmark.exe";
        return std::nullopt;
    }
    window_search found = wait_for_window(started);
    if (!found.main) {
        ADD_FAILURE() << (found.message_box ? "quillmark.exe showed a message box"
                                            : "quillmark.exe showed no main window");
        return std::nullopt;
    }
    DWORD_PTR reply = 0;
    if (!SendMessageTimeoutW(found.main, language_state_message(), 0, 0, SMTO_ABORTIFHUNG, 10000,
                             &reply)) {
        ADD_FAILURE() << "the main window did not answer";
        return std::nullopt;
    }
    PostMessageW(found.main, WM_COMMAND, ID_MENU_EXIT, 0);  // closing only hides it
    std::optional<DWORD> code = started.wait(EXIT_TIMEOUT_MS);
    if (!code) ADD_FAILURE() << "quillmark.exe did not end after Exit";
    else EXPECT_EQ(*code, 0u);
    // The setting is still the one the program was started with.
    auto stored = read_reg_value(HKEY_CURRENT_USER, SETTINGS_KEY, L"language");
    EXPECT_TRUE(stored && stored->text() == language);
    return static_cast<DWORD>(reply);
}

TEST_F(LanguageOfTheProgram, StartsInEveryLanguageSetInTheRegistry) {
    clean_program_settings settings_guard;
    // Not a first run: the key exists, so the installer's choice is not read
    // and the language value stays as written.
    for (DWORD number = 1; number <= 11; ++number) {
        std::wstring name = installer_language_name(number);
        SCOPED_TRACE(wide_to_utf8(name));
        std::optional<DWORD> state = language_of_program_started_with(name);
        ASSERT_TRUE(state);
        EXPECT_EQ(HIWORD(*state), 11u) << "sections in language.ini";
        EXPECT_EQ(LOWORD(*state), number - 1) << "current language index";
    }
}

TEST_F(LanguageOfTheProgram, LanguageNameIsMatchedIgnoringCaseAndUnknownOnesStartInEnglish) {
    clean_program_settings settings_guard;
    std::optional<DWORD> state = language_of_program_started_with(L"deutsch");
    ASSERT_TRUE(state);
    EXPECT_EQ(LOWORD(*state), 1u);
    state = language_of_program_started_with(L"Klingon");
    ASSERT_TRUE(state);
    EXPECT_EQ(LOWORD(*state), 0u);  // the first section, English
    EXPECT_EQ(HIWORD(*state), 11u);
}

}  // namespace
