// The language table: the load rules on hand-made files, the
// per-language choices, and the shipped language.ini.
#include <gtest/gtest.h>

#include <cwchar>
#include <fstream>
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

TEST(LocaleCode, FollowsTheCurrentLanguageName) {
    const struct {
        const wchar_t* name;
        const wchar_t* code;
        int button, banner;
    } rows[] = {
        {L"English", L"en", 290, 300},
        {L"Deutsch", L"de", 456, 452},
        {L"Fran\u00e7ais", L"fr", 459, 453},
        {L"Espa\u00f1ol", L"es", 465, 455},
        {L"\u7b80\u4f53\u4e2d\u6587", L"cn", 290, 300},
        {L"\u7e41\u9ad4\u4e2d\u6587", L"hk", 290, 300},
        {L"Italiano", L"it", 425, 415},
        {L"\u65e5\u672c\u8a9e", L"jp", 462, 454},
        {L"Portugu\u00eas", L"pt", 422, 414},
        {L"Nederlands", L"nl", 419, 300},
        {L"\u0627\u0644\u0639\u0631\u0628\u064a\u0629", L"ar", 416, 412},
        {L"deutsch", L"de", 456, 452},      // compared ignoring case
        {L"Klingon", L"en", 290, 300},      // any other name
    };
    for (const auto& row : rows) {
        reset_language_table();
        language_names = {L"First", row.name};
        current_language = 1;
        SCOPED_TRACE(wide_to_utf8(row.name));
        EXPECT_STREQ(locale_code(), row.code);
        EXPECT_TRUE(locale_is(row.code));
        home_image_numbers images = home_images();
        EXPECT_EQ(images.start_button_base, row.button);
        EXPECT_EQ(images.banner, row.banner);
        EXPECT_EQ(product_page_address(),
                  std::wstring(product_site_base(row.code)) + L"product_quillmark.php");
        EXPECT_EQ(faq_page_address(), std::wstring(faq_site_base(row.code)) + L"faq.php");
    }
    reset_language_table();
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
}

}  // namespace
