#include "platform/text.h"

#include <gtest/gtest.h>

TEST(CopyText, TruncatesAndTerminates) {
    wchar_t small[4];
    copy_text(small, L"abcdef");
    EXPECT_STREQ(small, L"abc");
    copy_text(small, L"");
    EXPECT_STREQ(small, L"");
    char narrow[3];
    copy_text(narrow, "xyz");
    EXPECT_STREQ(narrow, "xy");
}

TEST(TextConversion, RoundTripsThroughUtf8) {
    const std::wstring text = L"Gr\u00e4fik \u65e5\u672c\u8a9e \u0627\u0644\u0639\u0631\u0628\u064a\u0629";
    EXPECT_EQ(utf8_to_wide(wide_to_utf8(text)), text);
    EXPECT_EQ(wide_to_utf8(L"\u00e9"), "\xc3\xa9");
    EXPECT_EQ(utf8_to_wide(""), L"");
}
