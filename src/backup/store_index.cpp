#include "backup/store_index.h"

#include <shlwapi.h>

#include <cstdio>
#include <cwctype>

#include "app/app_init.h"
#include "app/globals.h"
#include "backup/catalogue.h"
#include "backup/zip_writer.h"
#include "downloads/md5.h"
#include "install/install.h"
#include "platform/text.h"
#include "platform/wow64.h"

wchar_t inf_folder[MAX_PATH] = {};
wchar_t store_root[MAX_PATH] = {};
std::map<std::string, std::wstring> inf_content_index;
store_lookup_function store_lookup = xp_store_lookup;
std::vector<driver_package> package_list;

namespace {

// Windows XP and earlier have no lookup function: their store is searched
// by content.
bool before_vista() {
    return windows_version.dwMajorVersion * 10 + windows_version.dwMinorVersion < 60;
}

bool ends_with_inf(const std::wstring& path) {
    return path.size() > 4 && lstrcmpiW(path.c_str() + path.size() - 4, L".inf") == 0;
}

}  // namespace

int md5_file_hex(const wchar_t* path, char (&out)[33]) {
    FILE* file = _wfopen(path, L"rb");
    if (!file) return -1;
    md5_state state;
    unsigned char buffer[1024];
    for (;;) {
        std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        md5_update(state, buffer, got);
        if (got < sizeof buffer) break;
    }
    std::fclose(file);
    unsigned char digest[16];
    md5_finish(state, digest);
    for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", digest[i]);
    return 0;
}

walk_folder::walk_folder(const std::wstring& folder, mode kind) : kind_(kind) {
    search first;
    first.folder = folder;
    for (wchar_t& c : first.folder) c = c == L'/' ? L'\\' : c;
    stack_.push_back(std::move(first));
}

walk_folder::~walk_folder() {
    for (search& s : stack_)
        if (s.handle != INVALID_HANDLE_VALUE) FindClose(s.handle);
}

bool walk_folder::next(std::wstring& path) {
    while (!stack_.empty()) {
        search& top = stack_.back();
        WIN32_FIND_DATAW found;
        bool got;
        if (top.handle == INVALID_HANDLE_VALUE) {
            top.handle = FindFirstFileW(join_path(top.folder, L"*").c_str(), &found);
            got = top.handle != INVALID_HANDLE_VALUE;
            // An unreadable folder ends at once; mark it as searched.
            if (!got) {
                top.handle = nullptr;
                failed_ = true;
            }
        } else {
            got = top.handle && FindNextFileW(top.handle, &found);
            if (!got && top.handle && GetLastError() != ERROR_NO_MORE_FILES) failed_ = true;
        }
        if (!got) {
            if (top.handle) FindClose(top.handle);
            stack_.pop_back();
            continue;
        }
        if (found.cFileName[0] == L'.') continue;
        std::wstring full = join_path(top.folder, found.cFileName);
        bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (is_folder) stack_.push_back(search{full, INVALID_HANDLE_VALUE});
        if (kind_ == both || (kind_ == folders) == is_folder) {
            path = std::move(full);
            return true;
        }
    }
    return false;
}

BOOL WINAPI xp_store_lookup(PCWSTR inf_name, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR buffer,
                            DWORD size, PDWORD) {
    if (!inf_name) return FALSE;
    const std::wstring inf = join_path(inf_folder, inf_name);
    char hex[33];
    int read;
    {
        native_system_folder_scope native;
        read = md5_file_hex(inf.c_str(), hex);
    }
    if (read != 0) return FALSE;
    auto found = inf_content_index.find(hex);
    if (found == inf_content_index.end() || !buffer || size == 0) return FALSE;
    StrCpyNW(buffer, found->second.c_str(), static_cast<int>(size));
    return TRUE;
}

int build_store_index() { return build_store_index(driver_store_in_use()); }

int build_store_index(const driver_store_places& places) {
    copy_text(inf_folder, places.inf_folder);
    store_root[0] = L'\0';
    inf_content_index.clear();
    store_lookup = xp_store_lookup;
    if (before_vista()) {
        // A 32-bit program on XP x64 would read SysWOW64 instead. Nothing
        // here calls into a DLL that may not be loaded yet.
        native_system_folder_scope native;
        walk_folder walk(places.drvstore, walk_folder::files);
        for (std::wstring path; walk.next(path);) {
            char hex[33];
            if (ends_with_inf(path) && md5_file_hex(path.c_str(), hex) == 0)
                inf_content_index[hex] = path;
        }
        copy_text(store_root, places.drvstore);
        return 0;
    }
    if (!places.lookup) return -1;
    store_lookup = places.lookup;
    copy_text(store_root, places.file_repository);
    return 0;
}

int store_folder_name(const wchar_t* path, std::wstring& name) {
    std::size_t root_length = wcslen(store_root);
    if (root_length == 0 || StrCmpNIW(path, store_root, static_cast<int>(root_length)) != 0) return -1;
    const wchar_t* rest = path + root_length;
    if (*rest == L'\\') ++rest;
    name.assign(rest, wcscspn(rest, L"\\"));
    // An empty name would stand for the whole store.
    return name.empty() ? -1 : 0;
}

