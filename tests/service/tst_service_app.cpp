// QuorvelTool as a whole: start-up, single instance, port choice, and page
// sessions through real outside clients (Python websockets, node ws, openssl)
// with the player double behind the service.

#include "ServiceTestSupport.h"

#include <QTcpServer>

#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

using namespace ServiceTest;

class TestServiceApp : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServiceCopy> m_copy;
    std::unique_ptr<QProcess> m_service;
    int m_port = 0;

    bool startService()
    {
        m_service = m_copy->start(&m_port);
        return m_port > 0;
    }
    QString startedPlayerPid(int index = 0) const
    {
        const QStringList starts = eventFiles(m_copy->eventDir, QStringLiteral("start"));
        return index < starts.size() ? QFileInfo(starts.at(index)).completeBaseName() : QString();
    }
    // Makes sure no new listener can take `port` on the loopback address: the
    // holder listens on it, or another socket of the machine owns it already.
    // The service's fixed ports lie in the kernel's ephemeral range, so any
    // outgoing connection may own one for a while; for the service that port
    // is as taken as one the test holds.
    static bool holdPort(QTcpServer &holder, quint16 port)
    {
        return holder.isListening() || holder.listen(QHostAddress::LocalHost, port)
            || holder.serverError() == QAbstractSocket::AddressInUseError;
    }
    bool portFree(quint16 port)
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, port);
    }

