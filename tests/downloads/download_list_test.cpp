// The download page's list model: devices grouped by their offer's link, the
// order of the groups, and the counters with instance counts.
#include "downloads/download_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "devices/category.h"

#include "devices/device_store.h"
#include "platform/text.h"

namespace {

struct offer_spec {
    std::string link;
    bool update = true;
};

// A store whose classes are fixed before any device points at them.
class store_builder {
public:
    store_builder() {
        add_class(L"Display", L"Display adapters");
        add_class(L"MEDIA", L"Sound, video and game controllers");
        add_class(L"Net", L"Network adapters");
        add_class(L"USB", L"Universal Serial Bus controllers");
        add_class(L"Battery", L"Batteries");
    }

    // A device with a best offer and, when given, a different latest one
    // (otherwise the latest is the best). An empty link in `best` with
    // `no_offer` set leaves the device without offers.
    device_record& add(const wchar_t* name, const wchar_t* class_name, offer_spec best,
                       const offer_spec* latest = nullptr, bool no_offer = false) {
        device_record r;
        copy_text(r.display_name, name);
        copy_text(r.class_name, class_name);
        for (const device_class& c : store.classes)
            if (lstrcmpW(c.name, class_name) == 0) r.class_info = &c;
        r.instance_count = 1;
        r.has_driver = 1;
        if (!no_offer) {
            r.offers.resize(latest ? 2 : 1);
            r.offers[0].link = best.link;
            if (latest) r.offers[1].link = latest->link;
            r.offer_count = static_cast<uint32_t>(r.offers.size());
            r.best_offer = &r.offers[0];
            r.latest_offer = &r.offers.back();
            r.best_is_update = best.update;
            r.latest_is_update = latest ? latest->update : best.update;
        }
        store.devices.push_back(std::move(r));
        return store.devices.back();
    }