int build_package_list() {
    package_list.clear();
    if (app_device_store) {
        for (device_record& device : app_device_store->devices) {
            if (!device.has_driver) continue;
            bool inbox = StrCmpNIW(device.InfPath, L"oem", 3) != 0;
            if (before_vista() && inbox) continue;
            wchar_t location[MAX_PATH] = {};
            if (!store_lookup(device.InfPath, nullptr, nullptr, location, MAX_PATH, nullptr)) continue;
            std::wstring name;
            if (store_folder_name(location, name) < 0) continue;
            driver_package* package = nullptr;
            for (driver_package& p : package_list) {
                if (StrCmpIW(p.folder_name, name.c_str()) == 0) {
                    package = &p;
                    break;
                }
            }
            if (!package) {
                package = &package_list.emplace_back();
                package->inbox = inbox;
                copy_text(package->folder_name, name);
            }
            package->devices.push_back(&device);
        }
    }
    return load_catalogue();
}

std::wstring archive_base_name(const wchar_t* description) {
    // Through the code page and back: what it lacks becomes its nearest
    // character or "?" (and then "-"), so the name survives the catalogue.
    std::wstring name = ansi_to_wide(wide_to_ansi(description));
    std::size_t first = 0, last = name.size();
    while (first < last && std::iswspace(name[first])) ++first;
    while (last > first && std::iswspace(name[last - 1])) --last;
    name = name.substr(first, last - first);
    // Every character Windows refuses in a file name becomes "-", and so do
    // dots at the end, which Windows would drop.
    for (wchar_t& c : name) {
        if (c < 32 || wcschr(L" \\/:*?<>|\"", c)) c = L'-';
    }
    for (std::size_t i = name.size(); i > 0 && name[i - 1] == L'.'; --i) name[i - 1] = L'-';
    // Device names stay devices whatever their extension: CON.zip is CON.
    static const wchar_t* const reserved[] = {L"CON", L"PRN", L"AUX", L"NUL",
        L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7", L"COM8", L"COM9",
        L"LPT1", L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9"};
    std::wstring stem = name.substr(0, name.find(L'.'));
    for (const wchar_t* device : reserved) {
        if (lstrcmpiW(stem.c_str(), device) == 0) {
            name.insert(stem.size(), L"-");
            break;
        }
    }
    return name;
}

std::wstring backup_archive_name(const driver_package& package, const std::wstring& folder) {
    if (package.devices.empty()) return {};
    std::wstring base = archive_base_name(package.devices.front()->DriverDesc);
    if (base.find_first_not_of(L'-') == std::wstring::npos) base = archive_base_name(package.folder_name);
    const std::wstring name = free_archive_name(base, folder, package.devices);
    return name.empty() ? name : join_path(folder, name);
}

int write_archive(const std::wstring& folder, const std::wstring& archive,
                  std::atomic<int32_t>& progress) {
    // Written beside the old archive first: a failed backup keeps the last good one.
    // A package folder that is gone or cannot be listed would give an
    // archive without the driver: the backup fails instead.
    // The package folder is read with the redirection of a 32-bit program
    // on 64-bit Windows off (the store lies in System32); the archive is
    // written with it on, as every other file.
    std::vector<std::wstring> files;
    bool walk_failed;
    {
        native_system_folder_scope native;
        walk_folder walk(folder, walk_folder::files);
        for (std::wstring path; walk.next(path);) files.push_back(std::move(path));
        walk_failed = walk.failed();
    }
    if (archive.empty() || walk_failed || files.empty()) return -1;
    std::wstring fresh = archive + L".new";
    zip_writer writer;
    if (writer.create(fresh) != 0) return -1;
    const int32_t base = progress;
    const std::wstring prefix = join_path(folder, L"");
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].size() <= prefix.size() ||
            StrCmpNIW(files[i].c_str(), prefix.c_str(), static_cast<int>(prefix.size())) != 0) {
            writer.close();
            DeleteFileW(fresh.c_str());
            return -1;
        }
        const std::wstring name = files[i].substr(prefix.size());
        {
            // Opens and reads the one file; the archive is written through
            // its open handle.
            native_system_folder_scope native;
            writer.add_file(files[i], name);
        }
        progress = base + static_cast<int32_t>((i * 100 + 100) / files.size());
    }
    progress = base + 100;
    if (writer.close() != 0 ||
        !MoveFileExW(fresh.c_str(), archive.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(fresh.c_str());
        return -1;
    }
    return 0;
}

int backup_package(std::size_t index, backup_job& job) {
    const driver_package& package = package_list[index];
    wchar_t folder[MAX_PATH] = {};
    copy_text(folder, store_root);
    if (!PathAppendW(folder, package.folder_name)) return -1;
    std::wstring archive = backup_archive_name(package, job.backup_folder);
    if (write_archive(folder, archive, job.progress) < 0) return -1;
    std::vector<const device_record*> devices(package.devices.begin(), package.devices.end());
    return record_backup(archive.c_str(), devices);
}

int backup_task(backup_job& job) {
    for (const device_record* selected : job.selected) {
        std::size_t index = package_list.size();
        for (std::size_t i = 0; i < package_list.size() && index == package_list.size(); ++i) {
            for (const device_record* device : package_list[i].devices) {
                if (device == selected) {
                    index = i;
                    break;
                }
            }
        }
        if (index == package_list.size() || backup_package(index, job) < 0) return -1;
    }
    return 0;
}
