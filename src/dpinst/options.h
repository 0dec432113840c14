// The command line of DPInst32.exe / DPInst64.exe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct dpinst_options {
    bool present_only = false;  // /SH: only packages that match a present device
    bool force = false;         // /F: install even over a newer or better-ranked driver
    bool silent = false;        // /S
    bool quiet = false;         // /Q
    bool console = false;       // /C: log lines also go to the console
    bool legacy_mode = false;   // /LM
    std::wstring folder;        // /PATH "folder", as given
};

struct parsed_options {
    bool ok = false;
    dpinst_options options;
    std::wstring error;  // what is wrong with the line when !ok
};

// Splits a command line into its arguments. Whitespace separates arguments
// outside double quotes; a double quote starts or ends a quoted stretch and is
// dropped. A backslash is always an ordinary character: Windows paths cannot
// hold a double quote, so "C:\drivers\" is the folder C:\drivers\ and not an
// escaped quote. The program name, when the line holds one, is the first
// argument.
std::vector<std::wstring> split_command_line(std::wstring_view line);

// Reads the switches (the arguments after the program name). Switches are
// case-insensitive; /PATH takes the next argument as its folder and is
// required; anything else is refused with a message naming it.
parsed_options parse_options(const std::vector<std::wstring>& args);

// Two lines on the switches, for refusals and the console.
extern const wchar_t* const dpinst_usage;
