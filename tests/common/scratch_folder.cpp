#include "common/scratch_folder.h"

#include <windows.h>

void remove_tree(const std::wstring& folder) {
    for (const std::wstring& name : list_folder(folder)) {
        std::wstring path = join_path(folder, name);
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            remove_tree(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    RemoveDirectoryW(folder.c_str());
}

scratch_folder::scratch_folder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static LONG counter = 0;
    path_ = join_path(temp, L"qm-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(InterlockedIncrement(&counter)));
    remove_tree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

scratch_folder::~scratch_folder() { remove_tree(path_); }
