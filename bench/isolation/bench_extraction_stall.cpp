// Another page while one page's package is extracted: a QuorvelTool copy
// whose squashfs extractor is a stand-in that sleeps (--seconds, 15 by
// default) before it runs Debian's unsquashfs. Page A asks for the package
// (MainType 201, SubType 1) and waits for its answer; meanwhile page B sends
// requests that the service relays to its player (the test double) one after
// the other, and half-way a new page C connects and makes one round trip.
// Prints B's worst and median round trip and C's connect and first answer.
// The goal: B's worst round trip under 1 s.
//
//   build/release/bench/isolation/bench_extraction_stall [--seconds N] [--bin DIR]

#include "BenchService.h"
#include "WsClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool writeExecutable(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size()
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A package with a squashfs custom partition, made by the tests' package maker.
bool makePackage(const QString &sourceDir, const QString &scratch, const QString &zip)
{
    const QString tree = scratch + "/custom";
    QDir().mkpath(tree + "/data/Strings");
    QFile info(tree + "/FirmwareInfo");
    if (!info.open(QIODevice::WriteOnly) || info.write("NET_UPGRADE_FILE=IPC_BENCH\n") <= 0)
        return false;
    info.close();
    const QJsonArray entries { QJsonObject { { "name", "InstallDesc" },
                                   { "text", R"({"Hardware":"IPC5M","UpgradeCommand":[]})" } },
        QJsonObject { { "name", "custom-x.squashfs.img" }, { "squashfs", tree }, { "start", 65536 },
            { "end", 131072 } } };
    QFile desc(scratch + "/package.json");
    if (!desc.open(QIODevice::WriteOnly)
        || desc.write(QJsonDocument(QJsonObject { { "zip", zip }, { "entries", entries } }).toJson()) <= 0)
        return false;
    desc.close();
    return QProcess::execute(
               "python3", { sourceDir + "/tests/service/firmware/make_package.py", desc.fileName() })
        == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Another page's round trips while one page's package is extracted.");
    parser.addHelpOption();
    parser.addOption({ "seconds", "How long the stand-in extractor sleeps.", "n", "15" });
    parser.addOption({ "bin", "Folder of the QuorvelTool to measure (default: this build's).", "dir" });
    parser.process(app);
    const int seconds = std::max(1, parser.value("seconds").toInt());
    const QString binDir = parser.isSet("bin") ? parser.value("bin") : QStringLiteral(QV_BENCH_BIN_DIR);
    const QString sourceDir = QStringLiteral(QV_BENCH_SOURCE_DIR);

    QTemporaryDir scratch;
    const QString package = scratch.path() + "/fw.zip";
    if (!makePackage(sourceDir, scratch.path(), package)) {
        std::fprintf(stderr, "cannot make the package\n");
        return 1;
    }
    BenchService service;
    const bool started = service.start(binDir, sourceDir, 0, [&](const QString &appDir) {
        return writeExecutable(
                   appDir + "/Browse", "#!/bin/sh\nprintf '%s' '" + QFile::encodeName(package) + "'\n")
            // Lists at once; unpacks after the sleep.
            && writeExecutable(appDir + "/unsquashfs",
                QStringLiteral("#!/bin/sh\n[ \"$1\" = -lls ] && exec /usr/bin/unsquashfs \"$@\"\nsleep %1\n"
                               "exec /usr/bin/unsquashfs \"$@\"\n")
                    .arg(seconds)
                    .toUtf8());
    });
    const int port = service.port;
    if (!started) {
        std::fprintf(stderr, "the service did not start from %s\n", qPrintable(binDir));
        return 1;
    }

    WsClient other;
    WsClient customiser;
    std::string text;
    auto roundTrip = [&](WsClient &page, int id) {
        return page.send(R"({"MainType":4,"SubType":0,"MsgID":)" + std::to_string(id) + "}")
            && page.receive(&text);
    };
    if (!other.open(port) || !customiser.open(port)) {
        std::fprintf(stderr, "the pages did not connect\n");
        return 1;
    }
    for (int i = 0; i < 200; ++i) // both players started and warm
        if (!roundTrip(other, i) || !roundTrip(customiser, i))
            return 1;

    std::atomic<bool> answered { false };
    double answerMs = 0;
    std::string answer;
    const Clock::time_point asked = Clock::now();
    std::thread waiter([&] {
        customiser.send(R"({"MainType":201,"SubType":1,"MsgID":"pkg"})");
        customiser.receive(&answer);
        answerMs = msSince(asked);
        answered = true;
    });

    // Half-way through the extraction a new page comes.
    double connectMs = -1;
    double firstAnswerMs = -1;
    std::thread newcomer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 500));
        const Clock::time_point start = Clock::now();
        WsClient late;
        std::string lateText;
        const bool open = late.open(port);
        connectMs = msSince(start);
        if (open && late.send(R"({"MainType":4,"SubType":0,"MsgID":1})") && late.receive(&lateText))
            firstAnswerMs = msSince(start);
    });

    std::vector<double> trips;
    int id = 1000;
    while (!answered.load()) {
        const Clock::time_point start = Clock::now();
        if (!roundTrip(other, ++id))
            break;
        trips.push_back(msSince(start));
    }
    waiter.join();
    newcomer.join();

    std::sort(trips.begin(), trips.end());
    const double worst = trips.empty() ? -1 : trips.back();
    const double median = trips.empty() ? -1 : trips[trips.size() / 2];
    std::printf("extraction stand-in: %d s; the customising page's answer after %.0f ms: %s\n", seconds,
        answerMs, answer.substr(0, 120).c_str());
    std::printf("other page: %zu round trips meanwhile, median %.2f ms, worst %.1f ms\n", trips.size(),
        median, worst);
    std::printf("new page: connected after %.1f ms, first answer after %.1f ms\n", connectMs, firstAnswerMs);
    std::printf(
        "goal (worst round trip under 1000 ms): %s\n", worst >= 0 && worst < 1000 ? "met" : "NOT met");

    other.close();
    customiser.close();
    return 0;
}
