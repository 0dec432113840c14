// Device categories: the group order, the class icons where the platform has
// none, the profile's named icon and the category header.
#include <algorithm>
#include <cstdlib>

#include "devices/category.h"
#include "scan_fixture.h"

namespace {

device_class make_class(const wchar_t* name, const wchar_t* description) {
    device_class c;
    copy_text(c.name, name);
    copy_text(c.description, description);
    return c;
}

}  // namespace

TEST(category, rank_ignores_letter_case) {
    EXPECT_EQ(category_rank(L"Unknown"), 0);
    EXPECT_EQ(category_rank(L"unknown"), 0);
    EXPECT_EQ(category_rank(L"Display"), 1);
    EXPECT_EQ(category_rank(L"MEDIA"), 2);
    EXPECT_EQ(category_rank(L"media"), 2);
    EXPECT_EQ(category_rank(L"Net"), 3);
    EXPECT_EQ(category_rank(L"Image"), 4);
    EXPECT_EQ(category_rank(L"PRINTER"), 5);
    EXPECT_EQ(category_rank(L"NetTrans"), 6);  // whole names only
    EXPECT_EQ(category_rank(L"Battery"), 6);
    EXPECT_EQ(category_rank(L""), 6);
    EXPECT_EQ(category_rank(nullptr), 6);
}

TEST(category, groups_order_by_rank_then_class_description) {
    device_class classes[] = {
        make_class(L"Battery", L"Batteries"),      make_class(L"Printer", L"Printers"),
        make_class(L"Image", L"Imaging devices"),  make_class(L"Net", L"Network adapters"),
        make_class(L"MEDIA", L"Sound devices"),    make_class(L"Display", L"Display adapters"),
        make_class(L"AudioIn", L"Audio inputs"),   make_class(L"Unknown", L"Other devices"),
        make_class(L"Zeta", L"batteries"),  // lstrcmpW puts lower case first
    };
    std::vector<device_record> records;
    for (const device_class& c : classes) {
        device_record r;
        copy_text(r.class_name, c.name);
        copy_text(r.display_name, c.description);
        r.class_info = &c;
        records.push_back(std::move(r));
    }
    device_record classless;  // no class at all: an empty description
    copy_text(classless.display_name, L"(none)");
    records.push_back(std::move(classless));
    records[4].class_name[0] = L'm';  // "mEDIA" still ranks as MEDIA

    std::stable_sort(records.begin(), records.end(), [](const device_record& a, const device_record& b) {
        return compare_categories(a, b) < 0;
    });
    std::vector<std::wstring> order;
    for (const device_record& r : records) order.push_back(r.display_name);
    EXPECT_THAT(order, ::testing::ElementsAre(L"Other devices", L"Display adapters", L"Sound devices",
                                              L"Network adapters", L"Imaging devices", L"Printers",
                                              L"(none)", L"Audio inputs", L"batteries",
                                              L"Batteries"));
    EXPECT_EQ(compare_categories(records[8], records[8]), 0);
}

TEST(category, profile_names_a_class_icon) {
    machine_profile p;
    std::wstring error;
    ASSERT_TRUE(parse_machine_profile(R"(<machine>
      <class guid="{4D36E968-E325-11CE-BFC1-08002BE10318}" name="Display" icon="Printer"/>
      <class guid="{4D36E972-E325-11CE-BFC1-08002BE10318}" name="Net"/></machine>)", p, &error))
        << wide_text(error);
    ASSERT_EQ(p.classes.size(), 2u);
    EXPECT_EQ(p.classes[0].icon, std::optional<std::wstring>(L"Printer"));
    EXPECT_FALSE(p.classes[1].icon);

    EXPECT_FALSE(parse_machine_profile(R"(<machine>
      <class guid="{4D36E968-E325-11CE-BFC1-08002BE10318}" icon="toaster"/></machine>)", p, &error));
    EXPECT_NE(error.find(L"toaster"), std::wstring::npos) << wide_text(error);
}

// --- Class icons with and without the platform's class image list ------------

namespace {

HMODULE program_module = nullptr;

// A stand-in for the platform's class image list: three red 16 x 16 images.
int destroyed_lists = 0;
HIMAGELIST handed_out = nullptr;

BOOL WINAPI no_class_image_list(PSP_CLASSIMAGELIST_DATA) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI red_class_image_list(PSP_CLASSIMAGELIST_DATA data) {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR24, 3, 4);
    HDC screen = GetDC(nullptr);
    HBITMAP strip = CreateCompatibleBitmap(screen, 48, 16);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, strip);
    RECT all = {0, 0, 48, 16};
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &all, red);
    DeleteObject(red);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    ImageList_Add(list, strip, nullptr);
    DeleteObject(strip);
    data->ImageList = list;
    handed_out = list;
    return TRUE;
}

