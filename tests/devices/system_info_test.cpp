// System information: the version table and code names, the OS
// version number, the 64-bit test, format_size, the OS line, the WMI
// collection rules over a scripted reader, and WMI against Wine's service.
#include <gtest/gtest.h>

#include <objbase.h>

#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "devices/system_info.h"
#include "platform/machine_profile.h"
#include "platform/system_source.h"
#include "platform/text.h"
#include "platform/wmi.h"

namespace {

OSVERSIONINFOEXW version_of(DWORD platform, DWORD major, DWORD minor, BYTE product_type) {
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof(v);
    v.dwPlatformId = platform;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.wProductType = product_type;
    return v;
}

constexpr BYTE WS = VER_NT_WORKSTATION, SRV = VER_NT_SERVER, DC = VER_NT_DOMAIN_CONTROLLER;
constexpr DWORD NT = VER_PLATFORM_WIN32_NT;

struct version_row {
    DWORD platform, major, minor;
    BYTE product_type;
    int server_r2;
    int32_t kind;
    const char* name32;
    const char* name64;
};

// Every row of the table, with the odd ones: 5.x with minor 3 or higher,
// 6.x with minor 3 or higher and major 7 or higher are all "XP".
const version_row version_table[] = {
    {VER_PLATFORM_WIN32s, 5, 1, WS, 0, 0, "NOT_SUPPORTED", "NOT_SUPPORTED"},
    {VER_PLATFORM_WIN32_WINDOWS, 4, 10, WS, 0, 0, "NOT_SUPPORTED", "NOT_SUPPORTED"},
    {3, 6, 1, WS, 0, 0, "NOT_SUPPORTED", "NOT_SUPPORTED"},  // any other platform
    {NT, 3, 51, WS, 0, 0, "NOT_SUPPORTED", "NOT_SUPPORTED"},
    {NT, 4, 0, SRV, 0, 0, "NOT_SUPPORTED", "NOT_SUPPORTED"},
    {NT, 5, 0, WS, 0, 0, "NOT_SUPPORTED", "NOT_SUPPORTED"},  // Windows 2000
    {NT, 5, 1, WS, 0, 2, "WINXP", "WINXP64"},
    {NT, 5, 1, WS, 1, 2, "WINXP", "WINXP64"},  // the R2 metric counts on 5.2 only
    {NT, 5, 2, SRV, 0, 3, "WIN2003", "WIN200364"},
    {NT, 5, 2, WS, 0, 3, "WIN2003", "WIN200364"},  // XP x64 reports 5.2
    {NT, 5, 2, SRV, 1, 4, "WIN2003", "WIN200364"},  // Server 2003 R2
    {NT, 5, 3, WS, 0, 2, "WINXP", "WINXP64"},
    {NT, 5, 9, SRV, 1, 2, "WINXP", "WINXP64"},
    {NT, 6, 0, WS, 0, 5, "VISTA", "VISTA64"},
    {NT, 6, 0, SRV, 0, 6, "WIN2008", "WIN200864"},
    {NT, 6, 0, DC, 0, 6, "WIN2008", "WIN200864"},
    {NT, 6, 1, WS, 0, 8, "WIN7", "WIN764"},
    {NT, 6, 1, SRV, 0, 7, "WIN2008", "WIN200864"},  // Server 2008 R2
    {NT, 6, 1, DC, 1, 7, "WIN2008", "WIN200864"},
    {NT, 6, 2, WS, 0, 9, "WIN8", "WIN864"},
    {NT, 6, 2, SRV, 0, 9, "WIN8", "WIN864"},
    {NT, 6, 3, WS, 0, 2, "WINXP", "WINXP64"},  // 8.1 as GetVersionExW may report it
    {NT, 6, 4, SRV, 0, 2, "WINXP", "WINXP64"},
    {NT, 7, 0, WS, 0, 2, "WINXP", "WINXP64"},
    {NT, 10, 0, WS, 0, 2, "WINXP", "WINXP64"},
};

TEST(VersionTable, EveryRowWithBothBitnessColumns) {
    for (const version_row& row : version_table) {
        SCOPED_TRACE(testing::Message() << "platform " << row.platform << ", " << row.major << "."
                                        << row.minor << ", product " << int(row.product_type)
                                        << ", R2 " << row.server_r2);
        OSVERSIONINFOEXW v = version_of(row.platform, row.major, row.minor, row.product_type);
        int32_t kind = derive_os_kind(v, row.server_r2);
        EXPECT_EQ(kind, row.kind);
        EXPECT_STREQ(os_code_name_for(kind, false), row.name32);
        EXPECT_STREQ(os_code_name_for(kind, true), row.name64);
        EXPECT_EQ(os_version_number(v), static_cast<int32_t>(row.major * 10 + row.minor));
    }
}

TEST(VersionTable, KindsOutsideTheTableAreNotSupported) {
    for (int32_t kind : {-1, 1, 10, 100}) {
        EXPECT_STREQ(os_code_name_for(kind, false), "NOT_SUPPORTED");
        EXPECT_STREQ(os_code_name_for(kind, true), "NOT_SUPPORTED");
    }
}

TEST(SixtyFourBit, ArchitectureLowBitsOrWow64) {
    SYSTEM_INFO info{};
    info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;  // 0
    EXPECT_FALSE(is_64bit_windows(info, false));
    EXPECT_TRUE(is_64bit_windows(info, true));
    for (WORD arch : {WORD(PROCESSOR_ARCHITECTURE_AMD64), WORD(PROCESSOR_ARCHITECTURE_IA64),
                      WORD(PROCESSOR_ARCHITECTURE_ARM), WORD(PROCESSOR_ARCHITECTURE_UNKNOWN)}) {
        info.wProcessorArchitecture = arch;
        EXPECT_TRUE(is_64bit_windows(info, false)) << arch;
    }
    info.wProcessorArchitecture = 0x10;  // only the low four bits count
    EXPECT_FALSE(is_64bit_windows(info, false));
}

// A system source that answers only the WOW64 question.
class wow64_source : public system_source {
public:
    bool wow64 = false;
    bool query_version(OSVERSIONINFOEXW&, DWORD) override { return false; }
    bool query_power_status(SYSTEM_POWER_STATUS&) override { return false; }
    void query_system_info(SYSTEM_INFO& out) override { out = SYSTEM_INFO{}; }
    bool is_wow64() override { return wow64; }
    int server_r2_metric() override { return 0; }
    UINT oem_code_page() override { return 437; }
};

TEST(SixtyFourBit, CodeNameFromTheCapturedValues) {
    wow64_source fake;
    set_system_source(&fake);
    const SYSTEM_INFO saved_info = system_info;
    const int32_t saved_kind = os_kind;
    const OSVERSIONINFOEXW saved_version = windows_version;

    os_kind = 8;
    system_info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    EXPECT_STREQ(os_code_name(), "WIN7");
    fake.wow64 = true;  // a 32-bit program on 64-bit Windows 7 Professional
    EXPECT_TRUE(is_64bit_windows());
    EXPECT_STREQ(os_code_name(), "WIN764");
    fake.wow64 = false;
    os_kind = 7;
    system_info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    EXPECT_STREQ(os_code_name(), "WIN200864");

    windows_version = version_of(NT, 6, 1, WS);
    EXPECT_EQ(os_version_number(), 61);

    system_info = saved_info;
    os_kind = saved_kind;
    windows_version = saved_version;
    set_system_source(nullptr);
}

TEST(SixtyFourBit, RealMachineUnderWineIs64Bit) {
    // Wine runs the x64 build natively and the x86 build under WOW64; both
    // are on 64-bit Windows (no machine profile in this test program).
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    bool wow64 = real_system_source().is_wow64();
    EXPECT_TRUE(is_64bit_windows(info, wow64));
#ifdef _WIN64
    EXPECT_FALSE(wow64);
#else
    EXPECT_TRUE(wow64);
#endif
}

TEST(FormatSize, Boundaries) {
    EXPECT_EQ(format_size(0), L"0B");
    EXPECT_EQ(format_size(1), L"1B");
    EXPECT_EQ(format_size(1024), L"1024B");
    EXPECT_EQ(format_size(1025), L"1.00K");
    EXPECT_EQ(format_size(1536), L"1.50K");
    EXPECT_EQ(format_size(1048576), L"1024.00K");
    EXPECT_EQ(format_size(1048577), L"1.00M");
    EXPECT_EQ(format_size(1073741824), L"1024.00M");
    EXPECT_EQ(format_size(1073741825), L"1.00G");
    EXPECT_EQ(format_size(8LL << 30), L"8.00G");
    EXPECT_EQ(format_size(3LL << 40), L"3072.00G");
}

TEST(FormatSize, NegativeCountsShowTheirLow32Bits) {
    EXPECT_EQ(format_size(-1), L"-1B");
    EXPECT_EQ(format_size(-1024), L"-1024B");
    EXPECT_EQ(format_size(-4294967296LL), L"0B");
    EXPECT_EQ(format_size(-4294967295LL), L"1B");
    EXPECT_EQ(format_size(INT64_MIN), L"0B");
}

TEST(OsLine, CaptionBuildAndServicePack) {
    EXPECT_EQ(compose_os_line(L"Microsoft Windows 7 Professional", L"7601", L"Service Pack 1"),
              L"Microsoft Windows 7 Professional Build 7601 Service Pack 1");
    EXPECT_EQ(compose_os_line(L"Microsoft Windows 8 Pro", L"9200", L""),
              L"Microsoft Windows 8 Pro Build 9200");
    EXPECT_EQ(compose_os_line(L"Microsoft Windows XP", L"", L"Service Pack 3"),
              L"Microsoft Windows XP Service Pack 3");
    EXPECT_EQ(compose_os_line(L"Microsoft Windows XP", L"", L""), L"Microsoft Windows XP");
}

// A reader with scripted objects: for each query and property, the values of
// the result objects in order (nullopt: Get fails or VT_NULL).
class scripted_reader : public wmi_reader {
public:
    HRESULT connect_result = S_OK;
    std::map<std::pair<std::wstring, std::wstring>, std::vector<std::optional<std::wstring>>> objects;
    std::vector<std::wstring> failing_queries;
    std::vector<std::pair<std::wstring, std::wstring>> asked;  // query, property
    std::vector<int> visited;  // how many objects each question took

