#include "downloads/download_session.h"

#include <process.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "app/settings.h"
#include "downloads/md5.h"
#include "platform/text.h"
#include "platform/worker_thread.h"

namespace {

constexpr std::size_t digest_length = 32;
constexpr std::size_t owner_suffix_length = sizeof(download_owner_suffix) / sizeof(wchar_t) - 1;

// The size of an existing file, or -1 when there is none.
int64_t file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The extension of a link's last segment as a file name can carry it.
std::wstring link_extension(const char* segment) {
    std::string extension;
    if (const char* dot = std::strrchr(segment, '.')) {
        extension = dot;
        size_t end = extension.find_first_of("\\/:*?\"<>|", 1);
        if (end != std::string::npos) extension.resize(end);
    }
    std::wstring wide = ansi_to_wide(extension);
    if (wide.size() > download_extension_longest) wide.resize(download_extension_longest);
    // Windows drops trailing dots and blanks from a name: the partial and
    // final names would not stay apart.
    while (!wide.empty() && (wide.back() == L'.' || wide.back() == L' ')) wide.pop_back();
    return wide.empty() ? std::wstring(L".exe") : wide;
}

// folder\<digest><extension>, or empty when it and its owner file's name do
// not fit in MAX_PATH.
std::wstring package_path(const wchar_t* folder, const std::string& digest, const std::wstring& extension) {
    wchar_t path[MAX_PATH];
    if (!folder || !PathCombineW(path, folder, utf8_to_wide(digest).c_str())) return {};
    std::wstring result = path;
    result += extension;
    if (result.size() + owner_suffix_length >= MAX_PATH) return {};
    return result;
}

const char* last_segment(const char* link) {
    const char* slash = std::strrchr(link, '/');
    return slash ? slash + 1 : link;
}

// The link an owner file names; nothing when there is no readable one.
std::optional<std::string> read_owner(const std::wstring& final_path) {
    HANDLE file = CreateFileW(download_owner_path(final_path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    char text[download_link_capacity + 1];
    DWORD read = 0;
    const bool ok = ReadFile(file, text, sizeof(text), &read, nullptr) != FALSE;
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return std::string(text, read);
}

bool write_owner(const std::wstring& final_path, const char* link) {
    HANDLE file = CreateFileW(download_owner_path(final_path).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const DWORD length = static_cast<DWORD>(std::strlen(link));
    DWORD written = 0;
    const bool ok = WriteFile(file, link, length, &written, nullptr) && written == length;
    CloseHandle(file);
    if (!ok) DeleteFileW(download_owner_path(final_path).c_str());
    return ok;
}

}  // namespace

// Transfers that run and sessions that wait for one. A worker that ends
// starts the next waiting session itself, so the queue moves on whether or
// not any window looks at it.
struct download_queue {
    std::mutex lock;
    std::deque<download_session_c*> waiting;
    int running = 0;
    bool closed = false;

    // With the lock held.
    void launch_waiting() {
        while (!closed && running < download_workers_max && !waiting.empty()) {
            download_session_c* next = waiting.front();
            waiting.pop_front();
            next->launch();
        }
    }
    // With the lock held: takes a waiting session out, back in its earlier state.
    void leave(download_session_c* session) {
        auto at = std::find(waiting.begin(), waiting.end(), session);
        if (at == waiting.end()) return;
        waiting.erase(at);
        session->state_.store(session->state_before_queue_);
    }
};

namespace {
download_queue queue;
// After the queue: destroyed before it, as sessions use it.
std::vector<std::shared_ptr<download_session_c>> sessions;
}  // namespace

std::wstring download_final_path(const wchar_t* folder, const char* link) {
    const char* segment = last_segment(link);
    return package_path(folder, md5_hex(segment, std::strlen(segment)), link_extension(segment));
}

std::wstring download_alternative_path(const wchar_t* folder, const char* link) {
    return package_path(folder, md5_hex(link, std::strlen(link)), link_extension(last_segment(link)));
}

std::wstring download_owner_path(const std::wstring& final_path) {
    return final_path + download_owner_suffix;
}

std::size_t download_folder_longest(const wchar_t* folder) {
    // folder + "\" (unless it ends in one) + digest + extension + suffix < MAX_PATH.
    const std::size_t name = digest_length + download_extension_longest + owner_suffix_length;
    const std::size_t separator = folder && folder[0] && folder[lstrlenW(folder) - 1] == L'\\' ? 0 : 1;
    return MAX_PATH - 1 - name - separator;
}

bool download_folder_fits(const wchar_t* folder) {
    return folder && static_cast<std::size_t>(lstrlenW(folder)) <= download_folder_longest(folder);
}

download_session_c::download_session_c(const char* link, uint64_t expected_size) {
    copy_text(link_, link ? link : "");
    progress_.expected_size = expected_size;
    const wchar_t* folder = current_settings.session_download_path;

    // The files are this link's only where an owner file names it: a file
    // of the same name may be another package's whose link ends alike, or
    // one an earlier version left without saying whose it is.
    std::wstring owned;
    for (const std::wstring& path : {download_final_path(folder, link_), download_alternative_path(folder, link_)}) {
        if (path.empty()) continue;
        const std::optional<std::string> owner = read_owner(path);
        if (owner && *owner == link_) {
            owned = path;
            break;
        }
    }
    owns_files_ = !owned.empty();
    use_paths(owns_files_ ? owned : download_final_path(folder, link_));
    if (!owns_files_) return;

    const int64_t partial = file_size(temporary_path_);
    const int64_t finished = file_size(final_path_);
    if (partial >= 0) {
        state_ = DOWNLOAD_PAUSED;
        progress_.bytes_so_far = static_cast<uint64_t>(partial);
    } else if (finished >= 0 && (expected_size == 0 || static_cast<uint64_t>(finished) == expected_size)) {
        state_ = DOWNLOAD_COMPLETE;
        progress_.bytes_so_far = static_cast<uint64_t>(finished);
    }
}

download_session_c::~download_session_c() { finish_worker(); }

void download_session_c::use_paths(const std::wstring& final_path) {
    final_path_ = final_path;
    temporary_path_ = final_path.empty() ? std::wstring() : final_path + download_partial_suffix;
    copy_text(worker_path_, temporary_path_);
}

// Chooses the files the download goes to: this link's own, else the
// specified name unless it belongs to another link (another session of this
// run, or an owner file naming another link whose files are there), else
// the alternative name on the same terms. A name taken anew gets its owner
// file; whatever lies there is not this session's.
bool download_session_c::claim_files() {
    const wchar_t* folder = current_settings.session_download_path;
    for (const std::wstring& path : {download_final_path(folder, link_), download_alternative_path(folder, link_)}) {
        if (path.empty()) return false;
        bool taken = false;
        for (const auto& other : sessions)
            taken = taken || (other.get() != this && other->owns_files_ && other->final_path_ == path);
        if (taken) continue;
        const std::optional<std::string> owner = read_owner(path);
        if (owner && *owner != link_ &&
            (file_size(path) >= 0 || file_size(path + download_partial_suffix) >= 0))
            continue;
        if (!write_owner(path, link_)) return false;
        use_paths(path);
        owns_files_ = true;
        return true;
    }
    return false;
}

unsigned __stdcall download_session_c::worker_entry(void* context) {
    auto* session = static_cast<download_session_c*>(context);
    session->worker_result_ =
        download_with_retries(session->link_, session->progress_, session->worker_path_);
    const int state = session->outcome(session->worker_result_);
    std::lock_guard<std::mutex> hold(queue.lock);
    session->state_.store(state);
    --queue.running;
    queue.launch_waiting();
    return 0;
}

// On the worker, once the transfer has ended: the package is complete only
// when every byte came and it lies under its final name.
int download_session_c::outcome(int transfer_result) {
    const bool stopped = progress_.stop_flag != 0;
    progress_.stop_flag = 0;
    const bool whole = transfer_result == 0 && progress_.curl_code == 0 &&
                       progress_.bytes_so_far == progress_.expected_size;
    if (!whole) return stopped ? DOWNLOAD_PAUSED : DOWNLOAD_ERROR;
    // A final file of the same name left by an earlier version gives way.
    if (!MoveFileExW(temporary_path_.c_str(), final_path_.c_str(), MOVEFILE_REPLACE_EXISTING))
        return DOWNLOAD_ERROR;
    return DOWNLOAD_COMPLETE;
}

// With the queue's lock held.
void download_session_c::launch() {
    if (worker_) {
        // The last worker has set its outcome; it is at most returning.
        WaitForSingleObject(worker_, INFINITE);
        CloseHandle(worker_);
        worker_ = nullptr;
    }
    state_.store(DOWNLOAD_RUNNING);
    uintptr_t thread = start_worker_thread(worker_entry, this);
    if (!thread) {
        state_.store(DOWNLOAD_ERROR);
        return;
    }
    worker_ = reinterpret_cast<HANDLE>(thread);
    ++queue.running;
}

bool download_session_c::busy() const {
    const int state = state_.load();
    return state == DOWNLOAD_RUNNING || state == DOWNLOAD_QUEUED;
}

bool download_session_c::start() {
    if (busy()) return true;
    if (owns_files_) {
        const int64_t partial = file_size(temporary_path_);
        if (partial > 0) progress_.bytes_so_far = static_cast<uint64_t>(partial);
    } else {
        if (!claim_files()) {
            state_.store(DOWNLOAD_ERROR);
            return false;
        }
        // A file found under a name just taken is never appended to.
        progress_.bytes_so_far = 0;
    }
    progress_.stop_flag = 0;
    progress_.curl_code = 0;
    progress_.http_status = 0;

    std::lock_guard<std::mutex> hold(queue.lock);
    if (queue.closed) return false;
    if (queue.running < download_workers_max && queue.waiting.empty()) {
        launch();
        return state_.load() == DOWNLOAD_RUNNING;
    }
    state_before_queue_ = state_.load();
    queue.waiting.push_back(this);
    state_.store(DOWNLOAD_QUEUED);
    return true;
}

void download_session_c::stop() {
    std::lock_guard<std::mutex> hold(queue.lock);
    if (state_.load() == DOWNLOAD_QUEUED)
        queue.leave(this);
    else
        progress_.stop_flag = 1;
}

bool download_session_c::remove() {
    const int state = state_.load();
    const std::wstring* path = nullptr;
    if (state == DOWNLOAD_PAUSED || state == DOWNLOAD_ERROR) path = &temporary_path_;
    if (state == DOWNLOAD_COMPLETE) path = &final_path_;
    if (!path || path->empty() || !DeleteFileW(path->c_str())) return false;
    // With neither file left the name is free for another link.
    if (file_size(temporary_path_) < 0 && file_size(final_path_) < 0) {
        DeleteFileW(download_owner_path(final_path_).c_str());
        owns_files_ = false;
    }
    progress_.bytes_so_far = 0;
    state_.store(DOWNLOAD_NOT_DOWNLOADED);
    return true;
}

void download_session_c::finish_worker() {
    HANDLE worker = nullptr;
    {
        std::lock_guard<std::mutex> hold(queue.lock);
        queue.leave(this);
        if (state_.load() == DOWNLOAD_RUNNING) progress_.stop_flag = 1;
        worker = worker_;
        worker_ = nullptr;
    }
    if (!worker) return;
    // A worker that has already ended keeps its outcome (a finished download
    // stays finished); a running one is stopped and becomes paused.
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
}

download_session_c* get_download_session(const char* link, uint64_t expected_size) {
    // Sessions keep at most 1024 bytes of their link: so does the key.
    char key[download_link_capacity];
    copy_text(key, link ? link : "");
    for (const auto& session : sessions)
        if (std::strcmp(session->link(), key) == 0) return session.get();
    sessions.push_back(std::make_shared<download_session_c>(key, expected_size));
    return sessions.back().get();
}

bool any_downloading() {
    for (const auto& session : sessions)
        if (session->busy()) return true;
    return false;
}

void clear_download_sessions() {
    {
        std::lock_guard<std::mutex> hold(queue.lock);
        queue.closed = true;
        while (!queue.waiting.empty()) queue.leave(queue.waiting.front());
    }
    // Every worker is asked first, so they wind down together.
    for (const auto& session : sessions) session->stop();
    for (const auto& session : sessions) session->finish_worker();
    sessions.clear();
    std::lock_guard<std::mutex> hold(queue.lock);
    queue.closed = false;
}
