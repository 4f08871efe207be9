// Chromium against the socket server: the test page, loaded from a file (an
// origin of its own), opens a raw WebSocket session and posts control requests,
// which the browser sends only after a CORS pre-flight.

#include "BrowserPage.h"
#include "GeneralSocket.h"

#include <QTemporaryDir>
#include <QtTest>

class TestSocketServerBrowser : public QObject
{
    Q_OBJECT

private slots:
    void controlAndSessionFromAnotherOrigin()
    {
        QTemporaryDir root;
        QDir().mkpath(root.path() + QStringLiteral("/Service"));
        GeneralSocket server(root.path() + QStringLiteral("/Service"), 0, 0);
        QVERIFY(server.listen());
        // The player: answers every page text at once, from the session's thread.
        connect(
            &server, &GeneralSocket::sigSendGeneralSocketMsg, &server,
            [&server](QByteArray msg, int id) { server.onSendMsg(msg, id); }, Qt::DirectConnection);
        server.start();

        const BrowserTest::PageRun run = BrowserTest::runSteps(server.port(),
            R"([{"control": {"MainType": 27, "SubType": 0}},
                {"send": {"MainType": 4, "SubType": 1, "MsgID": 7}, "await": {"MainType": 4, "MsgID": 7}},
                {"control": {"MainType": 26, "SubType": 1, "data": "caf\u00e9"}},
                {"close": true}])");
        QVERIFY2(run.ok(), qPrintable(run.describe()));
        const QList<QJsonObject> controls = run.ofKind(QStringLiteral("control"));
        QCOMPARE(controls.size(), 2);
        QCOMPARE(controls.at(0).value(QStringLiteral("status")).toInt(), 200);
        const QJsonObject key = controls.at(0).value(QStringLiteral("data")).toObject();
        QCOMPARE(
            key.value(QStringLiteral("key")).toObject().value(QStringLiteral("key")).toString().size(), 16);
        QCOMPARE(controls.at(1).value(QStringLiteral("data")).toObject().value(QStringLiteral("Ret")).toInt(),
            100);
        QCOMPARE(run.ofKind(QStringLiteral("closed")).value(0).value(QStringLiteral("code")).toInt(), 1000);
    }

    // When the server closes a page that is still sending, the browser gets
    // the close frame and reports its code, not an abnormal end (1006).
    void serverCloseReachesTheBrowser_data()
    {
        QTest::addColumn<QByteArray>("steps");
        QTest::addColumn<int>("code");
        QTest::newRow("message over the limit")
            << QByteArray(R"([{"send": {"MainType": 9999}, "padTo": 4194304}, {"closed": true}])") << 1009;
    }
    void serverCloseReachesTheBrowser()
    {
        QFETCH(QByteArray, steps);
        QFETCH(int, code);
        QTemporaryDir root;
        QDir().mkpath(root.path() + QStringLiteral("/Service"));
        GeneralSocket server(root.path() + QStringLiteral("/Service"), 0, 0);
        QVERIFY(server.listen());
        server.start();
        const BrowserTest::PageRun run = BrowserTest::runSteps(server.port(), BrowserTest::parseSteps(steps));
        QVERIFY2(run.finished, qPrintable(run.describe()));
        QCOMPARE(run.ofKind(QStringLiteral("closed")).value(0).value(QStringLiteral("code")).toInt(), code);
    }
};

QTEST_GUILESS_MAIN(TestSocketServerBrowser)
#include "tst_socket_server_browser.moc"
