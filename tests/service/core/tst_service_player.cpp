// End to end: a page (Python websockets) -> QuorvelTool -> the real player ->
// back to the page; closing the page ends the player.

#include "ServiceTestSupport.h"

#include <QtTest>

#include <memory>

using namespace ServiceTest;

class TestServicePlayer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServiceCopy> m_copy;
    std::unique_ptr<QProcess> m_service;
    int m_port = 0;

    QList<qint64> players() const { return processesMentioning(m_copy->appDir + "/x64/Tevora_x64"); }

private slots:
    void init()
    {
        m_copy = std::make_unique<ServiceCopy>();
        QVERIFY(m_copy->prepare(realPlayer()));
        m_service = m_copy->start(&m_port);
        QVERIFY(m_port > 0);
    }
    void cleanup()
    {
        ServiceTest::stopService(m_service);
        QTRY_VERIFY_WITH_TIMEOUT(players().isEmpty(), 30000);
        m_copy.reset();
    }

    void unbuiltRequestGetsNoHandlerReply_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("reply");
        QTest::newRow("unbuilt MainType") << "{\"MainType\":9999,\"SubType\":3,\"MsgID\":17}"
                                          << "{\"Msg\":9999,\"SubMsg\":3,\"Ret\":1020,\"MsgID\":17}";
        QTest::newRow("text MsgID") << "{\"MainType\":150,\"SubType\":0,\"MsgID\":\"abc\"}"
                                    << "{\"Msg\":150,\"SubMsg\":0,\"Ret\":1020,\"MsgID\":\"abc\"}";
    }
    void unbuiltRequestGetsNoHandlerReply()
    {
        QFETCH(QString, request);
        QFETCH(QString, reply);
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QVERIFY(page.send(request));
        const QString answer = page.receive(60);
        QCOMPARE(parseObject(answer), parseObject(reply));
        QCOMPARE(players().size(), 1);

        // The player was started for this session, with the link path as its
        // server name, in its own folder.
        const qint64 pid = players().first();
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget(), m_copy->appDir + "/x64");

        QVERIFY(page.close());
        QTRY_VERIFY_WITH_TIMEOUT(players().isEmpty(), 30000);
        QCOMPARE(m_service->state(), QProcess::Running);
    }

    void sessionKeyIfThePlayerMakesOne()
    {
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QVERIFY(page.send("{\"MainType\":32,\"SubType\":0,\"MsgID\":1}"));
        const QJsonObject keyReply = parseObject(page.receive(60));
        QCOMPARE(keyReply.value("Msg").toInt(), 32);
        if (!keyReply.contains("key"))
            QSKIP("this player build answers no session key yet");
        const QByteArray key = keyReply.value("key").toObject().value("key").toString().toLatin1();
        QCOMPARE(key.size(), 16);
        for (char c : key)
            QVERIFY(c >= 33 && c <= 126);
        bool ok = false;
        const QByteArray cipher = opensslEncrypt("{\"MainType\":9999,\"SubType\":1,\"MsgID\":2}", key, &ok);
        QVERIFY(ok);
        QVERIFY(page.send(QString::fromLatin1(cipher)));
        const QByteArray plain = stripZeros(opensslDecrypt(page.receive(60).toLatin1(), key, &ok));
        QVERIFY(ok);
        QCOMPARE(parseObject(QString::fromUtf8(plain)),
            parseObject("{\"Msg\":9999,\"SubMsg\":1,\"Ret\":1020,\"MsgID\":2}"));
        QVERIFY(page.close());
    }
};

QTEST_GUILESS_MAIN(TestServicePlayer)
#include "tst_service_player.moc"
