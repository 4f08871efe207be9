#pragma once

#include <functional>

class QThreadPool;

// Jobs on a QThreadPool, with the pool's ordering marked for ThreadSanitizer
// (ThreadOrder): a job queued behind busy workers is taken from the pool's
// queue under a lock the sanitizer does not see, and waitForDone() returns
// after a job's end the same way. In other builds these are the plain pool
// calls.
namespace PoolJob {

// Starts `job` on `pool`; everything this thread did before the call
// happens before the job runs.
void start(QThreadPool &pool, std::function<void()> job);
// Waits for every job on `pool`; what the jobs did happens before the return.
void waitForDone(QThreadPool &pool);

} // namespace PoolJob
