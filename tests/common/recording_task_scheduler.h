// A task scheduler for tests: keeps 1.0 work items and 2.0 tasks in memory
// the way Windows does (a name that is taken cannot be created again), records
// every change in order and can be told to fail a kind of call or to be a
// Windows before Vista (the 1.0 interface alone).
#pragma once

#include <stdio.h>
#include <time.h>
#include <tinyxml.h>

#include <map>
#include <string>
#include <vector>

#include "platform/task_scheduler.h"
#include "platform/text.h"

// The text of the element at `path` ("Settings/Enabled", below <Task>) in a
// task's XML, "<absent>" when there is none, "<unreadable>" for bad XML.
// An element without text reads as "".
inline std::string task_value(const std::wstring& xml, const char* path) {
    TiXmlDocument document;
    document.Parse(wide_to_utf8(xml).c_str());
    if (document.Error() || !document.RootElement()) return "<unreadable>";
    const TiXmlElement* at = document.RootElement();
    std::string rest = path;
    while (at && !rest.empty()) {
        std::size_t slash = rest.find('/');
        at = at->FirstChildElement(rest.substr(0, slash).c_str());
        rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
    }
    if (!at) return "<absent>";
    return at->GetText() ? at->GetText() : "";
}

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

// What Task Scheduler 2.0 stored for the task `name`: the XML file (UTF-8)
// in the system folder's "Tasks", which a 32-bit program on 64-bit Windows
// reaches through "Sysnative". Empty when there is none.
inline std::wstring read_task_file(const std::wstring& name) {
    wchar_t windows[MAX_PATH] = {}, system[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetSystemDirectoryW(system, MAX_PATH);
    FILE* file = _wfopen((std::wstring(windows) + L"\\Sysnative\\Tasks\\" + name).c_str(), L"rb");
    if (!file) file = _wfopen((std::wstring(system) + L"\\Tasks\\" + name).c_str(), L"rb");
    std::string bytes;
    for (int c; file && (c = fgetc(file)) != EOF;) bytes += static_cast<char>(c);
    if (file) fclose(file);
    return utf8_to_wide(bytes);
}

class recording_task_scheduler final : public task_scheduler {
public:
    struct stored_item {
        work_item item;
    };
    // A 2.0 task: what it was registered with, and what read_task answers
    // (empty application: nothing, as for a task without a program).
    struct registered_task {
        std::wstring xml;
        std::wstring user;
        bool enabled = true;
        task_summary seen;
    };

    bool run_levels = true;  // false: a Windows before Vista
    bool fail_create = false;
    bool fail_register = false;
    bool fail_delete = false;
    bool fail_set_trigger_flags = false;
    bool fail_edit = false;  // the property sheet ends with an error
    HWND edit_owner = nullptr;  // owner of the last property sheet
    // e.g. L"create NAME", L"register NAME", L"disable NAME", L"delete_task NAME"
    std::vector<std::wstring> calls;
    std::map<std::wstring, stored_item> items;
    std::map<std::wstring, registered_task> registered;

    // Installs itself for the lifetime of the object.
    recording_task_scheduler() { set_task_scheduler(this); }
    ~recording_task_scheduler() override { set_task_scheduler(nullptr); }
    recording_task_scheduler(const recording_task_scheduler&) = delete;
    recording_task_scheduler& operator=(const recording_task_scheduler&) = delete;

    bool has_run_levels() override { return run_levels; }

    bool create_work_item(const work_item& item) override {
        calls.push_back(L"create " + item.name);
        if (fail_create || items.count(item.name)) return false;
        items[item.name] = stored_item{item};
        return true;
    }

    bool set_trigger_flags(const std::wstring& name, DWORD flags) override {
        calls.push_back(L"set_trigger_flags " + name);
        auto found = items.find(name);
        if (fail_set_trigger_flags || found == items.end()) return false;
        found->second.item.trigger.rgFlags = flags;
        return true;
    }

    bool edit_work_item(const std::wstring& name, HWND owner) override {
        calls.push_back(L"edit " + name);
        auto found = items.find(name);
        if (found == items.end()) return false;
        edit_owner = owner;
        return !fail_edit;
    }

    bool delete_work_item(const std::wstring& name) override {
        calls.push_back(L"delete " + name);
        if (fail_delete) return false;
        items.erase(name);
        return true;
    }

    bool read_work_item(const std::wstring& name, task_summary& out) override {
        auto found = items.find(name);
        if (found == items.end()) return false;
        out = {found->second.item.application, found->second.item.parameters,
               found->second.item.account};
        return true;
    }

    bool register_task(const std::wstring& name, const std::wstring& xml,
                       const std::wstring& user) override {
        calls.push_back(L"register " + name);
        if (!run_levels || fail_register || xml.empty() || registered.count(name)) return false;
        registered[name] = registered_task{xml, user, true, {}};
        return true;
    }

    bool set_task_enabled(const std::wstring& name, bool enabled) override {
        calls.push_back((enabled ? L"enable " : L"disable ") + name);
        auto found = registered.find(name);
        if (!run_levels || found == registered.end()) return false;
        found->second.enabled = enabled;
        return true;
    }

    bool delete_task(const std::wstring& name) override {
        calls.push_back(L"delete_task " + name);
        if (!run_levels || fail_delete) return false;
        registered.erase(name);
        return true;
    }

    bool read_task(const std::wstring& name, task_summary& out) override {
        auto found = registered.find(name);
        if (!run_levels || found == registered.end() || found->second.seen.application.empty())
            return false;
        out = found->second.seen;
        return true;
    }
};
