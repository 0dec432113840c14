// Installing a downloaded driver package: it is unpacked into a folder of its
// own under the download folder, the web pages at the top of that folder are
// deleted, and the folder holding the package's INF files is handed to the
// driver package installer (DPInst32.exe or DPInst64.exe, by the bitness of
// Windows, from the program folder). Without the INF files the package's own
// setup program is looked for, and as a last resort the unpacked folder is
// opened in Explorer. A package that is not a zip archive is started as it
// is when it is a program (.exe) or a Windows Installer package (.msi);
// anything else is never opened.
//
// Quillmark runs with administrator rights, so nothing from a package is
// started unless Windows finds a valid signature on it (platform/
// trust_check.h); DPInst, ours, checks the driver's catalogue itself. INF
// names that would lead out of the package are dropped, and every unpack
// goes into a new, empty folder: nothing left in the download folder
// beforehand is started.
//
// Every launch goes through the shell interface (platform/shell.h), and the
// job waits for the installer it started to end: its exit code says whether
// the installation worked, and only one that did is recorded in setup.dat.
// One installation per package runs at a time, and at quit the unpacking
// stops at a safe point (stop_unpacking).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/shell.h"

class zip_reader;

// What an installation did, for the row that asked for it.
enum class install_outcome : int32_t {
    none,             // nothing yet
    dpinst_started,   // the driver package installer was started on the INF folder
    program_started,  // a signed program was started
    folder_opened,    // no installer was found: the unpack folder was opened
    program_refused,  // a program without a valid signature was not started
    type_refused,     // a package that is neither archive nor program was not opened
    unpack_failed,    // the archive could not be unpacked
};

struct install_report {
    install_outcome outcome = install_outcome::none;
    std::wstring file;    // the program, package or folder it concerns
    std::wstring signer;  // the signer's name, when the file is signed
    // For a started installer: whether its end was waited for, and its
    // exit code then.
    bool exit_known = false;
    uint32_t exit_code = 0;
    std::wstring log;     // DPInst's log, once DPInst has ended
};

// What a finished installation came to, as the row says it.
enum class install_verdict {
    none,               // no installation has ended
    installed,          // the installer reported success
    restart_needed,     // success, and Windows must restart to finish
    no_device_matched,  // DPInst installed nothing and failed nothing
    failed,             // the installer reported a failure
    refused,            // nothing was started (unpack, signature or type refused)
    unknown,            // its end cannot be known, or only the folder was opened
};
// DPInst's exit code is 0xWWXXYYZZ: WW flags (0x80 a package could not be
// installed, 0x40 a restart is needed), XX packages failed, YY packages put
// in the driver store that match no device, ZZ packages installed. A setup
// program reports success with 0 (3010: success, restart needed).
install_verdict judge_installation(const install_report& report);
// Whether the verdict is a success that setup.dat records.
bool installation_succeeded(install_verdict verdict);

// What an installation is asked to do. Shared by the download row that shows
// it and the install job, which keeps it alive while it runs.
struct install_request {
    std::wstring package_path;          // the downloaded package file
    std::string link;                   // the offer's link, recorded on success
    // The INF names of the offers installed, relative to the package root
    // (b\oem.inf), ordered by plain code-unit comparison.
    std::set<std::wstring> inf_names;
    // Written by the job before `installing` drops to 0; read by the row
    // once it reads 0, and cleared by the row before it starts the job.
    install_report report;
    // 1 from the moment the row starts an installation until the job ends.
    std::atomic<int32_t> installing{0};
};

// Where an installation works and which installer it starts.
struct install_environment {
    std::wstring download_folder;  // unpack folders are made here
    std::wstring program_folder;   // holds DPInst32.exe and DPInst64.exe
    bool windows_64bit = false;    // DPInst64.exe, even from a 32-bit process
    HWND owner = nullptr;          // owner of the launched programs' windows
    // The list of installed links (setup.dat); empty to record nothing.
    std::wstring installed_list;
};

// The session download folder, program_dir and the 64-bit test of this
// process (through the current system source). UI thread.
install_environment current_install_environment();

// Runs an installation: install_package, and when the package is no zip
// archive, open_package; waits for the installer to end. When it reported
// success, appends the request's link to environment.installed_list. At the
// end releases the package (claim_package) and sets `installing` to 0, after
// the request's report. 0 after a successful unpack.
int32_t install_task(install_request& request, const install_environment& environment);

