#include "ThreadOrder.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>

namespace {
// One token for every hand-over: each of Qt's is under one lock, and work may
// pass from any thread to any other.
char g_token;
} // namespace

void ThreadOrder::handOver()
{
    __tsan_release(&g_token);
}

void ThreadOrder::takeOver()
{
    __tsan_acquire(&g_token);
}
#else
void ThreadOrder::handOver() { }

void ThreadOrder::takeOver() { }
#endif
