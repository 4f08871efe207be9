// Raw WebSocket sessions of the socket server: node ws and Python websockets
// as pages, and a raw socket for frames no library would send.
#include "ClientRegistry.h"
#include "QueuedSpy.h"
#include "RawSocket.h"
#include "ServiceTestSupport.h"
#include "SocketServerSupport.h"
#include "WsFrame.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace SocketTest;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

// A client frame; `lengthForm` 0 picks the shortest length encoding, 16 and
// 64 force the longer ones.
QByteArray clientFrame(
    int opcode, const QByteArray &payload, bool fin = true, bool mask = true, int rsv = 0, int lengthForm = 0)
{
    QByteArray f;
    f.append(char((fin ? 0x80 : 0) | (rsv << 4) | opcode));
    const quint64 n = quint64(payload.size());
    const char maskBit = mask ? char(0x80) : char(0);
    if (lengthForm == 0 && n <= 125) {
        f.append(char(maskBit | char(n)));
    } else if (lengthForm == 16 || (lengthForm == 0 && n <= 0xFFFF)) {
        f.append(char(maskBit | 126));
        f.append(char(n >> 8));
        f.append(char(n));
    } else {
        f.append(char(maskBit | 127));
        for (int s = 56; s >= 0; s -= 8)
            f.append(char(n >> s));
    }
    const char key[4] = { 0x11, 0x22, 0x33, 0x44 };
    if (mask)
        f.append(key, 4);
    for (int i = 0; i < payload.size(); ++i)
        f.append(mask ? char(payload[i] ^ key[i % 4]) : payload[i]);
    return f;
}

QByteArray closePayload(int code, const QByteArray &reason = QByteArray())
{
    QByteArray p;
    p.append(char(code >> 8));
    p.append(char(code));
    return p + reason;
}

// A frame header claiming `length` bytes, with a mask key and nothing after it.
QByteArray claimedHeader(quint64 length)
{
    QByteArray f("\x81\xFF", 2);
    for (int s = 56; s >= 0; s -= 8)
        f.append(char(length >> s));
    return f + QByteArray("\x01\x02\x03\x04", 4);
}

struct ServerFrame
{
    int opcode;
    QByteArray payload;
};

QList<ServerFrame> parseServerFrames(const QByteArray &bytes)
{
    QList<ServerFrame> out;
    int pos = 0;
    while (bytes.size() - pos >= 2) {
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData()) + pos;
        quint64 n = p[1] & 0x7F;
        int header = 2;
        if (n == 126) {
            n = (quint64(p[2]) << 8) | p[3];
            header = 4;
        } else if (n == 127) {
            n = 0;
            for (int i = 2; i < 10; ++i)
                n = (n << 8) | p[i];
            header = 10;
        }
        if (quint64(bytes.size() - pos) < header + n)
            break;
        out.append({ p[0] & 0x0F, bytes.mid(pos + header, int(n)) });
        pos += header + int(n);
    }
    return out;
}

// A plain TCP client of the server.
class RawClient
{
public:
    explicit RawClient(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(m_fd); }

    bool send(const QByteArray &bytes)
    {
        return RawSocket::sendAll(m_fd, bytes.constData(), size_t(bytes.size()), 5000) == bytes.size();
    }
    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

    // The handshake answer's head; empty when the server closed instead.
    QByteArray upgrade(const QByteArray &keyLine = "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==")
    {
        if (!m_connected
            || !send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                + keyLine + "\r\nSec-WebSocket-Version: 13\r\n\r\n"))
            return QByteArray();
        QByteArray head;
        char c;
        while (!head.endsWith("\r\n\r\n")) {
            if (RawSocket::waitReadable(m_fd, 10000) != RawSocket::Wait::Ready || ::recv(m_fd, &c, 1, 0) != 1)
                return QByteArray();
            head.append(c);
        }
        return head;
    }
    // Everything until the server closes (or `timeoutMs` of silence). A close
    // frame of the server is answered, as pages do, and nothing more is sent.
    QByteArray readToEnd(int timeoutMs = 10000)
    {
        QByteArray all;
        char buf[65536];
        bool answered = false;
        while (RawSocket::waitReadable(m_fd, timeoutMs) == RawSocket::Wait::Ready) {
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            all.append(buf, int(n));
            for (const ServerFrame &f : parseServerFrames(all)) {
                if (f.opcode == WsFrame::Close && !answered) {
                    answered = true;
                    send(clientFrame(WsFrame::Close, f.payload.left(2)));
                    shutdownWrite();
                }
            }
        }
        return all;
    }
    // The next `count` frames.
    QList<ServerFrame> readFrames(int count, int timeoutMs = 10000)
    {
        char buf[65536];
        for (;;) {
            const QList<ServerFrame> frames = parseServerFrames(m_pending);
            if (frames.size() >= count)
                return frames;
            if (RawSocket::waitReadable(m_fd, timeoutMs) != RawSocket::Wait::Ready)
                return frames;
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return frames;
            m_pending.append(buf, int(n));
        }
    }

