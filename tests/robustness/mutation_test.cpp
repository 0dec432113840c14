// Every input Quillmark reads from outside, mutated thousands of times from
// valid samples: each must end in a result or a refusal, never a crash, a hang
// (ctest's time-out) or a file written outside its folder. One test (one
// process) per format; QM_MUTATIONS sets the rounds (default 2000).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/language.h"
#include "app/settings.h"
#include "backup/catalogue.h"
#include "backup/zip_writer.h"
#include "common/reference_service.h"  // read_file_bytes, write_file_bytes
#include "common/scratch_folder.h"
#include "devices/device_store.h"
#include "install/zip_reader.h"
#include "platform/machine_profile.h"
#include "platform/registry_root.h"
#include "platform/text.h"
#include "robustness/mutator.h"
#include "service/scan_request.h"
#include "service/scan_response.h"
#include "service/update_client.h"

namespace {

enum class kind { bytes, xml };

// Feeds every round's input of `format` to `feed`; prints progress so that a
// crash shows roughly where (QM_MUTATION_ROUND=n repeats a round alone). XML
// formats get hostile values in well-formed documents every other round, so
// that the readers behind the parser are reached too.
template <class Feed>
void mutate_rounds(const char* format, const std::vector<std::string>& samples,
                   const std::vector<std::string>& tokens, Feed&& feed, kind k = kind::bytes) {
    ASSERT_FALSE(samples.empty());
    const int rounds = mutation_rounds();
    for (int round = 0; round < rounds; ++round) {
        if (!round_selected(round)) continue;
        if (round % 500 == 0) {
            std::printf("[%s] round %d of %d\n", format, round, rounds);
            std::fflush(stdout);
        }
        mutator m(round_seed(format, round), tokens);
        const std::string& sample = samples[m.below(static_cast<uint32_t>(samples.size()))];
        feed(k == kind::xml && round % 2 ? m.mutate_values(sample) : m.mutate(sample), m);
        if (::testing::Test::HasFatalFailure()) {
            ADD_FAILURE() << format << ": round " << round;
            return;
        }
    }
}

template <std::size_t N>
bool terminated(const wchar_t (&field)[N]) { return wmemchr(field, L'\0', N) != nullptr; }

device_record device_with_id(const wchar_t* id) {
    device_record d;
    copy_text(d.device_id, id);
    copy_text(d.DriverVersion, L"1.0.0.0");
    copy_text(d.DriverDate, L"2010-01-01");
    d.has_driver = true;
    return d;
}

device_store sample_store() {
    device_store store;
    for (const wchar_t* id : {L"PCI\\VEN_8086&DEV_1E31", L"USB\\VID_046D&PID_C52B", L"HDAUDIO\\FUNC_01",
                              L"ACPI\\PNP0303"})
        store.devices.push_back(device_with_id(id));
    return store;
}

std::string file_or_fail(const std::wstring& path) {
    std::string bytes = read_file_bytes(path);
    EXPECT_FALSE(bytes.empty()) << "cannot read the sample";
    return bytes;
}

TEST(Mutations, ServiceAnswers) {
    const std::string item =
        "<item><hardid>PCI\\VEN_8086&amp;DEV_1E31</hardid><title><![CDATA[Chipset & more]]></title>"
        "<ver>9.3.0.1019</ver><guid>{4d36e97d-e325-11ce-bfc1-08002be10318}</guid>"
        "<link>http://127.0.0.1/packages/chipset.zip</link><official_link>http://o/</official_link>"
        "<infpath>chipset/win7/x64/chip.inf</infpath><manu>Intel\xae</manu><date>2013-01-10</date>"
        "<desc>d&#233;</desc><size>1048576</size><cp>2</cp><sign>0</sign><feature>ff</feature>"
        "<targetos>61</targetos></item>";
    const std::string head = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r><hardwares>";
    const std::vector<std::string> samples = {
        head + "<hardware><id>PCI\\VEN_8086&amp;DEV_1E31</id>" + item + item + "</hardware>"
               "<hardware><id>USB\\VID_046D&amp;PID_C52B</id>" + item + "</hardware></hardwares></r>",
        head + "<hardware><id>HDAUDIO\\FUNC_01</id><item><ver>1.0.0.1</ver><date>2011-02-03</date>"
               "<link>a b.zip</link><size>0</size><targetos>62</targetos></item></hardware>"
               "<hardware><id></id></hardware></hardwares></r>",
        head + "</hardwares></r>",
    };
    const std::vector<std::string> tokens = {"<hardware>", "</hardware>", "<item>", "</item>", "<id>",
        "</id>", "<ver>", "<date>", "<size>", "<![CDATA[", "]]>", "&amp;", "&#0;", "&#xFFFF;",
        "<!DOCTYPE r [<!ENTITY a \"aaaa\">]>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<a/>"};

    device_store store;
    update_client* client = create_update_client(&store);
    ASSERT_NE(client, nullptr);
    scan_query_params params;
    params.os_version = 61;
    store = sample_store();
    ASSERT_TRUE(parse_scan_answer(samples[0].c_str(), store));
    ASSERT_EQ(store.devices[0].offer_count, 2u);
    int accepted = 0;
    mutate_rounds("answer", samples, tokens, [&](const std::string& input, mutator&) {
        store = sample_store();
        if (!parse_scan_answer(input.c_str(), store)) return;
        ++accepted;
        for (device_record& d : store.devices) {
            ASSERT_LE(d.offer_count, 500u);
            ASSERT_EQ(d.offers.size(), d.offer_count);
            evaluate_device(*client, d, params);
        }
    }, kind::xml);
    std::printf("[answer] %d accepted\n", accepted);
    release_update_client(client);
}

TEST(Mutations, LanguageFiles) {
    // Four sections of the shipped file: English, German, Japanese, Arabic.
    const std::string shipped = file_or_fail(std::wstring(QM_PROGRAM_DIR_W) + L"\\language.ini");
    std::string sample;
    for (const char* name : {"[English]", "[Deutsch]", "[\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e]",
                             "[\xd8\xa7\xd9\x84\xd8\xb9\xd8\xb1\xd8\xa8\xd9\x8a\xd8\xa9]"}) {
        const std::size_t start = shipped.find(name);
        ASSERT_NE(start, std::string::npos) << name;
        const std::size_t end = shipped.find("\n[", start);
        sample += shipped.substr(start, end == std::string::npos ? end : end - start + 1);
    }
    const std::vector<std::string> tokens = {"[", "]", "=", "\"", ";", "[English]\n",
        "download_date1 = \"%s %s\"\n", "error_network_error = \"%d%n\"\n", "about_info1 = \"%s%s%s%s\"\n",
        "sidebar_total = \"%999999d\"\n", "new_driver_notify = \"%ls\"\n"};

    scratch_folder scratch;
    const std::wstring path = scratch / L"language.ini";
    wchar_t out[512];
    mutate_rounds("language.ini", {sample}, tokens, [&](const std::string& input, mutator&) {
        ASSERT_TRUE(write_file_bytes(path, input));
        load_language_file(path.c_str(), L"English", false);
        load_language_file(path.c_str(), L"\x65e5\x672c\x8a9e", true);
        for (const format_rule& rule : format_rules) {
            const wchar_t* format = text_for(rule.key).c_str();
            const std::string arguments = rule.arguments;
            if (arguments == "sss") format_text(out, 512, format, L"1.0", L"Jan 1 2026", L"12:00:00");
            else if (arguments == "ss") format_text(out, 512, format, L"2010-01-01", L"2013-01-10");
            else if (arguments == "s") format_text(out, 512, format, L"2013-01-10");
            else format_text(out, 512, format, 404);
            ASSERT_TRUE(terminated(out));
        }
        ASSERT_TRUE(current_language_name() != nullptr);
    });
    reset_language_table();
}

TEST(Mutations, MachineProfiles) {
    const std::wstring source = QM_SOURCE_DIR_W;
    const std::vector<std::string> samples = {
        file_or_fail(source + L"\\profiles\\example-pc.xml"),
        file_or_fail(source + L"\\profiles\\xp-pc.xml"),
        file_or_fail(source + L"\\tests\\app\\win7-pc.xml"),
    };
    const std::vector<std::string> tokens = {"<device ", "</device>", "<driver ", "<class ", "guid=\"",
        "{00000000-0000-0000-0000-000000000000}", "hardware_ids=\"", "instances=\"", "\"99999999999\"",
        "<driver_store ", "<package ", "<file ", "size=\"", "&#0;", "&amp;", "<![CDATA["};
    for (const std::string& sample : samples) {
        machine_profile profile;
        ASSERT_TRUE(parse_machine_profile(sample.c_str(), profile));
    }
    int accepted = 0;
    mutate_rounds("profile", samples, tokens, [&](const std::string& input, mutator&) {
        machine_profile profile;
        std::wstring error;
        if (parse_machine_profile(input.c_str(), profile, &error)) {
            ++accepted;
        } else {
            ASSERT_FALSE(error.empty());
        }
    }, kind::xml);
    std::printf("[profile] %d accepted\n", accepted);
}

TEST(Mutations, BackupCatalogue) {
    auto device = [](const char* id) {
        return std::string("<device><id><![CDATA[") + id + "]]></id><desc><![CDATA[A device]]></desc>"
               "<manu><![CDATA[M]]></manu><name><![CDATA[oem1.inf]]></name><version><![CDATA[1.0]]>"
               "</version><date><![CDATA[2011-01-01]]></date></device>";
    };
    const std::string sample =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<quillmark>\r\n"
        "<driver><file><![CDATA[Chipset.zip]]></file><date>2020-05-06</date><devices>" +
        device("PCI\\VEN_8086&DEV_1E31") + device("HDAUDIO\\FUNC_01") + "</devices></driver>"
        "<driver><file><![CDATA[Mouse.zip]]></file><date>2021-02-03</date><devices>" +
        device("USB\\VID_046D&PID_C52B") + "</devices></driver></quillmark>\r\n";
    const std::vector<std::string> tokens = {"<driver>", "</driver>", "<device>", "</device>",
        "<file>", "<![CDATA[", "]]>", "..\\..\\x.zip", "C:\\x.zip", "<date>", "</devices>"};
    {
        std::vector<backup_entry> entries;
        ASSERT_TRUE(read_catalogue(sample, entries));
        ASSERT_EQ(entries.size(), 2u);
    }
    int accepted = 0;
    mutate_rounds("backup.xml", {sample}, tokens, [&](const std::string& input, mutator&) {
        std::vector<backup_entry> entries;
        if (!read_catalogue(input, entries)) return;
        accepted += !entries.empty();
        for (const backup_entry& e : entries) {
            ASSERT_TRUE(memchr(e.file, '\0', sizeof e.file));
            ASSERT_EQ(std::strpbrk(e.file, "\\/:"), nullptr) << e.file;  // stays in the backup folder
            ASSERT_FALSE(e.devices.empty());
            for (const backed_up_device& d : e.devices) ASSERT_TRUE(terminated(d.desc));
        }
    }, kind::xml);
    std::printf("[backup.xml] %d with entries\n", accepted);
}

TEST(Mutations, InstalledSet) {
    scratch_folder scratch;
    const std::wstring path = scratch / L"setup.dat";
    const std::string sample = "http://127.0.0.1/packages/chipset.zip\r\nhttp://o/a b.zip\r\n\r\n  x.zip \n";
    device_store store = sample_store();
    update_client* client = create_update_client(&store);
    ASSERT_NE(client, nullptr);
    mutate_rounds("setup.dat", {sample, std::string(3000, 'l') + "\n"}, {"\r\n", "\n", "\r"},
                  [&](const std::string& input, mutator&) {
        ASSERT_TRUE(write_file_bytes(path, input));
        load_installed_set(*client, path.c_str());
        ASSERT_LE(client->installed.size(), input.size());
    });
    release_update_client(client);
}

// Replaces every occurrence of `from` with `to` (of the same length): an
// entry name is in the local header and again in the central directory.
std::string patched(std::string bytes, const std::string& from, const std::string& to) {
    for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + 1))
        bytes.replace(at, from.size(), to);
    return bytes;
}

