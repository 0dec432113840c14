// The answer parser, the installed package set, version comparison, offer
// ranking and the update decisions.
#include "service/scan_response.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "devices/device_store.h"
#include "common/page_end_text.h"
#include "common/reference_service.h"
#include "platform/text.h"
#include "service/scan_request.h"
#include "service/update_client.h"

namespace {

device_store store_of(std::initializer_list<const wchar_t*> ids) {
    device_store store;
    for (const wchar_t* id : ids) {
        device_record d;
        wcscpy_s(d.device_id, id);
        store.devices.push_back(std::move(d));
    }
    return store;
}

std::string item(const std::string& fields) { return "<item>" + fields + "</item>"; }
std::string answer(const std::string& hardwares) {
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r><hardwares>" + hardwares +
           "</hardwares></r>";
}

TEST(AnswerParsing, FieldsCapacitiesAndNumbers) {
    device_store store = store_of({L"PCI\\A", L"PCI\\B"});
    const std::string long_link(4000, 'l');
    const std::string text = answer(
        "<hardware><id>PCI\\B</id>" +
        item("<hardid>PCI\\VEN_1</hardid><title>T &amp; U</title><ver>1.2.3.4</ver>"
             "<guid>{g}</guid><link>" + long_link + "</link><official_link>http://o</official_link>"
             "<infpath>pkg/win7/x64/a.inf</infpath><manu>M\xe4</manu><date>2013-01-10</date>"
             "<desc><![CDATA[d <b>]]></desc><size>4294967296</size><cp>2</cp><sign>-1</sign>"
             "<feature>ff</feature><targetos>61</targetos><extra>x</extra>") +
        item("<feature>12</feature><infpath>a\\b/c.inf</infpath>") +
        item("<infpath>oem.inf</infpath><size> 17 </size>") +
        "</hardware><hardware><id>PCI\\unknown</id>" + item("") + "</hardware>");
    ASSERT_TRUE(parse_scan_answer(text.c_str(), store));
    EXPECT_EQ(store.devices[0].offer_count, 0u);
    device_record& d = store.devices[1];
    ASSERT_EQ(d.offer_count, 3u);
    ASSERT_EQ(d.offers.size(), 3u);
    const driver_offer& o = d.offers[0];
    EXPECT_STREQ(o.hardid, L"PCI\\VEN_1");
    EXPECT_STREQ(o.title, L"T & U");
    EXPECT_STREQ(o.version, L"1.2.3.4");
    EXPECT_EQ(std::string(o.link), long_link.substr(0, 3072));
    EXPECT_STREQ(o.official_link, "http://o");
    EXPECT_STREQ(o.inf_name, L"win7\\x64\\a.inf");
    EXPECT_STREQ(o.description, L"d <b>");
    EXPECT_EQ(o.size, 4294967296u);  // packages of 4 GiB and more keep their size
    EXPECT_EQ(o.sign, 0xFFFFFFFFu);  // negative: out of range as well
    EXPECT_EQ(o.cp, 2u);
    EXPECT_EQ(o.feature, 255u);
    EXPECT_EQ(o.targetos, 61u);
    EXPECT_EQ(d.offers[1].feature, 18u);
    EXPECT_STREQ(d.offers[1].inf_name, L"b\\c.inf");
    EXPECT_STREQ(d.offers[1].title, L"");  // absent elements: empty and 0
    EXPECT_EQ(d.offers[1].size, 0u);
    EXPECT_STREQ(d.offers[2].inf_name, L"oem.inf");
    EXPECT_EQ(d.offers[2].size, 17u);
}

TEST(AnswerParsing, TheFirstElementOfAFieldCounts) {
    device_store store = store_of({L"X"});
    ASSERT_TRUE(parse_scan_answer(
        answer("<hardware><id>X</id>" +
               item("<title>first</title><cp>1</cp><title>second</title><cp>2</cp>"
                    "<link>http://a</link><link>http://b</link><infpath>p/one.inf</infpath>"
                    "<infpath>p/two.inf</infpath><item><title>nested</title></item>") +
               "</hardware>").c_str(),
        store));
    const driver_offer& o = store.devices[0].offers.at(0);
    EXPECT_STREQ(o.title, L"first");
    EXPECT_EQ(o.cp, 1u);
    EXPECT_STREQ(o.link, "http://a");
    EXPECT_STREQ(o.inf_name, L"one.inf");
}

TEST(AnswerParsing, AnAnswerInItsBufferWithOrWithoutRoomAfterIt) {
    const std::string text = answer("<hardware><id>X</id>" + item("<cp>5</cp>") + "</hardware>");
    // Zero bytes after the answer: parsed where it lies; none, or too few:
    // parsed from a copy; the answer ends at the buffer's first NUL either way.
    for (std::size_t room : {std::size_t{64}, std::size_t{3}, std::size_t{0}}) {
        std::vector<char> buffer(text.begin(), text.end());
        buffer.resize(text.size() + room, '\0');
        device_store store = store_of({L"X"});
        ASSERT_TRUE(parse_scan_answer(buffer.data(), buffer.size(), store)) << room;
        ASSERT_EQ(store.devices[0].offer_count, 1u) << room;
        EXPECT_EQ(store.devices[0].offers[0].cp, 5u);
    }
    std::vector<char> garbage(text.begin(), text.end());
    garbage.push_back('\0');
    const std::string after = "<broken";
    garbage.insert(garbage.end(), after.begin(), after.end());
    garbage.resize(garbage.size() + 16, '\0');
    device_store store = store_of({L"X"});
    EXPECT_TRUE(parse_scan_answer(garbage.data(), garbage.size(), store));
    EXPECT_FALSE(parse_scan_answer(after.data(), after.size(), store));
}

TEST(AnswerParsing, AtMost500OffersPerDevice) {
    device_store store = store_of({L"X"});
    std::string items;
    for (int i = 0; i < 600; ++i) items += item("<cp>" + std::to_string(i) + "</cp>");
    ASSERT_TRUE(parse_scan_answer(answer("<hardware><id>X</id>" + items + "</hardware>").c_str(), store));
    ASSERT_EQ(store.devices[0].offer_count, 500u);
    EXPECT_EQ(store.devices[0].offers[499].cp, 499u);
}

TEST(AnswerParsing, BrokenAnswers) {
    device_store store = store_of({L"A", L"B"});
    for (const char* text : {"", "not xml", "<r/>", "<r><hardwares/></r>",
                             "<r><hardwares><hardware><item/></hardware></hardwares></r>",
                             "<r><hardwares><hardware><id>A</id><item><cp>1</cp></item></hardware>"}) {
        EXPECT_FALSE(parse_scan_answer(text, store)) << text;
    }
    EXPECT_FALSE(parse_scan_answer(nullptr, store));
    // A later hardware without id fails the parse; devices filled before keep
    // their offers, but nothing points into the array they replaced.
    store.devices[0].offers.resize(2);
    store.devices[0].offer_count = 2;
    store.devices[0].best_offer = &store.devices[0].offers[1];
    store.devices[0].best_is_update = 1;
    EXPECT_FALSE(parse_scan_answer(
        answer("<hardware><id>A</id>" + item("<cp>7</cp>") + "</hardware><hardware>" + item("") +
               "</hardware><hardware><id>B</id>" + item("") + "</hardware>").c_str(),
        store));
    ASSERT_EQ(store.devices[0].offer_count, 1u);
    EXPECT_EQ(store.devices[0].offers[0].cp, 7u);
    EXPECT_EQ(store.devices[0].best_offer, nullptr);
    EXPECT_EQ(store.devices[0].best_is_update, 0);
    EXPECT_EQ(store.devices[1].offer_count, 0u);
    // A hardware with an empty id names no device and is no error.
    EXPECT_TRUE(parse_scan_answer(answer("<hardware><id></id></hardware>").c_str(), store));
}

TEST(AnswerParsing, TextsKeepTheirWhiteSpaceAndIdsMatchWithLetterCase) {
    device_store store = store_of({L"pci\\x", L"PCI\\X"});
    ASSERT_TRUE(parse_scan_answer(
        answer("<hardware><id>PCI\\X</id>" +
               item("<link>http://h/a  b.zip</link><title>  T\t U </title><cp> 3 </cp>") +
               "</hardware><hardware><id>PCI\\x</id>" + item("") + "</hardware>").c_str(),
        store));
    // Exact letter case: "PCI\x" names no device, "PCI\X" only the second.
    EXPECT_EQ(store.devices[0].offer_count, 0u);
    ASSERT_EQ(store.devices[1].offer_count, 1u);
    const driver_offer& o = store.devices[1].offers[0];
    EXPECT_STREQ(o.link, "http://h/a  b.zip");  // the package's identity as sent
    EXPECT_STREQ(o.title, L"  T\t U ");
    EXPECT_EQ(o.cp, 3u);
}

TEST(AnswerParsing, NestingBeyondTheLimitIsABrokenAnswer) {
    device_store store = store_of({L"X"});
    std::string deep;
    for (int i = 0; i < 6000; ++i) deep += "<a>";
    EXPECT_FALSE(parse_scan_answer(answer("<hardware><id>X</id>" + item(deep)).c_str(), store));
    EXPECT_EQ(store.devices[0].offer_count, 0u);
    // The answer's own five levels and some room are fine.
    std::string nested = "<desc>", closing = "</desc>";
    for (int i = 0; i < 50; ++i) {
        nested += "<n>";
        closing = "</n>" + closing;
    }
    ASSERT_TRUE(parse_scan_answer(
        answer("<hardware><id>X</id>" + item(nested + closing) + "</hardware>").c_str(), store));
    EXPECT_EQ(store.devices[0].offer_count, 1u);
}

TEST(AnswerParsing, AnAnswerEndingInALeadByteIsNotReadPastItsEnd) {
    device_store store = store_of({L"X"});
    for (const char* tail : {"<r><hardwares><hardware><id>\xF0", "<r><hardwares><hardware><id>X</id><item><title>\xE2",
                             "<r><hardwares><hardware><id a=\"\xF0"}) {
        page_end_text text(std::string("<?xml version=\"1.0\"?>") + tail);
        ASSERT_NE(text.c_str(), nullptr);
        EXPECT_FALSE(parse_scan_answer(text.c_str(), store)) << tail;
    }
}

TEST(AnswerParsing, ManyEmptyOffersTakeMemoryByTheirSize) {
    // 500 devices with 500 empty items each: 1.75 MB of answer. Fixed-size
    // records of all capacities would take about 2 GB.
    static_assert(sizeof(driver_offer) < 512, "an offer's texts are not stored inline");
    std::vector<std::wstring> ids;
    device_store store;
    std::string hardwares;
    std::string items;
    for (int i = 0; i < 500; ++i) items += "<item/>";
    for (int d = 0; d < 500; ++d) {
        device_record r;
        swprintf(r.device_id, 16, L"D%d", d);
        store.devices.push_back(std::move(r));
        hardwares += "<hardware><id>D" + std::to_string(d) + "</id>" + items + "</hardware>";
    }
    ASSERT_TRUE(parse_scan_answer(answer(hardwares).c_str(), store));
    EXPECT_EQ(store.devices[0].offer_count, 500u);
    EXPECT_EQ(store.devices[499].offer_count, 500u);
    EXPECT_STREQ(store.devices[499].offers[499].title, L"");
}

TEST(AnswerParsing, AFlatFiveMegabyteAnswer) {
    device_store store = store_of({L"X"});
    const std::string one = item("<hardid>PCI\\VEN_8086&amp;DEV_0166</hardid><title>Intel HD Graphics</title>"
                                 "<ver>9.17.10.2867</ver><link>http://example.com/drivers/a.zip</link>"
                                 "<date>2012-10-03</date><size>123456</size><cp>1</cp><sign>0</sign>");
    std::string hardwares;
    while (hardwares.size() < (5u << 20) - 4096)
        hardwares += "<hardware><id>Y</id>" + one + one + one + one + "</hardware>";
    const std::string text = answer(hardwares + "<hardware><id>X</id>" + one + "</hardware>");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(parse_scan_answer(text.c_str(), store));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(store.devices[0].offer_count, 1u);
    // Measured, not judged: the time goes to the test log.
    RecordProperty("parse_ms", static_cast<int>(ms.count()));
    std::printf("a flat answer of %zu bytes parsed in %lld ms\n", text.size(), static_cast<long long>(ms.count()));
}

TEST(Versions, NumericComparison) {
    EXPECT_TRUE(version_newer("6.1.7601.0", "6.1.7600.16385"));
    EXPECT_FALSE(version_newer("6.1.7600.16385", "6.1.7601.0"));
    EXPECT_FALSE(version_newer("1.2", "1.2.0.0"));
    EXPECT_FALSE(version_newer("1.2.0.0", "1.2"));
    EXPECT_TRUE(version_newer("10.0", "9.99.99.99"));
    EXPECT_TRUE(version_newer("1.2.3.5", "1.2.3.4"));
    EXPECT_FALSE(version_newer("1.x.9", "1.0"));  // a component that cannot be read ends it
    EXPECT_TRUE(version_newer("1.2", "1.-2"));
    EXPECT_FALSE(version_newer("99999999999999999999", "2147483647"));  // saturates, no overflow
    EXPECT_TRUE(version_newer("", "") == false);
    EXPECT_TRUE(version_newer(L"6.1.7601.0", L"6.1.7600.16385"));
}

driver_offer offer(uint32_t targetos, uint32_t sign, uint32_t feature, uint32_t cp,
                   const wchar_t* date, const wchar_t* version = L"1.0.0.0") {
    driver_offer o;
    o.targetos = targetos;
    o.sign = sign;
    o.feature = feature;
    o.cp = cp;
    o.date = date;
    o.version = version;
    return o;
}

TEST(Ranking, EachTestDecidesInTurn) {
    // Nearer target OS wins even against a better signature.
    EXPECT_TRUE(offer_better(offer(61, 3, 255, 9, L"2010-01-01"), offer(51, 0, 0, 0, L"2015-01-01"), 61));
    // Equal distance: decided, and a is not better (no fall-through to sign).
    EXPECT_FALSE(offer_better(offer(62, 0, 0, 0, L"2015-01-01"), offer(60, 3, 9, 9, L"2010-01-01"), 61));
    EXPECT_FALSE(offer_better(offer(60, 3, 9, 9, L"2010-01-01"), offer(62, 0, 0, 0, L"2015-01-01"), 61));
    // A huge target OS is far away, not wrapped around.
    EXPECT_TRUE(offer_better(offer(61, 0, 0, 0, L"x"), offer(0xFFFFFFFF, 0, 0, 0, L"x"), 61));
    EXPECT_TRUE(offer_better(offer(61, 0, 9, 9, L"2010"), offer(61, 1, 0, 0, L"2015"), 61));
    EXPECT_TRUE(offer_better(offer(61, 0, 0, 9, L"2010"), offer(61, 0, 1, 0, L"2015"), 61));
    EXPECT_TRUE(offer_better(offer(61, 0, 0, 0, L"2010"), offer(61, 0, 0, 1, L"2015"), 61));
    EXPECT_TRUE(offer_better(offer(61, 0, 0, 0, L"2015-01-01", L"1"), offer(61, 0, 0, 0, L"2010-01-01", L"9"), 61));
    EXPECT_TRUE(offer_better(offer(61, 0, 0, 0, L"2015", L"1.10"), offer(61, 0, 0, 0, L"2015", L"1.9"), 61));
    EXPECT_FALSE(offer_better(offer(61, 0, 0, 0, L"2015", L"1.9"), offer(61, 0, 0, 0, L"2015", L"1.9"), 61));
}

class Decisions : public ::testing::Test {
protected:
    void SetUp() override {
        params.os_version = 61;
        wcscpy_s(device.DriverDate, L"2012-06-13");
        wcscpy_s(device.DriverVersion, L"6.0.1.6662");
        wcscpy_s(device.MatchingDeviceId, L"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269");
        device.has_driver = 1;
        device.driver_rank = 0x00FF0000;  // signed (S 0), no feature score (F 255)
    }
    void give(std::initializer_list<driver_offer> offers) {
        device.offers.assign(offers.begin(), offers.end());
        device.offer_count = static_cast<uint32_t>(device.offers.size());
        for (driver_offer& o : device.offers) {
            o.hardid = L"hdaudio\\func_01&ven_10ec&dev_0269";
            o.link = "http://h/" + wide_to_utf8(o.date.view()) + ".zip";
        }
    }
    update_client client;
    scan_query_params params;
    device_record device;
};

TEST_F(Decisions, BestAndLatestChoice) {
    give({offer(61, 0, 255, 0, L"2012-05-01"), offer(61, 0, 255, 0, L"2013-01-10")});
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_offer, &device.offers[1]);
    EXPECT_EQ(device.latest_offer, &device.offers[1]);
    EXPECT_EQ(device.best_is_update, 1);
    EXPECT_EQ(device.latest_is_update, 1);