    HRESULT connect() override { return connect_result; }
    bool for_each_value(const wchar_t* wql, const wchar_t* property,
                        const value_visitor& visit) override {
        asked.emplace_back(wql, property);
        visited.push_back(0);
        for (const std::wstring& failing : failing_queries)
            if (failing == wql) return false;
        auto found = objects.find({wql, property});
        if (found == objects.end()) return true;  // no objects
        for (const auto& value : found->second) {
            ++visited.back();
            if (!visit(value)) break;
        }
        return true;
    }
};

const wchar_t* const PROCESSOR = L"SELECT * FROM Win32_Processor";
const wchar_t* const OS = L"SELECT * FROM Win32_OperatingSystem";
const wchar_t* const MEMORY = L"SELECT * FROM Win32_PhysicalMemory";
const wchar_t* const DISK = L"SELECT * FROM Win32_DiskDrive";
const wchar_t* const DISPLAY = L"SELECT * FROM Win32_DisplayConfiguration";
const wchar_t* const SOUND = L"SELECT * FROM Win32_SoundDevice";
const wchar_t* const COMPUTER = L"SELECT * FROM Win32_ComputerSystem";

class Collection : public ::testing::Test {
protected:
    scripted_reader reader;
    machine_info_record saved;
    void SetUp() override { saved = machine_info; }
    void TearDown() override { machine_info = saved; }

