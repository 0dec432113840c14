#include "texts/text_test_support.h"

#include <gtest/gtest.h>

#include "ui/main_window.h"
#include "ui/skin/window.h"

namespace {
// A top-down 32-bit picture of width × height.
BITMAPINFO top_down_info(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    return info;
}
}  // namespace

text_canvas::text_canvas(int width, int height) : width_(width), height_(height) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    BITMAPINFO info = top_down_info(width, height);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    old_bitmap_ = SelectObject(dc_, bitmap_);
    clear();
}

text_canvas::~text_canvas() {
    SelectObject(dc_, old_bitmap_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

void text_canvas::clear() {
    RECT all{0, 0, width_, height_};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

std::vector<uint32_t> text_canvas::pixels() const {
    GdiFlush();
    BITMAPINFO info = top_down_info(width_, height_);
    std::vector<uint32_t> out(static_cast<size_t>(width_) * height_);
    GetDIBits(dc_, bitmap_, 0, height_, out.data(), &info, DIB_RGB_COLORS);
    for (uint32_t& p : out) p &= 0x00FFFFFF;
    return out;
}

SIZE text_extent(HDC dc, font_id font, const std::wstring& text) {
    HGDIOBJ old = SelectObject(dc, ui_font(font));
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    return size;
}

SIZE smallest_page_size() {
    // The frame of a sizable captioned window, whose system caption the skin
    // replaces with its own.
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, FALSE, 0);
    const int caption = GetSystemMetrics(SM_CYCAPTION);
    return SIZE{MAIN_WINDOW_WIDTH - (frame.right - frame.left),
                MAIN_WINDOW_HEIGHT - (frame.bottom - frame.top) - (MAIN_CAPTION_HEIGHT - caption)};
}

namespace {

// The program's bitmaps and dialog templates come from quillmark.exe (built
// before the tests); the fonts are made as at start-up.
class texts_environment final : public ::testing::Environment {
public:
    void SetUp() override {
        module_ = LoadLibraryExW(QM_PROGRAM_DIR_W L"\\quillmark.exe", nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "quillmark.exe cannot be loaded for its resources";
        set_resource_module(module_);
        create_fonts();
    }
    void TearDown() override {
        set_resource_module(nullptr);
        if (module_) FreeLibrary(module_);
    }

private:
    HMODULE module_ = nullptr;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new texts_environment);

}  // namespace
