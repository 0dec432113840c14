// The weekly scheduled scan: what the work item "Quillmark" holds, how its
// trigger is switched, and when its run level is raised, first through the
// recording scheduler, then as Wine's Task Scheduler 1.0 stores it.
#include "app/scheduled_task.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <wchar.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/globals.h"
#include "common/job_file.h"
#include "common/recording_task_scheduler.h"
#include "platform/task_scheduler.h"

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

    const recording_task_scheduler::stored_item& stored() { return tasks.items.at(L"Quillmark"); }
};

TEST_F(ScheduledTask, CreationStoresEveryPropertyThenRaisesTheRunLevel) {
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    EXPECT_EQ(tasks.calls, (calls_t{L"create Quillmark", L"raise Quillmark"}));

    const work_item& item = stored().item;
    EXPECT_EQ(item.name, L"Quillmark");
    EXPECT_EQ(item.application, PROGRAM);
    EXPECT_EQ(item.parameters, L"--autorun");
    EXPECT_EQ(item.comment, COMMENT);
    EXPECT_EQ(item.flags, 0x20C1u);
    std::wstring account;
    ASSERT_TRUE(current_account(account));
    EXPECT_EQ(item.account, account);
    EXPECT_NE(item.account.find(L'\\'), std::wstring::npos);
    EXPECT_TRUE(item.unlimited_run_time);

    // The weekly trigger from that moment (checked field by field with the
    // layer), enabled: Wednesdays at 17:46 from 9 December on.
    TASK_TRIGGER expected = weekly_trigger(WEDNESDAY, true);
    EXPECT_EQ(std::memcmp(&item.trigger, &expected, sizeof expected), 0);
    EXPECT_EQ(item.trigger.Type.Weekly.rgfDaysOfTheWeek, 1 << 3);
    EXPECT_EQ(item.trigger.wStartMinute, 46);
    EXPECT_TRUE(stored().raised);

    // Without a time the current one is used: a weekly trigger from today.
    tasks.items.clear();
    ASSERT_TRUE(create_scheduled_task());
    EXPECT_EQ(stored().item.trigger.TriggerType, TASK_TIME_TRIGGER_WEEKLY);
    EXPECT_NE(stored().item.trigger.wBeginYear, 0);
}

TEST_F(ScheduledTask, ExistingWorkItemMakesCreationFailAndStaysAsItWas) {
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    tasks.calls.clear();
    wcsncpy_s(module_path, MAX_PATH, L"C:\\Elsewhere\\quillmark.exe", _TRUNCATE);

    EXPECT_FALSE(create_scheduled_task(WEDNESDAY + 86400));
    EXPECT_EQ(tasks.calls, calls_t{L"create Quillmark"});  // nothing changed, nothing raised
    EXPECT_EQ(stored().item.application, PROGRAM);
    EXPECT_EQ(stored().item.trigger.wBeginDay, 9);

    tasks.items.clear();
    tasks.calls.clear();
    tasks.fail_create = true;
    EXPECT_FALSE(create_scheduled_task(WEDNESDAY));
    EXPECT_EQ(tasks.calls, calls_t{L"create Quillmark"});
}

TEST_F(ScheduledTask, SwitchingTheTriggerRaisesAgainAndKeepsTheSchedule) {
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    tasks.calls.clear();

    ASSERT_TRUE(enable_scheduled_task(false));
    EXPECT_EQ(stored().item.trigger.rgFlags, DWORD(TASK_TRIGGER_FLAG_DISABLED));
    EXPECT_TRUE(stored().raised);
    ASSERT_TRUE(enable_scheduled_task(true));
    EXPECT_EQ(stored().item.trigger.rgFlags, 0u);
    EXPECT_TRUE(stored().raised);
    EXPECT_EQ(tasks.calls, (calls_t{L"set_trigger_flags Quillmark", L"raise Quillmark",
                                    L"set_trigger_flags Quillmark", L"raise Quillmark"}));
    EXPECT_EQ(stored().item.trigger.Type.Weekly.rgfDaysOfTheWeek, 1 << 3);
    EXPECT_EQ(stored().item.trigger.wStartMinute, 46);

    // A failed switch saved nothing: no raise.
    tasks.calls.clear();
    tasks.fail_set_trigger_flags = true;
    EXPECT_FALSE(enable_scheduled_task(false));
    EXPECT_EQ(tasks.calls, calls_t{L"set_trigger_flags Quillmark"});
    EXPECT_EQ(stored().item.trigger.rgFlags, 0u);

    // No work item at all.
    tasks.fail_set_trigger_flags = false;
    tasks.items.clear();
    EXPECT_FALSE(enable_scheduled_task(true));
}

