// A worker thread that its page may abandon. The job (and whatever context
// its function holds) is shared by the holder and the thread, so whichever
// of the two ends last frees it: a page destroyed while its worker runs
// never leaves the worker writing into freed memory.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class detached_worker {
public:
    detached_worker() = default;
    // Forgets the thread without waiting for it.
    ~detached_worker();
    detached_worker(const detached_worker&) = delete;
    detached_worker& operator=(const detached_worker&) = delete;

    // Runs `job` on a new thread. False when no thread could be started.
    bool start(std::function<int32_t()> job);
    // A thread was started and has not been collected yet.
    bool holds_thread() const { return thread_ != nullptr; }
    // True when the held thread has ended; the handle is then closed and
    // forgotten and result() holds the job's result.
    bool collect();
    // Waits for the held thread to end, then collects it.
    void wait();
    int32_t result() const { return job_ ? job_->result.load() : 0; }

private:
    struct job {
        std::function<int32_t()> run;
        std::atomic<int32_t> result{0};
    };
    static unsigned __stdcall entry(void* argument);

    HANDLE thread_ = nullptr;
    std::shared_ptr<job> job_;
};
