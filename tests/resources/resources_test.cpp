// The resources inside quillmark.exe as the windows load them: every bitmap
// with its size and 24-bit depth, the colours the skin relies on at their
// edges, the two menus, the two dialog templates and both icons at 16 and 32
// pixels. Reads the program from its build folder without running it.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"

namespace {

const std::wstring program = QM_PROGRAM_DIR_W L"\\quillmark.exe";

struct module_file {
    HMODULE handle = LoadLibraryExW(program.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ~module_file() {
        if (handle) FreeLibrary(handle);
    }
};

struct rgb {
    int r, g, b;
    bool operator==(const rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const rgb& c) {
    return out << "RGB(" << c.r << "," << c.g << "," << c.b << ")";
}

// A bitmap resource loaded as a DIB section, the way the windows load them.
struct loaded_bitmap {
    HBITMAP handle = nullptr;
    DIBSECTION dib = {};

    loaded_bitmap(HMODULE module, int id) {
        handle = static_cast<HBITMAP>(
            LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (handle && GetObjectW(handle, sizeof(dib), &dib) != sizeof(dib)) dib = {};
    }
    ~loaded_bitmap() {
        if (handle) DeleteObject(handle);
    }
    loaded_bitmap(const loaded_bitmap&) = delete;
    loaded_bitmap& operator=(const loaded_bitmap&) = delete;

    int width() const { return dib.dsBm.bmWidth; }
    int height() const { return dib.dsBm.bmHeight; }
    int depth() const { return dib.dsBm.bmBitsPixel; }

    // The pixel at (x, y) from the top left; the rows are stored bottom-up.
    rgb at(int x, int y) const {
        const auto* bits = static_cast<const uint8_t*>(dib.dsBm.bmBits);
        const int row = dib.dsBmih.biHeight > 0 ? height() - 1 - y : y;
        const uint8_t* p = bits + static_cast<size_t>(row) * dib.dsBm.bmWidthBytes + 3 * x;
        return {p[2], p[1], p[0]};
    }
    std::vector<uint8_t> pixels() const {
        const auto* bits = static_cast<const uint8_t*>(dib.dsBm.bmBits);
        return std::vector<uint8_t>(bits, bits + static_cast<size_t>(dib.dsBm.bmWidthBytes) * height());
    }
};

struct bitmap_size {
    int id, width, height;
};

// Every bitmap the windows load, by number, with its size.
const bitmap_size all_bitmaps[] = {
    // Caption tabs: home, download, backup, restore, settings.
    {236, 80, 70}, {237, 80, 70}, {238, 80, 70}, {239, 80, 70}, {240, 80, 70}, {241, 80, 70},
    {258, 80, 70}, {259, 80, 70}, {260, 80, 70}, {264, 80, 70}, {265, 80, 70}, {266, 80, 70},
    {270, 80, 70}, {271, 80, 70}, {272, 80, 70},
    // Caption strip and caption buttons: menu, minimise, maximise, restore, close.
    {273, 5, 24},
    {274, 30, 21}, {275, 30, 21}, {276, 30, 21}, {277, 30, 21}, {278, 30, 21}, {279, 30, 21},
    {280, 30, 21}, {281, 30, 21}, {282, 30, 21}, {283, 30, 21}, {284, 30, 21}, {285, 30, 21},
    {286, 30, 21}, {287, 30, 21}, {288, 30, 21},
    // Home page: start buttons in every language, bottom pictures, the rest.
    {290, 450, 120}, {291, 450, 120}, {292, 450, 120}, {416, 450, 120}, {417, 450, 120},
    {418, 450, 120}, {419, 450, 120}, {420, 450, 120}, {421, 450, 120}, {422, 450, 120},
    {423, 450, 120}, {424, 450, 120}, {425, 450, 120}, {426, 450, 120}, {427, 450, 120},
    {456, 450, 120}, {457, 450, 120}, {458, 450, 120}, {459, 450, 120}, {460, 450, 120},
    {461, 450, 120}, {462, 450, 120}, {463, 450, 120}, {464, 450, 120}, {465, 450, 120},
    {466, 450, 120}, {467, 450, 120},
    {300, 520, 100}, {412, 520, 100}, {414, 520, 100}, {415, 520, 100}, {452, 520, 100},
    {453, 520, 100}, {454, 520, 100}, {455, 520, 100},
    {293, 18, 2}, {294, 24, 24}, {295, 48, 48}, {297, 470, 70}, {298, 5, 40},
    // Scan page.
    {301, 60, 60}, {302, 520, 20}, {303, 160, 60},
    // Download page and rows.
    {307, 80, 22}, {308, 80, 22}, {309, 80, 22},
    {359, 16, 16}, {360, 16, 16}, {361, 16, 16}, {364, 16, 16},
    {363, 5, 40}, {365, 56, 40}, {366, 106, 27}, {368, 106, 27}, {369, 106, 27},
    // Logo, dialogs' close button, about box, message box.
    {335, 161, 50}, {323, 31, 21}, {324, 31, 21}, {325, 31, 21},
    {340, 64, 64}, {341, 460, 2}, {348, 130, 24}, {349, 130, 24}, {350, 130, 24},
    {351, 48, 48}, {352, 48, 48}, {353, 48, 48}, {354, 48, 48},
    {356, 70, 24}, {357, 70, 24}, {358, 70, 24},
    // Settings and device information dialogs.
    {376, 20, 110}, {377, 80, 22}, {378, 80, 22}, {379, 80, 22},
    // Backup and restore pages.
    {468, 220, 100}, {469, 220, 100}, {470, 220, 100},
    {471, 16, 16}, {472, 16, 16}, {474, 65, 20}, {475, 16, 16},
};

const rgb caption_band = {139, 184, 241};
const rgb message_background = {226, 240, 253};
const rgb white = {255, 255, 255};

class resources : public ::testing::Test {
protected:
    module_file exe;
    void SetUp() override { ASSERT_NE(exe.handle, nullptr) << "cannot open " << std::string(program.begin(), program.end()); }
};

TEST_F(resources, every_bitmap_is_there_with_its_size_in_24_bits) {
    for (const bitmap_size& expected : all_bitmaps) {
        loaded_bitmap bitmap(exe.handle, expected.id);
        ASSERT_NE(bitmap.handle, nullptr) << "bitmap " << expected.id;
        EXPECT_EQ(bitmap.width(), expected.width) << "bitmap " << expected.id;
        EXPECT_EQ(bitmap.height(), expected.height) << "bitmap " << expected.id;
        EXPECT_EQ(bitmap.depth(), 24) << "bitmap " << expected.id;
    }
}

TEST_F(resources, pictures_meet_the_colour_they_are_drawn_on) {
    // Drawn opaque over the caption band or the message box background: the
    // corners must be that colour, or the picture shows as a box.
    const struct {
        int id;
        rgb surface;
    } opaque[] = {
        {IDB_HOME_TAB_NORMAL, caption_band}, {IDB_DOWNLOAD_TAB_NORMAL, caption_band},
        {IDB_BACKUP_TAB_NORMAL, caption_band}, {IDB_RESTORE_TAB_NORMAL, caption_band},
        {IDB_SETTINGS_TAB_NORMAL, caption_band}, {IDB_HOME_TAB_PRESSED, caption_band},
        {IDB_LOGO, caption_band}, {IDB_ABOUT_PICTURE, caption_band},
        {IDB_SYMBOL_ERROR, message_background}, {IDB_SYMBOL_WARNING, message_background},
        {IDB_SYMBOL_INFORMATION, message_background}, {IDB_SYMBOL_QUESTION, message_background},
        // Drawn with white as the transparent colour.
        {IDB_SIDEBAR_HEADER, white}, {IDB_STATUS_NO_DRIVER, white}, {IDB_STATUS_OUT_OF_DATE, white},
        {IDB_STATUS_UP_TO_DATE, white}, {IDB_STATUS_TOTAL, white},
    };
    for (const auto& picture : opaque) {
        loaded_bitmap bitmap(exe.handle, picture.id);
        ASSERT_NE(bitmap.handle, nullptr) << "bitmap " << picture.id;
        const int r = bitmap.width() - 1, b = bitmap.height() - 1;
        for (const auto& [x, y] : {std::pair{0, 0}, std::pair{r, 0}, std::pair{0, b}, std::pair{r, b}})
            EXPECT_EQ(bitmap.at(x, y), picture.surface) << "bitmap " << picture.id << " at " << x << "," << y;
    }
}

TEST_F(resources, colour_keyed_pictures_keep_their_white_ink) {
    // White is the transparent colour of these: white ink in the middle of the
    // drawing (the arrow, the check mark, the list) must not be pure white.
    for (int id : {IDB_SIDEBAR_HEADER, IDB_STATUS_OUT_OF_DATE, IDB_STATUS_UP_TO_DATE, IDB_STATUS_TOTAL}) {
        loaded_bitmap bitmap(exe.handle, id);
        ASSERT_NE(bitmap.handle, nullptr);
        const int cx = bitmap.width() / 2, cy = bitmap.height() / 2;
        int holes = 0;
        for (int y = cy - 5; y <= cy + 5; ++y)
            for (int x = cx - 5; x <= cx + 5; ++x)
                holes += (x - cx) * (x - cx) + (y - cy) * (y - cy) <= 25 && bitmap.at(x, y) == white;
        EXPECT_EQ(holes, 0) << "bitmap " << id;
    }
}

TEST_F(resources, the_states_of_every_button_look_different) {
    const int normal_ids[] = {
        IDB_HOME_TAB_NORMAL, IDB_DOWNLOAD_TAB_NORMAL, IDB_BACKUP_TAB_NORMAL, IDB_RESTORE_TAB_NORMAL,
        IDB_SETTINGS_TAB_NORMAL, IDB_MENU_BUTTON_NORMAL, IDB_MINIMIZE_BUTTON_NORMAL,
        IDB_MAXIMIZE_BUTTON_NORMAL, IDB_MAXIMIZED_BUTTON_NORMAL, IDB_CLOSE_BUTTON_NORMAL,
        IDB_START_EN_NORMAL, IDB_START_DE_NORMAL, IDB_START_FR_NORMAL, IDB_START_ES_NORMAL,
        IDB_START_IT_NORMAL, IDB_START_JA_NORMAL, IDB_START_PT_NORMAL, IDB_START_NL_NORMAL,
        IDB_START_AR_NORMAL, IDB_ROW_BUTTON_NORMAL, IDB_DIALOG_CLOSE_NORMAL, IDB_ABOUT_BUTTON_NORMAL,
        IDB_MESSAGE_BUTTON_NORMAL, IDB_DIALOG_BUTTON_NORMAL, IDB_BIG_BUTTON_NORMAL,
    };
    for (int id : normal_ids) {
        loaded_bitmap normal(exe.handle, id), hover(exe.handle, id + 1), pressed(exe.handle, id + 2);
        ASSERT_TRUE(normal.handle && hover.handle && pressed.handle) << "bitmaps " << id;
        EXPECT_NE(normal.pixels(), hover.pixels()) << "bitmap " << id;
        EXPECT_NE(normal.pixels(), pressed.pixels()) << "bitmap " << id;
        EXPECT_NE(hover.pixels(), pressed.pixels()) << "bitmap " << id;
    }
    loaded_bitmap all_normal(exe.handle, IDB_DOWNLOAD_ALL_NORMAL), all_hover(exe.handle, IDB_DOWNLOAD_ALL_HOVER),
        all_pressed(exe.handle, IDB_DOWNLOAD_ALL_PRESSED);
    EXPECT_NE(all_normal.pixels(), all_hover.pixels());
    EXPECT_NE(all_normal.pixels(), all_pressed.pixels());
    EXPECT_NE(all_hover.pixels(), all_pressed.pixels());
}

TEST_F(resources, each_language_has_its_own_start_button) {
    const int bases[] = {IDB_START_EN_NORMAL, IDB_START_DE_NORMAL, IDB_START_FR_NORMAL, IDB_START_ES_NORMAL,
                         IDB_START_IT_NORMAL, IDB_START_JA_NORMAL, IDB_START_PT_NORMAL, IDB_START_NL_NORMAL,
                         IDB_START_AR_NORMAL};
    std::vector<std::vector<uint8_t>> seen;
    for (int id : bases) {
        loaded_bitmap bitmap(exe.handle, id);
        ASSERT_NE(bitmap.handle, nullptr) << "bitmap " << id;
        for (const auto& other : seen) EXPECT_NE(bitmap.pixels(), other) << "bitmap " << id;
        seen.push_back(bitmap.pixels());
    }
}

std::vector<UINT> menu_commands(HMENU popup) {
    std::vector<UINT> ids;
    for (int i = 0, n = GetMenuItemCount(popup); i < n; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE;
        GetMenuItemInfoW(popup, i, TRUE, &info);
        ids.push_back((info.fType & MFT_SEPARATOR) ? 0 : info.wID);
    }
    return ids;
}

TEST_F(resources, menus_carry_the_commands_the_windows_handle) {
    HMENU main_menu = LoadMenuW(exe.handle, MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(main_menu, nullptr);
    ASSERT_NE(GetSubMenu(main_menu, 0), nullptr);
    EXPECT_EQ(menu_commands(GetSubMenu(main_menu, 0)),
              (std::vector<UINT>{32775, 0, 32779, 32780, 0, 32781}));
    DestroyMenu(main_menu);

    HMENU row_menu = LoadMenuW(exe.handle, MAKEINTRESOURCEW(IDR_ROW_MENU));
    ASSERT_NE(row_menu, nullptr);
    HMENU popup = GetSubMenu(row_menu, 0);
    ASSERT_NE(popup, nullptr);
    for (UINT id = 32789; id <= 32793; ++id)
        EXPECT_NE(GetMenuState(popup, id, MF_BYCOMMAND), static_cast<UINT>(-1)) << "command " << id;
    DestroyMenu(row_menu);
}

INT_PTR CALLBACK plain_dialog(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// Creates a dialog from a template of the program, hidden, for inspection.
HWND create_from_template(HMODULE module, int id) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
    if (!found) return nullptr;
    auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog, nullptr, plain_dialog, 0);
}

TEST_F(resources, dialog_templates_have_caption_and_two_buttons) {
    const struct {
        int id;
        const wchar_t* caption;
        bool second_button_visible;
    } templates[] = {{IDD_MESSAGE_BOX, L"Quillmark", false}, {IDD_ABOUT_BOX, L"About", true}};
    for (const auto& expected : templates) {
        HWND dialog = create_from_template(exe.handle, expected.id);
        ASSERT_NE(dialog, nullptr) << "dialog " << expected.id;
        wchar_t caption[64] = {};
        GetWindowTextW(dialog, caption, 64);
        EXPECT_STREQ(caption, expected.caption);
        const LONG style = GetWindowLongW(dialog, GWL_STYLE);
        EXPECT_EQ(style & WS_CAPTION, WS_CAPTION) << "the skin needs a caption to enlarge";
        EXPECT_EQ(style & WS_SYSMENU, 0) << "the skin draws its own close button";
        HWND first = GetDlgItem(dialog, 1), second = GetDlgItem(dialog, 2);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_TRUE(GetWindowLongW(first, GWL_STYLE) & WS_VISIBLE);
        EXPECT_EQ((GetWindowLongW(second, GWL_STYLE) & WS_VISIBLE) != 0, expected.second_button_visible);
        DestroyWindow(dialog);
    }
}

// The width of the icon image the system picks for a size, from the group's
// directory: an exact match means the size is drawn, not scaled.
int icon_width_for(HMODULE module, int group, int size) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(group), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    if (!found) return 0;
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, found)));
    const int image_id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(image_id), MAKEINTRESOURCEW(3));  // RT_ICON
    if (!image || SizeofResource(module, image) < sizeof(BITMAPINFOHEADER)) return 0;
    BITMAPINFOHEADER header;
    std::memcpy(&header, LockResource(LoadResource(module, image)), sizeof(header));
    return header.biSize == sizeof(BITMAPINFOHEADER) ? header.biWidth : 0;
}

TEST_F(resources, icons_have_small_and_large_images) {
    for (int group : {IDI_QUILLMARK, IDI_NEW_DRIVERS}) {
        for (int size : {16, 32}) {
            EXPECT_EQ(icon_width_for(exe.handle, group, size), size) << "icon " << group;
            HICON icon = static_cast<HICON>(LoadImageW(exe.handle, MAKEINTRESOURCEW(group), IMAGE_ICON, size, size, 0));
            EXPECT_NE(icon, nullptr) << "icon " << group << " at " << size;
            if (icon) DestroyIcon(icon);
        }
    }
}

}  // namespace