    void fill_typical() {
        reader.objects[{PROCESSOR, L"Name"}] = {L"Intel(R) Core(TM) i5-3320M CPU @ 2.60GHz"};
        reader.objects[{OS, L"Caption"}] = {L"Microsoft Windows 7 Professional"};
        reader.objects[{OS, L"BuildNumber"}] = {L"7601"};
        reader.objects[{OS, L"CSDVersion"}] = {L"Service Pack 1"};
        reader.objects[{MEMORY, L"Capacity"}] = {L"4294967296", L"4294967296"};
        reader.objects[{DISK, L"Model"}] = {L"INTEL SSDSC2CW120A3"};
        reader.objects[{DISPLAY, L"Caption"}] = {L"Intel(R) HD Graphics 4000"};
        reader.objects[{SOUND, L"Description"}] = {L"High Definition Audio Device"};
        reader.objects[{COMPUTER, L"Model"}] = {L"2344BZU"};
    }
};

TEST_F(Collection, FillsEveryFieldWithTheExactQueriesInOrder) {
    fill_typical();
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.cpu, L"Intel(R) Core(TM) i5-3320M CPU @ 2.60GHz");
    EXPECT_EQ(machine_info.os, L"Microsoft Windows 7 Professional Build 7601 Service Pack 1");
    EXPECT_EQ(machine_info.memory, L"8.00G");  // two modules of 4294967296 bytes
    EXPECT_EQ(machine_info.storage, L"INTEL SSDSC2CW120A3");
    EXPECT_EQ(machine_info.display, L"Intel(R) HD Graphics 4000");
    EXPECT_EQ(machine_info.sound, L"High Definition Audio Device");
    EXPECT_EQ(machine_info.model, L"2344BZU");
    using q = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(reader.asked, (std::vector<q>{{PROCESSOR, L"Name"},
                                            {OS, L"Caption"},
                                            {OS, L"BuildNumber"},
                                            {OS, L"CSDVersion"},
                                            {MEMORY, L"Capacity"},
                                            {DISK, L"Model"},
                                            {DISPLAY, L"Caption"},
                                            {SOUND, L"Description"},
                                            {COMPUTER, L"Model"}}));
}

