// One driver package that the update service offers for a device. Each text
// has a fixed capacity that includes the terminating NUL, as a fixed field
// would, but takes only the memory its text needs: an answer of many empty
// offers stays small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A text of at most N - 1 characters: a longer one is cut on assignment. It
// reads as a NUL-terminated string.
template <class C, std::size_t N>
class bounded_text {
    static_assert(N > 0);

public:
    static constexpr std::size_t capacity = N;

    bounded_text& operator=(std::basic_string_view<C> text) {
        text_.assign(text.substr(0, N - 1));
        return *this;
    }
    operator const C*() const { return text_.c_str(); }
    const C* c_str() const { return text_.c_str(); }
    std::basic_string_view<C> view() const { return text_; }
    bool empty() const { return text_.empty(); }

private:
    std::basic_string<C> text_;
};

struct driver_offer {
    bounded_text<wchar_t, 200> hardid;        // `hardid`: the hardware or compatible id the package matches
    bounded_text<wchar_t, 257> title;         // `title`: display name of the package
    bounded_text<wchar_t, 65> version;        // `ver`: four dot-separated numbers
    bounded_text<wchar_t, 39> guid;           // `guid`: stored as received
    bounded_text<char, 3073> link;            // `link`: download URL, also the package's identity (ANSI)
    bounded_text<char, 1025> official_link;   // `official_link`: stored as received (ANSI)
    bounded_text<wchar_t, 260> inf_name;      // from `infpath`
    bounded_text<wchar_t, 129> manufacturer;  // `manu`
    bounded_text<wchar_t, 11> date;           // `date`: yyyy-mm-dd
    bounded_text<wchar_t, 1025> description;  // `desc`
    uint32_t size = 0;                        // `size`: package size in bytes
    uint32_t cp = 0;                          // `cp`: match rank, lower is better
    uint32_t sign = 0;                        // `sign`: 0 WHQL, 1 signed, 3 unsigned; lower is better
    uint32_t feature = 0;                     // `feature`: hexadecimal text; lower is better; 255 none
    uint32_t targetos = 0;                    // `targetos`: OS version number (major * 10 + minor)
};
