#include "app/scheduled_task.h"

#include <shlwapi.h>
#include <wchar.h>

#include "app/globals.h"
#include "platform/shell.h"
#include "platform/task_scheduler.h"

const wchar_t scheduled_task_name[] = L"Quillmark";

namespace {

const wchar_t weekly_comment[] = L"Quillmark automatically scan, keep your drivers up to date.";
const wchar_t weekly_argument[] = L"--autorun";

// A path as a scheduler may hand it back: without surrounding quotes.
std::wstring unquoted(const std::wstring& path) {
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
        return path.substr(1, path.size() - 2);
    return path;
}

bool same_text(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// The console in which the user edits the program's tasks on Vista and later.
std::wstring task_console_path() {
    wchar_t folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return L"";
    if (!PathAppendW(folder, L"taskschd.msc")) return L"";
    return folder;
}

}  // namespace

std::wstring weekly_task_name() {
    std::wstring account;
    if (!current_account(account)) return L"";
    return per_user_task_name(scheduled_task_name, account);
}

bool earlier_task_is_ours(const std::wstring& application, const std::wstring& parameters,
                          const std::wstring& account, const std::wstring& program,
                          const std::wstring& expected_parameters) {
    if (account.empty()) return false;
    std::wstring mine, earlier_form;
    bool known = false;
    if (current_account(mine)) known = same_text(account, mine);
    if (!known && computer_and_user(earlier_form)) known = same_text(account, earlier_form);
    if (!known) return false;
    std::wstring started = unquoted(application);
    if (started.empty() || program.empty()) return false;
    return same_text(PathFindFileNameW(started.c_str()), PathFindFileNameW(program.c_str())) &&
           same_text(parameters, expected_parameters);
}

bool remove_earlier_task(task_scheduler& tasks, const std::wstring& name,
                         const std::wstring& parameters) {
    task_summary found;
    if (tasks.has_run_levels()) {
        // On Vista and later the 2.0 interface sees the old work items too.
        return tasks.read_task(name, found) &&
               earlier_task_is_ours(found.application, found.parameters, found.account,
                                    module_path, parameters) &&
               tasks.delete_task(name);
    }
    return tasks.read_work_item(name, found) &&
           earlier_task_is_ours(found.application, found.parameters, found.account, module_path,
                                parameters) &&
           tasks.delete_work_item(name);
}

bool create_scheduled_task() { return create_scheduled_task(_time64(nullptr)); }

bool create_scheduled_task(__time64_t now) {
    std::wstring account;
    if (!current_account(account)) return false;
    const TASK_TRIGGER trigger = weekly_trigger(now, true);
    // A time that cannot be converted to local time leaves an empty trigger.
    if (trigger.cbTriggerSize == 0) return false;
    const std::wstring name = per_user_task_name(scheduled_task_name, account);
    task_scheduler& tasks = scheduler();
    // The one weekly item an earlier version kept for the whole computer
    // would go on running beside this one.
    remove_earlier_task(tasks, scheduled_task_name, weekly_argument);

    if (tasks.has_run_levels()) {
        task_definition task;
        task.description = weekly_comment;
        task.user = account;
        task.application = module_path;
        task.arguments = weekly_argument;
        task.trigger = trigger;
        return tasks.register_task(name, task_xml(task), account);
    }
    work_item item;
    item.name = name;
    item.application = module_path;
    item.parameters = weekly_argument;
    item.comment = weekly_comment;
    // Not ended when the computer goes on batteries: the program stays in
    // the tray after the scan, and ending it would lose a running download.
    item.flags = TASK_FLAG_INTERACTIVE | TASK_FLAG_DONT_START_IF_ON_BATTERIES |
                 TASK_FLAG_RUN_ONLY_IF_LOGGED_ON;
    item.account = account;
    // The scheduler's default limit would end it after 72 hours.
    item.unlimited_run_time = true;
    item.trigger = trigger;
    return tasks.create_work_item(item);
}

bool enable_scheduled_task(bool enabled) {
    std::wstring name = weekly_task_name();
    if (name.empty()) return false;
    task_scheduler& tasks = scheduler();
    // An earlier version's weekly item gives way to this user's task, which
    // then takes the state asked for.
    if (remove_earlier_task(tasks, scheduled_task_name, weekly_argument)) create_scheduled_task();
    if (tasks.has_run_levels()) return tasks.set_task_enabled(name, enabled);
    return tasks.set_trigger_flags(name, enabled ? 0 : TASK_TRIGGER_FLAG_DISABLED);
}

bool edit_scheduled_task(HWND owner) {
    task_scheduler& tasks = scheduler();
    if (!tasks.has_run_levels()) {
        std::wstring name = weekly_task_name();
        return !name.empty() && tasks.edit_work_item(name, owner);
    }
    // The property sheet exists only for 1.0 work items.
    const std::wstring console = task_console_path();
    return !console.empty() &&
           shell().start_program(owner, console.c_str(), nullptr, SW_SHOWNORMAL) > 32;
}
