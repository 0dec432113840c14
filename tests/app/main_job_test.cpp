// The main job from outside, with two real processes: quillmark.exe scans the
// example PC against the reference update service, a real pointer checks
// "Select all", clicks "Download all" and Yes, and every package lands in the
// download folder with the service's exact bytes. Needs a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_test_support.h"
#include "common/reference_service.h"
#include "downloads/md5.h"
#include "install/install.h"
#include "platform/text.h"
#include "ui/main_window.h"
#include "ui/real_pointer.h"

namespace {

struct text_search {
    const wchar_t* text;
    HWND found;
};

BOOL CALLBACK find_text(HWND window, LPARAM argument) {
    auto* search = reinterpret_cast<text_search*>(argument);
    wchar_t text[128] = {};
    GetWindowTextW(window, text, 128);
    if (IsWindowVisible(window) && lstrcmpW(text, search->text) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible child of `parent` (at any depth) showing `text`, or null.
HWND child_with_text(HWND parent, const wchar_t* text) {
    text_search search{text, nullptr};
    EnumChildWindows(parent, find_text, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The program's question box: a visible top-level window of its process
// other than the main window.
HWND question_box(DWORD process, HWND main) {
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == process && w != main && IsWindowVisible(w) && GetDlgItem(w, 1)) return w;
    }
    return nullptr;
}

class MainJob : public ::testing::Test {
protected:
    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        ASSERT_TRUE(program_ready_to_start());
        remove_folder_tree(downloads);
        write_reg_dword(HKEY_CURRENT_USER, L"SOFTWARE\\Vantorel", L"close_to_tray", 0);
    }
    void TearDown() override {
        process.kill();
        process.wait(EXIT_TIMEOUT_MS);
        remove_folder_tree(downloads);
        SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", nullptr);
    }

    const std::wstring downloads = program_folder + L"\\download";
    clean_program_settings settings_guard;
    reference_service* service = nullptr;
    child_process process;
    pointer_lock pointer;
};

TEST_F(MainJob, DownloadAllBringsEveryPackageWithItsExactBytes) {
    const std::string mirror = service->mirror_url(1);
    SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", utf8_to_wide(mirror + ";" + mirror + ";" + mirror).c_str());
    // The example PC for this program only; the other tests' profile after.
    wchar_t saved_profile[MAX_PATH] = {};
    GetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", saved_profile, MAX_PATH);
    SetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", QM_SOURCE_DIR_W L"\\profiles\\example-pc.xml");
    const bool started = process.start(program, L"--autoscan", program_folder);
    SetEnvironmentVariableW(L"QUILLMARK_MACHINE_PROFILE", saved_profile);
    ASSERT_TRUE(started);
    HWND window = wait_for_window(process).main;
    ASSERT_NE(window, nullptr);
    for (DWORD waited = 0; waited < START_TIMEOUT_MS && main_state_of(window) != 3; waited += 100)
        Sleep(100);
    ASSERT_EQ(main_state_of(window), 3) << "the scan did not reach its results";
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);

    HWND select_all = nullptr, download_all = nullptr;
    for (DWORD waited = 0; waited < START_TIMEOUT_MS && !(select_all && download_all); waited += 100) {
        select_all = child_with_text(window, L"Select all");
        download_all = child_with_text(window, L"Download all");
        Sleep(100);
    }
    ASSERT_TRUE(select_all && download_all);
    ASSERT_TRUE(drive_pointer(pointer_click(screen_centre(select_all)),
                              [&] { return SendMessageW(select_all, BM_GETCHECK, 0, 0) == BST_CHECKED; },
                              "Select all"));
    HWND box = nullptr;
    ASSERT_TRUE(drive_pointer(pointer_click(screen_centre(download_all)),
                              [&] { return (box = question_box(process.id(), window)) != nullptr; },
                              "Download all"));
    ASSERT_TRUE(drive_pointer(pointer_click(screen_centre(GetDlgItem(box, 1))),
                              [&] { return !IsWindow(box) || !IsWindowVisible(box); }, "Yes"));

    // Every package on offer arrives whole: its file is named by the digest
    // of the link's last segment. The folder is read until it stops growing.
    const std::wstring packages = reference_service::sample_packages();
    std::vector<std::wstring> arrived;
    DWORD stable_since = GetTickCount();
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(200)) {
        std::vector<std::wstring> now = list_folder(join_path(downloads, L"*.zip"));
        if (now.size() != arrived.size()) {
            arrived = now;
            stable_since = GetTickCount();
        } else if (!arrived.empty() && GetTickCount() - stable_since > 3000) {
            break;
        }
    }
    ASSERT_GE(arrived.size(), 6u);
    for (const std::wstring& file : arrived) {
        SCOPED_TRACE(wide_to_utf8(file));
        bool matched = false;
        for (const std::wstring& name : list_folder(join_path(packages, L"*.zip"))) {
            const std::string segment = wide_to_utf8(name);
            if (utf8_to_wide(md5_hex(segment.data(), segment.size())) + L".zip" != file) continue;
            EXPECT_EQ(read_file_bytes(join_path(downloads, file)), read_file_bytes(join_path(packages, name)));
            matched = true;
        }
        EXPECT_TRUE(matched) << "a download no package of the service stands for";
    }
}

}  // namespace
