// The play ports' decode pool on its own: one job never runs on two threads
// at once, its wakes are never lost and its work stays in order; a job runs
// at the time it asked for; a removed job never runs again and is let go of,
// also when removed from its own run or when the pool ends first.

#include "DecodePool.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = DecodeJob::Clock;

// Holds the calling run's thread until `release` is set.
void waitFor(const std::atomic<bool> &release)
{
    while (!release)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Lets blocked runs go when a test ends early (a failed check), before the
// pool, made first, waits for them.
struct ReleaseAtEnd
{
    std::atomic<bool> &release;
    ~ReleaseAtEnd() { release = true; }
};
// A time a job asks for that is still to come when the test removes it.
constexpr std::chrono::milliseconds kPending { 300 };

// A job that takes the items handed to it, in the order they came, and
// notes whether two of its runs ever overlapped.
class TestJob : public DecodeJob
{
public:
    // Runs inside each run, after the items were taken; its result is the run's.
    std::function<NextRun(TestJob &)> body;

    void give(int item)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_given.push_back(item);
    }
    std::vector<int> taken()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_taken;
    }

    std::atomic<int> runs { 0 };
    std::atomic<int> overlaps { 0 };
    std::atomic<bool> running { false };
    std::atomic<int64_t> lastRunAt { 0 }; // steady clock, nanoseconds

    NextRun runJob() override
    {
        if (running.exchange(true))
            ++overlaps;
        ++runs;
        lastRunAt = Clock::now().time_since_epoch().count();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_taken.insert(m_taken.end(), m_given.begin(), m_given.end());
            m_given.clear();
        }
        NextRun next = body ? body(*this) : NextRun {};
        running = false;
        return next;
    }

private:
    std::mutex m_mutex;
    std::vector<int> m_given;
    std::vector<int> m_taken;
};

} // namespace

class TestDecodePool : public QObject
{
    Q_OBJECT

private slots:
    // Producers hand items to jobs and wake them, as stream input wakes the
    // ports: every item is taken, each job's items in the order given,
    // never by two runs at once.
    void wakesKeepEachJobsOrder_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("producers"); // each feeds every job
        QTest::addColumn<bool>("mayWait");
        QTest::addColumn<int>("runMicroseconds"); // work in each run

