// The Windows Task Scheduler as the program uses it.
//
// Windows XP keeps work items of the Task Scheduler 1.0 interface (mstask):
// one program with its arguments and one trigger each.
//
// From Windows Vista on, the program makes its tasks through Task Scheduler
// 2.0 (ITaskService) from a task definition in the scheduler's XML form:
// the program requires administrator rights, and Windows starts it from a task
// only when the task asks for the highest run level, which a 1.0 work item
// cannot do. Both interfaces share one store per machine on Windows, so the
// names the program gives carry the user's name.
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
    std::wstring name;         // the scheduler's name for it
    std::wstring application;  // full path of the program started
    std::wstring parameters;   // its arguments; may be empty
    std::wstring comment;
    DWORD flags = 0;       // TASK_FLAG_* of the work item
    std::wstring account;  // the user's "DOMAIN\user", run without a password
    // True: the scheduler never ends the program. False: the scheduler's own
    // limit applies (72 hours for a new work item).
    bool unlimited_run_time = false;
    TASK_TRIGGER trigger = {};  // trigger 0
};

// A Task Scheduler 2.0 task of the program: it starts one program at log-on
// of its user or weekly, for that user only, with the highest run level.
struct task_definition {
    std::wstring description;
    std::wstring user;         // "DOMAIN\user"
    std::wstring application;  // full path of the program started
    std::wstring arguments;    // may be empty
    // TASK_EVENT_TRIGGER_AT_LOGON (a log-on of `user`) or
    // TASK_TIME_TRIGGER_WEEKLY (from the begin date and start time, local
    // time, every WeeksInterval weeks on rgfDaysOfTheWeek). Other fields are
    // not used.
    TASK_TRIGGER trigger = {};
    bool enabled = true;
};

// The text of `definition` in the Task Scheduler's XML form (schema version
// 1.2, i.e. Task Scheduler 2.0): its trigger, an interactive log-on of the
// user at the highest run level, allowed to start and to go on on batteries,
// no time limit, one Exec action. Empty when a text holds a character XML
// cannot carry or the trigger is of another type.
std::wstring task_xml(const task_definition& definition);

// What the scheduler says of an existing task or work item: what it starts
// and for whom (`account` empty when the scheduler does not tell).
struct task_summary {
    std::wstring application;
    std::wstring parameters;
    std::wstring account;
};

// Trigger of a weekly work item: from today (local time), first start one
// minute after `now`, every week on today's weekday. Flags 0 when enabled,
// TASK_TRIGGER_FLAG_DISABLED otherwise.
TASK_TRIGGER weekly_trigger(__time64_t now, bool enabled);
// Trigger that starts the program when the user logs on, valid from today.
TASK_TRIGGER logon_trigger(__time64_t now);
// The logged-on user's account as the scheduler names it, "DOMAIN\user"
// (the SAM-compatible name; for a local account DOMAIN is the computer).
// False when it cannot be read.
bool current_account(std::wstring& out);
// The account as earlier versions named it: computer name, a backslash and
// the user name, also for a domain account. False when it cannot be read.
bool computer_and_user(std::wstring& out);
// `base` followed by the account in brackets, the backslash and any
// character a task name cannot hold replaced: "Quillmark (CORP+alice)".
std::wstring per_user_task_name(const std::wstring& base, const std::wstring& account);

class task_scheduler {
public:
    virtual ~task_scheduler() = default;

    // True on Windows Vista and later, where the program's tasks are made
    // through Task Scheduler 2.0.
    virtual bool has_run_levels() = 0;

    // Task Scheduler 1.0 (Windows XP).
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
    // What the work item starts and for whom. False when there is none.
    virtual bool read_work_item(const std::wstring& name, task_summary& out) = 0;

    // Task Scheduler 2.0 (Windows Vista and later), tasks in the root folder.
    // Registers the task "\name" from its XML for `user` (interactive
    // log-on). False on any failure, including a task of that name existing.
    virtual bool register_task(const std::wstring& name, const std::wstring& xml,
                               const std::wstring& user) = 0;
    // Switches the existing task on or off (its settings' Enabled).
    virtual bool set_task_enabled(const std::wstring& name, bool enabled) = 0;
    // Deletes the task. True when it is gone, also when there was none.
    virtual bool delete_task(const std::wstring& name) = 0;
    // What the task's first action starts and the user it runs for. False
    // when there is no such task or it starts no program.
    virtual bool read_task(const std::wstring& name, task_summary& out) = 0;
};

// The scheduler in effect: the one installed by set_task_scheduler, else the
// machine's. UI thread only; each call of the machine's scheduler creates its
// own COM objects (COM initialised on the calling thread) and releases them.
task_scheduler& scheduler();
// Installs `replacement` (kept by the caller), or restores the machine's
// scheduler when null.
void set_task_scheduler(task_scheduler* replacement);
