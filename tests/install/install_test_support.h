// Shared by the installation tests: small archives made with minizip's
// writer, and file helpers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/reference_service.h"  // read_file_bytes, write_file_bytes
#include "common/recording_shell.h"
#include "common/scratch_folder.h"
#include "install/install.h"
#include "platform/shell.h"


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

// `link` as a symbolic link to the folder `target` (both Windows paths of
// this prefix) while the object lives. Wine cannot make or remove one
// through Windows' own calls, but it shows a Unix link as a reparse point,
// so Unix's ln and rm do.
class folder_link {
public:
    folder_link(const std::wstring& link, const std::wstring& target);
    ~folder_link();
    folder_link(const folder_link&) = delete;
    folder_link& operator=(const folder_link&) = delete;
    bool made() const;  // `link` is a reparse point now
private:
    std::wstring link_;
};
