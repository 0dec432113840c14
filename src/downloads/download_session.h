// Download sessions: one per package link, shared by every download-page row
// that shows the link, alive until the program ends. A session downloads its
// package on a worker thread into "<digest><ext>.tmp" in the download folder
// and, when every byte has come, renames it to "<digest><ext>". What lies on
// disk at start-up gives a session its first state, so a download paused in an
// earlier run resumes where it stopped.
#pragma once

// libcurl's header brings winsock2.h, which must come before windows.h.
#include "service/http_client.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

enum download_state : int {
    DOWNLOAD_NOT_DOWNLOADED = 1,
    DOWNLOAD_RUNNING = 2,
    DOWNLOAD_PAUSED = 3,
    DOWNLOAD_ERROR = 4,
    DOWNLOAD_COMPLETE = 5,
};

// A link is kept to at most 1024 bytes.
constexpr std::size_t download_link_capacity = 1025;

class download_session_c {
public:
    // Names the files and takes the first state from what lies on disk.
    download_session_c(const char* link, uint32_t expected_size);
    // Stops a running worker and waits for it.
    ~download_session_c();
    download_session_c(const download_session_c&) = delete;
    download_session_c& operator=(const download_session_c&) = delete;

    // Starts the worker (state 2) unless one exists. False when the thread
    // could not be started (the state is then 4).
    bool start();
    // Asks the worker to stop at its next progress callback.
    void stop();
    // Called from the row's timer while a worker exists: true when the worker
    // has ended, after the state has been set from its outcome.
    bool poll();
    // Deletes the partial (3, 4) or finished (5) file; state 1 when that
    // worked. False in states 1 and 2 or when the file could not be deleted.
    bool remove();
    // Stops the worker and waits until it has ended, then polls it.
    void finish_worker();

    bool has_worker() const { return worker_ != nullptr; }
    int state() const { return state_; }
    const char* link() const { return link_; }
    const std::wstring& temporary_path() const { return temporary_path_; }
    const std::wstring& final_path() const { return final_path_; }
    download_progress& progress() { return progress_; }

private:
    static unsigned __stdcall worker_entry(void* session);

    HANDLE worker_ = nullptr;
    char link_[download_link_capacity] = {};
    wchar_t worker_path_[MAX_PATH] = {};
    download_progress progress_;
    int32_t worker_result_ = 0;
    int state_ = DOWNLOAD_NOT_DOWNLOADED;
    std::wstring temporary_path_;
    std::wstring final_path_;
};

// The final path of a link's package in `folder`: the MD5 digest of the
// link's last path segment (ANSI bytes) as 32 lower-case hex digits, followed
// by the segment's extension, or ".exe" when it has none. Characters that
// cannot stand in a file name end the extension ("a.zip?x" gives ".zip").
std::wstring download_final_path(const wchar_t* folder, const char* link);

// The session of `link` (compared byte for byte), made when there is none.
// The session list keeps it alive until clear_download_sessions. UI thread.
download_session_c* get_download_session(const char* link, uint32_t expected_size);
// True when any session is downloading (state 2).
bool any_downloading();
// At quit: stops every worker, waits for each, then destroys the sessions.
void clear_download_sessions();
