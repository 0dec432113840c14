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

// Same answers as CompareStringOrdinal for each UTF-16 unit, its case partners and neighbours.
TEST(EqualIgnoringCase, AgreesWithTheOrdinalComparison) {
    for (unsigned u = 1; u <= 0xFFFF; ++u) {
        wchar_t a = static_cast<wchar_t>(u), lower = a, upper = a;
        CharLowerBuffW(&lower, 1);
        CharUpperBuffW(&upper, 1);
        for (wchar_t b : {a, lower, upper, wchar_t(a ^ 0x20), wchar_t(a + 1)})
            ASSERT_EQ(equal_ignoring_case({&a, 1}, {&b, 1}),
                      CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL) << u << " " << unsigned(b);
    }
}
