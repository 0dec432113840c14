#include "common/run_program.h"

bool run_program(const std::wstring& program, const std::wstring& args, finished_run& result) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return false;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring line = L"\"" + program + L"\" " + args;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    CloseHandle(write_end);
    if (!started) {
        CloseHandle(read_end);
        return false;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        result.output.append(buffer, got);
    CloseHandle(read_end);
    bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    if (ended) GetExitCodeProcess(process.hProcess, &result.exit_code);
    else TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

windows_dll_order::windows_dll_order(const std::wstring& program, const wchar_t* dll)
    : key_(L"Software\\Wine\\AppDefaults\\" + program + L"\\DllOverrides"), dll_(dll) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    static const wchar_t order[] = L"native,builtin";
    RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof(order));
    RegCloseKey(key);
}

windows_dll_order::~windows_dll_order() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), dll_.c_str());
}
