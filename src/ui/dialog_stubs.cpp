// Placeholder for the settings dialog.
#include "ui/config_window.h"

int show_settings_dialog(HWND) { return 2; }
