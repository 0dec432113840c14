// A fresh folder under the temporary folder for one test, removed with
// everything in it when the object goes.
#pragma once

#include <string>

#include "install/install.h"  // join_path

class scratch_folder {
public:
    scratch_folder();
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return join_path(path_, name); }

private:
    std::wstring path_;
};

// Deletes `folder` and everything under it.
void remove_tree(const std::wstring& folder);
