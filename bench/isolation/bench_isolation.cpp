// Isolation benchmark: what one page can do to the service and to the others,
// against QuorvelTool with the player double (tests/service).
//   nearcap   another page sends small requests one after the other while one
//             page sends messages just under the 16 MiB cap (a JSON array of
//             millions of numbers) back to back; gives the other page's round
//             trips during the flood (worst, p99, p50) and the service's peak
//             memory.
//   pongs     a page on a socket with a small receive buffer sends pings and
//             never reads the pongs; gives how much it sent before the service
//             ended its session, and the service's peak memory.
//   starting  a page sends 1 MiB messages back to back while its player is
//             still starting (the double never connects); the same figures.
// Each runs against a service of its own, so that each peak is its own.

#include "BenchService.h"
#include "WsClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string request(int id, size_t pad = 0)
{
    return "{\"MainType\":9999,\"SubType\":0,\"MsgID\":" + std::to_string(id) + ",\"Pad\":\""
        + std::string(pad, 'x') + "\"}";
}

bool answered(WsClient &page, int id)
{
    std::string reply;
    return page.send(request(id)) && page.receive(&reply)
        && reply.find("\"MsgID\":" + std::to_string(id)) != std::string::npos;
}

// True once the service has something for the page (a close frame), or the
// connection is gone.
bool serviceSpoke(int fd)
{
    pollfd p { fd, POLLIN, 0 };
    return ::poll(&p, 1, 0) > 0;
}

int nearCap(const QString &binDir, const QString &sourceDir, int messages)
{
    BenchService service;
    if (!service.start(binDir, sourceDir)) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }
    WsClient other;
    if (!other.open(service.port))
        return 1;
    for (int i = 0; i < 200; ++i) {
        if (!answered(other, i + 1))
            return 1;
    }

    // The other page's round trips, with the time each began.
    std::atomic<bool> stop { false };
    std::vector<std::pair<Clock::time_point, double>> trips;
    std::thread otherThread([&] {
        int id = 1000;
        while (!stop.load()) {
            const Clock::time_point begin = Clock::now();
            if (!answered(other, ++id)) {
                std::fprintf(stderr, "the other page lost its session\n");
                return;
            }
            trips.emplace_back(begin, msBetween(begin, Clock::now()));
        }
    });

    // {"MainType":9109,"MsgID":N,"Data":[1,1,...,0]} just under 16 MiB: the
    // double answers with its size without parsing it.
    constexpr size_t kCap = 16 * 1024 * 1024;
    WsClient flooder;
    if (!flooder.open(service.port))
        return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Two in flight: the next goes as soon as one is answered, and the
    // player link never holds more than the player's unread bound.
    constexpr int kInFlight = 2;
    const auto message = [](int id) {
        std::string text = "{\"MainType\":9109,\"MsgID\":" + std::to_string(id) + ",\"Data\":[";
        const size_t numbers = (kCap - 1024 - text.size()) / 2;
        text.reserve(kCap);
        for (size_t i = 0; i < numbers; ++i)
            text += "1,";
        return text + "0]}";
    };
    std::vector<std::string> texts;
    for (int m = 0; m < messages; ++m)
        texts.push_back(message(m + 1));
    const Clock::time_point floodBegin = Clock::now();
    int sent = 0;
    int replies = 0;
    std::string reply;
    while (replies < messages) {
        while (sent < messages && sent - replies < kInFlight) {
            if (!flooder.send(texts[size_t(sent)]))
                break;
            ++sent;
        }
        if (!flooder.receive(&reply)) {
            std::fprintf(stderr, "the near-cap page lost its session after %d answers\n", replies);
            break;
        }
        ++replies;
    }
    const Clock::time_point floodEnd = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    otherThread.join();

    std::vector<double> during;
    for (const auto &trip : trips) {
        if (trip.first >= floodBegin && trip.first <= floodEnd)
            during.push_back(trip.second);
    }
    std::sort(during.begin(), during.end());
    const auto at = [&](double q) {
        return during.empty() ? 0.0 : during[std::min(during.size() - 1, size_t(double(during.size()) * q))];
    };
    std::printf(
        "nearcap: %d messages of 16 MiB - 1 KiB back to back (two in flight), %d answered in %.2f s\n",
        messages, replies, msBetween(floodBegin, floodEnd) / 1000);
    std::printf("  other page meanwhile: %zu round trips, worst %.1f ms, p99 %.1f ms, p50 %.2f ms\n",
        during.size(), during.empty() ? 0.0 : during.back(), at(0.99), at(0.5));
    std::printf("  service peak resident %lld MiB\n", service.peakMiB());
    return 0;
}

