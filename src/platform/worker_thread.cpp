#include "platform/worker_thread.h"

#include <windows.h>

#include <process.h>

uintptr_t start_worker_thread(unsigned(__stdcall* entry)(void*), void* argument) {
    // Created suspended, so that not one instruction of the job runs at the
    // UI thread's priority.
    uintptr_t thread = _beginthreadex(nullptr, 0, entry, argument, CREATE_SUSPENDED, nullptr);
    if (!thread) return 0;
    HANDLE handle = reinterpret_cast<HANDLE>(thread);
    SetThreadPriority(handle, THREAD_PRIORITY_BELOW_NORMAL);
    ResumeThread(handle);
    return thread;
}
