#include "devices/device_store.h"

#include <algorithm>
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

namespace {

// FNV-1a over the id's code units.
std::size_t id_hash(std::wstring_view id) {
    uint64_t h = 14695981039346656037ull;
    for (wchar_t c : id) h = (h ^ static_cast<uint16_t>(c)) * 1099511628211ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
}

}  // namespace

device_index::device_index(const device_store& store) {
    for (std::size_t i = 0; i < store.devices.size(); ++i) add(store, i);
}

std::size_t device_index::slot_of(const device_store& store, std::wstring_view id) const {
    const std::size_t mask = slots_.size() - 1;  // the size is a power of two
    for (std::size_t slot = id_hash(id) & mask;; slot = (slot + 1) & mask) {
        const std::size_t entry = slots_[slot];
        if (entry == 0) return slot;
        if (entry <= store.devices.size() && std::wstring_view(store.devices[entry - 1].device_id) == id)
            return slot;
    }
}

void device_index::grow(const device_store& store) {
    std::vector<std::size_t> old(std::max<std::size_t>(16, slots_.size() * 2), 0);
    old.swap(slots_);
    for (std::size_t entry : old)
        if (entry != 0 && entry <= store.devices.size())
            slots_[slot_of(store, store.devices[entry - 1].device_id)] = entry;
}

void device_index::add(const device_store& store, std::size_t position) {
    if ((used_ + 1) * 2 > slots_.size()) grow(store);  // at most half full
    const std::size_t slot = slot_of(store, store.devices[position].device_id);
    if (slots_[slot] != 0) return;  // an earlier record has this id
    slots_[slot] = position + 1;
    ++used_;
}

device_record* device_index::find(device_store& store, std::wstring_view id) const {
    if (slots_.empty()) return nullptr;
    const std::size_t entry = slots_[slot_of(store, id)];
    return entry == 0 || entry > store.devices.size() ? nullptr : &store.devices[entry - 1];
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
