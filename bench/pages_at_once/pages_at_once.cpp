// Pages logging in at once: N pages open their sessions with the service
// together, on a private X server (Xvfb) with a browser window in front. Each
// page logs in to the simulated device, shows the player's window and opens
// two live channels, which count as working once a snapshot of each succeeds
// (a decoded picture exists). Every page holds its session until all are done,
// so that all the players live together; the live views start once every
// page has its login answer.
//
//   pages_at_once [--pages 1,16,64] [--bin DIR] [--limit 60]
//
// `--bin` is the build's bin folder with QuorvelTool and x64/Tevora_x64 (the
// release build's by default; point it at another build to compare). For each
// N it prints the login answer times (from the page's connect: the player's
// start is part of what a page waits for), the slowest time to two working
// channels, how many pages got there, and the machine's load.

#include "BenchService.h"
#include "WsClient.h"
#include "XvfbSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(f.readLine()).section(QLatin1Char(' '), 0, 2);
}

// User and system CPU seconds of a process so far; -1 when it is gone.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command's name, which may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// The CPU seconds of the service's players, and how many there are.
double playersCpuSeconds(qint64 servicePid, int *count)
{
    double sum = 0;
    *count = 0;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        if (!text.contains("(Tevora_x64)"))
            continue;
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == servicePid) {
            sum += cpuSeconds(pid);
            ++*count;
        }
    }
    return sum;
}

struct PageResult
{
    double login = -1; // seconds from the connect to the login answer
    double live = -1; // seconds from the connect to two working channels
    QString failure;
};

// Lets every page go at the same moment.
class StartGate
{
public:
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }
    void open()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// Counts the pages still waiting for their login answer.
class Countdown
{
public:
    explicit Countdown(int count)
        : m_count(count)
    { }
    void arrive()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (--m_count == 0)
            m_changed.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_count <= 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count;
};

// One page: a blocking WebSocket client whose reads give up after the limit.
class Page
{
public:
    explicit Page(int limitSeconds)
        : m_limit(limitSeconds)
    { }

