// The window class the main window's pages share.
#pragma once

constexpr const wchar_t* PAGE_WINDOW_CLASS = L"Quillmark.Page";
// Registers it once (no background brush: every page paints all of itself).
bool register_page_class();
