#include "platform/registry_text.h"

#include <gtest/gtest.h>

// Stored data of every shape lands terminated inside the buffer, or nothing does.
TEST(RegistryText, ReadsOnlyWhatFitsAndTerminatesIt) {
    const wchar_t* path = L"Software\\QuillmarkTests\\RegistryText";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    struct { DWORD type; const wchar_t* data; DWORD bytes; const wchar_t* read; } cases[] = {
        {REG_SZ, L"1234567", 16, L"1234567"}, {REG_SZ, L"1234567", 14, L"1234567"},
        {REG_SZ, L"abc", 7, L"abc"}, {REG_SZ, L"12345678", 16, nullptr},
        {REG_SZ, L"12345678", 18, nullptr}, {REG_DWORD, L"ab", 4, nullptr}};
    for (const auto& c : cases) {
        RegSetValueExW(key, L"v", 0, c.type, reinterpret_cast<const BYTE*>(c.data), c.bytes);
        wchar_t buffer[12];
        wmemset(buffer, L'#', 12);
        EXPECT_EQ(read_registry_text(HKEY_CURRENT_USER, path, L"v", buffer, 8), c.read != nullptr);
        EXPECT_STREQ(buffer, c.read ? c.read : L"") << c.bytes;
        EXPECT_EQ(wmemcmp(buffer + 8, L"####", 4), 0) << c.bytes;
    }
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, path);
}
