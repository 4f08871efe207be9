#include "ClientRegistry.h"
#include "ServiceLog.h"
#include "ServiceTestSupport.h"
#include "SessionCipher.h"
#include "WebSocketServerThread.h"
#include "common/PollBeforeSleep.h"

#include <QTcpServer>
#include <QWebSocket>
#include <QtTest>

#include <memory>

using namespace ServiceTest;

namespace {

const unsigned char kZeroIv[16] = {};
const QByteArray kKey("k3Y!~#0aZ`|}{,.q");

// Receives the server's signals in the test thread.
class Collector : public QObject
{
    Q_OBJECT
public:
    QList<QPair<int, QString>> sessions;
    QList<QPair<int, QByteArray>> toPlayer;
    QList<int> closed;

public slots:
    void onNew(int id, QString wnd) { sessions.append({ id, wnd }); }
    void onMsg(QByteArray msg, int id) { toPlayer.append({ id, msg }); }
    void onClosed(int id) { closed.append(id); }
};

class Page : public QObject
{
    Q_OBJECT
public:
    QWebSocket socket;
    QStringList received;

    bool open(int port)
    {
        connect(&socket, &QWebSocket::textMessageReceived, this,
            [this](const QString &t) { received.append(t); });
        socket.open(QUrl(wsUrl(port)));
        QSignalSpy spy(&socket, &QWebSocket::connected);
        return spy.wait(10000);
    }
};

int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

class TestWebSocketServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<WebSocketServerThread> m_server;
    Collector m_collector;
    QTemporaryDir m_logDir;

    // Opens a page and returns its session id.
    int openPage(Page &page)
    {
        const int before = m_collector.sessions.size();
        if (!page.open(m_server->port()))
            return 0;
        if (!QTest::qWaitFor([&] { return m_collector.sessions.size() > before; }, 10000))
            return 0;
        return m_collector.sessions.last().first;
    }
    void fromPlayer(int session, const QByteArray &msg)
    {
        QMetaObject::invokeMethod(
            m_server.get(), "onSendMsg", Qt::QueuedConnection, Q_ARG(QByteArray, msg), Q_ARG(int, session));
    }
    // The player link receives `marker` next: nothing sent before it is still on its way.
    bool markerArrives(Page &page, int session)
    {
        const int before = m_collector.toPlayer.size();
        page.socket.sendTextMessage(QStringLiteral("{\"MainType\":55,\"MsgID\":\"marker\"}"));
        if (!QTest::qWaitFor([&] { return m_collector.toPlayer.size() > before; }, 10000))
            return false;
        const auto &last = m_collector.toPlayer.last();
        return m_collector.toPlayer.size() == before + 1 && last.first == session
            && last.second.contains("marker");
    }
    // The next message the player link receives after `count` messages.
    QByteArray toPlayerAfter(int count, int session)
    {
        if (!QTest::qWaitFor([&] { return m_collector.toPlayer.size() > count; }, 10000))
            return QByteArray("(nothing)");
        const auto &m = m_collector.toPlayer.at(count);
        return m.first == session ? m.second : QByteArray("(other session)");
    }
    template<typename F> void inServerThread(F f)
    {
        QMetaObject::invokeMethod(m_server.get(), f, Qt::BlockingQueuedConnection);
    }
    QString keyReply() const
    {
        return QStringLiteral(
            "{\"Msg\":32,\"SubMsg\":0,\"Ret\":100,\"MsgID\":1,\"key\":{\"key\":\"%1\",\"iv\":\"\"}}")
            .arg(QString::fromLatin1(kKey).replace("\"", "\\\""));
    }
    // Opens a page and keys its session with kKey.
    int openKeyedPage(Page &page)
    {
        const int id = openPage(page);
        fromPlayer(id, keyReply().toUtf8());
        if (!QTest::qWaitFor([&] { return !page.received.isEmpty(); }, 10000))
            return 0;
        return id;
    }

private slots:
    void initTestCase()
    {
        ServiceLog::instance()->init(m_logDir.path() + "/Log", ServiceLog::KeepAll);
        const int port = freePort();
        QVERIFY(port > 0);
        m_server = std::make_unique<WebSocketServerThread>(port, port);
        QVERIFY(m_server->isListening());
        QCOMPARE(m_server->port(), port);
        QCOMPARE(ClientRegistry::instance()->webSocketPort(), port);
        connect(m_server.get(), &WebSocketServerThread::newConnectionSig, &m_collector, &Collector::onNew);
        connect(m_server.get(), &WebSocketServerThread::recvMsgSig, &m_collector, &Collector::onMsg);
        connect(m_server.get(), &WebSocketServerThread::disconnectWebsocketSig, &m_collector,
            &Collector::onClosed);
    }
    void cleanupTestCase() { m_server.reset(); }

