// GDI+ for the whole process: started by its first user, kept while the
// program runs, and shut down once at teardown after its last user is gone.
// UI thread only.
#pragma once

// Starts GDI+ when it is not running and counts one more user. False (and no
// user counted) when GDI+ cannot be started.
bool gdiplus_acquire();
// One user less. When teardown already asked for the shutdown, the last
// user's release performs it.
void gdiplus_release();
// Teardown: shuts GDI+ down now when nobody uses it, else when the last user
// releases it. A later acquire starts it again.
void gdiplus_shutdown();

bool gdiplus_running();
int gdiplus_users();
