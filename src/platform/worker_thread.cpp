#include "platform/worker_thread.h"

#include <windows.h>

#include <objbase.h>
#include <process.h>

#include <new>

namespace {

struct worker_start {
    unsigned(__stdcall* entry)(void*);
    void* argument;
};

unsigned __stdcall run_worker(void* start_argument) {
    const worker_start start = *static_cast<worker_start*>(start_argument);
    delete static_cast<worker_start*>(start_argument);
    // The shell's functions (ShellExecuteW, ShellExecuteExW, Explorer's
    // windows) may hand the call to shell extensions made with COM, which
    // need the calling thread in a single-threaded apartment. Started here,
    // on every worker, and ended with the thread: S_FALSE (already started)
    // is ended too; RPC_E_CHANGED_MODE (another kind of apartment) is not
    // ours to end.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const unsigned code = start.entry(start.argument);
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}

}  // namespace

uintptr_t start_worker_thread(unsigned(__stdcall* entry)(void*), void* argument) {
    if (!entry) return 0;
    auto* start = new (std::nothrow) worker_start{entry, argument};
    if (!start) return 0;
    // Created suspended, so that not one instruction of the job runs at the
    // UI thread's priority.
    uintptr_t thread = _beginthreadex(nullptr, 0, run_worker, start, CREATE_SUSPENDED, nullptr);
    if (!thread) {
        delete start;
        return 0;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(thread);
    SetThreadPriority(handle, THREAD_PRIORITY_BELOW_NORMAL);
    ResumeThread(handle);
    return thread;
}
