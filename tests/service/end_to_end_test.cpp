// A whole scan without a user interface: the example PC's profile, the
// enumeration, the query against the reference service, and the offers and
// flags of the devices.

// libcurl brings winsock2.h, which must come before windows.h.
#include "service/http_client.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "devices/device_store.h"
#include "platform/machine_profile.h"
#include "platform/profile_device_source.h"
#include "platform/text.h"
#include "app/globals.h"
#include "common/reference_service.h"
#include "service/scan_request.h"
#include "service/update_client.h"

namespace {

const device_record& find(device_store& store, const wchar_t* id) {
    device_record* d = find_device(store, id);
    if (!d) throw std::runtime_error("no device " + wide_to_utf8(id));
    return *d;
}

TEST(EndToEnd, ExamplePcAgainstTheReferenceService) {
    reference_service* service = reference_service::get();
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(service->reset());
    machine_profile profile;
    std::wstring error;
    ASSERT_TRUE(load_machine_profile((std::wstring(QM_SOURCE_DIR_W) + L"\\profiles\\example-pc.xml").c_str(),
                                     profile, &error)) << wide_to_utf8(error);
    profile_device_source source(&profile);
    device_store* store = create_device_store(source);
    ASSERT_NE(store, nullptr);
    scan_progress progress;
    ASSERT_TRUE(enumerate_devices(*store, progress, source));

    const std::string lan_link = service->mirror_url(2) + "packages/intel-lan-12.12.50.7.zip";
    const std::wstring mirrors = L"http://127.0.0.1:" + std::to_wstring(reference_service::closed_port()) +
                                 L"/;" + utf8_to_wide(service->mirror_url(2)) + L";" +
                                 utf8_to_wide(service->mirror_url(3));
    SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", mirrors.c_str());
    update_client* client = create_update_client(store);
    SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", nullptr);
    ASSERT_NE(client, nullptr);

    wchar_t saved_dir[MAX_PATH];
    wcscpy_s(saved_dir, program_dir);
    const std::wstring folder = service->extra_packages() + L"..\\";
    wcscpy_s(program_dir, folder.c_str());
    ASSERT_TRUE(write_file_bytes(folder + L"setup.dat", "http://elsewhere/x.zip\r\n  " + lan_link + "\t\r\n"));

    scan_query_params params;
    params.os_code_name = "WIN764";
    params.model = L"2349K3G";
    params.os_version = 61;
    params.language_code = 437;
    const int result = query_updates(*client, params);
    wcscpy_s(program_dir, saved_dir);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(service->log(), std::vector<std::string>{"2 POST / range=-"});

    const device_record& graphics = find(*store, L"PCI\\VEN_8086&DEV_0166&SUBSYS_21FA17AA&REV_09");
    ASSERT_EQ(graphics.offer_count, 1u);
    EXPECT_STREQ(graphics.best_offer->version, L"10.18.10.3960");
    EXPECT_EQ(graphics.best_is_update, 1);
    EXPECT_EQ(graphics.latest_is_update, 1);
    EXPECT_STREQ(graphics.best_offer->inf_name, L"Graphics\\igdlh64.inf");

    // The Windows 7 package is best; the Windows XP one is the latest.
    const device_record& nvidia = find(*store, L"PCI\\VEN_10DE&DEV_0DEF&SUBSYS_21F517AA&REV_A1");
    ASSERT_EQ(nvidia.offer_count, 2u);
    EXPECT_EQ(nvidia.best_offer->targetos, 61u);
    EXPECT_EQ(nvidia.latest_offer->targetos, 51u);
    EXPECT_EQ(nvidia.best_is_update, 1);
    EXPECT_EQ(nvidia.latest_is_update, 1);

    // WHQL before date: the older signed package is best, the newer the latest.
    const device_record& audio = find(*store, L"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269&SUBSYS_17AA21FA&REV_1002");
    ASSERT_EQ(audio.offer_count, 2u);
    EXPECT_STREQ(audio.best_offer->version, L"6.0.1.6873");
    EXPECT_STREQ(audio.latest_offer->version, L"6.0.1.7541");
    EXPECT_EQ(audio.best_is_update, 1);

    // The same driver as installed: no update.
    const device_record& hdmi = find(*store, L"HDAUDIO\\FUNC_01&VEN_8086&DEV_2806&SUBSYS_80860101&REV_1000");
    ASSERT_EQ(hdmi.offer_count, 1u);
    EXPECT_EQ(hdmi.best_is_update, 0);
    EXPECT_EQ(hdmi.latest_is_update, 0);

    // Its installation was started already (setup.dat).
    const device_record& lan = find(*store, L"PCI\\VEN_8086&DEV_1502&SUBSYS_21F317AA&REV_04");
    ASSERT_EQ(lan.offer_count, 1u);
    EXPECT_EQ(std::string(lan.best_offer->link), lan_link);
    EXPECT_EQ(lan.best_is_update, 0);
    EXPECT_EQ(lan.latest_is_update, 0);

    // No driver installed: an update whatever the offer.
    const device_record& reader = find(*store, L"PCI\\VEN_1180&DEV_E823&SUBSYS_21FA17AA&REV_04");
    ASSERT_EQ(reader.offer_count, 1u);
    EXPECT_EQ(reader.has_driver, 0);
    EXPECT_EQ(reader.best_is_update, 1);
    EXPECT_EQ(reader.latest_is_update, 1);

    const device_record& usb3 = find(*store, L"PCI\\VEN_8086&DEV_1E31&SUBSYS_21FA17AA&REV_04");
    ASSERT_EQ(usb3.offer_count, 1u);
    EXPECT_EQ(std::string(usb3.best_offer->link).rfind("ftp://127.0.0.1:", 0), 0u);

    const device_record& hub = find(*store, L"USB\\VID_8087&PID_0024");
    EXPECT_EQ(hub.offer_count, 0u);
    EXPECT_EQ(hub.best_offer, nullptr);

    // The same machine ranked as Windows XP prefers the XP package.
    params.os_version = 51;
    params.os_code_name = "WINXP64";
    ASSERT_EQ(query_updates(*client, params), 0);
    const device_record& nvidia_xp = find(*store, L"PCI\\VEN_10DE&DEV_0DEF&SUBSYS_21F517AA&REV_A1");
    EXPECT_EQ(nvidia_xp.best_offer->targetos, 51u);

    release_update_client(client);
    release_device_store(store, source);
}

// A query of an empty device list against mirrors that the test sets up.
class QueryTransport : public ::testing::Test {
protected:
    void SetUp() override {
        service = reference_service::get();
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(service->reset());
        last_error = -1;
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", nullptr);
        release_update_client(client);
    }
    // The client as start-up makes it with QUILLMARK_MIRRORS set to `mirrors`.
    update_client& client_with(const std::wstring& mirrors) {
        SetEnvironmentVariableW(L"QUILLMARK_MIRRORS", mirrors.c_str());
        release_update_client(client);
        client = create_update_client(&store);
        return *client;
    }
    std::wstring mirror(int i) const { return utf8_to_wide(service->mirror_url(i)); }

