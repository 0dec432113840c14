#include "platform/registry_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

// Stored data of every shape lands terminated inside the buffer or not at all.
TEST(RegistryText, ReadsOnlyWhatFitsAndTerminatesIt) {
    const wchar_t* path = L"Software\\QuillmarkTests\\RegistryText";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    struct { DWORD type; std::wstring data; DWORD bytes; const wchar_t* read; } cases[] = {
        {REG_SZ, L"1234567", 16, L"1234567"},     // with its terminator
        {REG_SZ, L"1234567", 14, L"1234567"},     // without it
        {REG_SZ, L"abc", 7, L"abc"},              // half a character at the end
        {REG_EXPAND_SZ, L"%x%", 8, L"%x%"},
        {REG_SZ, L"12345678", 16, nullptr},       // fills the buffer, no room to end it
        {REG_SZ, L"12345678", 18, nullptr},
        {REG_DWORD, L"ab", 4, nullptr},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RegSetValueExW(key, L"v", 0, c.type, reinterpret_cast<const BYTE*>(c.data.c_str()),
                                 c.bytes), ERROR_SUCCESS);
        wchar_t buffer[12];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        EXPECT_EQ(read_registry_text(HKEY_CURRENT_USER, path, L"v", buffer, 8), c.read != nullptr);
        EXPECT_STREQ(buffer, c.read ? c.read : L"") << c.data;
        EXPECT_EQ(std::wstring(buffer + 8, 4), L"####") << c.data;
    }
    wchar_t buffer[8];
    EXPECT_FALSE(read_registry_text(HKEY_CURRENT_USER, path, L"missing", buffer));
    EXPECT_FALSE(read_registry_text(HKEY_CURRENT_USER, L"Software\\QuillmarkTests\\None", L"v", buffer));
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, path);
}
