// A task scheduler for tests: keeps work items in memory the way Windows does
// (a name that is taken cannot be created again), records every call in order
// and can be told to fail a kind of call or to be a Windows without run levels.
// Like Windows, a work item saved again through Task Scheduler 1.0 (a trigger
// change, the property sheet) is back at the lowest run level.
#pragma once

#include <time.h>

#include <map>
#include <string>
#include <vector>

#include "platform/task_scheduler.h"

// A moment given in local time, as the scheduler's triggers count it.
inline __time64_t local_moment(int year, int month, int day, int hour, int minute, int second = 0) {
    tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return _mktime64(&t);
}

class recording_task_scheduler final : public task_scheduler {
public:
    struct stored_item {
        work_item item;
        bool raised = false;  // run level set to the highest
    };

    bool run_levels = true;  // false: a Windows before Vista
    bool fail_create = false;
    bool fail_raise = false;
    bool fail_set_trigger_flags = false;
    bool fail_edit = false;  // the property sheet ends with an error
    HWND edit_owner = nullptr;  // owner of the last property sheet
    std::vector<std::wstring> calls;  // e.g. L"create Quillmark", L"raise Quillmark"
    std::map<std::wstring, stored_item> items;

    // Installs itself for the lifetime of the object.
    recording_task_scheduler() { set_task_scheduler(this); }
    ~recording_task_scheduler() override { set_task_scheduler(nullptr); }
    recording_task_scheduler(const recording_task_scheduler&) = delete;
    recording_task_scheduler& operator=(const recording_task_scheduler&) = delete;

    bool has_run_levels() override { return run_levels; }

    bool create_work_item(const work_item& item) override {
        calls.push_back(L"create " + item.name);
        if (fail_create || items.count(item.name)) return false;
        items[item.name] = stored_item{item, false};
        return true;
    }

    bool set_trigger_flags(const std::wstring& name, DWORD flags) override {
        calls.push_back(L"set_trigger_flags " + name);
        auto found = items.find(name);
        if (fail_set_trigger_flags || found == items.end()) return false;
        found->second.item.trigger.rgFlags = flags;
        found->second.raised = false;
        return true;
    }

    bool edit_work_item(const std::wstring& name, HWND owner) override {
        calls.push_back(L"edit " + name);
        auto found = items.find(name);
        if (found == items.end()) return false;
        edit_owner = owner;
        found->second.raised = false;  // the sheet may have saved
        return !fail_edit;
    }

    bool delete_work_item(const std::wstring& name) override {
        calls.push_back(L"delete " + name);
        items.erase(name);
        return true;
    }

    bool raise_run_level(const std::wstring& name) override {
        calls.push_back(L"raise " + name);
        auto found = items.find(name);
        if (!run_levels || fail_raise || found == items.end()) return false;
        found->second.raised = true;
        return true;
    }
};
