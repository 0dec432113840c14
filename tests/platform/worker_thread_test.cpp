// Worker threads start below normal priority, so that the user-interface
// thread comes first when the processors are busy.
#include "platform/worker_thread.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

namespace {

struct seen {
    int priority = THREAD_PRIORITY_ERROR_RETURN;
    int runs = 0;
};

unsigned __stdcall record_priority(void* argument) {
    auto* s = static_cast<seen*>(argument);
    s->priority = GetThreadPriority(GetCurrentThread());
    ++s->runs;
    return 7;
}

TEST(WorkerThread, RunsItsJobOnceBelowNormalPriority) {
    seen s;
    const uintptr_t thread = start_worker_thread(record_priority, &s);
    ASSERT_NE(thread, 0u);
    HANDLE handle = reinterpret_cast<HANDLE>(thread);
    ASSERT_EQ(WaitForSingleObject(handle, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(handle, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(handle);
    // From its first instruction on.
    EXPECT_EQ(s.priority, THREAD_PRIORITY_BELOW_NORMAL);
    EXPECT_EQ(s.runs, 1);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
}

// A worker is in a single-threaded apartment, as the shell wants its
// callers; the starting thread's COM stays as it was.
std::string com_state() {  // probed without changing it
    const HRESULT probe = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(probe)) CoUninitialize();
    return probe == S_OK ? "none" : probe == S_FALSE ? "apartment" : "other";
}
unsigned __stdcall note_com(void* seen) { return *static_cast<std::string*>(seen) = com_state(), 0; }

TEST(WorkerThread, RunsInASingleThreadedApartmentOfItsOwn) {
    std::string seen;
    HANDLE thread = reinterpret_cast<HANDLE>(start_worker_thread(note_com, &seen));
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(seen + "/" + com_state(), "apartment/none");
}

}  // namespace
