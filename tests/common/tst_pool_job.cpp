// Jobs on a thread pool see what their starter wrote, and the waiter sees
// what the jobs wrote, also when a job waits in the pool's queue behind a busy
// worker. Under ThreadSanitizer a missing order is reported as a race: the
// worker is held with a QSemaphore, whose lock the sanitizer cannot see, so
// only the pool calls themselves can order the plain ints below.
#include "common/PoolJob.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Keeps every worker of a pool busy until let go, so that the jobs started
// meanwhile wait in the pool's queue.
class HeldWorkers
{
public:
    HeldWorkers(QThreadPool &pool, int workers)
        : m_workers(workers)
    {
        pool.setMaxThreadCount(workers);
        for (int i = 0; i < workers; ++i)
            PoolJob::start(pool, [this] {
                m_held.release();
                m_letGo.acquire();
            });
        m_held.acquire(workers);
    }
    void letGo() { m_letGo.release(m_workers); }

private:
    int m_workers;
    QSemaphore m_held;
    QSemaphore m_letGo;
};

} // namespace

class TestPoolJob : public QObject
{
    Q_OBJECT
private slots:
    void queuedJobs_data()
    {
        QTest::addColumn<int>("workers");
        QTest::addColumn<int>("jobs");
        QTest::newRow("one worker, one queued job") << 1 << 1;
        QTest::newRow("one worker, many queued jobs") << 1 << 16;
        QTest::newRow("two workers, many queued jobs") << 2 << 16;
    }

    // Every worker is held busy; the jobs started meanwhile wait in the queue
    // and must still see the values written before their start.
    void queuedJobs()
    {
        QFETCH(int, workers);
        QFETCH(int, jobs);
        QThreadPool pool;
        HeldWorkers held(pool, workers);

        std::vector<int> input(size_t(jobs), 0);
        std::vector<int> output(size_t(jobs), 0);
        for (int i = 0; i < jobs; ++i) {
            input[size_t(i)] = 3 * i + 1;
            auto shared = std::make_shared<int>(i);
            PoolJob::start(
                pool, [&input, &output, shared] { output[size_t(*shared)] = input[size_t(*shared)] * 2; });
        }
        held.letGo();
        PoolJob::waitForDone(pool);
        for (int i = 0; i < jobs; ++i)
            QCOMPARE(output[size_t(i)], (3 * i + 1) * 2);
    }

    // Jobs handed over by other threads, to a worker another thread created.
    void startersOnOtherThreads()
    {
        QThreadPool pool;
        HeldWorkers held(pool, 1);

        constexpr int kStarters = 4;
        int values[kStarters] = {};
        int results[kStarters] = {};
        std::vector<std::unique_ptr<QThread>> starters;
        QSemaphore started;
        for (int i = 0; i < kStarters; ++i) {
            starters.emplace_back(QThread::create([&, i] {
                values[i] = 100 + i;
                PoolJob::start(pool, [&, i] { results[i] = values[i] + 1; });
                started.release();
            }));
            starters.back()->start();
        }
        started.acquire(kStarters);
        held.letGo();
        PoolJob::waitForDone(pool);
        for (auto &starter : starters)
            QVERIFY(starter->wait(10000));
        for (int i = 0; i < kStarters; ++i)
            QCOMPARE(results[i], 101 + i);
    }
};

QTEST_GUILESS_MAIN(TestPoolJob)
#include "tst_pool_job.moc"
