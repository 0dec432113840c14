// The weekly scheduled scan: a task that starts the program with "--autorun"
// once a week, on the weekday it was created, at the time of day one minute
// after its creation. Its name carries the user, "Quillmark (DOMAIN+user)",
// as the scheduler keeps one store for all users of the computer.
//
// Windows XP: a Task Scheduler 1.0 work item, switched through its trigger's
// flags and edited in the scheduler's own property sheet. Windows Vista and
// later: a Task Scheduler 2.0 task at the highest run level (the program
// requires administrator rights), switched through its Enabled setting and
// edited in the Task Scheduler console.
//
// The settings dialog drives these on the UI thread (COM initialised there).
// Every scheduler failure is silent: the operations only return false.
#pragma once

#include <windows.h>

#include <time.h>

#include <string>

class task_scheduler;

// The name earlier versions gave the weekly work item, one per computer; the
// start of the per-user name.
extern const wchar_t scheduled_task_name[];
// The weekly task's name for the logged-on user; empty when the account
// cannot be read.
std::wstring weekly_task_name();

// Creates and saves the weekly task, enabled, from the current local time.
// False on any failure, including a task of that name existing already
// (which is then left as it is).
bool create_scheduled_task();
// The same with `now` in place of the current time.
bool create_scheduled_task(__time64_t now);
// Switches the existing task on (`enabled`) or off and saves it. False on any
// failure, e.g. when there is no task.
bool enable_scheduled_task(bool enabled);
// Windows XP: opens the scheduler's own property sheet of the work item,
// modal over `owner`; true when it was shown and closed without error.
// Windows Vista and later: opens the Task Scheduler console, where the task
// is found under its name; true when the console was started.
bool edit_scheduled_task(HWND owner);

// Whether a task that an earlier version left under one name for the whole
// computer is this user's and starts this program (`program`, compared by
// file name) with `parameters`. An unknown account is nobody's.
bool earlier_task_is_ours(const std::wstring& application, const std::wstring& parameters,
                          const std::wstring& account, const std::wstring& program,
                          const std::wstring& expected_parameters);
// Deletes the task or work item `name` an earlier version left, when it is
// ours (see above; the program is module_path). True when one was deleted.
bool remove_earlier_task(task_scheduler& tasks, const std::wstring& name,
                         const std::wstring& parameters);
