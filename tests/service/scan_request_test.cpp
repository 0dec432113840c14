// The request document, its compression, the mirror list and the query's
// mirror order and failure codes against the reference service.
#include "service/scan_request.h"

// libcurl brings winsock2.h, which must come before windows.h.
#include "service/http_client.h"


#include <gtest/gtest.h>
#include <tinyxml.h>
#include <zlib.h>

#include <string>

#include "app/globals.h"
#include "devices/device_store.h"
#include "common/reference_service.h"
#include "service/update_client.h"

namespace {

device_record device(const wchar_t* id, std::vector<std::wstring> hardids,
                     std::vector<std::wstring> compids, const wchar_t* matchid = L"") {
    device_record d;
    wcscpy_s(d.device_id, id);
    wcscpy_s(d.MatchingDeviceId, matchid);
    if (!hardids.empty()) d.hardware_ids = make_multi_string(hardids);
    if (!compids.empty()) d.compatible_ids = make_multi_string(compids);
    return d;
}

struct thread_locale {
    explicit thread_locale(LCID lcid) : saved(GetThreadLocale()) { SetThreadLocale(lcid); }
    ~thread_locale() { SetThreadLocale(saved); }
    LCID saved;
};

TEST(RequestDocument, ExactText) {
    thread_locale western(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
    scan_query_params params;
    params.os_code_name = "WIN764";
    params.language_code = 437;
    params.model = L"Pr\u00e4zision <T5810> & \"Co\"";
    device_store empty;
    EXPECT_EQ(build_scan_request(empty, params),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
              "<tarnwick>\n"
              "\t<action>ACTION_UPDATE_DRIVER</action>\n"
              "\t<client license=\"\" version=\"\" os=\"WIN764\" lang=\"437\" "
              "model='Pr\xe4zision &lt;T5810&gt; &amp; &quot;Co&quot;' />\n"
              "\t<hardwares />\n"
              "</tarnwick>\n");

    device_store store;
    store.devices.push_back(device(L"ACPI\\PNP0303", {}, {L"*PNP0303"}, L"*pnp0303"));
    store.devices.push_back(device(L"PCI\\VEN_1", {L"PCI\\VEN_1&DEV_2&REV_3", L"PCI\\VEN_1&DEV_2", L"PCI\\VEN_1"}, {}));
    params.client_code = "K-1";
    params.model = L"";
    EXPECT_EQ(build_scan_request(store, params),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
              "<tarnwick>\n"
              "\t<action>ACTION_UPDATE_DRIVER</action>\n"
              "\t<client license=\"K-1\" version=\"\" os=\"WIN764\" lang=\"437\" model=\"\" />\n"
              "\t<hardwares>\n"
              "\t\t<hardware>\n"
              "\t\t\t<id>\n\t\t\t\t<![CDATA[ACPI\\PNP0303]]>\n\t\t\t</id>\n"
              "\t\t\t<matchid>\n\t\t\t\t<![CDATA[*pnp0303]]>\n\t\t\t</matchid>\n"
              "\t\t\t<compids>\n\t\t\t\t<![CDATA[*PNP0303]]>\n\t\t\t</compids>\n"
              "\t\t</hardware>\n"
              "\t\t<hardware>\n"
              "\t\t\t<id>\n\t\t\t\t<![CDATA[PCI\\VEN_1]]>\n\t\t\t</id>\n"
              "\t\t\t<matchid>\n\t\t\t\t<![CDATA[]]>\n\t\t\t</matchid>\n"
              "\t\t\t<hardids>\n\t\t\t\t<![CDATA[PCI\\VEN_1&DEV_2&REV_3\nPCI\\VEN_1&DEV_2\nPCI\\VEN_1]]>\n\t\t\t</hardids>\n"
              "\t\t</hardware>\n"
              "\t</hardwares>\n"
              "</tarnwick>\n");
}

TEST(RequestDocument, ModelInTheThreadsCodePage) {
    thread_locale russian(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA), SORT_DEFAULT));
    scan_query_params params;
    params.model = L"\u041d\u043e\u0443\u0442";  // in code page 1251
    const std::string text = build_scan_request(device_store{}, params);
    EXPECT_NE(text.find("model=\"\xcd\xee\xf3\xf2\""), std::string::npos) << text;
}

// The texts of an element's CDATA sections, joined.
std::string cdata_of(const TiXmlElement* element) {
    std::string text;
    for (const TiXmlNode* n = element ? element->FirstChild() : nullptr; n; n = n->NextSibling())
        if (const TiXmlText* t = n->ToText()) text += t->Value();
    return text;
}

TEST(RequestDocument, HostileIdsStayInsideTheirSectionsAndTheDocumentIsWellFormed) {
    scan_query_params params;
    params.model = L"M\x01odel\x1f";
    device_store store;
    store.devices.push_back(device(L"X]]><evil/><![CDATA[y", {L"A]]>B]]>", L"tab\there"}, {L"C\x07"},
                                   L"]]]>"));
    const std::string text = build_scan_request(store, params);
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        EXPECT_TRUE(u >= 0x20 || u == '\t' || u == '\n' || u == '\r') << int(u);
    }
    TiXmlDocument doc;
    doc.Parse(text.c_str());
    ASSERT_FALSE(doc.Error()) << doc.ErrorDesc() << "\n" << text;
    const TiXmlElement* hardware =
        doc.RootElement()->FirstChildElement("hardwares")->FirstChildElement("hardware");
    ASSERT_NE(hardware, nullptr);
    int children = 0;
    for (const TiXmlElement* e = hardware->FirstChildElement(); e; e = e->NextSiblingElement()) ++children;
    EXPECT_EQ(children, 4);  // id, matchid, hardids, compids: nothing injected
    EXPECT_EQ(cdata_of(hardware->FirstChildElement("id")), "X]]><evil/><![CDATA[y");
    EXPECT_EQ(cdata_of(hardware->FirstChildElement("matchid")), "]]]>");
    EXPECT_EQ(cdata_of(hardware->FirstChildElement("hardids")), "A]]>B]]>\ntab\there");
    EXPECT_EQ(cdata_of(hardware->FirstChildElement("compids")), "C?");
    EXPECT_STREQ(doc.RootElement()->FirstChildElement("client")->Attribute("model"), "M?odel?");
}

