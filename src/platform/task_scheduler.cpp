#include "platform/task_scheduler.h"

#include <objbase.h>
#include <oleauto.h>
#include <taskschd.h>
#include <time.h>

#include <atomic>

#include "platform/com_ref.h"

namespace {

// A BSTR that is freed.
class bstr {
public:
    explicit bstr(const std::wstring& text)
        : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    bstr() = default;
    ~bstr() { SysFreeString(b_); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    BSTR get() const { return b_; }
    BSTR* out() { return &b_; }

private:
    BSTR b_ = nullptr;
};

bool local_time(__time64_t t, tm& out) { return _localtime64_s(&out, &t) == 0; }

TASK_TRIGGER trigger_from_today(const tm& today) {
    TASK_TRIGGER t = {};
    t.cbTriggerSize = sizeof(TASK_TRIGGER);
    t.wBeginYear = static_cast<WORD>(today.tm_year + 1900);
    t.wBeginMonth = static_cast<WORD>(today.tm_mon + 1);
    t.wBeginDay = static_cast<WORD>(today.tm_mday);
    return t;
}

HRESULT open_scheduler(com_ref<ITaskScheduler>& out) {
    return CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                            IID_ITaskScheduler, reinterpret_cast<void**>(out.out()));
}

// The stored work item `name`; false when there is none.
bool activate(const std::wstring& name, com_ref<ITask>& task) {
    com_ref<ITaskScheduler> scheduler;
    return SUCCEEDED(open_scheduler(scheduler)) &&
           SUCCEEDED(scheduler->Activate(name.c_str(), IID_ITask, task.out_unknown()));
}

bool save(ITask* task) {
    com_ref<IPersistFile> file;
    if (FAILED(task->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.out()))))
        return false;
    return SUCCEEDED(file->Save(nullptr, TRUE));
}

class windows_task_scheduler final : public task_scheduler {
public:
    bool has_run_levels() override {
        OSVERSIONINFOEXW wanted = {};
        wanted.dwOSVersionInfoSize = sizeof(wanted);
        wanted.dwMajorVersion = 6;
        DWORDLONG condition = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
        return VerifyVersionInfoW(&wanted, VER_MAJORVERSION, condition) != FALSE;
    }

    bool create_work_item(const work_item& item) override {
        com_ref<ITaskScheduler> scheduler;
        if (FAILED(open_scheduler(scheduler))) return false;
        // Windows refuses a name that is taken, some schedulers overwrite the
        // work item instead: ask first, so an existing item always stays.
        {
            com_ref<ITask> existing;
            if (SUCCEEDED(scheduler->Activate(item.name.c_str(), IID_ITask,
                                              existing.out_unknown())))
                return false;
        }
        com_ref<ITask> task;
        if (FAILED(scheduler->NewWorkItem(item.name.c_str(), CLSID_CTask, IID_ITask,
                                          task.out_unknown())))
            return false;
        if (FAILED(task->SetApplicationName(item.application.c_str())) ||
            FAILED(task->SetComment(item.comment.c_str())) ||
            FAILED(task->SetParameters(item.parameters.c_str())) ||
            FAILED(task->SetFlags(item.flags)))
            return false;
        if (item.unlimited_run_time && FAILED(task->SetMaxRunTime(INFINITE))) return false;
        if (FAILED(task->SetAccountInformation(item.account.c_str(), nullptr))) return false;
        WORD index = 0;
        com_ref<ITaskTrigger> trigger;
        if (FAILED(task->CreateTrigger(&index, trigger.out()))) return false;
        TASK_TRIGGER data = item.trigger;
        data.cbTriggerSize = sizeof(TASK_TRIGGER);
        if (FAILED(trigger->SetTrigger(&data))) return false;
        return save(task.get());
    }

    bool set_trigger_flags(const std::wstring& name, DWORD flags) override {
        com_ref<ITask> task;
        if (!activate(name, task)) return false;
        com_ref<ITaskTrigger> trigger;
        if (FAILED(task->GetTrigger(0, trigger.out()))) return false;
        TASK_TRIGGER data = {};
        data.cbTriggerSize = sizeof(TASK_TRIGGER);
        if (FAILED(trigger->GetTrigger(&data))) return false;
        data.rgFlags = flags;
        if (FAILED(trigger->SetTrigger(&data))) return false;
        return save(task.get());
    }

