#include "dpinst/installer.h"
#include "dpinst/options.h"

#include <gtest/gtest.h>

namespace {

parsed_options parse_line(const std::wstring& line) {
    auto args = split_command_line(line);
    EXPECT_FALSE(args.empty());
    if (!args.empty()) args.erase(args.begin());
    return parse_options(args);
}

}  // namespace

TEST(DpinstCommandLine, SplitsQuotedFoldersWithSpacesAndTrailingBackslashes) {
    EXPECT_EQ(split_command_line(L"\"C:\\Program Files\\Q\\DPInst64.exe\" /SH /PATH \"D:\\dl\\drv a\""),
              (std::vector<std::wstring>{L"C:\\Program Files\\Q\\DPInst64.exe", L"/SH", L"/PATH",
                                         L"D:\\dl\\drv a"}));
    // A backslash before the closing quote is part of the folder, not an escape.
    EXPECT_EQ(split_command_line(L"x /PATH \"C:\\my drivers\\\" /F"),
              (std::vector<std::wstring>{L"x", L"/PATH", L"C:\\my drivers\\", L"/F"}));
    EXPECT_EQ(split_command_line(L"  x\t/PATH   C:\\a\"b c\"\\d  "),
              (std::vector<std::wstring>{L"x", L"/PATH", L"C:\\ab c\\d"}));
    // An unterminated quote runs to the end of the line.
    EXPECT_EQ(split_command_line(L"x /PATH \"C:\\a b"),
              (std::vector<std::wstring>{L"x", L"/PATH", L"C:\\a b"}));
    EXPECT_TRUE(split_command_line(L"   ").empty());
}

TEST(DpinstCommandLine, AcceptsTheLinesQuillmarkStartsItWith) {
    auto install = parse_line(L"DPInst64.exe /SH /PATH \"D:\\downloads\\0123abcd\\drv a\"");
    ASSERT_TRUE(install.ok) << install.error;
    EXPECT_TRUE(install.options.present_only);
    EXPECT_FALSE(install.options.force);
    EXPECT_EQ(install.options.folder, L"D:\\downloads\\0123abcd\\drv a");

    auto restore = parse_line(L"DPInst32.exe /SH /F /PATH \"E:\\backup\\pkg\"");
    ASSERT_TRUE(restore.ok) << restore.error;
    EXPECT_TRUE(restore.options.present_only);
    EXPECT_TRUE(restore.options.force);
    EXPECT_EQ(restore.options.folder, L"E:\\backup\\pkg");
}

TEST(DpinstCommandLine, AcceptsEverySwitchInAnyCaseAndOrder) {
    auto all = parse_line(L"d /path C:\\p /q /s /c /lm /f /sh");
    ASSERT_TRUE(all.ok) << all.error;
    const dpinst_options& o = all.options;
    EXPECT_TRUE(o.present_only && o.force && o.silent && o.quiet && o.console && o.legacy_mode);
    EXPECT_EQ(o.folder, L"C:\\p");

    auto bare = parse_line(L"d /PATH C:\\p");
    ASSERT_TRUE(bare.ok);
    EXPECT_FALSE(bare.options.present_only || bare.options.force || bare.options.silent ||
                 bare.options.quiet || bare.options.console || bare.options.legacy_mode);
}

TEST(DpinstCommandLine, RefusesBadLinesWithAMessageNamingTheFault) {
    struct bad_line {
        const wchar_t* line;
        const wchar_t* message_part;
    };
    const bad_line cases[] = {
        {L"d /SH /X /PATH C:\\p", L"/X"},
        {L"d /SHX /PATH C:\\p", L"/SHX"},
        {L"d -F /PATH C:\\p", L"-F"},
        {L"d /SH", L"/PATH"},
        {L"d /SH /PATH", L"/PATH"},
        {L"d /PATH /SH", L"/PATH"},
        {L"d /PATH \"\"", L"/PATH"},
        {L"d /PATH C:\\a /PATH C:\\b", L"more than once"},
        {L"d /PATH C:\\a C:\\b", L"C:\\b"},
    };
    for (const auto& c : cases) {
        auto parsed = parse_line(c.line);
        EXPECT_FALSE(parsed.ok) << c.line;
        EXPECT_NE(parsed.error.find(c.message_part), std::wstring::npos)
            << c.line << " -> " << std::string(parsed.error.begin(), parsed.error.end());
    }
}

TEST(DpinstExitCode, PacksCountsAndFlagsAndSaturatesEachCount) {
    EXPECT_EQ(exit_code({}), 0x00000000u);
    EXPECT_EQ(exit_code({2, 0, 0, false}), 0x00000002u);
    EXPECT_EQ(exit_code({0, 1, 0, false}), 0x00000100u);
    EXPECT_EQ(exit_code({1, 2, 3, false}), 0x80030201u);
    EXPECT_EQ(exit_code({1, 0, 0, true}), 0x40000001u);
    EXPECT_EQ(exit_code({0, 0, 1, true}), 0xC0010000u);
    EXPECT_EQ(exit_code({300, 256, 1000, false}), 0x80FFFFFFu);
    EXPECT_EQ(exit_code_bad_request, 0x80010000u);
}
