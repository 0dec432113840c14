#include "devices/device_store.h"

#include <new>

#include "platform/device_source.h"
#include "platform/text.h"

device_store* create_device_store(device_source& source, HINSTANCE icons) {
    auto* store = new (std::nothrow) device_store;
    if (!store) return nullptr;
    store->own_class_images = create_own_class_images(icons ? icons : GetModuleHandleW(nullptr));
    SP_CLASSIMAGELIST_DATA list = {};
    if (source.open_class_image_list(list)) {
        store->class_image_list = list;
        store->has_class_image_list = true;
    }
    return store;
}

device_store* create_device_store() { return create_device_store(default_device_source()); }

void clear_device_store(device_store& store) {
    // Swapping with empty vectors gives the memory back, not just the size.
    std::vector<device_record>().swap(store.devices);
    std::vector<device_class>().swap(store.classes);
}

void release_device_store(device_store* store, device_source& source) {
    if (!store) return;
    if (store->has_class_image_list) source.close_class_image_list(store->class_image_list);
    store->has_class_image_list = false;
    if (store->own_class_images) ImageList_Destroy(store->own_class_images);
    store->own_class_images = nullptr;
    clear_device_store(*store);
    delete store;
}

void release_device_store(device_store* store) {
    release_device_store(store, default_device_source());
}

device_record* first_device(device_store& store) {
    return store.devices.empty() ? nullptr : &store.devices.front();
}

int32_t device_count(const device_store& store) {
    return static_cast<int32_t>(store.devices.size());
}

device_record* find_device(device_store& store, std::wstring_view id) {
    for (device_record& record : store.devices) {
        if (std::wstring_view(record.device_id) == id) return &record;
    }
    return nullptr;
}

HIMAGELIST class_image_list(const device_store& store) {
    return store.has_class_image_list ? store.class_image_list.ImageList : store.own_class_images;
}

std::vector<std::wstring_view> multi_string_entries(const std::wstring& list) {
    std::vector<std::wstring_view> entries;
    std::wstring_view rest(list);
    while (!rest.empty()) {
        std::size_t end = rest.find(L'\0');
        std::wstring_view entry = rest.substr(0, end);  // npos: the unterminated rest
        if (entry.empty()) break;
        entries.push_back(entry);
        if (end == std::wstring_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return entries;
}

std::wstring make_multi_string(const std::vector<std::wstring>& entries) {
    std::wstring list;
    for (const std::wstring& entry : entries) {
        std::wstring_view text(entry.c_str());  // an entry ends at its first NUL
        if (text.empty()) break;
        list.append(text);
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return list;
}

void reset_scan_progress(scan_progress& progress, bool include_non_present) {
    progress.include_non_present = include_non_present ? 1 : 0;
    progress.total = 0;
    progress.index = 0;
    set_current_name(progress, {});
}

void set_current_name(scan_progress& progress, std::wstring_view name) {
    std::lock_guard<std::mutex> hold(progress.name_lock);
    copy_text(progress.name, name);  // at most 1024 characters, always terminated
}

std::wstring current_name(const scan_progress& progress) {
    std::lock_guard<std::mutex> hold(progress.name_lock);
    return std::wstring(progress.name);
}
