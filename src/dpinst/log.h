// DPInst's log: plain text (UTF-8) appended to %WINDIR%\DPINST.LOG, or to
// %TEMP%\DPINST.LOG when the Windows folder cannot be written; with /C every
// line also goes to the console.
#pragma once

#include <windows.h>

#include <string>

#include "dpinst/installer.h"

class dpinst_log final : public log_sink {
public:
    dpinst_log() = default;
    ~dpinst_log() override;
    dpinst_log(const dpinst_log&) = delete;
    dpinst_log& operator=(const dpinst_log&) = delete;

    // Opens the log file; false when neither place can be written (the lines
    // then go to the console alone, if any).
    bool open();
    const std::wstring& path() const { return path_; }
    // Writes to the standard output when it leads somewhere (a pipe, a file,
    // a console), else to the console of the starting process; with `create`
    // a console of its own is made when there is none to attach to.
    void use_console(bool create);
    void line(const std::wstring& text) override;

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE console_ = INVALID_HANDLE_VALUE;
    bool console_is_terminal_ = false;
    bool console_owned_ = false;
    std::wstring path_;
};