// Sends `chunk` (whole frames) until `limitBytes` went out, `seconds` passed,
// the connection failed, or (with `watchClose`) the service spoke. Samples the
// service's memory meanwhile.
struct FloodResult
{
    qint64 sentMiB = 0;
    double seconds = 0;
    const char *ending = "limit";
};

FloodResult flood(
    WsClient &page, const std::string &chunk, qint64 limitBytes, double seconds, bool watchClose)
{
    FloodResult result;
    const Clock::time_point begin = Clock::now();
    qint64 sent = 0;
    while (sent < limitBytes) {
        if (msBetween(begin, Clock::now()) > seconds * 1000) {
            result.ending = "time";
            break;
        }
        if (watchClose && serviceSpoke(page.fd())) {
            result.ending = "closed by the service";
            break;
        }
        if (!page.sendBytes(chunk)) {
            result.ending = "connection cut by the service";
            break;
        }
        sent += qint64(chunk.size());
    }
    result.sentMiB = sent >> 20;
    result.seconds = msBetween(begin, Clock::now()) / 1000;
    return result;
}

int memoryFlood(const QString &name, const QString &binDir, const QString &sourceDir, qint64 limitMiB)
{
    const bool pongs = name == "pongs";
    BenchService service;
    // A fresh service: the other page is session 1, the flooding one 2.
    if (!service.start(binDir, sourceDir, pongs ? 0 : 2)) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }
    WsClient other;
    if (!other.open(service.port) || !answered(other, 1))
        return 1;
    const qint64 before = service.peakMiB();
    WsClient page;
    if (!page.open(service.port, pongs ? 4096 : 0))
        return 1;
    std::string chunk;
    std::string frame;
    if (pongs) {
        for (int i = 0; i < 1000; ++i) {
            WsClient::frame(0x9, std::string(125, 'p'), &frame);
            chunk += frame;
        }
    } else {
        for (int i = 0; i < 4; ++i) {
            WsClient::frame(0x1, request(i + 1, 1024 * 1024), &frame);
            chunk += frame;
        }
    }
    std::atomic<bool> sampling { true };
    std::atomic<qint64> highest { 0 };
    std::thread sampler([&] {
        while (sampling.load()) {
            highest = std::max(highest.load(), service.nowMiB());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    // Pongs: the page never reads. Starting: the player is killed after 10 s
    // without a connection, so the flood stops before that.
    const FloodResult result = flood(page, chunk, limitMiB << 20, pongs ? 30 : 8, !pongs);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    sampling = false;
    sampler.join();
    const bool otherAnswers = service.running() && answered(other, 2);
    std::printf("%s: sent %lld MiB in %.1f s, ended by: %s\n", qPrintable(name), result.sentMiB,
        result.seconds, result.ending);
    std::printf("  service resident: %lld MiB before, peak %lld MiB, 3 s after %lld MiB; other page %s\n",
        before, service.peakMiB(), service.nowMiB(), otherAnswers ? "answered" : "NOT answered");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("What one page can do to the service and the other pages.");
    parser.addHelpOption();
    parser.addOption({ "bin", "Folder of the QuorvelTool to measure (default: this build's).", "dir" });
    parser.addOption({ "only", "One scenario: nearcap, pongs or starting.", "name" });
    parser.addOption({ "messages", "Near-cap messages sent back to back.", "n", "8" });
    parser.addOption({ "limit", "MiB a flood sends at most.", "n", "1536" });
    parser.process(app);
    const QString binDir = parser.isSet("bin") ? parser.value("bin") : QStringLiteral(QV_BENCH_BIN_DIR);
    const QString sourceDir = QStringLiteral(QV_BENCH_SOURCE_DIR);
    const QString only = parser.value("only");
    int failed = 0;
    if (only.isEmpty() || only == "nearcap")
        failed += nearCap(binDir, sourceDir, std::max(1, parser.value("messages").toInt()));
    for (const char *name : { "pongs", "starting" }) {
        if (only.isEmpty() || only == name)
            failed += memoryFlood(
                name, binDir, sourceDir, std::max<qint64>(1, parser.value("limit").toLongLong()));
    }
    return failed ? 1 : 0;
}