TEST(RequestCompression, OneZlibStream) {
    const std::string text = build_scan_request(device_store{}, scan_query_params{});
    std::vector<unsigned char> packed;
    ASSERT_EQ(compress_request(text, packed), Z_OK);
    ASSERT_GE(packed.size(), 6u);
    EXPECT_EQ(packed[0], 0x78);
    std::vector<unsigned char> back(text.size() + 16);
    uLongf n = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(back.data(), &n, packed.data(), static_cast<uLong>(packed.size())), Z_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back.data()), n), text);
}

TEST(MirrorList, OnlyThreeBaseUrlsAreTaken) {
    std::array<std::string, 3> m = {"a", "b", "c"};
    EXPECT_TRUE(parse_mirror_list(L"http://127.0.0.1:1/;HTTPS://x.example/;http://h:3", m));
    EXPECT_EQ(m, (std::array<std::string, 3>{"http://127.0.0.1:1/", "HTTPS://x.example/", "http://h:3"}));
    for (const wchar_t* bad : {L"", L"http://a;http://b", L"http://a;http://b;http://c;http://d",
                               L"http://a;;http://c", L"http://a;ftp://b;http://c",
                               L"http://a; http://b;http://c", L"http://a;http://b;http://\u00e4",
                               L"http://;http://b;http://c"}) {
        EXPECT_FALSE(parse_mirror_list(bad, m)) << bad;
    }
    EXPECT_EQ(m[0], "http://127.0.0.1:1/");
}

class Query : public ::testing::Test {
protected:
    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        store.devices.push_back(device(L"PCI\\VEN_8086&DEV_1502&SUBSYS_21F317AA&REV_04",
                                       {L"PCI\\VEN_8086&DEV_1502&SUBSYS_21F317AA"}, {L"PCI\\VEN_8086"}));
        client.store = &store;
        for (int i = 0; i < 3; ++i) client.mirrors[i] = service->mirror_url(i + 1);
        last_error = 0;
    }
    void TearDown() override { destroy_http_client(client.http); }
    std::vector<std::string> posts() {
        std::vector<std::string> mirrors;
        for (const std::string& line : service->log()) mirrors.push_back(line.substr(0, line.find(' ')));
        return mirrors;
    }
    reference_service* service = nullptr;
    device_store store;
    update_client client;
    scan_query_params params;
};

TEST_F(Query, MirrorsInOrderUntilOneAnswers) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"down": true}, "2": {"status": 500}})"));
    EXPECT_EQ(query_updates(client, params), 0);
    EXPECT_EQ(params.http_status, 200);
    EXPECT_EQ(posts(), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(current_query, &params);
    ASSERT_EQ(store.devices[0].offer_count, 1u);
    EXPECT_EQ(store.devices[0].best_is_update, 1);  // no driver installed

    ASSERT_TRUE(service->reset());
    ASSERT_TRUE(service->set_faults(R"({"1": {"down": true}})"));
    EXPECT_EQ(query_updates(client, params), 0);
    EXPECT_EQ(posts(), std::vector<std::string>{"2"});
}

TEST_F(Query, NoAnswerFromAnyMirror) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"down": true}, "2": {"down": true}, "3": {"down": true}})"));
    EXPECT_EQ(query_updates(client, params), -1);
    EXPECT_EQ(last_error, 3);
    EXPECT_EQ(params.http_status, 504);
}

TEST_F(Query, EveryMirrorFailsWithAStatus) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"status": 500}, "2": {"status": 500}, "3": {"status": 500}})"));
    EXPECT_EQ(query_updates(client, params), -1);
    EXPECT_EQ(last_error, 20);
    EXPECT_EQ(params.http_status, 500);
    EXPECT_STREQ(params.error_text, "");
}

TEST_F(Query, OversizeAnswer) {
    ASSERT_TRUE(service->set_faults(
        R"({"1": {"answer": "oversize"}, "2": {"answer": "oversize"}, "3": {"answer": "oversize"}})"));
    EXPECT_EQ(query_updates(client, params), -1);
    EXPECT_EQ(last_error, 20);
    EXPECT_EQ(params.http_status, 200);
    EXPECT_STRNE(params.error_text, "");
    EXPECT_STREQ(params.error_text, client.http->result.error_text);
}

TEST_F(Query, InvalidAnswersAreNotRetriedElsewhere) {
    ASSERT_TRUE(service->set_faults(R"({"1": {"answer": "malformed"}})"));
    EXPECT_EQ(query_updates(client, params), -1);
    EXPECT_EQ(last_error, 21);
    EXPECT_EQ(posts(), std::vector<std::string>{"1"});
    ASSERT_TRUE(service->set_faults(R"({"1": {"answer": "empty"}})"));
    EXPECT_EQ(query_updates(client, params), -1);
    EXPECT_EQ(last_error, 21);
    ASSERT_TRUE(service->set_faults(R"({"1": {"answer": "no_id"}})"));
    EXPECT_EQ(query_updates(client, params), -1);
    EXPECT_EQ(last_error, 21);
    EXPECT_EQ(store.devices[0].offer_count, 1u);  // filled before the broken element
}

}  // namespace
