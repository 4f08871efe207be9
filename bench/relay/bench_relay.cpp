// Relay benchmark: one page session sends small requests of a MainType the
// player has no handler for (answered with "Ret" 1020), one at a time, and
// measures round trips per second and the latency percentiles through
// page -> QuorvelTool -> player -> QuorvelTool -> page. The same plain-socket
// client runs against a direct WebSocket echo server (node ws) on loopback and
// against floor_relay (a relay of two processes with nothing but the hops), in
// blocks alternating with the relay's, so that all see the same machine.
// Then the cold start: the time from a page's connect to its first reply, for
// one page alone and for ten pages opening at once (each starts a player).

#include "WsClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Figures
{
    int count = 0;
    double seconds = 0;
    double p50us = 0;
    double p99us = 0;
    double perSecond() const { return seconds > 0 ? count / seconds : 0; }
};

std::string request(int id)
{
    return "{\"MainType\":9999,\"SubType\":0,\"MsgID\":" + std::to_string(id) + ",\"Channel\":0}";
}

// CPU seconds (user and system) a process has used so far, with those of its
// children it has reaped, 0 when unknown.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which is in parentheses.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble() + fields[13].toDouble() + fields[14].toDouble())
        / double(::sysconf(_SC_CLK_TCK));
}

// The children of `pid` (the service's players).
std::vector<qint64> childrenOf(qint64 pid)
{
    std::vector<qint64> out;
    for (const QString &task :
        QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(QStringLiteral("/proc/%1/task/%2/children").arg(pid).arg(task));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : children.readAll().split(' ')) {
            if (child.trimmed().toLongLong() > 0)
                out.push_back(child.trimmed().toLongLong());
        }
    }
    return out;
}

// Times the threads of `pid` went to sleep waiting (voluntary context
// switches): about one per hand-over between threads or processes.
qint64 sleeps(qint64 pid)
{
    qint64 total = 0;
    for (const QString &task :
        QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(QStringLiteral("/proc/%1/task/%2/status").arg(pid).arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(24).trimmed().toLongLong();
        }
    }
    return total;
}

qint64 relaySleeps(qint64 servicePid)
{
    qint64 total = sleeps(servicePid);
    for (qint64 child : childrenOf(servicePid))
        total += sleeps(child);
    return total;
}

// CPU seconds of the service and its players together.
double relayCpuSeconds(qint64 servicePid)
{
    double total = cpuSeconds(servicePid);
    for (qint64 child : childrenOf(servicePid))
        total += cpuSeconds(child);
    return total;
}

// One session and what it measured.
struct Session
{
    WsClient client;
    int sent = 0;
    double microseconds = 0;
    std::vector<double> latencies;
};

// Sends `count` requests one after the other on the session and times each.
bool runBlock(Session &session, int count, bool keep)
{
    std::string reply;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < count; ++i) {
        const Clock::time_point one = Clock::now();
        if (!session.client.send(request(++session.sent)) || !session.client.receive(&reply)) {
            std::fprintf(stderr, "a session ended early after %d requests\n", session.sent);
            return false;
        }
        if (keep)
            session.latencies.push_back(microsecondsSince(one));
    }
    if (keep)
        session.microseconds += microsecondsSince(begin);
    return true;
}

Figures figures(Session &session)
{
    Figures out;
    std::vector<double> &l = session.latencies;
    std::sort(l.begin(), l.end());
    out.count = int(l.size());
    out.seconds = session.microseconds / 1e6;
    out.p50us = l.empty() ? 0 : l[l.size() / 2];
    out.p99us = l.empty() ? 0 : l[std::min(l.size() - 1, size_t(double(l.size()) * 0.99))];
    return out;
}

