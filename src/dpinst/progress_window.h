// DPInst's own window, shown unless /S or /Q is given: while the packages
// are installed it shows the step at hand, then a summary with the log's
// place, and the program ends when the user closes it.
#pragma once

#include <functional>
#include <string>

#include "dpinst/installer.h"

// The window's class name and the id of its Close button.
constexpr const wchar_t* progress_window_class = L"Quillmark.DPInst";
constexpr int progress_close_id = 1;

// Runs `work` on a thread of its own while the window shows every line
// written to the log it is given (the lines also go to `file_log`). When
// `work` has ended, shows `summary(counts)` with the Close button; the user
// cannot close the window before. Without a window (no desktop), `work`
// runs here with `file_log`. What `work` returned.
run_counts run_with_progress_window(const std::function<run_counts(log_sink&)>& work, log_sink& file_log,
                                    const std::function<std::wstring(const run_counts&)>& summary,
                                    int show_command);
