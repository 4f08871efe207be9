// The customiser's steps on workers: at most so many at once, one session's
// steps in order, their ends on the owner's thread, stopping a session (a
// real analysis with an extractor stand-in that would sleep for minutes).

#include "DiyFirmware.h"
#include "DiySteps.h"
#include "FirmwareTestSupport.h"

#include <QThread>

#include <atomic>
#include <mutex>

using namespace FirmwareTest;

namespace {

// Holds every step's work until the test lets it go.
struct Gate
{
    std::atomic<int> running { 0 };
    std::atomic<int> most { 0 };
    std::atomic<bool> open { false };
    std::mutex mutex;
    QList<int> order; // work starts, by step number; read through starts()

    QList<int> starts()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return order;
    }

    std::function<void()> work(int step, const std::shared_ptr<const std::atomic<bool>> &stop = nullptr)
    {
        return [this, step, stop] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                order.append(step);
            }
            const int now = ++running;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) { }
            while (!open.load() && !(stop && stop->load()))
                QThread::msleep(2);
            --running;
        };
    }
};

} // namespace

class TestDiySteps : public QObject
{
    Q_OBJECT

private slots:
    void ordering_data();
    void ordering();
    void stopping_data();
    void stopping();
    void stopsAnExtractor();
};

void TestDiySteps::ordering_data()
{
    QTest::addColumn<QList<int>>("sessions"); // the session of each step, in start order
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("atOnce"); // steps running while the gate is closed

    QTest::newRow("bounded") << QList<int> { 1, 2, 3, 4, 5, 6 } << 2 << 2;
    QTest::newRow("one session, one at a time") << QList<int> { 7, 7, 7 } << 4 << 1;
    QTest::newRow("mixed") << QList<int> { 1, 1, 2, 3, 2 } << 4 << 3;
}

void TestDiySteps::ordering()
{
    QFETCH(QList<int>, sessions);
    QFETCH(int, workers);
    QFETCH(int, atOnce);
    QTemporaryDir dir;
    CDiyFirmware firmware(dir.path());
    DiySteps steps(&firmware, nullptr, workers);
    Gate gate;
    QList<int> ends;
    bool elsewhere = true;
    for (int i = 0; i < sessions.size(); ++i)
        steps.start(sessions.at(i), gate.work(i), [&, i](bool stopped) {
            QVERIFY(!stopped);
            elsewhere = elsewhere && QThread::currentThread() == thread();
            ends.append(i);
        });
    QTRY_COMPARE(gate.running.load(), atOnce);
    QVERIFY(ends.isEmpty());
    QVERIFY(steps.busy(sessions.first()));
    gate.open = true;
    QTRY_COMPARE(ends.size(), sessions.size());
    QCOMPARE(gate.most.load(), atOnce);
    QVERIFY(elsewhere);
    // Within a session, starts and ends keep the order the steps came in.
    const QList<int> order = gate.starts();
    for (int session : sessions) {
        QList<int> started, ended;
        for (int i : order)
            if (sessions.at(i) == session)
                started.append(i);
        for (int i : ends)
            if (sessions.at(i) == session)
                ended.append(i);
        QCOMPARE(ended, started);
        QVERIFY(std::is_sorted(started.begin(), started.end()));
    }
    QVERIFY(!steps.busy(sessions.first()));
}

void TestDiySteps::stopping_data()
{
    QTest::addColumn<bool>("destroy"); // stop by destroying the runner instead
    QTest::newRow("the page leaves") << false;
    QTest::newRow("the service ends") << true;
}

// A stopped session's running step ends early, its waiting one never runs;
// both report stopped. A runner being destroyed reports nothing.
void TestDiySteps::stopping()
{
    QFETCH(bool, destroy);
    QTemporaryDir dir;
    CDiyFirmware firmware(dir.path());
    auto steps = std::make_unique<DiySteps>(&firmware);
    Gate gate;
    QList<bool> ends;
    steps->start(1, gate.work(0, firmware.stopFlag(1)), [&](bool stopped) { ends.append(stopped); });
    steps->start(1, gate.work(1), [&](bool stopped) { ends.append(stopped); });
    steps->start(2, gate.work(2, firmware.stopFlag(2)), [&](bool stopped) { ends.append(stopped); });
    QTRY_COMPARE(gate.running.load(), 2);
    if (destroy) {
        steps.reset();
        QCoreApplication::processEvents();
        QVERIFY(ends.isEmpty());
    } else {
        QVERIFY(steps->stop(1));
        QVERIFY(!steps->stop(3));
        QTRY_COMPARE(ends, (QList<bool> { true, true }));
        QVERIFY(!steps->busy(1));
        QVERIFY(steps->busy(2));
        QVERIFY(!firmware.stopFlag(2)->load());
    }
    QCOMPARE(gate.starts().count(1), 0);
}

// A page that leaves while its package's squashfs partition is extracted: the
// extractor is killed and reaped at once, not after its time limit.
void TestDiySteps::stopsAnExtractor()
{
    QTemporaryDir dir;
    const QString tree = dir.path() + QStringLiteral("/custom");
    QVERIFY(writeFile(tree + QStringLiteral("/FirmwareInfo"), "NET_UPGRADE_FILE=IPC_1\n"));
    const QString package = dir.path() + QStringLiteral("/fw.zip");
    QVERIFY(makeCustomPackage(package, R"({"Hardware":"IPC5M","UpgradeCommand":[]})",
        QStringLiteral("squashfs"), tree, dir.path()));
    const QString extractor = dir.path() + QStringLiteral("/unsquashfs");
    QVERIFY(writeFile(extractor,
        "#!/bin/sh\n[ \"$1\" = -lls ] && exit 0\necho $$ > \"$0.tmp\"; mv \"$0.tmp\" \"$0.pid\"\nexec sleep "
        "600\n"));
    QVERIFY(QFile::setPermissions(extractor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    CDiyFirmware firmware(dir.path());
    firmware.setUnsquashfsProgram(extractor);
    auto *record = new DiySessionInfo;
    std::memset(record, 0, sizeof(*record));
    const QString unzip = dir.path() + QStringLiteral("/UnZip/fw_5");
    QVERIFY(DiyText::set(record->unzipFolder, unzip));
    QVERIFY(
        DiyText::set(record->programFolder, CDiyFirmware::createPath(unzip + QStringLiteral("/Program"))));
    QCOMPARE(firmware.addSessionInfo(5, record), 100);

    DiySteps steps(&firmware);
    int result = 0;
    bool reported = false;
    bool stopped = false;
    steps.start(
        5, [&] { result = firmware.dealUnzipWithProgram(package, 5); },
        [&](bool wasStopped) {
            reported = true;
            stopped = wasStopped;
        });
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(extractor + QStringLiteral(".pid")), 30000);
    const QString pid = QString::fromLatin1(readFile(extractor + QStringLiteral(".pid")).trimmed());
    QVERIFY(QFileInfo::exists(QStringLiteral("/proc/") + pid));
    QVERIFY(steps.stop(5));
    QTRY_VERIFY_WITH_TIMEOUT(reported, 20000);
    QVERIFY(stopped);
    QCOMPARE(result, 300003);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/") + pid));
    QVERIFY(!QFileInfo::exists(unzip + QStringLiteral("/custom-x/root")));
}

QTEST_GUILESS_MAIN(TestDiySteps)
#include "tst_diy_steps.moc"
