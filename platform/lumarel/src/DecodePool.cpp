#include "DecodePool.h"

#include <algorithm>

#include <pthread.h>

namespace {

// The pool's first tick at or after `at`.
DecodePool::Clock::time_point tickAfter(DecodePool::Clock::time_point at)
{
    const auto tick = std::chrono::duration_cast<DecodePool::Clock::duration>(DecodePool::kTick);
    const auto since = at.time_since_epoch();
    return DecodePool::Clock::time_point((since + tick - DecodePool::Clock::duration(1)) / tick * tick);
}

// Takes `job` out of `jobs`; the pool's hold on it, null if it had none.
template<typename Jobs> std::shared_ptr<DecodeJob> takeOut(Jobs *jobs, const DecodeJob *job)
{
    const auto at = std::find_if(
        jobs->begin(), jobs->end(), [&](const std::shared_ptr<DecodeJob> &j) { return j.get() == job; });
    if (at == jobs->end())
        return nullptr;
    std::shared_ptr<DecodeJob> taken = std::move(*at);
    jobs->erase(at);
    return taken;
}

} // namespace

DecodePool::DecodePool(int threads)
{
    for (int i = 0; i < std::max(1, threads); ++i) {
        m_threads.emplace_back([this] { work(); });
        pthread_setname_np(m_threads.back().native_handle(), "lumarel-decode");
    }
}

DecodePool::~DecodePool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_all();
    m_timerWait.notify_all();
    for (std::thread &thread : m_threads) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
    std::deque<std::shared_ptr<DecodeJob>> ready;
    std::vector<std::shared_ptr<DecodeJob>> timed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::shared_ptr<DecodeJob> &job : m_ready)
            job->m_queued = false;
        for (const std::shared_ptr<DecodeJob> &job : m_timed)
            job->m_timed = false;
        ready.swap(m_ready);
        timed.swap(m_timed);
    }
    // Let go of here, without the lock: a job's destructor may remove itself.
}

DecodePool &DecodePool::shared()
{
    // Never destroyed: ports closed while the process ends still remove
    // themselves from it.
    static DecodePool *pool = new DecodePool(int(std::max(1u, std::thread::hardware_concurrency())));
    return *pool;
}

void DecodePool::wake(std::shared_ptr<DecodeJob> job, bool mayWait)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!job || job->m_removed || m_stop)
        return;
    if (job->m_running) {
        job->m_again = true;
        return;
    }
    if (job->m_queued)
        return;
    job->m_next = DecodeJob::NextRun {}; // woken before its time: the time is void
    enqueue(job, mayWait);
}

void DecodePool::remove(DecodeJob *job)
{
    std::shared_ptr<DecodeJob> queued;
    std::shared_ptr<DecodeJob> timed;
    std::unique_lock<std::mutex> lock(m_mutex);
    job->m_removed = true;
    job->m_next = DecodeJob::NextRun {};
    if (job->m_queued)
        queued = takeOut(&m_ready, job);
    job->m_queued = false;
    if (job->m_timed)
        timed = takeOut(&m_timed, job);
    job->m_timed = false;
    if (job->m_running && job->m_runner != std::this_thread::get_id())
        m_runEnded.wait(lock, [&] { return !job->m_running; });
    lock.unlock();
    // `queued` and `timed` are let go of here, without the lock.
}

void DecodePool::enqueue(const std::shared_ptr<DecodeJob> &job, bool mayWait)
{
    const Clock::time_point now = Clock::now();
    job->m_queued = true;
    job->m_queuedAt = now;
    job->m_mayWait = mayWait;
    m_ready.push_back(job);
    // A thread awake, or on its way, takes it after what it does now. So
    // does the thread keeping the time if it wakes before long; else it
    // takes it now (a run that blocks holds up no other port for long).
    if (m_awake > 0 || m_wakeups > 0 || m_keeperRoused) {
        if (m_keeperIdle && !m_keeperRoused && m_keeperDeadline > now + kMaxWait) {
            m_keeperRoused = true;
            m_timerWait.notify_one();
        }
        return;
    }
    // So does the thread keeping the time, on its next tick.
    if (mayWait && m_keeperIdle && m_keeperDeadline <= tickAfter(now))
        return;
    rouse();
}

void DecodePool::rouse()
{
    if (m_idle > m_wakeups) {
        ++m_wakeups;
        m_work.notify_one();
    } else if (m_keeperIdle && !m_keeperRoused) {
        m_keeperRoused = true;
        m_timerWait.notify_one();
    }
}

