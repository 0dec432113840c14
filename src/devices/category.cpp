#include "devices/category.h"

#include <shlwapi.h>

#include <string>

#include "devices/device_store.h"
#include "platform/text.h"
#include "resources/resource.h"

namespace {

bool same_name(std::wstring_view a, const wchar_t* b) {
    return equal_ignoring_case(a, b);
}

constexpr int icon_count = static_cast<int>(class_icon::count);

const wchar_t* const icon_names[icon_count] = {
    L"unknown", L"display",  L"sound", L"network",   L"imaging", L"printer", L"keyboard",
    L"mouse",   L"storage",  L"usb",   L"bluetooth", L"system",  L"device",
};

// Setup class names and the icon each stands for.
struct class_name_icon {
    const wchar_t* name;
    class_icon icon;
};
const class_name_icon known_classes[] = {
    {L"Unknown", class_icon::unknown},      {L"Display", class_icon::display},
    {L"Monitor", class_icon::display},      {L"MEDIA", class_icon::sound},
    {L"AudioEndpoint", class_icon::sound},  {L"Net", class_icon::network},
    {L"NetClient", class_icon::network},    {L"NetService", class_icon::network},
    {L"NetTrans", class_icon::network},     {L"Modem", class_icon::network},
    {L"Image", class_icon::imaging},        {L"Camera", class_icon::imaging},
    {L"Printer", class_icon::printer},      {L"PrintQueue", class_icon::printer},
    {L"PnpPrinters", class_icon::printer},  {L"Dot4Print", class_icon::printer},
    {L"Keyboard", class_icon::keyboard},    {L"Mouse", class_icon::mouse},
    {L"DiskDrive", class_icon::storage},    {L"CDROM", class_icon::storage},
    {L"HDC", class_icon::storage},          {L"SCSIAdapter", class_icon::storage},
    {L"FDC", class_icon::storage},          {L"FloppyDisk", class_icon::storage},
    {L"Volume", class_icon::storage},       {L"TapeDrive", class_icon::storage},
    {L"USB", class_icon::usb},              {L"USBDevice", class_icon::usb},
    {L"WCEUSBS", class_icon::usb},          {L"Bluetooth", class_icon::bluetooth},
    {L"System", class_icon::system},        {L"Computer", class_icon::system},
    {L"Processor", class_icon::system},
};

bool usable_index(HIMAGELIST list, int index) {
    return list && index >= 0 && index < ImageList_GetImageCount(list);
}

// The index of one of our own icons in the list the store's views attach, or
// -1 when the store has no icons of its own (or the platform list takes none).
int own_icon_index(device_store& store, class_icon icon) {
    int which = static_cast<int>(icon);
    if (!store.own_class_images || which < 0 || which >= icon_count) return -1;
    if (!store.has_class_image_list) return which;
    int& slot = store.own_icons_in_class_list[which];
    if (slot < 0) {
        HICON copy = ImageList_GetIcon(store.own_class_images, which, ILD_NORMAL);
        if (!copy) return -1;
        slot = ImageList_ReplaceIcon(store.class_image_list.ImageList, -1, copy);
        DestroyIcon(copy);
    }
    return slot;
}

}  // namespace

int category_rank(const wchar_t* class_name) {
    static const wchar_t* const ranked[] = {L"Unknown", L"Display", L"MEDIA",
                                            L"Net",     L"Image",   L"Printer"};
    const wchar_t* name = class_name ? class_name : L"";
    for (int rank = 0; rank < 6; ++rank) {
        if (StrCmpIW(name, ranked[rank]) == 0) return rank;
    }
    return 6;
}

int compare_categories(const device_record& a, const device_record& b) {
    int ra = category_rank(a.class_name), rb = category_rank(b.class_name);
    if (ra != rb) return ra < rb ? -1 : 1;
    return lstrcmpW(a.class_info ? a.class_info->description : L"",
                    b.class_info ? b.class_info->description : L"");
}

class_icon class_icon_for(std::wstring_view class_name) {
    for (const class_name_icon& known : known_classes) {
        if (same_name(class_name, known.name)) return known.icon;
    }
    return class_icon::device;
}

bool class_icon_named(std::wstring_view name, class_icon& out) {
    for (int i = 0; i < icon_count; ++i) {
        if (same_name(name, icon_names[i])) {
            out = static_cast<class_icon>(i);
            return true;
        }
    }
    return false;
}

HIMAGELIST create_own_class_images(HINSTANCE module) {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, icon_count, 4);
    if (!list) return nullptr;
    for (int i = 0; i < icon_count; ++i) {
        HICON icon = static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(IDI_CLASS_UNKNOWN + i), IMAGE_ICON, 16, 16, 0));
        int added = icon ? ImageList_ReplaceIcon(list, -1, icon) : -1;
        if (icon) DestroyIcon(icon);
        if (added != i) {  // a missing icon would shift every later index
            ImageList_Destroy(list);
            return nullptr;
        }
    }
    return list;
}

void assign_class_image(device_store& store, device_class& entry, bool has_index, int index,
                        const wchar_t* icon_name) {
    entry.image_list = class_image_list(store);
    class_icon named = class_icon::device;
    bool is_named = icon_name && class_icon_named(icon_name, named);
    if (!is_named && store.has_class_image_list && has_index &&
        usable_index(store.class_image_list.ImageList, index)) {
        entry.image_index = index;
        return;
    }
    int own = own_icon_index(store, is_named ? named : class_icon_for(entry.name));
    entry.image_index = own >= 0 ? own : (has_index ? index : 0);
}

void draw_category_header(HDC dc, int left, int top, const device_store& store,
                          const device_class* cls, HFONT font, COLORREF colour) {
    int saved = SaveDC(dc);
    bool drawn = cls && usable_index(cls->image_list, cls->image_index) &&
                 ImageList_Draw(cls->image_list, cls->image_index, dc, left + 10, top + 7,
                                ILD_TRANSPARENT);
    if (!drawn && store.own_class_images) {
        int own = static_cast<int>(class_icon_for(cls ? cls->name : L"Unknown"));
        ImageList_Draw(store.own_class_images, own, dc, left + 10, top + 7, ILD_TRANSPARENT);
    }
    if (cls && cls->description[0]) {
        if (font) SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, colour);
        TextOutW(dc, left + 32, top + 8, cls->description, lstrlenW(cls->description));
    }
    RestoreDC(dc, saved);
}
