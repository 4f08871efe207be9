// The socket server keeps its clients apart: slow or silent HTTP clients,
// a raw WebSocket page that does not read, closes of pages that are still
// sending, and update checks against a slow web-file server. Peers: plain
// sockets, curl, Python's websockets, Python's http.server.
#include "ClientRegistry.h"
#include "GatedHttpServer.h"
#include "RawSocket.h"
#include "SocketServerSupport.h"
#include "common/PoolJob.h"
#include "common/Protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QThreadPool>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace SocketTest;

namespace {

const QByteArray kShortGet = "GET / HTTP/1.1\r\n\r\n";

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True while the server has neither closed nor answered the connection.
bool stillWaiting(int fd)
{
    char c;
    const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT | MSG_PEEK);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

// What comes on `fd` until the server closes it (or `timeoutMs` of silence).
QByteArray readAll(int fd, int timeoutMs)
{
    QByteArray all;
    char buf[4096];
    while (RawSocket::waitReadable(fd, timeoutMs) == RawSocket::Wait::Ready) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        all.append(buf, int(n));
    }
    return all;
}

// Sends `request` on `fd` one byte every `gapMs` (the pace of the client
// under test) until all is sent, the server answers or closes, or `stop`.
void drip(int fd, const QByteArray &request, int gapMs, std::atomic<bool> *started, std::atomic<bool> *stop)
{
    for (char c : request) {
        if ((stop && *stop) || !stillWaiting(fd) || ::send(fd, &c, 1, MSG_NOSIGNAL) != 1)
            return;
        if (started)
            *started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
}

// A request dripped on a connection of its own; what the server answered.
QByteArray dripRequest(int port, const QByteArray &request, int gapMs)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return QByteArray();
    drip(fd, request, gapMs, nullptr, nullptr);
    const QByteArray answer = readAll(fd, 10000);
    ::close(fd);
    return answer;
}

// A connection that has sent `request` whole; -1 when it could not.
int sendRequest(int port, const QByteArray &request)
{
    const int fd = connectTo(port);
    if (fd >= 0
        && RawSocket::sendAll(fd, request.constData(), size_t(request.size()), 5000) != request.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A MainType 202 control request to the outside server on `port`.
QByteArray outsideRequest(int port)
{
    const QByteArray body = "{\"MainType\":202,\"SubType\":0,\"Url\":\"http://127.0.0.1:"
        + QByteArray::number(port) + "/\",\"Req\":\"{}\",\"Time\":30000}";
    return "POST /Cmd-WebLocalCtrl HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

// Of the open connections in `clients` (-1: none), those answered "{}" by
// the outside server, each read to its end within `timeoutMs` and closed.
int countAnswered(std::vector<int> &clients, int timeoutMs)
{
    int answered = 0;
    for (int &fd : clients) {
        if (fd < 0 || (timeoutMs == 0 && RawSocket::waitReadable(fd, 0) != RawSocket::Wait::Ready))
            continue;
        const QByteArray all = readAll(fd, timeoutMs);
        ::close(fd);
        fd = -1;
        if (all.startsWith("HTTP/1.1 200 OK\r\n") && all.endsWith("\r\n\r\n{}"))
            ++answered;
    }
    return answered;
}

// The sessions a server started and ended, recorded from whichever thread
// emits (a QSignalSpy is not made for that).
class SessionLog
{
public:
    explicit SessionLog(GeneralSocket *server)
    {
        QObject::connect(
            server, &GeneralSocket::sigNewGeneralSocketConnect, &m_context,
            [this](int id, const QString &) { add(&m_started, id); }, Qt::DirectConnection);
        QObject::connect(
            server, &GeneralSocket::sigDestoryNamedPipe, &m_context, [this](int id) { add(&m_ended, id); },
            Qt::DirectConnection);
        // The server's session lock, taken here, orders all of this before
        // any session it starts: the page that connects reaches the server
        // through the kernel, which ThreadSanitizer does not follow.
        server->sessionCount();
    }
    QList<int> started() const { return copy(m_started); }
    QList<int> ended() const { return copy(m_ended); }

private:
    void add(QList<int> *list, int id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        list->append(id);
    }
    QList<int> copy(const QList<int> &list) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return list;
    }

    QObject m_context;
    mutable std::mutex m_mutex;
    QList<int> m_started;
    QList<int> m_ended;
};

// raw_ws_page.py as a page, line by line.
class Page
{
public:
    Page(int port, const QString &mode)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
            { testSource(QStringLiteral("socketserver/raw_ws_page.py")),
                QStringLiteral("ws://127.0.0.1:%1/").arg(port), mode });
    }
    ~Page()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(15000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    // The next line as an object; empty after `timeoutMs`. Events of this
    // thread are handled meanwhile.
    QJsonObject next(int timeoutMs = 30000)
    {
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine()) {
            if (t.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
                return QJsonObject();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            m_process.waitForReadyRead(20);
        }
        return QJsonDocument::fromJson(m_process.readLine()).object();
    }
    void say(const QByteArray &line) { m_process.write(line + '\n'); }

private:
    QProcess m_process;
};

} // namespace

