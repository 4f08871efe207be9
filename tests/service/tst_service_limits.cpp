// One bad page or player hurts only its own session: QuorvelTool against
// pages on Python's websockets and plain sockets (hostile_page.py) and the
// player double. Oversized messages, pages and players that stop reading,
// more pages than the service takes, players that die, and no safe runtime
// folder.

#include "LineProcess.h"
#include "ServiceTestSupport.h"

#include <QJsonArray>
#include <QtTest>

#include <memory>
#include <signal.h>
#include <unistd.h>

using namespace ServiceTest;

namespace {

constexpr int kMiB = 1024 * 1024;
// How long a page waits for the service's verdict; generous for the
// sanitizer build on a busy machine.
constexpr int kVerdictMs = 120000;
// What the service may keep of a large message once it is handled.
constexpr qint64 kRssAllowance = 160LL * kMiB;

qint64 residentBytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// Starts hostile_page.py; it holds its connections until the test ends.
void startHostile(LineProcess &page, const QStringList &args)
{
    page.start(QStringLiteral("/usr/bin/python3"), QStringList { testFile("hostile_page.py") } + args);
}

// Its next verdict line.
QJsonObject verdict(LineProcess &page)
{
    return QJsonDocument::fromJson("{" + page.take(QStringLiteral("{"), kVerdictMs).toUtf8()).object();
}

} // namespace

class TestServiceLimits : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServiceCopy> m_copy;
    std::unique_ptr<QProcess> m_service;
    int m_port = 0;

    bool startService(const QMap<QString, QString> &env = {})
    {
        m_copy = std::make_unique<ServiceCopy>();
        if (!m_copy->prepare())
            return false;
        m_copy->extraEnv = env;
        m_service = m_copy->start(&m_port);
        return m_port > 0;
    }
    int playersStarted() const { return m_copy->startedPlayers().size(); }
    int playersRunning() const { return m_copy->playersRunning(); }

