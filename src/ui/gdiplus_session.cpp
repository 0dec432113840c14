#include "ui/gdiplus_session.h"

#include <windows.h>

#include <gdiplus.h>

namespace {

ULONG_PTR token = 0;
bool running = false;
int users = 0;
bool shutdown_asked = false;

void stop() {
    if (running) Gdiplus::GdiplusShutdown(token);
    running = false;
    token = 0;
    shutdown_asked = false;
}

}  // namespace

bool gdiplus_acquire() {
    if (!running) {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
            token = 0;
            return false;
        }
        running = true;
    }
    shutdown_asked = false;
    ++users;
    return true;
}

void gdiplus_release() {
    if (users == 0) return;
    --users;
    if (users == 0 && shutdown_asked) stop();
}

void gdiplus_shutdown() {
    if (users == 0) {
        stop();
    } else {
        shutdown_asked = true;
    }
}

bool gdiplus_running() { return running; }

int gdiplus_users() { return users; }