    give({offer(60, 0, 255, 0, L"2013-01-10"), offer(62, 0, 255, 0, L"2014-01-10"),
          offer(62, 0, 255, 0, L"2014-01-10")});
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_offer, &device.offers[0]);  // equal distance keeps the first
    EXPECT_EQ(device.latest_offer, &device.offers[1]);  // the first of equal dates
}

TEST_F(Decisions, InstalledDriverComparison) {
    give({offer(61, 0, 255, 0, L"2012-06-13", L"6.0.1.6662")});
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 0);  // the same driver
    EXPECT_EQ(device.latest_is_update, 0);
    device.offers[0].version = L"6.0.1.6663";
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 1);
    EXPECT_EQ(device.latest_is_update, 1);
    // A worse signature than the installed driver's is no update, however new.
    give({offer(61, 1, 255, 0, L"2016-01-01")});
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 0);
    EXPECT_EQ(device.latest_is_update, 1);
    // An installed driver ranked unsigned (S 3) is replaced by a signed one.
    device.driver_rank = 0x80FF0000;
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 1);
    // A better feature score than the installed one is an update.
    device.driver_rank = 0x00200000;
    give({offer(61, 0, 0x1F, 0, L"2000-01-01")});
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 1);
    EXPECT_EQ(device.latest_is_update, 0);
    // Another hardware id than the installed driver matched is an update.
    device.driver_rank = 0x00FF0000;
    give({offer(61, 0, 255, 0, L"2000-01-01")});
    device.offers[0].hardid = L"HDAUDIO\\FUNC_01";
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 1);
}

