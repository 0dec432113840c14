// Web pages: only web addresses, handed to the desktop's shell first and to
// ShellExecuteW only when the desktop cannot take them.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/shell.h"

namespace {

TEST(WebAddress, OnlyHttpAndHttpsAddressesWithAHostAndNothingToSplitThemAreWebPages) {
    for (const wchar_t* web : {L"http://example.com/", L"HTTPS://Example.com/faq.php?lang=de#top"})
        EXPECT_TRUE(is_web_address(web)) << testing::PrintToString(std::wstring(web));
    for (const wchar_t* other :
         {L"", L"http://", L"https:///etc", L"http:example.com", L"ftp://example.com/",
          L"file:///C:/Windows/System32/calc.exe", L"C:\\Windows\\System32\\calc.exe",
          L"\\\\server\\share\\setup.exe", L" http://example.com/", L"http://example.com/ --new-window",
          L"http://example.com/\"--disable-web-security", L"http://example.com/\r\nx"})
        EXPECT_FALSE(is_web_address(other)) << testing::PrintToString(std::wstring(other));
    EXPECT_FALSE(is_web_address(nullptr));
}

std::vector<std::wstring> asked;  // what the doubles below were asked, in order
bool desktop_takes = false;
bool desktop(const wchar_t* address) {
    asked.push_back(std::wstring(L"desktop ") + address);
    return desktop_takes;
}
intptr_t shell_execute(const wchar_t* address) {
    asked.push_back(std::wstring(L"execute ") + address);
    return 42;
}

TEST(WebPage, GoesToTheDesktopFirstAndToShellExecuteOnlyWhenTheDesktopFails) {
    const std::wstring page = L"https://example.com/help/";
    for (bool takes : {true, false}) {
        asked.clear();
        desktop_takes = takes;
        EXPECT_EQ(open_web_page_by(page.c_str(), desktop, shell_execute), takes ? 33 : 42);
        std::vector<std::wstring> expected{L"desktop " + page};
        if (!takes) expected.push_back(L"execute " + page);
        EXPECT_EQ(asked, expected);
    }
    // Anything else reaches neither, in the real shell too.
    asked.clear();
    EXPECT_EQ(open_web_page_by(L"C:\\Windows\\System32\\cmd.exe", desktop, shell_execute),
              SE_ERR_ACCESSDENIED);
    EXPECT_EQ(shell().open_web_page(L"C:\\Windows\\System32\\cmd.exe"), SE_ERR_ACCESSDENIED);
    EXPECT_TRUE(asked.empty());
}

// A thread that never initialised COM cannot ask the desktop (the caller
// then falls back), and does not crash trying.
TEST(WebPage, DesktopWayFailsOnAThreadWithoutCom) {
    bool taken = true;
    std::thread([&] { taken = open_through_desktop(L"Z:\\no such folder\\no such page.html"); }).join();
    EXPECT_FALSE(taken);
}

}  // namespace
