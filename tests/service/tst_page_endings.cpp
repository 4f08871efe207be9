// How page sessions end, against QuorvelTool (the sanitizer build in the dev
// preset) and real peers: pages on plain sockets, node's ws and Python's
// websockets that reset while their answers are being written; pages the
// service closes while they are still sending, which must see the close code
// and not a reset; and the service ended by SIGTERM or SIGINT.

#include "LineProcess.h"
#include "ServiceTestSupport.h"

#include <QJsonArray>
#include <QtTest>

#include <memory>
#include <signal.h>

using namespace ServiceTest;

namespace {

// Generous for the sanitizer build on a busy machine.
constexpr int kOutcomeMs = 90000;

QJsonObject lineOf(LineProcess &peer, int timeoutMs = kOutcomeMs)
{
    const QString line = peer.take(QStringLiteral("{"), timeoutMs);
    return line.isNull() ? QJsonObject() : QJsonDocument::fromJson("{" + line.toUtf8()).object();
}

void startNode(LineProcess &peer, const QStringList &args)
{
    peer.start(QStringLiteral("/usr/bin/node"),
        QStringList { testFile(QStringLiteral("close_page_node.js")) } + args);
}

} // namespace

class TestPageEndings : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServiceCopy> m_copy;
    std::unique_ptr<QProcess> m_service;
    int m_port = 0;

    bool startService()
    {
        m_copy = std::make_unique<ServiceCopy>();
        if (!m_copy->prepare())
            return false;
        m_service = m_copy->start(&m_port);
        return m_port > 0;
    }
    int playersRunning() const { return m_copy->playersRunning(); }
    // The service still runs and has reported no memory error.
    bool serviceSound()
    {
        const QByteArray errors = m_service->readAllStandardError();
        if (errors.contains("AddressSanitizer") || errors.contains("runtime error"))
            qWarning("%s", errors.right(4000).constData());
        return m_service->state() == QProcess::Running && !errors.contains("AddressSanitizer");
    }