    device_store store;

private:
    void add_class(const wchar_t* name, const wchar_t* description) {
        device_class c;
        copy_text(c.name, name);
        copy_text(c.description, description);
        store.classes.push_back(c);
    }
};

std::vector<std::string> links(const std::vector<download_group>& groups) {
    std::vector<std::string> out;
    for (const download_group& g : groups) out.push_back(g.link);
    return out;
}

std::vector<std::wstring> names(const download_group& group) {
    std::vector<std::wstring> out;
    for (const device_record* d : group.devices) out.push_back(d->display_name);
    return out;
}

TEST(DownloadGroups, ASharedLinkMakesOneRowThatCountsAsAnUpdateIfAnyDeviceIs) {
    store_builder b;
    b.store.devices.reserve(8);
    b.add(L"first", L"Net", {"http://h/p/a.zip", false});
    b.add(L"other", L"Net", {"http://h/p/b.zip", true});
    b.add(L"second", L"Net", {"http://h/p/a.zip", true});
    auto groups = build_download_groups(b.store, CHOICE_BEST);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(links(groups), (std::vector<std::string>{"http://h/p/a.zip", "http://h/p/b.zip"}));
    EXPECT_EQ(names(groups[0]), (std::vector<std::wstring>{L"first", L"second"}));
    EXPECT_EQ(groups[0].not_update, 0);
    EXPECT_EQ(groups[0].choice, CHOICE_BEST);
    // The group keeps the offer of the device that made it.
    EXPECT_EQ(groups[0].offer, b.store.devices[0].best_offer);
    EXPECT_EQ(groups[0].link, b.store.devices[0].best_offer->link.c_str());

    // Links are compared byte for byte: another case is another package.
    b.add(L"upper", L"Net", {"http://h/p/A.zip", true});
    EXPECT_EQ(build_download_groups(b.store, CHOICE_BEST).size(), 3u);
}

TEST(DownloadGroups, DevicesWithoutAnOfferOrWithAnEmptyLinkAreLeftOut) {
    store_builder b;
    b.store.devices.reserve(8);
    b.add(L"no offer", L"Net", {""}, nullptr, true);
    b.add(L"empty link", L"Net", {"", true});
    b.add(L"kept", L"Net", {"http://h/p/k.zip", false});
    auto groups = build_download_groups(b.store, CHOICE_BEST);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(names(groups[0]), std::vector<std::wstring>{L"kept"});
    EXPECT_EQ(groups[0].not_update, 1);  // no device of it has the update flag

    EXPECT_TRUE(build_download_groups(store_builder().store, CHOICE_BEST).empty());
}

TEST(DownloadGroups, SwitchingToLatestMergesAndSplitsRows) {
    store_builder b;
    b.store.devices.reserve(8);
    const offer_spec shared_latest{"http://h/p/new.zip", true};
    const offer_spec own_latest{"http://h/p/own-new.zip", true};
    b.add(L"a", L"Display", {"http://h/p/a-old.zip", true}, &shared_latest);
    b.add(L"b", L"Display", {"http://h/p/b-old.zip", true}, &shared_latest);
    b.add(L"c", L"Display", {"http://h/p/c.zip", true}, &own_latest);
    b.add(L"d", L"Display", {"http://h/p/c.zip", true});

    auto best = build_download_groups(b.store, CHOICE_BEST);
    EXPECT_EQ(links(best), (std::vector<std::string>{"http://h/p/a-old.zip", "http://h/p/b-old.zip",
                                                     "http://h/p/c.zip"}));
    EXPECT_EQ(names(best[2]), (std::vector<std::wstring>{L"c", L"d"}));

    auto latest = build_download_groups(b.store, CHOICE_LATEST);
    EXPECT_EQ(links(latest), (std::vector<std::string>{"http://h/p/new.zip", "http://h/p/own-new.zip",
                                                       "http://h/p/c.zip"}));
    EXPECT_EQ(names(latest[0]), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(names(latest[1]), std::vector<std::wstring>{L"c"});
    EXPECT_EQ(names(latest[2]), std::vector<std::wstring>{L"d"});
    for (const download_group& g : latest) {
        EXPECT_EQ(g.choice, CHOICE_LATEST);
        EXPECT_EQ(g.offer, g.devices.front()->latest_offer);
    }
}

TEST(DownloadGroups, LatestUsesTheLatestUpdateFlag) {
    store_builder b;
    b.store.devices.reserve(4);
    const offer_spec latest{"http://h/p/new.zip", false};
    b.add(L"a", L"Net", {"http://h/p/old.zip", true}, &latest);
    b.add(L"b", L"Net", {"http://h/p/other.zip", true});
    EXPECT_EQ(build_download_groups(b.store, CHOICE_BEST)[0].not_update, 0);
    auto groups = build_download_groups(b.store, CHOICE_LATEST);
    // The row that is no update goes last.
    EXPECT_EQ(links(groups), (std::vector<std::string>{"http://h/p/other.zip", "http://h/p/new.zip"}));
    EXPECT_EQ(groups[1].not_update, 1);
}

TEST(DownloadGroups, OrderIsUpdatesFirstThenCategoryThenClassDescription) {
    store_builder b;
    b.store.devices.reserve(10);
    b.add(L"battery", L"Battery", {"http://h/1", true});
    b.add(L"old display", L"Display", {"http://h/2", false});
    b.add(L"usb", L"USB", {"http://h/3", true});
    b.add(L"net", L"Net", {"http://h/4", true});
    b.add(L"sound", L"MEDIA", {"http://h/5", true});
    b.add(L"display", L"Display", {"http://h/6", true});
    b.add(L"net two", L"Net", {"http://h/7", true});
    b.add(L"unknown class", L"", {"http://h/8", true});
    auto groups = build_download_groups(b.store, CHOICE_BEST);
    std::vector<std::wstring> order;
    for (const download_group& g : groups) order.push_back(g.devices.front()->display_name);
    // Ties (the two network rows) keep the order of the store. The classes
    // of the last rank go by description, where a device without a class
    // has an empty one and comes first.
    EXPECT_EQ(order, (std::vector<std::wstring>{L"display", L"sound", L"net", L"net two",
                                                L"unknown class", L"battery", L"usb",
                                                L"old display"}));
}

TEST(DownloadGroups, ManyRowsAreOrderedAsThePairwiseComparisonOrdersThem) {
    store_builder b;
    // Classes whose descriptions differ in case and punctuation only, which
    // the locale's comparison orders (or holds equal) its own way.
    for (const auto& c : {std::pair{L"Ports", L"ports (COM & LPT)"},
                          std::pair{L"Modem", L"Ports (COM & LPT)"},
                          std::pair{L"Coop", L"co-op devices"},
                          std::pair{L"CoopTwo", L"coop devices"},
                          std::pair{L"Image", L"Imaging devices"}}) {
        device_class dc;
        copy_text(dc.name, c.first);
        copy_text(dc.description, c.second);
        b.store.classes.push_back(dc);
    }
    const wchar_t* const classes[] = {L"Display", L"MEDIA", L"Net", L"USB", L"Battery", L"",
                                      L"Ports", L"Modem", L"Coop", L"CoopTwo", L"Image",
                                      L"display"};
    const int count = 600;
    b.store.devices.reserve(count);
    for (int i = 0; i < count; ++i) {
        const std::wstring name = L"device " + std::to_wstring(i);
        // Every seventh device shares the link of the one before it.
        const int link = i % 7 == 6 ? i - 1 : i;
        b.add(name.c_str(), classes[(i * 5) % 12], {"http://h/" + std::to_string(link), i % 3 != 0});
    }
    // The rows in store order, sorted with the comparison for every pair.
    std::vector<std::string> first_seen;
    std::map<std::string, const device_record*> first_device;
    std::map<std::string, bool> any_update;
    for (const device_record& d : b.store.devices) {
        const std::string link = d.best_offer->link.c_str();
        if (first_device.emplace(link, &d).second) first_seen.push_back(link);
        any_update[link] = any_update[link] || d.best_is_update;
    }
    std::vector<std::string> expected = first_seen;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const std::string& x, const std::string& y) {
                         if (any_update[x] != any_update[y]) return any_update[x];
                         return compare_categories(*first_device[x], *first_device[y]) < 0;
                     });
    const auto groups = build_download_groups(b.store, CHOICE_BEST);
    EXPECT_EQ(links(groups), expected);
    EXPECT_EQ(groups.size(), static_cast<std::size_t>(count - count / 7));
}

