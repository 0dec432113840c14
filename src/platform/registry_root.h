// The registry key under which the program keeps its per-user keys
// (SOFTWARE\Vantorel, SOFTWARE\Vantorel_Init and the Run key).
// HKEY_CURRENT_USER unless replaced; tests point it at a scratch key.
#pragma once

#include <windows.h>

HKEY settings_root();
// Replaces the root (null restores HKEY_CURRENT_USER). The caller keeps
// ownership of the handle and keeps it open while it is in use.
void set_settings_root(HKEY root);
