// The answer parser reads a large answer hardware by hardware: it must take
// and refuse the same texts as a parse of the whole document, and fill the
// same offers.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "devices/device_store.h"
#include "platform/xml_guard.h"
#include "service/scan_response.h"

namespace {

struct expected_offer {
    std::wstring hardid, title, version, link, inf_name, description;
    uint32_t size = 0, cp = 0, feature = 0;
};

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string device_id(int i) {
    char id[48];
    std::snprintf(id, sizeof(id), "PCI\\VEN_%04X&DEV_%04X", 0x1000 + i % 97, i);
    return id;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '&' ? std::string("&amp;") : std::string(1, c);
    return out;
}

// A large answer with the shapes a service may send (entities, CDATA,
// comments, blanks, unknown elements, repeated fields and devices, nodes
// around the hardwares), and the offers it must give each device.
struct large_answer {
    std::string text;
    std::map<std::string, std::vector<expected_offer>> offers;  // by device id

    explicit large_answer(int devices) {
        text = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<!-- made for the test -->\n"
               "<tarnwick version='2'>\n <status>ok</status><?note keep?>\n<hardwares count=\"x\">\n";
        for (int i = 0; i < devices; ++i) {
            const std::string id = device_id(i);
            std::vector<expected_offer>& list = offers[id];
            list.clear();  // a device named twice takes its last hardware's offers
            text += i % 7 == 0 ? "<hardware><id><![CDATA[" + id + "]]></id>"
                               : "<hardware>\n  <id>" + escaped(id) + "</id>";
            for (int k = 0; k < i % 5; ++k) {
                expected_offer o;
                const std::string n = std::to_string(i) + "." + std::to_string(k);
                o.hardid = wide(id);
                o.title = L"Driver " + wide(n) + L" <A&B>";
                o.version = L"1.2." + wide(n);
                o.link = L"http://h/p/" + wide(n) + L".zip";
                o.inf_name = L"win7\\x64\\d" + wide(n) + L".inf";
                o.description = L"  spaced\t" + wide(n) + L" ";
                o.size = 1000u * i + k;
                o.cp = k;
                o.feature = 0xff - k;
                char feature[16];
                std::snprintf(feature, sizeof(feature), "%x", o.feature);
                text += "<item><hardid>" + escaped(id) + "</hardid><title>Driver " + n +
                        " &lt;A&amp;B&gt;</title><title>second</title><!-- c --><ver>1.2." + n +
                        "</ver><link>http://h/p/" + n + ".zip</link><unknown a='1'><x/></unknown>"
                        "<infpath>pkg/win7/x64/d" + n + ".inf</infpath><desc><![CDATA[  spaced\t" + n +
                        " ]]></desc><size>" + std::to_string(o.size) + "</size><cp> " +
                        std::to_string(o.cp) + "</cp><feature>" + feature + "</feature></item>\n";
                list.push_back(o);
            }
            text += "</hardware>\n";
            if (i % 11 == 0) text += "<!-- between --> text between <other><hardware/></other>\n";
            // A device named again further on: its earlier offers go.
            if (i % 13 == 12) text += "<hardware><id>" + escaped(device_id(i - 1)) + "</id></hardware>";
            if (i % 13 == 12) offers[device_id(i - 1)].clear();
        }
        text += "<hardware><id>NOT\\PRESENT</id><item><cp>1</cp></item></hardware></hardwares >\n"
                "<hardwares><hardware><id>" + escaped(device_id(1)) + "</id><item/></hardware></hardwares>\n"
                "</tarnwick>\n<!-- after -->\n";
    }
};

device_store store_of(const std::map<std::string, std::vector<expected_offer>>& offers) {
    device_store store;
    for (const auto& entry : offers) {
        device_record d;
        const std::wstring id = wide(entry.first);
        wcsncpy_s(d.device_id, _countof(d.device_id), id.c_str(), _TRUNCATE);
        store.devices.push_back(std::move(d));
    }
    return store;
}

TEST(AnswerStream, ALargeAnswerGivesEveryDeviceItsOffers) {
    const large_answer answer(6000);
    ASSERT_GT(answer.text.size(), 3u << 20);
    device_store store = store_of(answer.offers);
    // In the buffer the program receives it in, with zero bytes after it.
    std::vector<char> buffer(answer.text.begin(), answer.text.end());
    buffer.resize(buffer.size() + 64, '\0');
    ASSERT_TRUE(parse_scan_answer(buffer.data(), buffer.size(), store));
    std::size_t checked = 0;
    for (const device_record& d : store.devices) {
        std::string id;
        for (const wchar_t* c = d.device_id; *c; ++c) id += static_cast<char>(*c);
        const std::vector<expected_offer>& want = answer.offers.at(id);
        ASSERT_EQ(d.offer_count, want.size()) << id;
        ASSERT_EQ(d.offers.size(), want.size()) << id;
        for (std::size_t k = 0; k < want.size(); ++k, ++checked) {
            const driver_offer& o = d.offers[k];
            const expected_offer& w = want[k];
            ASSERT_EQ(std::wstring(o.hardid), w.hardid) << id;
            ASSERT_EQ(std::wstring(o.title), w.title) << id;
            ASSERT_EQ(std::wstring(o.version), w.version) << id;
            ASSERT_EQ(wide(o.link.c_str()), w.link) << id;
            ASSERT_EQ(std::wstring(o.inf_name), w.inf_name) << id;
            ASSERT_EQ(std::wstring(o.description), w.description) << id;
            ASSERT_EQ(o.size, w.size) << id;
            ASSERT_EQ(o.cp, w.cp) << id;
            ASSERT_EQ(o.feature, w.feature) << id;
        }
    }
    EXPECT_GT(checked, 10000u);
}

// What a parse of the whole document into one tree gives: whether the
// answer is taken, and each device's offer count.
struct whole_tree_reading {
    bool taken = false;
    bool well_formed = false;
    std::map<std::wstring, uint32_t> counts;
};

whole_tree_reading read_whole(const std::string& text) {
    whole_tree_reading r;
    TiXmlDocument doc;
    r.well_formed = parse_xml(doc, text) == xml_parse::ok;
    if (!r.well_formed) return r;
    const TiXmlElement* root = doc.RootElement();
    const TiXmlElement* hardwares = root ? root->FirstChildElement("hardwares") : nullptr;
    const TiXmlElement* hardware = hardwares ? hardwares->FirstChildElement("hardware") : nullptr;
    if (!hardware) return r;
    for (; hardware; hardware = hardware->NextSiblingElement("hardware")) {
        const TiXmlElement* id = hardware->FirstChildElement("id");
        if (!id) return r;
        uint32_t n = 0;
        for (const TiXmlElement* item = hardware->FirstChildElement("item"); item;
             item = item->NextSiblingElement("item"))
            ++n;
        r.counts[wide(id->GetText() ? id->GetText() : "")] = n;
    }
    r.taken = true;
    return r;
}

// Every cut and every one-byte change of a small answer rich in markup is
// taken or refused as the whole-document parse takes or refuses it, and a
// refused document leaves every device's offers as they were.
TEST(AnswerStream, TakesAndRefusesWhatTheWholeDocumentParseDoes) {
    const std::string good =
        "\xEF\xBB\xBF<?xml version=\"1.0\"?><!DOCTYPE t><!-- c -->\n<t a=\"1\" b='2'> x <hardwares z=\"1\">"
        "<?p?><hardware><id>A</id><item><cp>1</cp></item><item/></hardware> y "
        "<hardware ><id>B</id><item><title><![CDATA[<t>]]></title></item></hardware>"
        "<hardwarez/><hardware><id>A</id></hardware></hardwares><hardwares/><e/></t> <!-- z -->";
    ASSERT_TRUE(read_whole(good).taken);
    std::vector<std::string> variants;
    for (std::size_t cut = 0; cut <= good.size(); ++cut) variants.push_back(good.substr(0, cut));
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (char c : {'<', '>', '/', 'x', ' ', '"'}) {
            std::string changed = good;
            changed[at] = c;
            variants.push_back(changed);
        }
    }
    int taken = 0, refused_as_broken = 0;
    for (const std::string& text : variants) {
        const whole_tree_reading want = read_whole(text);
        device_store store;
        for (const wchar_t* id : {L"A", L"B"}) {
            device_record d;
            wcsncpy_s(d.device_id, _countof(d.device_id), id, _TRUNCATE);
            d.offers.resize(7);
            d.offer_count = 7;
            store.devices.push_back(std::move(d));
        }
        ASSERT_EQ(parse_scan_answer(text.c_str(), store), want.taken) << text;
        if (want.taken) {
            ++taken;
            for (const device_record& d : store.devices) {
                const auto found = want.counts.find(d.device_id);
                EXPECT_EQ(d.offer_count, found == want.counts.end() ? 7u : found->second) << text;
            }
        } else if (!want.well_formed) {
            ++refused_as_broken;
            for (const device_record& d : store.devices) EXPECT_EQ(d.offer_count, 7u) << text;
        }
    }
    // Both kinds came up many times.
    EXPECT_GT(taken, 100);
    EXPECT_GT(refused_as_broken, 100);
}

