// The device information dialog.
#pragma once

#include <windows.h>

#include <vector>

struct device_record;

// Shows the information of the devices of one download row over `owner`;
// its result.
int show_device_information(HWND owner, const std::vector<const device_record*>& group);
