#include "service/scan_response.h"

#include <windows.h>
#include <shlwapi.h>
#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <memory>
#include <new>
#include <set>
#include <string_view>
#include <vector>

#include "app/globals.h"
#include "devices/device_store.h"
#include "platform/text.h"
#include "platform/xml_guard.h"
#include "service/scan_request.h"
#include "service/update_client.h"

namespace {

const char* text_of(const TiXmlElement* element) {
    const char* text = element ? element->GetText() : nullptr;
    return text ? text : "";
}

// Blanks as the C library's number readers skip them.
template <class C>
bool is_space(C ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

int digit_value(int ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return 99;
}

// An unsigned number as strtoul reads it (leading blanks, a sign, an
// optional 0x in base 16), except that a value above `limit`, negative ones
// included, reads as `limit` rather than wrapping. No digits: 0.
uint64_t parse_number(const char* text, int base, uint64_t limit) {
    const char* p = text;
    while (is_space(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) p += 2;
    uint64_t value = 0;
    bool any = false, over = false;
    for (; digit_value(static_cast<unsigned char>(*p)) < base; ++p) {
        any = true;
        const unsigned digit = static_cast<unsigned>(digit_value(static_cast<unsigned char>(*p)));
        if (over || value > (limit - digit) / static_cast<unsigned>(base)) {
            over = true;
            continue;
        }
        value = value * base + digit;
    }
    if (!any) return 0;
    if (over || (negative && value != 0)) return limit;
    return value;
}

uint32_t parse_number(const char* text, int base) {
    return static_cast<uint32_t>(parse_number(text, base, std::numeric_limits<uint32_t>::max()));
}

// The INF name: the offered path with "/" turned into "\" and its first
// folder taken off (a/b/oem.inf gives b\oem.inf). A bare file name is kept as
// it is: the INF lies at the package root.
std::wstring_view inf_name_of(std::wstring& inf) {
    if (inf.size() > 259) inf.resize(259);
    std::replace(inf.begin(), inf.end(), L'/', L'\\');
    std::size_t slash = inf.find(L'\\');
    return slash == std::wstring::npos ? std::wstring_view(inf) : std::wstring_view(inf).substr(slash + 1);
}

// The fields of an offer, by element name; -1 for any other element.
enum offer_field {
    f_hardid, f_title, f_ver, f_guid, f_link, f_official_link, f_infpath, f_manu, f_date,
    f_desc, f_size, f_cp, f_sign, f_feature, f_targetos
};

int field_of(const char* name) {
    auto is = [name](const char* candidate) { return std::strcmp(name, candidate) == 0; };
    switch (name[0]) {
    case 'c': return is("cp") ? f_cp : -1;
    case 'd': return is("date") ? f_date : is("desc") ? f_desc : -1;
    case 'f': return is("feature") ? f_feature : -1;
    case 'g': return is("guid") ? f_guid : -1;
    case 'h': return is("hardid") ? f_hardid : -1;
    case 'i': return is("infpath") ? f_infpath : -1;
    case 'l': return is("link") ? f_link : -1;
    case 'm': return is("manu") ? f_manu : -1;
    case 'o': return is("official_link") ? f_official_link : -1;
    case 's': return is("size") ? f_size : is("sign") ? f_sign : -1;
    case 't': return is("title") ? f_title : is("targetos") ? f_targetos : -1;
    case 'v': return is("ver") ? f_ver : -1;
    default: return -1;
    }
}

// Room for the wide texts of an offer while it is read, kept from offer to
// offer so that reading one allocates only the offer's own block.
struct offer_scratch {
    std::wstring hardid, title, version, guid, inf, manufacturer, date, description;
};

// Fills a zeroed offer from one item: each field from the first element of
// its name, in one pass over the item's children; an absent one stays empty
// or 0.
void read_offer(const TiXmlElement& item, driver_offer& o, offer_scratch& scratch) {
    offer_texts texts;
    uint32_t seen = 0;
    for (const TiXmlElement* e = item.FirstChildElement(); e; e = e->NextSiblingElement()) {
        const int f = field_of(e->Value());
        if (f < 0 || (seen & (1u << f))) continue;
        seen |= 1u << f;
        const char* text = text_of(e);
        auto wide = [text](std::wstring& into) -> std::wstring_view {
            ansi_to_wide(text, into);
            return into;
        };
        switch (f) {
        case f_hardid: texts.hardid = wide(scratch.hardid); break;
        case f_title: texts.title = wide(scratch.title); break;
        case f_ver: texts.version = wide(scratch.version); break;
        case f_guid: texts.guid = wide(scratch.guid); break;
        case f_link: texts.link = text; break;
        case f_official_link: texts.official_link = text; break;
        case f_infpath: wide(scratch.inf); texts.inf_name = inf_name_of(scratch.inf); break;
        case f_manu: texts.manufacturer = wide(scratch.manufacturer); break;
        case f_date: texts.date = wide(scratch.date); break;
        case f_desc: texts.description = wide(scratch.description); break;
        case f_size: o.size = parse_number(text, 10, std::numeric_limits<int64_t>::max()); break;
        case f_cp: o.cp = parse_number(text, 10); break;
        case f_sign: o.sign = parse_number(text, 10); break;
        case f_feature: o.feature = parse_number(text, 16); break;
        case f_targetos: o.targetos = parse_number(text, 10); break;
        }
    }
    o.set_texts(texts);
}

// The offers of one hardware element, at most 500.
std::vector<driver_offer> read_offers(const TiXmlElement& hardware, offer_scratch& scratch) {
    uint32_t count = 0;
    for (const TiXmlElement* item = hardware.FirstChildElement("item");
         item && count < max_offers_per_device; item = item->NextSiblingElement("item"))
        ++count;
    std::vector<driver_offer> offers(count);
    const TiXmlElement* item = hardware.FirstChildElement("item");
    for (driver_offer& offer : offers) {
        read_offer(*item, offer, scratch);
        item = item->NextSiblingElement("item");
    }
    return offers;
}

template <class C>
bool is_digit(C ch) { return ch >= '0' && ch <= '9'; }

// Four integers, each read as "%d" reads one (blanks, a sign, digits; a value
// out of range saturates), with exactly one character skipped after each. A
// component that cannot be read stays 0, and so do those after it.
template <class C>
void read_version(const C* text, int32_t (&parts)[4]) {
    std::fill(std::begin(parts), std::end(parts), 0);
    const C* p = text;
    for (int32_t& part : parts) {
        while (is_space(*p)) ++p;
        bool negative = false;
        if (*p == '+' || *p == '-') negative = *p++ == '-';
        if (!is_digit(*p)) return;
        int64_t value = 0;
        for (; is_digit(*p); ++p) value = std::min<int64_t>(value * 10 + (*p - '0'), int64_t{1} << 31);
        if (negative) value = -value;
        part = static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
        if (*p == 0) return;
        ++p;
    }
}

template <class C>
bool newer(const C* a, const C* b) {
    static constexpr C empty[1] = {};
    int32_t va[4], vb[4];
    read_version(a ? a : empty, va);
    read_version(b ? b : empty, vb);
    return std::lexicographical_compare(std::begin(vb), std::end(vb), std::begin(va), std::end(va));
}

}  // namespace

namespace {

// Reads an answer while TinyXML parses it, one "hardware" at a time, so that
// no tree of the whole answer is ever built: a 5 MB answer would take
// several times its size as one. TinyXML's own parse of a document is
// followed step by step for the levels above the hardwares (the document,
// its root element, the root's first "hardwares"); every other node there is
// parsed by TinyXML on its own and dropped, and each hardware is parsed by
// TinyXML into a tree of its own that lives while its offers are read. So
// the same texts are accepted and refused as by a parse of the whole
// document, and each hardware's elements read the same.
//
// The offers found are held until the whole answer has parsed; commit()
// hands them to their devices.
class answer_reader final : public TiXmlDocument {
public:
    explicit answer_reader(device_store& store) : store_(store), devices_(store) {}

    const char* Parse(const char* p, TiXmlParsingData* data, TiXmlEncoding encoding) override;

    // After a parse without error: the offers go to their devices, in the
    // answer's order. False when the answer has no hardware, or when a
    // hardware has no id (the devices named before it are still filled).
    bool commit();

private:
    enum class level { root, hardwares };

    const char* read_element(const char* p, level at);
    const char* read_children(const char* p, level at);
    void read_hardware(const TiXmlElement& hardware);
    void fail() { SetError(TIXML_ERROR, nullptr, nullptr, encoding_); }

    device_store& store_;
    const device_index devices_;
    TiXmlEncoding encoding_ = TIXML_ENCODING_UNKNOWN;
    bool root_seen_ = false;
    bool hardwares_seen_ = false;
    bool hardware_seen_ = false;
    bool id_missing_ = false;
    std::wstring id_;
    offer_scratch scratch_;
    std::vector<std::pair<device_record*, std::vector<driver_offer>>> found_;
};

// The document level, as TiXmlDocument::Parse reads it.
const char* answer_reader::Parse(const char* p, TiXmlParsingData*, TiXmlEncoding encoding) {
    ClearError();
    if (!p || !*p) {
        SetError(TIXML_ERROR_DOCUMENT_EMPTY, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return nullptr;
    }
    encoding_ = encoding;
    if (encoding_ == TIXML_ENCODING_UNKNOWN && std::strncmp(p, "\xEF\xBB\xBF", 3) == 0)
        encoding_ = TIXML_ENCODING_UTF8;
    p = SkipWhiteSpace(p, encoding_);
    bool any = false;
    while (p && *p) {
        std::unique_ptr<TiXmlNode> node(Identify(p, encoding_));
        if (!node) break;
        any = true;
        if (node->ToElement() && !root_seen_) {
            root_seen_ = true;
            p = read_element(p, level::root);
        } else {
            p = node->Parse(p, nullptr, encoding_);
        }
        if (encoding_ == TIXML_ENCODING_UNKNOWN && node->ToDeclaration()) {
            const char* named = node->ToDeclaration()->Encoding();
            encoding_ = !*named || StringEqual(named, "UTF-8", true, TIXML_ENCODING_UNKNOWN) ||
                                StringEqual(named, "UTF8", true, TIXML_ENCODING_UNKNOWN)
                            ? TIXML_ENCODING_UTF8
                            : TIXML_ENCODING_LEGACY;
        }
        p = SkipWhiteSpace(p, encoding_);
    }
    if (!any) {
        SetError(TIXML_ERROR_DOCUMENT_EMPTY, nullptr, nullptr, encoding_);
        return nullptr;
    }
    return p;
}

// The root or the hardwares element, as TiXmlElement::Parse reads one: its
// start tag and attributes, its children, its end tag.
const char* answer_reader::read_element(const char* p, level at) {
    p = SkipWhiteSpace(p, encoding_);
    if (!p || *p != '<') return fail(), nullptr;
    p = SkipWhiteSpace(p + 1, encoding_);
    std::string name;
    p = ReadName(p, &name, encoding_);
    if (!p || !*p) return fail(), nullptr;
    const std::string end_tag = "</" + name;
    std::set<std::string> attributes;
    while (p && *p) {
        p = SkipWhiteSpace(p, encoding_);
        if (!p || !*p) return fail(), nullptr;
        if (*p == '/') {
            ++p;
            if (*p != '>') return fail(), nullptr;
            return p + 1;
        }
        if (*p == '>') {
            p = read_children(p + 1, at);
            if (!p || !*p || !StringEqual(p, end_tag.c_str(), false, encoding_)) return fail(), nullptr;
            p = SkipWhiteSpace(p + end_tag.size(), encoding_);
            if (!p || *p != '>') return fail(), nullptr;
            return p + 1;
        }
        TiXmlAttribute attribute;
        attribute.SetDocument(this);
        p = attribute.Parse(p, nullptr, encoding_);
        if (!p || !*p || !attributes.insert(attribute.NameTStr()).second) return fail(), nullptr;
    }
    return p;
}

// The children of the root or of the hardwares element, as
// TiXmlElement::ReadValue reads them.
const char* answer_reader::read_children(const char* p, level at) {
    const char* with_white_space = p;
    p = SkipWhiteSpace(p, encoding_);
    while (p && *p) {
        if (*p != '<') {
            TiXmlText text("");
            p = text.Parse(IsWhiteSpaceCondensed() ? p : with_white_space, nullptr, encoding_);
        } else if (StringEqual(p, "</", false, encoding_)) {
            return p;
        } else {
            std::unique_ptr<TiXmlNode> node(Identify(p, encoding_));
            if (!node) return nullptr;
            std::string name;
            if (at == level::root && !hardwares_seen_ && node->ToElement() &&
                ReadName(p + 1, &name, encoding_) && name == "hardwares") {
                hardwares_seen_ = true;
                p = read_element(p, level::hardwares);
            } else {
                p = node->Parse(p, nullptr, encoding_);
                const TiXmlElement* element = node->ToElement();
                if (p && at == level::hardwares && element && element->ValueStr() == "hardware")
                    read_hardware(*element);
            }
        }
        with_white_space = p;
        p = SkipWhiteSpace(p, encoding_);
    }
    if (!p) fail();
    return p;
}

void answer_reader::read_hardware(const TiXmlElement& hardware) {
    hardware_seen_ = true;
    if (id_missing_) return;
    const TiXmlElement* id = hardware.FirstChildElement("id");
    if (!id) {
        id_missing_ = true;
        return;
    }
    ansi_to_wide(text_of(id), id_);
    if (device_record* device = devices_.find(store_, id_))
        found_.emplace_back(device, read_offers(hardware, scratch_));
}

bool answer_reader::commit() {
    if (!hardware_seen_) return false;
    for (auto& [device, offers] : found_) {
        device->offer_count = static_cast<uint32_t>(offers.size());
        device->offers = std::move(offers);
        device->best_offer = device->latest_offer = nullptr;
        device->best_is_update = device->latest_is_update = 0;
    }
    found_.clear();
    return !id_missing_;
}

template <class Parse>
bool parse_answer(device_store& store, Parse&& parse) {
    try {
        answer_reader reader(store);
        return parse(reader) == xml_parse::ok && reader.commit();
    } catch (const std::bad_alloc&) {
        // An answer too large for the memory left is a broken answer; the
        // devices keep their earlier offers.
        return false;
    }
}

}  // namespace

bool parse_scan_answer(const char* text, device_store& store) {
    if (!text) return false;
    return parse_answer(store, [text](TiXmlDocument& doc) { return parse_xml(doc, text); });
}

bool parse_scan_answer(const char* buffer, std::size_t size, device_store& store) {
    if (!buffer) return false;
    return parse_answer(store, [buffer, size](TiXmlDocument& doc) {
        return parse_xml_in_buffer(doc, buffer, size);
    });
}

void load_installed_set(update_client& client, const wchar_t* path) {
    FILE* file = _wfopen(path, L"rb");
    if (!file) return;
    client.installed.clear();
    char line[1025];  // a longer line is read in pieces of 1024 bytes
    while (std::fgets(line, sizeof(line), file)) {
        std::string_view entry(line);
        const std::size_t first = entry.find_first_not_of(" \t\n\r");
        if (first == std::string_view::npos) continue;
        entry = entry.substr(first, entry.find_last_not_of(" \t\n\r") - first + 1);
        client.installed.emplace(entry);
    }
    std::fclose(file);
}

std::wstring setup_dat_path() { return std::wstring(program_dir) + L"setup.dat"; }

bool version_newer(const char* a, const char* b) { return newer(a, b); }
bool version_newer(const wchar_t* a, const wchar_t* b) { return newer(a, b); }

bool offer_better(const driver_offer& a, const driver_offer& b, int32_t os_version) {
    if (a.targetos != b.targetos) {
        const int64_t v = os_version;
        return std::llabs(v - a.targetos) < std::llabs(v - b.targetos);
    }
    if (a.sign != b.sign) return a.sign < b.sign;
    if (a.feature != b.feature) return a.feature < b.feature;
    if (a.cp != b.cp) return a.cp < b.cp;
    if (int order = std::wcscmp(a.date, b.date)) return order > 0;
    return version_newer(a.version, b.version);
}

namespace {

// Is the offer newer than the installed driver by date, or by version on the
// same date?
bool newer_than_installed(const driver_offer& offer, const device_record& device) {
    if (int order = std::wcscmp(offer.date, device.DriverDate)) return order > 0;
    return version_newer(offer.version, device.DriverVersion);
}

bool best_is_update(const driver_offer& offer, const device_record& device, int32_t v) {
    const uint32_t r = device.driver_rank;
    uint32_t installed_sign;
    if (v < 60)
        installed_sign = (r & 0xC000) ? 3 : 0;
    else
        installed_sign = r >= 0x80000000u ? 3 : r >= 0x0F000000u ? 1 : 0;
    const uint32_t installed_feature = v < 60 ? 255 : (r >> 16) & 0xFF;
    if (offer.sign != installed_sign) return offer.sign < installed_sign;
    if (offer.feature != installed_feature) return offer.feature < installed_feature;
    if (StrCmpIW(offer.hardid, device.MatchingDeviceId) != 0) return true;
    return newer_than_installed(offer, device);
}

}  // namespace

void evaluate_device(const update_client& client, device_record& device,
                     const scan_query_params& params) {
    const std::size_t count = std::min<std::size_t>(device.offer_count, device.offers.size());
    if (count == 0) return;
    const driver_offer* best = &device.offers[0];
    const driver_offer* latest = &device.offers[0];
    for (std::size_t i = 1; i < count; ++i) {
        const driver_offer& offer = device.offers[i];
        if (offer_better(offer, *best, params.os_version)) best = &offer;
        if (std::wcscmp(offer.date, latest->date) > 0) latest = &offer;
    }
    device.best_offer = best;
    device.latest_offer = latest;
    if (!device.has_driver) {
        device.best_is_update = device.latest_is_update = 1;
        return;
    }
    device.best_is_update = best_is_update(*best, device, params.os_version) &&
                            client.installed.count(best->link.c_str()) == 0;
    device.latest_is_update = newer_than_installed(*latest, device) &&
                              client.installed.count(latest->link.c_str()) == 0;
}
