// Restoring a backed-up driver package: its archive is unpacked into a folder
// of its own beside it, and the driver package installer is started on that
// folder with the switch that installs over a newer driver.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "install/install.h"

struct restore_request {
    std::wstring archive;        // file name of the archive in the backup folder
    std::wstring backup_folder;  // the backup folder when the restore was asked for
    install_environment environment;
    std::atomic<int32_t> running{0};  // 1 from the click until the job's end
};

// Unpacks the archive into a new folder that replaces the one of an earlier
// restore (nothing left there is installed) and runs DPInst with /F on it,
// until DPInst ends. 0 when DPInst was started; -1 when the archive could
// not be read or did not unpack whole (nothing is started then). Sets
// `running` to 0 at its end.
int32_t restore_task(restore_request& request);
