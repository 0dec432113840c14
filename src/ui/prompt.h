// The message boxes the main window and its pages show, through one seam so
// that a test can answer them without a person in front of the screen.
#pragma once

#include <windows.h>

// Shows `text` in a modal message box of `kind` owned by `owner` and returns
// the box's result (kinds and results as show_message).
int prompt_user(HWND owner, const wchar_t* text, unsigned kind);

// Replaces the boxes with `answer` (null restores them). For tests.
using prompt_function = int (*)(HWND owner, const wchar_t* text, unsigned kind);
void set_prompt_function(prompt_function answer);