private slots:
    void cleanup()
    {
        stopService(m_service);
        m_copy.reset();
    }

    // Over the link's frame cap a page message closes its page with 1009,
    // whole or in pieces, before the service holds it; under it, it is
    // relayed. Either way the memory goes back and other pages go on.
    void oversizedPageMessage_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<int>("closeCode"); // 0: answered
        QTest::newRow("17 MiB in one frame") << 17 * kMiB << 1 << 1009;
        QTest::newRow("17 MiB in 17 frames") << 17 * kMiB << 17 << 1009;
        QTest::newRow("12 MiB, relayed") << 12 * kMiB << 1 << 0;
    }
    void oversizedPageMessage()
    {
        QFETCH(int, size);
        QFETCH(int, pieces);
        QFETCH(int, closeCode);
        // A sanitizer build keeps freed memory in quarantine unless told not to.
        QVERIFY(startService({ { QStringLiteral("ASAN_OPTIONS"),
            QStringLiteral(
                "detect_leaks=1:quarantine_size_mb=0:allocator_release_to_os_interval_ms=100") } }));
        PageClient other(wsUrl(m_port));
        QVERIFY(other.opened());
        QVERIFY(answers(other, 1));
        const qint64 before = residentBytes(m_service->processId());
        QVERIFY(before > 0);

        LineProcess page;
        startHostile(
            page, { wsUrl(m_port), QStringLiteral("big"), QString::number(size), QString::number(pieces) });
        const QJsonObject seen = verdict(page);
        if (closeCode) {
            QCOMPARE(seen.value(QStringLiteral("code")).toInt(), closeCode);
        } else {
            QCOMPARE(seen.value(QStringLiteral("event")).toString(), QStringLiteral("message"));
            QVERIFY(seen.value(QStringLiteral("size")).toInt() > size);
        }
        QVERIFY(answers(other, 2));
        const auto settled = [&] { return residentBytes(m_service->processId()) < before + kRssAllowance; };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 30000);
        qInfo("service resident: %lld KiB before, %lld KiB after", before / 1024,
            residentBytes(m_service->processId()) / 1024);
    }

    // A peer that leaves more than the bound unread, or a page that sends more
    // than it while its player starts, ends its own session the way a closed
    // page does; another session goes on answering.
    void unreadBytesEndTheSession_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("silentSession"); // whose player never connects; 0: none
        QTest::addColumn<int>("closeCode"); // what the flooding page sees; 0: it never reads
        // 24 answers of 4 MiB for a page that never reads them.
        QTest::newRow("page never reads") << "deaf" << 24 << 4 * kMiB << 0 << 0;
        // 24 requests of 4 MiB for a player that stopped reading.
        QTest::newRow("player never reads") << "flood" << 24 << 4 * kMiB << 0 << 1011;
        // 700000 pings for a page that never reads the pongs Qt sends back.
        QTest::newRow("pongs never read") << "pings" << 700000 << 125 << 0 << 0;
        // 24 requests of 4 MiB while the page's player is still starting.
        QTest::newRow("player still starting") << "starting" << 24 << 4 * kMiB << 2 << 1011;
    }
    void unreadBytesEndTheSession()
    {
        QFETCH(QString, mode);
        QFETCH(int, count);
        QFETCH(int, size);
        QFETCH(int, silentSession);
        QFETCH(int, closeCode);
        QVERIFY(startService(
            { { QStringLiteral("QV_DOUBLE_SILENT_SESSIONS"), QString::number(silentSession) } }));
        PageClient other(wsUrl(m_port));
        QVERIFY(other.opened());
        QVERIFY(answers(other, 1));

        LineProcess page;
        startHostile(page, { wsUrl(m_port), mode, QString::number(count), QString::number(size) });
        const QJsonObject seen = verdict(page);
        if (closeCode) {
            // The service reads what the page still sends until the page has
            // taken the close frame: the code arrives, not a reset.
            QCOMPARE(seen.value(QStringLiteral("code")).toInt(), closeCode);
        } else {
            // Sent, or cut off by the service before the page was done.
            QVERIFY2(QStringList({ QStringLiteral("sent"), QStringLiteral("cut") })
                         .contains(seen.value(QStringLiteral("event")).toString()),
                qPrintable(QJsonDocument(seen).toJson()));
        }
        // The session ends: its player loses its link and ends.
        QTRY_COMPARE_WITH_TIMEOUT(playersRunning(), 1, kVerdictMs);
        QVERIFY(answers(other, 2));
        QCOMPARE(m_service->state(), QProcess::Running);
    }

    // Pages over the bound are closed with 1013 ("try again later") and get
    // no player; those within it are served.
    void sessionsOverTheBoundAreRefused_data()
    {
        QTest::addColumn<int>("pages");
        // The pages over the bound come last; each costs a player double.
        QTest::newRow("three over") << 67;
    }
    void sessionsOverTheBoundAreRefused()
    {
        QFETCH(int, pages);
        const int bound = 64;
        QVERIFY(startService());
        LineProcess crowd;
        startHostile(crowd, { wsUrl(m_port), QStringLiteral("sessions"), QString::number(pages) });
        const QJsonObject seen = verdict(crowd);
        QCOMPARE(seen.value(QStringLiteral("replies")).toInt(), bound);
        QJsonArray expected;
        for (int i = bound; i < pages; ++i)
            expected.append(1013);
        QCOMPARE(seen.value(QStringLiteral("codes")).toArray(), expected);
        QCOMPARE(playersStarted(), bound);
    }

    // A player that dies closes its page with 1011; the page can come back
    // and gets a new player.
    void deadPlayerClosesItsPage_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("kill -9") << true;
        QTest::newRow("ends by itself") << false;
    }
    void deadPlayerClosesItsPage()
    {
        QFETCH(bool, kill);
        QVERIFY(startService());
        {
            PageClient page(wsUrl(m_port));
            QVERIFY(page.opened());
            QVERIFY(answers(page, 1));
            if (kill) {
                const QStringList started = eventFiles(m_copy->eventDir, QStringLiteral("start"));
                QCOMPARE(started.size(), 1);
                QCOMPARE(::kill(pid_t(pidOfEventFile(started.first())), SIGKILL), 0);
            } else {
                QVERIFY(page.send(QStringLiteral("{\"MainType\":9107,\"MsgID\":2}")));
            }
            QCOMPARE(page.receiveEvent(60).value(QStringLiteral("code")).toInt(), 1011);
        }
        PageClient again(wsUrl(m_port));
        QVERIFY(again.opened());
        QVERIFY(answers(again, 3));
        QCOMPARE(playersStarted(), 2);
    }

    // With no runtime folder from the environment and the shared fallback
    // name taken by another user, the service uses one in the home, or ends
    // with a non-zero code and the reason when the home is no safe place.
    void runtimeFolderTaken_data()
    {
        QTest::addColumn<bool>("safeHome");
        QTest::newRow("home usable") << true;
        QTest::newRow("home writable by all") << false;
    }
    void runtimeFolderTaken()
    {
        QFETCH(bool, safeHome);
        if (::getuid() != 0)
            QSKIP("only root can make a folder of another user");
        m_copy = std::make_unique<ServiceCopy>();
        QVERIFY(m_copy->prepare());
        QTemporaryDir tmp;
        QTemporaryDir home;
        const QString taken = tmp.path() + QStringLiteral("/runtime-0");
        QVERIFY(QDir().mkdir(taken));
        QCOMPARE(::chown(QFile::encodeName(taken).constData(), 65534, 65534), 0);
        ::chmod(QFile::encodeName(home.path()).constData(), safeHome ? 0700 : 0777);
        QProcessEnvironment env = m_copy->environment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        env.insert(QStringLiteral("HOME"), home.path());

        m_service = std::make_unique<QProcess>();
        m_service->setProcessEnvironment(env);
        m_service->start(m_copy->program(), QStringList());
        if (safeHome) {
            QTRY_VERIFY_WITH_TIMEOUT(
                m_service->canReadLine() || m_service->state() == QProcess::NotRunning, 30000);
            const QString line = QString::fromUtf8(m_service->readLine());
            QVERIFY2(line.contains(QStringLiteral("ws://127.0.0.1:")), qPrintable(line));
            QVERIFY(line.contains(home.path() + QStringLiteral("/.runtime-0/")));
        } else {
            QVERIFY(m_service->waitForFinished(30000));
            QCOMPARE(m_service->exitStatus(), QProcess::NormalExit);
            QCOMPARE(m_service->exitCode(), 1);
            QVERIFY(QString::fromUtf8(m_service->readAllStandardError())
                        .contains(QStringLiteral("runtime folder")));
        }
    }
};

QTEST_GUILESS_MAIN(TestServiceLimits)
#include "tst_service_limits.moc"