private:
    int m_fd = -1;
    bool m_connected = false;
    QByteArray m_pending;
};

} // namespace

// Stands in for the player relay: takes each page message (the sending
// thread waits, as with the real relay) and answers "echo:" and the text.
class EchoPlayer : public QObject
{
public:
    EchoPlayer(GeneralSocket *server, bool echo)
        : m_server(server)
    {
        connect(
            server, &GeneralSocket::sigSendGeneralSocketMsg, this,
            [this, echo](QByteArray msg, int id) {
                messages.append(msg);
                if (echo)
                    m_server->onSendMsg("echo:" + msg, id);
            },
            Qt::BlockingQueuedConnection);
    }
    QList<QByteArray> messages;

private:
    GeneralSocket *m_server;
};

class TestRawWebSocket : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_server = startServer(m_root.appDir);
        QVERIFY(m_server);
    }
    void cleanup()
    {
        m_server.reset();
        QCOMPARE(ClientRegistry::instance()->clientCount(), 0);
    }

    void libraryPages_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<int>>("lengths");
        QTest::newRow("python websockets")
            << "/usr/bin/python3"
            << "raw_ws_python.py" << QList<int> { 13, 13, 13, 13, 13, 300005, 22 };
        QTest::newRow("node ws") << "node"
                                 << "raw_ws_node.js" << QList<int> { 12, 12, 12, 19, 1005, 70005 };
    }
    void libraryPages()
    {
        QFETCH(QString, program);
        QFETCH(QString, script);
        QFETCH(QList<int>, lengths);
        EchoPlayer player(m_server.get(), true);
        QueuedSpy started(m_server.get(), &GeneralSocket::sigNewGeneralSocketConnect);
        QueuedSpy ended(m_server.get(), &GeneralSocket::sigDestoryNamedPipe);
        QProcess page;
        QSignalSpy finished(&page, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        page.start(
            program, { sourceFile(script), QStringLiteral("ws://127.0.0.1:%1/").arg(m_server->port()) });
        QVERIFY(finished.wait(60000));
        const QByteArray out = page.readAllStandardOutput();
        const QJsonObject result = QJsonDocument::fromJson(out).object();
        QVERIFY2(!result.contains(QStringLiteral("error")), out.constData());
        QList<int> got;
        for (const QJsonValue &v : result.value(QStringLiteral("lengths")).toArray())
            got.append(v.toInt());
        QCOMPARE(got, lengths);
        // Back-to-back messages arrive one by one and in order.
        const QJsonArray replies = result.value(QStringLiteral("replies")).toArray();
        for (int i = 0; i < 3; ++i) {
            const QString reply = replies.at(i).toString().remove(QLatin1Char(' '));
            QCOMPARE(reply, QStringLiteral("echo:{\"n\":%1}").arg(i));
        }
        QVERIFY(result.value(QStringLiteral("pong")).toBool());
        QCOMPARE(result.value(QStringLiteral("close")).toInt(), 1000);
        QCOMPARE(player.messages.size(), lengths.size());
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(started.size(), 1);
        QCOMPARE(ended.at(0).at(0).toInt(), started.at(0).at(0).toInt());
    }

    void frames_data()
    {
        QTest::addColumn<QList<QByteArray>>("writes"); // sent one after the other
        QTest::addColumn<QList<QByteArray>>("messages"); // relayed to the player
        QTest::addColumn<QByteArray>("pong"); // payload of the pong expected, or null
        QTest::addColumn<int>("close"); // close code the server sends, -1 for none
        using L = QList<QByteArray>;
        const QByteArray bye = clientFrame(WsFrame::Close, closePayload(1000));
        const QByteArray two = clientFrame(1, "a") + clientFrame(1, "b");
        L bytes;
        for (char c : two + bye)
            bytes.append(QByteArray(1, c));
        QTest::newRow("two frames in one write") << L { two + bye } << L { "a", "b" } << QByteArray() << 1000;
        QTest::newRow("one byte per write") << bytes << L { "a", "b" } << QByteArray() << 1000;
        QTest::newRow("fragments around a ping") << L {
            clientFrame(1, "he", false) + clientFrame(WsFrame::Ping, "p") + clientFrame(0, "llo") + bye
        } << L { "hello" } << QByteArray("p") << 1000;
        QTest::newRow("long 16-bit frame") << L { clientFrame(1, QByteArray(126, 'q')) + bye }
                                           << L { QByteArray(126, 'q') } << QByteArray() << 1000;
        QTest::newRow("binary is not relayed")
            << L { clientFrame(2, "bin") + bye } << L {} << QByteArray() << 1000;
        QTest::newRow("close without code")
            << L { clientFrame(WsFrame::Close, QByteArray()) } << L {} << QByteArray() << -2;
        QTest::newRow("close code 3000 echoed")
            << L { clientFrame(WsFrame::Close, closePayload(3000, "bye")) } << L {} << QByteArray() << 3000;
        // Malformed frames fail the connection.
        QTest::newRow("reserved bit")
            << L { clientFrame(1, "a", true, true, 4) + bye } << L {} << QByteArray() << 1002;
        QTest::newRow("reserved opcode 3") << L { clientFrame(3, "a") + bye } << L {} << QByteArray() << 1002;
        QTest::newRow("reserved opcode 11")
            << L { clientFrame(11, "a") + bye } << L {} << QByteArray() << 1002;
        QTest::newRow("ping over 125")
            << L { clientFrame(WsFrame::Ping, QByteArray(126, 'p')) + bye } << L {} << QByteArray() << 1002;
        QTest::newRow("fragmented ping")
            << L { clientFrame(WsFrame::Ping, "p", false) + bye } << L {} << QByteArray() << 1002;
        QTest::newRow("non-minimal 16-bit")
            << L { clientFrame(1, "abcde", true, true, 0, 16) + bye } << L {} << QByteArray() << 1002;
        QTest::newRow("non-minimal 64-bit")
            << L { clientFrame(1, QByteArray(200, 'a'), true, true, 0, 64) + bye } << L {} << QByteArray()
            << 1002;
        QTest::newRow("64-bit top bit")
            << L { claimedHeader(quint64(1) << 63) } << L {} << QByteArray() << 1002;
        QTest::newRow("over the size limit")
            << L { claimedHeader(quint64(1) << 40) } << L {} << QByteArray() << 1009;
        QTest::newRow("unmasked") << L { clientFrame(1, "a", true, false) + bye } << L {} << QByteArray()
                                  << 1002;
        QTest::newRow("close code 999")
            << L { clientFrame(WsFrame::Close, closePayload(999)) } << L {} << QByteArray() << 1002;
        QTest::newRow("close code 1004")
            << L { clientFrame(WsFrame::Close, closePayload(1004)) } << L {} << QByteArray() << 1002;
        QTest::newRow("close code 5000")
            << L { clientFrame(WsFrame::Close, closePayload(5000)) } << L {} << QByteArray() << 1002;
        QTest::newRow("close of one byte")
            << L { clientFrame(WsFrame::Close, "x") } << L {} << QByteArray() << 1002;
        QTest::newRow("continuation first")
            << L { clientFrame(0, "a") + bye } << L {} << QByteArray() << 1002;
        QTest::newRow("new message inside a fragmented one")
            << L { clientFrame(1, "a", false) + clientFrame(1, "b") + bye } << L {} << QByteArray() << 1002;
        QTest::newRow("invalid utf-8")
            << L { clientFrame(1, "\xC0\xAF") + bye } << L {} << QByteArray() << 1007;
        QTest::newRow("utf-8 surrogate")
            << L { clientFrame(1, "\xED\xA0\x80") + bye } << L {} << QByteArray() << 1007;
        // The declared length is more than what comes: nothing is read past
        // the bytes received, nothing is relayed, the peer's end ends the session.
        QTest::newRow("declared longer than sent")
            << L { clientFrame(1, QByteArray(300, 'z')).left(100) } << L {} << QByteArray() << -1;
    }
    void frames()
    {
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QList<QByteArray>, messages);
        QFETCH(QByteArray, pong);
        QFETCH(int, close);
        EchoPlayer player(m_server.get(), false);
        QueuedSpy ended(m_server.get(), &GeneralSocket::sigDestoryNamedPipe);
        RawClient client(m_server->port());
        QVERIFY(client.upgrade().startsWith("HTTP/1.1 101 Switching Protocols\r\n"));
        for (const QByteArray &w : writes)
            QVERIFY(client.send(w));
        if (close == -1)
            client.shutdownWrite();
        // The relay is this thread: it takes the messages before the page's
        // side is read (and a close of the server answered).
        QTRY_COMPARE(player.messages, messages);
        const QList<ServerFrame> frames = parseServerFrames(client.readToEnd());
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(player.messages, messages);
        QList<ServerFrame> pongs;
        int closeCode = -1;
        for (const ServerFrame &f : frames) {
            if (f.opcode == WsFrame::Pong)
                pongs.append(f);
            if (f.opcode == WsFrame::Close)
                closeCode = f.payload.size() >= 2 ? (quint8(f.payload[0]) << 8 | quint8(f.payload[1])) : -2;
        }
        QCOMPARE(closeCode, close);
        QCOMPARE(pongs.size(), pong.isNull() ? 0 : 1);
        if (!pong.isNull())
            QCOMPARE(pongs.at(0).payload, pong);
    }

    void handshake_data()
    {
        QTest::addColumn<QByteArray>("keyLine");
        QTest::addColumn<QByteArray>("accept"); // empty: closed without an answer
        QTest::newRow("sample key") << QByteArray("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==")
                                    << QByteArray("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
        QTest::newRow("lower case, no blank") << QByteArray("sec-websocket-key:dGhlIHNhbXBsZSBub25jZQ==")
                                              << QByteArray("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
        QTest::newRow("blanks around") << QByteArray("SEC-WEBSOCKET-KEY:   dGhlIHNhbXBsZSBub25jZQ==  ")
                                       << QByteArray("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
        QTest::newRow("key of 15 bytes")
            << QByteArray("Sec-WebSocket-Key: MTIzNDU2Nzg5MDEyMzQ1") << QByteArray();
        QTest::newRow("key not base64")
            << QByteArray("Sec-WebSocket-Key: ************************") << QByteArray();
    }
    void handshake()
    {
        QFETCH(QByteArray, keyLine);
        QFETCH(QByteArray, accept);
        RawClient client(m_server->port());
        const QByteArray head = client.upgrade(keyLine);
        if (accept.isEmpty())
            QCOMPARE(head, QByteArray());
        else
            QVERIFY2(head.contains("\r\nSec-WebSocket-Accept: " + accept + "\r\n"), head.constData());
    }

    void fifthSessionIsRefused()
    {
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < ClientRegistry::kMaxClients; ++i) {
            clients.push_back(std::make_unique<RawClient>(m_server->port()));
            QVERIFY(!clients.back()->upgrade().isEmpty());
        }
        RawClient fifth(m_server->port());
        QCOMPARE(fifth.upgrade(), QByteArray());
        QTRY_COMPARE(m_server->sessionCount(), ClientRegistry::kMaxClients);
    }

    // A message for an ended session never reaches the next one, even when
    // the kernel gives the new connection the old socket number.
    void endedSessionGetsNothing()
    {
        QueuedSpy started(m_server.get(), &GeneralSocket::sigNewGeneralSocketConnect);
        QueuedSpy ended(m_server.get(), &GeneralSocket::sigDestoryNamedPipe);
        int first = 0;
        {
            RawClient a(m_server->port());
            QVERIFY(!a.upgrade().isEmpty());
            QTRY_COMPARE(started.size(), 1);
            first = started.at(0).at(0).toInt();
            a.send(clientFrame(WsFrame::Close, closePayload(1000)));
            QTRY_COMPARE(ended.size(), 1);
        }
        RawClient b(m_server->port());
        QVERIFY(!b.upgrade().isEmpty());
        QTRY_COMPARE(started.size(), 2);
        const int second = started.at(1).at(0).toInt();
        QVERIFY(second != first);
        m_server->onSendMsg("for the first", first);
        m_server->onSendMsg("for the second", second);
        const QList<ServerFrame> frames = b.readFrames(1);
        QVERIFY(!frames.isEmpty());
        QCOMPARE(frames.at(0).payload, QByteArray("for the second"));
        // The session ends while the spies still listen.
        b.send(clientFrame(WsFrame::Close, closePayload(1000)));
        QTRY_COMPARE(ended.size(), 2);
    }

    // The key of a session-key request goes to the session accepted last, at
    // once: from then on the player's messages leave encrypted and the page's
    // encrypted texts arrive in plain.
    void keyedSession()
    {
        EchoPlayer player(m_server.get(), false);
        QueuedSpy started(m_server.get(), &GeneralSocket::sigNewGeneralSocketConnect);
        RawClient page(m_server->port());
        QVERIFY(!page.upgrade().isEmpty());
        const Reply reply = control(*m_server, "{\"MainType\":32,\"SubType\":0}");
        const QByteArray key = QJsonDocument::fromJson(reply.body)
                                   .object()
                                   .value(QStringLiteral("key"))
                                   .toObject()
                                   .value(QStringLiteral("key"))
                                   .toString()
                                   .toLatin1();
        QCOMPARE(key.size(), 16);
        QTRY_COMPARE(started.size(), 1);
        const int id = started.at(0).at(0).toInt();

        m_server->onSendMsg("{\"MainType\":4,\"Ret\":100}", id);
        const QList<ServerFrame> frames = page.readFrames(1);
        QCOMPARE(frames.size(), 1);
        bool ok = false;
        const QByteArray plain = ServiceTest::opensslDecrypt(frames.at(0).payload, key, &ok);
        QVERIFY(ok);
        QCOMPARE(ServiceTest::stripZeros(plain), QByteArray("{\"MainType\":4,\"Ret\":100}"));

        const QByteArray cipher = ServiceTest::opensslEncrypt("{\"MainType\":9}", key, &ok);
        QVERIFY(ok);
        QVERIFY(page.send(clientFrame(WsFrame::Text, cipher)));
        QVERIFY(page.send(clientFrame(WsFrame::Text, "{\"plain\":1}")));
        QTRY_COMPARE(player.messages.size(), 2);
        QCOMPARE(player.messages.at(0), QByteArray("{\"MainType\":9}"));
        QCOMPARE(player.messages.at(1), QByteArray("{\"plain\":1}"));
    }

    void keyWithoutSession()
    {
        const Reply reply = control(*m_server, "{\"MainType\":32,\"SubType\":5}");
        const QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
        QCOMPARE(answer.value(QStringLiteral("Ret")).toInt(), 100);
        QCOMPARE(answer.value(QStringLiteral("SubRsp")).toInt(), 5);
        QCOMPARE(
            answer.value(QStringLiteral("key")).toObject().value(QStringLiteral("key")).toString().size(),
            16);
    }

    void serverFrameLengths_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("header");
        QTest::newRow("125") << 125 << 2;
        QTest::newRow("126") << 126 << 4;
        QTest::newRow("65535") << 65535 << 4;
        QTest::newRow("65536") << 65536 << 10;
    }
    void serverFrameLengths()
    {
        QFETCH(int, size);
        QFETCH(int, header);
        const QByteArray frame = WsFrame::build(WsFrame::Text, QByteArray(size, 'x'));
        QCOMPARE(frame.size(), size + header);
        QCOMPARE(parseServerFrames(frame).at(0).payload.size(), size);
    }

private:
    static QString sourceFile(const QString &name)
    {
        return qEnvironmentVariable("QV_SOURCE_DIR") + QStringLiteral("/tests/service/socketserver/") + name;
    }

    WebRoot m_root;
    std::unique_ptr<GeneralSocket> m_server;
};

QTEST_GUILESS_MAIN(TestRawWebSocket)
#include "tst_raw_websocket.moc"
