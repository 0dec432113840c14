// A whole scan without a user interface: the example PC's profile, the
// enumeration, the query against the reference service, and the offers and
// flags of the devices.

// libcurl brings winsock2.h, which must come before windows.h.
#include "service/http_client.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
