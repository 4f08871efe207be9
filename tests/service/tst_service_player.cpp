// End to end: a page (Python websockets) -> QuorvelTool -> the real player ->
// back to the page; closing the page ends the player.

#include "SecretVariants.h"
#include "ServiceTestSupport.h"

#include <QDirIterator>
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

    // Every file below `folder`, one after the other.
    static QString filesBelow(const QString &folder)
    {
        QString all;
        for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly))
                all += QString::fromLocal8Bit(f.readAll());
        }
        return all;
    }

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

    // A page's credentials, spelt every way, reach none of the logs: the
    // player's files, the service's files with the firmware customiser's
    // lines, and the standard error of both programs.
    void noSecretInAnyLog()
    {
        ServiceTest::stopService(m_service);
        m_copy->extraEnv.insert(QStringLiteral("TEVORA_LOG_STDERR"), QStringLiteral("1"));
        m_service = m_copy->start(&m_port);
        QVERIFY(m_port > 0);
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        const std::vector<SecretVariant> &variants = secretVariants();
        QList<int> objects; // the rows whose messages both programs take in
        for (int i = 0; i < int(variants.size()); ++i) {
            const QString text = QString::fromUtf8(variants[i].text);
            if (!text.startsWith(QLatin1Char('{'))) {
                QVERIFY(page.send(text));
                continue;
            }
            if (variants[i].parserReads)
                objects << i;
            // The same members behind the player's and the firmware customiser's request kinds.
            for (int mainType : { 9999, 201 })
                QVERIFY(page.send(
                    QStringLiteral("{\"MainType\":%1,\"SubType\":0,\"MsgID\":%2,").arg(mainType).arg(i)
                    + text.mid(1)));
        }
        QVERIFY(page.send(QStringLiteral("{\"MainType\":9999,\"SubType\":0,\"MsgID\":1000}")));
        QVERIFY(page.send(QStringLiteral("{\"MainType\":201,\"SubType\":0,\"MsgID\":1001}")));
        QSet<int> answered;
        while (!(answered.contains(1000) && answered.contains(1001))) {
            const QString answer = page.receive(60);
            QVERIFY(!answer.isNull());
            answered << parseObject(answer).value("MsgID").toInt();
        }
        QVERIFY(page.close());
        // The player's file is whole once it has ended.
        QTRY_VERIFY_WITH_TIMEOUT(players().isEmpty(), 30000);
        m_service->terminate();
        QVERIFY(m_service->waitForFinished(10000));
        const QString errors = QString::fromLocal8Bit(m_service->readAllStandardError());

        const QString playerFiles = filesBelow(m_copy->appDir + QStringLiteral("/x64/log"));
        const QString serviceFiles = filesBelow(m_copy->appDir + QStringLiteral("/Log"));
        for (int i : objects) {
            const QString id = QStringLiteral("\"MsgID\":%1,").arg(i);
            QVERIFY2(
                playerFiles.contains(QStringLiteral("RecvWeb msg={\"MainType\":9999,\"SubType\":0,") + id),
                variants[size_t(i)].name);
            QVERIFY2(serviceFiles.contains(QStringLiteral("Msg:{\"MainType\":201,\"SubType\":0,") + id),
                variants[size_t(i)].name);
            QVERIFY2(errors.contains(QStringLiteral("RecvWeb msg={\"MainType\":9999,\"SubType\":0,") + id)
                    && errors.contains(QStringLiteral("Msg:{\"MainType\":201,\"SubType\":0,") + id),
                variants[size_t(i)].name);
        }
        for (const SecretVariant &v : variants) {
            for (const char *secret : { v.secret, v.spelt ? v.spelt : v.secret }) {
                QVERIFY2(!playerFiles.contains(QLatin1String(secret)), v.name);
                QVERIFY2(!serviceFiles.contains(QLatin1String(secret)), v.name);
                QVERIFY2(!errors.contains(QLatin1String(secret)), v.name);
            }
        }
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
