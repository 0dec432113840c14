// Runs a program of the build under Wine and collects what it prints.
#pragma once

#include <windows.h>

#include <string>

struct finished_run {
    DWORD exit_code = 0;
    std::string output;  // standard output and error, as the program wrote them
};

// Runs the program with the arguments and its standard output in a pipe;
// false when it cannot be started or does not end within a minute.
bool run_program(const std::wstring& program, const std::wstring& args, finished_run& result);
