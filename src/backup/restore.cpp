#include "backup/restore.h"

#include "install/zip_reader.h"

int32_t restore_task(restore_request& request) {
    std::wstring folder = make_unpack_folder(request.archive, request.backup_folder);
    int32_t result = -1;
    zip_reader reader;
    if (reader.open(join_path(request.backup_folder, request.archive).c_str()) == 0 &&
        unpack_into_fresh_folder(reader, folder) == 0) {
        // DPInst's own window tells how the restore went; running stays 1
        // until it is closed.
        result = launch_dpinst(folder, true, request.environment).code > 32 ? 0 : -1;
    }
    reader.close();
    request.running = 0;
    return result;
}
