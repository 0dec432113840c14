// The update service's answer: parsing it into the devices' driver offers,
// the installed package set from "setup.dat", and the choice of the best and
// the latest offer per device with the two update decisions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "service/driver_offer.h"

struct device_record;
struct device_store;
struct scan_query_params;
struct update_client;

// At most this many offers are kept per device.
constexpr uint32_t max_offers_per_device = 500;

// Fills the offers of the devices the answer names (the NUL-terminated text
// of the answer). False when the text is not a document (no device changes
// then), has no hardwares with a first hardware that has an id, or when a
// later hardware has no id; devices filled before that keep their offers.
bool parse_scan_answer(const char* text, device_store& store);
// The same for the answer at the start of a buffer of `size` bytes, up to its
// first NUL byte; parsed where it lies when zero bytes follow it there.
bool parse_scan_answer(const char* buffer, std::size_t size, device_store& store);

// Reads the links of "setup.dat" at `path` into the client's installed set;
// the set stays as it is when the file cannot be opened.
void load_installed_set(update_client& client, const wchar_t* path);
// "setup.dat" in the program folder.
std::wstring setup_dat_path();

// True when version a is numerically greater than b ("6.1.7601.0" is newer
// than "6.1.7600.16385"; "1.2" equals "1.2.0.0").
bool version_newer(const char* a, const char* b);
bool version_newer(const wchar_t* a, const wchar_t* b);

// True when offer a ranks above offer b on a machine whose OS version number
// is os_version: nearer target OS, then lower sign, feature and cp, then the
// later date, then the newer version.
bool offer_better(const driver_offer& a, const driver_offer& b, int32_t os_version);

// Chooses the device's best and latest offer and sets best_is_update and
// latest_is_update. A device without offers is left as it is.
void evaluate_device(const update_client& client, device_record& device,
                     const scan_query_params& params);
