#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/settings.h"
#include "backup/catalogue.h"
#include "common/reference_service.h"  // read_file_bytes, write_file_bytes
#include "common/scratch_folder.h"
#include "platform/text.h"

namespace {

std::string local_today() {
    std::time_t now = std::time(nullptr);
    tm local = {};
    localtime_s(&local, &now);
    char text[11] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

std::string with_crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// A program folder with its catalogue, a backup folder and a device store of
// three devices, put in place of the process-wide ones.
class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        copy_text(saved_program_dir_, program_dir);
        copy_text(saved_backup_path_, current_settings.backup_path);
        saved_store_ = app_device_store;
        CreateDirectoryW((root_ / L"program").c_str(), nullptr);
        CreateDirectoryW(backups().c_str(), nullptr);
        copy_text(program_dir, root_ / L"program\\");
        copy_text(current_settings.backup_path, backups());
        add_device(L"PCI\\VEN_8086&DEV_0166", L"Intel(R) HD Graphics 4000", L"Intel Corporation",
                   L"oem12.inf");
        add_device(L"HDAUDIO\\FUNC_01&VEN_10EC", L"Speakers", L"Realtek", L"oem3.inf");
        add_device(L"USB\\VID_046D&PID_C52B", L"USB Receiver", L"", L"oem7.inf");
        app_device_store = &store_;
        std::lock_guard<std::mutex> hold(backup_catalogue_lock);
        backup_catalogue.clear();
    }

    void TearDown() override {
        copy_text(program_dir, saved_program_dir_);
        copy_text(current_settings.backup_path, saved_backup_path_);
        app_device_store = saved_store_;
        std::lock_guard<std::mutex> hold(backup_catalogue_lock);
        backup_catalogue.clear();
    }

    void add_device(const wchar_t* id, const wchar_t* name, const wchar_t* provider,
                    const wchar_t* inf) {
        device_record& device = store_.devices.emplace_back();
        copy_text(device.device_id, id);
        copy_text(device.display_name, name);
        copy_text(device.DriverDesc, std::wstring(name) + L" driver");
        copy_text(device.ProviderName, provider);
        copy_text(device.InfPath, inf);
        copy_text(device.DriverVersion, L"1.2.3.4");
        copy_text(device.DriverDate, L"2012-10-03");
    }

    std::wstring backups() const { return root_ / L"backups"; }
    std::wstring archive(const wchar_t* name) const { return join_path(backups(), name); }
    void make_archive(const wchar_t* name) const { write_file_bytes(archive(name), "PK"); }
    std::string file_text() const { return read_file_bytes(catalogue_path()); }
    void write_catalogue(const std::string& text) const {
        write_file_bytes(catalogue_path(), with_crlf(text));
    }
    const device_record* device(int i) const { return &store_.devices[i]; }

    scratch_folder root_;
    device_store store_;

private:
    wchar_t saved_program_dir_[MAX_PATH] = {};
    wchar_t saved_backup_path_[MAX_PATH] = {};
    device_store* saved_store_ = nullptr;
};

// A device element as the program writes it, for the documents of the tests.
std::string device_element(const std::string& id, const std::string& desc = "A device") {
    return "<device><id><![CDATA[" + id + "]]></id><desc><![CDATA[" + desc +
           "]]></desc><manu><![CDATA[M]]></manu><name><![CDATA[oem1.inf]]></name>"
           "<version><![CDATA[1.0]]></version><date><![CDATA[2011-01-01]]></date></device>";
}

std::string driver_element(const std::string& file, const std::string& devices) {
    return "<driver><file><![CDATA[" + file + "]]></file><date>2020-05-06</date><devices>" +
           devices + "</devices></driver>";
}

