#include "ExitGuard.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace ExitGuard {

namespace {

std::atomic<bool> g_orderly { false };
const char *g_name = "program";

void endAbruptExit()
{
    if (g_orderly.load())
        return;
    std::fprintf(stderr, "%s: unexpected exit, ending at once\n", g_name);
    std::fflush(stderr);
    std::_Exit(1);
}

// exit() first ends the calling thread's own thread_local objects, then runs
// the exit handlers, the last registered first. A function's static object
// first used after install() registers its destructor after the guard's
// handler, so that handler alone would come too late for it: the object
// would be destroyed while other threads still use it. The sentinel, made on
// the installing thread, ends an exit called there before any handler runs.
struct Sentinel
{
    bool armed = false;
    ~Sentinel()
    {
        if (armed)
            endAbruptExit();
    }
};
thread_local Sentinel t_sentinel;

} // namespace

void install(const char *programName)
{
    g_name = programName;
    t_sentinel.armed = true;
    // For an exit called on another thread.
    std::atexit(endAbruptExit);
}

void markOrderlyExit()
{
    g_orderly = true;
}

} // namespace ExitGuard
