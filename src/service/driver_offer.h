// One driver package that the update service offers for a device. Each text
// has a fixed capacity that includes the terminating NUL, as a fixed field
// would, but takes only the memory its text needs: an answer of many empty
// offers stays small. An offer read from an answer keeps all its texts in one
// block of its own (one allocation rather than one per text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

struct driver_offer;

// A text of at most N - 1 characters: a longer one is cut on assignment. It
// reads as a NUL-terminated string. A text assigned or copied owns its
// characters; one that an offer set with set_texts() reads them from that
// offer's block. Only the offer moves its texts (with the block): a text
// moved away on its own could outlive the block.
template <class C, std::size_t N>
class bounded_text {
    static_assert(N > 0);

public:
    static constexpr std::size_t capacity = N;

    bounded_text() = default;
    bounded_text(const bounded_text& other) { *this = other.view(); }
    ~bounded_text() { release(); }

    bounded_text& operator=(const bounded_text& other) {
        if (this != &other) *this = other.view();
        return *this;
    }
    bounded_text& operator=(std::basic_string_view<C> text) {
        text = cut(text);
        C* copy = nullptr;
        if (!text.empty()) {
            copy = new C[text.size() + 1];  // the cut text and its NUL
            std::memcpy(copy, text.data(), text.size() * sizeof(C));
            copy[text.size()] = C();
        }
        release();
        if (copy) {
            text_ = copy;
            size_ = static_cast<uint32_t>(text.size());
            owned_ = true;
        }
        return *this;
    }

    operator const C*() const { return text_; }
    const C* c_str() const { return text_; }
    std::basic_string_view<C> view() const { return {text_, size_}; }
    bool empty() const { return size_ == 0; }

    // The text as assignment keeps it.
    static std::basic_string_view<C> cut(std::basic_string_view<C> text) { return text.substr(0, N - 1); }

private:
    friend struct driver_offer;
    static constexpr C empty_text[1] = {};

    bounded_text(bounded_text&& other) noexcept { take(other); }
    bounded_text& operator=(bounded_text&& other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }

    void release() {
        if (owned_) delete[] text_;
        text_ = empty_text;
        size_ = 0;
        owned_ = false;
    }
    void take(bounded_text& other) {
        text_ = other.text_;
        size_ = other.size_;
        owned_ = other.owned_;
        other.text_ = empty_text;
        other.size_ = 0;
        other.owned_ = false;
    }
    // Reads the text (already cut, NUL-terminated) from a block it does not own.
    void refer_to(const C* text, std::size_t size) {
        release();
        if (size == 0) return;
        text_ = text;
        size_ = static_cast<uint32_t>(size);
    }

    const C* text_ = empty_text;
    uint32_t size_ = 0;
    bool owned_ = false;
};

// The texts of an offer as read, before they are cut to their capacities.
struct offer_texts {
    std::wstring_view hardid, title, version, guid, inf_name, manufacturer, date, description;
    std::string_view link, official_link;
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
    uint64_t size = 0;                        // `size`: package size in bytes
    uint32_t cp = 0;                          // `cp`: match rank, lower is better
    uint32_t sign = 0;                        // `sign`: 0 WHQL, 1 signed, 3 unsigned; lower is better
    uint32_t feature = 0;                     // `feature`: hexadecimal text; lower is better; 255 none
    uint32_t targetos = 0;                    // `targetos`: OS version number (major * 10 + minor)

    driver_offer() = default;
    // A copy's texts own their characters; a move takes the block along.
    driver_offer(const driver_offer&) = default;
    driver_offer(driver_offer&&) noexcept = default;
    driver_offer& operator=(const driver_offer& other);
    driver_offer& operator=(driver_offer&&) noexcept = default;

    // Sets every text at once, each cut to its capacity, in one block.
    void set_texts(const offer_texts& texts);

private:
    // The block the texts set by set_texts() are read from. Copying an offer
    // does not copy it: the copy's texts own their characters.
    struct text_block {
        std::unique_ptr<wchar_t[]> units;
        text_block() = default;
        text_block(const text_block&) {}
        text_block(text_block&&) noexcept = default;
        text_block& operator=(text_block&&) noexcept = default;
    };
    text_block block_;
};