// `count` requests on each of a relay, a floor and an echo session, in
// alternating blocks, so that all meet the same load on a shared machine.
bool measure(int relayPort, int floorPort, int echoPort, int warmup, int count, Figures *relay,
    Figures *floor, Figures *echo)
{
    constexpr int kBlock = 100;
    Session r, f, e;
    if (!r.client.open(relayPort) || !f.client.open(floorPort) || !e.client.open(echoPort)) {
        std::fprintf(stderr, "cannot open the sessions\n");
        return false;
    }
    if (!runBlock(r, warmup, false) || !runBlock(f, warmup, false) || !runBlock(e, warmup, false))
        return false;
    for (int done = 0; done < count; done += kBlock) {
        const int n = std::min(kBlock, count - done);
        if (!runBlock(r, n, true) || !runBlock(f, n, true) || !runBlock(e, n, true))
            return false;
    }
    *relay = figures(r);
    *floor = figures(f);
    *echo = figures(e);
    return true;
}

// `pages` sessions open at once; each sends one request as soon as it is
// open. Gives each page's time from its connect to the reply, in ms, sorted.
std::vector<double> coldStart(int port, int pages)
{
    std::vector<double> ms(size_t(pages), -1);
    // The pages stay open until all have their reply, as pages do.
    std::vector<WsClient> clients(static_cast<size_t>(pages));
    std::vector<std::thread> threads;
    for (int p = 0; p < pages; ++p) {
        threads.emplace_back([&ms, &clients, p, port] {
            const Clock::time_point start = Clock::now();
            WsClient &client = clients[size_t(p)];
            std::string reply;
            if (client.open(port) && client.send(request(1)) && client.receive(&reply))
                ms[size_t(p)] = microsecondsSince(start) / 1e3;
        });
    }
    for (std::thread &t : threads)
        t.join();
    clients.clear();
    std::sort(ms.begin(), ms.end());
    return ms;
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
    std::printf("  %-6s %6d round trips  %9.0f per second  p50 %8.1f us  p99 %8.1f us\n", name, f.count,
        f.perSecond(), f.p50us, f.p99us);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double minimum(const std::vector<double> &v)
{
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Relay round trips against a direct WebSocket echo, and cold starts.");
    parser.addHelpOption();
    parser.addOption({ "requests", "Measured round trips per run.", "n", "5000" });
    parser.addOption(
        { "warmup", "Round trips before measuring (node needs thousands to reach its speed).", "n", "5000" });
    parser.addOption({ "rounds", "Relay and echo runs, interleaved.", "n", "3" });
    parser.addOption({ "starts", "Cold starts of each kind.", "n", "3" });
    parser.addOption({ "player", "real (the built player) or double (the test double).", "kind" });
    parser.addOption({ "bin", "Folder of the programs to measure (default: this build's).", "dir" });
    parser.process(app);
    const int requests = std::max(100, parser.value("requests").toInt());
    const int warmup = std::max(0, parser.value("warmup").toInt());
    const int rounds = std::max(1, parser.value("rounds").toInt());
    const int starts = std::max(0, parser.value("starts").toInt());
    const QString binDir = parser.isSet("bin") ? parser.value("bin") : QStringLiteral(QV_BENCH_BIN_DIR);
    const QString sourceDir = QStringLiteral(QV_BENCH_SOURCE_DIR);
    QString kind = parser.value("player");
    if (kind.isEmpty())
        kind = QFile::exists(binDir + "/x64/Tevora_x64") ? "real" : "double";
    const QString player
        = kind == "real" ? binDir + "/x64/Tevora_x64" : sourceDir + "/tests/service/player_double.py";

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
        QFile::copy(sourceDir + "/service/config/" + ini, appDir + "/" + ini);
        QFile::copy(sourceDir + "/service/config/" + ini, appDir + "/x64/" + ini);
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

    QProcess floorRelay;
    floorRelay.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    floorRelay.start(QCoreApplication::applicationDirPath() + "/floor_relay",
        qEnvironmentVariableIsSet("BENCH_FLOOR_NO_SPIN") ? QStringList { "--no-spin" } : QStringList());
    const QString floorPort = waitForLine(floorRelay, QRegularExpression("^(\\d+)"), 30000);
    if (floorPort.isEmpty()) {
        std::fprintf(stderr, "the floor relay did not start\n");
        return 1;
    }

    std::printf("player: %s\n", qPrintable(kind));
    bool ok = true;
    std::vector<double> ratios, p99Ratios, floorRatios;
    for (int round = 1; ok && round <= rounds; ++round) {
        Figures relay, floor, direct;
        const double cpuBefore = relayCpuSeconds(service.processId());
        const qint64 sleepsBefore = relaySleeps(service.processId());
        const double echoCpuBefore = cpuSeconds(echo.processId());
        const double floorCpuBefore = relayCpuSeconds(floorRelay.processId());
        ok = measure(servicePort.toInt(), floorPort.toInt(), echoPort.toInt(), warmup, requests, &relay,
            &floor, &direct);
        if (!ok)
            break;
        // Includes the warm-up round trips; the players' start is before it.
        const double cpuUs = (relayCpuSeconds(service.processId()) - cpuBefore) * 1e6 / (requests + warmup);
        const double echoCpuUs = (cpuSeconds(echo.processId()) - echoCpuBefore) * 1e6 / (requests + warmup);
        const double floorCpuUs
            = (relayCpuSeconds(floorRelay.processId()) - floorCpuBefore) * 1e6 / (requests + warmup);
        const double sleepsPerTrip
            = double(relaySleeps(service.processId()) - sleepsBefore) / (requests + warmup);
        const double ratio = direct.perSecond() > 0 ? relay.perSecond() / direct.perSecond() : 0;
        const double p99Ratio = direct.p99us > 0 ? relay.p99us / direct.p99us : 0;
        const double floorRatio = direct.perSecond() > 0 ? floor.perSecond() / direct.perSecond() : 0;
        ratios.push_back(ratio);
        floorRatios.push_back(floorRatio);
        p99Ratios.push_back(p99Ratio);
        std::printf(
            "round %d: ratio %.2f (floor %.2f), p99 %.2fx the echo's; per round trip: CPU relay %.0f us, "
            "floor %.0f us, echo %.0f us; relay threads sleeping %.1f times\n",
            round, ratio, floorRatio, p99Ratio, cpuUs, floorCpuUs, echoCpuUs, sleepsPerTrip);
        print("relay", relay);
        print("floor", floor);
        print("direct", direct);
    }
    if (ok) {
        std::printf("ratio   min %.2f median %.2f of the direct echo's round trips per second (goal: at "
                    "least 0.70)\n",
            minimum(ratios), median(ratios));
        std::printf("p99     min %.2f median %.2f times the direct echo's (goal: at most 3)\n",
            minimum(p99Ratios), median(p99Ratios));
        std::printf(
            "floor   min %.2f median %.2f of the direct echo's round trips per second: the least a relay of "
            "two processes costs here\n",
            minimum(floorRatios), median(floorRatios));
    }

    // Cold starts: every page starts a player of its own; the players of one
    // trial end (their pages closed) before the next trial begins.
    for (const int pages : { 1, 10 }) {
        std::vector<double> slowest;
        for (int trial = 0; ok && trial < starts; ++trial) {
            QThread::msleep(500);
            const std::vector<double> ms = coldStart(servicePort.toInt(), pages);
            if (ms.front() < 0) {
                std::fprintf(stderr, "a page of %d opening at once got no first reply\n", pages);
                ok = false;
                break;
            }
            slowest.push_back(ms.back());
        }
        if (ok && !slowest.empty())
            std::printf("cold start, %2d page%s at once: last first reply min %.1f median %.1f ms (goal: at "
                        "most %d ms)\n",
                pages, pages == 1 ? " " : "s", minimum(slowest), median(slowest), pages == 1 ? 100 : 300);
    }

    echo.kill();
    echo.waitForFinished();
    floorRelay.kill();
    floorRelay.waitForFinished();
    service.terminate();
    if (!service.waitForFinished(10000))
        service.kill();
    if (!ok)
        return 1;

    return 0;
}
