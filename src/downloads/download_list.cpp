#include "downloads/download_list.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string_view>
#include <unordered_map>

#include "devices/category.h"
#include "devices/device_store.h"

const driver_offer* chosen_offer(const device_record& device, int32_t choice) {
    return choice == CHOICE_LATEST ? device.latest_offer : device.best_offer;
}

bool chosen_is_update(const device_record& device, int32_t choice) {
    return (choice == CHOICE_LATEST ? device.latest_is_update : device.best_is_update) != 0;
}

std::vector<download_group> build_download_groups(const device_store& store, int32_t choice) {
    std::vector<download_group> groups;
    // The group of each link, found by hashing: thousands of links would
    // take a search through every group for every device.
    std::unordered_map<std::string_view, std::size_t> group_of_link;
    for (const device_record& device : store.devices) {
        const driver_offer* offer = chosen_offer(device, choice);
        if (!offer || offer->link.empty()) continue;
        const bool update = chosen_is_update(device, choice);
        // The link up to its first NUL, as strcmp would compare it.
        const std::string_view link(offer->link.c_str());
        auto [same_link, added] = group_of_link.emplace(link, groups.size());
        if (added) {
            download_group group;
            group.link = offer->link.c_str();
            group.not_update = update ? 0 : 1;
            group.choice = choice;
            group.offer = offer;
            group.devices.push_back(&device);
            groups.push_back(std::move(group));
        } else {
            download_group& group = groups[same_link->second];
            group.devices.push_back(&device);
            if (update) group.not_update = 0;
        }
    }
    if (store.devices.size() >= 2) sort_download_groups(groups);
    return groups;
}

void sort_download_groups(std::vector<download_group>& groups) {
    // The order of compare_categories, worked out once per class instead of
    // once per comparison: its locale-aware text comparison is slow, and
    // thousands of rows share a few dozen classes.
    struct sort_key {
        int32_t not_update;
        int rank;
        std::size_t description;  // the description's place among all of them
        std::size_t group;
    };
    std::vector<const wchar_t*> descriptions;
    std::vector<sort_key> keys;
    keys.reserve(groups.size());
    std::unordered_map<std::wstring_view, int> ranks;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const device_record& first = *groups[i].devices.front();
        auto rank = ranks.find(first.class_name);
        if (rank == ranks.end())
            rank = ranks.emplace(first.class_name, category_rank(first.class_name)).first;
        keys.push_back(sort_key{groups[i].not_update, rank->second, 0, i});
        descriptions.push_back(first.class_info ? first.class_info->description : L"");
    }
    // Each distinct description text gets its place; equal ones share it.
    std::vector<const wchar_t*> distinct = descriptions;
    auto code_order = [](const wchar_t* a, const wchar_t* b) { return std::wcscmp(a, b) < 0; };
    std::sort(distinct.begin(), distinct.end(), code_order);
    distinct.erase(std::unique(distinct.begin(), distinct.end(),
                               [](const wchar_t* a, const wchar_t* b) { return std::wcscmp(a, b) == 0; }),
                   distinct.end());
    std::stable_sort(distinct.begin(), distinct.end(),
                     [](const wchar_t* a, const wchar_t* b) { return lstrcmpW(a, b) < 0; });
    std::unordered_map<std::wstring_view, std::size_t> place;
    for (std::size_t i = 0; i < distinct.size(); ++i) {
        // Texts that lstrcmpW holds equal share the place of the first.
        const bool same = i > 0 && lstrcmpW(distinct[i - 1], distinct[i]) == 0;
        place[distinct[i]] = same ? place[distinct[i - 1]] : i;
    }
    for (sort_key& key : keys) key.description = place[descriptions[key.group]];

    std::stable_sort(keys.begin(), keys.end(), [](const sort_key& a, const sort_key& b) {
        if (a.not_update != b.not_update) return a.not_update < b.not_update;
        if (a.rank != b.rank) return a.rank < b.rank;
        return a.description < b.description;
    });
    std::vector<download_group> sorted;
    sorted.reserve(groups.size());
    for (const sort_key& key : keys) sorted.push_back(std::move(groups[key.group]));
    groups = std::move(sorted);
}

download_counters count_download_devices(const device_store& store) {
    download_counters counters;
    for (const device_record& device : store.devices) {
        const int32_t count = device.instance_count;
        if (device.best_is_update) {
            (device.has_driver ? counters.out_of_date : counters.no_driver) += count;
        }
        if (!device.offers.empty()) counters.total_with_offers += count;
    }
    return counters;
}
