#include "platform/xml_guard.h"

#include <algorithm>
#include <string>

namespace {

// TinyXML reads up to three bytes past a UTF-8 lead byte, even past the NUL
// that ends its text; the copy it parses ends in this many zero bytes.
constexpr std::size_t zero_padding = 8;

// The white-space setting is one flag for the whole process. It is cleared
// here, before main runs and so before any thread parses anything.
const bool white_space_kept = [] {
    TiXmlBase::SetCondenseWhiteSpace(false);
    return true;
}();

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// TinyXML takes every byte from 127 up as a letter.
bool name_start(unsigned char c) { return c >= 127 || is_letter(c) || c == '_'; }
bool name_char(unsigned char c) {
    return name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

bool starts_with(std::string_view text, std::size_t at, std::string_view prefix, bool ignore_case) {
    if (text.size() - at < prefix.size()) return false;
    for (std::size_t k = 0; k < prefix.size(); ++k) {
        char a = text[at + k], b = prefix[k];
        if (ignore_case && a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// Follows TinyXML through a document: the same tokens, the same character
// steps in texts and quoted values, so that the depth counted here is the
// depth of TinyXML's recursion. Where TinyXML gives up, so does the scan.
class depth_scan {
public:
    depth_scan(std::string_view text, TiXmlEncoding encoding)
        : s_(text), encoding_known_(encoding != TIXML_ENCODING_UNKNOWN),
          utf8_(encoding == TIXML_ENCODING_UTF8) {}

    std::size_t first_too_deep(int limit) {
        if (!encoding_known_ && starts_with(s_, 0, "\xEF\xBB\xBF", false))
            encoding_known_ = utf8_ = true;
        int depth = 0;
        while (i_ < s_.size() && !stopped_) {
            skip_blanks();
            if (i_ >= s_.size()) break;
            if (s_[i_] != '<') {
                if (depth == 0) break;  // text outside the elements ends the parse
                while (i_ < s_.size() && s_[i_] != '<') step();
            } else if (depth > 0 && starts_with(s_, i_, "</", false)) {
                --depth;
                skip_past(2, ">");
            } else if (starts_with(s_, i_, "<?xml", true)) {
                declaration(depth == 0);
            } else if (starts_with(s_, i_, "<!--", false)) {
                skip_past(4, "-->");
            } else if (starts_with(s_, i_, "<![CDATA[", false)) {
                skip_past(9, "]]>");
            } else if (i_ + 1 < s_.size() && name_start(static_cast<unsigned char>(s_[i_ + 1]))) {
                if (depth == limit) return i_;  // an element one level deeper, empty or not
                if (start_tag()) ++depth;
            } else {
                skip_past(1, ">");  // a DOCTYPE or anything else TinyXML keeps as unknown
            }
        }
        return std::string_view::npos;
    }

private:
    // One character of a text or a quoted value: a UTF-8 sequence as long as
    // its lead byte says, whatever follows.
    void step() {
        const unsigned char c = static_cast<unsigned char>(s_[i_]);
        std::size_t length = 1;
        if (utf8_ && c >= 0xC2 && c <= 0xF4) length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        i_ = std::min(i_ + length, s_.size());
    }

    void skip_blanks() {
        while (i_ < s_.size()) {
            if (utf8_ && (starts_with(s_, i_, "\xEF\xBB\xBF", false) ||
                          starts_with(s_, i_, "\xEF\xBF\xBE", false) ||
                          starts_with(s_, i_, "\xEF\xBF\xBF", false)))
                i_ += 3;
            else if (is_blank(s_[i_]))
                ++i_;
            else
                break;
        }
    }

    // Past the first `end` after the opening `opening` bytes.
    void skip_past(std::size_t opening, std::string_view end) {
        const std::size_t at = s_.find(end, i_ + opening);
        i_ = at == std::string_view::npos ? s_.size() : at + end.size();
    }

    // At a quotation mark: past the value and its closing mark.
    void skip_quoted() {
        const char quote = s_[i_++];
        while (i_ < s_.size() && s_[i_] != quote) step();
        if (i_ < s_.size()) ++i_;
        else stopped_ = true;  // an unfinished value
    }

    // A start tag up to its '>': true when it opens an element (not "/>").
    bool start_tag() {
        ++i_;
        while (i_ < s_.size() && name_char(static_cast<unsigned char>(s_[i_]))) ++i_;
        while (i_ < s_.size() && !stopped_) {
            const char c = s_[i_];
            if (c == '"' || c == '\'') {
                skip_quoted();
            } else if (c == '>') {
                const bool empty = s_[i_ - 1] == '/';
                ++i_;
                return !empty;
            } else {
                ++i_;
            }
        }
        stopped_ = true;
        return false;
    }

    // "<?xml ...>": TinyXML reads version, encoding and standalone as
    // attributes (their quoted values may hold '>') and steps over anything
    // else. The first declaration of the document names its encoding.
    void declaration(bool at_top) {
        i_ += 5;
        std::string encoding;
        while (i_ < s_.size() && s_[i_] != '>') {
            skip_blanks();
            const bool is_encoding = starts_with(s_, i_, "encoding", true);
            if (is_encoding || starts_with(s_, i_, "version", true) ||
                starts_with(s_, i_, "standalone", true)) {
                while (i_ < s_.size() && name_char(static_cast<unsigned char>(s_[i_]))) ++i_;
                skip_blanks();
                if (i_ >= s_.size() || s_[i_] != '=') return void(stopped_ = true);
                ++i_;
                skip_blanks();
                if (i_ >= s_.size()) return void(stopped_ = true);
                const std::size_t value = i_;
                if (s_[i_] == '"' || s_[i_] == '\'') {
                    skip_quoted();
                    if (stopped_) return;
                    if (is_encoding) encoding.assign(s_.substr(value + 1, i_ - value - 2));
                } else {
                    while (i_ < s_.size() && !is_blank(s_[i_]) && s_[i_] != '/' && s_[i_] != '>') {
                        if (s_[i_] == '"' || s_[i_] == '\'') return void(stopped_ = true);
                        ++i_;
                    }
                    if (is_encoding) encoding.assign(s_.substr(value, i_ - value));
                }
            } else {
                while (i_ < s_.size() && s_[i_] != '>' && !is_blank(s_[i_])) ++i_;
            }
        }
        if (i_ < s_.size()) ++i_;
        if (at_top && !encoding_known_) {
            encoding_known_ = true;
            utf8_ = encoding.empty() || starts_with(encoding, 0, "utf-8", true) ||
                    starts_with(encoding, 0, "utf8", true);
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
    bool encoding_known_;
    bool utf8_;
    bool stopped_ = false;
};

}  // namespace

std::size_t xml_too_deep_at(std::string_view text, TiXmlEncoding encoding, int limit) {
    text = text.substr(0, text.find('\0'));
    return depth_scan(text, encoding).first_too_deep(limit);
}

std::size_t xml_line_at(std::string_view text, std::size_t offset) {
    const std::string_view before = text.substr(0, offset);
    std::size_t line = 1;
    for (char c : before) line += c == '\n';
    return line;
}

namespace {

// True, with the offset in *too_deep_at when given, for a text nested too deeply.
bool too_deep(std::string_view text, TiXmlEncoding encoding, std::size_t* too_deep_at) {
    const std::size_t deep = xml_too_deep_at(text, encoding);
    if (deep == std::string_view::npos) return false;
    if (too_deep_at) *too_deep_at = deep;
    return true;
}

// Parses a checked text that is followed by zero_padding zero bytes.
xml_parse parse_padded(TiXmlDocument& document, const char* text, TiXmlEncoding encoding) {
    (void)white_space_kept;
    document.Parse(text, nullptr, encoding);
    return document.Error() ? xml_parse::not_well_formed : xml_parse::ok;
}

}  // namespace

xml_parse parse_xml(TiXmlDocument& document, std::string_view text, TiXmlEncoding encoding,
                    std::size_t* too_deep_at) {
    text = text.substr(0, text.find('\0'));
    if (too_deep(text, encoding, too_deep_at)) return xml_parse::too_deep;
    std::string copy;
    copy.reserve(text.size() + zero_padding);
    copy.assign(text.data(), text.size());
    copy.append(zero_padding, '\0');
    return parse_padded(document, copy.c_str(), encoding);
}

xml_parse parse_xml_in_buffer(TiXmlDocument& document, const char* buffer, std::size_t size,
                              TiXmlEncoding encoding) {
    const std::string_view whole(buffer, size);
    const std::size_t end = whole.find('\0');
    if (end == std::string_view::npos || size - end < zero_padding ||
        whole.substr(end, zero_padding).find_first_not_of('\0') != std::string_view::npos)
        return parse_xml(document, whole, encoding);
    if (too_deep(whole.substr(0, end), encoding, nullptr)) return xml_parse::too_deep;
    return parse_padded(document, buffer, encoding);
}