TEST_F(Catalogue, BackingUpTwiceKeepsOneEntryWrittenInTheProgramsFormat) {
    make_archive(L"Graphics.zip");
    ASSERT_EQ(record_backup(archive(L"Graphics.zip").c_str(), {device(0), device(1)}), 0);
    ASSERT_EQ(record_backup(archive(L"Graphics.zip").c_str(), {device(2)}), 0);

    const std::string today = local_today();
    EXPECT_EQ(file_text(), with_crlf(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
        "<quillmark>\n"
        "\t<driver>\n"
        "\t\t<file>\n"
        "\t\t\t<![CDATA[Graphics.zip]]>\n"
        "\t\t</file>\n"
        "\t\t<date>" + today + "</date>\n"
        "\t\t<devices>\n"
        "\t\t\t<device>\n"
        "\t\t\t\t<id>\n"
        "\t\t\t\t\t<![CDATA[USB\\VID_046D&PID_C52B]]>\n"
        "\t\t\t\t</id>\n"
        "\t\t\t\t<desc>\n"
        "\t\t\t\t\t<![CDATA[USB Receiver]]>\n"
        "\t\t\t\t</desc>\n"
        "\t\t\t\t<manu>\n"
        "\t\t\t\t\t<![CDATA[]]>\n"
        "\t\t\t\t</manu>\n"
        "\t\t\t\t<name>\n"
        "\t\t\t\t\t<![CDATA[oem7.inf]]>\n"
        "\t\t\t\t</name>\n"
        "\t\t\t\t<version>\n"
        "\t\t\t\t\t<![CDATA[1.2.3.4]]>\n"
        "\t\t\t\t</version>\n"
        "\t\t\t\t<date>\n"
        "\t\t\t\t\t<![CDATA[2012-10-03]]>\n"
        "\t\t\t\t</date>\n"
        "\t\t\t</device>\n"
        "\t\t</devices>\n"
        "\t</driver>\n"
        "</quillmark>\n"));

    std::vector<backup_entry> entries = catalogue_snapshot();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].date, today.c_str());
    ASSERT_EQ(entries[0].devices.size(), 1u);

    // Read back: the device's display name, the entry's date and file, and the
    // empty provider name kept as empty rather than failing the device.
    ASSERT_EQ(load_catalogue(), 0);
    entries = catalogue_snapshot();
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0].devices.size(), 1u);
    const backed_up_device& read = entries[0].devices[0];
    EXPECT_STREQ(read.desc, L"USB Receiver");
    EXPECT_STREQ(read.manu, L"");
    EXPECT_STREQ(read.name, L"oem7.inf");
    EXPECT_STREQ(read.backup_date, ansi_to_wide(today).c_str());
    EXPECT_STREQ(read.archive, L"Graphics.zip");
}

TEST_F(Catalogue, EveryEntryStaysInTheFileAndThePageListsThoseItCanRestore) {
    for (const wchar_t* name : {L"Kept.zip", L"UnknownFirst.zip", L"NoDate.zip", L"Second.zip", L"Empty.zip"})
        make_archive(name);
    const std::string present0 = "PCI\\VEN_8086&DEV_0166", present1 = "HDAUDIO\\FUNC_01&VEN_10EC";
    std::string planted;  // names that lead out of the backup folder, or name a device
    for (const char* name : {"..\\..\\planted.zip", "C:planted.zip", "sub/planted.zip", "NUL.zip", ".."})
        planted += driver_element(name, device_element(present0));
    write_catalogue(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<anything>\n" +
        driver_element("Kept.zip", device_element(present0, "First") + device_element(present1) +
                                       device_element("PCI\\GONE") + device_element(present1)) +
        driver_element("Missing.zip", device_element(present0)) +
        driver_element("UnknownFirst.zip", device_element("PCI\\GONE") + device_element(present0)) +
        "<driver><file><![CDATA[NoDate.zip]]></file><devices>" + device_element(present0) +
        "</devices></driver>"
        "<driver><file><![CDATA[Second.zip]]></file><date>2021-02-03</date><devices>"
        "<device><id><![CDATA[" + present1 + "]]></id></device>" + device_element(present0) +
        "</devices></driver>" +
        driver_element("Empty.zip", "") + "<other/>" + driver_element("Kept.zip", device_element(present1)) +
        planted + "\n</anything>\n");

    ASSERT_EQ(load_catalogue(), 0);
    std::vector<backup_entry> entries = catalogue_snapshot();
    ASSERT_EQ(entries.size(), 4u);  // the planted names are refused
    EXPECT_STREQ(entries[0].file, "Kept.zip");

    // The page: archive there and first device present, devices up to one that is not.
    std::vector<backup_entry> shown = restorable_entries(entries, backups().c_str(), store_);
    ASSERT_EQ(shown.size(), 2u);
    ASSERT_EQ(shown[0].devices.size(), 2u);
    EXPECT_STREQ(shown[0].devices[0].backup_date, L"2020-05-06");

    // Nothing unplugged, moved or deleted leaves the file.
    make_archive(L"New.zip");
    ASSERT_EQ(record_backup(archive(L"New.zip").c_str(), {device(0)}), 0);
    for (const char* file : {"Kept.zip", "Missing.zip", "UnknownFirst.zip", "PCI\\GONE", "New.zip"})
        EXPECT_NE(file_text().find(file), std::string::npos) << file;
    EXPECT_EQ(file_text().find("planted"), std::string::npos);
}

