// Worker threads: the scan's jobs, downloads, installations, backups and
// restores all start their threads here.
#pragma once

#include <cstdint>

// Starts `entry(argument)` on a new thread with the C runtime's thread start
// and returns its handle (as _beginthreadex does), or 0 when none started.
// The thread runs below normal priority: the user-interface thread, which
// must answer at once, comes first when the processors are busy. It is in a
// single-threaded COM apartment (COINIT_APARTMENTTHREADED |
// COINIT_DISABLE_OLE1DDE) while `entry` runs, as the shell's functions want
// their callers; `entry` must not end COM it did not start.
uintptr_t start_worker_thread(unsigned(__stdcall* entry)(void*), void* argument);
