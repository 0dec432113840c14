#include "dpinst/options.h"

#include "dpinst/ascii.h"

namespace {

bool is_space(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

const wchar_t* const dpinst_usage =
    L"Usage: DPInst /PATH \"folder\" [/SH] [/F] [/S] [/Q] [/C] [/LM]\r\n"
    L"/SH only packages for present devices, /F force, /S /Q silent, /C console log, "
    L"/LM legacy mode";

std::vector<std::wstring> split_command_line(std::wstring_view line) {
    std::vector<std::wstring> args;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && is_space(line[i])) ++i;
        if (i >= line.size()) break;
        std::wstring arg;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            wchar_t c = line[i];
            if (c == L'"') {
                quoted = !quoted;
            } else if (!quoted && is_space(c)) {
                break;
            } else {
                arg += c;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

parsed_options parse_options(const std::vector<std::wstring>& args) {
    parsed_options result;
    dpinst_options& o = result.options;
    bool have_path = false;
    auto refuse = [&result](std::wstring message) {
        result.ok = false;
        result.error = std::move(message);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (equal_ignoring_case(a, L"/SH")) {
            o.present_only = true;
        } else if (equal_ignoring_case(a, L"/F")) {
            o.force = true;
        } else if (equal_ignoring_case(a, L"/S")) {
            o.silent = true;
        } else if (equal_ignoring_case(a, L"/Q")) {
            o.quiet = true;
        } else if (equal_ignoring_case(a, L"/C")) {
            o.console = true;
        } else if (equal_ignoring_case(a, L"/LM")) {
            o.legacy_mode = true;
        } else if (equal_ignoring_case(a, L"/PATH")) {
            if (have_path) return refuse(L"/PATH is given more than once.");
            if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == L'/')
                return refuse(L"/PATH must be followed by a folder.");
            o.folder = args[++i];
            have_path = true;
        } else if (!a.empty() && (a[0] == L'/' || a[0] == L'-')) {
            return refuse(L"Unknown switch: " + a);
        } else {
            return refuse(L"Unexpected argument: \"" + a + L"\" (a folder goes after /PATH).");
        }
    }
    if (!have_path) return refuse(L"No folder given: /PATH \"folder\" is required.");
    result.ok = true;
    return result;
}
