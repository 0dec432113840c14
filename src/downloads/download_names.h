// The names of a download's files in the download folder, and the longest
// folder that can hold them.
#pragma once

#include <cstddef>
#include <string>

// A package's extension (its dot included) is kept to this many characters.
constexpr std::size_t download_extension_longest = 12;
// The partial file and the owner file are the final path with these added.
// The owner file holds the link whose package the two files are: a file of
// that name belongs to a session only when its owner file names its link.
constexpr wchar_t download_partial_suffix[] = L".tmp";
constexpr wchar_t download_owner_suffix[] = L".link";

// The final path of a link's package in `folder`: the MD5 digest of the
// link's last path segment (ANSI bytes) as 32 lower-case hex digits, followed
// by the segment's extension (at most download_extension_longest
// characters), or ".exe" when it has none. Characters that cannot stand in a
// file name end the extension ("a.zip?x" gives ".zip"). Empty when the path
// with its owner suffix would not fit in MAX_PATH - 1 characters.
std::wstring download_final_path(const wchar_t* folder, const char* link);
// The name a link's package takes when the final path above belongs to
// another link: the digest of the whole link instead of its last segment.
std::wstring download_alternative_path(const wchar_t* folder, const char* link);
// The owner file of a final path.
std::wstring download_owner_path(const std::wstring& final_path);
// The longest download folder whose every package name fits in MAX_PATH.
std::size_t download_folder_longest(const wchar_t* folder);
bool download_folder_fits(const wchar_t* folder);
