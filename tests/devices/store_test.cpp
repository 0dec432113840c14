#include <thread>

#include "scan_fixture.h"

TEST(device_store, lookups_and_release) {
    device_store store;
    EXPECT_EQ(first_device(store), nullptr);
    EXPECT_EQ(device_count(store), 0);
    EXPECT_EQ(class_image_list(store), nullptr);

    for (const wchar_t* id : {LR"(PCI\A)", LR"(PCI\B)", LR"(PCI\A)"}) {
        device_record r;
        copy_text(r.device_id, id);
        r.hardware_ids = make_multi_string({L"x", L"y"});
        r.offers.resize(3);
        r.offer_count = 3;
        store.devices.push_back(std::move(r));
    }
    EXPECT_EQ(first_device(store), &store.devices[0]);
    EXPECT_EQ(device_count(store), 3);
    EXPECT_EQ(find_device(store, LR"(PCI\A)"), &store.devices[0]);  // the first match
    EXPECT_EQ(find_device(store, LR"(PCI\B)"), &store.devices[1]);
    EXPECT_EQ(find_device(store, LR"(pci\b)"), nullptr);            // exact
    EXPECT_EQ(find_device(store, LR"(PCI\)"), nullptr);

    clear_device_store(store);
    EXPECT_EQ(device_count(store), 0);
    EXPECT_EQ(store.devices.capacity(), 0u);
}

TEST(device_store, index_finds_what_find_device_finds) {
    device_store store;
    auto add = [&store](const std::wstring& id) {
        device_record r;
        copy_text(r.device_id, id);
        store.devices.push_back(std::move(r));
    };
    add(LR"(PCI\A)");
    add(LR"(PCI\B)");
    add(LR"(PCI\A)");  // a second record with an id: the first one is found
    const device_index built(store);
    EXPECT_EQ(built.find(store, LR"(PCI\A)"), &store.devices[0]);
    EXPECT_EQ(built.find(store, LR"(PCI\B)"), &store.devices[1]);
    EXPECT_EQ(built.find(store, LR"(pci\b)"), nullptr);  // exact letter case
    EXPECT_EQ(built.find(store, LR"(PCI\)"), nullptr);
    EXPECT_EQ(device_index().find(store, LR"(PCI\A)"), nullptr);

    // Grown one record at a time, past many resizes of the table and moves
    // of the list, every id keeps naming its first record.
    device_store many;
    device_index index;
    for (int i = 0; i < 3000; ++i) {
        device_record r;
        copy_text(r.device_id, L"USB\\VID_" + std::to_wstring(i % 2000));
        many.devices.push_back(std::move(r));
        index.add(many, many.devices.size() - 1);
    }
    for (int i = 0; i < 2000; i += 7) {
        const std::wstring id = L"USB\\VID_" + std::to_wstring(i);
        EXPECT_EQ(index.find(many, id), find_device(many, id)) << i;
        EXPECT_EQ(index.find(many, id), &many.devices[i]);
    }
    EXPECT_EQ(index.find(many, L"USB\\VID_2000"), nullptr);
}

TEST(device_store, multi_strings) {
    std::wstring list = make_multi_string({L"a", L"bc"});
    EXPECT_EQ(list, std::wstring(L"a\0bc\0\0", 6));
    EXPECT_THAT(multi_string_entries(list), ::testing::ElementsAre(L"a", L"bc"));
    // an empty entry ends the list, as it does for the platform
    EXPECT_EQ(make_multi_string({L"a", L"", L"b"}), std::wstring(L"a\0\0", 3));
    EXPECT_EQ(make_multi_string({}), std::wstring(L"\0", 1));
    EXPECT_TRUE(multi_string_entries(L"").empty());
    EXPECT_THAT(multi_string_entries(std::wstring(L"a\0b", 3)), ::testing::ElementsAre(L"a", L"b"));
}

TEST(device_store, created_without_an_image_list_when_the_platform_has_none) {
    machine_profile profile;
    failing_source source(&profile);  // Wine's SetupDiGetClassImageList fails
    device_store* store = create_device_store(source);
    ASSERT_NE(store, nullptr);
    if (!store->has_class_image_list) {
        // nor icons of its own: this test program carries none
        EXPECT_EQ(class_image_list(*store), nullptr);
    }
    release_device_store(store, source);
    release_device_store(nullptr, source);
}

TEST(scan_progress, the_current_name_is_never_torn) {
    scan_progress progress;
    reset_scan_progress(progress, true);
    EXPECT_EQ(progress.include_non_present.load(), 1);
    EXPECT_EQ(current_name(progress), L"");

    const std::wstring long_name(1024, L'L');
    const std::wstring short_name = L"S";
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) set_current_name(progress, i % 2 ? long_name : short_name);
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        std::wstring seen = current_name(progress);
        ASSERT_TRUE(seen.empty() || seen == long_name || seen == short_name) << seen.size();
        ++reads;
    }
    writer.join();
    set_current_name(progress, std::wstring(2000, L'x'));  // cut to the buffer
    EXPECT_EQ(current_name(progress).size(), 1024u);
}