TEST_F(Collection, SetUpFailureIsMinusOneAndLeavesTheFields) {
    machine_info.cpu = L"before";
    reader.connect_result = E_ACCESSDENIED;
    EXPECT_EQ(collect_system_info(reader, nullptr, machine_info), -1);
    EXPECT_EQ(machine_info.cpu, L"before");
    EXPECT_TRUE(reader.asked.empty());
}

TEST_F(Collection, FirstObjectWithAValueGivesTheField) {
    fill_typical();
    reader.objects[{DISK, L"Model"}] = {std::nullopt, std::nullopt, L"second disk", L"third disk"};
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.storage, L"second disk");
    EXPECT_EQ(reader.visited[5], 3);  // stopped at the first value
    // A present but empty value is a value.
    reader = scripted_reader{};
    fill_typical();
    reader.objects[{PROCESSOR, L"Name"}] = {L"", L"later"};
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.cpu, L"");
}

TEST_F(Collection, FieldsWithoutValuesStayEmptyAsUnderWine) {
    fill_typical();
    reader.objects.erase({DISPLAY, L"Caption"});                     // no rows
    reader.objects[{SOUND, L"Description"}] = {std::nullopt};        // no such property
    reader.failing_queries = {COMPUTER};                              // ExecQuery failed
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.display, L"");
    EXPECT_EQ(machine_info.sound, L"");
    EXPECT_EQ(machine_info.model, L"");
    EXPECT_EQ(machine_info.cpu, L"Intel(R) Core(TM) i5-3320M CPU @ 2.60GHz");
}

TEST_F(Collection, OsLineWithoutBuildOrServicePack) {
    fill_typical();
    reader.objects[{OS, L"CSDVersion"}] = {std::nullopt};
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.os, L"Microsoft Windows 7 Professional Build 7601");
    reader.objects[{OS, L"CSDVersion"}] = {L""};
    reader.objects[{OS, L"BuildNumber"}] = {L""};
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.os, L"Microsoft Windows 7 Professional");
}

TEST_F(Collection, NoCaptionLeavesOsEmptyAndAsksNoMore) {
    fill_typical();
    reader.objects[{OS, L"Caption"}] = {std::nullopt};
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.os, L"");
    for (const auto& question : reader.asked) EXPECT_NE(question.second, L"BuildNumber");
    for (const auto& question : reader.asked) EXPECT_NE(question.second, L"CSDVersion");
}

TEST_F(Collection, MemoryIsTheSumOfEveryModule) {
    fill_typical();
    reader.objects[{MEMORY, L"Capacity"}] = {L"2147483648", std::nullopt, L"1073741824", L"536870912"};
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.memory, L"3.50G");
    reader.objects[{MEMORY, L"Capacity"}] = {};
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.memory, L"0B");  // the query ran: an empty sum
    reader.failing_queries = {MEMORY};
    ASSERT_EQ(collect_system_info(reader, nullptr, machine_info), 0);
    EXPECT_EQ(machine_info.memory, L"");  // a failed query leaves the field empty
}

TEST_F(Collection, MachineProfileItemsReplaceTheWmiFields) {
    fill_typical();
    profile_system profile;
    profile.cpu = L"Profile CPU";
    profile.memory = 8589934592LL;
    profile.display = L"";  // present but empty replaces too
    profile.model = L"ThinkPad T430";
    ASSERT_EQ(collect_system_info(reader, &profile, machine_info), 0);
    EXPECT_EQ(machine_info.cpu, L"Profile CPU");
    EXPECT_EQ(machine_info.memory, L"8.00G");
    EXPECT_EQ(machine_info.display, L"");
    EXPECT_EQ(machine_info.model, L"ThinkPad T430");
    // Absent items keep what WMI gave.
    EXPECT_EQ(machine_info.os, L"Microsoft Windows 7 Professional Build 7601 Service Pack 1");
    EXPECT_EQ(machine_info.storage, L"INTEL SSDSC2CW120A3");
    EXPECT_EQ(machine_info.sound, L"High Definition Audio Device");
    // Only what the profile leaves open is asked.
    using q = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(reader.asked, (std::vector<q>{{OS, L"Caption"},
                                            {OS, L"BuildNumber"},
                                            {OS, L"CSDVersion"},
                                            {DISK, L"Model"},
                                            {SOUND, L"Description"}}));
}

