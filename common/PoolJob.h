#pragma once

#include <functional>

class QThreadPool;

// Jobs on a QThreadPool. Qt here is not built for ThreadSanitizer, so the
// sanitizer cannot see the order the pool itself keeps: a job queued behind
// busy workers is taken from the pool's queue under a lock it does not see,
// and waitForDone() returns after a job's end the same way. These two calls
// mark both orders for it; in other builds they are the plain pool calls.
namespace PoolJob {

// Starts `job` on `pool`; everything this thread did before the call
// happens before the job runs.
void start(QThreadPool &pool, std::function<void()> job);
// Waits for every job on `pool`; what the jobs did happens before the return.
void waitForDone(QThreadPool &pool);

} // namespace PoolJob
