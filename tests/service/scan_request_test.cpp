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
#include "platform/text.h"
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

// The request as TinyXML builds and prints it (TAB indent, LF line breaks),
// which the program's own printer must match byte for byte.
std::string printed_by_tinyxml(const device_store& store, const scan_query_params& params) {
    auto xml_text = [](std::string text) {
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '?';
        return text;
    };
    auto add_cdata = [&](TiXmlElement& parent, const char* name, const std::string& text) {
        std::string value = xml_text(text);
        for (std::size_t at = value.find("]]>"); at != std::string::npos; at = value.find("]]>", at + 15))
            value.replace(at, 3, "]]]]><![CDATA[>");
        auto* element = new TiXmlElement(name);
        auto* cdata = new TiXmlText(value);
        cdata->SetCDATA(true);
        element->LinkEndChild(cdata);
        parent.LinkEndChild(element);
    };
    auto joined = [](const std::wstring& list) {
        std::wstring text;
        for (std::wstring_view entry : multi_string_entries(list)) {
            if (!text.empty()) text += L'\n';
            text += entry;
        }
        return wide_to_ansi(text);
    };
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
    auto* root = new TiXmlElement("tarnwick");
    doc.LinkEndChild(root);
    auto* action = new TiXmlElement("action");
    action->LinkEndChild(new TiXmlText("ACTION_UPDATE_DRIVER"));
    root->LinkEndChild(action);
    auto* client = new TiXmlElement("client");
    client->SetAttribute("license", xml_text(params.client_code));
    client->SetAttribute("version", "");
    client->SetAttribute("os", xml_text(params.os_code_name));
    client->SetAttribute("lang", params.language_code);
    client->SetAttribute("model", xml_text(wide_to_ansi(params.model)));
    root->LinkEndChild(client);
    auto* hardwares = new TiXmlElement("hardwares");
    root->LinkEndChild(hardwares);
    for (const device_record& d : store.devices) {
        auto* hardware = new TiXmlElement("hardware");
        hardwares->LinkEndChild(hardware);
        add_cdata(*hardware, "id", wide_to_ansi(d.device_id));
        add_cdata(*hardware, "matchid", wide_to_ansi(d.MatchingDeviceId));
        if (!d.hardware_ids.empty() && d.hardware_ids[0]) add_cdata(*hardware, "hardids", joined(d.hardware_ids));
        if (!d.compatible_ids.empty() && d.compatible_ids[0])
            add_cdata(*hardware, "compids", joined(d.compatible_ids));
    }
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    printer.SetLineBreak("\n");
    doc.Accept(&printer);
    return std::string(printer.CStr(), printer.Size());
}

TEST(RequestDocument, PrintedAsTinyXmlPrintsIt) {
    thread_locale western(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
    // Every character class the printer treats apart, in attributes and sections.
    const std::vector<std::pair<const char*, const wchar_t*>> cases = {
        {"", L""},
        {"K&<>\"'", L"plain"},
        {"tab\there\nline\rcr\x01", L"it's \"quoted\" & <tagged>\t\n\r\x02\u00e4\u20ac"},
        {"only'single", L"]]>"},
    };
    for (const auto& [code, model] : cases) {
        scan_query_params params;
        params.client_code = code;
        params.os_code_name = code;
        params.language_code = -850;
        params.model = model;
        device_store store;
        EXPECT_EQ(build_scan_request(store, params), printed_by_tinyxml(store, params)) << code;
        store.devices.push_back(device(L"PCI\\A]]>B]]]>>C", {L"H1]]>", L"\x03H2\u00e9"}, {L"]]", L">C\t"},
                                       L"m]]>\u00fc"));
        store.devices.push_back(device(L"", {}, {}, L""));
        store.devices.push_back(device(L"USB\\VID_1&PID_2", {L"USB\\VID_1&PID_2&REV_3"}, {L"USB\\Class_03"}));
        store.devices.back().hardware_ids = std::wstring(L"\0\0", 2);  // a list whose first entry is empty
        EXPECT_EQ(build_scan_request(store, params), printed_by_tinyxml(store, params)) << code;
    }
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
