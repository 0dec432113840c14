// The index of the Windows driver store that backups are taken from.
#pragma once

// Built once at start-up, after the device store exists. 0 on success, -1 when
// the driver-store lookup cannot be obtained; start-up ignores the result.
int build_store_index();
