#include "common/recording_shell.h"

#include <shlwapi.h>

#include "platform/text.h"

std::vector<recording_shell::call> recording_shell::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

intptr_t recording_shell::record(const wchar_t* what, const wchar_t* target, const wchar_t* parameters) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({what, target ? target : L"", parameters ? parameters : L""});
    return 42;
}

intptr_t recording_shell::open_web_page(const wchar_t* address) { return record(L"page", address, nullptr); }
intptr_t recording_shell::open_folder(const wchar_t* path) { return record(L"folder", path, nullptr); }
intptr_t recording_shell::start_program(HWND, const wchar_t* program, const wchar_t* parameters, int) {
    return record(L"program", program, parameters);
}
intptr_t recording_shell::start_program_quietly(HWND, const wchar_t* program) {
    return record(L"quiet program", program, nullptr);
}

program_run recording_shell::run_program(HWND, const wchar_t* program, const wchar_t* parameters, int) {
    program_run run;
    run.code = record(L"program", program, parameters);
    std::lock_guard<std::mutex> lock(mutex_);
    auto exit = exits_.find(PathFindFileNameW(program ? program : L""));
    if (exit != exits_.end()) {
        run.exit_known = true;
        run.exit_code = exit->second;
    }
    return run;
}

void recording_shell::answer_exit(const std::wstring& file_name, uint32_t exit_code) {
    std::lock_guard<std::mutex> lock(mutex_);
    exits_[file_name] = exit_code;
}

bool operator==(const recording_shell::call& a, const recording_shell::call& b) {
    return a.what == b.what && a.target == b.target && a.parameters == b.parameters;
}

void PrintTo(const recording_shell::call& c, std::ostream* os) {
    *os << wide_to_utf8(c.what) << " " << wide_to_utf8(c.target) << " [" << wide_to_utf8(c.parameters)
        << "]";
}