BOOL WINAPI destroy_class_image_list(PSP_CLASSIMAGELIST_DATA data) {
    if (data->ImageList == handed_out) ++destroyed_lists;
    ImageList_Destroy(data->ImageList);
    return TRUE;
}

setupapi_calls calls_with(decltype(&::SetupDiGetClassImageList) get) {
    setupapi_calls calls = real_setupapi_calls();
    calls.get_class_image_list = get;
    calls.destroy_class_image_list = &destroy_class_image_list;
    return calls;
}

// A 32-bit top-down memory DC of w x h pixels, white.
struct memory_dc {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t* bits = nullptr;
    int w, h;

    memory_dc(int width, int height) : w(width), h(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* pixels = nullptr;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        bits = static_cast<uint32_t*>(pixels);
        old = SelectObject(dc, bitmap);
        for (int i = 0; i < w * h; ++i) bits[i] = 0xFFFFFF;
    }
    ~memory_dc() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF at(int x, int y) {
        GdiFlush();
        uint32_t p = bits[y * w + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Pixels in [x0, x1) x [y0, y1) that are not white.
    int inked(int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += at(x, y) != RGB(255, 255, 255);
        return n;
    }
};

bool close_to(COLORREF c, int r, int g, int b) {
    return std::abs(GetRValue(c) - r) <= 12 && std::abs(GetGValue(c) - g) <= 12 &&
           std::abs(GetBValue(c) - b) <= 12;
}

const char* const icon_classes = R"(
  <class guid="{4D36E968-E325-11CE-BFC1-08002BE10318}" name="Display" description="Display adapters" image="1"/>
  <class guid="{4D36E96C-E325-11CE-BFC1-08002BE10318}" name="MEDIA" description="Sound" image="40"/>
  <class guid="{4D36E972-E325-11CE-BFC1-08002BE10318}" name="Net" description="Network adapters" image="41"/>
  <class guid="{4D36E975-E325-11CE-BFC1-08002BE10318}" name="NetTrans" description="Network protocols" image="42"/>
  <class guid="{4D36E97E-E325-11CE-BFC1-08002BE10318}" name="Unknown" description="Other devices" image="99"/>
  <class guid="{36FC9E60-C465-11CF-8056-444553540000}" name="USB" description="USB controllers" image="99"/>
  <class guid="{72631E54-78A4-11D0-BCF7-00AA00B7B32A}" name="Battery" description="Batteries" image="99"/>
  <class guid="{E0CBF06C-CD8B-4647-BB8A-263B43F0F974}" name="BTH" description="Radios" image="2" icon="bluetooth"/>
)";

}  // namespace

class class_icons : public scan_test {
protected:
    static void SetUpTestSuite() {
        program_module = LoadLibraryExW(QM_PROGRAM_DIR_W L"\\quillmark.exe", nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (program_module) FreeLibrary(program_module);
        program_module = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(program_module, nullptr) << "quillmark.exe cannot be loaded for its icons";
        destroyed_lists = 0;
        handed_out = nullptr;
    }

    // Scans the icon classes with a store whose class image list comes from `get`.
    device_store* scan_classes(const setupapi_calls& calls) {
        load("", icon_classes);
        profile_device_source source(&profile, calls);
        device_store* created = create_device_store(source, program_module);
        if (created) enumerate_devices(*created, progress, source);
        return created;
    }
    int index_of(const device_store& s, const wchar_t* name) {
        for (const device_class& c : s.classes)
            if (std::wstring_view(c.name) == name) return c.image_index;
        ADD_FAILURE() << "no class " << wide_text(name);
        return -2;
    }
    void release(device_store* s, const setupapi_calls& calls) {
        profile_device_source source(&profile, calls);
        release_device_store(s, source);
    }
};

TEST_F(class_icons, own_icons_stand_in_when_the_platform_list_is_missing) {
    setupapi_calls calls = calls_with(&no_class_image_list);
    device_store* s = scan_classes(calls);
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->has_class_image_list);
    ASSERT_NE(s->own_class_images, nullptr);
    EXPECT_EQ(class_image_list(*s), s->own_class_images);
    EXPECT_EQ(ImageList_GetImageCount(s->own_class_images), static_cast<int>(class_icon::count));
    int cx = 0, cy = 0;
    ImageList_GetIconSize(s->own_class_images, &cx, &cy);
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(cy, 16);