// Sets a field of every local header (signature PK\3\4) and central
// directory header (PK\1\2), at the given offsets from each signature.
std::string with_header_field(std::string bytes, std::size_t local_offset, std::size_t central_offset,
                              uint32_t value, std::size_t width) {
    for (const auto& [signature, offset] : {std::pair<std::string, std::size_t>{"PK\x03\x04", local_offset},
                                            {"PK\x01\x02", central_offset}})
        for (std::size_t at = bytes.find(signature); at != std::string::npos;
             at = bytes.find(signature, at + 1))
            if (at + offset + width <= bytes.size()) std::memcpy(&bytes[at + offset], &value, width);
    return bytes;
}

// Whether a file whose name starts with "evil" exists directly in `folder`.
bool evil_file_in(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\evil*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

TEST(Mutations, ZipArchives) {
    scratch_folder scratch;
    // A package: an INF, a compressible and an incompressible file, a nested
    // folder, an empty file; the names are placeholders of the hostile ones.
    const std::wstring source = scratch / L"source";
    CreateDirectoryW(source.c_str(), nullptr);
    ASSERT_TRUE(write_file_bytes(source + L"\\a.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n"));
    std::string text, noise;
    for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " of a driver's notes\r\n";
    for (uint32_t x = 1, i = 0; i < 20000; ++i) noise += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
    ASSERT_TRUE(write_file_bytes(source + L"\\notes.txt", text));
    ASSERT_TRUE(write_file_bytes(source + L"\\driver.sys", noise));
    ASSERT_TRUE(write_file_bytes(source + L"\\empty.cat", ""));
    const std::wstring archive = scratch / L"package.zip";
    {
        zip_writer writer;
        ASSERT_EQ(writer.create(archive), 0);
        writer.add_file(source + L"\\a.inf", L"x64\\aaaaaaaaaaaa.inf");
        writer.add_file(source + L"\\notes.txt", L"notes.txt");
        writer.add_file(source + L"\\driver.sys", L"x64\\sys\\driver.sys");
        writer.add_file(source + L"\\empty.cat", L"bbbbbbbbbbbb");
        ASSERT_EQ(writer.close(), 0);
    }
    const std::string good = read_file_bytes(archive);
    const std::vector<std::string> samples = {
        good,
        patched(good, "x64\\aaaaaaaaaaaa.inf", "..\\..\\..\\evil1.inf"),
        patched(good, "x64\\aaaaaaaaaaaa.inf", "C:\\evil2.inf\\aaaaaa"),
        patched(good, "bbbbbbbbbbbb", "\\\\?\\C:\\evil3"),
        patched(good, "bbbbbbbbbbbb", "CON\\evil4.ca"),
        with_header_field(good, 6, 8, 1, 2),                 // every entry encrypted
        with_header_field(good, 22, 24, 0xFFFFFFF0u, 4),     // huge declared sizes
        with_header_field(good, 18, 20, 0xFFFFFFF0u, 4),     // huge compressed sizes
        good.substr(0, good.size() / 2),                     // cut in the middle
    };
    const std::vector<std::string> tokens = {"PK\x03\x04", "PK\x01\x02", "PK\x05\x06", "PK\x06\x06",
        "..\\", "/", ":", "CON", "\\\\?\\"};

    const std::wstring input_path = scratch / L"input.zip";
    const std::wstring out = scratch / L"out";
    {
        CreateDirectoryW(out.c_str(), nullptr);
        zip_reader reader;
        ASSERT_EQ(reader.open(archive.c_str()), 0);
        ASSERT_EQ(reader.extract_all(out, false, true), 0);
        ASSERT_EQ(read_file_bytes(out + L"\\x64\\sys\\driver.sys"), noise);
        reader.close();
        remove_tree(out);
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    mutate_rounds("zip", samples, tokens, [&](const std::string& input, mutator&) {
        ASSERT_TRUE(write_file_bytes(input_path, input));
        CreateDirectoryW(out.c_str(), nullptr);
        {
            zip_reader reader;
            if (reader.open(input_path.c_str()) == 0) reader.extract_all(out, false, true);
        }
        remove_tree(out);
        ASSERT_FALSE(evil_file_in(scratch.path()));
        ASSERT_FALSE(evil_file_in(temp));
    });
    EXPECT_FALSE(evil_file_in(L"C:"));
    EXPECT_FALSE(evil_file_in(L"C:\\windows"));
}

// The settings' values with random types and sizes. Text values of the two
// folders are always paths under the scratch folder (the settings create
// them); every other value may be anything.
TEST(Mutations, RegistryValues) {
    scratch_folder scratch;
    const std::wstring key_path = L"Software\\QuillmarkTests\\robust-" + std::to_wstring(GetCurrentProcessId());
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path.c_str());
    HKEY root = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &root, nullptr), ERROR_SUCCESS);
    set_settings_root(root);
    wchar_t saved_program_dir[MAX_PATH];
    copy_text(saved_program_dir, program_dir);
    copy_text(program_dir, (scratch.path() + L"\\").c_str());
    wchar_t saved_directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved_directory);
    SetCurrentDirectoryW(scratch.path().c_str());  // where a relative folder would land

    const wchar_t* const names[] = {L"autorun", L"scan_offline", L"close_to_tray", L"scheduled_scan",
                                    L"download_path", L"backup_path", L"language", L"install_date"};
    const DWORD types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                           REG_MULTI_SZ, REG_QWORD, 0x4321};
    const DWORD sizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 63, 64, 65, 66, 519, 520, 521, 522, 1000, 70000};
    mutate_rounds("registry", {std::string()}, {}, [&](const std::string&, mutator& m) {
        HKEY settings = nullptr;
        if (m.below(10) == 0) RegDeleteTreeW(root, L"SOFTWARE\\Vantorel");  // a first run
        RegCreateKeyExW(root, L"SOFTWARE\\Vantorel", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &settings, nullptr);
        ASSERT_NE(settings, nullptr);
        for (uint32_t n = 1 + m.below(3); n > 0; --n) {
            const uint32_t which = m.below(8);
            const DWORD type = types[m.below(9)];
            std::string data(sizes[m.below(18)], '\0');
            const bool folder = which == 4 || which == 5;
            if (folder && (type == REG_SZ || type == REG_EXPAND_SZ)) {
                std::wstring path = scratch.path() + L"\\";
                for (uint32_t i = m.below(300); i > 0; --i) path += L"abc \\"[m.below(5)];
                data.assign(reinterpret_cast<const char*>(path.c_str()), (path.size() + m.below(2)) * 2);
            } else {
                for (char& c : data) c = static_cast<char>(m.below(256));
            }
            RegSetValueExW(settings, names[which], 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()));
        }
        const DWORD number = m.below(20);
        RegSetValueExW(settings, L"unrelated", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
        RegCloseKey(settings);

        ASSERT_TRUE(load_settings());
        const app_settings& s = current_settings;
        ASSERT_TRUE(terminated(s.download_path) && terminated(s.backup_path) && terminated(s.language) &&
                    terminated(s.install_date) && terminated(s.session_download_path));
        close_settings_key();
    });
    SetCurrentDirectoryW(saved_directory);
    copy_text(program_dir, saved_program_dir);
    set_settings_root(nullptr);
    RegCloseKey(root);
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path.c_str());
}

}  // namespace
