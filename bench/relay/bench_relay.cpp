// Relay benchmark: one page session sends small requests of a MainType the
// player has no handler for (answered with "Ret" 1020), one at a time, and
// measures round trips per second and the latency percentiles through
// page -> QuorvelTool -> player -> QuorvelTool -> page. The same client then
// runs against a direct WebSocket echo server (node ws) on loopback. Both
// figures and their ratio are printed.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

struct Figures
{
    int count = 0;
    double seconds = 0;
    double p50us = 0;
    double p99us = 0;
    double perSecond() const { return seconds > 0 ? count / seconds : 0; }
};

// Sends `count` requests one after the other over `url` and times each.
bool measure(const QString &url, int warmup, int count, Figures *out)
{
    QWebSocket socket;
    QEventLoop loop;
    bool failed = false;
    QObject::connect(&socket, &QWebSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), &loop, [&] {
        failed = true;
        loop.quit();
    });
    socket.open(QUrl(url));
    loop.exec();
    if (failed || socket.state() != QAbstractSocket::ConnectedState) {
        std::fprintf(stderr, "cannot connect to %s\n", qPrintable(url));
        return false;
    }

    std::vector<qint64> latencies;
    latencies.reserve(size_t(count));
    QElapsedTimer total;
    QElapsedTimer one;
    int sent = 0;
    const int all = warmup + count;
    auto sendNext = [&] {
        ++sent;
        one.start();
        socket.sendTextMessage(
            QStringLiteral("{\"MainType\":9999,\"SubType\":0,\"MsgID\":%1,\"Channel\":0}").arg(sent));
    };
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &loop, [&](const QString &) {
        const qint64 ns = one.nsecsElapsed();
        if (sent > warmup)
            latencies.push_back(ns);
        if (sent == warmup)
            total.start();
        if (sent == all) {
            out->seconds = total.nsecsElapsed() / 1e9;
            loop.quit();
            return;
        }
        sendNext();
    });
    QObject::connect(&socket, &QWebSocket::disconnected, &loop, [&] {
        failed = true;
        loop.quit();
    });
    if (warmup == 0)
        total.start();
    sendNext();
    loop.exec();
    socket.disconnect(&loop);
    socket.close();
    if (failed || int(latencies.size()) != count) {
        std::fprintf(stderr, "session to %s ended early after %d requests\n", qPrintable(url), sent);
        return false;
    }
    std::sort(latencies.begin(), latencies.end());
    out->count = count;
    out->p50us = latencies[size_t(count / 2)] / 1e3;
    out->p99us = latencies[std::min(size_t(count) - 1, size_t(count * 0.99))] / 1e3;
    return true;
}

// First line of a child's standard output matching `pattern`, captured group 1.
QString waitForLine(QProcess &process, const QRegularExpression &pattern, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (process.canReadLine()) {
            const auto m = pattern.match(QString::fromUtf8(process.readLine()));
            if (m.hasMatch())
                return m.captured(1);
            continue;
        }
        if (process.state() == QProcess::NotRunning)
            return QString();
        process.waitForReadyRead(100);
    }
    return QString();
}

bool copyExecutable(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to)
        && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void print(const char *name, const Figures &f)
{
    std::printf("%-7s %6d round trips  %9.0f per second  p50 %8.1f us  p99 %8.1f us\n", name, f.count,
        f.perSecond(), f.p50us, f.p99us);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Relay round trips against a direct WebSocket echo.");
    parser.addHelpOption();
    parser.addOption({ "requests", "Measured round trips per run.", "n", "5000" });
    parser.addOption({ "warmup", "Round trips before measuring.", "n", "300" });
    parser.addOption({ "player", "real (the built player) or double (the test double).", "kind" });
    parser.process(app);
    const int requests = std::max(100, parser.value("requests").toInt());
    const int warmup = std::max(0, parser.value("warmup").toInt());

    const QString binDir = QStringLiteral(QV_BENCH_BIN_DIR);
    const QString sourceDir = QStringLiteral(QV_BENCH_SOURCE_DIR);
    QString kind = parser.value("player");
    if (kind.isEmpty())
        kind = QFile::exists(binDir + "/x64/Tevora_x64") ? "real" : "double";
    const QString player
        = kind == "real" ? binDir + "/x64/Tevora_x64" : sourceDir + "/tests/service/core/player_double.py";

    // The service in a folder of its own, with a private runtime folder.
    QTemporaryDir root;
    const QString appDir = root.path() + "/Service";
    const QString runtimeDir = root.path() + "/run";
    QDir().mkpath(appDir + "/x64");
    QDir().mkpath(runtimeDir);
    ::chmod(QFile::encodeName(runtimeDir).constData(), 0700);
    if (!copyExecutable(binDir + "/QuorvelTool", appDir + "/QuorvelTool")
        || !copyExecutable(player, appDir + "/Tevora_x86")
        || !copyExecutable(player, appDir + "/x64/Tevora_x64")) {
        std::fprintf(stderr, "cannot set up the service folder from %s\n", qPrintable(binDir));
        return 1;
    }
    // The real player finds the device and play libraries beside Tevora_x86.
    for (const QString &library : QDir(binDir).entryList({ QStringLiteral("lib*.so") }, QDir::Files))
        QFile::copy(binDir + "/" + library, appDir + "/" + library);
    for (const char *ini : { "ClientCfg.ini", "QuorvelToolVersion.ini" }) {
        QFile::copy(sourceDir + "/service/core/config/" + ini, appDir + "/" + ini);
        QFile::copy(sourceDir + "/service/core/config/" + ini, appDir + "/x64/" + ini);
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
    QProcess service;
    service.setProcessEnvironment(env);
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(appDir + "/QuorvelTool", QStringList());
    const QString servicePort
        = waitForLine(service, QRegularExpression("ws://127\\.0\\.0\\.1:(\\d+)"), 30000);
    if (servicePort.isEmpty()) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }

    QProcess echo;
    echo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    echo.start("node", { sourceDir + "/bench/relay/echo_server.js" });
    const QString echoPort = waitForLine(echo, QRegularExpression("^(\\d+)"), 30000);
    if (echoPort.isEmpty()) {
        std::fprintf(stderr, "the echo server (node ws) did not start\n");
        return 1;
    }

    Figures relay, direct;
    const bool ok = measure("ws://127.0.0.1:" + servicePort, warmup, requests, &relay)
        && measure("ws://127.0.0.1:" + echoPort, warmup, requests, &direct);

    echo.kill();
    echo.waitForFinished();
    service.terminate();
    if (!service.waitForFinished(10000))
        service.kill();
    if (!ok)
        return 1;

    std::printf("player: %s\n", qPrintable(kind));
    print("relay", relay);
    print("direct", direct);
    const double ratio = direct.perSecond() > 0 ? relay.perSecond() / direct.perSecond() : 0;
    std::printf("ratio   %.2f of the direct echo's round trips per second (goal: at least 0.50)\n", ratio);
    return 0;
}