TEST(DownloadCounters, CountInstancesFromTheBestOfferFlags) {
    store_builder b;
    b.store.devices.reserve(12);
    // Ten devices with offers: three out of date, one without a driver.
    for (int i = 0; i < 10; ++i) {
        const std::string link = "http://h/" + std::to_string(i);
        const offer_spec latest{link + "-new", true};
        device_record& d = b.add(L"d", L"Net", {link, i < 4}, &latest);
        if (i == 3) d.has_driver = 0;
    }
    b.add(L"none", L"Net", {""}, nullptr, true);  // no offers: not counted
    download_counters c = count_download_devices(b.store);
    EXPECT_EQ(c.out_of_date, 3);
    EXPECT_EQ(c.no_driver, 1);
    EXPECT_EQ(c.total_with_offers, 10);
    EXPECT_EQ(c.up_to_date(), 6);

    // Folded instances count each.
    b.store.devices[0].instance_count = 3;
    b.store.devices[3].instance_count = 2;
    b.store.devices[9].instance_count = 4;
    c = count_download_devices(b.store);
    EXPECT_EQ(c.out_of_date, 5);
    EXPECT_EQ(c.no_driver, 2);
    EXPECT_EQ(c.total_with_offers, 16);
    EXPECT_EQ(c.up_to_date(), 9);
}

}  // namespace
