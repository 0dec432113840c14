// Reads what the Task Scheduler 1.0 stored for a work item: the .job file in
// the Windows "Tasks" folder, in the documented .JOB layout (a fixed-length
// section, then the variable-length section with the texts and triggers).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct job_trigger {
    uint16_t begin_year = 0, begin_month = 0, begin_day = 0;
    uint16_t start_hour = 0, start_minute = 0;
    uint32_t flags = 0;
    uint32_t type = 0;
    uint16_t specific0 = 0, specific1 = 0;  // weekly: weeks interval, days of the week
};

struct job_file {
    uint32_t max_run_time = 0;  // milliseconds; INFINITE for no limit
    uint32_t flags = 0;
    std::wstring application, parameters, working_directory, author, comment;
    std::vector<job_trigger> triggers;
};

// The .job file of a work item: C:\windows\Tasks\NAME.job.
std::wstring job_file_path(const std::wstring& name);
// Parses a .job file; nothing when the file is missing or does not follow the
// layout.
std::optional<job_file> read_job_file(const std::wstring& path);
