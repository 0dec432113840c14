#include "ui/demo_shots.h"

#include <gdiplus.h>

#include <string>

#include "ui/gdiplus_session.h"

namespace {

// The folder from the environment, ending in a backslash; empty when unset.
std::wstring shot_folder() {
    wchar_t folder[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"QUILLMARK_DEMO_SHOTS", folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"";
    std::wstring f = folder;
    if (f.back() != L'\\' && f.back() != L'/') f += L'\\';
    return f;
}

// The PNG encoder of GDI+.
const CLSID png_encoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

}  // namespace

void save_demo_shot(HWND window, const wchar_t* name) {
    std::wstring folder = shot_folder();
    if (folder.empty() || !IsWindowVisible(window)) return;
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r{};
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    if (gdiplus_acquire()) {
        {
            Gdiplus::Bitmap picture(bitmap, nullptr);
            picture.Save((folder + name).c_str(), &png_encoder, nullptr);
        }
        gdiplus_release();
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}