TEST_F(Collection, FullProfileAsksNothingAfterConnecting) {
    fill_typical();
    profile_system profile;
    profile.cpu = L"Profile CPU";
    profile.os = L"Profile OS";
    profile.memory = 2048;
    profile.storage = L"Profile disk";
    profile.display = L"Profile display";
    profile.sound = L"Profile sound";
    profile.model = L"Profile model";
    ASSERT_EQ(collect_system_info(reader, &profile, machine_info), 0);
    EXPECT_TRUE(reader.asked.empty());
    EXPECT_EQ(machine_info.os, L"Profile OS");
    EXPECT_EQ(machine_info.sound, L"Profile sound");
    EXPECT_EQ(machine_info.memory, L"2.00K");
}

TEST_F(Collection, ProfileDoesNotHideASetUpFailure) {
    profile_system profile;
    profile.cpu = L"Profile CPU";
    reader.connect_result = E_FAIL;
    EXPECT_EQ(collect_system_info(reader, &profile, machine_info), -1);
}

bool running_under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// WMI needs COM on the calling thread, as the program's entry provides it.
class RealWmi : public ::testing::Test {
protected:
    HRESULT com = E_FAIL;
    machine_info_record saved;
    void SetUp() override {
        com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        saved = machine_info;
    }
    void TearDown() override {
        machine_info = saved;
        if (SUCCEEDED(com)) CoUninitialize();
    }
};

TEST_F(RealWmi, CollectsFromTheService) {
    ASSERT_TRUE(SUCCEEDED(com));
    ASSERT_EQ(collect_system_info(machine_info), 0);
    EXPECT_FALSE(machine_info.cpu.empty());
    EXPECT_FALSE(machine_info.os.empty());
    EXPECT_NE(machine_info.os.find(L" Build "), std::wstring::npos) << wide_to_utf8(machine_info.os);
    EXPECT_FALSE(machine_info.storage.empty());
    EXPECT_FALSE(machine_info.model.empty());
    ASSERT_FALSE(machine_info.memory.empty());
    wchar_t unit = machine_info.memory.back();
    EXPECT_TRUE(unit == L'G' || unit == L'M' || unit == L'K') << wide_to_utf8(machine_info.memory);
    EXPECT_NE(machine_info.memory, L"0B");
    if (running_under_wine()) {
        // Wine has no Win32_DisplayConfiguration rows and no Description on
        // Win32_SoundDevice: those fields stay empty, as for failed queries.
        EXPECT_EQ(machine_info.display, L"");
        EXPECT_EQ(machine_info.sound, L"");
    }
}

TEST_F(RealWmi, SecondCollectionInOneProcessAlsoWorks) {
    // COM security can be set once per process; a later set-up must still
    // succeed (RPC_E_TOO_LATE is no failure).
    ASSERT_TRUE(SUCCEEDED(com));
    ASSERT_EQ(collect_system_info(machine_info), 0);
    std::wstring first_cpu = machine_info.cpu;
    machine_info = machine_info_record{};
    ASSERT_EQ(collect_system_info(machine_info), 0);
    EXPECT_EQ(machine_info.cpu, first_cpu);
}

TEST_F(RealWmi, ReaderReportsEachObjectAndNullForAMissingProperty) {
    ASSERT_TRUE(SUCCEEDED(com));
    std::unique_ptr<wmi_reader> reader = make_wmi_reader();
    ASSERT_EQ(reader->connect(), S_OK);
    std::vector<std::optional<std::wstring>> names;
    EXPECT_TRUE(reader->for_each_value(L"SELECT * FROM Win32_Processor", L"Name",
                                       [&](const std::optional<std::wstring>& v) {
                                           names.push_back(v);
                                           return true;
                                       }));
    ASSERT_FALSE(names.empty());
    EXPECT_TRUE(names[0].has_value());
    std::vector<std::optional<std::wstring>> missing;
    EXPECT_TRUE(reader->for_each_value(L"SELECT * FROM Win32_Processor", L"NoSuchProperty",
                                       [&](const std::optional<std::wstring>& v) {
                                           missing.push_back(v);
                                           return true;
                                       }));
    ASSERT_FALSE(missing.empty());
    for (const auto& v : missing) EXPECT_FALSE(v.has_value());
}

TEST_F(RealWmi, WithoutComTheSetUpFails) {
    // A thread that never initialised COM: the locator cannot be created.
    int result = 0;
    machine_info_record before = machine_info;
    std::thread worker([&] { result = collect_system_info(machine_info); });
    worker.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(machine_info.cpu, before.cpu);
}

}  // namespace
