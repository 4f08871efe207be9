// A page of the Qt WebSocket server beside a raw WebSocket page that reads
// slowly: QuorvelTool (with the player test double) serves both; the raw page
// asks for replies of 1 MiB each and then reads one every 2 s, while the
// other page sends small requests one at a time and measures each round trip.
// Prints the other page's round trips, their median and the worst one. Run
// from the release build:
//   build/release/bench/isolation/bench_raw_slow_reader [--seconds S] [--replies N]

#include "BenchClient.h"
#include "BenchService.h"
#include "WsClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace BenchClient;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Round trips of a page beside a raw WebSocket page that reads slowly.");
    parser.addHelpOption();
    parser.addOption({ "seconds", "How long the round trips are measured.", "s", "20" });
    parser.addOption({ "replies", "Replies of 1 MiB the raw page asks for.", "n", "16" });
    parser.addOption({ "bin", "Folder of the programs to measure (default: this build's).", "dir" });
    parser.process(app);
    const int seconds = std::max(1, parser.value("seconds").toInt());
    const int replies = std::max(1, parser.value("replies").toInt());
    const QString binDir = parser.isSet("bin") ? parser.value("bin") : QStringLiteral(QV_BENCH_BIN_DIR);
    const QString sourceDir = QStringLiteral(QV_BENCH_SOURCE_DIR);

    BenchService service;
    if (!service.start(binDir, sourceDir)) {
        std::fprintf(stderr, "the service did not start from %s\n", qPrintable(binDir));
        return 1;
    }
    const int wsPort = service.port;
    const int rawPort = wsPort ? findRawPort(wsPort) : 0;
    if (rawPort == 0) {
        std::fprintf(stderr, "no socket server of the service answered\n");
        return 1;
    }

    // Both pages have their player before anything is measured.
    const std::string small = "{\"MainType\":9999,\"SubType\":0,\"MsgID\":1}";
    WsClient page;
    std::string answer;
    if (!page.open(wsPort) || !page.send(small) || !page.receive(&answer)) {
        std::fprintf(stderr, "the page of the Qt WebSocket server got no answer\n");
        return 1;
    }
    WsClient raw;
    if (!raw.open(rawPort) || !raw.send(small) || !raw.receive(&answer)) {
        std::fprintf(stderr, "the raw page got no answer\n");
        return 1;
    }

    // The raw page asks for its replies, then reads one every 2 s.
    std::atomic<bool> stop { false };
    std::atomic<qint64> rawRead { 0 };
    for (int i = 0; i < replies; ++i)
        raw.send("{\"MainType\":9101,\"SubType\":0,\"MsgID\":" + std::to_string(i) + ",\"Size\":1048576}");
    std::thread slowReader([&] {
        std::string reply;
        for (int i = 0; i < replies && !stop && raw.receive(&reply); ++i) {
            rawRead += qint64(reply.size());
            for (int waited = 0; waited < 2000 && !stop; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    std::vector<double> trips;
    const Clock::time_point start = Clock::now();
    int id = 2;
    while (secondsSince(start) < seconds) {
        const Clock::time_point sent = Clock::now();
        const std::string request
            = "{\"MainType\":9999,\"SubType\":0,\"MsgID\":" + std::to_string(id++) + "}";
        if (!page.send(request) || !page.receive(&answer)) {
            std::fprintf(stderr, "the page lost its session\n");
            break;
        }
        trips.push_back(secondsSince(sent));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    slowReader.join();
    raw.close();
    page.close();

    std::sort(trips.begin(), trips.end());
    std::printf(
        "page round trips in %d s beside a raw page reading one of its %d replies of 1 MiB every 2 s\n",
        seconds, replies);
    if (trips.empty()) {
        std::printf("  none\n");
        return 1;
    }
    std::printf("  %zu round trips, median %.1f ms, worst %.1f ms; the raw page read %lld bytes\n",
        trips.size(), trips[trips.size() / 2] * 1000, trips.back() * 1000,
        static_cast<long long>(rawRead.load()));
    return 0;
}
