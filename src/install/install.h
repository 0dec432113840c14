// Installing a downloaded driver package: it is unpacked into a folder of its
// own under the download folder, the web pages at the top of that folder are
// deleted, and the folder holding the package's INF files is handed to the
// driver package installer (DPInst32.exe or DPInst64.exe, by the bitness of
// Windows, from the program folder). Without the INF files the package's own
// setup program is looked for, and as a last resort the unpacked folder is
// opened in Explorer. A package that is not a zip archive is opened by the
// shell as it is. Nothing waits for the installer.
//
// Every launch goes through the shell interface (platform/shell.h).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

// What an installation is asked to do. Shared by the download row that shows
// it and the install job, which keeps it alive while it runs.
struct install_request {
    std::wstring package_path;          // the downloaded package file
    // The INF names of the offers installed, relative to the package root
    // (b\oem.inf), ordered by plain code-unit comparison.
    std::set<std::wstring> inf_names;
    // 1 from the moment the row starts an installation until the job ends.
    std::atomic<int32_t> installing{0};
};

// Where an installation works and which installer it starts.
struct install_environment {
    std::wstring download_folder;  // unpack folders are made here
    std::wstring program_folder;   // holds DPInst32.exe and DPInst64.exe
    bool windows_64bit = false;    // DPInst64.exe, even from a 32-bit process
    HWND owner = nullptr;          // owner of the launched programs' windows
};

// The session download folder, program_dir and the 64-bit test of this
// process (through the current system source). UI thread.
install_environment current_install_environment();

// Runs an installation: install_package, and when that gives -1, the package
// file opened by the shell (the shell's result is returned). Sets
// `installing` to 0 at the end. 0 after a successful unpack.
int32_t install_task(install_request& request, const install_environment& environment);

// Starts install_task on a detached worker thread that holds `request` and a
// copy of `environment` until it ends. The caller has set `installing` to 1.
// False (and `installing` reset to 0) when no thread could be started.
bool start_install_job(std::shared_ptr<install_request> request, install_environment environment);

// 0 when the package was unpacked (whether or not an installer could be
// started); -1 when it is not a readable zip archive, its unpack folder
// cannot be made, or the archive's directory cannot be read.
int install_package(const std::wstring& package_path, const std::set<std::wstring>& inf_names,
                    const install_environment& environment);

// `base_folder` joined with the file name of `file_path` without its last
// extension; the folder and its missing parents are created. A file name
// without an extension gets the folder name NAME_files, so that the folder
// is not the package file itself.
std::wstring make_unpack_folder(const std::wstring& file_path, const std::wstring& base_folder);

// Chooses and starts the installer for unpack folder `unpack_folder` and the
// offers' INF names: DPInst on their common folder when it exists and one of
// the INF files is there, else the setup search of run_setup_upwards.
void start_installer(const std::wstring& unpack_folder, const std::set<std::wstring>& inf_names,
                     const install_environment& environment);

// The longest common leading text of the INF names, cut back after its last
// backslash: (0, "a\") for {a\x\one.inf, a\y\two.inf}; (-1, "") when there is
// no common folder ({one.inf}, {a\one.inf, b\two.inf}) or no names.
struct common_folder {
    int status = -1;
    std::wstring folder;
};
common_folder common_inf_folder(const std::set<std::wstring>& inf_names);

// The installer's arguments for `folder`: /SH /PATH "folder" (with `force`,
// /SH /F /PATH "folder"), with one trailing backslash of the folder dropped.
std::wstring dpinst_arguments(const std::wstring& folder, bool force);
// The installer's full path: the program folder's DPInst64.exe on 64-bit
// Windows, else DPInst32.exe.
std::wstring dpinst_program(const install_environment& environment);
// Starts DPInst on `folder` (`force` for a restore over a newer driver). The
// launch result is not examined.
void launch_dpinst(const std::wstring& folder, bool force, const install_environment& environment);

// Tries run_package_setup in `unpack_folder` joined with the INF folder
// (relative, "a\b\" or empty), then in each of its parents up to the unpack
// folder itself; opens the unpack folder in Explorer when nothing started.
void run_setup_upwards(const std::wstring& unpack_folder, const std::wstring& inf_folder,
                       const install_environment& environment);

// Starts the folder's setup program: its only program, else the first of
// "setup.exe" and "autorun.exe" in listing order, else a file named ".exe".
// 0 when a program was started, -1 when none was found.
int run_package_setup(const std::wstring& folder, const install_environment& environment);
// The name run_package_setup starts from a listing of "*.exe", or empty when
// the listing alone decides nothing (no name, or several and none of them a
// setup or autorun program).
std::wstring choose_setup_program(const std::vector<std::wstring>& listing);

// Deletes the "*.htm" files of the folder itself (not of its subfolders).
void remove_web_pages(const std::wstring& folder);

// The names FindFirstFileW/FindNextFileW give for `pattern` (an existing
// folder stands for everything in it), in the file system's order, without
// "." and "..". Empty when nothing matches.
std::vector<std::wstring> list_folder(const std::wstring& pattern);

// `folder` and `name` with one backslash between them.
std::wstring join_path(const std::wstring& folder, const std::wstring& name);
