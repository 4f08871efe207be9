#pragma once

class QProcess;

// A process id stored after a start can name an unrelated process once the
// original has exited and been reaped; a QProcess object knows whether its own
// child still runs. Child processes are therefore kept as QProcess objects and
// ended through them.
namespace ProcessControl {

// Ends the child if it still runs (SIGKILL) and waits up to `waitMs` for it to
// be reaped. True when the child is no longer running afterwards.
bool terminate(QProcess *process, int waitMs = 5000);

// Prepares a child whose output nobody reads: standard input and output go to
// /dev/null and standard error to the parent's, so a chatty child can never
// block on a full pipe. Call before start().
void withoutPipes(QProcess *process);

} // namespace ProcessControl
