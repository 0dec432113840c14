#include "app/globals.h"

std::atomic<int32_t> last_error{0};

wchar_t module_path[MAX_PATH] = {};
wchar_t program_dir[MAX_PATH] = {};
UINT oem_code_page = 0;
SYSTEM_INFO system_info = {};
OSVERSIONINFOEXW windows_version = {};
