#include "WorkLane.h"

#include <chrono>

WorkLane::WorkLane(int workers, int bound)
    : m_workers(workers)
    , m_bound(bound)
{ }

WorkLane::~WorkLane()
{
    stop();
    join();
}

bool WorkLane::tryRun(std::function<void()> work, std::function<void()> dropped)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping || int(m_queue.size()) + m_running >= m_bound)
        return false;
    if (m_idle <= int(m_queue.size()) && int(m_threads.size()) < m_workers) {
        try {
            m_threads.emplace_back([this] { serve(); });
        } catch (...) {
            // No thread now: the work waits for a running one, if any.
            if (m_threads.empty())
                return false;
        }
    }
    m_queue.push_back(Job { std::move(work), std::move(dropped) });
    m_changed.notify_all();
    return true;
}

int WorkLane::load() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_queue.size()) + m_running;
}

void WorkLane::serve()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_changed.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        --m_idle;
        if (m_queue.empty())
            return;
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_running;
        lock.unlock();
        try {
            job.work();
        } catch (...) {
            // Out of memory in a job: its request goes unanswered, the lane
            // goes on.
        }
        job = Job();
        lock.lock();
        --m_running;
        m_changed.notify_all();
    }
}

void WorkLane::stop()
{
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        dropped.swap(m_queue);
        m_changed.notify_all();
    }
    m_cancel.cancel();
    for (Job &job : dropped) {
        if (!job.dropped)
            continue;
        try {
            job.dropped();
        } catch (...) { }
    }
}

void WorkLane::join(const std::function<void()> &whileWaiting)
{
    std::vector<std::thread> threads;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (m_running > 0 || !m_queue.empty()) {
            if (whileWaiting) {
                lock.unlock();
                whileWaiting();
                lock.lock();
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(20));
        }
        threads.swap(m_threads);
    }
    for (std::thread &thread : threads)
        thread.join();
}
