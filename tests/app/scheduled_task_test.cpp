// The weekly scheduled scan: what its task holds on Vista and later and its
// work item on Windows XP, how it is switched and edited, and how an earlier
// version's item for the whole computer gives way, first through the
// recording scheduler, then as Wine's Task Scheduler stores it.
#include "app/scheduled_task.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <wchar.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/globals.h"
#include "common/job_file.h"
#include "common/recording_shell.h"
#include "common/recording_task_scheduler.h"
#include "platform/task_scheduler.h"
#include "platform/text.h"

namespace {

using calls_t = std::vector<std::wstring>;

const wchar_t COMMENT[] = L"Quillmark automatically scan, keep your drivers up to date.";
const wchar_t PROGRAM[] = L"C:\\Program Files\\Quillmark\\quillmark.exe";

// Wednesday 9 December 2026, 17:45 local time.
const __time64_t WEDNESDAY = local_moment(2026, 12, 9, 17, 45);

// Runs with module_path set to PROGRAM and puts it back afterwards.
class ScheduledTaskBase : public ::testing::Test {
protected:
    void SetUp() override {
        wcsncpy_s(saved_, MAX_PATH, module_path, _TRUNCATE);
        wcsncpy_s(module_path, MAX_PATH, PROGRAM, _TRUNCATE);
    }
    void TearDown() override { wcsncpy_s(module_path, MAX_PATH, saved_, _TRUNCATE); }

private:
    wchar_t saved_[MAX_PATH] = {};
};

class ScheduledTask : public ScheduledTaskBase {
protected:
    recording_task_scheduler tasks;  // in place of the machine's scheduler
    const std::wstring name = weekly_task_name();
    std::wstring account;

