#include "GetSystemStatus.h"
#include "LinuxSystemFigures.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

// Figures fed by the test, one sample per call.
class FakeFigures : public SystemFigures
{
public:
    QList<quint64> ticks;
    QList<quint64> processMs;
    QList<SystemTimes> system;
    int processors = 1;
    quint64 workingSet = 0;
    bool workingSetKnown = true;
    quint64 available = 0;

    quint64 tickCountMs() override { return ticks.size() > 1 ? ticks.takeFirst() : ticks.value(0); }
    bool processCpuMs(quint64 *ms) override
    {
        *ms = processMs.size() > 1 ? processMs.takeFirst() : processMs.value(0);
        return true;
    }
    bool systemTimes(SystemTimes *t) override
    {
        *t = system.size() > 1 ? system.takeFirst() : system.value(0);
        return true;
    }
    int processorCount() override { return processors; }
    bool workingSetBytes(quint64 *bytes) override
    {
        *bytes = workingSet;
        return workingSetKnown;
    }
    quint64 availablePhysicalBytes() override { return available; }
};

SystemFigures::SystemTimes times(quint64 idle, quint64 kernel, quint64 user)
{
    SystemFigures::SystemTimes t;
    t.idle = idle;
    t.kernel = kernel;
    t.user = user;
    return t;
}

} // namespace

class TestSystemStatus : public QObject
{
    Q_OBJECT

private slots:
    void appCpu_data()
    {
        QTest::addColumn<int>("processors");
        QTest::addColumn<quint64>("elapsedMs");
        QTest::addColumn<quint64>("usedMs");
        QTest::addColumn<int>("expected");
        QTest::newRow("one of four processors busy") << 4 << quint64(1000) << quint64(1000) << 25;
        QTest::newRow("idle") << 2 << quint64(1000) << quint64(0) << 0;
        QTest::newRow("half of one") << 1 << quint64(1000) << quint64(500) << 50;
        QTest::newRow("late timer over 100 gives 0") << 1 << quint64(1000) << quint64(1500) << 0;
        QTest::newRow("no time passed gives -1") << 1 << quint64(0) << quint64(10) << -1;
    }
    // The first figure uses the sample taken at construction as its base.
    void appCpu()
    {
        QFETCH(int, processors);
        QFETCH(quint64, elapsedMs);
        QFETCH(quint64, usedMs);
        QFETCH(int, expected);
        auto fake = std::make_unique<FakeFigures>();
        fake->processors = processors;
        fake->ticks = { 5000, 5000 + elapsedMs };
        fake->processMs = { 700, 700 + usedMs };
        fake->system = { times(0, 0, 0) };
        CGetSystemStatus status(nullptr, std::move(fake), 100000);
        QCOMPARE(status.GetAppCpuStatus(), expected);
    }

    void systemCpu_data()
    {
        QTest::addColumn<quint64>("idle");
        QTest::addColumn<quint64>("kernel");
        QTest::addColumn<quint64>("user");
        QTest::addColumn<int>("expected");
        // Kernel time includes idle time.
        QTest::newRow("quarter busy") << quint64(750) << quint64(800) << quint64(200) << 25;
        QTest::newRow("all idle") << quint64(1000) << quint64(1000) << quint64(0) << 0;
        QTest::newRow("all busy") << quint64(0) << quint64(600) << quint64(400) << 100;
        QTest::newRow("no time passed gives -1") << quint64(0) << quint64(0) << quint64(0) << -1;
        QTest::newRow("idle above total gives -1") << quint64(2000) << quint64(500) << quint64(0) << -1;
    }
    void systemCpu()
    {
        QFETCH(quint64, idle);
        QFETCH(quint64, kernel);
        QFETCH(quint64, user);
        QFETCH(int, expected);
        auto fake = std::make_unique<FakeFigures>();
        fake->ticks = { 1 };
        fake->processMs = { 0 };
        fake->system = { times(10000, 20000, 30000), times(10000 + idle, 20000 + kernel, 30000 + user) };
        CGetSystemStatus status(nullptr, std::move(fake), 100000);
        QCOMPARE(status.GetSystemCpuStatus(), expected);
    }

    void memory()
    {
        auto fake = std::make_unique<FakeFigures>();
        FakeFigures *f = fake.get();
        f->ticks = { 1 };
        f->processMs = { 0 };
        f->system = { times(0, 0, 0) };
        f->workingSet = 300ull << 20;
        f->available = (5000ull << 20) + 12345;
        CGetSystemStatus status(nullptr, std::move(fake), 100000);
        QCOMPARE(status.GetAppMemory(), 300);
        QCOMPARE(status.GetRemainMemory(), 5000);
        f->workingSet = 70000ull << 20; // kept as a 16-bit value
        QCOMPARE(status.GetAppMemory(), 70000 & 0xFFFF);
        f->workingSetKnown = false;
        QCOMPARE(status.GetAppMemory(), 0);
    }

    void timerEmitsFigures()
    {
        auto fake = std::make_unique<FakeFigures>();
        fake->ticks = { 1000, 2000 };
        fake->processMs = { 0, 100 };
        fake->system = { times(0, 0, 0), times(50, 100, 100) };
        fake->workingSet = 42ull << 20;
        CGetSystemStatus status(nullptr, std::move(fake), 10);
        QSignalSpy spy(&status, &CGetSystemStatus::sendSystemStatusSig);
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.at(0).at(0).toInt(), 10);
        QCOMPARE(spy.at(0).at(1).toInt(), 75);
        QCOMPARE(spy.at(0).at(2).toInt(), 42);
    }

    // The Linux figures read /proc files of the expected shape.
    void linuxFiguresFromProc()
    {
        QTemporaryDir proc;
        QDir().mkpath(proc.filePath(QStringLiteral("self")));
        auto write = [&](const char *name, const QByteArray &text) {
            QFile f(proc.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        };
        write("stat", "cpu  100 20 30 400 50 6 7 8 0 0\ncpu0 1 2 3 4 5 6 7 8 0 0\n");
        write("self/status", "Name:\tx\nVmRSS:\t  20480 kB\nThreads:\t3\n");
        write("meminfo", "MemTotal:  100 kB\nMemFree: 10 kB\nMemAvailable:    2097152 kB\n");
        LinuxSystemFigures figures(proc.path());
        SystemFigures::SystemTimes t;
        QVERIFY(figures.systemTimes(&t));
        const quint64 unit = 10000000ull / quint64(sysconf(_SC_CLK_TCK));
        QCOMPARE(t.user, 120 * unit);
        QCOMPARE(t.idle, 450 * unit);
        QCOMPARE(t.kernel, (30 + 6 + 7 + 8 + 450) * unit);
        quint64 ws = 0;
        QVERIFY(figures.workingSetBytes(&ws));
        QCOMPARE(ws, 20480ull * 1024);
        QCOMPARE(figures.availablePhysicalBytes(), 2097152ull * 1024);
        // And the real ones give sane values.
        LinuxSystemFigures real;
        QVERIFY(real.workingSetBytes(&ws));
        QVERIFY(ws > 0);
        QVERIFY(real.systemTimes(&t));
        QVERIFY(t.kernel >= t.idle);
        QVERIFY(real.processorCount() >= 1);
    }
};

QTEST_GUILESS_MAIN(TestSystemStatus)
#include "tst_system_status.moc"
