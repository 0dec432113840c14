// Pictures of the main window for demonstrations: when the environment
// variable QUILLMARK_DEMO_SHOTS names a folder, the window saves a PNG of
// itself there at a few moments of a scan ("scan.png" while the update
// service is asked, "results.png" when the results are shown); the settings
// dialog saves "settings.png" of itself when it opens.
#pragma once

#include <windows.h>

// Saves `name` (e.g. L"scan.png") of `window` as it is on the screen, when
// the variable is set. Errors are ignored: the pictures are a convenience.
void save_demo_shot(HWND window, const wchar_t* name);
