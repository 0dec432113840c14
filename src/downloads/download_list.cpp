#include "downloads/download_list.h"

#include <algorithm>
#include <cstring>

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
    for (const device_record& device : store.devices) {
        const driver_offer* offer = chosen_offer(device, choice);
        if (!offer || offer->link.empty()) continue;
        const bool update = chosen_is_update(device, choice);
        auto same_link = std::find_if(groups.begin(), groups.end(), [&](const download_group& g) {
            return std::strcmp(g.link, offer->link.c_str()) == 0;
        });
        if (same_link == groups.end()) {
            download_group group;
            group.link = offer->link.c_str();
            group.not_update = update ? 0 : 1;
            group.choice = choice;
            group.offer = offer;
            group.devices.push_back(&device);
            groups.push_back(std::move(group));
        } else {
            same_link->devices.push_back(&device);
            if (update) same_link->not_update = 0;
        }
    }
    if (store.devices.size() >= 2) {
        std::stable_sort(groups.begin(), groups.end(),
                         [](const download_group& a, const download_group& b) {
                             if (a.not_update != b.not_update) return a.not_update < b.not_update;
                             return compare_categories(*a.devices.front(), *b.devices.front()) < 0;
                         });
    }
    return groups;
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
