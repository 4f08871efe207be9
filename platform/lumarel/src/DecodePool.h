#pragma once

// A few threads that do the play ports' work in place of a thread per port.
// A port is a job: the pool runs it when it is woken or when the time it
// asked for comes, on one thread at a time, so one port's work stays in
// order; between runs the port holds no thread.
//
// Work that may wait a little (a small window's burst of pictures, which it
// shows later anyway) does not wake a thread of its own: it is taken on the
// next tick of the pool's clock, with whatever else came meanwhile, by a
// thread that is awake already if there is one. So a grid of 64 live windows
// keeps one thread decoding burst after burst with its caches warm, instead
// of 64 threads each waking for its own port. More threads join only when
// work waits longer than the pool lets it.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class DecodePool;

class DecodeJob
{
public:
    using Clock = std::chrono::steady_clock;

    DecodeJob() = default;
    virtual ~DecodeJob() = default;
    DecodeJob(const DecodeJob &) = delete;
    DecodeJob &operator=(const DecodeJob &) = delete;

    // When a job wants to run again, besides when it is woken.
    struct NextRun
    {
        // Now or earlier: as soon as the others waiting had their turn;
        // Clock::time_point::max(): only when woken.
        Clock::time_point at = Clock::time_point::max();
        // False: on the pool's first tick at or after `at` (a time-out
        // that is usually overtaken by a wake).
        bool exact = true;
    };

    // Pool thread, never on two threads at once: does the work there is.
    virtual NextRun runJob() = 0;

private:
    friend class DecodePool;
    // The pool's bookkeeping, guarded by its mutex.
    bool m_queued = false; // waits in the ready queue
    bool m_running = false;
    bool m_again = false; // woken while it ran
    bool m_removed = false;
    bool m_timed = false; // in the pool's list of jobs with a time
    NextRun m_next; // its time; `at` is max() when it has none
    Clock::time_point m_queuedAt;
    bool m_mayWait = false; // queued to be taken on a tick
    std::thread::id m_runner;
};

class DecodePool
{
public:
    using Clock = DecodeJob::Clock;
    // The pool's clock: work that may wait is taken on its ticks.
    static constexpr std::chrono::milliseconds kTick { 10 };
    // Work that waited this long while the pool's threads were busy has
    // another thread join them; work that may wait, this much longer.
    static constexpr std::chrono::milliseconds kMaxWait { 10 };
    static constexpr std::chrono::milliseconds kMaxWaitOnTick { 60 };

    explicit DecodePool(int threads);
    // Ends the threads (after the runs in progress); jobs still waiting are
    // let go without running.
    ~DecodePool();
    DecodePool(const DecodePool &) = delete;
    DecodePool &operator=(const DecodePool &) = delete;

    // The play ports' pool: as many threads as the machine has cores, made
    // on first use and kept until the process ends.
    static DecodePool &shared();

    // Any thread: the job runs soon (once more after its present run, if it
    // is running); with `mayWait`, on the pool's next tick. Nothing once the
    // job was removed.
    void wake(std::shared_ptr<DecodeJob> job, bool mayWait = false);
    // Any thread: the job never runs again, and the pool lets go of it.
    // Waits for a run in progress to end, unless called from within that
    // run (that run is the job's last).
    void remove(DecodeJob *job);

    int threadCount() const { return int(m_threads.size()); }

private:
    void work();
    // m_mutex held for all of these.
    void enqueue(const std::shared_ptr<DecodeJob> &job, bool mayWait);
    // Has an idle thread look at the work: one that waits for work, else
    // the one that keeps the time.
    void rouse();
    void arm(const std::shared_ptr<DecodeJob> &job, DecodeJob::NextRun next);
    // Queues the jobs whose time has come, and moves the entries it ends
    // to `dropped`; the time the thread keeping the time wakes at next.
    Clock::time_point takeDueJobs(Clock::time_point now, std::vector<std::shared_ptr<DecodeJob>> *dropped);

    std::mutex m_mutex;
    std::condition_variable m_work; // idle threads
    std::condition_variable m_timerWait; // the idle thread that keeps the time
    std::condition_variable m_runEnded; // remove() waiting for a run
    std::deque<std::shared_ptr<DecodeJob>> m_ready;
    std::vector<std::shared_ptr<DecodeJob>> m_timed; // jobs that have or had a time
    int m_awake = 0; // threads not waiting
    int m_idle = 0; // threads waiting on m_work
    int m_wakeups = 0; // of those, told to look for work
    bool m_keeperIdle = false; // a thread waits on m_timerWait
    bool m_keeperRoused = false; // and was told to look
    Clock::time_point m_keeperDeadline; // until then
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};
