#include "backup/detached_worker.h"

#include <process.h>

#include "platform/worker_thread.h"

detached_worker::~detached_worker() {
    if (thread_) CloseHandle(thread_);
}

unsigned __stdcall detached_worker::entry(void* argument) {
    // The thread's own reference: the job outlives the holder if need be.
    std::unique_ptr<std::shared_ptr<job>> own(static_cast<std::shared_ptr<job>*>(argument));
    (*own)->result = (*own)->run();
    return 0;
}

bool detached_worker::start(std::function<int32_t()> run) {
    if (thread_) return false;
    job_ = std::make_shared<job>();
    job_->run = std::move(run);
    auto* reference = new std::shared_ptr<job>(job_);
    uintptr_t thread = start_worker_thread(entry, reference);
    if (!thread) {
        delete reference;
        return false;
    }
    thread_ = reinterpret_cast<HANDLE>(thread);
    return true;
}

bool detached_worker::collect() {
    if (!thread_ || WaitForSingleObject(thread_, 0) != WAIT_OBJECT_0) return false;
    CloseHandle(thread_);
    thread_ = nullptr;
    return true;
}

void detached_worker::wait() {
    if (thread_ && WaitForSingleObject(thread_, INFINITE) == WAIT_OBJECT_0) collect();
}
