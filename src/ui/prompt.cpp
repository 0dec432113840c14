#include "ui/prompt.h"

#include "ui/message_window.h"

namespace {
prompt_function replacement = nullptr;
}

int prompt_user(HWND owner, const wchar_t* text, unsigned kind) {
    if (replacement) return replacement(owner, text, kind);
    return show_message(owner, text, kind);
}

void set_prompt_function(prompt_function answer) { replacement = answer; }