class TestSocketIsolation : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(writeFile(m_root.web(QStringLiteral("index.html")), "<html>index</html>"));
        m_server = startServer(m_root.appDir);
        QVERIFY(m_server);
        m_sessions = std::make_unique<SessionLog>(m_server.get());
    }
    // The log goes after the server: no session emits into a receiver that
    // is being destroyed.
    void cleanup()
    {
        m_server.reset();
        m_sessions.reset();
        QCOMPARE(ClientRegistry::instance()->clientCount(), 0);
    }
    void cleanupTestCase() { PoolJob::waitForDone(*QThreadPool::globalInstance()); }

    // A request has one deadline from its first byte: a head that trickles
    // in past it is given up unanswered, however steadily it comes.
    void requestDeadline_data()
    {
        QTest::addColumn<int>("gapMs"); // between two bytes of an 18-byte head
        QTest::addColumn<bool>("answered");
        QTest::newRow("head within the deadline") << 40 << true;
        QTest::newRow("head dripped past the deadline") << 300 << false;
    }
    void requestDeadline()
    {
        QFETCH(int, gapMs);
        QFETCH(bool, answered);
        const QByteArray answer = dripRequest(m_server->port(), kShortGet, gapMs);
        QCOMPARE(answer.startsWith("HTTP/1.1 404 Not Found\r\n"), answered);
        if (!answered)
            QCOMPARE(answer, QByteArray());
    }

    // Another client is answered while silent, half-sent and dripping
    // requests are all still pending.
    void slowClientsWaitAlone_data()
    {
        QTest::addColumn<int>("silent"); // connections that send nothing
        QTest::addColumn<int>("halfHeads"); // connections that send half a head
        QTest::addColumn<int>("dripGapMs"); // a client dripping its head; 0: none
        QTest::newRow("20 silent connections") << 20 << 0 << 0;
        QTest::newRow("20 half heads") << 0 << 20 << 0;
        QTest::newRow("a client dripping its head") << 0 << 0 << 300;
        QTest::newRow("all of them") << 20 << 20 << 300;
    }
    void slowClientsWaitAlone()
    {
        QFETCH(int, silent);
        QFETCH(int, halfHeads);
        QFETCH(int, dripGapMs);
        std::vector<int> idle;
        for (int i = 0; i < silent + halfHeads; ++i) {
            idle.push_back(connectTo(m_server->port()));
            QVERIFY(idle.back() >= 0);
            if (i >= silent)
                QVERIFY(::send(idle.back(), "GET /index.html HT", 18, MSG_NOSIGNAL) == 18);
        }
        std::atomic<bool> dripping { false };
        std::atomic<bool> stop { false };
        std::thread dripper;
        if (dripGapMs > 0) {
            idle.push_back(connectTo(m_server->port()));
            QVERIFY(idle.back() >= 0);
            const int fd = idle.back();
            dripper = std::thread([fd, dripGapMs, &dripping, &stop] {
                drip(fd, "GET /index.html HTTP/1.1\r\nHost: x\r\n\r\n", dripGapMs, &dripping, &stop);
            });
            QTRY_VERIFY(dripping.load());
        }
        const Reply reply = curl({ baseUrl(*m_server) + QStringLiteral("/index.html") });
        bool othersWaiting = true;
        for (int fd : idle)
            othersWaiting = othersWaiting && stillWaiting(fd);
        stop = true;
        if (dripper.joinable())
            dripper.join();
        for (int fd : idle)
            ::close(fd);
        QCOMPARE(reply.status, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(reply.body, QByteArray("<html>index</html>"));
        QVERIFY2(othersWaiting, "the answer came only after the slow clients were done with");
    }

    // With every connection place taken by connections that sent nothing, a
    // new connection takes the place of the one that waited longest: a GET
    // is answered at once, the oldest silent connections are closed and
    // the newest wait on.
    void placesGoToNewConnections_data()
    {
        QTest::addColumn<int>("silent"); // connections that send nothing
        QTest::newRow("every place taken") << GeneralSocket::kMaxConnections;
        QTest::newRow("200 more in the backlog") << GeneralSocket::kMaxConnections + 200;
    }
    void placesGoToNewConnections()
    {
        QFETCH(int, silent);
        std::vector<int> idle { connectTo(m_server->port()) };
        // The first one waits a curl's start longer than the others.
        QCOMPARE(curl({ baseUrl(*m_server) + QStringLiteral("/index.html") }).status,
            QByteArray("HTTP/1.1 200 OK"));
        while (int(idle.size()) < silent)
            idle.push_back(connectTo(m_server->port()));
        const Reply reply = curl({ baseUrl(*m_server) + QStringLiteral("/index.html") });
        // Those over the places, and one for the GET, were closed, oldest first.
        const int closed = silent - GeneralSocket::kMaxConnections + 1;
        QList<int> wrong;
        for (int i = 0; i < silent; ++i) {
            if (idle[size_t(i)] < 0 || stillWaiting(idle[size_t(i)]) != (i >= closed))
                wrong.append(i);
            ::close(idle[size_t(i)]);
        }
        QCOMPARE(reply.status, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(reply.body, QByteArray("<html>index</html>"));
        QCOMPARE(wrong, QList<int>());
    }

    // The listener's backlog is as long as the system allows, as ss reports it.
    void backlogFollowsTheSystem()
    {
        QFile limit(QStringLiteral("/proc/sys/net/core/somaxconn"));
        QVERIFY(limit.open(QIODevice::ReadOnly));
        const QByteArray expected = limit.readAll().trimmed();
        QProcess ss;
        ss.start(QStringLiteral("ss"),
            { QStringLiteral("-ltnH"), QStringLiteral("sport = :%1").arg(m_server->port()) });
        QVERIFY(ss.waitForFinished(30000));
        const QList<QByteArray> columns = ss.readAllStandardOutput().simplified().split(' ');
        QVERIFY(columns.size() >= 4);
        QCOMPARE(columns.at(0), QByteArray("LISTEN"));
        QCOMPARE(columns.at(2), expected);
    }

    // Player messages for a page that does not read wait in the session's
    // queue; the page gets them all once it reads. Past 64 MiB unread the
    // session ends, as on the Qt WebSocket server.
    void unreadReplies_data()
    {
        QTest::addColumn<int>("mebibytes"); // replies of 1 MiB each
        QTest::addColumn<bool>("ends");
        QTest::newRow("32 MiB unread") << 32 << false;
        QTest::newRow("beyond 64 MiB unread") << 80 << true;
    }
    void unreadReplies()
    {
        QFETCH(int, mebibytes);
        QFETCH(bool, ends);
        SessionLog &sessions = *m_sessions;
        Page page(m_server->port(), QStringLiteral("slow"));
        QCOMPARE(page.next().value(QStringLiteral("event")).toString(), QStringLiteral("open"));
        QTRY_COMPARE(sessions.started().size(), 1);
        const int id = sessions.started().at(0);
        const QByteArray reply(1 << 20, 'r');
        for (int i = 0; i < mebibytes; ++i)
            m_server->onSendMsg(reply, id);
        if (ends)
            QTRY_COMPARE(sessions.ended().size(), 1);
        QCOMPARE(sessions.ended().size(), ends ? 1 : 0);
        page.say("read " + QByteArray::number(mebibytes));
        const QJsonObject result = page.next(60000);
        if (ends) {
            QCOMPARE(result.value(QStringLiteral("closed")).toInt(), 1006);
            QVERIFY(result.value(QStringLiteral("count")).toInt() < mebibytes);
        } else {
            QCOMPARE(result.value(QStringLiteral("count")).toInt(), mebibytes);
            QCOMPARE(result.value(QStringLiteral("sizes")).toArray(), QJsonArray { 1 << 20 });
            QCOMPARE(sessions.ended().size(), 0);
        }
    }

    // When the server closes a page that is still sending, the page gets the
    // close frame and its code, not a reset connection.
    void closeCodes_data()
    {
        QTest::addColumn<QString>("mode"); // of raw_ws_page.py
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("code");
        QTest::newRow("message over the limit") << "big" << QString() << 1009;
        QTest::newRow("player lost") << "flood"
                                     << "player lost" << 1011;
        QTest::newRow("service stops") << "flood"
                                       << "stop" << 1001;
    }
    void closeCodes()
    {
        QFETCH(QString, mode);
        QFETCH(QString, action);
        QFETCH(int, code);
        SessionLog &sessions = *m_sessions;
        Page page(m_server->port(), mode);
        QCOMPARE(page.next().value(QStringLiteral("event")).toString(), QStringLiteral("open"));
        QTRY_COMPARE(sessions.started().size(), 1);
        if (action == QLatin1String("player lost"))
            m_server->onPlayerLost(sessions.started().at(0));
        if (action == QLatin1String("stop")) {
            m_server.reset();
            QCOMPARE(sessions.ended().size(), 1);
        }
        QCOMPARE(page.next().value(QStringLiteral("closed")).toInt(), code);
        if (m_server)
            QTRY_COMPARE(sessions.ended().size(), 1);
    }

    // Outside requests are taken up to their lane's bound: beyond it each is
    // answered 503 with "Retry-After" at once, and the ones taken are all
    // answered once the outside server answers.
    void outsideRequestsBounded_data()
    {
        QTest::addColumn<int>("extra"); // requests over the bound
        QTest::newRow("at the bound") << 0;
        QTest::newRow("six over the bound") << 6;
    }
    void outsideRequestsBounded()
    {
        QFETCH(int, extra);
        GatedHttpServer outside;
        QVERIFY(outside.port > 0);
        std::vector<int> clients;
        for (int i = 0; i < GeneralSocket::kMaxOutsideRequests + extra; ++i) {
            clients.push_back(sendRequest(m_server->port(), outsideRequest(outside.port)));
            QVERIFY(clients.back() >= 0);
        }
        // The lane's threads all wait for the outside server now.
        QTRY_COMPARE(outside.held(), GeneralSocket::kOutsideWorkers);
        auto answeredNow = [&clients] {
            int n = 0;
            for (int fd : clients)
                n += RawSocket::waitReadable(fd, 0) == RawSocket::Wait::Ready ? 1 : 0;
            return n;
        };
        QTRY_COMPARE(answeredNow(), extra);
        for (int &fd : clients) {
            if (RawSocket::waitReadable(fd, 0) != RawSocket::Wait::Ready)
                continue;
            const QByteArray all = readAll(fd, 10000);
            QVERIFY2(all.startsWith("HTTP/1.1 503 Service Unavailable\r\n"), all.constData());
            QVERIFY(all.contains("\r\nRetry-After: 1\r\n"));
            ::close(fd);
            fd = -1;
        }
        outside.release();
        QCOMPARE(countAnswered(clients, 30000), GeneralSocket::kMaxOutsideRequests);
    }

    // A page's common.js never waits for outside requests, nor for update
    // checks that cannot start: with every outside request and check lane
    // taken it is served at once, as installed.
    void pageLoadsBesideOutsideRequests_data()
    {
        QTest::addColumn<bool>("updateAddress"); // a web-file server is configured
        QTest::addColumn<int>("heldChecks"); // checks of other styles the server holds
        QTest::newRow("no update address") << false << 0;
        QTest::newRow("update address, a check runs") << true << 0;
        QTest::newRow("update address, every check held") << true << GeneralSocket::kMaxUpdateChecks;
    }
    void pageLoadsBesideOutsideRequests()
    {
        QFETCH(bool, updateAddress);
        QFETCH(int, heldChecks);
        GatedHttpServer outside;
        QVERIFY(outside.port > 0);
        // Versions are answered at once, as the installed one; the rest is held.
        GatedHttpServer pages(
            [heldChecks](const QByteArray &head) {
                return heldChecks == 0 && head.contains("Info.txt")
                    ? GatedHttpServer::reply("200 OK", "Version: V1.0.9\r\nMd5: 0\r\n")
                    : QByteArray();
            },
            GatedHttpServer::reply("404 Not Found", QByteArray()));
        QVERIFY(writeFile(m_root.web(QStringLiteral("WebVersion.txt")), "Version:V1.0.9\n"));
        QVERIFY(writeFile(m_root.web(QStringLiteral("js/common.js")), "old common"));
        const QString ini = m_root.appDir + QStringLiteral("/QuorvelToolVersion.ini");
        if (updateAddress)
            QSettings(ini, QSettings::IniFormat)
                .setValue(QStringLiteral("Tool/webFileAddr"),
                    QStringLiteral("http://127.0.0.1:%1/").arg(pages.port));
        std::vector<int> clients;
        for (int i = 0; i < GeneralSocket::kMaxOutsideRequests; ++i) {
            clients.push_back(sendRequest(m_server->port(), outsideRequest(outside.port)));
            QVERIFY(clients.back() >= 0);
        }
        for (int i = 0; i < heldChecks; ++i) {
            clients.push_back(sendRequest(m_server->port(),
                "GET /WebStyle_Held" + QByteArray::number(i) + "/js/common.js HTTP/1.1\r\nHost: x\r\n\r\n"));
            QVERIFY(clients.back() >= 0);
        }
        QTRY_COMPARE(outside.held(), GeneralSocket::kOutsideWorkers);
        QTRY_COMPARE(pages.held(), heldChecks);
        const Reply reply = curl({ baseUrl(*m_server) + QStringLiteral("/js/common.js") });
        bool othersWaiting = true;
        for (int fd : clients)
            othersWaiting = othersWaiting && stillWaiting(fd);
        outside.release();
        pages.release();
        for (int fd : clients)
            ::close(fd);
        QFile::remove(ini);
        QCOMPARE(reply.status, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(reply.body, QByteArray("old common"));
        QVERIFY(othersWaiting);
        QCOMPARE(pages.seen("GET /Web/WebInfo.txt"), heldChecks == 0 && updateAddress ? 1 : 0);
    }

    // Pages asking for common.js while their style's check runs wait for
    // that check and get its outcome: the web-file server sees one version
    // request, and the package is fetched once.
    void oneCheckPerStyle_data()
    {
        QTest::addColumn<QByteArray>("held"); // the request the web-file server holds
        QTest::addColumn<QByteArray>("version"); // what the server announces
        QTest::addColumn<QByteArray>("heldAnswer");
        QTest::addColumn<int>("packages"); // package requests the server sees
        QTest::addColumn<QByteArray>("body"); // what each page gets; empty: the not-found page
        QTest::newRow("slow version, same version")
            << QByteArray("Info.txt") << QByteArray("V1.0.9")
            << GatedHttpServer::reply("200 OK", "Version: V1.0.9\r\nMd5: 0\r\n") << 0
            << QByteArray("old common");
        QTest::newRow("slow failing package")
            << QByteArray(".zip") << QByteArray("V1.0.10") << GatedHttpServer::reply("404 Not Found", "") << 1
            << QByteArray();
        QTest::newRow("slow package of the wrong digest")
            << QByteArray(".zip") << QByteArray("V1.0.10") << GatedHttpServer::reply("200 OK", "not a zip")
            << 1 << QByteArray();
    }
    void oneCheckPerStyle()
    {
        QFETCH(QByteArray, held);
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, heldAnswer);
        QFETCH(int, packages);
        QFETCH(QByteArray, body);
        GatedHttpServer pages(
            [held, version](const QByteArray &head) {
                return head.contains(held)
                    ? QByteArray()
                    : GatedHttpServer::reply("200 OK", "Version: " + version + "\r\nMd5: 0\r\n");
            },
            heldAnswer);
        QVERIFY(writeFile(m_root.web(QStringLiteral("WebVersion.txt")), "Version:V1.0.9\n"));
        QVERIFY(writeFile(m_root.web(QStringLiteral("js/common.js")), "old common"));
        const QString ini = m_root.appDir + QStringLiteral("/QuorvelToolVersion.ini");
        QSettings(ini, QSettings::IniFormat)
            .setValue(
                QStringLiteral("Tool/webFileAddr"), QStringLiteral("http://127.0.0.1:%1/").arg(pages.port));
        const QByteArray get = "GET /js/common.js HTTP/1.1\r\nHost: x\r\n\r\n";
        std::vector<int> clients { sendRequest(m_server->port(), get) };
        QTRY_COMPARE(pages.held(), 1);
        for (int i = 0; i < 4; ++i)
            clients.push_back(sendRequest(m_server->port(), get));
        // The four requests are in before a later one is answered.
        QCOMPARE(curl({ baseUrl(*m_server) + QStringLiteral("/index.html") }).status,
            QByteArray("HTTP/1.1 200 OK"));
        for (int fd : clients)
            QVERIFY(fd >= 0 && stillWaiting(fd));
        pages.release();
        for (int fd : clients) {
            const QByteArray all = readAll(fd, 30000);
            ::close(fd);
            if (body.isEmpty())
                QVERIFY2(all.startsWith("HTTP/1.1 404 Not Found\r\n"), all.constData());
            else
                QVERIFY2(all.startsWith("HTTP/1.1 200 OK\r\n") && all.endsWith("\r\n\r\n" + body),
                    all.constData());
        }
        QFile::remove(ini);
        QCOMPARE(pages.seen("Info.txt"), 1);
        QCOMPARE(pages.seen(".zip"), packages);
    }

private:
    WebRoot m_root;
    std::unique_ptr<GeneralSocket> m_server;
    std::unique_ptr<SessionLog> m_sessions;
};

QTEST_GUILESS_MAIN(TestSocketIsolation)
#include "tst_socket_isolation.moc"