    bool open(int port)
    {
        if (!m_ws.open(port))
            return false;
        timeval timeout { m_limit, 0 };
        ::setsockopt(m_ws.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        return true;
    }

    // Sends `request` with MsgID `id` and waits for its answer (a few kinds
    // answer without the MsgID, by their kinds only); events that arrive
    // meanwhile are kept. Empty when none came within the limit.
    QJsonObject ask(QJsonObject request, int id)
    {
        request.insert(QStringLiteral("MsgID"), id);
        if (!m_ws.send(QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString()))
            return QJsonObject();
        const int mainType = request.value(QStringLiteral("MainType")).toInt();
        const int subType = request.value(QStringLiteral("SubType")).toInt();
        const Clock::time_point start = Clock::now();
        std::string text;
        while (secondsSince(start) < m_limit && m_ws.receive(&text)) {
            const QJsonObject message = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
            const QJsonValue msgId = message.value(QStringLiteral("MsgID"));
            if (msgId.toInt(-1) == id
                || (msgId.isUndefined() && message.value(QStringLiteral("Msg")).toInt(-1) == mainType
                    && message.value(QStringLiteral("SubMsg")).toInt(-1) == subType))
                return message;
            events.append(message);
        }
        return QJsonObject();
    }

    QList<QJsonObject> events;

private:
    WsClient m_ws;
    int m_limit;
};

QJsonObject object(const char *json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

void runPage(int port, int limitSeconds, StartGate *gate, Countdown *loggingIn, PageResult *result,
    std::mutex *heldMutex, std::condition_variable *held, int *unfinished)
{
    bool loginOver = false;
    const auto endLogin = [&] {
        if (!loginOver)
            loggingIn->arrive();
        loginOver = true;
    };
    const auto finish = [&] {
        endLogin();
        std::unique_lock<std::mutex> lock(*heldMutex);
        if (--*unfinished == 0)
            held->notify_all();
        // The session stays until every page is done.
        held->wait(lock, [&] { return *unfinished == 0; });
    };
    Page page(limitSeconds);
    gate->wait();
    const Clock::time_point start = Clock::now();
    if (!page.open(port)) {
        result->failure = QStringLiteral("no connection");
        finish();
        return;
    }
    const QJsonObject login = page.ask(object(R"({"MainType":8,"SubType":0,"Browse":0,"WebType":"",
        "Device":{"LoginType":0,"IP":"10.1.1.1","User":"admin","Password":""}})"),
        1);
    if (login.value(QStringLiteral("Ret")).toInt() != 100) {
        result->failure = login.isEmpty() ? QStringLiteral("no login answer")
                                          : QStringLiteral("login Ret %1").arg(login.value("Ret").toInt());
        finish();
        return;
    }
    result->login = secondsSince(start);
    // The pages log in at once; their live views start once every page has
    // its login answer.
    endLogin();
    loggingIn->wait();
    if (page.ask(
                object(R"({"MainType":12,"SubType":2,"Pos":{"Left":0,"Top":0,"Width":640,"Height":360}})"), 2)
            .isEmpty()) {
        result->failure = QStringLiteral("no answer to the show");
        finish();
        return;
    }
    const QJsonObject open = page.ask(object(R"({"MainType":4,"SubType":0,"Channel":258,"Stream":1})"), 3);
    if (open.value(QStringLiteral("Ret")).toInt() != 100) {
        result->failure = QStringLiteral("live view Ret %1").arg(open.value("Ret").toInt());
        finish();
        return;
    }
    int id = 4;
    for (int channel = 0; channel < 2; ++channel) {
        // A snapshot succeeds once the channel's first picture is decoded.
        bool taken = false;
        while (!taken && secondsSince(start) < limitSeconds) {
            QJsonObject snapshot = object(R"({"MainType":4,"SubType":9})");
            snapshot.insert(QStringLiteral("Channel"), channel);
            const QJsonObject answer = page.ask(snapshot, id++);
            if (answer.isEmpty())
                break;
            taken = answer.value(QStringLiteral("Ret")).toInt() == 100;
            if (!taken)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!taken) {
            result->failure = QStringLiteral("channel %1 shows no picture").arg(channel);
            finish();
            return;
        }
    }
    result->live = secondsSince(start);
    finish();
}

class Service
{
public:
    bool start(const QString &binDir, const QString &display)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        // No session bus: Qt's X11 start-up then does not launch one per player.
        env.insert(
            QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/dev/null/no-session-bus"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(binDir + QStringLiteral("/QuorvelTool"), QStringList());
        port = listeningPort(m_process);
        return port > 0;
    }
    ~Service()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(30000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    qint64 pid() const { return m_process.processId(); }

    int port = 0;

private:
    QTemporaryDir m_runtime;
    QProcess m_process;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int runRound(const QString &binDir, int pages, int limitSeconds)
{
    XvfbSession x;
    if (!x.start()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    x.setActive(x.window("Cameras - Web Viewer", "Cameras - Web Viewer"));
    Service service;
    if (!service.start(binDir, x.display())) {
        std::fprintf(stderr, "the service did not start from %s\n", qPrintable(binDir));
        return 1;
    }
    const QString load = loadAverage();

    StartGate gate;
    Countdown loggingIn(pages);
    std::mutex heldMutex;
    std::condition_variable held;
    int unfinished = pages;
    std::vector<PageResult> results(static_cast<size_t>(pages));
    std::vector<std::thread> threads;
    for (int i = 0; i < pages; ++i)
        threads.emplace_back(runPage, service.port, limitSeconds, &gate, &loggingIn, &results[size_t(i)],
            &heldMutex, &held, &unfinished);
    const double xvfbBefore = cpuSeconds(x.serverProcessId());
    gate.open();
    // Every page holds its session until all are done: the players' and the
    // X server's CPU is read then, while the players are still there.
    {
        std::unique_lock<std::mutex> lock(heldMutex);
        held.wait(lock, [&] { return unfinished == 0; });
    }
    int players = 0;
    const double playersCpu = playersCpuSeconds(service.pid(), &players);
    const double xvfbCpu = cpuSeconds(x.serverProcessId()) - xvfbBefore;
    for (std::thread &t : threads)
        t.join();

    std::vector<double> logins;
    double slowestLive = 0;
    int live = 0;
    QStringList failures;
    for (const PageResult &r : results) {
        if (r.login >= 0)
            logins.push_back(r.login);
        if (r.live >= 0) {
            ++live;
            slowestLive = std::max(slowestLive, r.live);
        }
        if (!r.failure.isEmpty() && !failures.contains(r.failure))
            failures.append(r.failure);
    }
    std::sort(logins.begin(), logins.end());
    const double fastest = logins.empty() ? -1.0 : logins.front();
    const double slowest = logins.empty() ? -1.0 : logins.back();
    std::printf("%2d pages at once: logged in %d/%d, login answer min %.2f s, median %.2f s, max %.2f s; "
                "two channels working %d/%d, slowest %.2f s; CPU: X server %.2f s, players %.2f s each; "
                "load before %s%s%s\n",
        pages, int(logins.size()), pages, fastest, median(logins), slowest, live, pages, slowestLive, xvfbCpu,
        players > 0 ? playersCpu / players : -1.0, qPrintable(load),
        failures.isEmpty() ? "" : "; failures: ", qPrintable(failures.join(QStringLiteral(", "))));
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("pages"), QStringLiteral("Page counts, comma separated."),
        QStringLiteral("list"), QStringLiteral("1,16,64") });
    parser.addOption({ QStringLiteral("bin"), QStringLiteral("Folder with QuorvelTool and x64/Tevora_x64."),
        QStringLiteral("dir"), QStringLiteral(QV_BENCH_BIN_DIR) });
    parser.addOption({ QStringLiteral("limit"), QStringLiteral("Seconds a page waits for each answer."),
        QStringLiteral("seconds"), QStringLiteral("60") });
    parser.process(app);
    const int limit = qMax(1, parser.value(QStringLiteral("limit")).toInt());
    for (const QString &count : parser.value(QStringLiteral("pages")).split(QLatin1Char(','))) {
        const int pages = count.toInt();
        if (pages < 1)
            continue;
        if (runRound(parser.value(QStringLiteral("bin")), pages, limit) != 0)
            return 1;
    }
    return 0;
}
