// A shell that records every launch instead of making it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/shell.h"

// Records every launch (from any thread) and answers 42, a success.
class recording_shell final : public shell_actions {
public:
    struct call {
        std::wstring what;  // "page", "folder", "program" or "quiet program"
        std::wstring target;
        std::wstring parameters;
    };

    recording_shell() { set_shell(this); }
    ~recording_shell() override { set_shell(nullptr); }
    recording_shell(const recording_shell&) = delete;
    recording_shell& operator=(const recording_shell&) = delete;

    std::vector<call> calls() const;

    intptr_t open_web_page(const wchar_t* address) override;
    intptr_t open_folder(const wchar_t* path) override;
    intptr_t start_program(HWND owner, const wchar_t* program, const wchar_t* parameters,
                           int show_command) override;
    intptr_t start_program_quietly(HWND owner, const wchar_t* program) override;
    // Recorded as "program"; ends at once with the exit code answered for
    // the program's file name, else with an end that cannot be known.
    program_run run_program(HWND owner, const wchar_t* program, const wchar_t* parameters,
                            int show_command) override;
    void answer_exit(const std::wstring& file_name, uint32_t exit_code);

private:
    intptr_t record(const wchar_t* what, const wchar_t* target, const wchar_t* parameters);
    mutable std::mutex mutex_;
    std::vector<call> calls_;
    std::map<std::wstring, uint32_t> exits_;
};

bool operator==(const recording_shell::call& a, const recording_shell::call& b);
void PrintTo(const recording_shell::call& c, std::ostream* os);