    void SetUp() override {
        ScheduledTaskBase::SetUp();
        ASSERT_TRUE(current_account(account));
        ASSERT_EQ(name, per_user_task_name(L"Quillmark", account));
    }
    const recording_task_scheduler::stored_item& stored() { return tasks.items.at(name); }
    const recording_task_scheduler::registered_task& task() { return tasks.registered.at(name); }
};

TEST_F(ScheduledTask, OnVistaATaskOfTheUserAtTheHighestRunLevelIsRegisteredOnce) {
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    EXPECT_EQ(tasks.calls, calls_t{L"register " + name});
    EXPECT_EQ(task().user, account);
    EXPECT_EQ(task_value(task().xml, "Principals/Principal/UserId"), wide_to_utf8(account));
    EXPECT_EQ(task_value(task().xml, "Actions/Exec/Arguments"), "--autorun");

    // Checked again: refused, the task keeps its schedule; then switched.
    EXPECT_FALSE(create_scheduled_task(WEDNESDAY + 86400));
    EXPECT_EQ(task_value(task().xml, "Triggers/CalendarTrigger/StartBoundary"), "2026-12-09T17:46:00");
    ASSERT_TRUE(enable_scheduled_task(false));
    EXPECT_FALSE(task().enabled);
    ASSERT_TRUE(enable_scheduled_task(true));
    EXPECT_TRUE(task().enabled);
    EXPECT_EQ(tasks.calls, (calls_t{L"register " + name, L"register " + name, L"disable " + name,
                                    L"enable " + name}));
    EXPECT_TRUE(tasks.items.empty());  // nothing through Task Scheduler 1.0

    // The editor is the Task Scheduler console, over the dialog.
    recording_shell shell;
    EXPECT_TRUE(edit_scheduled_task(nullptr));
    wchar_t console[MAX_PATH] = {};
    GetSystemDirectoryW(console, MAX_PATH);
    wcscat_s(console, L"\\taskschd.msc");
    EXPECT_EQ(shell.calls(), (std::vector<recording_shell::call>{{L"program", console, L""}}));

    tasks.registered.clear();
    tasks.fail_register = true;
    EXPECT_FALSE(create_scheduled_task(WEDNESDAY));
}

// Earlier versions kept one weekly item "Quillmark" for the whole computer:
// it goes when it is this user's and starts this program with "--autorun".
TEST_F(ScheduledTask, EarlierWeeklyItemGivesWayOnlyWhenItIsOurs) {
    std::wstring earlier_account;
    ASSERT_TRUE(computer_and_user(earlier_account));
    struct {
        const wchar_t* account;
        const wchar_t* application;
        const wchar_t* parameters;
        bool ours;
    } cases[] = {
        {earlier_account.c_str(), L"C:\\Old\\QUILLMARK.EXE", L"--autorun", true},
        {account.c_str(), L"\"C:\\Program Files\\Quillmark\\quillmark.exe\"", L"--AUTORUN", true},
        {L"OTHERPC\\bob", PROGRAM, L"--autorun", false},
        {L"", PROGRAM, L"--autorun", false},
        {account.c_str(), L"C:\\Tools\\other.exe", L"--autorun", false},
        {account.c_str(), PROGRAM, L"--autorun --evil", false},
    };
    for (bool vista : {true, false}) {
        for (const auto& c : cases) {
            recording_task_scheduler machine;  // in place of `tasks` for this case
            machine.run_levels = vista;
            machine.registered[L"Quillmark"].seen = {c.application, c.parameters, c.account};
            machine.items[L"Quillmark"].item = {L"Quillmark", c.application, c.parameters, L"", 0,
                                                c.account};
            // Switching the scan off moves it over to this user's task, off.
            EXPECT_EQ(enable_scheduled_task(false), c.ours) << c.application << vista;
            const bool left = vista ? machine.registered.count(L"Quillmark") != 0
                                    : machine.items.count(L"Quillmark") != 0;
            EXPECT_EQ(left, !c.ours) << c.application << vista;
            if (!c.ours) continue;
            EXPECT_EQ(vista ? !machine.registered.at(name).enabled
                            : machine.items.at(name).item.trigger.rgFlags == TASK_TRIGGER_FLAG_DISABLED,
                      true);
        }
    }
    set_task_scheduler(&tasks);  // the cases' schedulers took it away
    tasks.items[L"Quillmark"].item = {L"Quillmark", PROGRAM, L"--autorun", L"", 0, account};
    tasks.run_levels = false;
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    EXPECT_EQ(tasks.calls, (calls_t{L"delete Quillmark", L"create " + name}));
}

TEST_F(ScheduledTask, OnXpTheWorkItemHoldsEveryPropertyAndIsNotEndedOnBatteries) {
    tasks.run_levels = false;
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    EXPECT_EQ(tasks.calls, calls_t{L"create " + name});

    const work_item& item = stored().item;
    EXPECT_EQ(item.name, name);
    EXPECT_EQ(item.application, PROGRAM);
    EXPECT_EQ(item.parameters, L"--autorun");
    EXPECT_EQ(item.comment, COMMENT);
    EXPECT_EQ(item.flags, 0x2041u);  // interactive, not started on batteries, logged-on user
    EXPECT_EQ(item.account, account);
    EXPECT_TRUE(item.unlimited_run_time);

    // The weekly trigger from that moment (checked field by field with the
    // layer), enabled: Wednesdays at 17:46 from 9 December on.
    TASK_TRIGGER expected = weekly_trigger(WEDNESDAY, true);
    EXPECT_EQ(std::memcmp(&item.trigger, &expected, sizeof expected), 0);
    EXPECT_EQ(item.trigger.Type.Weekly.rgfDaysOfTheWeek, 1 << 3);
    EXPECT_EQ(item.trigger.wStartMinute, 46);

    // Without a time the current one is used: a weekly trigger from today.
    tasks.items.clear();
    ASSERT_TRUE(create_scheduled_task());
    EXPECT_EQ(stored().item.trigger.TriggerType, TASK_TIME_TRIGGER_WEEKLY);
    EXPECT_NE(stored().item.trigger.wBeginYear, 0);
}

TEST_F(ScheduledTask, ExistingWorkItemMakesCreationFailAndStaysAsItWas) {
    tasks.run_levels = false;
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    tasks.calls.clear();
    wcsncpy_s(module_path, MAX_PATH, L"C:\\Elsewhere\\quillmark.exe", _TRUNCATE);

    EXPECT_FALSE(create_scheduled_task(WEDNESDAY + 86400));
    EXPECT_EQ(tasks.calls, calls_t{L"create " + name});  // nothing changed
    EXPECT_EQ(stored().item.application, PROGRAM);
    EXPECT_EQ(stored().item.trigger.wBeginDay, 9);

    tasks.items.clear();
    tasks.calls.clear();
    tasks.fail_create = true;
    EXPECT_FALSE(create_scheduled_task(WEDNESDAY));
    EXPECT_EQ(tasks.calls, calls_t{L"create " + name});
}

TEST_F(ScheduledTask, SwitchingTheTriggerKeepsTheSchedule) {
    tasks.run_levels = false;
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    tasks.calls.clear();

    ASSERT_TRUE(enable_scheduled_task(false));
    EXPECT_EQ(stored().item.trigger.rgFlags, DWORD(TASK_TRIGGER_FLAG_DISABLED));
    ASSERT_TRUE(enable_scheduled_task(true));
    EXPECT_EQ(stored().item.trigger.rgFlags, 0u);
    EXPECT_EQ(tasks.calls,
              (calls_t{L"set_trigger_flags " + name, L"set_trigger_flags " + name}));
    EXPECT_EQ(stored().item.trigger.Type.Weekly.rgfDaysOfTheWeek, 1 << 3);
    EXPECT_EQ(stored().item.trigger.wStartMinute, 46);

    // A failed switch saved nothing.
    tasks.calls.clear();
    tasks.fail_set_trigger_flags = true;
    EXPECT_FALSE(enable_scheduled_task(false));
    EXPECT_EQ(tasks.calls, calls_t{L"set_trigger_flags " + name});
    EXPECT_EQ(stored().item.trigger.rgFlags, 0u);

    // No work item at all.
    tasks.fail_set_trigger_flags = false;
    tasks.items.clear();
    EXPECT_FALSE(enable_scheduled_task(true));
}

TEST_F(ScheduledTask, OnXpThePropertySheetOpensOverTheOwner) {
    tasks.run_levels = false;
    HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    EXPECT_FALSE(edit_scheduled_task(owner));  // no work item yet
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    EXPECT_TRUE(edit_scheduled_task(owner));
    EXPECT_EQ(tasks.edit_owner, owner);
    EXPECT_EQ(tasks.calls, (calls_t{L"edit " + name, L"create " + name, L"edit " + name}));
}

// Wine's Task Scheduler 2.0 (Wine reports Windows 7), read back from the XML
// it keeps, which holds the description and the settings.
class MachineScheduledTask : public ScheduledTaskBase {
protected:
    const std::wstring name = weekly_task_name();

    void SetUp() override {
        ScheduledTaskBase::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        set_task_scheduler(nullptr);
        scheduler().delete_task(name);
    }
    void TearDown() override {
        scheduler().delete_task(name);
        CoUninitialize();
        ScheduledTaskBase::TearDown();
    }
};

TEST_F(MachineScheduledTask, StoredCreatedOnceSwitchedOffAndOn) {
    ASSERT_TRUE(scheduler().has_run_levels());
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    EXPECT_EQ(task_value(read_task_file(name), "RegistrationInfo/Description"), wide_to_utf8(COMMENT));
    // Checking the box again: creation fails, the task stays.
    EXPECT_FALSE(create_scheduled_task(WEDNESDAY + 86400));
    for (bool on : {false, true}) {
        ASSERT_TRUE(enable_scheduled_task(on));
        EXPECT_EQ(task_value(read_task_file(name), "Settings/Enabled"), on ? "true" : "false");
    }
    EXPECT_EQ(GetFileAttributesW(job_file_path(name).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MachineScheduledTask, WithoutATaskNothingIsStored) {
    EXPECT_FALSE(enable_scheduled_task(true));
    EXPECT_EQ(read_task_file(name), L"");
}

}  // namespace
