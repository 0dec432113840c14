#include "robustness/mutator.h"

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <utility>

mutator::mutator(uint32_t seed, std::vector<std::string> tokens)
    : random_(seed), tokens_(std::move(tokens)) {
    for (const char* t : {"\0", "\xff\xfe", "\xef\xbb\xbf", "\xc3", "\x80", "%s%n%d", "\\\\?\\",
                          "..\\..\\", "-1", "0", "4294967296", "18446744073709551617",
                          "99999999999999999999999", "\r\n", "\n", " ", "\t", "\"", "'"})
        tokens_.emplace_back(t, t[0] ? std::strlen(t) : 1);
}

std::string mutator::mutate(const std::string& sample) {
    std::string s = sample;
    const uint32_t changes = 1 + below(4);
    for (uint32_t i = 0; i < changes; ++i) change(s);
    return s;
}

void mutator::change(std::string& s) {
    const std::size_t size = s.size();
    const std::size_t at = below(static_cast<uint32_t>(size + 1));
    switch (below(9)) {
    case 0:  // one bit
        if (size) s[at % size] = static_cast<char>(s[at % size] ^ (1 << below(8)));
        break;
    case 1:  // one byte
        if (size) s[at % size] = static_cast<char>(below(256));
        break;
    case 2:  // a token in between
        s.insert(at, tokens_[below(static_cast<uint32_t>(tokens_.size()))]);
        break;
    case 3:  // a piece cut out
        s.erase(at, 1 + below(below(2) ? 16 : 1 + static_cast<uint32_t>(size / 4)));
        break;
    case 4: {  // a piece repeated elsewhere
        if (!size) break;
        const std::size_t from = below(static_cast<uint32_t>(size));
        const std::string piece = s.substr(from, 1 + below(256));
        s.insert(below(static_cast<uint32_t>(s.size() + 1)), piece);
        break;
    }
    case 5:  // the end cut off
        s.resize(at);
        break;
    case 6:  // a piece replaced by a token
        s.replace(at, below(8), tokens_[below(static_cast<uint32_t>(tokens_.size()))]);
        break;
    case 7:  // a long run of one character
        s.insert(at, std::string(1 + below(below(4) ? 300 : 70000), "A\\<%\xff 9."[below(8)]));
        break;
    default: {  // four bytes set to a number that breaks sizes and offsets
        if (size < 4) break;
        static const uint32_t numbers[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000};
        uint32_t n = below(2) ? numbers[below(7)] : static_cast<uint32_t>(random_());
        std::memcpy(&s[at % (size - 3)], &n, 4);
        break;
    }
    }
}

std::string mutator::mutate_values(const std::string& document) {
    // Where values start: after a tag's end (text) or after =" (attribute).
    std::vector<std::pair<std::size_t, char>> starts;  // position, closing delimiter
    for (std::size_t i = 0; i + 1 < document.size(); ++i) {
        if (document[i] == '>' && document[i + 1] != '<') starts.emplace_back(i + 1, '<');
        if (document[i] == '=' && document[i + 1] == '"') starts.emplace_back(i + 2, '"');
    }
    if (starts.empty()) return mutate(document);
    static const char* const values[] = {"", "0", "-1", "-2147483649", "4294967295", "4294967296",
        "18446744073709551616", "1e400", "0x10", " 12 ", "ff", "FFFFFFFFFF", "1.2.3.4.5.6.7.8",
        "65536.65536.65536.65536", "...", "2013-13-45", "9999-99-99", "1-2-3", "0000-00-00",
        "..\\..\\x", "C:\\x", "\\\\server\\share", "CON", "%s%n%d", "&#0;", "&#xD800;", "&#1114112;",
        "\xc3\xa9\xe6\x97\xa5", "\xff\xfe", "{00000000-0000-0000-0000-000000000000}", "{", "PCI\\"};
    std::string out = document;
    // Replaced from the back, so that earlier positions stay valid.
    std::vector<std::size_t> chosen;
    for (uint32_t n = 1 + below(4); n > 0; --n) chosen.push_back(below(static_cast<uint32_t>(starts.size())));
    std::sort(chosen.rbegin(), chosen.rend());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    for (std::size_t index : chosen) {
        const auto [at, close] = starts[index];
        const std::size_t end = out.find(close, at);
        if (end == std::string::npos) continue;
        std::string value = below(5) ? values[below(sizeof values / sizeof *values)]
                                     : std::string(1 + below(5000), "x9.\\-"[below(5)]);
        out.replace(at, end - at, value);
    }
    return out;
}

int mutation_rounds() {
    const char* text = std::getenv("QM_MUTATIONS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 2000;
}

uint32_t round_seed(const char* format, int round) {
    uint32_t h = 2166136261u;  // FNV-1a over the format's name, then the round
    for (const char* p = format; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
    return h ^ static_cast<uint32_t>(round) * 2654435761u;
}

bool round_selected(int round) {
    const char* text = std::getenv("QM_MUTATION_ROUND");
    return !text || std::atoi(text) == round;
}
