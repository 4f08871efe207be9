#pragma once

#include "common/CancelFlag.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A bounded lane of blocking work for the socket server, on threads it owns:
// at most `workers` jobs run at once, at most `bound` are taken (running and
// waiting together). Stopping raises the lane's cancel flag, which ends the
// jobs' HTTP waits at once, drops the jobs that have not started, and joins
// the threads: no job outlives the lane.
class WorkLane
{
public:
    WorkLane(int workers, int bound);
    // Stops and joins.
    ~WorkLane();
    WorkLane(const WorkLane &) = delete;
    WorkLane &operator=(const WorkLane &) = delete;

    // Any thread. Takes `work` when the lane holds fewer than its bound and
    // is not stopping; otherwise false and neither function runs. When the
    // lane stops before `work` started, `dropped` runs instead, on the
    // stopping thread.
    bool tryRun(std::function<void()> work, std::function<void()> dropped);
    // Jobs taken and not yet done.
    int load() const;
    int bound() const { return m_bound; }
    // Raised when the lane stops; jobs hand it to what they wait on.
    CancelFlag &cancel() { return m_cancel; }

    // Raises the cancel flag and drops the jobs not yet started; returns at
    // once. Running jobs end on their own, soon.
    void stop();
    // Waits until every job has ended and joins the threads, running
    // `whileWaiting` about every 20 ms (when given) meanwhile.
    void join(const std::function<void()> &whileWaiting = {});

private:
    struct Job
    {
        std::function<void()> work;
        std::function<void()> dropped;
    };
    void serve();

    const int m_workers;
    const int m_bound;
    CancelFlag m_cancel;
    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_changed;
    std::deque<Job> m_queue;
    std::vector<std::thread> m_threads;
    int m_idle = 0;
    int m_running = 0;
    bool m_stopping = false;
};
