// The socket server's files and fixed answers, with curl and Node's fetch as
// the clients.
#include "RawSocket.h"
#include "SocketServerSupport.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QtTest>

#include <thread>

#include <sys/socket.h>
#include <unistd.h>

using namespace SocketTest;

class TestGeneralSocket : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(writeFile(m_root.web(QStringLiteral("js/common.js")), "common"));
        QVERIFY(writeFile(m_root.web(QStringLiteral("js/common.json")), "{\"json\":1}"));
        m_server = startServer(m_root.appDir);
        QVERIFY(m_server);
        QVERIFY(m_server->port() > 0);
    }
    void cleanupTestCase() { m_server.reset(); }

    void files_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body"); // empty: the not-found page
        const QByteArray ok = "HTTP/1.1 200 OK";
        const QByteArray missing = "HTTP/1.1 404 Not Found";
        const QByteArray binary = "application/binary";
        QTest::newRow("page with query")
            << "/index.html?x=1" << ok << QByteArray("text/html") << QByteArray("<html>index</html>");
        QTest::newRow("encoded name")
            << "/%69ndex.html" << ok << QByteArray("text/html") << QByteArray("<html>index</html>");
        QTest::newRow("service capture file")
            << "//Cfg/capture.bmp" << ok << QByteArray("text/plain") << QByteArray("capture-bmp");
        QTest::newRow("service tip file")
            << "/Cfg/tip.png" << ok << QByteArray("image/png") << QByteArray("tip-png");
        QTest::newRow("style") << "/WebStyle_Blue/css/main.css" << ok << QByteArray("text/css")
                               << QByteArray("blue{}");
        QTest::newRow("upper PNG") << "/Web2/a.PNG" << ok << QByteArray("image/png")
                                   << QByteArray("png-upper");
        QTest::newRow("mixed Png") << "/a.Png" << ok << QByteArray("text/plain") << QByteArray("png-mixed");
        QTest::newRow("upper JPG") << "/a.JPG" << ok << QByteArray("text/plain") << QByteArray("jpg-upper");
        QTest::newRow("jpg") << "/pic.jpg" << ok << QByteArray("image/jpeg") << QByteArray("jpg");
        // Any path holding "common.js" goes through the update check, whose
        // type test finds ".js" anywhere in the name; with no web-file server
        // configured it serves the installed file.
        QTest::newRow("common.js") << "/js/common.js" << ok << QByteArray("application/x-javascript")
                                   << QByteArray("common");
        QTest::newRow("common.json") << "/js/common.json" << ok << QByteArray("application/x-javascript")
                                     << QByteArray("{\"json\":1}");
        QTest::newRow("folder") << "/css" << missing << binary << QByteArray();
        QTest::newRow("no such file") << "/nothing.html" << missing << binary << QByteArray();
        // Every way out of the web folder.
        QTest::newRow("dot dot") << "/../Service/secret.ini" << missing << binary << QByteArray();
        QTest::newRow("dot dot deeper")
            << "/css/../../Service/secret.ini" << missing << binary << QByteArray();
        QTest::newRow("encoded dot dot") << "/%2e%2e/Service/secret.ini" << missing << binary << QByteArray();
        QTest::newRow("encoded slashes") << "/..%2fService%2fsecret.ini" << missing << binary << QByteArray();
        QTest::newRow("upper encoding")
            << "/%2E%2E%2FService%2Fsecret.ini" << missing << binary << QByteArray();
        QTest::newRow("backslashes") << "/..\\Service\\secret.ini" << missing << binary << QByteArray();
        QTest::newRow("encoded backslashes")
            << "/..%5cService%5csecret.ini" << missing << binary << QByteArray();
        QTest::newRow("single dot") << "/./index.html" << missing << binary << QByteArray();
        QTest::newRow("nul") << "/index.html%00.png" << missing << binary << QByteArray();
        QTest::newRow("style dot dot")
            << "/WebStyle_../Service/secret.ini" << missing << binary << QByteArray();
        QTest::newRow("style encoded dot dot")
            << "/WebStyle_%2e%2e/Service/secret.ini" << missing << binary << QByteArray();
        QTest::newRow("style is the service folder")
            << "/WebStyle_Service/secret.ini" << missing << binary << QByteArray();
        QTest::newRow("update check of the service folder")
            << "/WebStyle_Service/common.js" << missing << binary << QByteArray();
        QTest::newRow("update check of no style")
            << "/WebStyle_/common.js" << missing << binary << QByteArray();
        QTest::newRow("empty style") << "/WebStyle_/Web/index.html" << missing << binary << QByteArray();
        QTest::newRow("style with a dot") << "/WebStyle_a.b/x.html" << missing << binary << QByteArray();
        QTest::newRow("link out of the folder") << "/link.txt" << missing << binary << QByteArray();
        QTest::newRow("link to the service folder")
            << "/service/secret.ini" << missing << binary << QByteArray();
        QTest::newRow("Cfg only as the whole path") << "/x/Cfg/tip.png" << missing << binary << QByteArray();
        QTest::newRow("Cfg with dot dot") << "/Cfg/../secret.ini" << missing << binary << QByteArray();
        QTest::newRow("Cfg other file")
            << "/Cfg/../../Service/secret.ini" << missing << binary << QByteArray();
        QTest::newRow("absolute service path")
            << QStringLiteral("/") + m_root.appDir + QStringLiteral("/secret.ini") << missing << binary
            << QByteArray();
        // A long name is not cut down to a shorter one that exists.
        QTest::newRow("name over 255 bytes") << QStringLiteral("/index.html") + QString(300, QLatin1Char('x'))
                                             << missing << binary << QByteArray();
        QTest::newRow("target over the limit")
            << QStringLiteral("/index.html?") + QString(10300, QLatin1Char('q')) << missing << binary
            << QByteArray();
    }
    void files()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, body);
        const Reply reply = curl({ QStringLiteral("--path-as-is"), baseUrl(*m_server) + target });
        QCOMPARE(reply.exitCode, 0);
        QFETCH(QByteArray, status);
        QCOMPARE(reply.status, status);
        QFETCH(QByteArray, type);
        QCOMPARE(reply.header("Content-type"), type);
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QCOMPARE(reply.header("Access-Control-Allow-Origin"), QByteArray("*"));
        QCOMPARE(reply.header("Content-Length").toInt(), reply.body.size());
        if (body.isEmpty())
            QVERIFY(reply.body.startsWith("<html><head><title>404 File Not Found</title></head>"));
        else
            QCOMPARE(reply.body, body);
        QVERIFY(QFile::exists(m_root.appDir + QStringLiteral("/secret.ini")));
    }

    // Nothing but this machine reaches the server.
    void loopbackOnly()
    {
        QHostAddress outside;
        for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                outside = a;
        }
        if (outside.isNull())
            QSKIP("this machine has no address besides the loopback one");
        QTcpSocket socket;
        socket.connectToHost(outside, quint16(m_server->port()));
        QVERIFY(!socket.waitForConnected(5000));
        QCOMPARE(socket.error(), QAbstractSocket::ConnectionRefusedError);
    }

    void largeFileArrivesWhole()
    {
        QByteArray big(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(i * 7 + i / 4096);
        QVERIFY(writeFile(m_root.web(QStringLiteral("big.bin")), big));
        const Reply reply = curl({ baseUrl(*m_server) + QStringLiteral("/big.bin") });
        QCOMPARE(reply.header("Content-Length").toInt(), big.size());
        QVERIFY(reply.body == big);
    }

    // A strict HTTP parser accepts the pre-flight answer and finds its CORS
    // headers.
    void preflightForStrictClient()
    {
        const QString script = QStringLiteral(
            "fetch(process.argv[1], {method: 'OPTIONS'}).then(r => {"
            "console.log(JSON.stringify({status: r.status, origin: "
            "r.headers.get('access-control-allow-origin'),"
            "methods: r.headers.get('access-control-allow-methods'), length: "
            "r.headers.get('content-length')}));"
            "}).catch(e => { console.log(JSON.stringify({error: String(e.cause || e)})); });");
        QProcess node;
        node.start(QStringLiteral("node"),
            { QStringLiteral("-e"), script, baseUrl(*m_server) + QStringLiteral("/Cmd-WebLocalCtrl") });
        QVERIFY(node.waitForFinished(30000));
        const QByteArray out = node.readAllStandardOutput().trimmed();
        QCOMPARE(out,
            QByteArray("{\"status\":200,\"origin\":\"*\",\"methods\":\"GET, POST, OPTIONS, "
                       "HEAD\",\"length\":\"0\"}"));
    }

    // The body of a request that waits for "100 Continue" is read, not lost.
    void expectContinueIsAnswered()
    {
        QByteArray trace;
        const Reply reply
            = curl({ QStringLiteral("-v"), QStringLiteral("-H"), QStringLiteral("Expect: 100-continue"),
                       QStringLiteral("--data-binary"), QString(3000, QLatin1Char('b')),
                       baseUrl(*m_server) + QStringLiteral("/index.html") },
                &trace);
        QVERIFY2(trace.contains("< HTTP/1.1 100 Continue"), trace.constData());
        QCOMPARE(reply.status, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(reply.body, QByteArray("<html>index</html>"));
    }

    void oversizedBodyIsRefused()
    {
        const Reply reply = curl({ QStringLiteral("-H"), QStringLiteral("Content-Length: 300000"),
            QStringLiteral("-H"), QStringLiteral("Expect:"), QStringLiteral("--data-binary"),
            QStringLiteral("x"), baseUrl(*m_server) + QStringLiteral("/index.html") });
        QCOMPARE(reply.status, QByteArray("HTTP/1.1 400 Bad Request"));
    }

    void takenPortIsSkipped()
    {
        int first = 0;
        const int taken = RawSocket::listenLoopback(0, 0, &first);
        QVERIFY(taken >= 0);
        // The port above may be taken by someone else too; then the one after.
        GeneralSocket server(m_root.appDir, first, first + 5);
        QVERIFY(server.listen());
        QVERIFY(server.port() > first);
        RawSocket::closeSocket(taken);
    }

private:
    WebRoot m_root;
    std::unique_ptr<GeneralSocket> m_server;
};

QTEST_GUILESS_MAIN(TestGeneralSocket)
#include "tst_general_socket.moc"
