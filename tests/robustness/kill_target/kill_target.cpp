// The program the kill tests end with TerminateProcess while it is in the
// middle of one of Quillmark's own operations, run with the program's code:
//
//   kill_target download LINK SIZE FOLDER
//       downloads LINK (SIZE bytes) into the download folder FOLDER
//   kill_target catalogue PROGRAM_FOLDER BACKUP_FOLDER DEVICES
//       loads "backup.xml" of PROGRAM_FOLDER, then records backups of the
//       archives it lists over and over, each of them saving the catalogue
//   kill_target install PACKAGE FOLDER
//       installs PACKAGE with FOLDER as the download folder (the launch of
//       an installer is only recorded)
//
// Each creates the file named by the environment variable KILL_TARGET_MARKER
// once its operation is under way. Exit code 0 when the operation ended well
// (the catalogue loop does not end), else 2 for bad arguments or 3.
// libcurl's header brings winsock2.h, which must come before windows.h.
#include <curl/curl.h>
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/settings.h"
#include "backup/catalogue.h"
#include "common/recording_shell.h"
#include "downloads/download_session.h"
#include "install/install.h"
#include "platform/text.h"
#include "robustness/kill_target/kill_devices.h"

namespace {

void mark_under_way() {
    wchar_t marker[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"KILL_TARGET_MARKER", marker, MAX_PATH)) return;
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

int download(const std::wstring& link, const std::wstring& size, const std::wstring& folder) {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return 3;
    copy_text(current_settings.session_download_path, folder);
    download_session_c* session =
        get_download_session(wide_to_ansi(link).c_str(), static_cast<uint32_t>(std::stoul(size)));
    if (!session->start()) return 3;
    mark_under_way();
    while (!session->poll()) Sleep(20);
    return session->state() == DOWNLOAD_COMPLETE ? 0 : 3;
}

int catalogue(const std::wstring& program, const std::wstring& backups, const std::wstring& devices) {
    static device_store store;
    fill_kill_devices(store, std::stoi(devices));
    app_device_store = &store;
    copy_text(program_dir, join_path(program, L""));
    copy_text(current_settings.backup_path, backups);
    if (load_catalogue() != 0) return 3;
    std::vector<std::wstring> archives;
    for (const backup_entry& entry : catalogue_snapshot())
        archives.push_back(join_path(backups, ansi_to_wide(entry.file)));
    if (archives.empty()) return 3;
    mark_under_way();
    for (std::size_t round = 0;; ++round) {
        // Each entry in turn, with one to three devices.
        std::vector<const device_record*> served;
        for (std::size_t d = 0; d <= round % 3; ++d)
            served.push_back(&store.devices[(round + d) % store.devices.size()]);
        if (record_backup(archives[round % archives.size()].c_str(), served) != 0) return 3;
    }
}

int install(const std::wstring& package, const std::wstring& folder) {
    recording_shell launches;  // an opened folder would start an Explorer that never ends
    install_environment environment;
    environment.download_folder = folder;
    environment.program_folder = folder;
    mark_under_way();
    install_report report;
    return install_package(package, {}, environment, report) == 0 ? 0 : 3;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LocalFree(argv);
    try {
        if (args[0] == L"download" && args.size() == 4) return download(args[1], args[2], args[3]);
        if (args[0] == L"catalogue" && args.size() == 4) return catalogue(args[1], args[2], args[3]);
        if (args[0] == L"install" && args.size() == 3) return install(args[1], args[2]);
    } catch (const std::exception&) {  // a number that is none
    }
    std::fprintf(stderr, "kill_target: unknown operation or arguments\n");
    return 2;
}
