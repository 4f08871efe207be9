// The service's socket server under load, against QuorvelTool as installed
// (the release build, or the one in --bin): what other clients' work costs a
// page's files, and how long SIGTERM takes to end the service.
//   build/release/bench/isolation/bench_socket_load [--bin DIR] [--only NAME]
// NAME: flood (GET index.html beside 300 and 1000 silent connections that
// reopen at once), outside (js/common.js beside 64 pending outside requests),
// package (five js/common.js during one package that fails after 3 s),
// sigterm (SIGTERM with pending outside requests, with an update check, with
// 64 Qt pages that read and 64 that do not).

#include "BenchClient.h"
#include "BenchService.h"
#include "SlowServer.h"
#include "WsClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>

using namespace BenchClient;

namespace {

QString g_binDir;
QString g_sourceDir;

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The page folder beside the service: index.html, js/common.js and its
// version; with `updateAddress`, the web-file server's address.
std::function<bool(const QString &)> pageFolder(const QString &updateAddress = QString())
{
    return [updateAddress](const QString &appDir) {
        const QString web = QFileInfo(appDir).path() + "/Web/";
        if (!updateAddress.isEmpty())
            QSettings(appDir + "/QuorvelToolVersion.ini", QSettings::IniFormat)
                .setValue("Tool/webFileAddr", updateAddress);
        return writeFile(web + "index.html", "<html>index</html>")
            && writeFile(web + "js/common.js", "common")
            && writeFile(web + "WebVersion.txt", "Version:V1.0.0\n");
    };
}

bool startService(BenchService &service, int *rawPort, const QString &updateAddress = QString())
{
    if (!service.start(g_binDir, g_sourceDir, 0, pageFolder(updateAddress))) {
        std::fprintf(stderr, "the service did not start from %s\n", qPrintable(g_binDir));
        return false;
    }
    *rawPort = findRawPort(service.port);
    if (*rawPort == 0)
        std::fprintf(stderr, "no socket server of the service answered\n");
    return *rawPort != 0;
}

QByteArray outsideRequest(int port, int timeMs)
{
    const QByteArray body = "{\"MainType\":202,\"SubType\":0,\"Url\":\"http://127.0.0.1:"
        + QByteArray::number(port) + "/\",\"Req\":\"{}\",\"Time\":" + QByteArray::number(timeMs) + "}";
    return "POST /Cmd-WebLocalCtrl HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

const QByteArray kGetIndex = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
const QByteArray kGetCommon = "GET /js/common.js HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

// `count` connections that send nothing and reopen as soon as the server
// closes them, for `seconds`; GETs of index.html meanwhile, one a second.
void flood(int count, int seconds)
{
    BenchService service;
    int port = 0;
    if (!startService(service, &port))
        return;
    std::atomic<bool> stop { false };
    std::vector<std::thread> clients;
    const int perThread = 50;
    for (int first = 0; first < count; first += perThread) {
        const int n = std::min(perThread, count - first);
        clients.emplace_back([&stop, port, n] {
            std::vector<int> fds(size_t(n), -1);
            while (!stop) {
                std::vector<pollfd> polls;
                for (int &fd : fds) {
                    if (fd < 0)
                        fd = connectLoopback(port);
                    polls.push_back({ fd, POLLIN, 0 });
                }
                ::poll(polls.data(), polls.size(), 50);
                for (size_t i = 0; i < polls.size(); ++i) {
                    if (polls[i].fd >= 0 && (polls[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                        ::close(fds[i]);
                        fds[i] = -1;
                    }
                }
            }
            for (int fd : fds)
                if (fd >= 0)
                    ::close(fd);
        });
    }
    std::vector<double> waits;
    int failed = 0;
    const Clock::time_point start = Clock::now();
    while (secondsSince(start) < seconds) {
        const Clock::time_point asked = Clock::now();
        const double s = timedRequest(port, kGetIndex, "HTTP/1.1 200 OK", 120000);
        if (s < 0)
            ++failed;
        else
            waits.push_back(s);
        const double left = 1.0 - secondsSince(asked);
        if (left > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(left));
    }
    const qint64 peak = service.peakMiB();
    stop = true;
    for (std::thread &t : clients)
        t.join();
    std::sort(waits.begin(), waits.end());
    std::printf("GET index.html beside %d silent connections that reopen at once, %d s\n", count, seconds);
    if (waits.empty())
        std::printf("  no GET answered (%d failed)\n", failed);
    else
        std::printf("  %zu GETs answered, median %.3f s, worst %.3f s, %d failed; service peak %lld MiB\n",
            waits.size(), waits[waits.size() / 2], waits.back(), failed, peak);
}

// 64 outside requests to the server at `outsidePort`, each on a connection
// of its own to the socket server at `port`: the connections sent.
std::vector<int> sendOutsideRequests(int port, int outsidePort, int timeMs)
{
    std::vector<int> pending;
    for (int i = 0; i < 64; ++i) {
        const int fd = connectLoopback(port);
        if (fd >= 0 && sendBytes(fd, outsideRequest(outsidePort, timeMs)))
            pending.push_back(fd);
        else if (fd >= 0)
            ::close(fd);
    }
    return pending;
}

// 64 outside requests to a server that never answers, then js/common.js
// asked at 0.3, 5.3 and 10.3 s.
void outsideRequests()
{
    SlowServer never(-1, [](const QByteArray &) { return QByteArray(); });
    BenchService service;
    int port = 0;
    if (!startService(service, &port))
        return;
    const std::vector<int> pending = sendOutsideRequests(port, never.port, 11000);
    const Clock::time_point start = Clock::now();
    std::printf(
        "js/common.js beside %zu pending outside requests (Time 11000, a server that never answers)\n",
        pending.size());
    for (double at : { 0.3, 5.3, 10.3 }) {
        const double left = at - secondsSince(start);
        if (left > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(left));
        const Clock::time_point asked = Clock::now();
        const int fd = connectLoopback(port);
        const QByteArray answer = fd >= 0 && sendBytes(fd, kGetCommon) ? readToEnd(fd, 120000) : QByteArray();
        if (fd >= 0)
            ::close(fd);
        const QByteArray status = answer.left(std::max(0, int(answer.indexOf("\r\n"))));
        std::printf("  asked at %.1f s: \"%s\" after %.3f s\n", at,
            status.isEmpty() ? "closed unanswered" : status.constData(), secondsSince(asked));
    }
    for (int fd : pending)
        ::close(fd);
}

// Five pages ask for js/common.js at once while the web-file server offers
// a newer version whose package answers 404 after 3 s.
void slowPackage()
{
    SlowServer pages(
        3000,
        [](const QByteArray &head) {
            return head.contains("Info.txt")
                ? httpReply("200 OK", "Version: V1.0.1\r\nMd5: 00000000000000000000000000000000\r\n")
                : httpReply("404 Not Found", "");
        },
        "Info.txt");
    BenchService service;
    int port = 0;
    if (!startService(service, &port, QStringLiteral("http://127.0.0.1:%1/").arg(pages.port)))
        return;
    std::vector<double> seconds(5, -1);
    std::vector<std::thread> clients;
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < seconds.size(); ++i)
        clients.emplace_back([&, i] {
            if (timedRequest(port, kGetCommon, "HTTP/1.1 ", 120000) >= 0)
                seconds[i] = secondsSince(start);
        });
    for (std::thread &t : clients)
        t.join();
    std::sort(seconds.begin(), seconds.end());
    std::printf("five js/common.js at once during one package that fails after 3 s\n  answered after (s):");
    for (double s : seconds)
        std::printf(s < 0 ? " none" : " %.2f", s);
    std::printf("\n  package requests the web-file server saw: %d\n", pages.requests(".zip"));
}

void reportExit(const char *what, double seconds)
{
    if (seconds < 0)
        std::printf("  %s: still running 120 s after SIGTERM (killed)\n", what);
    else
        std::printf("  %s: exited %.2f s after SIGTERM\n", what, seconds);
}

void sigterm()
{
    std::printf("time from SIGTERM to exit\n");
    {
        SlowServer never(-1, [](const QByteArray &) { return QByteArray(); });
        BenchService service;
        int port = 0;
        if (!startService(service, &port))
            return;
        const std::vector<int> pending = sendOutsideRequests(port, never.port, 61000);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        reportExit("64 pending outside requests", service.signalAndWait(SIGTERM, 120000));
        for (int fd : pending)
            ::close(fd);
    }
    {
        SlowServer never(-1, [](const QByteArray &) { return QByteArray(); });
        BenchService service;
        int port = 0;
        if (!startService(service, &port, QStringLiteral("http://127.0.0.1:%1/").arg(never.port)))
            return;
        const int fd = connectLoopback(port);
        sendBytes(fd, "GET /js/common.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        reportExit(
            "an update check against a server that never answers", service.signalAndWait(SIGTERM, 120000));
        ::close(fd);
    }
    for (const bool reading : { true, false }) {
        BenchService service;
        int port = 0;
        if (!startService(service, &port))
            return;
        std::vector<std::unique_ptr<WsClient>> pages;
        const std::string small = "{\"MainType\":9999,\"SubType\":0,\"MsgID\":1}";
        for (int i = 0; i < 64; ++i) {
            auto page = std::make_unique<WsClient>();
            std::string answer;
            if (page->open(service.port) && page->send(small) && page->receive(&answer))
                pages.push_back(std::move(page));
        }
        std::vector<std::thread> readers;
        if (reading) {
            for (auto &page : pages)
                readers.emplace_back([&page] {
                    std::string text;
                    while (page->receive(&text)) { }
                    page->close();
                });
        }
        const std::string what
            = std::to_string(pages.size()) + " Qt pages open" + (reading ? ", reading" : ", not reading");
        reportExit(what.c_str(), service.signalAndWait(SIGTERM, 120000));
        for (auto &page : pages)
            ::shutdown(page->fd(), SHUT_RDWR);
        for (std::thread &t : readers)
            t.join();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("The socket server under load, and SIGTERM.");
    parser.addHelpOption();
    parser.addOption({ "bin", "Folder of the programs to measure (default: this build's).", "dir" });
    parser.addOption({ "only", "One of flood, outside, package, sigterm.", "name" });
    parser.process(app);
    g_binDir = parser.isSet("bin") ? parser.value("bin") : QStringLiteral(QV_BENCH_BIN_DIR);
    g_sourceDir = QStringLiteral(QV_BENCH_SOURCE_DIR);
    const QString only = parser.value("only");
    if (only.isEmpty() || only == "flood") {
        flood(300, 20);
        flood(1000, 30);
    }
    if (only.isEmpty() || only == "outside")
        outsideRequests();
    if (only.isEmpty() || only == "package")
        slowPackage();
    if (only.isEmpty() || only == "sigterm")
        sigterm();
    return 0;
}
