// The one way the program hands a text to TinyXML. TinyXML parses nested
// elements by recursion and reads a few bytes past a character that its
// UTF-8 table says is longer than what is left, so every document is checked
// for its nesting first and parsed from a copy with zero bytes after its end.
// Element texts keep their white space as written (TinyXML would fold runs of
// blanks into one).
#pragma once

#include <tinyxml.h>

#include <cstddef>
#include <string_view>

// Deeper nesting than this is refused; the program's own formats need fewer
// than ten levels.
constexpr int xml_depth_limit = 64;

// The offset of the '<' of the first element (empty or not) that TinyXML would make deeper
// than `limit` levels, or npos when there is none. A linear scan that reads
// the text the way TinyXML does: comments, CDATA sections, declarations and
// other markup, quoted attribute values (which may hold '>'), self-closing
// tags, and UTF-8 characters in texts and values. The text ends at its first
// NUL byte.
std::size_t xml_too_deep_at(std::string_view text, TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN,
                            int limit = xml_depth_limit);

// The 1-based line of `offset` in `text`.
std::size_t xml_line_at(std::string_view text, std::size_t offset);

enum class xml_parse { ok, too_deep, not_well_formed };

// Parses `text` (up to its first NUL byte) into `document`. too_deep: nothing
// was parsed, and `too_deep_at` (when given) receives the offset of the
// element that goes too deep; not_well_formed: the document's own error says
// why.
xml_parse parse_xml(TiXmlDocument& document, std::string_view text,
                    TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN,
                    std::size_t* too_deep_at = nullptr);
// The same for the text at the start of a buffer of `size` bytes, up to the
// buffer's first NUL byte. When enough zero bytes follow the text inside the
// buffer, it is parsed where it lies (a large answer is not copied).
xml_parse parse_xml_in_buffer(TiXmlDocument& document, const char* buffer, std::size_t size,
                              TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN);
