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

} // namespace

void install(const char *programName)
{
    g_name = programName;
    std::atexit(endAbruptExit);
}

void markOrderlyExit()
{
    g_orderly = true;
}

} // namespace ExitGuard