        QTest::newRow("one job, one thread, woken at once") << 1 << 1 << 1 << false << 0;
        QTest::newRow("one job woken from four threads") << 4 << 1 << 4 << false << 0;
        QTest::newRow("many jobs, few threads") << 3 << 32 << 2 << false << 20;
        QTest::newRow("many jobs on the pool's tick") << 4 << 32 << 2 << true << 20;
        QTest::newRow("more threads than jobs") << 8 << 2 << 4 << true << 100;
    }

    void wakesKeepEachJobsOrder()
    {
        QFETCH(int, threads);
        QFETCH(int, jobs);
        QFETCH(int, producers);
        QFETCH(bool, mayWait);
        QFETCH(int, runMicroseconds);
        constexpr int kItems = 300;

        DecodePool pool(threads);
        QCOMPARE(pool.threadCount(), threads);
        std::vector<std::shared_ptr<TestJob>> all;
        for (int j = 0; j < jobs; ++j) {
            all.push_back(std::make_shared<TestJob>());
            all.back()->body = [runMicroseconds](TestJob &) {
                std::this_thread::sleep_for(std::chrono::microseconds(runMicroseconds));
                return DecodeJob::NextRun {};
            };
        }
        // Producer p gives the items p, p + producers, p + 2 * producers...
        std::vector<std::thread> feeding;
        for (int p = 0; p < producers; ++p) {
            feeding.emplace_back([&, p] {
                for (int i = 0; i < kItems; ++i) {
                    for (const std::shared_ptr<TestJob> &job : all) {
                        job->give(p + i * producers);
                        pool.wake(job, mayWait);
                    }
                }
            });
        }
        for (std::thread &t : feeding)
            t.join();

        for (const std::shared_ptr<TestJob> &job : all) {
            QTRY_COMPARE_WITH_TIMEOUT(int(job->taken().size()), kItems * producers, 10000);
            QCOMPARE(job->overlaps.load(), 0);
            std::vector<int> last(size_t(producers), -1);
            for (int item : job->taken()) {
                const int p = item % producers;
                QVERIFY2(item > last[size_t(p)], "a producer's items were taken out of order");
                last[size_t(p)] = item;
            }
            pool.remove(job.get());
        }
    }

    // A job asks when it runs next: exactly at a time, on the pool's first
    // tick after it, or at once after the others; woken before its time it
    // runs then, and its time is void.
    void runsAtTheTimeItAskedFor_data()
    {
        QTest::addColumn<int>("afterMs"); // the time it asks for, from the end of its first run
        QTest::addColumn<bool>("exact");
        QTest::addColumn<bool>("wokenBefore");
        QTest::addColumn<int>("expectedRuns");

        QTest::newRow("exact time") << 60 << true << false << 2;
        QTest::newRow("on a tick") << 60 << false << false << 2;
        QTest::newRow("at once, after the others") << 0 << true << false << 2;
        QTest::newRow("woken before its time") << 400 << true << true << 2;
    }

    void runsAtTheTimeItAskedFor()
    {
        QFETCH(int, afterMs);
        QFETCH(bool, exact);
        QFETCH(bool, wokenBefore);
        QFETCH(int, expectedRuns);

        DecodePool pool(2);
        auto job = std::make_shared<TestJob>();
        std::atomic<int64_t> askedFor { 0 };
        job->body = [&](TestJob &j) {
            if (j.runs > 1)
                return DecodeJob::NextRun {};
            const Clock::time_point at = Clock::now() + std::chrono::milliseconds(afterMs);
            askedFor = at.time_since_epoch().count();
            return DecodeJob::NextRun { at, exact };
        };
        pool.wake(job);
        QTRY_VERIFY(job->runs.load() >= 1);
        if (wokenBefore) {
            QTest::qWait(50);
            QCOMPARE(job->runs.load(), 1);
            pool.wake(job);
        }
        QTRY_COMPARE(job->runs.load(), expectedRuns);
        if (!wokenBefore)
            QVERIFY(job->lastRunAt.load() >= askedFor.load());
        else
            QVERIFY(job->lastRunAt.load() < askedFor.load());
        // Its time was void after the wake: no third run when it comes.
        QTest::qWait(wokenBefore ? afterMs : 100);
        QCOMPARE(job->runs.load(), expectedRuns);
        pool.remove(job.get());
    }

    // A run that blocks its thread holds up no other job for long: another
    // thread takes them, whether they were woken at once or for the tick.
    void blockedRunHoldsUpNoOther_data()
    {
        QTest::addColumn<bool>("mayWait");
        QTest::newRow("woken at once") << false;
        QTest::newRow("woken for the tick") << true;
    }

    void blockedRunHoldsUpNoOther()
    {
        QFETCH(bool, mayWait);
        DecodePool pool(2);
        std::atomic<bool> release { false };
        const ReleaseAtEnd guard { release };
        auto blocker = std::make_shared<TestJob>();
        blocker->body = [&](TestJob &) {
            waitFor(release);
            return DecodeJob::NextRun {};
        };
        // The other thread keeps the time for a job that asked for a far one.
        auto far = std::make_shared<TestJob>();
        far->body = [](TestJob &j) {
            return j.runs == 1 ? DecodeJob::NextRun { Clock::now() + std::chrono::seconds(30), true }
                               : DecodeJob::NextRun {};
        };
        pool.wake(far);
        QTRY_COMPARE(far->runs.load(), 1);
        pool.wake(blocker);
        QTRY_VERIFY(blocker->running.load());
        auto other = std::make_shared<TestJob>();
        pool.wake(other, mayWait);
        QTRY_COMPARE(other->runs.load(), 1);
        QVERIFY(blocker->running.load());
        release = true;
        pool.remove(blocker.get());
        pool.remove(other.get());
        pool.remove(far.get());
    }

    // However a job leaves, remove() returns with no run in progress (other
    // than the caller's own), no run after it, and the pool holding nothing
    // of the job.
    void removedJobNeverRunsAgain_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("waiting to run") << "queued";
        QTest::newRow("while it runs") << "running";
        QTest::newRow("from within its own run") << "own run";
        QTest::newRow("with a time pending") << "timed";
        QTest::newRow("woken after it was removed") << "woken after";
        QTest::newRow("the pool ends first") << "pool ends";
    }

    void removedJobNeverRunsAgain()
    {
        QFETCH(QString, how);
        auto pool = std::make_unique<DecodePool>(how == "queued" ? 1 : 2);
        auto job = std::make_shared<TestJob>();
        std::weak_ptr<TestJob> weak = job;
        std::atomic<bool> release { false };
        const ReleaseAtEnd guard { release };
        std::atomic<bool> runEnded { false };
        int runsAtRemove = 0;

        if (how == "queued") {
            // The pool's one thread is held by another job meanwhile.
            auto blocker = std::make_shared<TestJob>();
            blocker->body = [&](TestJob &) {
                waitFor(release);
                return DecodeJob::NextRun {};
            };
            pool->wake(blocker);
            QTRY_COMPARE(blocker->runs.load(), 1);
            pool->wake(job);
            pool->remove(job.get());
            release = true;
            QTRY_VERIFY(!blocker->running.load());
            pool->remove(blocker.get());
        } else if (how == "running") {
            job->body = [&](TestJob &) {
                waitFor(release);
                runEnded = true;
                return DecodeJob::NextRun { Clock::now(), true }; // would run again
            };
            pool->wake(job);
            QTRY_VERIFY(job->running.load());
            std::thread releaser([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                release = true;
            });
            pool->remove(job.get());
            QVERIFY(runEnded.load()); // remove() waited for the run
            releaser.join();
        } else if (how == "own run") {
            DecodePool *p = pool.get();
            job->body = [&, p](TestJob &j) {
                p->remove(&j);
                runEnded = true;
                return DecodeJob::NextRun { Clock::now(), true };
            };
            pool->wake(job);
            QTRY_VERIFY(runEnded.load());
        } else if (how == "timed") {
            job->body = [](TestJob &) {
                return DecodeJob::NextRun { Clock::now() + std::chrono::milliseconds(60), true };
            };
            pool->wake(job);
            QTRY_COMPARE(job->runs.load(), 1);
            pool->remove(job.get());
        } else if (how == "woken after") {
            pool->wake(job);
            QTRY_COMPARE(job->runs.load(), 1);
            pool->remove(job.get());
            pool->wake(job);
            pool->wake(job, true);
        } else if (how == "pool ends") {
            job->body = [](TestJob &) {
                return DecodeJob::NextRun { Clock::now() + std::chrono::seconds(10), true };
            };
            pool->wake(job);
            QTRY_COMPARE(job->runs.load(), 1);
            pool.reset();
        }
        runsAtRemove = job->runs.load();
        QTest::qWait(int(kPending.count()) + 100);
        QCOMPARE(job->runs.load(), runsAtRemove);
        QCOMPARE(job->overlaps.load(), 0);
        job.reset();
        QVERIFY2(weak.expired(), "the pool still holds the job");
    }
};

QTEST_GUILESS_MAIN(TestDecodePool)
#include "tst_decode_pool.moc"
