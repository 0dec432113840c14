#include "platform/task_scheduler.h"

#include <objbase.h>
#include <oleauto.h>
#include <taskschd.h>
#define SECURITY_WIN32
#include <secext.h>
#include <time.h>
#include <wchar.h>

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

// The root folder of Task Scheduler 2.0 on this computer.
bool open_root_folder(com_ref<ITaskFolder>& folder) {
    com_ref<ITaskService> service;
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITaskService, service.out_void())))
        return false;
    VARIANT none;
    VariantInit(&none);
    if (FAILED(service->Connect(none, none, none, none))) return false;
    bstr root(L"\\");
    return SUCCEEDED(service->GetFolder(root.get(), folder.out()));
}

// The definition of the task "\name" in the root folder, and that folder.
bool open_task_definition(const std::wstring& name, com_ref<ITaskFolder>& folder,
                          com_ref<ITaskDefinition>& definition) {
    if (!open_root_folder(folder)) return false;
    bstr path(L"\\" + name);
    com_ref<IRegisteredTask> task;
    if (FAILED(folder->GetTask(path.get(), task.out()))) return false;
    return SUCCEEDED(task->get_Definition(definition.out()));
}

// A text handed out by Task Scheduler 1.0, freed with CoTaskMemFree.
std::wstring take_co_text(LPWSTR text) {
    std::wstring out = text ? text : L"";
    CoTaskMemFree(text);
    return out;
}

std::wstring take_bstr(bstr& text) { return text.get() ? std::wstring(text.get()) : std::wstring(); }

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

    bool read_work_item(const std::wstring& name, task_summary& out) override {
        com_ref<ITask> task;
        if (!activate(name, task)) return false;
        LPWSTR text = nullptr;
        if (FAILED(task->GetApplicationName(&text))) return false;
        out.application = take_co_text(text);
        text = nullptr;
        if (FAILED(task->GetParameters(&text))) return false;
        out.parameters = take_co_text(text);
        text = nullptr;
        // A work item without an account, or a scheduler that keeps none.
        out.account = SUCCEEDED(task->GetAccountInformation(&text)) ? take_co_text(text) : L"";
        return true;
    }

    bool register_task(const std::wstring& name, const std::wstring& xml,
                       const std::wstring& user) override {
        if (xml.empty() || user.empty()) return false;
        com_ref<ITaskFolder> folder;
        if (!open_root_folder(folder)) return false;
        bstr path(L"\\" + name);
        // Not every scheduler refuses TASK_CREATE over an existing task: ask
        // first, so an existing task always stays as it is.
        {
            com_ref<IRegisteredTask> existing;
            if (SUCCEEDED(folder->GetTask(path.get(), existing.out()))) return false;
        }
        bstr text(xml);
        bstr account(user);
        VARIANT user_variant, none;
        VariantInit(&user_variant);
        VariantInit(&none);
        user_variant.vt = VT_BSTR;
        user_variant.bstrVal = account.get();  // still owned by `account`
        com_ref<IRegisteredTask> registered;
        return SUCCEEDED(folder->RegisterTask(path.get(), text.get(), TASK_CREATE, user_variant,
                                              none, TASK_LOGON_INTERACTIVE_TOKEN, none,
                                              registered.out()));
    }

    bool set_task_enabled(const std::wstring& name, bool enabled) override {
        com_ref<ITaskFolder> folder;
        com_ref<ITaskDefinition> definition;
        if (!open_task_definition(name, folder, definition)) return false;
        com_ref<ITaskSettings> settings;
        if (FAILED(definition->get_Settings(settings.out()))) return false;
        if (FAILED(settings->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE))) return false;
        // Registered again for the same user and the same kind of log-on.
        TASK_LOGON_TYPE logon = TASK_LOGON_INTERACTIVE_TOKEN;
        bstr user;
        com_ref<IPrincipal> principal;
        if (SUCCEEDED(definition->get_Principal(principal.out())) && principal) {
            principal->get_LogonType(&logon);
            principal->get_UserId(user.out());
        }
        VARIANT user_variant, none;
        VariantInit(&user_variant);
        VariantInit(&none);
        if (user.get() && *user.get()) {
            user_variant.vt = VT_BSTR;
            user_variant.bstrVal = user.get();  // still owned by `user`
        }
        bstr path(L"\\" + name);
        com_ref<IRegisteredTask> registered;
        return SUCCEEDED(folder->RegisterTaskDefinition(path.get(), definition.get(), TASK_UPDATE,
                                                        user_variant, none, logon, none,
                                                        registered.out()));
    }

    bool delete_task(const std::wstring& name) override {
        com_ref<ITaskFolder> folder;
        if (!open_root_folder(folder)) return false;
        bstr path(L"\\" + name);
        HRESULT result = folder->DeleteTask(path.get(), 0);
        return SUCCEEDED(result) || result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
               result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }

    bool read_task(const std::wstring& name, task_summary& out) override {
        com_ref<ITaskFolder> folder;
        com_ref<ITaskDefinition> definition;
        if (!open_task_definition(name, folder, definition)) return false;
        com_ref<IActionCollection> actions;
        if (FAILED(definition->get_Actions(actions.out()))) return false;
        com_ref<IAction> action;
        if (FAILED(actions->get_Item(1, action.out())) || !action) return false;
        com_ref<IExecAction> exec;
        if (FAILED(action->QueryInterface(IID_IExecAction, exec.out_void()))) return false;
        bstr application, parameters, user;
        if (FAILED(exec->get_Path(application.out()))) return false;
        exec->get_Arguments(parameters.out());
        out.application = take_bstr(application);
        out.parameters = take_bstr(parameters);
        com_ref<IPrincipal> principal;
        if (SUCCEEDED(definition->get_Principal(principal.out())) && principal)
            principal->get_UserId(user.out());
        out.account = take_bstr(user);
        return true;
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

bool computer_and_user(std::wstring& out) {
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

bool current_account(std::wstring& out) {
    wchar_t name[512] = {};
    ULONG size = 512;  // characters, terminator included
    if (!GetUserNameExW(NameSamCompatible, name, &size) || size >= 512) return false;
    name[size] = L'\0';
    if (name[0] == L'\0') return false;
    out = name;
    return true;
}

std::wstring per_user_task_name(const std::wstring& base, const std::wstring& account) {
    std::wstring name = base + L" (";
    for (wchar_t c : account) {
        if (c == L'\\')
            name += L'+';
        else if (c < 0x20 || wcschr(L"/:*?\"<>|", c))
            name += L'_';
        else
            name += c;
    }
    return name + L")";
}

namespace {

// Appends `text` with XML's five special characters escaped. False when it
// holds a character XML 1.0 cannot carry (controls other than tab and line
// breaks, U+FFFE, U+FFFF).
bool append_escaped(std::wstring& out, const std::wstring& text) {
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&apos;"; break;
        default:
            if ((c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') || c == 0xFFFE ||
                c == 0xFFFF)
                return false;
            out += c;
        }
    }
    return true;
}

bool append_element(std::wstring& out, const wchar_t* name, const std::wstring& text) {
    out += L"<";
    out += name;
    out += L">";
    if (!append_escaped(out, text)) return false;
    out += L"</";
    out += name;
    out += L">";
    return true;
}

// The weekly trigger as a calendar trigger; empty for an impossible date or
// no weekday.
std::wstring calendar_trigger(const TASK_TRIGGER& t) {
    static const wchar_t* const days[] = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                          L"Thursday", L"Friday", L"Saturday"};
    const WORD day_bits = t.Type.Weekly.rgfDaysOfTheWeek & 0x7F;
    if (day_bits == 0 || t.wBeginYear < 1601 || t.wBeginYear > 9999 || t.wBeginMonth < 1 ||
        t.wBeginMonth > 12 || t.wBeginDay < 1 || t.wBeginDay > 31 || t.wStartHour > 23 ||
        t.wStartMinute > 59)
        return L"";
    wchar_t start[32];
    swprintf(start, 32, L"%04u-%02u-%02uT%02u:%02u:00", unsigned(t.wBeginYear),
             unsigned(t.wBeginMonth), unsigned(t.wBeginDay), unsigned(t.wStartHour),
             unsigned(t.wStartMinute));
    std::wstring out = L"<CalendarTrigger><StartBoundary>";
    out += start;
    out += L"</StartBoundary><Enabled>true</Enabled><ScheduleByWeek><DaysOfWeek>";
    for (int d = 0; d < 7; ++d)
        if (day_bits & (1u << d)) out += std::wstring(L"<") + days[d] + L" />";
    out += L"</DaysOfWeek><WeeksInterval>";
    out += std::to_wstring(t.Type.Weekly.WeeksInterval ? t.Type.Weekly.WeeksInterval : 1);
    out += L"</WeeksInterval></ScheduleByWeek></CalendarTrigger>";
    return out;
}

}  // namespace