TEST_F(Decisions, WindowsXpRankRules) {
    params.os_version = 51;
    device.driver_rank = 0x00008001;  // unsigned on XP: S 3
    give({offer(51, 0, 0, 0, L"2001-01-01", L"0.1")});
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 1);  // whatever the dates say
    EXPECT_EQ(device.latest_is_update, 0);
    device.driver_rank = 0x00FF0001;  // on XP the feature score is always 255
    give({offer(51, 0, 255, 0, L"2001-01-01", L"0.1")});
    device.offers[0].hardid = device.MatchingDeviceId;
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 0);
}

TEST_F(Decisions, SignatureLevelOfTheInstalledRank) {
    // An older offer with the same hardware id is an update exactly when its
    // signature level is better than the installed driver's.
    struct row {
        int32_t os;
        uint32_t rank;
        uint32_t offer_sign;
        uint8_t update;
    } rows[] = {
        {61, 0x0EFFFFFF, 0, 0},  // S 0
        {61, 0x0F000000, 0, 1},  // S 1 from 0x0F000000
        {61, 0x7FFFFFFF, 0, 1},
        {61, 0x7FFFFFFF, 1, 0},  // S 1 up to 0x7FFFFFFF
        {61, 0x80000000, 1, 1},  // S 3 from 0x80000000
        {51, 0x00004000, 0, 1},  // XP: either of the bits 0xC000 means unsigned
        {51, 0x00008000, 0, 1},
        {51, 0x00003FFF, 0, 0},
        {51, 0x0F000000, 0, 0},  // XP: the high ranks mean nothing
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.os << " " << std::hex << r.rank << " sign " << r.offer_sign);
        params.os_version = r.os;
        device.driver_rank = r.rank;
        // The feature score the rank gives, so that only the signature decides.
        const uint32_t feature = r.os < 60 ? 255 : (r.rank >> 16) & 0xFF;
        give({offer(static_cast<uint32_t>(r.os), r.offer_sign, feature, 0, L"2001-01-01", L"0.1")});
        device.offers[0].hardid = device.MatchingDeviceId;
        evaluate_device(client, device, params);
        EXPECT_EQ(device.best_is_update, r.update);
    }
}