TEST_F(Catalogue, AFailedLoadLeavesTheCatalogueAsItWas) {
    make_archive(L"A.zip");
    ASSERT_EQ(record_backup(archive(L"A.zip").c_str(), {device(0)}), 0);
    DeleteFileW(catalogue_path().c_str());
    EXPECT_EQ(load_catalogue(), -1);  // no file

    for (const char* text : {"<?xml version=\"1.0\" ?><quillmark>", "",
                             "<?xml version=\"1.0\" ?>\n<quillmark>\n</quillmark>\n",
                             "<?xml version=\"1.0\" ?><quillmark><other/></quillmark>"}) {
        SCOPED_TRACE(text);
        write_catalogue(text);
        EXPECT_EQ(load_catalogue(), -1);
        ASSERT_EQ(catalogue_snapshot().size(), 1u);
    }
    // So is a file too large to be a catalogue.
    write_catalogue(std::string(17 * 1024 * 1024, ' '));
    EXPECT_EQ(load_catalogue(), -1);
    EXPECT_EQ(catalogue_snapshot().size(), 1u);

    // A scan replaces the devices; the next backup writes the entry's own texts, keeps
    // the file it could not read beside the new one, and "]]>" reads back as it was.
    store_.devices.clear();
    add_device(L"USB\\OTHER", L"O]]></desc></device></devices><driver>]]>", L"", L"oem9.inf");
    write_catalogue("<quillmark><driver>");
    ASSERT_EQ(record_backup(archive(L"B.zip").c_str(), {device(0)}), 0);
    EXPECT_EQ(read_file_bytes(catalogue_path() + L".bad"), with_crlf("<quillmark><driver>"));
    ASSERT_EQ(load_catalogue(), 0);
    EXPECT_STREQ(catalogue_snapshot()[0].devices[0].desc, L"Intel(R) HD Graphics 4000");
    EXPECT_STREQ(catalogue_snapshot()[1].devices[0].desc, device(0)->display_name);
}

TEST_F(Catalogue, AFailedSaveKeepsTheOldCatalogueAndSaysSo) {
    make_archive(L"A.zip");
    make_archive(L"B.zip");
    ASSERT_EQ(record_backup(archive(L"A.zip").c_str(), {device(0)}), 0);
    const std::string before = file_text();
    // The new file cannot be created beside the catalogue.
    CreateDirectoryW((catalogue_path() + L".new").c_str(), nullptr);
    EXPECT_EQ(record_backup(archive(L"B.zip").c_str(), {device(1)}), -1);
    EXPECT_EQ(file_text(), before);
    RemoveDirectoryW((catalogue_path() + L".new").c_str());
    // The next save writes both entries.
    ASSERT_EQ(save_catalogue(), 0);
    EXPECT_NE(file_text().find("B.zip"), std::string::npos);
    EXPECT_NE(file_text().find("A.zip"), std::string::npos);
}

TEST_F(Catalogue, TextsTravelInTheAnsiCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs the Western code page, this is " << GetACP();
    copy_text(store_.devices[1].display_name, L"P\u00e9riph\u00e9rique \u97f3\u58f0");
    make_archive(L"Son \u00e9.zip");
    ASSERT_EQ(record_backup(archive(L"Son \u00e9.zip").c_str(), {device(1)}), 0);
    EXPECT_NE(file_text().find("<![CDATA[P\xe9riph\xe9rique ??]]>"), std::string::npos);
    EXPECT_NE(file_text().find("<![CDATA[Son \xe9.zip]]>"), std::string::npos);
    ASSERT_EQ(load_catalogue(), 0);
    std::vector<backup_entry> entries = catalogue_snapshot();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].devices[0].desc, L"P\u00e9riph\u00e9rique ??");
    EXPECT_STREQ(entries[0].devices[0].archive, L"Son \u00e9.zip");
}

}  // namespace
