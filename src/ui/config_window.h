// The settings dialog.
#pragma once

#include <windows.h>

// Shows the settings dialog over `owner`; its result.
int show_settings_dialog(HWND owner);
