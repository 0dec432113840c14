#include "ui/page_class.h"

#include "ui/skin/window.h"

bool register_page_class() {
    return window_base_c::register_class(PAGE_WINDOW_CLASS, CS_HREDRAW | CS_VREDRAW, nullptr);
}

HWND create_page(window_base_c& page, HWND owner, bool visible) {
    if (!register_page_class()) return nullptr;
    RECT client{};
    GetClientRect(owner, &client);
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    if (visible) style |= WS_VISIBLE;
    return page.create(PAGE_WINDOW_CLASS, 0, style, L"", 0, 0, client.right, client.bottom, owner);
}