// An offer read from an answer keeps its texts in one block: copies, moves
// and later assignments must each leave every text whole and terminated.
TEST(OfferTexts, OneBlockSurvivesCopiesMovesAndAssignments) {
    const std::wstring long_title(400, L't');
    const std::string long_link(4000, 'l');
    offer_texts texts;
    texts.title = long_title;
    texts.version = L"1.2.3.4";
    texts.date = L"2014-10-22";
    texts.link = long_link;
    texts.official_link = "http://o";
    auto check = [&](const driver_offer& o) {
        EXPECT_EQ(o.title.view(), std::wstring_view(long_title).substr(0, 256));  // cut to capacity
        EXPECT_EQ(std::wcslen(o.title), 256u);
        EXPECT_STREQ(o.version, L"1.2.3.4");
        EXPECT_STREQ(o.date, L"2014-10-22");
        EXPECT_EQ(std::string(o.link), long_link.substr(0, 3072));
        EXPECT_STREQ(o.official_link, "http://o");
        EXPECT_STREQ(o.hardid, L"");  // not given: empty
        EXPECT_TRUE(o.guid.empty());
    };

    std::vector<driver_offer> offers(1);
    offers[0].set_texts(texts);
    check(offers[0]);
    driver_offer copy = offers[0];
    // The vector's growth moves its offers to a new block of memory.
    for (int i = 0; i < 100; ++i) offers.emplace_back().set_texts(texts);
    check(offers[0]);
    check(offers[100]);
    offers.clear();
    check(copy);  // the copy does not read the original's block

    driver_offer moved = std::move(copy);
    check(moved);
    driver_offer assigned;
    assigned = moved;
    assigned = assigned;
    check(assigned);
    moved = std::move(assigned);
    check(moved);

    // One text set again: the others keep theirs.
    moved.version = std::wstring_view(L"9.9");
    EXPECT_STREQ(moved.version, L"9.9");
    EXPECT_STREQ(moved.date, L"2014-10-22");
    // Set anew: texts not given are empty again.
    offer_texts fewer;
    fewer.date = L"2015-01-01";
    moved.set_texts(fewer);
    EXPECT_STREQ(moved.date, L"2015-01-01");
    EXPECT_STREQ(moved.version, L"");
    EXPECT_STREQ(moved.link, "");
}

}  // namespace
