#include "MyThread.h"

#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

struct Probe
{
    std::atomic<int> calls { 0 };
    QSemaphore entered;
    QSemaphore release;
    bool blocks = false;
};

void probeCallback(void *argument)
{
    auto *probe = static_cast<Probe *>(argument);
    probe->entered.release();
    if (probe->blocks)
        probe->release.acquire();
    ++probe->calls;
}

} // namespace

class TestMyThread : public QObject
{
    Q_OBJECT

private slots:
    void runs_data()
    {
        QTest::addColumn<bool>("withCallback");
        QTest::addColumn<int>("starts");
        QTest::addColumn<int>("calls");
        QTest::newRow("no callback ends at once") << false << 1 << 0;
        QTest::newRow("one start, one call") << true << 1 << 1;
        QTest::newRow("started again after finishing") << true << 3 << 3;
    }
    void runs()
    {
        QFETCH(bool, withCallback);
        QFETCH(int, starts);
        QFETCH(int, calls);
        Probe probe;
        CMyThread thread;
        if (withCallback)
            thread.setCallback(probeCallback, &probe);
        for (int i = 0; i < starts; ++i) {
            thread.start();
            QVERIFY(thread.wait(10000));
        }
        QCOMPARE(probe.calls.load(), calls);
    }

    // The destructor waits for a callback that is still running.
    void destructorWaits()
    {
        Probe probe;
        probe.blocks = true;
        auto *thread = new CMyThread;
        thread->setCallback(probeCallback, &probe);
        thread->start();
        probe.entered.acquire();
        std::thread releaser([&probe] { probe.release.release(); });
        delete thread; // returns only after the callback has finished
        QCOMPARE(probe.calls.load(), 1);
        releaser.join();
    }
};

QTEST_GUILESS_MAIN(TestMyThread)
#include "tst_my_thread.moc"
