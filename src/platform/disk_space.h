// How much room is left on the volume that holds a folder
// (GetDiskFreeSpaceExW). Tests put their own answer in its place.
#pragma once

#include <cstdint>

// The bytes that the current user may still write on the volume of `folder`
// into `bytes`. False when the system cannot say.
using free_space_function = bool (*)(const wchar_t* folder, uint64_t& bytes);

bool free_disk_space(const wchar_t* folder, uint64_t& bytes);
// Puts `replacement` in place of the system's answer (null: the system's
// again) and returns the one in effect before. Called while no worker
// unpacks.
free_space_function set_free_space_function(free_space_function replacement);
