// The download page's list model: the devices of the store grouped into one
// row per offered package link, the order of the rows, and the page's
// counters.
#pragma once

#include <cstdint>
#include <vector>

struct device_record;
struct device_store;
struct driver_offer;

// Which offer of every device the rows are built from.
enum download_choice : int32_t {
    CHOICE_BEST = 0,
    CHOICE_LATEST = 1,
};

// One row of the download page: the devices that share one package link.
struct download_group {
    const char* link = nullptr;  // the offer's link (points into the offer)
    // Set while no device of the group has the update flag of the chosen offer.
    int32_t not_update = 0;
    int32_t choice = CHOICE_BEST;           // the offers the group was built from
    const driver_offer* offer = nullptr;    // the offer of the device that made the group
    std::vector<const device_record*> devices;  // in store order
};

// The chosen offer of a device (best for choice 0, latest for 1) and its
// update flag.
const driver_offer* chosen_offer(const device_record& device, int32_t choice);
bool chosen_is_update(const device_record& device, int32_t choice);

// Groups the store's devices by the byte-equal link of their chosen offer,
// in store order; a device without that offer or with an empty link is left
// out. With two or more devices in the store the groups are then ordered by
// not_update (updates first), the category rank of the first device's class
// name, and its class description. The sort is stable: groups that tie keep
// the order in which their links first appear in the store.
std::vector<download_group> build_download_groups(const device_store& store, int32_t choice);
// The ordering step alone: stable, by not_update, then the first device's
// category as compare_categories orders it.
void sort_download_groups(std::vector<download_group>& groups);

// The page's counters, in devices (each record counts with its instance
// count), always from the best-offer flags.
struct download_counters {
    int32_t out_of_date = 0;        // an update over an installed driver
    int32_t no_driver = 0;          // an update for a device without a driver
    int32_t total_with_offers = 0;  // devices with any offer
    int32_t up_to_date() const { return total_with_offers - out_of_date - no_driver; }
};
download_counters count_download_devices(const device_store& store);
