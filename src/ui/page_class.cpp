#include "ui/page_class.h"

#include "ui/skin/window.h"

bool register_page_class() {
    return window_base_c::register_class(PAGE_WINDOW_CLASS, CS_HREDRAW | CS_VREDRAW, nullptr);
}
