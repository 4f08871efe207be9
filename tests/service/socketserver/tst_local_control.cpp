// The page's control requests on "/Cmd-WebLocalCtrl", posted with curl.
#include "ClientRegistry.h"
#include "HttpClient.h"
#include "MemoryDesktop.h"
#include "QueuedSpy.h"
#include "SocketServerSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
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
            << QByteArray("{\n   \"MainRsp\" : 26,\n   \"Ret\" : 1016,\n   \"SubRsp\" : 0,\n   \"data\" : "
                          "\"not base64!\"\n}\n");
        // The echoed style holds at most 63 bytes, cut between characters.
        QTest::newRow("style of 100 bytes")
            << "{\"MainType\":1,\"SubType\":0,\"WebStyle\":\"" + QByteArray(100, 's') + "\"}" << ok
            << "{\"MainRsp\":1,\"SubRsp\":0,\"Version\":\"\",\"WebStyle\":\"" + QByteArray(63, 's')
                + "\",\"ExeVersion\":\"V2\",\"AutoPreviewNum\":8,\"Ret\":100}";
        QTest::newRow("style cut before a two-byte character")
            << "{\"MainType\":1,\"SubType\":0,\"WebStyle\":\"" + QByteArray(62, 's') + "\xc3\xa9\"}" << ok
            << "{\"MainRsp\":1,\"SubRsp\":0,\"Version\":\"\",\"WebStyle\":\"" + QByteArray(62, 's')
                + "\",\"ExeVersion\":\"V2\",\"AutoPreviewNum\":8,\"Ret\":100}";
        QTest::newRow("style of 63 bytes ending in a character")
            << "{\"MainType\":1,\"SubType\":0,\"WebStyle\":\"" + QByteArray(61, 's') + "\xc3\xa9\"}" << ok
            << "{\"MainRsp\":1,\"SubRsp\":0,\"Version\":\"\",\"WebStyle\":\"" + QByteArray(61, 's')
                + "\xc3\xa9\",\"ExeVersion\":\"V2\",\"AutoPreviewNum\":8,\"Ret\":100}";
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
        QueuedSpy embed(m_server.get(), &GeneralSocket::sendEmbedBrwoseWndID);
        const Reply reply = control(*m_server, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body, answer);
        if (!answer.isEmpty())
            QCOMPARE(reply.header("Content-Length").toInt(), answer.size());
        embed.deliver(); // emitted before the reply was sent
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
        // Three blanks a level, the inner object's brace on its key's line.
        const QByteArray key = ka.value(QStringLiteral("key")).toString().toLatin1();
        QCOMPARE(a.body,
            "{\n   \"MainRsp\" : 27,\n   \"Ret\" : 100,\n   \"SubRsp\" : 0,\n   \"key\" : {\n      \"iv\" : "
            "\"\",\n"
            "      \"key\" : "
                + GeneralSocket::jsonText(key) + "\n   }\n}\n");
        QCOMPARE(ka.value(QStringLiteral("iv")).toString(), QString());
        QCOMPARE(ka.value(QStringLiteral("key")).toString().size(), 16);
        // Two keys within one second differ: they come from the random source.
        QVERIFY(ka.value(QStringLiteral("key")) != kb.value(QStringLiteral("key")));
    }

    // The version from the settings file holds at most 63 bytes, cut between
    // characters.
    void versionIsCut_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QByteArray>("answered");
        QTest::newRow("short") << "V1.2.3" << QByteArray("V1.2.3");
        QTest::newRow("100 characters") << QString(100, QLatin1Char('v')) << QByteArray(63, 'v');
        QTest::newRow("cut before a two-byte character")
            << QString(62, QLatin1Char('v')) + QChar(0xe9) << QByteArray(62, 'v');
        QTest::newRow("cut before a four-byte character")
            << QString(61, QLatin1Char('v')) + QString::fromUcs4(U"\U0001F600") << QByteArray(61, 'v');
    }
    void versionIsCut()
    {
        QFETCH(QString, version);
        QFETCH(QByteArray, answered);
        const QString ini = m_root.appDir + QStringLiteral("/QuorvelToolVersion.ini");
        {
            QSettings settings(ini, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Tool/version"), version);
        }
        const Reply reply = control(*m_server, "{\"MainType\":1,\"SubType\":0}");
        QFile::remove(ini);
        QCOMPARE(reply.body,
            "{\"MainRsp\":1,\"SubRsp\":0,\"Version\":\"" + answered
                + "\",\"WebStyle\":\"\",\"ExeVersion\":\"V2\",\"AutoPreviewNum\":8,\"Ret\":100}");
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
    // second, which must leave some time. Missing texts read as empty ones;
    // an array for a text, or a time that is no int, ends the request at once
    // unanswered; any int time works without overflow.
    void outsideRequest_data()
    {
        QTest::addColumn<QByteArray>("body"); // "%URL%" is the outside server's address
        QTest::addColumn<int>("ret"); // 0: the outside answer comes back; -1: closed unanswered
        const QByteArray req = "\"Req\":\"{\\\"a\\\":\\\"caf\xc3\xa9\\\"}\"";
        auto body = [&req](const QByteArray &url, const QByteArray &time) {
            return "{\"MainType\":202,\"SubType\":0,\"Url\":\"" + url + "\"," + req + ",\"Time\":" + time
                + "}";
        };
        QTest::newRow("answered") << body("%URL%/echo", "6000") << 0;
        QTest::newRow("no time left") << body("%URL%/echo", "1000") << 7;
        QTest::newRow("negative time") << body("%URL%/echo", "-5") << 7;
        QTest::newRow("too slow") << body("%URL%/slow", "2000") << 7;
        QTest::newRow("file address") << body("file:///etc/passwd", "6000") << 1;
        QTest::newRow("time INT_MIN") << body("%URL%/echo", "-2147483648") << 7;
        QTest::newRow("time -1") << body("%URL%/echo", "-1") << 7;
        QTest::newRow("time 0") << body("%URL%/echo", "0") << 7;
        QTest::newRow("time INT_MAX") << body("%URL%/echo", "2147483647") << 0;
        QTest::newRow("time 1e18") << body("%URL%/echo", "1e18") << -1;
        QTest::newRow("time as text") << body("%URL%/echo", "\"5000\"") << -1;
        QTest::newRow("no Url") << QByteArray("{\"MainType\":202,\"SubType\":0,\"Req\":\"{}\",\"Time\":5000}")
                                << 1;
        QTest::newRow("no Req") << QByteArray("{\"MainType\":202,\"SubType\":0,\"Url\":\"\",\"Time\":5000}")
                                << 1;
        QTest::newRow("Req an array")
            << QByteArray("{\"MainType\":202,\"SubType\":0,\"Url\":\"%URL%/echo\",\"Req\":[1],\"Time\":5000}")
            << -1;
    }
    void outsideRequest()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, ret);
        PageServer outside(QStringLiteral("good"));
        QVERIFY(outside.port > 0);
        body.replace("%URL%", outside.url().toUtf8());
        const Reply reply = control(*m_server, body);
        if (ret < 0) {
            QCOMPARE(reply.status, QByteArray());
            QCOMPARE(reply.body, QByteArray());
            return;
        }
        QCOMPARE(reply.status, QByteArray("HTTP/1.1 200 OK"));
        const QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
        if (ret == 0) {
            QCOMPARE(answer.value(QStringLiteral("got")).toString(), QStringLiteral("{\"a\":\"caf\u00e9\"}"));
            // The length announced is the body's byte count.
            QCOMPARE(answer.value(QStringLiteral("length")).toInt(), 13);
            return;
        }
        // The failure answer in the service's styled layout.
        QCOMPARE(reply.body,
            "{\n   \"ErrorMsg\" : \"" + CHttpClient::errorString(ret).toUtf8()
                + "\",\n   \"MainRsp\" : 202,\n   \"Ret\" : " + QByteArray::number(ret) + "\n}\n");
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
