#include "service/scan_response.h"

#include <windows.h>
#include <shlwapi.h>
#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>
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

// An unsigned 32-bit number as strtoul reads it (leading blanks, a sign, an
// optional 0x in base 16), except that a value out of range, negative ones
// included, reads as the largest value rather than wrapping. No digits: 0.
uint32_t parse_number(const char* text, int base) {
    const char* p = text;
    while (is_space(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) p += 2;
    constexpr uint64_t limit = std::numeric_limits<uint32_t>::max();
    uint64_t value = 0;
    bool any = false;
    for (; digit_value(static_cast<unsigned char>(*p)) < base; ++p) {
        any = true;
        value = std::min(value * base + digit_value(static_cast<unsigned char>(*p)), limit + 1);
    }
    if (!any) return 0;
    if (value > limit || (negative && value != 0)) return static_cast<uint32_t>(limit);
    return static_cast<uint32_t>(value);
}

// The INF name: the offered path with "/" turned into "\" and its first
// folder taken off (a/b/oem.inf gives b\oem.inf). A bare file name is kept as
// it is: the INF lies at the package root.
void set_inf_name(driver_offer& offer, std::wstring& inf) {
    if (inf.size() > 259) inf.resize(259);
    std::replace(inf.begin(), inf.end(), L'/', L'\\');
    std::size_t slash = inf.find(L'\\');
    offer.inf_name = slash == std::wstring::npos ? std::wstring_view(inf)
                                                 : std::wstring_view(inf).substr(slash + 1);
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

// Fills a zeroed offer from one item: each field from the first element of
// its name, in one pass over the item's children; an absent one stays empty
// or 0. `wide` is room for the conversions, reused from offer to offer.
void read_offer(const TiXmlElement& item, driver_offer& o, std::wstring& wide) {
    uint32_t seen = 0;
    for (const TiXmlElement* e = item.FirstChildElement(); e; e = e->NextSiblingElement()) {
        const int f = field_of(e->Value());
        if (f < 0 || (seen & (1u << f))) continue;
        seen |= 1u << f;
        const char* text = text_of(e);
        auto wide_text = [&]() -> std::wstring_view {
            ansi_to_wide(text, wide);
            return wide;
        };
        switch (f) {
        case f_hardid: o.hardid = wide_text(); break;
        case f_title: o.title = wide_text(); break;
        case f_ver: o.version = wide_text(); break;
        case f_guid: o.guid = wide_text(); break;
        case f_link: o.link = text; break;
        case f_official_link: o.official_link = text; break;
        case f_infpath: ansi_to_wide(text, wide); set_inf_name(o, wide); break;
        case f_manu: o.manufacturer = wide_text(); break;
        case f_date: o.date = wide_text(); break;
        case f_desc: o.description = wide_text(); break;
        case f_size: o.size = parse_number(text, 10); break;
        case f_cp: o.cp = parse_number(text, 10); break;
        case f_sign: o.sign = parse_number(text, 10); break;
        case f_feature: o.feature = parse_number(text, 16); break;
        case f_targetos: o.targetos = parse_number(text, 10); break;
        }
    }
}

// Replaces the device's offers with those of one hardware element (at most
// 500). The choice and the flags of the old offers go with them.
void read_offers(const TiXmlElement& hardware, device_record& device, std::wstring& wide) {
    uint32_t count = 0;
    for (const TiXmlElement* item = hardware.FirstChildElement("item");
         item && count < max_offers_per_device; item = item->NextSiblingElement("item"))
        ++count;
    std::vector<driver_offer> offers(count);
    const TiXmlElement* item = hardware.FirstChildElement("item");
    for (driver_offer& offer : offers) {
        read_offer(*item, offer, wide);
        item = item->NextSiblingElement("item");
    }
    device.offers = std::move(offers);
    device.offer_count = count;
    device.best_offer = device.latest_offer = nullptr;
    device.best_is_update = device.latest_is_update = 0;
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

// The walk over a parsed answer.
bool read_answer(const TiXmlDocument& doc, device_store& store) {
    const TiXmlElement* root = doc.RootElement();
    const TiXmlElement* hardwares = root ? root->FirstChildElement("hardwares") : nullptr;
    const TiXmlElement* hardware = hardwares ? hardwares->FirstChildElement("hardware") : nullptr;
    if (!hardware) return false;
    const device_index devices(store);
    std::wstring wide;
    for (; hardware; hardware = hardware->NextSiblingElement("hardware")) {
        const TiXmlElement* id = hardware->FirstChildElement("id");
        if (!id) return false;
        ansi_to_wide(text_of(id), wide);
        device_record* device = devices.find(store, wide);
        if (device) read_offers(*hardware, *device, wide);
    }
    return true;
}

template <class Parse>
bool parse_answer(device_store& store, Parse&& parse) {
    try {
        TiXmlDocument doc;
        return parse(doc) == xml_parse::ok && read_answer(doc, store);
    } catch (const std::bad_alloc&) {
        // An answer too large for the memory left is a broken answer; a
        // device keeps its earlier offers unless its new ones were complete.
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
