#include "PoolJob.h"

#include "ThreadOrder.h"

#include <QThreadPool>

namespace PoolJob {

void start(QThreadPool &pool, std::function<void()> job)
{
    // The wrapper holds nothing but `job`; it reads it only after takeOver().
    std::function<void()> run = [job = std::move(job)]() mutable {
        ThreadOrder::takeOver();
        std::function<void()> own = std::move(job);
        own();
        own = nullptr;
        ThreadOrder::handOver();
    };
    ThreadOrder::handOver();
    pool.start(std::move(run));
}

void waitForDone(QThreadPool &pool)
{
    pool.waitForDone();
    ThreadOrder::takeOver();
}

} // namespace PoolJob
