#include "downloads/download_session.h"

#include <process.h>
#include <shlwapi.h>

#include <cstring>
#include <vector>

#include "app/settings.h"
#include "downloads/md5.h"
#include "platform/text.h"
#include "platform/worker_thread.h"

namespace {

std::vector<std::shared_ptr<download_session_c>> sessions;

// The size of an existing file, or -1 when there is none.
int64_t file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

uint32_t clamp_size(int64_t size) { return size > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(size); }

}  // namespace

std::wstring download_final_path(const wchar_t* folder, const char* link) {
    const char* slash = std::strrchr(link, '/');
    const char* segment = slash ? slash + 1 : link;
    const std::string digest = md5_hex(segment, std::strlen(segment));

    // The extension belongs to the last segment; one that held a folder
    // separator or a query string would not make a file name.
    std::string extension;
    if (const char* dot = std::strrchr(segment, '.')) {
        extension = dot;
        size_t end = extension.find_first_of("\\/:*?\"<>|", 1);
        if (end != std::string::npos) extension.resize(end);
        if (extension.size() == 1) extension.clear();
    }
    wchar_t path[MAX_PATH];
    if (!PathCombineW(path, folder, utf8_to_wide(digest).c_str())) return {};
    std::wstring result = path;
    result += extension.empty() ? std::wstring(L".exe") : ansi_to_wide(extension);
    return result;
}

download_session_c::download_session_c(const char* link, uint32_t expected_size) {
    copy_text(link_, link ? link : "");
    progress_.expected_size = expected_size;
    final_path_ = download_final_path(current_settings.session_download_path, link_);
    temporary_path_ = final_path_ + L".tmp";
    copy_text(worker_path_, temporary_path_);

    const int64_t partial = file_size(temporary_path_);
    const int64_t finished = file_size(final_path_);
    if (partial >= 0) {
        state_ = DOWNLOAD_PAUSED;
        progress_.bytes_so_far = clamp_size(partial);
    } else if (finished >= 0 && (expected_size == 0 || finished == expected_size)) {
        state_ = DOWNLOAD_COMPLETE;
        progress_.bytes_so_far = clamp_size(finished);
    }
    // A final file of another size belongs to another package whose link
    // ends in the same name: this one is not downloaded yet.
}

download_session_c::~download_session_c() { finish_worker(); }

unsigned __stdcall download_session_c::worker_entry(void* context) {
    auto* session = static_cast<download_session_c*>(context);
    session->worker_result_ =
        download_with_retries(session->link_, session->progress_, session->worker_path_);
    return 0;
}

bool download_session_c::start() {
    if (worker_) return true;
    const int64_t partial = file_size(temporary_path_);
    if (partial > 0) progress_.bytes_so_far = clamp_size(partial);
    progress_.stop_flag = 0;
    progress_.curl_code = 0;
    progress_.http_status = 0;
    uintptr_t thread = start_worker_thread(worker_entry, this);
    if (!thread) {
        state_ = DOWNLOAD_ERROR;
        return false;
    }
    worker_ = reinterpret_cast<HANDLE>(thread);
    state_ = DOWNLOAD_RUNNING;
    return true;
}

void download_session_c::stop() { progress_.stop_flag = 1; }

bool download_session_c::poll() {
    if (!worker_ || WaitForSingleObject(worker_, 0) != WAIT_OBJECT_0) return false;
    CloseHandle(worker_);
    worker_ = nullptr;
    if (progress_.stop_flag) {
        state_ = DOWNLOAD_PAUSED;
        progress_.stop_flag = 0;
    } else if (progress_.curl_code != 0 || progress_.bytes_so_far != progress_.expected_size) {
        state_ = DOWNLOAD_ERROR;
    } else {
        state_ = DOWNLOAD_COMPLETE;
        // A final file of the same name left by another package gives way.
        MoveFileExW(temporary_path_.c_str(), final_path_.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    return true;
}

bool download_session_c::remove() {
    const std::wstring* path = nullptr;
    if (state_ == DOWNLOAD_PAUSED || state_ == DOWNLOAD_ERROR) path = &temporary_path_;
    if (state_ == DOWNLOAD_COMPLETE) path = &final_path_;
    if (!path || !DeleteFileW(path->c_str())) return false;
    progress_.bytes_so_far = 0;
    state_ = DOWNLOAD_NOT_DOWNLOADED;
    return true;
}

void download_session_c::finish_worker() {
    if (!worker_) return;
    // A worker that has already ended keeps its outcome (a finished download
    // stays finished); a running one is stopped and becomes paused.
    if (WaitForSingleObject(worker_, 0) != WAIT_OBJECT_0) {
        stop();
        WaitForSingleObject(worker_, INFINITE);
    }
    poll();
}

download_session_c* get_download_session(const char* link, uint32_t expected_size) {
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
        if (session->state() == DOWNLOAD_RUNNING) return true;
    return false;
}

void clear_download_sessions() {
    // Every worker is asked first, so they wind down together.
    for (const auto& session : sessions) session->stop();
    for (const auto& session : sessions) session->finish_worker();
    sessions.clear();
}
