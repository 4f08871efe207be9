// The page's control requests on "/Cmd-WebLocalCtrl", posted with curl.
#include "ClientRegistry.h"
#include "MemoryDesktop.h"
#include "SocketServerSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <mutex>

using namespace SocketTest;

class TestLocalControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ClientRegistry::instance()->setWebSocketPort(54466);
        m_desktop = std::make_shared<NativeWindow::MemoryDesktop>();
        m_desktop->addWindow(
            0x1c00007, 0, QStringLiteral("Chromium"), QStringLiteral("Web Viewer - Chromium"));
        m_desktop->setForeground(0x1c00007);
        NativeWindow::setDesktop(m_desktop);
        m_server = startServer(m_root.appDir);
        QVERIFY(m_server);
        // The player relay, taken directly: curl blocks this thread meanwhile.
        connect(
            m_server.get(), &GeneralSocket::sigSendGeneralSocketMsg, this,
            [this](QByteArray msg, int id) {
                std::lock_guard<std::mutex> lock(m_relayedMutex);
                m_relayed.append({ msg, id });
            },
            Qt::DirectConnection);
    }
    void cleanupTestCase()
    {
        m_server.reset();
        NativeWindow::setDesktop(nullptr);
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("status"); // empty: closed unanswered
        QTest::addColumn<QByteArray>("answer");
        const QByteArray ok = "HTTP/1.1 200 OK";
        QTest::newRow("port") << QByteArray("{\"MainType\":99,\"SubType\":0}") << ok
                              << QByteArray("{\"MainRsp\":99,\"SubRsp\":0,\"port\":54466,\"Ret\":100}");
        QTest::newRow("version without settings")
            << QByteArray("{\"MainType\":1,\"SubType\":3,\"WebStyle\":\"Blue\"}") << ok
            << QByteArray(
                   "{\"MainRsp\":1,\"SubRsp\":3,\"Version\":\"\",\"WebStyle\":\"Blue\",\"ExeVersion\":\"V2\","
                   "\"AutoPreviewNum\":8,\"Ret\":100}");
        QTest::newRow("style with quotes and controls")
            << QByteArray("{\"MainType\":1,\"SubType\":0,\"WebStyle\":\"a\\\"b\\\\c\\n\"}") << ok
            << QByteArray("{\"MainRsp\":1,\"SubRsp\":0,\"Version\":\"\",\"WebStyle\":\"a\\\"b\\\\c\\u000a\","
                          "\"ExeVersion\":\"V2\",\"AutoPreviewNum\":8,\"Ret\":100}");
        QTest::newRow("style not a text")
            << QByteArray("{\"MainType\":1,\"SubType\":0,\"WebStyle\":5}") << ok
            << QByteArray("{\"MainRsp\":1,\"SubRsp\":0,\"Version\":\"\",\"WebStyle\":\"\","
                          "\"ExeVersion\":\"V2\",\"AutoPreviewNum\":8,\"Ret\":100}");
        QTest::newRow("log switch") << QByteArray("{\"MainType\":33,\"SubType\":1}") << ok
                                    << QByteArray(
                                           "{\"MainRsp\":33,\"SubRsp\":1,\"PrintLogEn\":1,\"Ret\":100}");
        QTest::newRow("relay without id") << QByteArray("{\"MainType\":12,\"SubType\":4}") << ok
                                          << QByteArray("{\"MainRsp\":12,\"SubRsp\":4,\"Ret\":100}");
        QTest::newRow("window found")
            << QByteArray("{\"MainType\":31,\"SubType\":0,\"Title\":\"Web Viewer\"}") << ok
            << QByteArray("{\"MainRsp\":31,\"SubRsp\":0,\"Ret\":100}");
        QTest::newRow("window not found") << QByteArray("{\"MainType\":31,\"SubType\":0,\"Title\":\"Other\"}")
                                          << ok << QByteArray("{\"MainRsp\":31,\"SubRsp\":0,\"Ret\":1003}");
        QTest::newRow("undecodable text")
            << QByteArray("{\"MainType\":26,\"SubType\":0,\"data\":\"not base64!\"}") << ok
            << QByteArray("{\n\t\"MainRsp\" : 26,\n\t\"Ret\" : 1016,\n\t\"SubRsp\" : 0,\n\t\"data\" : "
                          "\"not base64!\"\n}\n");
        QTest::newRow("unknown type")
            << QByteArray("{\"MainType\":5,\"SubType\":0}") << QByteArray() << QByteArray();
        QTest::newRow("not json") << QByteArray("{\"MainType\":99,") << QByteArray() << QByteArray();
        QTest::newRow("type as text") << QByteArray("{\"MainType\":\"99\"}") << QByteArray() << QByteArray();
        QTest::newRow("data not a text")
            << QByteArray("{\"MainType\":26,\"SubType\":1,\"data\":7}") << QByteArray() << QByteArray();
        QTest::newRow("title missing")
            << QByteArray("{\"MainType\":31,\"SubType\":0}") << QByteArray() << QByteArray();
        QTest::newRow("no json at all")
            << QByteArray("MainType=99") << QByteArray("HTTP/1.1 400 Bad Request") << QByteArray();
    }
    void answers()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, answer);
        QSignalSpy embed(m_server.get(), &GeneralSocket::sendEmbedBrwoseWndID);
        const Reply reply = control(*m_server, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body, answer);
        if (!answer.isEmpty())
            QCOMPARE(reply.header("Content-Length").toInt(), answer.size());
        if (answer.startsWith("{\"MainRsp\":31,") && answer.endsWith("\"Ret\":100}")) {
            QCOMPARE(embed.size(), 1);
            QCOMPARE(embed.at(0).at(0).toString(), QStringLiteral("0x01C00007"));
        } else {
            QCOMPARE(embed.size(), 0);
        }
    }

    // The built-in key: what one request encrypts, a later one decrypts,
    // however long the text.
    void cipherRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("short") << QByteArray("hello page");
        QTest::newRow("beyond any fixed buffer") << QByteArray(100000, 'k');
    }
    void cipherRoundTrip()
    {
        QFETCH(QByteArray, text);
        const Reply encrypted
            = control(*m_server, "{\"MainType\":26,\"SubType\":1,\"data\":\"" + text + "\"}");
        const QJsonObject e = QJsonDocument::fromJson(encrypted.body).object();
        QCOMPARE(e.value(QStringLiteral("Ret")).toInt(), 100);
        const QByteArray cipher = e.value(QStringLiteral("data")).toString().toLatin1();
        QVERIFY(QByteArray::fromBase64(cipher).size() >= text.size());
        const Reply decrypted
            = control(*m_server, "{\"MainType\":26,\"SubType\":0,\"data\":\"" + cipher + "\"}");
        const QJsonObject d = QJsonDocument::fromJson(decrypted.body).object();
        QCOMPARE(d.value(QStringLiteral("Ret")).toInt(), 100);
        QCOMPARE(d.value(QStringLiteral("data")).toString().toLatin1(), text);
    }

    void freshKeys()
    {
        const Reply a = control(*m_server, "{\"MainType\":27,\"SubType\":0}");
        const Reply b = control(*m_server, "{\"MainType\":27,\"SubType\":0}");
        const QJsonObject ka
            = QJsonDocument::fromJson(a.body).object().value(QStringLiteral("key")).toObject();
        const QJsonObject kb
            = QJsonDocument::fromJson(b.body).object().value(QStringLiteral("key")).toObject();
        QVERIFY(a.body.startsWith(
            "{\n\t\"MainRsp\" : 27,\n\t\"Ret\" : 100,\n\t\"SubRsp\" : 0,\n\t\"key\" : \n\t{"));
        QCOMPARE(ka.value(QStringLiteral("iv")).toString(), QString());
        QCOMPARE(ka.value(QStringLiteral("key")).toString().size(), 16);
        // Two keys within one second differ: they come from the random source.
        QVERIFY(ka.value(QStringLiteral("key")) != kb.value(QStringLiteral("key")));
    }

    // The relayed text is the whole body with "Potocol" added, however long.
    void relayToPlayer_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("small") << 10;
        QTest::newRow("beyond 1023 bytes") << 5000;
    }
    void relayToPlayer()
    {
        QFETCH(int, size);
        {
            std::lock_guard<std::mutex> lock(m_relayedMutex);
            m_relayed.clear();
        }
        const QByteArray pad(size, 'p');
        const Reply reply
            = control(*m_server, "{\"MainType\":12,\"SubType\":2,\"Id\":7,\"Pad\":\"" + pad + "\"}");
        QCOMPARE(reply.body, QByteArray("{\"MainRsp\":12,\"SubRsp\":2,\"Ret\":100}"));
        std::lock_guard<std::mutex> lock(m_relayedMutex);
        QCOMPARE(m_relayed.size(), 1);
        QCOMPARE(m_relayed.at(0).second, 7);
        const QJsonObject relayed = QJsonDocument::fromJson(m_relayed.at(0).first).object();
        QCOMPARE(relayed.value(QStringLiteral("Potocol")).toString(), QStringLiteral("HTTP"));
        QCOMPARE(relayed.value(QStringLiteral("Pad")).toString().size(), size);
    }

    // Outside requests: only http and https, within the page's time less a
    // second, which must leave some time.
    void outsideRequest_data()
    {
        QTest::addColumn<QString>("path"); // appended to the outside server's address
        QTest::addColumn<int>("time");
        QTest::addColumn<int>("ret"); // 0: the outside answer comes back
        QTest::newRow("answered") << "/echo" << 6000 << 0;
        QTest::newRow("no time left") << "/echo" << 1000 << 7;
        QTest::newRow("negative time") << "/echo" << -5 << 7;
        QTest::newRow("too slow") << "/slow" << 2000 << 7;
        QTest::newRow("file address") << "file:///etc/passwd" << 6000 << 1;
    }
    void outsideRequest()
    {
        QFETCH(QString, path);
        QFETCH(int, time);
        QFETCH(int, ret);
        PageServer outside(QStringLiteral("good"));
        QVERIFY(outside.port > 0);
        const QString url = path.startsWith(QLatin1Char('/')) ? outside.url() + path : path;
        const QByteArray body = "{\"MainType\":202,\"SubType\":0,\"Url\":\"" + url.toUtf8()
            + "\",\"Req\":\"{\\\"a\\\":\\\"caf\xc3\xa9\\\"}\",\"Time\":" + QByteArray::number(time) + "}";
        const Reply reply = control(*m_server, body);
        QCOMPARE(reply.status, QByteArray("HTTP/1.1 200 OK"));
        const QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
        if (ret == 0) {
            QCOMPARE(answer.value(QStringLiteral("got")).toString(), QStringLiteral("{\"a\":\"caf\u00e9\"}"));
            // The length announced is the body's byte count.
            QCOMPARE(answer.value(QStringLiteral("length")).toInt(), 13);
        } else {
            QCOMPARE(answer.value(QStringLiteral("Ret")).toInt(), ret);
            QCOMPARE(answer.value(QStringLiteral("MainRsp")).toInt(), 202);
            QVERIFY(!answer.value(QStringLiteral("ErrorMsg")).toString().isEmpty());
        }
    }

private:
    WebRoot m_root;
    std::shared_ptr<NativeWindow::MemoryDesktop> m_desktop;
    std::unique_ptr<GeneralSocket> m_server;
    std::mutex m_relayedMutex;
    QList<QPair<QByteArray, int>> m_relayed;
};

QTEST_GUILESS_MAIN(TestLocalControl)
#include "tst_local_control.moc"