    bool edit_work_item(const std::wstring& name, HWND owner) override {
        com_ref<ITask> task;
        if (!activate(name, task)) return false;
        return SUCCEEDED(task->EditWorkItem(owner, 0));
    }

    bool delete_work_item(const std::wstring& name) override {
        com_ref<ITaskScheduler> scheduler;
        if (FAILED(open_scheduler(scheduler))) return false;
        HRESULT result = scheduler->Delete(name.c_str());
        return SUCCEEDED(result) || result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
               result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }

    bool raise_run_level(const std::wstring& name) override {
        if (!has_run_levels()) return false;
        com_ref<ITaskService> service;
        if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskService, reinterpret_cast<void**>(service.out()))))
            return false;
        VARIANT none;
        VariantInit(&none);
        if (FAILED(service->Connect(none, none, none, none))) return false;
        bstr root(L"\\");
        com_ref<ITaskFolder> folder;
        if (FAILED(service->GetFolder(root.get(), folder.out()))) return false;
        bstr path(L"\\" + name);
        com_ref<IRegisteredTask> task;
        if (FAILED(folder->GetTask(path.get(), task.out()))) return false;
        com_ref<ITaskDefinition> definition;
        if (FAILED(task->get_Definition(definition.out()))) return false;
        com_ref<IPrincipal> principal;
        if (FAILED(definition->get_Principal(principal.out()))) return false;
        if (FAILED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST))) return false;
        // Registered again for the same user and the same kind of log-on
        // that the work item has now.
        TASK_LOGON_TYPE logon = TASK_LOGON_INTERACTIVE_TOKEN;
        if (FAILED(principal->get_LogonType(&logon))) return false;
        bstr user;
        VARIANT user_variant;
        VariantInit(&user_variant);
        if (SUCCEEDED(principal->get_UserId(user.out())) && user.get() && *user.get()) {
            user_variant.vt = VT_BSTR;
            user_variant.bstrVal = user.get();  // still owned by `user`
        }
        com_ref<IRegisteredTask> registered;
        return SUCCEEDED(folder->RegisterTaskDefinition(path.get(), definition.get(), TASK_UPDATE,
                                                        user_variant, none, logon, none,
                                                        registered.out()));
    }
};

windows_task_scheduler machine_scheduler;
std::atomic<task_scheduler*> scheduler_in_use{nullptr};

}  // namespace

TASK_TRIGGER weekly_trigger(__time64_t now, bool enabled) {
    tm today = {}, start = {};
    if (!local_time(now, today) || !local_time(now + 60, start)) return TASK_TRIGGER{};
    TASK_TRIGGER t = trigger_from_today(today);
    t.wStartHour = static_cast<WORD>(start.tm_hour);
    t.wStartMinute = static_cast<WORD>(start.tm_min);
    t.TriggerType = TASK_TIME_TRIGGER_WEEKLY;
    t.Type.Weekly.WeeksInterval = 1;
    t.Type.Weekly.rgfDaysOfTheWeek = static_cast<WORD>(1u << today.tm_wday);
    t.rgFlags = enabled ? 0 : TASK_TRIGGER_FLAG_DISABLED;
    return t;
}

TASK_TRIGGER logon_trigger(__time64_t now) {
    tm today = {};
    if (!local_time(now, today)) return TASK_TRIGGER{};
    TASK_TRIGGER t = trigger_from_today(today);
    t.TriggerType = TASK_EVENT_TRIGGER_AT_LOGON;
    return t;
}

bool current_account(std::wstring& out) {
    wchar_t computer[300] = {};
    DWORD computer_size = 300;  // characters, terminator included
    wchar_t user[300] = {};
    DWORD user_size = 300;
    if (!GetComputerNameW(computer, &computer_size) || !GetUserNameW(user, &user_size))
        return false;
    computer[299] = L'\0';
    user[299] = L'\0';
    out = computer;
    out += L'\\';
    out += user;
    return true;
}

task_scheduler& scheduler() {
    task_scheduler* s = scheduler_in_use.load();
    return s ? *s : machine_scheduler;
}

void set_task_scheduler(task_scheduler* replacement) { scheduler_in_use.store(replacement); }