    // The profile's indexes point into a list that does not exist: ignored.
    EXPECT_EQ(index_of(*s, L"Display"), static_cast<int>(class_icon::display));
    EXPECT_EQ(index_of(*s, L"MEDIA"), static_cast<int>(class_icon::sound));
    EXPECT_EQ(index_of(*s, L"Net"), static_cast<int>(class_icon::network));
    EXPECT_EQ(index_of(*s, L"NetTrans"), static_cast<int>(class_icon::network));
    EXPECT_EQ(index_of(*s, L"Unknown"), static_cast<int>(class_icon::unknown));
    EXPECT_EQ(index_of(*s, L"USB"), static_cast<int>(class_icon::usb));
    EXPECT_EQ(index_of(*s, L"Battery"), static_cast<int>(class_icon::device));
    EXPECT_EQ(index_of(*s, L"BTH"), static_cast<int>(class_icon::bluetooth));  // named
    for (const device_class& c : s->classes) EXPECT_EQ(c.image_list, s->own_class_images);
    release(s, calls);
    EXPECT_EQ(destroyed_lists, 0);
}

TEST_F(class_icons, classes_without_a_platform_image_get_own_icons_in_the_same_list) {
    setupapi_calls calls = calls_with(&red_class_image_list);
    device_store* s = scan_classes(calls);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->has_class_image_list);
    HIMAGELIST list = class_image_list(*s);
    EXPECT_EQ(list, handed_out);

    EXPECT_EQ(index_of(*s, L"Display"), 1);  // the platform's own image
    // The rest get own icons added behind the platform's three, once per icon.
    int sound = index_of(*s, L"MEDIA"), network = index_of(*s, L"Net");
    EXPECT_GE(sound, 3);
    EXPECT_GE(network, 3);
    EXPECT_NE(sound, network);
    EXPECT_EQ(index_of(*s, L"NetTrans"), network);
    EXPECT_GE(index_of(*s, L"BTH"), 3);  // named: wins over the platform's index 2
    // The platform's three, plus device, bluetooth, network, sound, unknown, usb.
    EXPECT_EQ(ImageList_GetImageCount(list), 3 + 6);
    for (const device_class& c : s->classes) EXPECT_EQ(c.image_list, list);

    // A second scan reuses the icons already added.
    profile_device_source again(&profile, calls);
    EXPECT_TRUE(enumerate_devices(*s, progress, again));
    EXPECT_EQ(ImageList_GetImageCount(list), 3 + 6);
    EXPECT_EQ(index_of(*s, L"Net"), network);

    release(s, calls);
    EXPECT_EQ(destroyed_lists, 1);
}

TEST_F(class_icons, a_category_header_always_shows_an_icon) {
    setupapi_calls calls = calls_with(&red_class_image_list);
    device_store* s = scan_classes(calls);
    ASSERT_NE(s, nullptr);
    HFONT font = CreateFontW(-12, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Verdana");

    const device_class* display = nullptr;
    const device_class* unknown = nullptr;
    for (const device_class& c : s->classes) {
        if (std::wstring_view(c.name) == L"Display") display = &c;
        if (std::wstring_view(c.name) == L"Unknown") unknown = &c;
    }
    ASSERT_TRUE(display && unknown);

    {   // the platform's image, and the description beside it
        memory_dc m(300, 60);
        draw_category_header(m.dc, 5, 20, *s, display, font, RGB(0x47, 0x82, 0xC3));
        EXPECT_TRUE(close_to(m.at(5 + 10 + 8, 20 + 7 + 8), 255, 0, 0));
        EXPECT_EQ(m.inked(0, 0, 300, 20 + 7), 0);          // nothing above the header
        EXPECT_EQ(m.inked(0, 0, 5 + 10, 60), 0);           // nor left of the icon
        EXPECT_GT(m.inked(5 + 32, 20 + 8, 300, 60), 20);   // the description
        EXPECT_EQ(GetBkMode(m.dc), OPAQUE);                // the DC is left as it was
    }
    {   // an own icon added to the platform's list
        memory_dc m(300, 40);
        draw_category_header(m.dc, 0, 0, *s, unknown, font, RGB(0, 0, 0));
        EXPECT_TRUE(close_to(m.at(10 + 8, 7 + 1), 214, 134, 38)) << std::hex << m.at(18, 8);
    }
    {   // a class whose image is unusable, and no class at all: own icons
        device_class broken = *display;
        broken.image_list = nullptr;
        memory_dc m(300, 40);
        draw_category_header(m.dc, 0, 0, *s, &broken, font, RGB(0, 0, 0));
        EXPECT_TRUE(close_to(m.at(10 + 8, 7 + 1), 52, 120, 200)) << std::hex << m.at(18, 8);
        memory_dc none(300, 40);
        draw_category_header(none.dc, 0, 0, *s, nullptr, font, RGB(0, 0, 0));
        EXPECT_TRUE(close_to(none.at(10 + 8, 7 + 1), 214, 134, 38)) << std::hex << none.at(18, 8);
        EXPECT_EQ(none.inked(32, 0, 300, 40), 0);  // no class, no text
    }
    DeleteObject(font);
    release(s, calls);
}
