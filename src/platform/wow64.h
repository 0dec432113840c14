// The file-system redirection of a 32-bit program on 64-bit Windows: its
// System32 paths lead to SysWOW64, where no driver package is kept. The
// driver store and the INF folder are read with redirection off.
#pragma once

// Turns redirection off for the calling thread while it lives, and back on
// when it goes, on the same thread. Nothing happens for a 64-bit program, on
// 32-bit Windows, or on a Windows without the functions (looked up at run
// time in kernel32: XP SP3 32-bit has them, older ones may not).
//
// While one lives, the thread must touch no file but the ones it is meant
// for: in particular no DLL may be loaded (first calls into delay-loaded
// DLLs included), as the 64-bit System32 would be searched.
class native_system_folder_scope {
public:
    native_system_folder_scope();
    ~native_system_folder_scope();
    native_system_folder_scope(const native_system_folder_scope&) = delete;
    native_system_folder_scope& operator=(const native_system_folder_scope&) = delete;

    // Whether redirection was on and is now off for this scope.
    bool turned_off() const { return turned_off_; }

private:
    void* previous_ = nullptr;
    bool turned_off_ = false;
};