private slots:
    void cleanup()
    {
        stopService(m_service);
        m_copy.reset();
    }

    // A page that asks for answers, stops reading and resets its connection
    // while the answers are written ends its own session, whichever send
    // meets the reset: the service goes on and another page is answered.
    void resetDuringSend_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("count");
        // kind: reply (answers of 64 KiB), key (session key replies), keyed
        // (encrypted answers), event (bursts of events), page (the service's
        // own firmware replies).
        for (const char *kind : { "reply", "key", "keyed", "event", "page" })
            QTest::addRow("plain socket, %s", kind) << "raw" << kind << (qstrcmp(kind, "page") ? 400 : 4000);
        QTest::newRow("node ws, reply") << "node"
                                        << "reply" << 400;
        QTest::newRow("node ws, keyed") << "node"
                                        << "keyed" << 2000;
        QTest::newRow("node ws, event") << "node"
                                        << "event" << 40;
        QTest::newRow("websockets, key") << "websockets"
                                         << "key" << 400;
        QTest::newRow("websockets, reply") << "websockets"
                                           << "reply" << 400;
        QTest::newRow("websockets, page") << "websockets"
                                          << "page" << 4000;
    }
    void resetDuringSend()
    {
        QFETCH(QString, peer);
        QFETCH(QString, kind);
        QFETCH(int, count);
        QVERIFY(startService());
        PageClient other(wsUrl(m_port));
        QVERIFY(other.opened());
        QVERIFY(answers(other, 1));

        // A few rounds: the reset meets the writes at a different point each time.
        for (int round = 0; round < 3; ++round) {
            LineProcess page;
            if (peer == QLatin1String("node")) {
                page.start(QStringLiteral("/usr/bin/node"),
                    { testFile(QStringLiteral("reset_page_node.js")), wsUrl(m_port), kind,
                        QString::number(count) });
            } else {
                page.start(QStringLiteral("/usr/bin/python3"),
                    { testFile(QStringLiteral("hostile_page.py")), wsUrl(m_port),
                        peer == QLatin1String("raw") ? QStringLiteral("reset") : QStringLiteral("reset-ws"),
                        kind, QString::number(count) });
            }
            // The page goes on once its player has been started: every
            // round meets a player to end, whether it has begun to run or not.
            QCOMPARE(lineOf(page).value(QStringLiteral("event")).toString(), QStringLiteral("open"));
            QTRY_COMPARE_WITH_TIMEOUT(livingChildren(m_service->processId()), 2, kOutcomeMs);
            page.write("go");
            QCOMPARE(lineOf(page).value(QStringLiteral("event")).toString(), QStringLiteral("reset"));
            // The reset page's session ends: its player loses its link and ends.
            QTRY_COMPARE_WITH_TIMEOUT(livingChildren(m_service->processId()), 1, kOutcomeMs);
            QVERIFY(serviceSound());
        }
        QVERIFY(answers(other, 2));
        QVERIFY(serviceSound());
    }

    // When the service closes a page that is still sending, it reads and
    // drops what the page sends until the page has closed too: the page
    // sees the code that was sent, not a reset (1006). Each row runs a few
    // times.
    void closedPageSeesTheCode_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("arg");
        QTest::addColumn<int>("code");
        QTest::newRow("message over the cap: 1009") << "big"
                                                    << "" << 1009;
        QTest::newRow("its player died: 1011") << "orphan"
                                               << "" << 1011;
        QTest::newRow("sessions over the bound: 1013") << "crowd"
                                                       << "3" << 1013;
    }
    void closedPageSeesTheCode()
    {
        QFETCH(QString, mode);
        QFETCH(QString, arg);
        QFETCH(int, code);
        QVERIFY(startService());
        const int rounds = mode == QLatin1String("crowd") ? 1 : 3;
        for (int round = 0; round < rounds; ++round) {
            LineProcess page;
            startNode(page,
                arg.isEmpty() ? QStringList { wsUrl(m_port), mode }
                              : QStringList { wsUrl(m_port), mode, arg });
            if (mode == QLatin1String("crowd")) {
                const QJsonObject seen = lineOf(page);
                QCOMPARE(seen.value(QStringLiteral("codes")).toArray(), QJsonArray({ code, code, code }));
            } else {
                QVERIFY(!lineOf(page).isEmpty()); // open
                QCOMPARE(lineOf(page).value(QStringLiteral("code")).toInt(), code);
            }
        }
        PageClient other(wsUrl(m_port));
        QVERIFY(other.opened());
        QVERIFY(answers(other, 1));
        QVERIFY(serviceSound());
    }

    // SIGTERM and Ctrl-C end the service through its normal shutdown: every
    // page is closed with 1001 ("going away"), every player ends, and the
    // service exits with 0.
    void signalEndsTheService_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalEndsTheService()
    {
        QFETCH(int, signalNumber);
        QVERIFY(startService());
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QVERIFY(answers(page, 1));
        LineProcess nodePage;
        startNode(nodePage, { wsUrl(m_port), QStringLiteral("stay") });
        QCOMPARE(lineOf(nodePage).value(QStringLiteral("event")).toString(), QStringLiteral("open"));
        QTRY_COMPARE_WITH_TIMEOUT(playersRunning(), 2, kOutcomeMs);
        const QList<qint64> started = m_copy->startedPlayers();

        QCOMPARE(::kill(pid_t(m_service->processId()), signalNumber), 0);
        QCOMPARE(lineOf(nodePage).value(QStringLiteral("code")).toInt(), 1001);
        const QJsonObject seen = page.receiveEvent(30);
        QCOMPARE(seen.value(QStringLiteral("event")).toString(), QStringLiteral("closed"));
        QCOMPARE(seen.value(QStringLiteral("code")).toInt(), 1001);
        QVERIFY(m_service->waitForFinished(30000));
        QCOMPARE(m_service->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_service->exitCode(), 0);
        for (const qint64 pid : started)
            QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 10000);
    }
};

QTEST_GUILESS_MAIN(TestPageEndings)
#include "tst_page_endings.moc"
