#include "install/install.h"

#include <process.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "app/globals.h"
#include "app/settings.h"
#include "devices/system_info.h"
#include "install/zip_reader.h"
#include "platform/shell.h"
#include "platform/trust_check.h"
#include "platform/worker_thread.h"

namespace {

bool is_folder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The last part of a path ("a\b\drv.zip" -> "drv.zip").
std::wstring file_name_of(const std::wstring& path) {
    std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool is_link(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Empties the place of an unpack folder: what was there goes, an earlier
// unpack of another version or files planted by anyone who may write to the
// download folder. A folder that cannot be removed (a file of it in use) is
// moved aside and removed as far as it can be. A link in the folder's place
// is removed itself or refused, never moved: a rename may follow it.
bool clear_place(const std::wstring& folder) {
    if (is_link(folder)) return RemoveDirectoryW(folder.c_str()) != FALSE;
    if (delete_tree(folder)) return true;
    const std::wstring aside = folder + L".old";
    if (!delete_tree(aside) || !MoveFileExW(folder.c_str(), aside.c_str(), 0)) return false;
    delete_tree(aside);
    return true;
}

struct install_job {
    std::shared_ptr<install_request> request;
    install_environment environment;
};

// The packages being installed, upper-cased: Windows paths ignore case.
std::mutex claims_mutex;
std::set<std::wstring> claimed_packages;

std::wstring claim_key(const std::wstring& package_path) {
    std::wstring key = package_path;
    if (!key.empty()) CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

// One unpack at a time: two installations, or an installation and a
// restore, would otherwise clear each other's new folder. The flag stops
// them at quit.
std::mutex unpack_mutex;
std::atomic<bool> unpack_stop{false};
std::atomic<int> unpacks_waiting_or_running{0};

install_report report_of(install_outcome outcome, const std::wstring& file, std::wstring signer = {}) {
    install_report report;
    report.outcome = outcome;
    report.file = file;
    report.signer = std::move(signer);
    return report;
}

// The exit code of a program the shell ran, into the report.
void note_exit(const program_run& run, install_report& report) {
    report.exit_known = run.exit_known;
    report.exit_code = run.exit_known ? run.exit_code : 0;
}

unsigned __stdcall run_install_job(void* argument) {
    std::unique_ptr<install_job> job(static_cast<install_job*>(argument));
    install_task(*job->request, job->environment);
    return 0;
}

}  // namespace

std::wstring join_path(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    std::wstring out = folder;
    if (out.back() != L'\\' && out.back() != L'/') out += L'\\';
    std::size_t skip = 0;
    while (skip < name.size() && name[skip] == L'\\') ++skip;
    out.append(name, skip, std::wstring::npos);
    return out;
}

install_environment current_install_environment() {
    install_environment environment;
    environment.download_folder = current_settings.session_download_path;
    environment.program_folder = program_dir;
    environment.windows_64bit = is_64bit_windows();
    return environment;
}

int32_t install_task(install_request& request, const install_environment& environment) {
    request.report = {};
    int32_t result = install_package(request.package_path, request.inf_names, environment, request.report);
    if (result == -1 && request.report.outcome == install_outcome::none)
        result = open_package(request.package_path, environment, request.report);
    // Only an installation that worked hides its offer from later scans.
    if (installation_succeeded(judge_installation(request.report)) && !request.link.empty() &&
        !environment.installed_list.empty())
        record_installed_link(environment.installed_list, request.link);
    release_package(request.package_path);
    request.installing = 0;
    return result;
}

bool record_installed_link(const std::wstring& path, const std::string& link) {
    // Two installations may end at once: one line each, whole.
    static std::mutex one_writer;
    std::lock_guard<std::mutex> lock(one_writer);
    FILE* list = _wfopen(path.c_str(), L"a");
    if (!list) return false;
    const bool written = std::fprintf(list, "%s\n", link.c_str()) > 0;
    return std::fclose(list) == 0 && written;
}

install_verdict judge_installation(const install_report& report) {
    switch (report.outcome) {
    case install_outcome::none: return install_verdict::none;
    case install_outcome::folder_opened: return install_verdict::unknown;
    case install_outcome::program_refused:
    case install_outcome::type_refused:
    case install_outcome::unpack_failed: return install_verdict::refused;
    case install_outcome::program_started:
        if (!report.exit_known) return install_verdict::unknown;
        if (report.exit_code == 0) return install_verdict::installed;
        return report.exit_code == ERROR_SUCCESS_REBOOT_REQUIRED ? install_verdict::restart_needed
                                                                 : install_verdict::failed;
    case install_outcome::dpinst_started: {
        if (!report.exit_known) return install_verdict::unknown;
        const uint32_t flags = report.exit_code >> 24, failed = (report.exit_code >> 16) & 0xFF,
                       installed = report.exit_code & 0xFF;
        if ((flags & 0x80) || failed) return install_verdict::failed;
        if (installed == 0) return install_verdict::no_device_matched;
        return (flags & 0x40) ? install_verdict::restart_needed : install_verdict::installed;
    }
    }
    return install_verdict::none;
}

bool installation_succeeded(install_verdict verdict) {
    return verdict == install_verdict::installed || verdict == install_verdict::restart_needed;
}

bool claim_package(const std::wstring& package_path) {
    std::lock_guard<std::mutex> lock(claims_mutex);
    return claimed_packages.insert(claim_key(package_path)).second;
}

void release_package(const std::wstring& package_path) {
    std::lock_guard<std::mutex> lock(claims_mutex);
    claimed_packages.erase(claim_key(package_path));
}

bool package_installing(const std::wstring& package_path) {
    std::lock_guard<std::mutex> lock(claims_mutex);
    return claimed_packages.count(claim_key(package_path)) != 0;
}

bool installations_running() {
    std::lock_guard<std::mutex> lock(claims_mutex);
    return !claimed_packages.empty() || unpacks_waiting_or_running > 0;
}

void stop_unpacking() {
    unpack_stop = true;
    // The unpack that runs ends at its next piece; once this lock is had,
    // none runs, and every later one sees the flag.
    std::lock_guard<std::mutex> wait(unpack_mutex);
}

void resume_unpacking() { unpack_stop = false; }

std::wstring dpinst_log_path() {
    wchar_t folder[MAX_PATH + 1] = {};
    UINT n = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    const std::wstring in_windows = n > 0 && n < MAX_PATH ? join_path(folder, L"DPINST.LOG") : L"";
    n = GetTempPathW(MAX_PATH, folder);
    const std::wstring in_temp = n > 0 && n < MAX_PATH ? join_path(folder, L"DPINST.LOG") : L"";
    return !in_windows.empty() && (exists(in_windows) || in_temp.empty() || !exists(in_temp)) ? in_windows
                                                                                            : in_temp;
}

int32_t open_package(const std::wstring& package_path, const install_environment& environment,
                     install_report& report) {
    // Only programs and Windows Installer packages, and only signed ones: a
    // script, a shortcut or a document would be opened by whatever program
    // its type names, with administrator rights and unchecked.
    const wchar_t* extension = PathFindExtensionW(package_path.c_str());
    if (lstrcmpiW(extension, L".exe") != 0 && lstrcmpiW(extension, L".msi") != 0) {
        report = report_of(install_outcome::type_refused, package_path);
        return -1;
    }
    return static_cast<int32_t>(start_if_signed(package_path, environment, report));
}

intptr_t start_if_signed(const std::wstring& path, const install_environment& environment,
                         install_report& report) {
    // The file is held from its check until it has been started, shared for
    // reading only: nobody may replace what was checked in between.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    signature_verdict verdict;
    if (held != INVALID_HANDLE_VALUE) verdict = signature_check().check(path.c_str());
    intptr_t result = -1;
    if (verdict.trusted) {
        report = report_of(install_outcome::program_started, path, std::move(verdict.signer));
        const program_run run = shell().run_program(environment.owner, path.c_str(), nullptr, SW_SHOW);
        note_exit(run, report);
        result = run.code;
    } else {
        report = report_of(install_outcome::program_refused, path, std::move(verdict.signer));
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return result;
}

install_start start_install_job(std::shared_ptr<install_request> request, install_environment environment) {
    if (!request) return install_start::failed;
    if (!claim_package(request->package_path)) {
        request->installing = 0;
        return install_start::already_installing;
    }
    auto job = std::make_unique<install_job>();
    job->request = request;
    job->environment = std::move(environment);
    uintptr_t thread = start_worker_thread(run_install_job, job.get());
    if (!thread) {
        release_package(request->package_path);
        request->installing = 0;
        return install_start::failed;
    }
    job.release();  // the thread owns it now
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return install_start::started;
}

std::wstring make_unpack_folder(const std::wstring& file_path, const std::wstring& base_folder) {
    std::wstring name = file_name_of(file_path);
    std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.erase(dot);
    } else {
        name += L"_files";
    }
    std::wstring folder = join_path(base_folder, name);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);  // an existing folder is fine
    return folder;
}

int install_package(const std::wstring& package_path, const std::set<std::wstring>& inf_names,
                    const install_environment& environment, install_report& report) {
    std::wstring unpack_folder = make_unpack_folder(package_path, environment.download_folder);
    zip_reader reader;
    if (reader.open(package_path.c_str(), nullptr) != 0) return -1;
    if (unpack_into_fresh_folder(reader, unpack_folder) != 0) {
        report = report_of(install_outcome::unpack_failed, package_path);
        return -1;
    }
    reader.close();
    remove_web_pages(unpack_folder);
    start_installer(unpack_folder, usable_inf_names(inf_names), environment, report);
    return 0;
}

int unpack_into_fresh_folder(zip_reader& reader, const std::wstring& folder) {
    ++unpacks_waiting_or_running;
    struct counted {
        ~counted() { --unpacks_waiting_or_running; }
    } count;
    std::lock_guard<std::mutex> lock(unpack_mutex);
    if (unpack_stop) return UNPACK_STOPPED;
    // Beside the folder, so that the swap is a rename on one volume. A
    // leftover of a run that was cut short goes first; the new folder must
    // be made by this call, not found.
    const std::wstring fresh = folder + L".fresh";
    if (!delete_tree(fresh) || !CreateDirectoryW(fresh.c_str(), nullptr)) return UNPACK_NO_ROOM;
    reader.set_stop(&unpack_stop);
    int result = reader.extract_all(fresh, false, false);
    reader.set_stop(nullptr);
    if (result == 0 && (!clear_place(folder) || !MoveFileExW(fresh.c_str(), folder.c_str(), 0)))
        result = UNPACK_NO_ROOM;
    if (result != 0) delete_tree(fresh);
    return result;
}

bool delete_tree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!link && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(path.c_str()) != FALSE;
    if (!link) {
        for (const std::wstring& name : list_folder(path)) delete_tree(join_path(path, name));
    }
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

std::set<std::wstring> usable_inf_names(const std::set<std::wstring>& inf_names) {
    std::set<std::wstring> usable;
    for (const std::wstring& name : inf_names) {
        std::wstring path = safe_entry_path(name);
        if (!path.empty() && path.back() != L'\\') usable.insert(std::move(path));
    }
    return usable;
}

void start_installer(const std::wstring& unpack_folder, const std::set<std::wstring>& inf_names,
                     const install_environment& environment, install_report& report) {
    common_folder common = common_inf_folder(inf_names);
    std::wstring target = common.status < 0 ? unpack_folder + L'\\'
                                            : join_path(unpack_folder, common.folder);
    if (is_folder(target)) {
        for (const std::wstring& name : inf_names) {
            if (exists(join_path(unpack_folder, name))) {
                report = report_of(install_outcome::dpinst_started, target);
                note_exit(launch_dpinst(target, false, environment), report);
                if (report.exit_known) report.log = dpinst_log_path();
                return;
            }
        }
    }
    run_setup_upwards(unpack_folder, common.folder, environment, report);
}

common_folder common_inf_folder(const std::set<std::wstring>& inf_names) {
    common_folder result;
    if (inf_names.empty()) return result;
    std::wstring common = *inf_names.begin();
    for (const std::wstring& name : inf_names) {
        std::size_t n = 0;
        while (n < common.size() && n < name.size() && common[n] == name[n]) ++n;
        if (n < common.size() && n < name.size()) common.erase(n);
    }
    std::size_t separator = common.rfind(L'\\');
    if (separator == std::wstring::npos) return result;
    common.erase(separator + 1);
    result.status = 0;
    result.folder = common;
    return result;
}

std::wstring dpinst_arguments(const std::wstring& folder, bool force) {
    std::wstring quoted = folder;
    if (!quoted.empty() && quoted.back() == L'\\') quoted.pop_back();
    return (force ? L"/SH /F /PATH \"" : L"/SH /PATH \"") + quoted + L'"';
}

std::wstring dpinst_program(const install_environment& environment) {
    return join_path(environment.program_folder,
                     environment.windows_64bit ? L"DPInst64.exe" : L"DPInst32.exe");
}

program_run launch_dpinst(const std::wstring& folder, bool force, const install_environment& environment) {
    std::wstring program = dpinst_program(environment);
    std::wstring arguments = dpinst_arguments(folder, force);
    return shell().run_program(environment.owner, program.c_str(), arguments.c_str(), SW_SHOW);
}

void run_setup_upwards(const std::wstring& unpack_folder, const std::wstring& inf_folder,
                       const install_environment& environment, install_report& report) {
    std::wstring part = inf_folder;
    for (std::size_t cut = part.rfind(L'\\'); cut != std::wstring::npos; cut = part.rfind(L'\\')) {
        part.erase(cut);
        if (run_package_setup(join_path(unpack_folder, part), environment, report) == 0) return;
    }
    if (run_package_setup(unpack_folder, environment, report) != 0) {
        shell().open_folder(unpack_folder.c_str());
        report = report_of(install_outcome::folder_opened, unpack_folder);
    }
}

std::wstring choose_setup_program(const std::vector<std::wstring>& listing) {
    if (listing.size() == 1) return listing.front();
    for (const std::wstring& name : listing) {
        if (lstrcmpiW(name.c_str(), L"setup.exe") == 0 || lstrcmpiW(name.c_str(), L"autorun.exe") == 0) {
            return name;
        }
    }
    return {};
}

int run_package_setup(const std::wstring& folder, const install_environment& environment,
                      install_report& report) {
    std::wstring name = choose_setup_program(list_folder(join_path(folder, L"*.exe")));
    // A file named ".exe" itself: only reached when several programs were
    // listed and none of them is a setup or autorun program.
    std::wstring program = join_path(folder, name.empty() ? L".exe" : name);
    if (name.empty() && !exists(program)) return -1;
    start_if_signed(program, environment, report);
    return 0;
}

void remove_web_pages(const std::wstring& folder) {
    for (const std::wstring& name : list_folder(join_path(folder, L"*.htm"))) {
        DeleteFileW(join_path(folder, name).c_str());
    }
}

std::vector<std::wstring> list_folder(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    std::wstring search = is_folder(pattern) ? join_path(pattern, L"*.*") : pattern;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW(search.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(std::move(name));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}
