// The task-scheduler layer: its triggers, its task XML and its Task Scheduler
// 1.0 work items as Wine stores them (.job files in the Windows "Tasks" folder).
#include "platform/task_scheduler.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <time.h>

#include "common/job_file.h"
#include "common/recording_task_scheduler.h"
#include "platform/text.h"

namespace {

TEST(Triggers, WeeklyFromTodayOneMinuteOnAndLogOn) {
    // Saturday 5 December 2026, 23:59:30: the first start is at 00:00, every
    // Saturday, from that day on.
    TASK_TRIGGER t = weekly_trigger(local_moment(2026, 12, 5, 23, 59, 30), true);
    EXPECT_EQ(t.cbTriggerSize, 48);
    EXPECT_EQ(t.TriggerType, TASK_TIME_TRIGGER_WEEKLY);
    EXPECT_EQ(t.wBeginYear, 2026);
    EXPECT_EQ(t.wBeginMonth, 12);
    EXPECT_EQ(t.wBeginDay, 5);
    EXPECT_EQ(t.wStartHour, 0);
    EXPECT_EQ(t.wStartMinute, 0);
    EXPECT_EQ(t.Type.Weekly.WeeksInterval, 1);
    EXPECT_EQ(t.Type.Weekly.rgfDaysOfTheWeek, 1 << 6);
    EXPECT_EQ(t.rgFlags, 0u);
    EXPECT_EQ(t.wEndYear, 0);
    EXPECT_EQ(t.MinutesDuration, 0u);

    // A Sunday morning, disabled.
    t = weekly_trigger(local_moment(2027, 1, 3, 9, 14, 0), false);
    EXPECT_EQ(t.Type.Weekly.rgfDaysOfTheWeek, 1);
    EXPECT_EQ(t.wStartHour, 9);
    EXPECT_EQ(t.wStartMinute, 15);
    EXPECT_EQ(t.rgFlags, DWORD(TASK_TRIGGER_FLAG_DISABLED));

    t = logon_trigger(local_moment(2026, 12, 7, 13, 30, 0));
    EXPECT_EQ(t.cbTriggerSize, 48);
    EXPECT_EQ(t.TriggerType, TASK_EVENT_TRIGGER_AT_LOGON);
    EXPECT_EQ(t.wBeginYear, 2026);
    EXPECT_EQ(t.wBeginMonth, 12);
    EXPECT_EQ(t.wBeginDay, 7);
    EXPECT_EQ(t.rgFlags, 0u);
}

// The log-on task's XML is checked with the settings that make it.
TEST(TaskXml, CarriesTriggerUserRunLevelSettingsAndProgramEscaped) {
    task_definition weekly;
    weekly.description = L"Scan & <keep> \"drivers\" 'up'";
    weekly.user = L"CORP\\alice";
    weekly.application = L"C:\\A&B <x>\\q'\\quill\"mark.exe";
    weekly.arguments = L"--autorun";
    weekly.trigger = weekly_trigger(local_moment(2026, 12, 9, 17, 45), true);
    const std::wstring xml = task_xml(weekly);
    const std::pair<const char*, std::string> cases[] = {
        {"RegistrationInfo/Description", wide_to_utf8(weekly.description)},
        {"Triggers/CalendarTrigger/StartBoundary", "2026-12-09T17:46:00"},
        {"Triggers/CalendarTrigger/ScheduleByWeek/DaysOfWeek/Wednesday", ""},
        {"Triggers/CalendarTrigger/ScheduleByWeek/DaysOfWeek/Thursday", "<absent>"},
        {"Triggers/CalendarTrigger/ScheduleByWeek/WeeksInterval", "1"},
        {"Principals/Principal/UserId", "CORP\\alice"},
        {"Principals/Principal/LogonType", "InteractiveToken"},
        {"Principals/Principal/RunLevel", "HighestAvailable"},
        {"Settings/MultipleInstancesPolicy", "Parallel"},
        {"Settings/DisallowStartIfOnBatteries", "false"},
        {"Settings/StopIfGoingOnBatteries", "false"},
        {"Settings/ExecutionTimeLimit", "PT0S"},
        {"Settings/Enabled", "true"},
        {"Actions/Exec/Command", wide_to_utf8(weekly.application)},
        {"Actions/Exec/Arguments", "--autorun"},
    };
    for (const auto& c : cases) EXPECT_EQ(task_value(xml, c.first), c.second) << c.first;
    EXPECT_NE(xml.find(L"<Task version=\"1.2\""), std::wstring::npos);

    // What XML cannot carry, and triggers it is not made for: no XML at all.
    task_definition bad[5] = {weekly, weekly, weekly, weekly, weekly};
    bad[0].description += L'\x01';
    bad[1].application += L'\x1B';
    bad[2].trigger.TriggerType = TASK_TIME_TRIGGER_DAILY;
    bad[3].trigger.Type.Weekly.rgfDaysOfTheWeek = 0;
    bad[4].trigger = TASK_TRIGGER{};  // a time that had no local time
    bad[4].trigger.TriggerType = TASK_TIME_TRIGGER_WEEKLY;
    for (const auto& b : bad) EXPECT_EQ(task_xml(b), L"");
}

TEST(TaskNames, CarryTheAccountAndNothingATaskNameCannotHold) {
    EXPECT_EQ(per_user_task_name(L"Quillmark", L"CORP\\alice"), L"Quillmark (CORP+alice)");
    EXPECT_EQ(per_user_task_name(L"Q", L"..\\..\\x/y\"<>|:*?"), L"Q (..+..+x_y_______)");
}

class MachineScheduler : public ::testing::Test {
protected:
    const std::wstring name = L"Quillmark Layer Test";
    const std::wstring job = job_file_path(L"Quillmark Layer Test");

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        set_task_scheduler(nullptr);
        scheduler().delete_work_item(name);
    }
    void TearDown() override {
        scheduler().delete_work_item(name);
        CoUninitialize();
    }