    reference_service* service = nullptr;
    device_store store;
    update_client* client = nullptr;
    scan_query_params params;
};

TEST_F(QueryTransport, MirrorListThatCannotBeReadIsAnErrorNotTheBuiltInMirrors) {
    const std::wstring good = mirror(1) + L";" + mirror(2) + L";" + mirror(3);
    for (const std::wstring& bad : {good + L";", mirror(1) + L";" + mirror(2), L" " + good,
                                    mirror(1) + L";;" + mirror(3)}) {
        update_client& c = client_with(bad);
        EXPECT_EQ(query_updates(c, params), -1) << wide_to_utf8(bad);
        EXPECT_EQ(last_error, 20);
        EXPECT_EQ(std::string(params.error_text).rfind("QUILLMARK_MIRRORS is set but", 0), 0u)
            << params.error_text;
    }

    // Not set, or set to nothing: the built-in mirrors, as always.
    EXPECT_EQ(client_with(L"").mirror_error, "");
    EXPECT_EQ(client->mirrors[0], builtin_mirrors[0]);
    EXPECT_EQ(client_with(good).mirror_error, "");
    params = scan_query_params{};
    EXPECT_EQ(query_updates(*client, params), 0);
}

TEST_F(QueryTransport, RefusedCertificateIsReportedWithItsReason) {
    // The HTTPS server reached by address: its certificate names "localhost".
    const std::wstring by_address = L"https://127.0.0.1:" + std::to_wstring(service->https_port) + L"/";
    client_with(mirror(1) + L";" + mirror(2) + L";" + by_address);
    ASSERT_TRUE(service->set_faults(R"({"1": {"down": true}, "2": {"down": true}})"));
    EXPECT_EQ(query_updates(*client, params), -1);
    EXPECT_EQ(last_error, 20);
    EXPECT_NE(std::string(params.error_text).find("connection to 127.0.0.1 was refused"), std::string::npos)
        << params.error_text;

    // Reached by its name, the same server answers.
    ASSERT_TRUE(service->reset());
    client_with(utf8_to_wide(service->https_url()) + L";" + mirror(2) + L";" + mirror(3));
    params = scan_query_params{};
    EXPECT_EQ(query_updates(*client, params), 0);
    EXPECT_EQ(service->log(), std::vector<std::string>{"https POST / range=-"});
}

// A download and the query alike: https stays https through redirects, and a
// refusal or a failed handshake names the host (that redirected, or was asked).
TEST_F(QueryTransport, HttpsStaysHttpsAndRefusalsNameTheHost) {
    const std::wstring path = service->extra_packages() + L"r.tmp";
    ASSERT_TRUE(write_file_bytes(service->extra_packages() + L"r.bin", "package"));
    const std::string secure = service->https_url(),
                      plain_port = "https://localhost:" + std::to_string(service->mirror_ports[0]) + "/";
    struct row { const char* faults; std::string base; CURLcode code; const char *text, *servers; };
    for (const row& c : std::vector<row>{
             {R"({"https": {"redirect": "1"}})", "HTTPS" + secure.substr(5), CURLE_UNSUPPORTED_PROTOCOL,
              "localhost redirected a secure address to an insecure one: the redirect was refused", "hhhh"},
             {R"({"https": {"redirect": "ftp"}})", secure, CURLE_UNSUPPORTED_PROTOCOL,
              "localhost redirected a secure address to an insecure one: the redirect was refused", "hhhh"},
             {"{}", plain_port, CURLE_SSL_CONNECT_ERROR,
              "The secure connection to localhost was refused", ""},
             {R"({"https": {"redirect": "https"}})", secure, CURLE_OK, "", "hhhh"},
             {R"({"1": {"redirect": "2"}})", service->mirror_url(1), CURLE_OK, "", "1212"}}) {
        SCOPED_TRACE(c.base + " " + c.faults);
        ASSERT_TRUE(service->reset() && service->set_faults(c.faults));
        DeleteFileW(path.c_str());
        download_progress progress;
        progress.expected_size = 7;
        http_client* http = create_http_client(download_buffer_capacity);
        EXPECT_EQ(transfer_file(*http, (c.base + "packages/r.bin").c_str(), path.c_str(), progress), 0);
        destroy_http_client(http);
        EXPECT_EQ(progress.curl_code, c.code);
        EXPECT_STREQ(progress.refused_host, c.code ? "localhost" : "");
        EXPECT_EQ(read_file_bytes(path), c.code ? "" : "package");

        const std::wstring m = utf8_to_wide(c.base);
        last_error = 0;
        EXPECT_EQ(query_updates(client_with(m + L";" + m + L";" + m), params = {}), c.code ? -1 : 0);
        EXPECT_EQ(last_error, c.code ? 20 : 0);
        EXPECT_EQ(std::string(params.error_text).rfind(c.text, 0), 0u) << params.error_text;
        std::string servers;
        for (const std::string& line : service->log()) servers += line[0];
        EXPECT_EQ(servers, c.servers);
    }
}

TEST_F(QueryTransport, StopEndsAHeldQueryWithoutTryingFurtherMirrors) {
    client_with(mirror(1) + L";" + mirror(2) + L";" + mirror(3));
    ASSERT_TRUE(service->set_faults(R"({"1": {"delay": 60}, "2": {"delay": 60}, "3": {"delay": 60}})"));
    int result = 0;
    std::thread worker([&] { result = query_updates(*client, params); });
    for (int i = 0; i < 3000 && service->log().empty(); ++i) Sleep(10);
    client->stop_flag = 1;
    worker.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(last_error, 0) << "a stopped query shows no message";
    EXPECT_EQ(service->log(), std::vector<std::string>{"1 POST / range=-"});
}

}  // namespace
