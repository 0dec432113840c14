#include "platform/registry_text.h"

bool read_registry_text(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* out,
                        std::size_t capacity) {
    if (!out || capacity == 0) return false;
    out[0] = L'\0';
    constexpr std::size_t max_chars = 0x7FFFFFFF / sizeof(wchar_t);
    const std::size_t chars = capacity < max_chars ? capacity : max_chars;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(chars * sizeof(wchar_t));
    LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
    RegCloseKey(key);
    const std::size_t n = size / sizeof(wchar_t);  // an odd last byte is dropped
    // Data that fills the whole buffer fits only when it ends in its terminator.
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || n > chars ||
        (n == capacity && out[n - 1] != L'\0')) {
        out[0] = L'\0';
        return false;
    }
    if (n < capacity) out[n] = L'\0';
    return true;
}