// Appends `link` and a line end to the list at `path`. False when it cannot
// be written.
bool record_installed_link(const std::wstring& path, const std::string& link);

// The process's installations, one per package (by path, any letter case):
// claim_package is false while the package is claimed already.
bool claim_package(const std::wstring& package_path);
void release_package(const std::wstring& package_path);
bool package_installing(const std::wstring& package_path);
// Whether an installation or a restore's unpack runs.
bool installations_running();
// At quit: every unpack stops at its next piece (its new folder removed, the
// old one kept); waits until the one running has, and refuses every later
// one. resume_unpacking lifts that again.
void stop_unpacking();
void resume_unpacking();

// Where DPInst's log is: DPINST.LOG in the Windows folder, or in the
// temporary folder when only that one exists.
std::wstring dpinst_log_path();

// A package that is not a zip archive: started when it is an .exe or .msi
// file that start_if_signed starts (the shell's result), else refused (-1).
int32_t open_package(const std::wstring& package_path, const install_environment& environment,
                     install_report& report);

// Starts the program at `path` when its signature is valid (the shell's
// result, and the report names the signer); otherwise starts nothing,
// reports the refusal and returns -1.
intptr_t start_if_signed(const std::wstring& path, const install_environment& environment,
                         install_report& report);

// Claims the request's package and starts install_task on a detached worker
// thread that holds `request` and a copy of `environment` until it ends. The
// caller has set `installing` to 1; unless the job starts, it is reset to 0.
enum class install_start { started, already_installing, failed };
install_start start_install_job(std::shared_ptr<install_request> request, install_environment environment);

// 0 when the package was unpacked (whether or not an installer could be
// started); -1 when it is not a readable zip archive, or when it is one that
// could not be unpacked (the report then says unpack_failed).
int install_package(const std::wstring& package_path, const std::set<std::wstring>& inf_names,
                    const install_environment& environment, install_report& report);

// Unpacks the open archive into a new, empty folder beside `folder` and, once
// that is complete, puts it in `folder`'s place (what was there goes). 0, or
// extract_all's error (an archive that does not unpack whole among them),
// UNPACK_NO_ROOM when the folders cannot be swapped, UNPACK_STOPPED after
// stop_unpacking; `folder` is then as it was, and no new folder is left
// behind. One unpack runs at a time.
int unpack_into_fresh_folder(zip_reader& reader, const std::wstring& folder);

// Removes `path` and everything under it without following reparse points:
// a junction or link is removed itself, never what it leads to. True when
// nothing is left at `path`.
bool delete_tree(const std::wstring& path);

// The INF names that can be looked up under the unpack folder, in the form
// the unpacked files have (a\b.inf): a name the archive reader would not
// write (absolute, a drive, "..", a device) or that names a folder is dropped.
std::set<std::wstring> usable_inf_names(const std::set<std::wstring>& inf_names);

// `base_folder` joined with the file name of `file_path` without its last
// extension; the folder and its missing parents are created. A file name
// without an extension gets the folder name NAME_files, so that the folder
// is not the package file itself.
std::wstring make_unpack_folder(const std::wstring& file_path, const std::wstring& base_folder);

// Chooses and starts the installer for unpack folder `unpack_folder` and the
// offers' usable INF names: DPInst on their common folder when it exists and
// one of the INF files is there, else the setup search of run_setup_upwards.
void start_installer(const std::wstring& unpack_folder, const std::set<std::wstring>& inf_names,
                     const install_environment& environment, install_report& report);

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
// Runs DPInst on `folder` (`force` for a restore over a newer driver) and
// waits for it to end.
program_run launch_dpinst(const std::wstring& folder, bool force, const install_environment& environment);

// Tries run_package_setup in `unpack_folder` joined with the INF folder
// (relative, "a\b\" or empty), then in each of its parents up to the unpack
// folder itself; opens the unpack folder in Explorer when no program was
// found.
void run_setup_upwards(const std::wstring& unpack_folder, const std::wstring& inf_folder,
                       const install_environment& environment, install_report& report);

// Starts the folder's setup program, when signed (start_if_signed): its only
// program, else the first of "setup.exe" and "autorun.exe" in listing order,
// else a file named ".exe". 0 when a program was found (started or refused),
// -1 when none was found.
int run_package_setup(const std::wstring& folder, const install_environment& environment,
                      install_report& report);
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
