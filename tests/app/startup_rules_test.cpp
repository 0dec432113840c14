// The decisions of start-up that need no running program: the hand-over
// argument rule, the start-up scan argument, and the Windows version classes.
#include <gtest/gtest.h>

#include <vector>

#include "app/single_instance.h"
#include "devices/system_info.h"

namespace {

TEST(HandOver, OnlyASingleAutorunArgumentAsksForAScan) {
    struct arg_case {
        std::vector<const wchar_t*> argv;
        WPARAM wparam;
    } cases[] = {
        {{L"quillmark.exe", L"--autorun"}, 1},
        {{L"quillmark.exe", L"--AutoRun"}, 1},
        {{L"quillmark.exe"}, 0},
        {{L"quillmark.exe", L"--autoscan"}, 0},
        {{L"quillmark.exe", L"--autorun", L"--autorun"}, 0},
        {{L"quillmark.exe", L"x", L"--autorun"}, 0},
        {{L"quillmark.exe", L"-autorun"}, 0},
        {{L"quillmark.exe", L"--autorun2"}, 0},
        {{L"quillmark.exe", L""}, 0},
    };
    int index = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(handover_wparam(static_cast<int>(c.argv.size()), c.argv.data()), c.wparam)
            << "case " << index;
        ++index;
    }
    EXPECT_EQ(handover_wparam(0, nullptr), 0u);
}

TEST(HandOver, OnlyASingleAutoscanArgumentStartsWithAScan) {
    const wchar_t* one[] = {L"quillmark.exe", L"--AUTOSCAN"};
    const wchar_t* two[] = {L"quillmark.exe", L"--autoscan", L"--autoscan"};
    const wchar_t* other[] = {L"quillmark.exe", L"--autorun"};
    const wchar_t* none[] = {L"quillmark.exe"};
    EXPECT_TRUE(is_autoscan_request(2, one));
    EXPECT_FALSE(is_autoscan_request(3, two));
    EXPECT_FALSE(is_autoscan_request(2, other));
    EXPECT_FALSE(is_autoscan_request(1, none));
    // The test program itself is started without arguments.
    EXPECT_FALSE(command_line_requests_autoscan());
}

TEST(OsKind, ClassifiesTheVersionsTheServiceKnows) {
    struct version_case {
        DWORD platform, major, minor;
        BYTE product;
        int server_r2;
        int32_t kind;
    } cases[] = {
        {VER_PLATFORM_WIN32_NT, 6, 1, VER_NT_WORKSTATION, 0, 8},  // Windows 7
        {VER_PLATFORM_WIN32_NT, 6, 1, VER_NT_SERVER, 0, 7},       // Server 2008 R2
        {VER_PLATFORM_WIN32_NT, 6, 0, VER_NT_WORKSTATION, 0, 5},  // Vista
        {VER_PLATFORM_WIN32_NT, 6, 0, VER_NT_DOMAIN_CONTROLLER, 0, 6},
        {VER_PLATFORM_WIN32_NT, 6, 2, VER_NT_SERVER, 0, 9},
        {VER_PLATFORM_WIN32_NT, 6, 3, VER_NT_WORKSTATION, 0, 2},
        {VER_PLATFORM_WIN32_NT, 10, 0, VER_NT_WORKSTATION, 0, 2},
        {VER_PLATFORM_WIN32_NT, 5, 2, VER_NT_SERVER, 1, 4},  // Server 2003 R2
        {VER_PLATFORM_WIN32_NT, 5, 2, VER_NT_SERVER, 0, 3},
        {VER_PLATFORM_WIN32_NT, 5, 1, VER_NT_WORKSTATION, 1, 2},
        {VER_PLATFORM_WIN32_NT, 5, 0, VER_NT_WORKSTATION, 0, 0},  // Windows 2000
        {VER_PLATFORM_WIN32_NT, 4, 0, VER_NT_WORKSTATION, 0, 0},
        {VER_PLATFORM_WIN32_WINDOWS, 6, 1, VER_NT_WORKSTATION, 0, 0},
        {VER_PLATFORM_WIN32s, 6, 1, VER_NT_WORKSTATION, 0, 0},
    };
    for (const auto& c : cases) {
        OSVERSIONINFOEXW v{};
        v.dwPlatformId = c.platform;
        v.dwMajorVersion = c.major;
        v.dwMinorVersion = c.minor;
        v.wProductType = c.product;
        EXPECT_EQ(derive_os_kind(v, c.server_r2), c.kind)
            << c.platform << " " << c.major << "." << c.minor << " product " << int(c.product);
    }
}

}  // namespace