    void sessionIdsAndWindowText()
    {
        const int next = ClientRegistry::instance()->nextSessionId();
        QMetaObject::invokeMethod(m_server.get(), "onEmbedBrwoseWndID", Qt::BlockingQueuedConnection,
            Q_ARG(QString, QStringLiteral("0x0000abcd")));
        Page a, b;
        QCOMPARE(openPage(a), next);
        QCOMPARE(m_collector.sessions.last().second, QStringLiteral("0x0000abcd"));
        QCOMPARE(openPage(b), next + 1);
        QCOMPARE(m_collector.sessions.last().second, QString());
        // Ids are shared with the other front end: one taken there is skipped here.
        QCOMPARE(ClientRegistry::instance()->takeSessionId(), next + 2);
        Page c;
        QCOMPARE(openPage(c), next + 3);
    }

    void plainRelay()
    {
        Page page;
        const int id = openPage(page);
        const QString text
            = QString::fromUtf8("{\"MainType\":4,\"SubType\":1,\"MsgID\":7,\"Name\":\"\xe4\xb8\xad\"}");
        const int before = m_collector.toPlayer.size();
        page.socket.sendTextMessage(text);
        QCOMPARE(QString::fromUtf8(toPlayerAfter(before, id)), text);

        fromPlayer(id, "{\"Msg\":4,\"SubMsg\":1,\"Ret\":1020,\"MsgID\":7}\n");
        fromPlayer(id + 1000, "{\"Msg\":4,\"Other\":true}");
        QTRY_COMPARE(page.received.size(), 1);
        QCOMPARE(
            page.received.first(), QStringLiteral("{\"Msg\":4,\"SubMsg\":1,\"Ret\":1020,\"MsgID\":7}\n"));
        QVERIFY(markerArrives(page, id));
        QCOMPARE(page.received.size(), 1);
    }

    // The server's thread looks at each page's connection before it sleeps,
    // as long as the page is open: its next request follows a reply at once.
    void pageConnectionWatchedWhileOpen()
    {
        const auto watched = [this] {
            std::size_t count = 0;
            inServerThread([&count] {
                if (PollBeforeSleep *poll = PollBeforeSleep::currentThread())
                    count = poll->watchedCount();
            });
            return count;
        };
        // The pages of the cases before have all gone.
        QTRY_COMPARE(watched(), std::size_t(0));
        Page first, second;
        QVERIFY(openPage(first) > 0);
        QCOMPARE(watched(), std::size_t(1));
        QVERIFY(openPage(second) > 0);
        QCOMPARE(watched(), std::size_t(2));
        first.socket.close();
        QTRY_COMPARE(watched(), std::size_t(1));
        second.socket.close();
        QTRY_COMPARE(watched(), std::size_t(0));
    }

