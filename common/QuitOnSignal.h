#pragma once

#include <initializer_list>

// Ends the program's event loop when one of the given signals arrives, so
// that SIGTERM or Ctrl-C runs the same shutdown as any other end of the loop.
// The handler only writes a byte to a pipe (safe in a handler); the event
// loop reads it and calls QCoreApplication::quit. A second such signal, once
// the shutdown has begun, ends the program as the signal's default would.
// Installed once, after the application object exists, on its thread.
namespace QuitOnSignal {

bool install(std::initializer_list<int> signalNumbers);

} // namespace QuitOnSignal
