/* Stands in for icacls.exe in a test prefix (Wine's own changes nothing):
   adds its command line, as UTF-8, to C:\icacls-calls.txt and ends with 0,
   or with 5 (access denied) while C:\icacls-fails exists. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)instance;
    (void)previous;
    (void)command;
    (void)show;
    const wchar_t* line = GetCommandLineW();
    char text[4096];
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof(text) - 2, NULL, NULL);
    HANDLE file = CreateFileW(L"C:\\icacls-calls.txt", FILE_APPEND_DATA, FILE_SHARE_READ, NULL,
                              OPEN_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE && size > 0) {
        DWORD written = 0;
        text[size - 1] = '\n';
        WriteFile(file, text, (DWORD)size, &written, NULL);
        CloseHandle(file);
    }
    return GetFileAttributesW(L"C:\\icacls-fails") == INVALID_FILE_ATTRIBUTES ? 0 : 5;
}
