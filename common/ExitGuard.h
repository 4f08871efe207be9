#pragma once

// An exit() that does not come from main's own end (Qt calls it when the
// display connection breaks) runs static destructors while the program's
// threads still run, which can hang or crash the process. Installed after the
// application object exists, on the GUI thread, the guard ends such an exit
// at once with code 1: before any static object is destroyed when the exit
// comes on that thread, after those made before install() otherwise. Main
// marks its own, orderly end first.
namespace ExitGuard {

void install(const char *programName);
void markOrderlyExit();

} // namespace ExitGuard
