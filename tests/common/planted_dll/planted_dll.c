/* Stands in for a system DLL that someone put beside a program: when a
   process loads it, it adds that program's path as a line to the file that
   QM_PLANTED_MARKER names, then refuses to be loaded. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t marker[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"QM_PLANTED_MARKER", marker, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            char program[MAX_PATH];
            DWORD written = 0, size = GetModuleFileNameA(NULL, program, MAX_PATH);
            WriteFile(file, program, size, &written, NULL);
            WriteFile(file, "\r\n", 2, &written, NULL);
            CloseHandle(file);
        }
    }
    return FALSE;
}