private slots:
    void init()
    {
        m_copy = std::make_unique<ServiceCopy>();
        QVERIFY(m_copy->prepare());
    }
    void cleanup()
    {
        ServiceTest::stopService(m_service);
        // Every player ends with its link.
        QTRY_VERIFY_WITH_TIMEOUT(processesMentioning(m_copy->appDir).isEmpty(), 20000);
        m_copy.reset();
    }

    void secondCopyExits()
    {
        QVERIFY(startService());
        QProcess second;
        second.setProcessEnvironment(m_copy->environment());
        second.start(m_copy->program(), QStringList());
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!second.readAllStandardOutput().contains("listening"));
        QCOMPARE(m_service->state(), QProcess::Running);

        // A copy killed outright leaves no stale guard behind.
        ::kill(pid_t(m_service->processId()), SIGKILL);
        QVERIFY(m_service->waitForFinished(10000));
        QVERIFY(startService());
    }

    // A renamed copy is another program and runs beside the first.
    void renamedCopyRunsBeside()
    {
        QVERIFY(startService());
        const QString renamed = m_copy->appDir + "/QuorvelTool2";
        QVERIFY(copyExecutable(m_copy->program(), renamed));
        QProcess other;
        other.setProcessEnvironment(m_copy->environment());
        other.start(renamed, QStringList());
        QVERIFY(other.waitForReadyRead(20000));
        const QByteArray line = other.readLine();
        QVERIFY2(line.contains("ws://127.0.0.1:"), line.constData());
        QVERIFY(!line.contains(QByteArray::number(m_port) + " "));
        other.kill();
        other.waitForFinished(5000);
    }

    void takesFirstFreePort()
    {
        if (!portFree(54468))
            QSKIP("port 54468 is in use by another program");
        QTcpServer a, b;
        QVERIFY2(holdPort(a, 54466), qPrintable(a.errorString()));
        QVERIFY2(holdPort(b, 54467), qPrintable(b.errorString()));
        QVERIFY(startService());
        QCOMPARE(m_port, 54468);
    }

    void noFreePortEndsWithError()
    {
        std::vector<std::unique_ptr<QTcpServer>> holders;
        for (quint16 port = 54466; port <= 54475; ++port) {
            holders.push_back(std::make_unique<QTcpServer>());
            QTcpServer *holder = holders.back().get();
            QVERIFY2(holdPort(*holder, port), qPrintable(holder->errorString()));
        }
        startService();
        QCOMPARE(m_port, 0);
        QVERIFY(m_service->state() == QProcess::NotRunning || m_service->waitForFinished(20000));
        QCOMPARE(m_service->exitStatus(), QProcess::NormalExit);
        QVERIFY(m_service->exitCode() != 0);
        QVERIFY(m_service->readAllStandardError().contains("create websocket server fail"));
        QFile log(m_copy->appDir + "/Log/Quorvat/" + QDate::currentDate().toString("yyyyMMdd") + ".log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("[ERROR] [main]"));
        QVERIFY(eventFiles(m_copy->eventDir, "start").isEmpty());
    }

    // node's ws client as the page: requests reach the player and every reply
    // comes back, in order, with non-ASCII text intact.
    void relayWithNodeClient()
    {
        QVERIFY(startService());
        QProcess node;
        node.start("node", { testFile("page_client_node.js"), wsUrl(m_port), "5" });
        QVERIFY(node.waitForFinished(60000));
        QCOMPARE(node.exitCode(), 0);
        const QList<QByteArray> lines = node.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 6);
        for (int i = 0; i < 5; ++i) {
            const QJsonObject event = QJsonDocument::fromJson(lines.at(i)).object();
            const QJsonObject reply = parseObject(event.value("text").toString());
            QCOMPARE(reply.value("Ret").toInt(), 1020);
            QCOMPARE(reply.value("MsgID").toInt(), i + 1);
            QCOMPARE(reply.value("Msg").toInt(), 9999);
            QCOMPARE(parseObject(reply.value("Echo").toString()).value("Text").toString(),
                QString::fromUtf8("caf\xc3\xa9 \xe4\xb8\xad"));
        }
    }

    void playerCommandLine()
    {
        QVERIFY(startService());
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QVERIFY(page.send("{\"MainType\":9100,\"MsgID\":1}"));
        const QJsonObject reply = parseObject(page.receive());
        const QStringList argv = reply.value("Argv").toVariant().toStringList();
        QCOMPARE(argv.size(), 4);
        QVERIFY(argv.at(0).toInt() >= 1);
        QVERIFY(argv.at(1).startsWith(m_copy->runtimeDir + "/"));
        QCOMPARE(argv.at(2), m_copy->appDir + "/x64");
        QCOMPARE(argv.at(3), QString());
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(argv.at(1)).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 077), 0);
        QVERIFY(page.close());
    }

    // The cipher against openssl: the page's side of a keyed session.
    void keyedSessionWithOpenssl()
    {
        QVERIFY(startService());
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QVERIFY(page.send("{\"MainType\":32,\"SubType\":0,\"MsgID\":1}"));
        const QJsonObject keyReply = parseObject(page.receive());
        QCOMPARE(keyReply.value("Msg").toInt(), 32);
        const QByteArray key = keyReply.value("key").toObject().value("key").toString().toLatin1();
        QCOMPARE(key.size(), 16);

        const QByteArray request("{\"MainType\":77,\"SubType\":3,\"MsgID\":2,\"Name\":\"a+b/c=\"}");
        bool ok = false;
        const QByteArray cipher = opensslEncrypt(request, key, &ok);
        QVERIFY(ok);
        QVERIFY(page.send(QString::fromLatin1(cipher)));
        const QString answer = page.receive();
        QVERIFY(!answer.isEmpty());
        QVERIFY(!answer.startsWith('{'));
        const QByteArray plain = stripZeros(opensslDecrypt(answer.toLatin1(), key, &ok));
        QVERIFY(ok);
        const QJsonObject reply = parseObject(QString::fromUtf8(plain));
        QCOMPARE(reply.value("MsgID").toInt(), 2);
        QCOMPARE(reply.value("Echo").toString().toUtf8(), request);

        // A plain request still reaches the player; its reply comes encrypted.
        QVERIFY(page.send("{\"MainType\":78,\"MsgID\":3}"));
        const QByteArray second = stripZeros(opensslDecrypt(page.receive().toLatin1(), key, &ok));
        QVERIFY(ok);
        QCOMPARE(parseObject(QString::fromUtf8(second)).value("MsgID").toInt(), 3);
        QVERIFY(page.close());
    }

    void closingThePageEndsThePlayer()
    {
        QVERIFY(startService());
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QVERIFY(page.send("{\"MainType\":3,\"MsgID\":1}"));
        QVERIFY(!page.receive().isEmpty());
        const QString pid = startedPlayerPid();
        QVERIFY(!pid.isEmpty());
        QVERIFY(page.close());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_copy->eventDir + "/" + pid + ".quit"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid.toLongLong()), 15000);
        QCOMPARE(m_service->state(), QProcess::Running);
    }

    void killedPlayer()
    {
        QVERIFY(startService());
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QVERIFY(page.send("{\"MainType\":3,\"MsgID\":1}"));
        QVERIFY(!page.receive().isEmpty());
        const qint64 pid = startedPlayerPid().toLongLong();
        QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 10000);
        // The page is told: its session is closed with 1011.
        QCOMPARE(page.receiveEvent(30).value("code").toInt(), 1011);
        QVERIFY(page.close());
        QCOMPARE(m_service->state(), QProcess::Running);

        PageClient next(wsUrl(m_port));
        QVERIFY(next.opened());
        QVERIFY(next.send("{\"MainType\":3,\"MsgID\":3}"));
        QCOMPARE(parseObject(next.receive()).value("MsgID").toInt(), 3);
        QVERIFY(next.close());
    }

    void twoHundredSessions()
    {
        QVERIFY(startService());
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QCOMPARE(page.sessions(200, 400000), 200);
        QVERIFY(page.close());
        // 201 players in all (the driver's own session too), every one gone.
        QTRY_COMPARE_WITH_TIMEOUT(eventFiles(m_copy->eventDir, "quit").size(), 201, 30000);
        QCOMPARE(eventFiles(m_copy->eventDir, "start").size(), 201);
        QTRY_COMPARE_WITH_TIMEOUT(processesMentioning(m_copy->appDir + "/x64").size(), 0, 20000);
        QCOMPARE(m_service->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestServiceApp)
#include "tst_service_app.moc"
