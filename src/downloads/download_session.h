// Download sessions: one per package link, shared by every download-page row
// that shows the link, alive until the program ends. A session downloads its
// package on a worker thread into "<digest><ext>.tmp" in the download folder
// and, when every byte has come, renames it to "<digest><ext>"; the worker
// itself sets the outcome, so a session finishes whether or not a window
// watches it. An owner file, "<digest><ext>.link", names the link the files
// are of: what lies on disk at start-up gives a session its first state only
// when it is its own, so a download paused in an earlier run resumes where
// it stopped and another package's file of the same name is left alone.
// At most download_workers_max transfers run at once; the sessions started
// beyond them wait in order.
#pragma once

// libcurl's header brings winsock2.h, which must come before windows.h.
#include "service/http_client.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "downloads/download_names.h"

enum download_state : int {
    DOWNLOAD_NOT_DOWNLOADED = 1,
    DOWNLOAD_RUNNING = 2,
    DOWNLOAD_PAUSED = 3,
    DOWNLOAD_ERROR = 4,
    DOWNLOAD_COMPLETE = 5,
    // Started, waiting for one of the transfers that run at once to end.
    DOWNLOAD_QUEUED = 6,
};

// A link is kept to at most 1024 bytes.
constexpr std::size_t download_link_capacity = 1025;
// At most this many transfers run at once; further started sessions queue.
constexpr int download_workers_max = 4;
class download_session_c {
public:
    // Names the files and takes the first state from what lies on disk and
    // provably belongs to the link.
    download_session_c(const char* link, uint64_t expected_size);
    // Stops a running worker and waits for it.
    ~download_session_c();
    download_session_c(const download_session_c&) = delete;
    download_session_c& operator=(const download_session_c&) = delete;

    // Claims the files and starts the worker (state 2), or queues the
    // session (state 6) while download_workers_max transfers run. Nothing
    // happens while it runs or waits. False when it cannot start: its files
    // cannot be named or claimed (state 4), the thread did not start (state
    // 4), or the program is quitting (the state stays).
    bool start();
    // A running worker stops at its next progress callback; a queued
    // session leaves the queue and takes back the state it had.
    void stop();
    // True once the session neither runs nor waits: its state is the
    // outcome. The worker itself finishes the session (rename and state).
    bool poll() const { return !busy(); }
    bool busy() const;
    // Deletes the partial (3, 4) or finished (5) file; state 1 when that
    // worked. False in states 1, 2 and 6 or when the file could not be deleted.
    bool remove();
    // Leaves the queue, stops a running worker and waits until it has ended.
    void finish_worker();

    int state() const { return state_.load(); }
    const char* link() const { return link_; }
    // Read on the user-interface thread; they change only by Start, while
    // no worker runs.
    const std::wstring& temporary_path() const { return temporary_path_; }
    const std::wstring& final_path() const { return final_path_; }
    download_progress& progress() { return progress_; }
    // Whether the files at the paths are this session's (its owner file says so).
    bool owns_files() const { return owns_files_; }

private:
    friend struct download_queue;
    static unsigned __stdcall worker_entry(void* session);
    void use_paths(const std::wstring& final_path);
    bool claim_files();
    int outcome(int transfer_result);
    void launch();

    HANDLE worker_ = nullptr;  // guarded by the queue's lock
    char link_[download_link_capacity] = {};
    wchar_t worker_path_[MAX_PATH] = {};
    download_progress progress_;
    int32_t worker_result_ = 0;
    std::atomic<int> state_{DOWNLOAD_NOT_DOWNLOADED};
    int state_before_queue_ = DOWNLOAD_NOT_DOWNLOADED;
    bool owns_files_ = false;
    std::wstring temporary_path_;
    std::wstring final_path_;
};

// The session of `link` (compared byte for byte), made when there is none.
// The session list keeps it alive until clear_download_sessions. UI thread.
download_session_c* get_download_session(const char* link, uint64_t expected_size);
// True when any session is downloading or queued (state 2 or 6).
bool any_downloading();
// At quit: closes the queue (no transfer starts from now on; queued
// sessions take back their states), stops every worker, waits for each,
// then destroys the sessions. The queue opens again for a later session list.
void clear_download_sessions();
