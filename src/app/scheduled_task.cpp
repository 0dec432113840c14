#include "app/scheduled_task.h"

#include "app/globals.h"
#include "platform/task_scheduler.h"

const wchar_t scheduled_task_name[] = L"Quillmark";

namespace {

// Raises the run level after a change saved through Task Scheduler 1.0 (the
// save leaves the work item at the lowest). Nothing to do before Vista.
void raise_after_change(task_scheduler& tasks) {
    if (tasks.has_run_levels()) tasks.raise_run_level(scheduled_task_name);
}

}  // namespace

bool create_scheduled_task() { return create_scheduled_task(_time64(nullptr)); }

bool create_scheduled_task(__time64_t now) {
    work_item item;
    item.name = scheduled_task_name;
    item.application = module_path;
    item.parameters = L"--autorun";
    item.comment = L"Quillmark automatically scan, keep your drivers up to date.";
    item.flags = TASK_FLAG_INTERACTIVE | TASK_FLAG_DONT_START_IF_ON_BATTERIES |
                 TASK_FLAG_KILL_IF_GOING_ON_BATTERIES | TASK_FLAG_RUN_ONLY_IF_LOGGED_ON;
    if (!current_account(item.account)) return false;
    // The scan it starts leaves the program running in the tray: the
    // scheduler's default limit would end it after 72 hours.
    item.unlimited_run_time = true;
    item.trigger = weekly_trigger(now, true);
    // A time that cannot be converted to local time leaves an empty trigger.
    if (item.trigger.cbTriggerSize == 0) return false;
    task_scheduler& tasks = scheduler();
    if (!tasks.create_work_item(item)) return false;
    raise_after_change(tasks);
    return true;
}

bool enable_scheduled_task(bool enabled) {
    task_scheduler& tasks = scheduler();
    if (!tasks.set_trigger_flags(scheduled_task_name, enabled ? 0 : TASK_TRIGGER_FLAG_DISABLED))
        return false;
    raise_after_change(tasks);
    return true;
}

bool edit_scheduled_task(HWND owner) {
    task_scheduler& tasks = scheduler();
    bool shown = tasks.edit_work_item(scheduled_task_name, owner);
    // The sheet saves what the user changed even when it ends with an error,
    // so the run level is raised again either way.
    raise_after_change(tasks);
    return shown;
}
