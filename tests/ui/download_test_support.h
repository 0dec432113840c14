// What the tests of the download rows and the download page share: package
// bytes to serve, the wait for a download, and the plain window the rows or
// the page are shown in.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/reference_service.h"
#include "real_pointer.h"

// Retries without their pause.
inline void no_pause(uint32_t) {}

// `size` bytes of a package, different for each seed.
inline std::string blob(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed + i / 311) % 256);
    return bytes;
}

// Pumps messages until `done` holds; false after `limit_ms` (a generous bound
// against a hang, not a measure of speed).
template <class F>
bool wait_for(F done, DWORD limit_ms = 60000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limit_ms) return false;
        pump_once();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

// A visible white pop-up window at (x, y) of the given size, without a frame.
inline HWND create_test_host(const wchar_t* title, int x, int y, int width, int height) {
    static const wchar_t* host_class = L"Quillmark.DownloadTestHost";
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = host_class;
    RegisterClassExW(&wc);
    return CreateWindowExW(0, host_class, title, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y,
                           width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}
