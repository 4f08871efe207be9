// Socket server beside slow clients: how long a GET of a small page takes
// from one more client while
//   - one client drips its request head, one byte every 2 s;
//   - 20 connections say nothing;
//   - 20 connections send half a request head and then nothing.
// The server runs in process on a port the kernel picks. Run from the release
// build:
//   build/release/bench/isolation/bench_slow_http [--rounds N] [--limit S]

#include "BenchClient.h"
#include "GeneralSocket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace BenchClient;

namespace {

const QByteArray kGet = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

// Sends the head of a GET one byte at a time, `gapMs` apart, until stopped.
class Dripper
{
public:
    Dripper(int port, int gapMs)
        : m_fd(connectLoopback(port))
    {
        m_thread = std::thread([this, gapMs] {
            for (char c : kGet) {
                if (m_stop || !sendBytes(m_fd, QByteArray(1, c), 1000))
                    return;
                m_sent = true;
                for (int waited = 0; waited < gapMs && !m_stop; waited += 10)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~Dripper()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    bool started() const { return m_sent; }

private:
    int m_fd;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_sent { false };
    std::thread m_thread;
};

// `count` connections that send `opening` (possibly nothing) and then stay silent.
std::vector<int> silentClients(int port, int count, const QByteArray &opening)
{
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const int fd = connectLoopback(port);
        if (fd >= 0 && !opening.isEmpty())
            sendBytes(fd, opening);
        fds.push_back(fd);
    }
    return fds;
}

void closeAll(std::vector<int> &fds)
{
    for (int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
    fds.clear();
}

void report(const char *name, std::vector<double> seconds, int limitS)
{
    std::sort(seconds.begin(), seconds.end(), [](double a, double b) {
        // No answer (-1) counts as the longest.
        return (a < 0 ? 1e9 : a) < (b < 0 ? 1e9 : b);
    });
    auto text = [limitS](double s) {
        return s < 0 ? QStringLiteral("> %1 s").arg(limitS)
                     : QStringLiteral("%1 ms").arg(s * 1000, 0, 'f', 1);
    };
    std::printf("  %-34s median %-10s worst %-10s (%d rounds)\n", name,
        qPrintable(text(seconds[seconds.size() / 2])), qPrintable(text(seconds.back())), int(seconds.size()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("A GET beside dripping, silent and half-head clients.");
    parser.addHelpOption();
    parser.addOption({ "rounds", "Rounds of each scenario.", "n", "3" });
    parser.addOption({ "limit", "Longest wait for the GET, in seconds.", "s", "90" });
    parser.addOption({ "silent", "Silent or half-head connections.", "n", "20" });
    parser.process(app);
    const int rounds = std::max(1, parser.value("rounds").toInt());
    const int limitS = std::max(1, parser.value("limit").toInt());
    const int silent = std::max(1, parser.value("silent").toInt());

    QTemporaryDir root;
    const QString appDir = root.path() + QStringLiteral("/Service");
    QDir().mkpath(appDir);
    QDir().mkpath(root.path() + QStringLiteral("/Web"));
    QFile page(root.path() + QStringLiteral("/Web/index.html"));
    if (!page.open(QIODevice::WriteOnly) || page.write(QByteArray(2048, 'h')) != 2048)
        return 1;
    page.close();

    GeneralSocket server(appDir, 0, 0);
    if (!server.listen())
        return 1;
    server.start();
    const int port = server.port();
    auto get = [&] { return timedRequest(port, kGet, "HTTP/1.1 200 OK", limitS * 1000); };
    // Between rounds the server is given the time to let go of what the last
    // round left behind.
    auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(3500)); };

    std::printf("GET /index.html (2 KiB) from a second client\n");
    std::printf("  %-34s %.1f ms\n", "alone", get() * 1000);

    std::vector<double> times;
    for (int r = 0; r < rounds; ++r) {
        Dripper dripper(port, 2000);
        while (!dripper.started())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        times.push_back(get());
    }
    report("beside a client dripping its head", times, limitS);
    settle();

    times.clear();
    for (int r = 0; r < rounds; ++r) {
        std::vector<int> fds = silentClients(port, silent, QByteArray());
        times.push_back(get());
        closeAll(fds);
        settle();
    }
    report(qPrintable(QStringLiteral("beside %1 silent connections").arg(silent)), times, limitS);

    times.clear();
    for (int r = 0; r < rounds; ++r) {
        std::vector<int> fds = silentClients(port, silent, kGet.left(kGet.size() / 2));
        times.push_back(get());
        closeAll(fds);
        settle();
    }
    report(qPrintable(QStringLiteral("beside %1 half heads").arg(silent)), times, limitS);
    return 0;
}
