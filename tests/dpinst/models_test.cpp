#include "dpinst/inf_models.h"

#include <gtest/gtest.h>

#include <map>

#include "dpinst_doubles.h"

namespace {

const platform_target win7_x64{L"amd64", 6, 1, 7601, 1};
const platform_target win7_x86{L"x86", 6, 1, 7601, 1};
const platform_target xp_x86{L"x86", 5, 1, 2600, 1};

bool applies(const wchar_t* decoration, const platform_target& t) {
    unsigned long long rank = 0;
    return decoration_applies(decoration, t, rank);
}

unsigned long long rank_of(const wchar_t* decoration, const platform_target& t) {
    unsigned long long rank = 0;
    EXPECT_TRUE(decoration_applies(decoration, t, rank)) << decoration;
    return rank;
}

}  // namespace

TEST(DpinstDecorations, ApplyByArchitectureAndOsVersion) {
    EXPECT_TRUE(applies(L"NTamd64", win7_x64));
    EXPECT_TRUE(applies(L"ntAMD64", win7_x64));
    EXPECT_FALSE(applies(L"NTx86", win7_x64));
    EXPECT_FALSE(applies(L"NTamd64", win7_x86));
    EXPECT_TRUE(applies(L"NT", win7_x86));
    EXPECT_TRUE(applies(L"NTx86.5.1", win7_x86));
    EXPECT_TRUE(applies(L"NTx86.6.1", win7_x86));
    EXPECT_FALSE(applies(L"NTx86.6.2", win7_x86));
    EXPECT_FALSE(applies(L"NTx86.6", xp_x86));
    EXPECT_TRUE(applies(L"NTx86.6.1.0x1..7600", win7_x86));
    EXPECT_FALSE(applies(L"NTx86.6.1.0x1..9200", win7_x86));
    EXPECT_TRUE(applies(L"NT.6.0", win7_x64));
    EXPECT_FALSE(applies(L"Win9x", win7_x86));
    EXPECT_FALSE(applies(L"NTx86.six", win7_x86));
    EXPECT_FALSE(applies(L"", win7_x86));

    // The most specific applicable decoration ranks highest.
    EXPECT_GT(rank_of(L"NTx86.6.1", win7_x86), rank_of(L"NTx86.6.0", win7_x86));
    EXPECT_GT(rank_of(L"NTx86.6.0", win7_x86), rank_of(L"NTx86.5.1", win7_x86));
    EXPECT_GT(rank_of(L"NTx86.5.1", win7_x86), rank_of(L"NTx86", win7_x86));
    EXPECT_GT(rank_of(L"NTx86", win7_x86), rank_of(L"NT", win7_x86));
}

TEST(DpinstModels, ReadsTheDecoratedSectionsOfEveryManufacturer) {
    fake_inf inf;
    inf.add(L"Manufacturer", {L"%Maker%", L"Models", L"NTx86", L"NTamd64", L"NTamd64.6.1"});
    inf.add(L"Manufacturer", {L"%Other%", L"Other", L"NTamd64"});
    inf.add(L"Models", {L"%Dev%", L"Install", L"PCI\\VEN_1111&DEV_0000"});
    inf.add(L"Models.NTx86", {L"%Dev%", L"Install", L"PCI\\VEN_1111&DEV_0086"});
    inf.add(L"Models.NTamd64", {L"%Dev%", L"Install", L"PCI\\VEN_1111&DEV_0064"});
    inf.add(L"models.ntamd64.6.1",
            {L"%Dev%", L"Install", L"PCI\\VEN_1111&DEV_0761", L"", L"PCI\\CC_0300"});
    inf.add(L"models.ntamd64.6.1", {L"%Dev2%", L"Install", L"pci\\ven_1111&dev_0761"});
    inf.add(L"Other.NTamd64", {L"%Dev%", L"Install", L"USB\\VID_2222&PID_0001"});

    EXPECT_EQ(models_sections(inf, win7_x64),
              (std::vector<std::wstring>{L"Models.NTamd64.6.1", L"Other.NTamd64"}));
    // Repeats (in any case) and empty fields are dropped.
    EXPECT_EQ(model_ids(inf, win7_x64),
              (std::vector<std::wstring>{L"PCI\\VEN_1111&DEV_0761", L"PCI\\CC_0300",
                                         L"USB\\VID_2222&PID_0001"}));
    // x86 takes its own decoration; the other maker has no x86 section and no
    // undecorated one, so none of its ids count.
    EXPECT_EQ(model_ids(inf, win7_x86), (std::vector<std::wstring>{L"PCI\\VEN_1111&DEV_0086"}));
}

TEST(DpinstModels, UndecoratedSectionsServeX86Only) {
    fake_inf inf;
    inf.add(L"Manufacturer", {L"%Maker%", L"Models"});
    inf.add(L"Manufacturer", {L"", L"Legacy"});  // a bare "Legacy" line of an old INF
    inf.add(L"Models", {L"%Dev%", L"Install", L"ROOT\\ONE"});
    inf.add(L"Legacy", {L"%Dev%", L"Install", L"ROOT\\TWO"});
    EXPECT_EQ(model_ids(inf, xp_x86), (std::vector<std::wstring>{L"ROOT\\ONE", L"ROOT\\TWO"}));
    EXPECT_TRUE(model_ids(inf, win7_x64).empty());

    fake_inf no_makers;
    no_makers.add(L"Version", {L"Signature", L"$WINDOWS NT$"});
    EXPECT_TRUE(model_ids(no_makers, win7_x86).empty());
}

TEST(DpinstDecorations, ProductTypeSuitesAndBuildNumber) {
    const platform_target ws{L"amd64", 6, 1, 7601, 1, 0x100}, server{L"amd64", 6, 1, 7601, 3, 0x112},
        win10{L"amd64", 10, 0, 19045, 1, 0x100};
    const std::tuple<const wchar_t*, const platform_target&, bool> cases[] = {
        {L"NTamd64.6.1.0x3", server, true},   {L"NTamd64.6.1.0x3", ws, false},
        {L"NTamd64.6.0.3", server, true},     {L"NTamd64.6.1.0x2", server, false},
        {L"NTamd64.6.1..0x12", server, true}, {L"NTamd64.6.1..0x90", server, false},
        {L"NT....0x100", ws, true},           {L"NTamd64.6.1.0x3.0x10.1.2", server, false},
        {L"NTamd64.10.0...14393", win10, true}, {L"NTamd64.10.0...22000", win10, false},
        {L"NTamd64.6.3...99999", win10, true}};
    for (const auto& [decoration, target, expected] : cases) EXPECT_EQ(applies(decoration, target), expected) << decoration;

    // The highest version first, then the product type and the suites.
    fake_inf inf;
    inf.add(L"Manufacturer", {L"%M%", L"A", L"NTamd64.6.1", L"NTamd64.6.1.0x3", L"NT.6.0.0x3", L"NT....0x10"});
    EXPECT_EQ(models_sections(inf, ws), std::vector<std::wstring>{L"A.NTamd64.6.1"});
    EXPECT_EQ(models_sections(inf, server), std::vector<std::wstring>{L"A.NTamd64.6.1.0x3"});
}
