// The devices of the catalogue that the kill test and its target share:
// DEV\0, DEV\1 ... with texts of a typical length.
#pragma once

#include <string>

#include "devices/device_store.h"
#include "platform/text.h"

inline void fill_kill_devices(device_store& store, int count) {
    for (int i = 0; i < count; ++i) {
        device_record& device = store.devices.emplace_back();
        std::wstring n = std::to_wstring(i);
        copy_text(device.device_id, L"DEV\\" + n);
        copy_text(device.display_name, L"Device number " + n + L" of the kill test");
        copy_text(device.DriverDesc, L"Driver of device " + n);
        copy_text(device.ProviderName, L"Vendor " + n);
        copy_text(device.InfPath, L"oem" + n + L".inf");
        copy_text(device.DriverVersion, L"1.0.0." + n);
        copy_text(device.DriverDate, L"2013-04-11");
    }
}
