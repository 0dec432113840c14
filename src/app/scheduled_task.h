// The weekly scheduled scan: the Task Scheduler 1.0 work item "Quillmark"
// that starts the program with "--autorun" once a week, on the weekday it was
// created, at the time of day one minute after its creation.
//
// The settings dialog drives these on the UI thread (COM initialised there).
// Every scheduler failure is silent: the operations only return false. On
// Windows Vista and later each change saved through Task Scheduler 1.0 is
// followed by raising the work item's run level to the highest, without which
// Windows does not start the program (it requires elevation) from the item;
// a failed raise does not change the result.
#pragma once

#include <windows.h>

#include <time.h>

// The scheduler's name of the weekly work item.
extern const wchar_t scheduled_task_name[];

// Creates and saves the work item with its weekly trigger, enabled, from the
// current local time. False on any failure, including a work item of that
// name existing already (which is then left as it is).
bool create_scheduled_task();
// The same with `now` in place of the current time.
bool create_scheduled_task(__time64_t now);
// Switches trigger 0 of the existing work item on (`enabled`) or off and
// saves it. False on any failure, e.g. when there is no work item.
bool enable_scheduled_task(bool enabled);
// Opens the scheduler's own property sheet of the work item, modal over
// `owner`. True when it was shown and closed without error.
bool edit_scheduled_task(HWND owner);
