// Page update checks side by side: five pages ask for js/common.js at once
// while the web-file server takes 6 s to answer each version request; prints
// when each page had its answer. The socket server runs in process; the
// web-file server is a plain socket server of this program. Run from the
// release build:
//   build/release/bench/isolation/bench_update_checks [--pages N] [--delay S]

#include "BenchClient.h"
#include "GeneralSocket.h"
#include "SlowServer.h"

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

    // Every request gets the same version text after the delay.
    SlowServer versions(delayS * 1000, [](const QByteArray &) {
        return httpReply("200 OK", "Version: V1.0.0\r\nMd5: 00000000000000000000000000000000\r\n");
    });
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
    std::printf("\n  version requests the web-file server saw: %d\n", versions.requests("GET"));
    return 0;
}
