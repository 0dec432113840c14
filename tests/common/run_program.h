// Runs a program of the build under Wine and collects what it prints.
#pragma once

#include <windows.h>

#include <string>

struct finished_run {
    DWORD exit_code = 0;
    std::string output;  // standard output and error, as the program wrote them
};

// While the object lives, Wine loads `dll` for programs whose file is named
// `program` as Windows does: from the program's folder before System32
// (Wine prefers its own DLLs otherwise). Set in Wine's per-program
// registry settings: WINEDLLOVERRIDES set here would not reach the program,
// which Wine gives the value this process was started with.
class windows_dll_order {
public:
    windows_dll_order(const std::wstring& program, const wchar_t* dll);
    ~windows_dll_order();
    windows_dll_order(const windows_dll_order&) = delete;
    windows_dll_order& operator=(const windows_dll_order&) = delete;

private:
    std::wstring key_, dll_;
};

// The DLL that, planted beside a program under a system DLL's name, adds the
// loading program's path to the file named by the environment variable
// QM_PLANTED_MARKER when it is loaded (tests/common/planted_dll/).
inline std::wstring planted_dll(bool sixty_four) {
    return std::wstring(QM_BINARY_DIR_W) + (sixty_four ? L"\\planted\\x64" : L"\\planted\\x86") +
           L"\\planted.dll";
}

// Runs the program with the arguments and its standard output in a pipe;
// false when it cannot be started or does not end within a minute.
bool run_program(const std::wstring& program, const std::wstring& args, finished_run& result);
