// SIGTERM and SIGINT end QuorvelTool (the sanitizer build in the dev preset)
// whatever its socket server waits for: outside requests (MainType 202) and
// page-update checks held by an outside server of this test that never
// answers: the service exits 0 soon after the signal.

#include "GatedHttpServer.h"
#include "ServiceTestSupport.h"

#include <QSettings>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ServiceTest;

namespace {

// A connection to the service's socket server that has sent `request`.
int sendRequest(int port, const QByteArray &request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
        || RawSocket::sendAll(fd, request.constData(), size_t(request.size()), 5000) != request.size()) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// The port of the socket server of the service whose WebSocket server
// listens on `wsPort`: the one of its range whose control request 99 reports
// that port; 0 when none does.
int rawSocketPort(int wsPort)
{
    const QByteArray body = "{\"MainType\":99,\"SubType\":0}";
    const QByteArray request = "POST /Cmd-WebLocalCtrl HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    for (int port = 54455; port <= 54465; ++port) {
        const int fd = sendRequest(port, request);
        if (fd < 0)
            continue;
        QByteArray answer;
        char buf[4096];
        while (RawSocket::waitReadable(fd, 3000) == RawSocket::Wait::Ready) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            answer.append(buf, int(n));
        }
        ::close(fd);
        if (answer.contains("\"port\":" + QByteArray::number(wsPort) + ","))
            return port;
    }
    return 0;
}

} // namespace

class TestServiceShutdown : public QObject
{
    Q_OBJECT

private slots:
    void signalEndsPendingWork_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("outsideRequests"); // MainType 202 held by the outside server
        QTest::addColumn<bool>("updateCheck"); // a common.js whose check is held
        QTest::newRow("outside request, SIGTERM") << int(SIGTERM) << 1 << false;
        QTest::newRow("64 outside requests, SIGINT") << int(SIGINT) << 64 << false;
        QTest::newRow("update check, SIGTERM") << int(SIGTERM) << 0 << true;
        QTest::newRow("outside requests and an update check, SIGTERM") << int(SIGTERM) << 12 << true;
    }
    void signalEndsPendingWork()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, outsideRequests);
        QFETCH(bool, updateCheck);
        GatedHttpServer outside;
        QVERIFY(outside.port > 0);
        ServiceCopy copy;
        QVERIFY(copy.prepare());
        const QString webRoot = QFileInfo(copy.appDir).path();
        QDir().mkpath(webRoot + QStringLiteral("/Web/js"));
        QFile common(webRoot + QStringLiteral("/Web/js/common.js"));
        QVERIFY(common.open(QIODevice::WriteOnly) && common.write("common") == 6);
        common.close();
        QSettings(copy.appDir + QStringLiteral("/QuorvelToolVersion.ini"), QSettings::IniFormat)
            .setValue(
                QStringLiteral("Tool/webFileAddr"), QStringLiteral("http://127.0.0.1:%1/").arg(outside.port));
        int wsPort = 0;
        std::unique_ptr<QProcess> service = copy.start(&wsPort);
        QVERIFY(wsPort > 0);
        const int port = rawSocketPort(wsPort);
        QVERIFY(port > 0);

        const QByteArray body = "{\"MainType\":202,\"SubType\":0,\"Url\":\"http://127.0.0.1:"
            + QByteArray::number(outside.port) + "/\",\"Req\":\"{}\",\"Time\":61000}";
        const QByteArray post = "POST /Cmd-WebLocalCtrl HTTP/1.1\r\nHost: x\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        std::vector<int> clients;
        for (int i = 0; i < outsideRequests; ++i)
            clients.push_back(sendRequest(port, post));
        if (updateCheck)
            clients.push_back(sendRequest(port, "GET /js/common.js HTTP/1.1\r\nHost: x\r\n\r\n"));
        for (int fd : clients)
            QVERIFY(fd >= 0);
        // Generous for the sanitizer build on a busy machine.
        QTRY_COMPARE_WITH_TIMEOUT(outside.held(), qMin(outsideRequests, 10) + (updateCheck ? 1 : 0), 60000);

        QCOMPARE(::kill(pid_t(service->processId()), signalNumber), 0);
        const bool ended = service->waitForFinished(30000);
        for (int fd : clients)
            ::close(fd);
        if (!ended)
            stopService(service);
        QVERIFY2(ended, "the service still ran 30 s after the signal");
        QCOMPARE(service->exitStatus(), QProcess::NormalExit);
        QCOMPARE(service->exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestServiceShutdown)
#include "tst_service_shutdown.moc"
