#pragma once

// Both programs pass every message through several threads' event loops.
// Qt's own UNIX event dispatcher wakes a thread for a posted event with less
// delay than the GLib one it picks by default, so the programs use it unless
// the environment has already chosen. Call before the application object exists.
void useDirectEventDispatcher();