void DecodePool::arm(const std::shared_ptr<DecodeJob> &job, DecodeJob::NextRun next)
{
    job->m_next = next;
    if (!job->m_timed) {
        job->m_timed = true;
        m_timed.push_back(job);
    }
    // The thread keeping the time sleeps past it: it looks again.
    const Clock::time_point deadline = next.exact ? next.at : tickAfter(next.at);
    if (m_keeperIdle && deadline < m_keeperDeadline)
        m_timerWait.notify_one();
}

DecodePool::Clock::time_point DecodePool::takeDueJobs(
    Clock::time_point now, std::vector<std::shared_ptr<DecodeJob>> *dropped)
{
    Clock::time_point earliest = Clock::time_point::max();
    size_t kept = 0;
    for (size_t i = 0; i < m_timed.size(); ++i) {
        std::shared_ptr<DecodeJob> &job = m_timed[i];
        const DecodeJob::NextRun next = job->m_next;
        if (next.at == Clock::time_point::max()) {
            job->m_timed = false; // woken, or run, before its time
            dropped->push_back(std::move(job));
            continue;
        }
        if (next.at <= now) {
            job->m_timed = false;
            job->m_next = DecodeJob::NextRun {};
            if (!job->m_queued && !job->m_running)
                enqueue(job, false);
            dropped->push_back(std::move(job));
            continue;
        }
        earliest = std::min(earliest, next.exact ? next.at : tickAfter(next.at));
        if (kept != i)
            m_timed[kept] = std::move(job);
        ++kept;
    }
    m_timed.resize(kept);
    return earliest;
}

void DecodePool::work()
{
    std::vector<std::shared_ptr<DecodeJob>> dropped;
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_awake;
    // Whether this thread took work that waited for a tick since it last
    // slept: while such work keeps coming, the pool's clock ticks.
    bool tookWaiting = false;
    while (!m_stop) {
        const Clock::time_point now = Clock::now();
        const Clock::time_point deadline = takeDueJobs(now, &dropped);
        if (!dropped.empty()) {
            // A job's last holder may be this list: let go of it without the lock.
            lock.unlock();
            dropped.clear();
            lock.lock();
            continue;
        }
        if (!m_ready.empty()) {
            // Work waited too long behind the runs of the threads awake:
            // another thread joins them.
            const DecodeJob &front = *m_ready.front();
            if (now - front.m_queuedAt > (front.m_mayWait ? kMaxWaitOnTick : kMaxWait)
                && m_idle > m_wakeups) {
                ++m_wakeups;
                m_work.notify_one();
            }
            std::shared_ptr<DecodeJob> job = std::move(m_ready.front());
            m_ready.pop_front();
            tookWaiting = tookWaiting || job->m_mayWait;
            job->m_queued = false;
            job->m_running = true;
            job->m_runner = std::this_thread::get_id();
            job->m_next = DecodeJob::NextRun {};
            lock.unlock();
            DecodeJob::NextRun next;
            try {
                next = job->runJob();
            } catch (...) {
                // A job's failure is its own: it runs again when woken.
                next = DecodeJob::NextRun {};
            }
            lock.lock();
            job->m_running = false;
            job->m_runner = std::thread::id();
            if (job->m_removed) {
                m_runEnded.notify_all();
            } else if (job->m_again || next.at <= Clock::now()) {
                job->m_again = false;
                enqueue(job, false);
            } else if (next.at != Clock::time_point::max()) {
                arm(job, next);
            }
            // Its last holder may be this thread: let go of it without the lock.
            lock.unlock();
            job.reset();
            lock.lock();
            continue;
        }
        --m_awake;
        const Clock::time_point wakeAt
            = tookWaiting ? std::min(deadline, tickAfter(Clock::now() + Clock::duration(1))) : deadline;
        tookWaiting = false;
        if (!m_keeperIdle && wakeAt != Clock::time_point::max()) {
            // This thread keeps the time until then, or until roused.
            m_keeperIdle = true;
            m_keeperRoused = false;
            m_keeperDeadline = wakeAt;
            m_timerWait.wait_until(lock, wakeAt);
            m_keeperIdle = false;
            m_keeperRoused = false;
        } else {
            ++m_idle;
            m_work.wait(lock, [this] { return m_wakeups > 0 || m_stop; });
            --m_idle;
            if (m_wakeups > 0)
                --m_wakeups;
        }
        ++m_awake;
    }
    --m_awake;
}
