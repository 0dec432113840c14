#include "platform/disk_space.h"

#include <windows.h>

#include <atomic>

namespace {

bool system_free_space(const wchar_t* folder, uint64_t& bytes) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

std::atomic<free_space_function> current{system_free_space};

}  // namespace

bool free_disk_space(const wchar_t* folder, uint64_t& bytes) { return current.load()(folder, bytes); }

free_space_function set_free_space_function(free_space_function replacement) {
    return current.exchange(replacement ? replacement : system_free_space);
}