    work_item weekly_item(const std::wstring& application) const {
        work_item item;
        item.name = name;
        item.application = application;
        item.parameters = L"--autorun";
        item.comment = L"Quillmark automatically scan, keep your drivers up to date.";
        item.flags = 0x20C1;
        EXPECT_TRUE(current_account(item.account));
        item.trigger = weekly_trigger(local_moment(2026, 12, 5, 10, 20, 0), true);
        return item;
    }
};

TEST_F(MachineScheduler, WeeklyWorkItemIsStoredSwitchedAndDeleted) {
    ASSERT_TRUE(scheduler().create_work_item(weekly_item(L"C:\\Q\\quillmark.exe")));
    auto stored = read_job_file(job);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->application, L"C:\\Q\\quillmark.exe");
    EXPECT_EQ(stored->parameters, L"--autorun");
    EXPECT_EQ(stored->comment, L"Quillmark automatically scan, keep your drivers up to date.");
    EXPECT_NE(stored->max_run_time, DWORD(INFINITE));  // the scheduler's own limit
    ASSERT_EQ(stored->triggers.size(), 1u);
    EXPECT_EQ(stored->triggers[0].type, DWORD(TASK_TIME_TRIGGER_WEEKLY));
    EXPECT_EQ(stored->triggers[0].specific0, 1);       // every week
    EXPECT_EQ(stored->triggers[0].specific1, 1 << 6);  // on Saturdays
    EXPECT_EQ(stored->triggers[0].start_hour, 10);
    EXPECT_EQ(stored->triggers[0].start_minute, 21);
    EXPECT_EQ(stored->triggers[0].flags, 0u);

    // A second creation fails and leaves the first work item as it was.
    EXPECT_FALSE(scheduler().create_work_item(weekly_item(L"C:\\Other\\other.exe")));
    stored = read_job_file(job);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->application, L"C:\\Q\\quillmark.exe");

    // The trigger is switched off and on again; nothing else changes.
    ASSERT_TRUE(scheduler().set_trigger_flags(name, TASK_TRIGGER_FLAG_DISABLED));
    stored = read_job_file(job);
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->triggers.size(), 1u);
    EXPECT_EQ(stored->triggers[0].flags, DWORD(TASK_TRIGGER_FLAG_DISABLED));
    EXPECT_EQ(stored->triggers[0].specific1, 1 << 6);
    ASSERT_TRUE(scheduler().set_trigger_flags(name, 0));
    EXPECT_EQ(read_job_file(job)->triggers[0].flags, 0u);

    ASSERT_TRUE(scheduler().delete_work_item(name));
    EXPECT_EQ(GetFileAttributesW(job.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(scheduler().delete_work_item(name));  // none left is fine
    EXPECT_FALSE(scheduler().set_trigger_flags(name, 0));
}

TEST_F(MachineScheduler, SwitchingOrReadingATaskThatIsNotThereFailsQuietly) {
    task_summary none;
    EXPECT_FALSE(scheduler().set_task_enabled(L"Quillmark No Such Task", true));
    EXPECT_FALSE(scheduler().read_task(L"Quillmark No Such Task", none));
    EXPECT_TRUE(scheduler().delete_task(L"Quillmark No Such Task"));
}

}  // namespace
