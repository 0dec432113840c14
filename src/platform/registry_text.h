// Reading a string value from the registry into a fixed-capacity buffer, with
// calls that every Windows from XP on has.
#pragma once

#include <windows.h>

#include <cstddef>

// Reads the REG_SZ (or REG_EXPAND_SZ, unexpanded) value `name` of
// root\subkey into out[0..capacity). The text is always terminated, also when
// the stored data lacks its terminator or ends in half a character. False,
// with out empty, when the key or value is missing, the value is of another
// type or does not fit in capacity - 1 characters.
bool read_registry_text(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* out,
                        std::size_t capacity);

template <std::size_t N>
bool read_registry_text(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t (&out)[N]) {
    return read_registry_text(root, subkey, name, out, N);
}
