#include "PoolJob.h"

#include <QThreadPool>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
namespace {
// One token for every pool: each pool's queue is under one lock, and a job
// may be handed from any thread to any worker.
char g_handOff;
void release()
{
    __tsan_release(&g_handOff);
}
void acquire()
{
    __tsan_acquire(&g_handOff);
}
} // namespace
#else
namespace {
void release() { }
void acquire() { }
} // namespace
#endif

namespace PoolJob {

void start(QThreadPool &pool, std::function<void()> job)
{
    // The wrapper holds nothing but `job`; it reads it only after acquire().
    std::function<void()> run = [job = std::move(job)]() mutable {
        acquire();
        std::function<void()> own = std::move(job);
        own();
        own = nullptr;
        release();
    };
    release();
    pool.start(std::move(run));
}

void waitForDone(QThreadPool &pool)
{
    pool.waitForDone();
    acquire();
}

} // namespace PoolJob
