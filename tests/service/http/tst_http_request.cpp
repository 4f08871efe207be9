// Request heads as the socket server reads them: the header classes, when a
// request is whole, how it is classified; replies sent over plain sockets.
#include "HttpHeader.h"
#include "HttpReply.h"
#include "HttpRequest.h"

#include <QTemporaryFile>
#include <QtTest>

#include <climits>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

class TestHttpRequest : public QObject
{
    Q_OBJECT

private slots:
    void header_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("name"); // looked up in another letter case
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("request with body")
            << QByteArray("GET /a HTTP/1.1\r\nHost: x\r\n\r\nbody: y") << true << QByteArray("GET")
            << QByteArray("/a") << QByteArray("HOST") << QByteArray("x");
        QTest::newRow("body field ignored")
            << QByteArray("GET /a HTTP/1.1\r\nHost: x\r\n\r\nbody: y") << true << QByteArray("GET")
            << QByteArray("/a") << QByteArray("body") << QByteArray();
        QTest::newRow("value keeps its colons")
            << QByteArray("GET / HTTP/1.1\r\nhost:  127.0.0.1:54455 \r\n\r\n") << true << QByteArray("GET")
            << QByteArray("/") << QByteArray("Host") << QByteArray("127.0.0.1:54455");
        QTest::newRow("later line wins")
            << QByteArray("GET / HTTP/1.1\nA: 1\na: 2\n\n") << true << QByteArray("GET") << QByteArray("/")
            << QByteArray("A") << QByteArray("2");
        QTest::newRow("two parts") << QByteArray("GET /a\r\nHost: x\r\n\r\n") << false << QByteArray()
                                   << QByteArray() << QByteArray("host") << QByteArray();
        QTest::newRow("four parts") << QByteArray("GET /a b HTTP/1.1\r\n\r\n") << false << QByteArray()
                                    << QByteArray() << QByteArray("host") << QByteArray();
        QTest::newRow("double blank") << QByteArray("GET  /a HTTP/1.1\r\n\r\n") << false << QByteArray()
                                      << QByteArray() << QByteArray("host") << QByteArray();
    }
    void header()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        requesethttpheader header;
        QCOMPARE(header.parse(text.toStdString()), ok);
        QFETCH(QByteArray, method);
        QCOMPARE(QByteArray::fromStdString(header.method()), method);
        QFETCH(QByteArray, target);
        QCOMPARE(QByteArray::fromStdString(header.target()), target);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, value);
        QCOMPARE(QByteArray::fromStdString(header.field(name.toStdString())), value);
        if (!ok)
            QVERIFY(header.fields().empty());
    }

    void serializeReadsBack()
    {
        responsehttpheader out;
        out.setVersion("HTTP/1.1");
        out.setStatus("200");
        out.setReason("OK");
        out.setField("Content-Length", variant(int64_t(1234567890123)));
        out.setField("X-Flag", variant(true));
        const std::string text = out.serializeFields();
        QVERIFY(QByteArray::fromStdString(text).endsWith("\r\n\r\n"));
        responsehttpheader in(text);
        QCOMPARE(QByteArray::fromStdString(in.status()), QByteArray("200"));
        QCOMPARE(int64_t(variant(in.field("content-length"))), int64_t(1234567890123));
        QVERIFY(bool(variant(in.field("x-flag"))));
        QCOMPARE(int(int8_t(variant(int8_t(-5)))), -5);
        QCOMPARE(int32_t(variant("x12")), 0);
    }

    void scan_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("state"); // HttpRequest::Scan
        QTest::addColumn<bool>("expectContinue");
        const int more = int(HttpRequest::Scan::NeedMore);
        const int whole = int(HttpRequest::Scan::Complete);
        const int bad = int(HttpRequest::Scan::Bad);
        QTest::newRow("head cut") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << more << false;
        QTest::newRow("head whole") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << whole << false;
        QTest::newRow("bare line feeds") << QByteArray("GET / HTTP/1.1\nHost: x\n\n") << whole << false;
        QTest::newRow("body missing")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nab") << more << false;
        QTest::newRow("body whole") << QByteArray("POST / HTTP/1.1\r\ncontent-length: 2\r\n\r\nab") << whole
                                    << false;
        QTest::newRow("continue asked")
            << QByteArray("POST / HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 5\r\n\r\n") << more
            << true;
        QTest::newRow("length over the cap")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 204800\r\n\r\n") << bad << false;
        QTest::newRow("length not a number")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << bad << false;
        QTest::newRow("length huge") << QByteArray(
            "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n")
                                     << bad << false;
        QTest::newRow("no start line") << QByteArray("\r\n\r\n") << bad << false;
        QTest::newRow("head never ends") << QByteArray(HttpRequest::kMaxRequest, 'a') << bad << false;
    }
    void scan()
    {
        QFETCH(QByteArray, bytes);
        HttpRequest::Head head;
        QFETCH(int, state);
        QCOMPARE(int(HttpRequest::scan(bytes.constData(), bytes.size(), &head)), state);
        QFETCH(bool, expectContinue);
        QCOMPARE(head.expectContinue, expectContinue);
    }

    void classify_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("kind"); // HttpRequest::Kind
        using K = HttpRequest::Kind;
        QTest::newRow("not http") << QByteArray("GET / FTP/1.0\r\n\r\n") << int(K::NotHttp);
        QTest::newRow("pre-flight of a control request")
            << QByteArray("OPTIONS /Cmd-WebLocalCtrl HTTP/1.1\r\n\r\n") << int(K::Preflight);
        QTest::newRow("control") << QByteArray("POST /Cmd-WebLocalCtrl HTTP/1.1\r\n\r\n") << int(K::Control);
        QTest::newRow("control with query")
            << QByteArray("POST /Cmd-WebLocalCtrl?a=1 HTTP/1.1\r\n\r\n") << int(K::Control);
        QTest::newRow("control name in a header only")
            << QByteArray("GET /index.html HTTP/1.1\r\nReferer: http://x/Cmd-WebLocalCtrl\r\n\r\n")
            << int(K::File);
        QTest::newRow("websocket any case")
            << QByteArray("GET / HTTP/1.1\r\nupgrade: WEBSOCKET\r\nsec-websocket-key: x\r\n\r\n")
            << int(K::WebSocket);
        QTest::newRow("websocket words in the path")
            << QByteArray("GET /Sec-WebSocket-Key/Upgrade:%20websocket HTTP/1.1\r\n\r\n") << int(K::File);
        QTest::newRow("upgrade to something else")
            << QByteArray("GET / HTTP/1.1\r\nUpgrade: h2c\r\nSec-WebSocket-Key: x\r\n\r\n") << int(K::File);
    }
    void classify()
    {
        QFETCH(QByteArray, head);
        requesethttpheader header;
        header.parse(head.toStdString());
        QFETCH(int, kind);
        QCOMPARE(int(HttpRequest::classify(header)), kind);
    }

    // A file whose reply cannot be sent whole reports failure; a peer that
    // went away costs no SIGPIPE.
    void sendFailureIsReported_data()
    {
        QTest::addColumn<bool>("peerReads");
        QTest::addColumn<int>("result");
        QTest::newRow("peer reads") << true << 0;
        QTest::newRow("peer gone") << false << -1;
    }
    void sendFailureIsReported()
    {
        QFETCH(bool, peerReads);
        QTemporaryFile file;
        QVERIFY(file.open());
        QCOMPARE(file.write(QByteArray(2 * 1024 * 1024, 'z')), qint64(2 * 1024 * 1024));
        file.close();
        const QString path = file.fileName();
        int pair[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
        qint64 received = 0;
        std::thread reader;
        if (peerReads) {
            reader = std::thread([&] {
                char buf[65536];
                ssize_t n;
                while ((n = ::read(pair[1], buf, sizeof buf)) > 0)
                    received += n;
            });
        } else {
            ::close(pair[1]);
        }
        QFETCH(int, result);
        QCOMPARE(HttpReply::sendHttpFileChecked(path, 1, pair[0]), result);
        ::close(pair[0]);
        if (reader.joinable()) {
            reader.join();
            ::close(pair[1]);
            QVERIFY(received > 2 * 1024 * 1024);
        }
    }

    void textReplyStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("200") << 200 << QByteArray("HTTP/1.1 200 OK\r\n");
        QTest::newRow("400") << 400 << QByteArray("HTTP/1.1 400 Bad Request\r\n");
        QTest::newRow("500") << 500 << QByteArray("HTTP/1.1 404 Not Found\r\n");
    }
    void textReplyStatus()
    {
        int pair[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
        const QByteArray text(70000, 't'); // larger than any fixed reply buffer
        QFETCH(int, status);
        QVERIFY(HttpReply::sendHttpText(text.constData(), text.size(), status, pair[0]) > 70000);
        ::close(pair[0]);
        QByteArray all;
        char buf[65536];
        ssize_t n;
        while ((n = ::read(pair[1], buf, sizeof buf)) > 0)
            all.append(buf, int(n));
        ::close(pair[1]);
        QFETCH(QByteArray, line);
        QVERIFY(all.startsWith(line));
        QVERIFY(all.contains("\r\nContent-Length: 70000\r\n"));
        QVERIFY(all.endsWith("\r\n\r\n" + text));
    }

    void replyCodes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("O42") << QByteArray("O42") << 42;
        QTest::newRow("Draxel") << QByteArray("Draxel") << -1;
        QTest::newRow("empty") << QByteArray("") << 0;
        QTest::newRow("E1") << QByteArray("E1") << -1000000;
        QTest::newRow("O alone") << QByteArray("O") << 0;
        QTest::newRow("O negative") << QByteArray("O-7") << -7;
        QTest::newRow("O and digits and more") << QByteArray("O12ab") << 12;
        QTest::newRow("Draxel with more") << QByteArray("Draxel!") << -1000000;
        QTest::newRow("O beyond int") << QByteArray("O99999999999") << INT_MAX;
    }
    void replyCodes()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, code);
        QCOMPARE(parseReplyCode(text.constData()), code);
    }
};

QTEST_GUILESS_MAIN(TestHttpRequest)
#include "tst_http_request.moc"