TEST_F(ScheduledTask, PropertySheetOverTheOwnerThenRaisedWhateverItReturns) {
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    tasks.calls.clear();
    HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

    EXPECT_TRUE(edit_scheduled_task(owner));
    EXPECT_EQ(tasks.edit_owner, owner);
    EXPECT_EQ(tasks.calls, (calls_t{L"edit Quillmark", L"raise Quillmark"}));
    EXPECT_TRUE(stored().raised);

    // A sheet that ends with an error may still have saved the user's changes.
    tasks.calls.clear();
    tasks.fail_edit = true;
    EXPECT_FALSE(edit_scheduled_task(owner));
    EXPECT_EQ(tasks.calls, (calls_t{L"edit Quillmark", L"raise Quillmark"}));
    EXPECT_TRUE(stored().raised);

    tasks.items.clear();
    EXPECT_FALSE(edit_scheduled_task(owner));
}

TEST_F(ScheduledTask, FailedRaiseIsSilentAndWindowsXpNeverRaises) {
    tasks.fail_raise = true;
    EXPECT_TRUE(create_scheduled_task(WEDNESDAY));
    EXPECT_TRUE(enable_scheduled_task(false));
    EXPECT_TRUE(edit_scheduled_task(nullptr));
    EXPECT_FALSE(stored().raised);

    recording_task_scheduler xp;  // replaces `tasks` until the end of the test
    xp.run_levels = false;
    EXPECT_TRUE(create_scheduled_task(WEDNESDAY));
    EXPECT_TRUE(enable_scheduled_task(false));
    EXPECT_TRUE(enable_scheduled_task(true));
    EXPECT_TRUE(edit_scheduled_task(nullptr));
    EXPECT_EQ(xp.calls, (calls_t{L"create Quillmark", L"set_trigger_flags Quillmark",
                                 L"set_trigger_flags Quillmark", L"edit Quillmark"}));
}

// Wine's Task Scheduler 1.0, read back from the .job file it writes.
class MachineScheduledTask : public ScheduledTaskBase {
protected:
    const std::wstring job = job_file_path(L"Quillmark");

    void SetUp() override {
        ScheduledTaskBase::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        set_task_scheduler(nullptr);
        scheduler().delete_work_item(L"Quillmark");
    }
    void TearDown() override {
        scheduler().delete_work_item(L"Quillmark");
        CoUninitialize();
        ScheduledTaskBase::TearDown();
    }
};

TEST_F(MachineScheduledTask, StoredCreatedOnceSwitchedOffAndOn) {
    ASSERT_TRUE(create_scheduled_task(WEDNESDAY));
    auto stored = read_job_file(job);
    ASSERT_TRUE(stored) << "no readable .job file for the work item";
    EXPECT_EQ(stored->application, PROGRAM);
    EXPECT_EQ(stored->parameters, L"--autorun");
    EXPECT_EQ(stored->comment, COMMENT);
    EXPECT_EQ(stored->flags, 0x20C1u);
    EXPECT_EQ(stored->max_run_time, DWORD(INFINITE));
    ASSERT_EQ(stored->triggers.size(), 1u);
    const job_trigger& t = stored->triggers[0];
    EXPECT_EQ(t.type, DWORD(TASK_TIME_TRIGGER_WEEKLY));
    EXPECT_EQ(t.begin_year, 2026);
    EXPECT_EQ(t.begin_month, 12);
    EXPECT_EQ(t.begin_day, 9);
    EXPECT_EQ(t.start_hour, 17);
    EXPECT_EQ(t.start_minute, 46);
    EXPECT_EQ(t.specific0, 1);       // every week
    EXPECT_EQ(t.specific1, 1 << 3);  // on Wednesdays
    EXPECT_EQ(t.flags, 0u);

    // Checking the box again: creation fails, the work item stays.
    wcsncpy_s(module_path, MAX_PATH, L"C:\\Elsewhere\\quillmark.exe", _TRUNCATE);
    EXPECT_FALSE(create_scheduled_task(WEDNESDAY + 86400));
    stored = read_job_file(job);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->application, PROGRAM);
    EXPECT_EQ(stored->triggers.at(0).begin_day, 9);

    ASSERT_TRUE(enable_scheduled_task(false));
    stored = read_job_file(job);
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->triggers.size(), 1u);
    EXPECT_EQ(stored->triggers[0].flags, DWORD(TASK_TRIGGER_FLAG_DISABLED));
    EXPECT_EQ(stored->triggers[0].specific1, 1 << 3);
    EXPECT_EQ(stored->triggers[0].start_minute, 46);
    EXPECT_EQ(stored->parameters, L"--autorun");

    ASSERT_TRUE(enable_scheduled_task(true));
    stored = read_job_file(job);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->triggers.at(0).flags, 0u);
}

TEST_F(MachineScheduledTask, WithoutAWorkItemNothingIsStored) {
    EXPECT_FALSE(enable_scheduled_task(true));
    EXPECT_FALSE(edit_scheduled_task(nullptr));
    EXPECT_EQ(GetFileAttributesW(job.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