TEST_F(Decisions, InstalledPackagesAndDevicesWithoutDriver) {
    wchar_t name[64];
    swprintf(name, 64, L"\\setup-%lu.dat", GetCurrentProcessId());
    const std::wstring path = std::wstring(QM_BINARY_DIR_W) + name;
    give({offer(61, 0, 255, 0, L"2015-01-01")});
    ASSERT_TRUE(write_file_bytes(path, "  \t" + std::string(device.offers[0].link) + " \r\n\n" +
                                           std::string(1030, 'y') + "\n"));
    load_installed_set(client, path.c_str());
    EXPECT_EQ(client.installed.size(), 3u);  // the long line in two pieces
    EXPECT_EQ(client.installed.count(std::string(1024, 'y')), 1u);
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 0);
    EXPECT_EQ(device.latest_is_update, 0);
    device.has_driver = 0;
    evaluate_device(client, device, params);
    EXPECT_EQ(device.best_is_update, 1);
    EXPECT_EQ(device.latest_is_update, 1);
    // A missing file leaves the set as it was.
    DeleteFileW(path.c_str());
    load_installed_set(client, path.c_str());
    EXPECT_EQ(client.installed.size(), 3u);
    // No offers: nothing changes.
    device_record bare;
    evaluate_device(client, bare, params);
    EXPECT_EQ(bare.best_offer, nullptr);
    EXPECT_EQ(bare.best_is_update, 0);
}

}  // namespace
