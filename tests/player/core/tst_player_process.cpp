// The player binary against a peer that is not ours: Python's socket module
// plays the service's end of the local link and checks every payload with jq.
#include "LineProcess.h"
#include "LinkPeer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using LinkPeer::peerScript;
using LinkPeer::playerPath;

class TestPlayerProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString socketPath(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    void startPlayer(QProcess &player, const QStringList &args, int connectTimeoutMs = 10000)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TEVORA_CONNECT_TIMEOUT_MS"), QString::number(connectTimeoutMs));
        player.setProcessEnvironment(env);
        player.start(playerPath(), args);
        QVERIFY(player.waitForStarted());
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Requests are answered in order, unknown ones exactly as the default
    // reply; nothing comes without a request (no device is logged in, so no
    // CPU event); closing the link ends the player with code 0.
    void servesRequestsAndQuitsWhenLinkCloses()
    {
        LineProcess peer;
        peer.start(QStringLiteral("/usr/bin/python3"), { peerScript(), socketPath("link1") });
        QVERIFY(peer.sees(QStringLiteral("listening"), 10000));

        QProcess player;
        startPlayer(player, { QStringLiteral("7"), socketPath("link1"), QDir::tempPath() });
        QVERIFY(peer.sees(QStringLiteral("accepted"), 30000));

        peer.write(R"(send {"MainType":7,"SubType":1,"MsgID":5})");
        QCOMPARE(peer.take(QStringLiteral("recv ")),
            QStringLiteral(R"({"Msg":7,"MsgID":5,"Ret":1020,"SubMsg":1})"));
        QCOMPARE(peer.take(QStringLiteral("raw ")),
            QString::fromLatin1(QByteArray("{\"Msg\":7,\"MsgID\":5,\"Ret\":1020,\"SubMsg\":1}\n").toHex()));

        // Back to back, in one write: answered in the same order.
        QByteArray batch;
        for (int i = 1; i <= 20; ++i) {
            const QByteArray req = QByteArray("{\"MainType\":") + QByteArray::number(i % 2 ? 13 : 99)
                + ",\"MsgID\":" + QByteArray::number(i) + "}";
            batch += QByteArray::number(req.size(), 16).rightJustified(8, '0') + req;
        }
        peer.write("raw " + batch.toHex());
        for (int i = 1; i <= 20; ++i) {
            const QString reply = peer.take(QStringLiteral("recv "));
            QVERIFY2(reply.contains(QStringLiteral("\"MsgID\":%1,").arg(i)), qPrintable(reply));
        }

        // Invalid JSON, MainType 0 and a mistyped MainType get no reply; a
        // frame behind a bad header still gets its answer.
        peer.write("send {not json");
        peer.write(R"(send {"MainType":0})");
        peer.write(R"(send {"MainType":"8"})");
        peer.write("raw " + QByteArray("zzzzzzzz").toHex());
        peer.write(R"(send {"MainType":-1})");
        QCOMPARE(peer.take(QStringLiteral("recv ")),
            QStringLiteral(R"({"Msg":-1,"MsgID":null,"Ret":1020,"SubMsg":null})"));

        // Over a few seconds of idle link, the player sends nothing on its own.
        QVERIFY(!peer.sees(QStringLiteral("recv "), 2500));

        peer.write("close");
        QVERIFY(player.waitForFinished(20000));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QCOMPARE(player.exitCode(), 0);
        QVERIFY(!peer.remainingLines().join(QLatin1Char('\n')).contains(QStringLiteral("badjson")));
    }

    // Exactly four arguments (no browser window) start normally.
    void fourArgumentsStart()
    {
        LineProcess peer;
        peer.start(QStringLiteral("/usr/bin/python3"), { peerScript(), socketPath("link2") });
        QVERIFY(peer.sees(QStringLiteral("listening"), 10000));
        QProcess player;
        startPlayer(player, { QStringLiteral("1"), socketPath("link2"), QDir::tempPath(), QString() });
        QVERIFY(peer.sees(QStringLiteral("accepted"), 30000));
        peer.write(R"(send {"MainType":33,"MsgID":"x"})");
        QCOMPARE(peer.take(QStringLiteral("recv ")),
            QStringLiteral(R"({"Msg":33,"MsgID":"x","Ret":1020,"SubMsg":null})"));
        peer.write("close");
        QVERIFY(player.waitForFinished(20000));
        QCOMPARE(player.exitCode(), 0);
    }

    // The player may start before the service listens: it keeps trying.
    void connectsToALateServer()
    {
        QProcess player;
        startPlayer(player, { QStringLiteral("3"), socketPath("late"), QDir::tempPath() });
        LineProcess peer;
        peer.start(QStringLiteral("/usr/bin/python3"), { peerScript(), socketPath("late") });
        QVERIFY(peer.sees(QStringLiteral("accepted"), 30000));
        peer.write("close");
        QVERIFY(player.waitForFinished(20000));
        QCOMPARE(player.exitCode(), 0);
    }

    void badStart_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("code");
        const QString dir = QDir::tempPath();
        QTest::newRow("three arguments") << QStringList { QStringLiteral("1"), QStringLiteral("x") }
                                         << QStringLiteral("plugin argc incorrect") << 2;
        QTest::newRow("session id with letter")
            << QStringList { QStringLiteral("1a"), QStringLiteral("x"), dir }
            << QStringLiteral("sessionID incorrect") << 2;
        QTest::newRow("empty session id") << QStringList { QString(), QStringLiteral("x"), dir }
                                          << QStringLiteral("sessionID incorrect") << 2;
        QTest::newRow("empty server name") << QStringList { QStringLiteral("1"), QString(), dir }
                                           << QStringLiteral("serverName incorrect") << 2;
        QTest::newRow("no server") << QStringList { QStringLiteral("1"),
            m_dir.filePath(QStringLiteral("none")), dir }
                                   << QStringLiteral("can't connect to plugin server") << 3;
    }
    // A bad command line or a link that cannot be made ends the player with
    // a non-zero code and the reason on stderr: no crash, no core dump.
    void badStart()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        QFETCH(int, code);
        QProcess player;
        startPlayer(player, args, 300);
        QVERIFY(player.waitForFinished(20000));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QCOMPARE(player.exitCode(), code);
        if (!reason.isEmpty())
            QVERIFY(QString::fromUtf8(player.readAllStandardError()).contains(reason));
    }
};

QTEST_GUILESS_MAIN(TestPlayerProcess)
#include "tst_player_process.moc"
