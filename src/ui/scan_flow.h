// The parts of a scan that need no window: the worker record and its thread,
// the two jobs (enumeration, then query), the error report after a failed
// query, the status lines and the layout of the scan page.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ctime>
#include <string>

struct scan_progress;
struct scan_query_params;

// One worker thread's job: the thread calls `function(context)`, stores its
// return value in `result` and ends with exit code 0.
struct scan_job {
    int32_t result = 0;
    void* context = nullptr;
    int32_t (*function)(void* context) = nullptr;
};

// Starts a thread running `job` (which must outlive it). The thread handle,
// or null when no thread could be started (`job.result` is then -1).
HANDLE start_scan_job(scan_job& job);

// The enumeration job: context is a scan_progress; rebuilds the application's
// device store. 0 on success, -1 with last_error set.
int32_t run_enumeration(void* context);
// The query job: context is a scan_query_params. 0 on success, -1 with
// last_error set.
int32_t run_query(void* context);

// The query inputs of this machine: OS code name, client code, model, OS
// version number and OEM code page. The outputs are cleared.
void fill_scan_query_params(scan_query_params& params);
// Clears the two outputs before a query starts.
void clear_query_outputs(scan_query_params& params);
// Readies the inputs for the next query on the UI thread: the outputs
// cleared and the model copied as machine_info holds it now, which is
// published after the page was made.
void prepare_query(scan_query_params& params);

// Lets the application's next query run: clears the stop flag that
// stop_query set. UI thread, before the query worker starts.
void allow_query();
// Makes the application's running query end within about a second (its
// transfer's progress check reads the flag), without trying further mirrors
// and without a message. Used when the scan page goes away with the program.
void stop_query();

// The text to show after a failed query with `code` in last_error, or null
// when the code has no text (no box is shown; the scan is given up). A code
// 20 text is built in one process-wide buffer of 1024 characters. UI thread
// only.
const wchar_t* scan_error_text(int code, const scan_query_params& params);
// The text shown when a worker thread cannot be started.
const wchar_t* worker_start_failure_text();

// What the scan page's status lines show.
struct scan_status_values {
    int64_t start_time = 0;  // seconds since 1970
    int64_t now = 0;
    int phase = 0;           // 0 not started, 1 enumerating, 2 querying
    int32_t index = 0;       // devices looked at so far
    std::wstring name;       // the device looked at last, or empty
};
constexpr int SCAN_STATUS_LINES = 5;
constexpr std::size_t SCAN_LINE_CAPACITY = 1024;

// Status line `line` (0 … 4) into `out`, at most 1023 characters: start
// time, elapsed time, status, devices scanned, current device.
void format_scan_status_line(int line, const scan_status_values& values,
                             wchar_t (&out)[SCAN_LINE_CAPACITY]);
// ".", ".." or "..." by the wall-clock second.
const wchar_t* waiting_dots(int64_t now);
// "%H:%M:%S" of a duration as a UTC time of day (a day or more wraps).
std::wstring format_elapsed(int64_t seconds);

// The status box of the scan page for a client area of width × height, a row
// height and the width of the widest status text.
RECT scan_status_box(int width, int height, int row_height, int text_width);
// The box that says the page waits for the update service, below the status
// lines whose sixth line would start at `next_line_top`.
RECT scan_waiting_box(int width, int height, int next_line_top);
// The progress of an enumeration as a fraction 0 … 1 (0 while total is 0).
float scan_fraction(int32_t index, int32_t total);

// The current time in seconds since 1970.
int64_t now_seconds();
