#include "platform/dll_search.h"

#include <string>

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, spelled out: older headers lack it.
constexpr DWORD search_system32 = 0x00000800;

using set_default_dll_directories_fn = BOOL(WINAPI*)(DWORD);
using set_dll_directory_fn = BOOL(WINAPI*)(LPCWSTR);

template <class Fn>
Fn kernel32_function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)))
                    : nullptr;
}

}  // namespace

void restrict_dll_search() {
    // Both are looked up: SetDefaultDllDirectories is missing before the
    // loader update of Windows 7, SetDllDirectoryW before XP SP1.
    if (auto set_default = kernel32_function<set_default_dll_directories_fn>("SetDefaultDllDirectories")) {
        if (set_default(search_system32)) return;
    }
    if (auto set_directory = kernel32_function<set_dll_directory_fn>("SetDllDirectoryW"))
        set_directory(L"");
}

HMODULE load_system_library(const wchar_t* name) {
    if (!name || !*name) return nullptr;
    for (const wchar_t* c = name; *c; ++c)
        if (*c == L'\\' || *c == L'/' || *c == L':') return nullptr;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    if (path.back() != L'\\') path += L'\\';
    path += name;
    return LoadLibraryW(path.c_str());
}
