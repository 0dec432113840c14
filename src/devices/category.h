// Device categories: the fixed order in which groups of devices are shown, the
// class icons (the platform's class image list, or the program's own icons
// where the platform has none), and the category header of a device group.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string_view>

struct device_class;
struct device_record;
struct device_store;

// The program's own class icons, in the order of their image list (and of the
// IDI_CLASS_ resources).
enum class class_icon : int {
    unknown, display, sound, network, imaging, printer, keyboard, mouse, storage, usb,
    bluetooth, system, device,
    count
};

// 0 Unknown, 1 Display, 2 MEDIA, 3 Net, 4 Image, 5 Printer, 6 any other class
// name (empty included); letter case is ignored.
int category_rank(const wchar_t* class_name);

// Orders two device groups by their first devices: category_rank of the class
// name, then the description of the device's class (lstrcmpW; a device without
// a class has an empty one). Negative, zero or positive, like lstrcmpW.
int compare_categories(const device_record& a, const device_record& b);

// The icon of our own that stands for a class name (a generic device for
// classes without one of their own); letter case is ignored.
class_icon class_icon_for(std::wstring_view class_name);
// The icon called `name` ("unknown", "display", "sound", "network", "imaging",
// "printer", "keyboard", "mouse", "storage", "usb", "bluetooth", "system",
// "device"; any letter case). False for another name.
bool class_icon_named(std::wstring_view name, class_icon& out);

// An image list of 16 x 16 images holding the program's class icons in
// class_icon order, loaded from `module`; null when one of them is missing.
// The caller destroys it with ImageList_Destroy.
HIMAGELIST create_own_class_images(HINSTANCE module);

// Gives a class its image list and index, once its name is known:
// - an icon named by the machine profile (icon_name, may be null) wins;
// - else the platform's image (has_index, index) when the store holds a class
//   image list and the index is one of its images;
// - else the program's own icon for the class name. With a platform list the
//   own icon is added to that list once (so list and tree views keep one list);
//   without one the own list is used.
// A store without icons of its own keeps what the platform gave (0 when nothing).
void assign_class_image(device_store& store, device_class& entry, bool has_index, int index,
                        const wchar_t* icon_name);

// Draws a category header with its top left corner at (left, top): the class
// icon at (left + 10, top + 7) and the class description at (left + 32,
// top + 8) in `font` and `colour` on a transparent background. A class
// without a usable image (or no class) gets the program's own icon for it, so
// the header always shows an icon while the store has its own icons. The
// DC's state is left as it was.
void draw_category_header(HDC dc, int left, int top, const device_store& store,
                          const device_class* cls, HFONT font, COLORREF colour);
