#include "ui/skin/message_loop.h"

#include <algorithm>

namespace {

thread_local message_loop_c* loop_of_thread = nullptr;

template <class P>
void remove_from(std::vector<P*>& list, P* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

// Messages that arrive all the time and must not restart the idle handlers.
bool is_idle_message(const MSG& message) {
    switch (message.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case WM_TIMER:
    case 0x0118:  // the caret blink timer
        return false;
    default:
        return true;
    }
}

}  // namespace

message_loop_c::message_loop_c() : previous_(loop_of_thread) { loop_of_thread = this; }

message_loop_c::~message_loop_c() {
    if (loop_of_thread == this) loop_of_thread = previous_;
}

message_loop_c* message_loop_c::current() { return loop_of_thread; }

void message_loop_c::add_message_filter(message_filter* filter) {
    if (filter) filters_.push_back(filter);
}
void message_loop_c::remove_message_filter(message_filter* filter) { remove_from(filters_, filter); }
void message_loop_c::add_idle_handler(idle_handler* handler) {
    if (handler) idle_handlers_.push_back(handler);
}
void message_loop_c::remove_idle_handler(idle_handler* handler) {
    remove_from(idle_handlers_, handler);
}

bool message_loop_c::filter(MSG& message) {
    // Newest first; a copy, since a filter may remove itself.
    std::vector<message_filter*> filters(filters_);
    for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
        if ((*it)->pre_translate_message(message)) return true;
    }
    return false;
}

bool message_loop_c::run_idle_handlers() {
    std::vector<idle_handler*> handlers(idle_handlers_);
    bool again = false;
    for (idle_handler* h : handlers) again = h->on_idle() || again;
    return again;
}

int message_loop_c::run() {
    MSG message{};
    bool idle = true;
    for (;;) {
        while (idle && !PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!run_idle_handlers()) idle = false;
        }
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);
        if (got == -1) return -1;
        if (!filter(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (is_idle_message(message)) idle = true;
    }
}
