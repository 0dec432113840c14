#include "ui_test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "app/language.h"
#include "ui/skin/fonts.h"
#include "ui/skin/window.h"
#include "real_pointer.h"

// --- Pictures ----------------------------------------------------------------

COLORREF picture::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFF;
    uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

bool picture::contains(const RECT& r, COLORREF color) const {
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            if (at(x, y) == color) return true;
        }
    }
    return false;
}

picture capture_dc(HDC dc, int width, int height) {
    picture p;
    if (width <= 0 || height <= 0) return p;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib) return p;
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    GdiFlush();
    p.width = width;
    p.height = height;
    const auto* src = static_cast<const uint32_t*>(bits);
    p.pixels.assign(src, src + static_cast<std::size_t>(width) * height);
    for (uint32_t& px : p.pixels) px &= 0x00FFFFFF;
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(dib);
    return p;
}

picture capture_window(HWND window) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT r{};
    GetWindowRect(window, &r);
    HDC dc = GetWindowDC(window);
    picture p = capture_dc(dc, r.right - r.left, r.bottom - r.top);
    ReleaseDC(window, dc);
    return p;
}

memory_canvas::memory_canvas(int width, int height) : width_(width), height_(height) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    old_bitmap_ = SelectObject(dc_, bitmap_);
    old_font_ = GetCurrentObject(dc_, OBJ_FONT);
    RECT all{0, 0, width, height};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

