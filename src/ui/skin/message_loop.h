// The message loop of a UI thread, with message filters (a chance to consume
// a message before it is translated and dispatched) and idle handlers (run
// when the queue has become empty).
#pragma once

#include <windows.h>

#include <vector>

class message_filter {
public:
    virtual ~message_filter() = default;
    // True when the message was consumed and must not be dispatched.
    virtual bool pre_translate_message(MSG& message) = 0;
};

class idle_handler {
public:
    virtual ~idle_handler() = default;
    // True to be called again while the queue stays empty.
    virtual bool on_idle() = 0;
};

class message_loop_c {
public:
    // The loop becomes the current one of the constructing thread.
    message_loop_c();
    ~message_loop_c();
    message_loop_c(const message_loop_c&) = delete;
    message_loop_c& operator=(const message_loop_c&) = delete;

    // The loop of the calling thread, or null.
    static message_loop_c* current();

    void add_message_filter(message_filter* filter);
    void remove_message_filter(message_filter* filter);
    void add_idle_handler(idle_handler* handler);
    void remove_idle_handler(idle_handler* handler);

    // Runs until WM_QUIT; returns its exit code (-1 when GetMessageW fails).
    int run();

private:
    bool filter(MSG& message);
    bool run_idle_handlers();

    std::vector<message_filter*> filters_;
    std::vector<idle_handler*> idle_handlers_;
    message_loop_c* previous_ = nullptr;
};
