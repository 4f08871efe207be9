#include "PluginServer.h"
#include "ServiceTestSupport.h"
#include "SpawnedProcess.h"
#include "SystemArch.h"

#include <QLocalSocket>
#include <QMutex>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace ServiceTest;

// Stands in for a page front end: what the relay hands it, in order, and the
// thread it came on, read from the test's thread.
class FrontEnd : public QObject, public PageFrontEnd
{
    Q_OBJECT
public:
    struct Seen
    {
        QList<QPair<int, QByteArray>> messages;
        QList<int> lost;
        QThread *thread = nullptr;
    };
    void onSendMsg(QByteArray msg, int nSessionID) override
    {
        QMutexLocker lock(&m_mutex);
        m_seen.messages.append({ nSessionID, msg });
        m_seen.thread = QThread::currentThread();
    }
    void onPlayerLost(int nSessionID) override
    {
        QMutexLocker lock(&m_mutex);
        m_seen.lost.append(nSessionID);
    }
    Seen seen() const
    {
        QMutexLocker lock(&m_mutex);
        return m_seen;
    }
    int count() const { return seen().messages.size(); }
    QJsonObject at(int index) const
    {
        return parseObject(QString::fromUtf8(seen().messages.at(index).second));
    }

private:
    mutable QMutex m_mutex;
    Seen m_seen;
};

// Keeps the player processes a server makes, so that a test knows their ids
// even when they end before they could say who they are.
class SpawnedSpy : public QObject
{
public:
    explicit SpawnedSpy(QObject *server) { server->installEventFilter(this); }

    qint64 pid() const
    {
        for (const QPointer<QObject> &child : m_children) {
            if (auto *process = qobject_cast<SpawnedProcess *>(child.data()))
                return process->processId();
        }
        return 0;
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded)
            m_children << static_cast<QChildEvent *>(event)->child();
        return false;
    }

private:
    QList<QPointer<QObject>> m_children;
};

class TestPluginServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_appDir;
    QString m_events;
    std::unique_ptr<FrontEnd> m_page;

    std::unique_ptr<PluginServer> makeServer()
    {
        auto server = std::make_unique<PluginServer>(m_appDir, QStringLiteral("tst_plugin_server"));
        server->setConnectTimeout(15000);
        return server;
    }
    void setMode(const char *mode) { qputenv("QV_DOUBLE_MODE", mode); }

    // Starts the double for `session` and waits until its link exists.
    bool startSession(PluginServer &server, int session, const QString &wnd = QString())
    {
        server.onNewConnection(session, wnd, m_page.get());
        return server.hasPlayerLink(session);
    }

    QJsonObject ask(PluginServer &server, int session, const QByteArray &request)
    {
        const int before = m_page->count();
        server.onRecvWebsocketMsg(request, session);
        if (!QTest::qWaitFor([&] { return m_page->count() > before; }, 10000))
            return QJsonObject();
        return m_page->at(before);
    }

    qint64 lastStartedPid()
    {
        const QStringList starts = eventFiles(m_events, QStringLiteral("start"));
        qint64 newest = 0;
        QDateTime newestTime;
        for (const QString &file : starts) {
            const QDateTime t = QFileInfo(file).lastModified();
            if (newest == 0 || t > newestTime) {
                newest = pidOfEventFile(file);
                newestTime = t;
            }
        }
        return newest;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_appDir = m_dir->path() + "/app";
        m_events = m_dir->path() + "/events";
        QDir().mkpath(m_events);
        QVERIFY(installPlayer(m_appDir, doubleScript()));
        qputenv("QV_DOUBLE_LOG", m_events.toLocal8Bit());
        setMode("echo");
        SystemArch::clearForce();
        m_page = std::make_unique<FrontEnd>();
    }
    void cleanup()
    {
        SystemArch::clearForce();
        m_dir.reset();
    }

    void socketIsPrivate()
    {
        auto server = makeServer();
        QVERIFY2(server->isListening(), qPrintable(server->listenError()));
        QVERIFY(server->serverPath().startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/"));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(server->serverPath()).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(int(st.st_mode & 077), 0);
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(server->serverPath()).path()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 077), 0);
    }

    void commandLine_data()
    {
        QTest::addColumn<bool>("is64");
        QTest::addColumn<QString>("wnd");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("program");
        QTest::newRow("64-bit") << true << "0x00012ab0"
                                << "/x64"
                                << "/x64/Tevora_x64";
        QTest::newRow("32-bit") << false << "0x00012ab0"
                                << ""
                                << "/Tevora_x86";
        QTest::newRow("no window: fourth argument empty") << true << ""
                                                          << "/x64"
                                                          << "/x64/Tevora_x64";
    }
    void commandLine()
    {
        QFETCH(bool, is64);
        QFETCH(QString, wnd);
        QFETCH(QString, folder);
        QFETCH(QString, program);
        SystemArch::force(is64);
        auto server = makeServer();
        QCOMPARE(server->playerDir(), m_appDir + folder);
        QCOMPARE(server->playerExe(), m_appDir + program);
        QVERIFY(startSession(*server, 7, wnd));

        const QJsonObject reply = ask(*server, 7, "{\"MainType\":9100,\"MsgID\":1}");
        const QStringList argv = reply.value("Argv").toVariant().toStringList();
        QCOMPARE(argv, (QStringList { "7", server->serverPath(), m_appDir + folder, wnd }));
        QCOMPARE(
            QDir(reply.value("Cwd").toString()).canonicalPath(), QDir(m_appDir + folder).canonicalPath());
        QVERIFY(server->playerProcess(7));
        QCOMPARE(server->playerProcess(7)->objectName(), QStringLiteral("Tevora_7"));
    }

    // A player's messages go to the front end that started its session alone,
    // on that front end's thread; once that front end is gone, to nobody.
    void relaysToTheSessionsFrontEnd()
    {
        auto server = makeServer();
        QVERIFY(startSession(*server, 3));
        auto other = std::make_unique<FrontEnd>();
        QThread otherThread;
        other->moveToThread(&otherThread);
        otherThread.start();
        server->onNewConnection(31, QString(), other.get());
        QVERIFY(server->hasPlayerLink(31));
        const QString text
            = QString::fromUtf8("{\"MainType\":77,\"SubType\":2,\"MsgID\":\"m\",\"Name\":\"caf\xc3\xa9\"}");
        server->onRecvWebsocketMsg(text.toUtf8(), 3);
        server->onRecvWebsocketMsg("{\"MainType\":9105,\"Count\":3}", 3);
        server->onRecvWebsocketMsg("{\"MainType\":55,\"MsgID\":\"other\"}", 31);
        QTRY_COMPARE_WITH_TIMEOUT(m_page->count(), 4, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(other->count(), 1, 10000);
        const QJsonObject first = m_page->at(0);
        QCOMPARE(first.value("Ret").toInt(), 1020);
        QCOMPARE(first.value("Echo").toString(), text);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(m_page->at(i + 1).value("Seq").toInt(), i);
        for (const auto &message : m_page->seen().messages)
            QCOMPARE(message.first, 3);
        QCOMPARE(other->seen().messages.at(0).first, 31);
        QCOMPARE(other->at(0).value("MsgID").toString(), QStringLiteral("other"));
        QCOMPARE(other->seen().thread, &otherThread);
        QCOMPARE(m_page->seen().thread, QThread::currentThread());

        otherThread.quit();
        QVERIFY(otherThread.wait(5000));
        other.reset();
        server->onRecvWebsocketMsg("{\"MainType\":55,\"MsgID\":\"lost\"}", 31);
        // Two round trips of the other session: the answer to the one before
        // has come meanwhile (and gone nowhere).
        for (const char *id : { "end", "end" })
            QCOMPARE(ask(*server, 3, QByteArray("{\"MainType\":55,\"MsgID\":\"") + id + "\"}")
                         .value("MsgID")
                         .toString(),
                QLatin1String(id));
        // Messages for a session without a player go nowhere.
        server->onRecvWebsocketMsg("{\"MainType\":77}", 99);
    }

    void frameReader_data()
    {
        QTest::addColumn<int>("mainType");
        QTest::addColumn<int>("messages");
        QTest::newRow("bad header costs 8 bytes") << 9102 << 1;
        QTest::newRow("frame in three pieces") << 9103 << 1;
        QTest::newRow("two frames in one read") << 9104 << 2;
    }
    void frameReader()
    {
        QFETCH(int, mainType);
        QFETCH(int, messages);
        auto server = makeServer();
        QVERIFY(startSession(*server, 4));
        server->onRecvWebsocketMsg(QStringLiteral("{\"MainType\":%1}").arg(mainType).toUtf8(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(m_page->count(), messages, 10000);
        // A marker request proves that nothing else was on its way.
        server->onRecvWebsocketMsg("{\"MainType\":55,\"MsgID\":\"end\"}", 4);
        QTRY_COMPARE_WITH_TIMEOUT(m_page->count(), messages + 1, 10000);
        for (int i = 0; i < messages; ++i) {
            const QJsonObject m = m_page->at(i);
            QCOMPARE(m.value("Msg").toInt(), mainType);
            if (messages > 1)
                QCOMPARE(m.value("Seq").toInt(), i + 1);
        }
        QCOMPARE(m_page->at(messages).value("MsgID").toString(), QStringLiteral("end"));
    }

    void largeMessages()
    {
        auto server = makeServer();
        QVERIFY(startSession(*server, 5));
        const QJsonObject reply = ask(*server, 5, "{\"MainType\":9101,\"Size\":3000000}");
        QCOMPARE(reply.value("Data").toString().size(), 3000000);
    }

    // Only the started player may become the session's link.
    void refusesImpostor()
    {
        setMode("impostor");
        auto server = makeServer();
        QVERIFY(startSession(*server, 6));
        const qint64 playerPid = server->playerProcess(6)->processId();
        const QJsonObject reply = ask(*server, 6, "{\"MainType\":9100}");
        QCOMPARE(qint64(reply.value("Pid").toDouble()), playerPid);
        QTRY_VERIFY_WITH_TIMEOUT(!eventFiles(m_events, "impostor").isEmpty(), 15000);
        QCOMPARE(readJsonFile(eventFiles(m_events, "impostor").first()).value("outcome").toString(),
            QStringLiteral("closed"));
        for (const auto &message : m_page->seen().messages)
            QVERIFY(!message.second.contains("Impostor"));
    }

    // Players of pages that open together start side by side; what a page
    // sends before its player has connected reaches the player, in order.
    void sessionsStartTogether()
    {
        auto server = makeServer();
        const QList<int> sessions { 21, 22, 23 };
        for (int session : sessions) {
            server->onNewSession(session, QString(), m_page.get());
            for (int i = 0; i < 3; ++i)
                server->onRecvWebsocketMsg(
                    QByteArray("{\"MainType\":3,\"MsgID\":") + QByteArray::number(session * 10 + i) + "}",
                    session);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_page->count(), 9, 30000);
        QMap<int, QList<int>> ids;
        for (int i = 0; i < m_page->count(); ++i)
            ids[m_page->seen().messages.at(i).first].append(m_page->at(i).value("MsgID").toInt());
        for (int session : sessions) {
            QVERIFY(server->hasPlayerLink(session));
            QCOMPARE(ids.value(session), (QList<int> { session * 10, session * 10 + 1, session * 10 + 2 }));
        }
    }

    // A page that leaves while its player starts takes the player with it.
    void pageLeavesDuringStart()
    {
        setMode("silent");
        auto server = makeServer();
        server->onNewSession(24, QString(), m_page.get());
        QVERIFY(server->playerProcess(24));
        const qint64 pid = server->playerProcess(24)->processId();
        server->onRecvWebsocketMsg("{\"MainType\":3}", 24);
        server->onDisconnectWebsocket(24);
        QVERIFY(!server->hasPlayerLink(24));
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 10000);
        QTRY_VERIFY(!server->playerProcess(24));
    }

    // A player that does not connect in time is ended, and the messages
    // that waited for it go with it.
    void silentPlayerStartedWithoutWaitingIsKilled()
    {
        setMode("silent");
        auto server = makeServer();
        server->setConnectTimeout(700);
        server->onNewSession(25, QString(), m_page.get());
        server->onRecvWebsocketMsg("{\"MainType\":3}", 25);
        QVERIFY(server->playerProcess(25));
        const qint64 pid = server->playerProcess(25)->processId();
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 10000);
        QTRY_VERIFY(!server->playerProcess(25));
        QVERIFY(!server->hasPlayerLink(25));
        QCOMPARE(m_page->count(), 0);
        QCOMPARE(m_page->seen().lost, QList<int> { 25 });
    }

    void refusesConnectionOutsideStart()
    {
        auto server = makeServer();
        QLocalSocket stray;
        stray.connectToServer(server->serverPath());
        QVERIFY(stray.waitForConnected(5000));
        QSignalSpy closed(&stray, &QLocalSocket::disconnected);
        QVERIFY(closed.wait(5000));
    }

    void silentPlayerIsKilled()
    {
        setMode("silent");
        auto server = makeServer();
        server->setConnectTimeout(700);
        // The player may be ended before it has written a line of its own (a
        // loaded machine), so its id is taken from the process the server made.
        SpawnedSpy spawned(server.get());
        QElapsedTimer t;
        t.start();
        server->onNewConnection(8, QString(), m_page.get());
        QVERIFY(t.elapsed() < 10000);
        QVERIFY(!server->hasPlayerLink(8));
        const qint64 pid = spawned.pid();
        QVERIFY(pid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 5000);
        QTRY_VERIFY(!server->playerProcess(8));
        // Messages for the session are dropped: no player starts for them,
        // none is held for a later one, nothing comes back.
        const qsizetype starts = eventFiles(m_events, QStringLiteral("start")).size();
        QCOMPARE(m_page->seen().lost, QList<int> { 8 });
        server->onRecvWebsocketMsg("{\"MainType\":1}", 8);
        QTest::qWait(300);
        QCOMPARE(eventFiles(m_events, QStringLiteral("start")).size(), starts);
        QVERIFY(!server->playerProcess(8));
        QVERIFY(!server->hasPlayerLink(8));
        QCOMPARE(m_page->count(), 0);
        QCOMPARE(m_page->seen().lost, QList<int> { 8 });
    }

    void missingPlayer()
    {
        QFile::remove(m_appDir + "/x64/Tevora_x64");
        SystemArch::force(true);
        auto server = makeServer();
        QElapsedTimer t;
        t.start();
        server->onNewConnection(9, QString(), m_page.get());
        QVERIFY(t.elapsed() < 10000);
        QVERIFY(!server->hasPlayerLink(9));
    }

    void chattyPlayerIsNotBlocked()
    {
        setMode("flood");
        auto server = makeServer();
        QVERIFY(startSession(*server, 10));
        QCOMPARE(ask(*server, 10, "{\"MainType\":3}").value("Ret").toInt(), 1020);
    }

    void pageLeavesPlayerQuits()
    {
        auto server = makeServer();
        QVERIFY(startSession(*server, 11));
        const qint64 pid = server->playerProcess(11)->processId();
        server->onDisconnectWebsocket(11);
        QVERIFY(!server->hasPlayerLink(11));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("%1/%2.quit").arg(m_events).arg(pid)), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!server->playerProcess(11), 10000);
        QTRY_VERIFY(!processAlive(pid));
    }

    void closePipeKillsPlayer()
    {
        auto server = makeServer();
        QVERIFY(startSession(*server, 12));
        const qint64 pid = server->playerProcess(12)->processId();
        server->onClosePipe(12);
        QVERIFY(!server->hasPlayerLink(12));
        QVERIFY(!processAlive(pid));
        QVERIFY(!QFile::exists(QStringLiteral("%1/%2.quit").arg(m_events).arg(pid)));
    }

    void killedPlayerLeavesServiceWorking()
    {
        auto server = makeServer();
        QVERIFY(startSession(*server, 13));
        const qint64 pid = server->playerProcess(13)->processId();
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!server->playerProcess(13), 10000);
        QTRY_VERIFY(server->findChildren<QProcess *>("Tevora_13").isEmpty());
        server->onRecvWebsocketMsg("{\"MainType\":1}", 13);
        server->onDisconnectWebsocket(13);
        QVERIFY(startSession(*server, 14));
        QCOMPARE(ask(*server, 14, "{\"MainType\":3}").value("Ret").toInt(), 1020);
    }

    void destructionEndsPlayers()
    {
        auto server = makeServer();
        QVERIFY(startSession(*server, 15));
        QVERIFY(startSession(*server, 16));
        const qint64 a = server->playerProcess(15)->processId();
        const qint64 b = server->playerProcess(16)->processId();
        server.reset();
        QVERIFY(!processAlive(a));
        QVERIFY(!processAlive(b));
    }

    void resetDirectories()
    {
        const QString source = m_dir->path() + "/src";
        const QString dest = m_dir->path() + "/dst";
        QVERIFY(!PluginServer::resetDirectories(source, dest));
        QVERIFY(!QFileInfo::exists(dest));
        QDir().mkpath(source + "/a");
        QDir().mkpath(dest + "/old");
        QVERIFY(PluginServer::resetDirectories(source, dest));
        QVERIFY(!QFileInfo::exists(source));
        QVERIFY(QFileInfo(dest).isDir());
        QVERIFY(QDir(dest).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPluginServer)
#include "tst_plugin_server.moc"
