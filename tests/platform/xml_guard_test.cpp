// The nesting check that runs before TinyXML: it must count what TinyXML's
// recursion will see, whatever markup hides or fakes element tags.
#include "platform/xml_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

constexpr std::size_t none = std::string::npos;

std::string nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "<a>";
    for (int i = 0; i < levels; ++i) text += "</a>";
    return text;
}

// How deep TinyXML went: elements are linked even when the parse fails.
int element_depth(const TiXmlNode* node) {
    int deepest = 0;
    for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling())
        if (child->ToElement()) deepest = std::max(deepest, 1 + element_depth(child));
    return deepest;
}

TEST(XmlNesting, CountsWhatTinyXmlOpens) {
    const struct {
        const char* text;
        std::size_t too_deep_at;  // with a limit of two levels
    } rows[] = {
        {"<a><b/><b/><b></b></a>", none},              // a self-closing tag opens nothing
        {"<a><b><c/></b></a>", 6},                     // but is nested all the same
        {"<a><b><c></c></b></a>", 6},
        {"<a><!-- <b><c> --><b></b></a>", none},       // a comment hides tags
        {"<a><!--><b><c>--></a>", none},               // "<!-->" does not end the comment
        {"<a><![CDATA[<b><c>]]><b></b></a>", none},    // so does a CDATA section
        {"<a x='>'><b y=\"/>\"><c></c></b></a>", 19},  // quotes hide '>' and "/>"
        {"<a x='</a>'><b><c>", 15},                    // and end tags
        {"<a><?pi <b><c><d> ?></a>", 14},              // an instruction ends at the first '>'
        {"<!DOCTYPE x><a><b><c>", 18},
        {"<!DOCTYPE x [<!ELEMENT a ANY>]><a><b><c>", none},  // "]>" is text: TinyXML stops
        {"<?xml version='>'?><a><b><c>", 25},         // the declaration's quoted values
        {"<a>text</b><b><c></c></b></a>", none},       // every end tag closes one level
        {"<a>\xF0</a><a>\xF0</a><a></a></a></a>", none},  // byte by byte without a declaration
        // A UTF-8 document: a lead byte swallows the three bytes after it,
        // so TinyXML never sees these end tags.
        {"<?xml version=\"1.0\"?><a>\xF0</a><a>\xF0</a><a></a></a></a>", 37},
        {"\xEF\xBB\xBF<a>\xF0</a><a>\xF0</a><a></a></a></a>", 19},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xF0</a><a>\xF0</a><a></a>", none},
        {"<a x=\"\xF0\" y='<b>'><b><c>", 20},           // without a declaration: bytes
        {"x<a><b><c>", none},                           // text before the element ends the parse
    };
    for (const auto& row : rows) {
        EXPECT_EQ(xml_too_deep_at(row.text, TIXML_ENCODING_UNKNOWN, 2), row.too_deep_at) << row.text;
        // TinyXML itself agrees (these texts are shallow enough to parse).
        TiXmlDocument document;
        document.Parse((std::string(row.text) + std::string(8, '\0')).c_str());
        EXPECT_EQ(element_depth(&document) > 2, row.too_deep_at != none) << row.text;
    }
    // Given as UTF-8 from the start.
    EXPECT_EQ(xml_too_deep_at("<a>\xF0</a><a>\xF0</a><a></a></a></a>", TIXML_ENCODING_UTF8, 2), 16u);
}

TEST(XmlNesting, TheLimitAndTheParse) {
    EXPECT_EQ(xml_too_deep_at(nested(64)), none);
    EXPECT_EQ(xml_too_deep_at(nested(65)), 64u * 3);
    TiXmlDocument document;
    std::size_t at = 0;
    EXPECT_EQ(parse_xml(document, nested(20000), TIXML_ENCODING_UNKNOWN, &at), xml_parse::too_deep);
    EXPECT_EQ(at, 64u * 3);
    EXPECT_EQ(xml_line_at("a\nb\n<c>", 4), 3u);

    ASSERT_EQ(parse_xml(document, nested(64)), xml_parse::ok);
    EXPECT_EQ(parse_xml(document, "<a><b></a>"), xml_parse::not_well_formed);
    // Text ends at a NUL byte, as for TinyXML itself.
    EXPECT_EQ(parse_xml(document, std::string("<a/>\0<b>", 8)), xml_parse::ok);
}

TEST(XmlNesting, ElementTextKeepsItsBlanks) {
    TiXmlDocument document, spaced;
    ASSERT_EQ(parse_xml(document, "<a><b>  x \t y  </b><c x=\"  1  \"/></a>"), xml_parse::ok);
    EXPECT_STREQ(document.RootElement()->FirstChildElement("b")->GetText(), "  x \t y  ");
    EXPECT_STREQ(document.RootElement()->FirstChildElement("c")->Attribute("x"), "  1  ");
    // Blanks between elements are no text.
    ASSERT_EQ(parse_xml(spaced, "<a>\n  <b/>\n</a>"), xml_parse::ok);
    EXPECT_EQ(spaced.RootElement()->FirstChild()->ToElement()->ValueStr(), "b");
}

}  // namespace
