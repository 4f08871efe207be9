// Request heads as the socket server reads them: the header classes, when a
// request is whole, how it is classified.
#include "HttpHeader.h"
#include "HttpRequest.h"

#include <QtTest>

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
};

QTEST_APPLESS_MAIN(TestHttpRequest)
#include "tst_http_request.moc"
