#include "service/driver_offer.h"

#include <type_traits>
#include <utility>

// Offers move with their blocks (a vector of them grows without copying).
static_assert(std::is_nothrow_move_constructible_v<driver_offer> &&
              std::is_nothrow_move_assignable_v<driver_offer>);

namespace {

// Calls f(field, text) for every text of the offer: the wide ones first, so
// that they lie aligned at the start of the block, then the 8-bit ones.
template <class F>
void for_each_text(driver_offer& o, const offer_texts& t, F&& f) {
    f(o.hardid, t.hardid);
    f(o.title, t.title);
    f(o.version, t.version);
    f(o.guid, t.guid);
    f(o.inf_name, t.inf_name);
    f(o.manufacturer, t.manufacturer);
    f(o.date, t.date);
    f(o.description, t.description);
    f(o.link, t.link);
    f(o.official_link, t.official_link);
}

}  // namespace

driver_offer& driver_offer::operator=(const driver_offer& other) {
    if (this != &other) *this = driver_offer(other);
    return *this;
}

void driver_offer::set_texts(const offer_texts& texts) {
    // The room each text takes once cut, with its NUL; an empty one takes none.
    std::size_t wide_units = 0, narrow_bytes = 0;
    for_each_text(*this, texts, [&](auto& field, auto text) {
        const std::size_t n = field.cut(text).size();
        if (n == 0) return;
        (sizeof(text[0]) == 1 ? narrow_bytes : wide_units) += n + 1;
    });
    const std::size_t units = wide_units + (narrow_bytes + sizeof(wchar_t) - 1) / sizeof(wchar_t);
    std::unique_ptr<wchar_t[]> block(units ? new wchar_t[units] : nullptr);

    wchar_t* wide_at = block.get();
    char* narrow_at = reinterpret_cast<char*>(block.get() + wide_units);
    auto place = [](auto& field, auto text, auto*& at) {
        text = field.cut(text);
        if (text.empty()) return field.refer_to(nullptr, 0);
        std::memcpy(at, text.data(), text.size() * sizeof(text[0]));  // counted above
        at[text.size()] = 0;
        field.refer_to(at, text.size());
        at += text.size() + 1;
    };
    for_each_text(*this, texts, [&](auto& field, auto text) {
        if constexpr (sizeof(text[0]) == 1)
            place(field, text, narrow_at);
        else
            place(field, text, wide_at);
    });
    // The texts no longer read the old block.
    block_.units = std::move(block);
}
