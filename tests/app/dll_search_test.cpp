// Windows looks for a DLL named without a path in the program's folder
// first (Wine prefers its own unless told otherwise, as here).
// msimg32.dll, with which the window draws its images, is delay-loaded by
// the 64-bit program: one planted beside a copy of it must not be loaded.
#include <gtest/gtest.h>

#include "app_test_support.h"
#include "common/run_program.h"
#include "common/scratch_folder.h"
#include "resources/resource.h"

TEST(DllSearch, PlantedMsimg32BesideTheProgramIsNotLoaded) {
#ifndef _WIN64
    GTEST_SKIP() << "the 32-bit program imports msimg32.dll when it starts, before its own code "
                    "runs: the setup protects its folder instead";
#else
    ASSERT_TRUE(program_ready_to_start());
    clean_program_settings settings;
    scratch_folder scratch;
    const std::wstring marker = scratch / L"loaded.txt";
    for (const wchar_t* name : {L"quillmark.exe", L"language.ini"})
        ASSERT_TRUE(CopyFileW((program_folder + L"\\" + name).c_str(), (scratch / name).c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(planted_dll(true).c_str(), (scratch / L"msimg32.dll").c_str(), FALSE));
    SetEnvironmentVariableW(L"QM_PLANTED_MARKER", marker.c_str());
    windows_dll_order windows_order(L"quillmark.exe", L"msimg32");
    child_process copy;
    ASSERT_TRUE(copy.start(scratch / L"quillmark.exe", L"", scratch.path()));
    const window_search found = wait_for_window(copy);
    // The first frame draws the images within a few seconds, or the planted
    // DLL has been loaded and the program has failed.
    auto loaded = [&] { return GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES; };
    for (int i = 0; i < 30 && found.main && !loaded(); ++i) {
        main_state_of(found.main);
        Sleep(100);
    }
    EXPECT_NE(found.main, nullptr);
    EXPECT_FALSE(copy.wait(0)) << "the program ended by itself";
    EXPECT_FALSE(loaded()) << "the msimg32.dll planted beside it was loaded";
    if (found.main) PostMessageW(found.main, WM_COMMAND, ID_MENU_EXIT, 0);
    copy.wait(EXIT_TIMEOUT_MS);
#endif
}
