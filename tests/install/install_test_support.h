// Shared by the installation tests: a shell that records
// launches, small archives made with minizip's writer, and file helpers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "common/reference_service.h"  // read_file_bytes, write_file_bytes
#include "common/scratch_folder.h"
#include "install/install.h"
#include "platform/shell.h"

// Records every launch (from any thread) and answers 42, a success.
class recording_shell final : public shell_actions {
public:
    struct call {
        std::wstring what;  // "page", "folder" or "program"
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

private:
    intptr_t record(const wchar_t* what, const wchar_t* target, const wchar_t* parameters);
    mutable std::mutex mutex_;
    std::vector<call> calls_;
};

bool operator==(const recording_shell::call& a, const recording_shell::call& b);
void PrintTo(const recording_shell::call& c, std::ostream* os);

struct zip_entry_spec {
    std::string name;              // as stored, in whatever encoding
    std::string data;
    bool utf8_flag = false;        // general-purpose bit 11
    int method = 8;                // 8 deflate, 0 stored
    SYSTEMTIME time{2013, 4, 0, 11, 10, 20, 30, 0};  // 2013-04-11 10:20:30
};
// Writes a zip archive of the entries, in their order. False on failure.
bool write_zip(const std::wstring& path, const std::vector<zip_entry_spec>& entries);

bool file_exists(const std::wstring& path);
// A sample package of the reference update service (update-service/).
std::wstring sample_package(const wchar_t* name);
// Every file under `folder`, relative, with "\" between parts, sorted.
std::vector<std::wstring> files_under(const std::wstring& folder);