std::wstring task_xml(const task_definition& d) {
    std::wstring x =
        L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
        L"<RegistrationInfo>";
    if (!append_element(x, L"Description", d.description)) return L"";
    x += L"</RegistrationInfo><Triggers>";
    if (d.trigger.TriggerType == TASK_EVENT_TRIGGER_AT_LOGON) {
        x += L"<LogonTrigger><Enabled>true</Enabled>";
        if (!append_element(x, L"UserId", d.user)) return L"";
        x += L"</LogonTrigger>";
    } else if (d.trigger.TriggerType == TASK_TIME_TRIGGER_WEEKLY) {
        std::wstring weekly = calendar_trigger(d.trigger);
        if (weekly.empty()) return L"";
        x += weekly;
    } else {
        return L"";
    }
    x += L"</Triggers><Principals><Principal id=\"Author\">";
    if (!append_element(x, L"UserId", d.user)) return L"";
    // The program requires administrator rights: without the highest run
    // level Windows does not start it at all.
    x += L"<LogonType>InteractiveToken</LogonType><RunLevel>HighestAvailable</RunLevel>"
         L"</Principal></Principals><Settings>"
         // A start while the program runs (left in the tray by the last one)
         // is how a running program is asked to scan: it must not be
         // skipped as a second instance of the task.
         L"<MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>"
         // The program stays in the tray: neither batteries nor time end it.
         L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
         L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
         L"<IdleSettings><StopOnIdleEnd>false</StopOnIdleEnd>"
         L"<RestartOnIdle>false</RestartOnIdle></IdleSettings>"
         L"<AllowStartOnDemand>true</AllowStartOnDemand>";
    x += d.enabled ? L"<Enabled>true</Enabled>" : L"<Enabled>false</Enabled>";
    x += L"<Hidden>false</Hidden><RunOnlyIfIdle>false</RunOnlyIfIdle>"
         L"<ExecutionTimeLimit>PT0S</ExecutionTimeLimit></Settings><Actions Context=\"Author\"><Exec>";
    if (!append_element(x, L"Command", d.application)) return L"";
    if (!d.arguments.empty() && !append_element(x, L"Arguments", d.arguments)) return L"";
    x += L"</Exec></Actions></Task>";
    return x;
}

task_scheduler& scheduler() {
    task_scheduler* s = scheduler_in_use.load();
    return s ? *s : machine_scheduler;
}

void set_task_scheduler(task_scheduler* replacement) { scheduler_in_use.store(replacement); }
