// Page update checks side by side: five pages ask for js/common.js at once
// while the web-file server takes 6 s to answer each version request; prints
// when each page had its answer. The socket server runs in process; the
// web-file server is a plain socket server of this program. Run from the
// release build:
//   build/release/bench/isolation/bench_update_checks [--pages N] [--delay S]

#include "BenchClient.h"
#include "GeneralSocket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace BenchClient;

namespace {

// Answers every request with the same version text after `delayMs`.
class SlowVersionServer
{
public:
    explicit SlowVersionServer(int delayMs)
        : m_delayMs(delayMs)
    {
        m_listener = RawSocket::listenLoopback(0, 0, &port);
        m_accepter = std::thread([this] {
            for (;;) {
                const int fd = RawSocket::acceptConnection(m_listener);
                if (fd < 0)
                    return;
                std::lock_guard<std::mutex> lock(m_mutex);
                m_answerers.emplace_back([this, fd] { answer(fd); });
            }
        });
    }
    ~SlowVersionServer()
    {
        m_stop = true;
        RawSocket::wakeListener(m_listener);
        m_accepter.join();
        for (std::thread &t : m_answerers)
            t.join();
        RawSocket::closeSocket(m_listener);
    }
    int requests() const { return m_requests; }

    int port = 0;

private:
    void answer(int fd)
    {
        readToEnd(fd, 200);
        ++m_requests;
        for (int waited = 0; waited < m_delayMs && !m_stop; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const QByteArray body = "Version: V1.0.0\r\nMd5: 00000000000000000000000000000000\r\n";
        sendBytes(fd,
            "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size())
                + "\r\nConnection: close\r\n\r\n" + body,
            1000);
        RawSocket::closeSocket(fd);
    }

    int m_delayMs;
    int m_listener = -1;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_requests { 0 };
    std::mutex m_mutex;
    std::thread m_accepter;
    std::vector<std::thread> m_answerers;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Concurrent update checks against a slow web-file server.");
    parser.addHelpOption();
    parser.addOption({ "pages", "Pages asking at once.", "n", "5" });
    parser.addOption({ "delay", "Seconds the web-file server takes to answer.", "s", "6" });
    parser.process(app);
    const int pages = std::max(1, parser.value("pages").toInt());
    const int delayS = std::max(0, parser.value("delay").toInt());

    SlowVersionServer versions(delayS * 1000);
    QTemporaryDir root;
    const QString appDir = root.path() + QStringLiteral("/Service");
    QDir().mkpath(appDir);
    QDir().mkpath(root.path() + QStringLiteral("/Web/js"));
    {
        QSettings ini(appDir + QStringLiteral("/QuorvelToolVersion.ini"), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Tool/webFileAddr"),
            QStringLiteral("http://127.0.0.1:%1/web/").arg(versions.port));
    }
    QFile version(root.path() + QStringLiteral("/Web/WebVersion.txt"));
    QFile common(root.path() + QStringLiteral("/Web/js/common.js"));
    if (!version.open(QIODevice::WriteOnly) || version.write("Version:V1.0.0\n") < 0
        || !common.open(QIODevice::WriteOnly) || common.write(QByteArray(20000, 'c')) < 0)
        return 1;
    version.close();
    common.close();

    GeneralSocket server(appDir, 0, 0);
    if (!server.listen())
        return 1;
    server.start();

    const QByteArray get = "GET /js/common.js HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::vector<double> seconds(size_t(pages), -1);
    std::vector<std::thread> clients;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < pages; ++i) {
        clients.emplace_back([&, i] {
            if (timedRequest(server.port(), get, "HTTP/1.1 200 OK", 120000) >= 0)
                seconds[size_t(i)] = secondsSince(start);
        });
    }
    for (std::thread &t : clients)
        t.join();
    std::sort(seconds.begin(), seconds.end());
    std::printf(
        "%d pages ask for js/common.js at once; the web-file server answers after %d s\n", pages, delayS);
    std::printf("  answered after (s):");
    for (double s : seconds) {
        if (s < 0)
            std::printf(" none");
        else
            std::printf(" %.2f", s);
    }
    std::printf("\n  version requests the web-file server saw: %d\n", versions.requests());
    return 0;
}
