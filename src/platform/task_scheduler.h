// The Windows Task Scheduler as the program uses it: work items of the Task
// Scheduler 1.0 interface with one trigger each, and, on Windows Vista and
// later, the Task Scheduler 2.0 step that raises a work item's run level.
//
// The program requires administrator rights. From Vista on, Windows starts an
// elevated program neither from the Run key at log-on nor from a 1.0 work
// item as it is saved; a work item whose run level is raised to the highest
// does start it. Both interfaces share one store on Windows, so a work item
// saved through 1.0 is found by 2.0 under "\NAME".
//
// Every operation reports success or failure only; callers treat failures as
// silent. Tests install their own scheduler to record the calls.
#pragma once

#include <windows.h>
#include <mstask.h>

#include <string>

// A work item as the program saves it: one program with its arguments and one
// trigger.
struct work_item {
    std::wstring name;         // the scheduler's name for it, e.g. "Quillmark"
    std::wstring application;  // full path of the program started
    std::wstring parameters;   // its arguments; may be empty
    std::wstring comment;
    DWORD flags = 0;       // TASK_FLAG_* of the work item
    std::wstring account;  // "COMPUTER\user", run without a password
    // True: the scheduler never ends the program. False: the scheduler's own
    // limit applies (72 hours for a new work item).
    bool unlimited_run_time = false;
    TASK_TRIGGER trigger = {};  // trigger 0
};

// Trigger of a weekly work item: from today (local time), first start one
// minute after `now`, every week on today's weekday. Flags 0 when enabled,
// TASK_TRIGGER_FLAG_DISABLED otherwise.
TASK_TRIGGER weekly_trigger(__time64_t now, bool enabled);
// Trigger that starts the program when the user logs on, valid from today.
TASK_TRIGGER logon_trigger(__time64_t now);
// The account a work item runs under: computer name, a backslash and the user
// name. False when either name cannot be read.
bool current_account(std::wstring& out);

class task_scheduler {
public:
    virtual ~task_scheduler() = default;

    // True on Windows Vista and later, where work items have run levels.
    virtual bool has_run_levels() = 0;
    // Creates the work item with its one trigger and saves it. False on any
    // failure, including a work item of that name existing already; a failure
    // half-way leaves what was done.
    virtual bool create_work_item(const work_item& item) = 0;
    // Replaces the flags of trigger 0 of an existing work item and saves it.
    virtual bool set_trigger_flags(const std::wstring& name, DWORD flags) = 0;
    // Shows the scheduler's property sheet of the work item, modal over owner.
    // True when it was shown and closed without error.
    virtual bool edit_work_item(const std::wstring& name, HWND owner) = 0;
    // Deletes the work item. True when it is gone, also when there was none.
    virtual bool delete_work_item(const std::wstring& name) = 0;
    // Sets the run level of the task "\name" to the highest and registers it
    // again (Task Scheduler 2.0). False before Vista and on any failure.
    virtual bool raise_run_level(const std::wstring& name) = 0;
};

// The scheduler in effect: the one installed by set_task_scheduler, else the
// machine's. UI thread only; each call of the machine's scheduler creates its
// own COM objects (COM initialised on the calling thread) and releases them.
task_scheduler& scheduler();
// Installs `replacement` (kept by the caller), or restores the machine's
// scheduler when null.
void set_task_scheduler(task_scheduler* replacement);