    // Messages that are no JSON object or carry a MainType of the wrong type
    // are dropped; none of them stops the server.
    void malformedPageMessages_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("no JSON") << "MainType=4";
        QTest::newRow("truncated") << "{\"MainType\":4,";
        QTest::newRow("array") << "[{\"MainType\":201}]";
        QTest::newRow("number") << "201";
        QTest::newRow("MainType as text") << "{\"MainType\":\"201\",\"SubType\":5}";
        QTest::newRow("MainType as array") << "{\"MainType\":[201]}";
        QTest::newRow("MainType as object") << "{\"MainType\":{\"a\":1}}";
        QTest::newRow("MainType out of range") << "{\"MainType\":1e300}";
        QTest::newRow("deep nesting") << QString(100000, '[');
    }
    void malformedPageMessages()
    {
        QFETCH(QString, text);
        Page page;
        const int id = openPage(page);
        page.socket.sendTextMessage(text);
        QVERIFY(markerArrives(page, id));
        QTest::qWait(50);
        QVERIFY(page.received.isEmpty());
    }

    void firmwareRoute()
    {
        Page page;
        const int id = openPage(page);
        page.socket.sendTextMessage(QStringLiteral("{\"MainType\":201,\"SubType\":5,\"MsgID\":\"x9\"}"));
        QTRY_COMPARE(page.received.size(), 1);
        QCOMPARE(parseObject(page.received.first()),
            parseObject(QStringLiteral("{\"Msg\":201,\"SubMsg\":5,\"MsgID\":\"x9\"}")));
        QVERIFY(page.received.first().endsWith('\n'));
        // Without a SubType and without a MsgID the reply carries nulls.
        page.socket.sendTextMessage(QStringLiteral("{\"MainType\":201.0}"));
        QTRY_COMPARE(page.received.size(), 2);
        QCOMPARE(page.received.at(1), QStringLiteral("{\"Msg\":201.0,\"MsgID\":null,\"SubMsg\":null}\n"));
        QVERIFY(markerArrives(page, id));
        for (const auto &m : qAsConst(m_collector.toPlayer))
            QVERIFY(!m.second.contains("201"));

        QFile log(m_logDir.path() + "/Log/Diy/" + QDate::currentDate().toString("yyyyMMdd") + ".log");
        if (!log.exists()) {
            // The day's file is in the folder of the module that wrote first.
            const auto found
                = QDir(m_logDir.path() + "/Log").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
            for (const QFileInfo &dir : found) {
                if (QFile::exists(dir.filePath() + "/" + QDate::currentDate().toString("yyyyMMdd") + ".log"))
                    log.setFileName(
                        dir.filePath() + "/" + QDate::currentDate().toString("yyyyMMdd") + ".log");
            }
        }
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray lines = log.readAll();
        QVERIFY(lines.contains(QStringLiteral("DIYMsg nSessionID:%1 Msg:").arg(id).toUtf8()));
        QVERIFY(lines.contains("ReqMsg:{\"Msg\":201"));
    }

    void keyedSession()
    {
        Page page;
        const int id = openKeyedPage(page);
        QVERIFY(id > 0);
        // The key reply itself reaches the page in plain text.
        QCOMPARE(page.received.first(), keyReply());

        // Every later player message is ciphertext, also a long one.
        const QByteArray event("{\"MainEvent\":3,\"SubEvent\":1,\"Data\":{\"Channel\":2}}");
        const QByteArray longReply = "{\"Msg\":5,\"Ret\":100,\"Data\":\"" + QByteArray(60000, 'y') + "\"}";
        fromPlayer(id, event);
        fromPlayer(id, longReply);
        QTRY_COMPARE(page.received.size(), 3);
        for (int i = 1; i < 3; ++i) {
            QByteArray plain;
            QCOMPARE(decryptSessionMessage(page.received.at(i).toLatin1(), &plain, kZeroIv, kKey.constData()),
                kCipherOk);
            QCOMPARE(plain, i == 1 ? event : longReply);
        }

        // Page to player: ciphertext is decrypted, plain JSON still understood,
        // MainType 201 is relayed, text that does not decrypt is dropped.
        QByteArray cipher;
        int count = m_collector.toPlayer.size();
        QCOMPARE(encryptSessionMessage("{\"MainType\":4,\"MsgID\":1}", &cipher, kZeroIv, kKey.constData()),
            kCipherOk);
        page.socket.sendTextMessage(QString::fromLatin1(cipher));
        QCOMPARE(toPlayerAfter(count++, id), QByteArray("{\"MainType\":4,\"MsgID\":1}"));
        page.socket.sendTextMessage(QStringLiteral("{\"MainType\":6,\"MsgID\":2}"));
        QCOMPARE(toPlayerAfter(count++, id), QByteArray("{\"MainType\":6,\"MsgID\":2}"));
        QCOMPARE(
            encryptSessionMessage("{\"MainType\":201,\"SubType\":5}", &cipher, kZeroIv, kKey.constData()),
            kCipherOk);
        page.socket.sendTextMessage(QString::fromLatin1(cipher));
        QCOMPARE(toPlayerAfter(count++, id), QByteArray("{\"MainType\":201,\"SubType\":5}"));
        page.socket.sendTextMessage(QStringLiteral("aGVsbG8="));
        QVERIFY(markerArrives(page, id));
        QCOMPARE(page.received.size(), 3);
    }

    // A key reply whose members have the wrong types keys nothing.
    void mistypedKeyReply_data()
    {
        QTest::addColumn<QByteArray>("msg");
        QTest::newRow("key is text") << QByteArray("{\"Msg\":32,\"key\":\"abc\"}");
        QTest::newRow("inner key is number") << QByteArray("{\"Msg\":32,\"key\":{\"key\":5}}");
        QTest::newRow("Msg is text") << QByteArray("{\"Msg\":\"32\",\"key\":{\"key\":\"abcdefghabcdefgh\"}}");
        QTest::newRow("key is array") << QByteArray("{\"Msg\":32,\"key\":[\"key\"]}");
        QTest::newRow("no JSON") << QByteArray("{\"Msg\":32,\"key\":{\"key\":");
    }
    void mistypedKeyReply()
    {
        QFETCH(QByteArray, msg);
        Page page;
        const int id = openPage(page);
        fromPlayer(id, msg);
        fromPlayer(id, "{\"MainEvent\":1}");
        QTRY_COMPARE(page.received.size(), 2);
        QCOMPARE(page.received.at(0).toUtf8(), msg);
        QCOMPARE(page.received.at(1), QStringLiteral("{\"MainEvent\":1}"));
    }

    void pageLeaves()
    {
        Page page;
        const int id = openKeyedPage(page);
        QVERIFY(id > 0);
        std::shared_ptr<PageSession> session;
        QProcess *chooser = nullptr;
        inServerThread([&] {
            session = m_server->pageSession(id);
            chooser = new QProcess(m_server.get());
            chooser->start("sleep", { "60" });
            chooser->waitForStarted(5000);
            m_server->trackChooser(id, chooser);
        });
        QVERIFY(session);
        QCOMPARE(session->loginInfo().keyText(), kKey);
        const qint64 chooserPid = chooser->processId();
        QVERIFY(processAlive(chooserPid));

        page.socket.close();
        QTRY_VERIFY(m_collector.closed.contains(id));
        // The key does not outlive its session, and the chooser is ended.
        QTRY_COMPARE(session->loginInfo().keyText(), QByteArray());
        const CUserLoginInfo wiped = session->loginInfo();
        for (unsigned char c : wiped.m_key)
            QCOMPARE(int(c), 0);
        QVERIFY(!session->isKeyed());
        QTRY_VERIFY(!processAlive(chooserPid));
        int sessions = -1;
        inServerThread([&] {
            sessions = m_server->pageSession(id) ? 1 : 0;
            delete chooser;
        });
        QCOMPARE(sessions, 0);
    }

    void noFreePort()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        WebSocketServerThread server(holder.serverPort(), holder.serverPort());
        QVERIFY(!server.isListening());
        QCOMPARE(server.port(), 0);
    }

    // The real range: with 54466 and 54467 taken the server takes 54468.
    void firstFreePortOfRange()
    {
        QTcpServer a, b, probe;
        if (!probe.listen(QHostAddress::LocalHost, 54468))
            QSKIP("port 54468 is in use by another program");
        probe.close();
        const bool ownA = a.listen(QHostAddress::LocalHost, 54466);
        const bool ownB = b.listen(QHostAddress::LocalHost, 54467);
        Q_UNUSED(ownA);
        Q_UNUSED(ownB);
        WebSocketServerThread server;
        QVERIFY(server.isListening());
        QCOMPARE(server.port(), 54468);
        QCOMPARE(ClientRegistry::instance()->webSocketPort(), 54468);
        server.stop();
        ClientRegistry::instance()->setWebSocketPort(m_server->port());
    }
};

QTEST_MAIN(TestWebSocketServer)
#include "tst_websocket_server.moc"