memory_canvas::~memory_canvas() {
    SelectObject(dc_, old_font_);
    SelectObject(dc_, old_bitmap_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

picture resource_picture(int id) {
    picture p;
    HANDLE bitmap = LoadImageW(resource_module(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0,
                               LR_CREATEDIBSECTION);
    if (!bitmap) return p;
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    p = capture_dc(memory, info.bmWidth, info.bmHeight);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
    return p;
}

POINT distinct_point(const std::vector<int>& ids, const std::vector<COLORREF>& avoid) {
    std::vector<picture> pictures;
    for (int id : ids) pictures.push_back(resource_picture(id));
    if (pictures.empty() || pictures[0].empty()) return POINT{-1, -1};
    for (int y = 0; y < pictures[0].height; ++y) {
        for (int x = 0; x < pictures[0].width; ++x) {
            std::vector<COLORREF> seen(avoid);
            bool distinct = true;
            for (const picture& p : pictures) {
                COLORREF c = p.at(x, y);
                for (COLORREF s : seen) distinct = distinct && s != c;
                seen.push_back(c);
            }
            if (distinct) return POINT{x, y};
        }
    }
    return POINT{-1, -1};
}

::testing::AssertionResult shows_bitmap(const picture& shot, int x, int y, int id,
                                        const std::vector<int>& family,
                                        const std::vector<COLORREF>& avoid) {
    POINT probe = distinct_point(family, avoid);
    if (probe.x < 0) return ::testing::AssertionFailure() << "the bitmaps look alike";
    COLORREF expected = resource_picture(id).at(probe.x, probe.y);
    COLORREF shown = shot.at(x + probe.x, y + probe.y);
    if (shown == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "bitmap " << id << " not shown at (" << x << ", " << y << "): pixel (" << probe.x
           << ", " << probe.y << ") is " << std::hex << shown << " instead of " << expected;
}

namespace {

void put_u32(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v >> 24));
    out.push_back(static_cast<char>(v >> 16));
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

void put_chunk(std::string& out, const char* type, const std::string& data) {
    put_u32(out, static_cast<uint32_t>(data.size()));
    std::string body(type, 4);
    body += data;
    out += body;
    put_u32(out, static_cast<uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                           static_cast<uInt>(body.size()))));
}

// A PNG file of the picture: 8-bit RGB, no filtering.
std::string png_bytes(const picture& p) {
    std::string raw;
    raw.reserve(static_cast<std::size_t>(p.height) * (1 + 3 * p.width));
    for (int y = 0; y < p.height; ++y) {
        raw.push_back('\0');
        for (int x = 0; x < p.width; ++x) {
            uint32_t px = p.pixels[static_cast<std::size_t>(y) * p.width + x];
            raw.push_back(static_cast<char>((px >> 16) & 0xFF));
            raw.push_back(static_cast<char>((px >> 8) & 0xFF));
            raw.push_back(static_cast<char>(px & 0xFF));
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packed_size, '\0');
    if (compress(reinterpret_cast<Bytef*>(&packed[0]), &packed_size,
                 reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size())) != Z_OK)
        return {};
    packed.resize(packed_size);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    put_u32(header, static_cast<uint32_t>(p.width));
    put_u32(header, static_cast<uint32_t>(p.height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", packed);
    put_chunk(png, "IEND", {});
    return png;
}

}  // namespace

bool save_screenshot(const picture& p, const wchar_t* name) {
    if (p.empty()) return false;
    std::wstring folder = QM_BINARY_DIR_W L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + L"\\" + name + L".png";
    std::string bytes = png_bytes(p);
    if (bytes.empty()) return false;
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

// --- Modal dialogs -----------------------------------------------------------

namespace {

struct modal_drive {
    const std::function<void(HWND)>* act = nullptr;
    DWORD started = 0;
    DWORD limit = 0;
    bool acted = false;
    bool busy = false;
};
modal_drive current_drive;

BOOL CALLBACK find_dialog(HWND window, LPARAM out) {
    wchar_t name[16];
    if (IsWindowVisible(window) && GetClassNameW(window, name, 16) &&
        lstrcmpW(name, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK drive_tick(HWND, UINT, UINT_PTR, DWORD) {
    modal_drive& d = current_drive;
    if (d.busy) return;  // the action itself may pump messages
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_dialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return;
    if (GetTickCount() - d.started > d.limit) {
        ADD_FAILURE() << "the dialog was still open after " << d.limit << " ms";
        EndDialog(dialog, -100);
        return;
    }
    if (d.acted) return;
    d.acted = true;
    d.busy = true;
    (*d.act)(dialog);
    d.busy = false;
}

}  // namespace

int drive_modal(const std::function<int()>& run, const std::function<void(HWND)>& act,
                DWORD limit_ms) {
    // The dialog comes to the front: not while another test drives the pointer.
    pointer_lock pointer;
    current_drive = modal_drive{&act, GetTickCount(), limit_ms, false, false};
    UINT_PTR timer = SetTimer(nullptr, 0, 50, drive_tick);
    int result = run();
    KillTimer(nullptr, timer);
    EXPECT_TRUE(current_drive.acted) << "the dialog never showed";
    current_drive = modal_drive{};
    return result;
}

void pump_messages(DWORD ms) {
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

POINT window_point(HWND window, int x, int y) {
    RECT r{};
    GetWindowRect(window, &r);
    return POINT{r.left + x, r.top + y};
}

LPARAM screen_lparam(POINT p) { return MAKELPARAM(static_cast<short>(p.x), static_cast<short>(p.y)); }

POINT client_origin_in_window(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return POINT{origin.x - r.left, origin.y - r.top};
}

// --- Environment -------------------------------------------------------------

namespace {

// The program's resources come from quillmark.exe (built before the tests);
// the texts from its English section; the fonts as at start-up.
class ui_environment final : public ::testing::Environment {
public:
    void SetUp() override {
        module_ = LoadLibraryExW(QM_PROGRAM_DIR_W L"\\quillmark.exe", nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "quillmark.exe cannot be loaded for its resources";
        set_resource_module(module_);
        create_fonts();
        ASSERT_EQ(load_language_file(QM_PROGRAM_DIR_W L"\\language.ini", L"English", true), 0);
    }
    void TearDown() override {
        set_resource_module(nullptr);
        if (module_) FreeLibrary(module_);
    }

private:
    HMODULE module_ = nullptr;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new ui_environment);

}  // namespace
