// The language table: the load rules on hand-made files, the
// per-language choices, and the shipped language.ini.
#include <gtest/gtest.h>

#include <cwchar>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/language.h"
#include "platform/text.h"

namespace {

// A scratch folder that is the current directory while the test runs (the
// loads read "language.ini" from the current directory), and a clean table.
class LanguageFile : public ::testing::Test {
protected:
    std::wstring folder;
    wchar_t previous[MAX_PATH] = {};

    void SetUp() override {
        reset_language_table();
        GetCurrentDirectoryW(MAX_PATH, previous);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"qm-language-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    }

    void TearDown() override {
        SetCurrentDirectoryW(previous);
        DeleteFileW((folder + L"\\language.ini").c_str());
        RemoveDirectoryW(folder.c_str());
        reset_language_table();
    }

    // Writes language.ini with exactly these bytes.
    void write_file(const std::string& bytes) {
        std::ofstream out((folder + L"\\language.ini").c_str(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    static bool has_key(const std::string& key) { return language_table.count(key) != 0; }
};

TEST_F(LanguageFile, MissingFileIsMinusOneAndChangesNothing) {
    language_names = {L"kept"};
    EXPECT_EQ(load_language(L"English", true), -1);
    EXPECT_TRUE(language_table.empty());
    EXPECT_EQ(language_names, std::vector<std::wstring>{L"kept"});
    EXPECT_EQ(current_language, 0);
}

TEST_F(LanguageFile, SelectedSectionIsLoadedAndNamesAreInFileOrder) {
    write_file("[English]\nscan_item=\"Device: \"\n[Deutsch]\nscan_item=\"Ger\xC3\xA4t: \"\n");
    ASSERT_EQ(load_language(L"Deutsch", true), 0);
    EXPECT_EQ(language_names, (std::vector<std::wstring>{L"English", L"Deutsch"}));
    EXPECT_EQ(current_language, 1);
    EXPECT_STREQ(current_language_name(), L"Deutsch");
    EXPECT_EQ(text_for("scan_item"), L"Ger\u00e4t: ");
}

TEST_F(LanguageFile, HeaderIsComparedIgnoringCase) {
    write_file("[Other]\na=\"other\"\n[english]\na=\"english\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(text_for("a"), L"english");
    EXPECT_EQ(current_language, 1);
    EXPECT_STREQ(current_language_name(), L"english");  // the name as the file writes it
}

TEST_F(LanguageFile, HeaderLinesMayHaveBlanksAroundThem) {
    write_file("  \t[ Spaced ]  \r\n a=\"x\"\n");
    ASSERT_EQ(load_language(L" Spaced ", true), 0);
    EXPECT_EQ(language_names, std::vector<std::wstring>{L" Spaced "});
    EXPECT_EQ(text_for("a"), L"x");
}

TEST_F(LanguageFile, FirstEntryOfAKeyWins) {
    write_file("[English]\nk=\"first\"\nk=\"second\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(text_for("k"), L"first");
}

TEST_F(LanguageFile, CurrentLanguageFirstThenEnglishSuppliesTheRest) {
    write_file(
        "[English]\nboth=\"english both\"\nonly_english=\"english only\"\n"
        "[Deutsch]\nboth=\"deutsch both\"\n");
    ASSERT_EQ(load_language(L"Deutsch", true), 0);
    ASSERT_EQ(load_language(L"English", false), 0);
    EXPECT_EQ(text_for("both"), L"deutsch both");
    EXPECT_EQ(text_for("only_english"), L"english only");
    EXPECT_EQ(current_language, 1);  // the fallback load does not change it
    EXPECT_EQ(text_for("in_neither"), L"");
}

TEST_F(LanguageFile, EntriesOutsideTheSelectedSectionAreIgnored) {
    write_file(
        "before=\"no section yet\"\n[Deutsch]\nde=\"deutsch\"\n[English]\nen=\"english\"\n"
        "[Italiano]\nit=\"italiano\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_TRUE(has_key("en"));
    EXPECT_FALSE(has_key("before"));
    EXPECT_FALSE(has_key("de"));
    EXPECT_FALSE(has_key("it"));
    EXPECT_EQ(language_names.size(), 3u);
}

TEST_F(LanguageFile, TheHeaderEndingTheSelectedSectionIsNotCompared) {
    // The second [English] only ends the first; the third selects again.
    write_file("[English]\na=\"1\"\n[English]\nb=\"2\"\n[English]\nc=\"3\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_TRUE(has_key("a"));
    EXPECT_FALSE(has_key("b"));
    EXPECT_TRUE(has_key("c"));
    EXPECT_EQ(current_language, 2);
}

TEST_F(LanguageFile, UnknownSectionLoadsNothingAndLeavesTheCurrentLanguage) {
    write_file("[English]\na=\"x\"\n[Deutsch]\na=\"y\"\n");
    current_language = 1;
    ASSERT_EQ(load_language(L"Klingon", true), 0);
    EXPECT_TRUE(language_table.empty());
    EXPECT_EQ(current_language, 1);
    EXPECT_EQ(language_names.size(), 2u);
}

TEST_F(LanguageFile, NamesAreRebuiltByEveryLoad) {
    write_file("[A]\n[B]\n");
    ASSERT_EQ(load_language(L"A", true), 0);
    ASSERT_EQ(load_language(L"A", false), 0);
    EXPECT_EQ(language_names, (std::vector<std::wstring>{L"A", L"B"}));
}

TEST_F(LanguageFile, EscapesAreReplacedOnTheBytesTabsThenLineFeeds) {
    write_file(
        "[English]\n"
        "two_lines=\"first\\nsecond\"\n"
        "tabbed=\"a\\tb\"\n"
        "both=\"\\t\\n\\n\\t\"\n"
        "glued=\"\\\\tn\"\n"                        // backslash, backslash, t, n
        "accent=\"caf\xC3\xA9\\n\xE6\x97\xA5\"\n"    // the escape between UTF-8 sequences
        "plain=\"c:\\\\temp\\\\x\"\n");             // a backslash before another letter stays
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(text_for("two_lines"), L"first\nsecond");
    EXPECT_EQ(text_for("tabbed"), L"a\tb");
    EXPECT_EQ(text_for("both"), L"\t\n\n\t");
    EXPECT_EQ(text_for("glued"), L"\\\tn");
    EXPECT_EQ(text_for("accent"), L"caf\u00e9\n\u65e5");
    EXPECT_EQ(text_for("plain"), L"c:\\\temp\\\\x");
}

TEST_F(LanguageFile, SemicolonLinesAreComments) {
    write_file(
        "[English]\n"
        ";scan_item=\"commented\"\n"
        "   ;scan_status=\"commented with blanks before\"\n"
        "real=\"yes\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(text_for("real"), L"yes");
    EXPECT_EQ(text_for("scan_item"), L"");
    EXPECT_EQ(text_for("scan_status"), L"");
}

TEST_F(LanguageFile, KeyKeepsBlanksBeforeTheEqualsSignAndTextEndsAtTheLastQuote) {
    write_file(
        "[English]\n"
        "  spaced = \"value\"  \n"
        "quoted=\"say \"hi\" now\"\n"
        "equals=\"a=b\"\n"
        "empty=\"\"\n"
        "noquotes=value\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_TRUE(has_key("spaced "));  // leading blanks go, blanks before "=" stay
    EXPECT_FALSE(has_key("spaced"));
    EXPECT_EQ(text_for("spaced "), L"value");
    EXPECT_EQ(text_for("quoted"), L"say \"hi\" now");
    EXPECT_EQ(text_for("equals"), L"a=b");
    EXPECT_FALSE(has_key("empty"));  // a text needs at least one character
    EXPECT_FALSE(has_key("noquotes"));
}

TEST_F(LanguageFile, KeysAreComparedAsBytes) {
    write_file("[English]\nKey=\"upper\"\nkey=\"lower\"\nk\xC3\xA9y=\"accent\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(text_for("Key"), L"upper");
    EXPECT_EQ(text_for("key"), L"lower");
    EXPECT_EQ(text_for("k\xC3\xA9y"), L"accent");
}

TEST_F(LanguageFile, CrLfLinesReadInTextMode) {
    write_file("[English]\r\na=\"x\"\r\nb=\"y\"\r\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(text_for("a"), L"x");
    EXPECT_EQ(text_for("b"), L"y");
}

TEST_F(LanguageFile, HeaderBehindAByteOrderMarkDoesNotMatch) {
    write_file("\xEF\xBB\xBF[English]\na=\"x\"\n[Deutsch]\nb=\"y\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(language_names, std::vector<std::wstring>{L"Deutsch"});
    EXPECT_FALSE(has_key("a"));
}

TEST_F(LanguageFile, LongLinesAreReadAsSeveralLines) {
    // Each read takes at most 2047 bytes. A line of exactly 2047 bytes (plus
    // its line feed) is one entry; a longer one is cut, and its tail is
    // looked at as a line of its own.
    std::string longest = "fits=\"" + std::string(2047 - 7, 'x') + "\"";
    ASSERT_EQ(longest.size(), 2047u);
    std::string head = "cut=\"" + std::string(2047 - 5, 'y');
    ASSERT_EQ(head.size(), 2047u);
    write_file("[English]\n" + longest + "\n" + head + "tail=\"from the tail\"\nafter=\"z\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(text_for("fits"), std::wstring(2040, L'x'));
    EXPECT_FALSE(has_key("cut"));
    EXPECT_EQ(text_for("tail"), L"from the tail");
    EXPECT_EQ(text_for("after"), L"z");
}

TEST_F(LanguageFile, AMissingKeyIsAnEmptyTextThatStaysInTheTable) {
    write_file("[English]\na=\"x\"\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_FALSE(has_key("missing"));
    const std::wstring& missing = text_for("missing");
    EXPECT_EQ(missing, L"");
    EXPECT_TRUE(has_key("missing"));
    // The texts stay where they are while the table grows.
    const std::wstring* a = &text_for("a");
    for (int i = 0; i < 200; ++i) text_for("grow" + std::to_string(i));
    EXPECT_EQ(&text_for("a"), a);
    EXPECT_EQ(&text_for("missing"), &missing);
    // A later load does not overwrite the inserted empty text.
    write_file("[English]\nmissing=\"late\"\n");
    ASSERT_EQ(load_language(L"English", false), 0);
    EXPECT_EQ(text_for("missing"), L"");
}

TEST(LocaleCode, PredicateIgnoresCaseAndNoLanguageIsEnglish) {
    reset_language_table();
    EXPECT_STREQ(current_language_name(), L"");
    EXPECT_STREQ(locale_code(), L"en");
    language_names = {L"Deutsch"};
    EXPECT_TRUE(locale_is(L"DE"));
    EXPECT_TRUE(locale_is(L"de"));
    EXPECT_FALSE(locale_is(L"en"));
    EXPECT_FALSE(locale_is(nullptr));
    EXPECT_EQ(product_page_address(), L"https://www.vantorel.com/de/product_quillmark.php");
    EXPECT_EQ(faq_page_address(), L"https://support.vantorel.com/de/faq.php");
    EXPECT_EQ(home_images().start_button_base, 456);
    EXPECT_EQ(home_images().banner, 452);
    current_language = 5;  // past the end: no name
    EXPECT_STREQ(locale_code(), L"en");
    reset_language_table();
}

TEST(SiteBases, EveryCodeHasItsOwnMemberOfBothFamilies) {
    const wchar_t* codes[] = {L"en", L"de", L"fr", L"es", L"cn", L"hk",
                              L"it", L"jp", L"pt", L"nl", L"ar"};
    std::set<std::wstring> products, faqs;
    for (const wchar_t* code : codes) {
        std::wstring product = product_site_base(code), faq = faq_site_base(code);
        EXPECT_EQ(product.rfind(L"https://", 0), 0u);
        EXPECT_EQ(product.back(), L'/');
        EXPECT_EQ(faq.back(), L'/');
        EXPECT_NE(product, faq);
        products.insert(product);
        faqs.insert(faq);
    }
    EXPECT_EQ(products.size(), 11u);
    EXPECT_EQ(faqs.size(), 11u);
    EXPECT_STREQ(product_site_base(L"xx"), product_site_base(L"en"));
    EXPECT_STREQ(faq_site_base(L"EN"), faq_site_base(L"en"));
}

TEST_F(LanguageFile, FormatTextsThatDoNotFitTheirCallerFallBackToEnglish) {
    write_file(
        "[English]\n"
        "about_info1=\"%s, %s, %s\"\nerror_network_error=\"HTTP %d\"\nnew_driver_notify=\"%d new\"\n"
        "sidebar_total=\"Total %d\"\ndownload_date1=\"%s / %s\"\n"
        "[Deutsch]\n"
        "about_info1=\"%s%s%s%s\"\nerror_network_error=\"HTTP %s\"\nnew_driver_notify=\"%n%d\"\n"
        "sidebar_total=\"%-5d gesamt\"\ndownload_date1=\"%ls %s\"\nscan_item=\"100% \"\n");
    ASSERT_EQ(load_language(L"Deutsch", true), 0);
    ASSERT_EQ(load_language(L"English", false), 0);
    EXPECT_EQ(text_for("about_info1"), L"%s, %s, %s");  // one conversion too many
    EXPECT_EQ(text_for("error_network_error"), L"HTTP %d");  // a string where a number is passed
    EXPECT_EQ(text_for("new_driver_notify"), L"%d new");  // %n
    EXPECT_EQ(text_for("download_date1"), L"%s / %s");  // a length modifier
    EXPECT_EQ(text_for("sidebar_total"), L"%-5d gesamt");  // fits: flags and width are fine
    EXPECT_EQ(text_for("scan_item"), L"100% ");  // not a format: taken as it is
}

TEST(FormatRules, AFormatFitsOnlyTheArgumentsItsCallerPasses) {
    const struct {
        const wchar_t* format;
        const char* arguments;
        bool fits;
    } rows[] = {
        {L"plain", "", true},           {L"100%% sure", "", true},
        {L"%d", "d", true},             {L"%i %u %x %X %o", "ddddd", true},
        {L"%s and %d", "sd", true},     {L"%d and %s", "sd", false},
        {L"%-08.3d|%+5s|% #x", "dsd", true},
        {L"%s", "", false},             {L"", "s", false},            {L"%s", "ss", false},
        {L"%n", "d", false},            {L"%hn", "d", false},         {L"%c", "d", false},
        {L"%ls", "s", false},           {L"%S", "s", false},          {L"%I64d", "d", false},
        {L"%*d", "d", false},           {L"%1$s", "s", false},        {L"%.*s", "s", false},
        {L"%9999d", "d", false},        {L"%.999s", "s", true},       {L"50%", "", false},
        {L"%", "d", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(format_fits(row.format, row.arguments), row.fits)
            << wide_to_utf8(row.format) << " / " << row.arguments;
    EXPECT_STREQ(format_arguments("about_info1"), "sss");
    EXPECT_EQ(format_arguments("scan_item"), nullptr);
}

TEST(LanguageLines, TheScannerMatchesTheExpressions) {
    const std::regex header(R"(^\s*\[(.*)\]\s*$)", std::regex::ECMAScript);
    const std::regex entry(R"re(^\s*([^;].*)\s*=\s*"(.+)"\s*$)re", std::regex::ECMAScript);
    auto check = [&](const std::string& line) {
        SCOPED_TRACE(testing::Message() << "line \"" << line << "\"");
        std::cmatch groups;
        std::string name, key, text;
        const bool is_header = std::regex_search(line.c_str(), groups, header);
        ASSERT_EQ(match_header_line(line, name), is_header);
        if (is_header) {
            EXPECT_EQ(name, groups.str(1));
        }
        const bool is_entry = std::regex_search(line.c_str(), groups, entry);
        ASSERT_EQ(match_entry_line(line, key, text), is_entry);
        if (is_entry) {
            EXPECT_EQ(key, groups.str(1));
            EXPECT_EQ(text, groups.str(2));
        }
    };
    for (const char* line : {
             "", "\n", "   \n", "[a]", "[a]\n", "  \t[ Spaced ]  \r\n", "[a]]\n", "[[a]", "[a] b\n", "x[a]",
             "[]", "[", "]", "[a\r]\n", "[a]\r\n", "[a\nb]", "\xEF\xBB\xBF[a]\n", "[a]\v\f \n", "\n[a]",
             "a=\"x\"\n", "  a = \"x\"  \n", "a=\"x\"\r\n", ";k=\"v\"\n", "   ;k=\"v\"\n", " \t;k=\"v\"",
             ";", " ;", "  ;  =\"x\"", ";\n=\"x\"", "\n;=\"x\"", "k=\"\"\n", "k=\"\"\"\n", "k=\"a\"b\"\n",
             "k=\"a\" \"b\"\n", "a=b=\"c\"", "a=\"b\"=\"c\"", "=\"x\"", " =\"x\"", "  =  \"x\"", "k==\"x\"",
             "k = = \"x\"", "k=\"x\r\"", "k\r=\"x\"", "\r=\"x\"", "\n=\"x\"", " \n=\"x\"", "\n \n=\"x\"",
             "k=\"x\" \v\f", "k=  \"  x  \"  ", "k=\"\\\"\"", "a;b=\"c\"", "k=\"x\"y", "k=x\"", "k=\"x",
             "k\t=\t\"\tx\t\"\t", "k=\"caf\xC3\xA9\"", "[x]=\"y\"", "k=\"[a]\"", "k =\"a\" = \"b\"",
             "\"=\"\"", "k=\"\n\"", "\v\f k=\"x\"", " k\n=\"x\"\n", "k =\"x\"\n\n"})
        check(line);
    // Runs of blanks in every place.
    for (const std::string run : {" ", " \t ", " \t\v\f"}) {
        check(run + "k" + run + "=" + run + "\"" + run + "v" + run + "\"" + run + "\n");
        check(run + ";" + run + "k" + run + "=" + run + "\"v\"" + run);
        check(run + "[" + run + "s" + run + "]" + run);
    }
}

TEST_F(LanguageFile, LongRunsOfBlanksAreReadInOnePass) {
    // Lines like these cost the expressions tens of seconds each; the
    // scanner reads them once.
    const std::string run(1000, ' ');
    write_file("[English]\n" + run + run + "\n" + run + "a" + run + "=\"x\"\n" + "b=\"" + run + "\"" + run + "\n" +
               run + "[Other]" + run + "\n");
    ASSERT_EQ(load_language(L"English", true), 0);
    EXPECT_EQ(text_for("a" + run), L"x");  // the key keeps its blanks before "="
    EXPECT_EQ(text_for("b"), std::wstring(1000, L' '));
    EXPECT_EQ(language_names.size(), 2u);
}

TEST(FormatText, WideStringsAndIntegersAndTruncation) {

    wchar_t out[64];
    EXPECT_EQ(format_text(out, 64, L"Installed: %s    Newer: %s", L"2012-06-21", L"2013-01-02"),
              std::wcslen(L"Installed: 2012-06-21    Newer: 2013-01-02"));
    EXPECT_STREQ(out, L"Installed: 2012-06-21    Newer: 2013-01-02");
    format_text(out, 64, L"(HTTP %d)", 500);
    EXPECT_STREQ(out, L"(HTTP 500)");
    wchar_t small[8];
    EXPECT_EQ(format_text(small, 8, L"%d new drivers", 12), 7u);
    EXPECT_STREQ(small, L"12 new ");
    EXPECT_EQ(format_text(small, 8, nullptr), 0u);
    EXPECT_STREQ(small, L"");
    // %n would write through its argument: such a format is never used.
    int written = 7;
    EXPECT_EQ(format_text(out, 64, L"ab%n%d", &written, 5), 0u);
    EXPECT_STREQ(out, L"");
    EXPECT_EQ(written, 7);
    EXPECT_EQ(format_text(out, 64, L"%-3hn", &written), 0u);
}

}  // namespace
