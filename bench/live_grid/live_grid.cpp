// Shows N live channels of the device-library stand-in in the live-view panel.
//
//   live_grid --show [--channels 16] [--seconds 0]    manual check: a visible grid (0 = until closed)
//   live_grid [--channels 64] [--seconds 20] [--rounds 4]   benchmark
//
// The benchmark first keeps `seconds` of each stream as plain H.264. Then,
// in rounds, each taking its share of the time in turn so that the machine's
// load falls on all alike: the player's CPU time and pictures drawn with
// small windows taking their pictures in bursts (the default), without
// bursts, and (unless --no-compare) with a decode thread per port as the
// play library had before its decode pool; the simulated device alone (it
// runs in this process, and is taken off the player's figure); and the
// floors, over the kept streams: `ffmpeg -threads 1` decoding them one after
// another, one thread of this process decoding them in real time picture by
// picture, and the same four at a time scaled to the window (what the decode
// pool does, without the display). It prints the sums with the machine's
// load and the ratios.

#include "DecodeFloor.h"
#include "RealPlayWidget.h"
#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"
#include "lumarel/LumarelControl.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

struct Feed
{
    std::atomic<CRealPlayWidget *> panel { nullptr };
    int channel = 0;
    // Annex-B payloads of the video frames, when dumping: written to `dump`
    // and kept in `units`, up to `keep` of them.
    QFile *dump = nullptr;
    std::vector<QByteArray> units;
    size_t keep = 0;
    std::atomic<long> frames { 0 };
};

int onFrame(int, const TRV_FRAME_INFO *frame, void *user)
{
    auto *feed = static_cast<Feed *>(user);
    if (CRealPlayWidget *panel = feed->panel)
        panel->InputData(feed->channel, reinterpret_cast<const char *>(frame->data), int(frame->length));
    if (frame->frameType == TRV_FRAME_VIDEO) {
        feed->frames.fetch_add(1, std::memory_order_relaxed);
        if (feed->dump && frame->length > 32 && feed->units.size() < feed->keep) {
            // The 32-byte frame header left out.
            const QByteArray unit(reinterpret_cast<const char *>(frame->data) + 32, int(frame->length) - 32);
            feed->dump->write(unit);
            feed->units.push_back(unit);
        }
    }
    return 1;
}

double processCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The user and system time of waited-for children so far.
double childrenCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The machine's load (1, 5 and 15 minutes), printed beside each figure: the
// figures only compare when the machine was equally busy.
QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(f.readLine()).section(QLatin1Char(' '), 0, 2);
}

// The CPU of `ffmpeg -threads 1` decoding `input`; with `firstPictureOnly`,
// of decoding its first picture, which is mostly the program's start-up
// (about half a second of CPU, more than a stream of 500 CIF pictures needs).
double decodeCpu(const QString &input, bool firstPictureOnly = false)
{
    const double before = childrenCpuSeconds();
    QStringList arguments { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-threads"),
        QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("h264"), QStringLiteral("-i"), input };
    if (firstPictureOnly)
        arguments << QStringLiteral("-frames:v") << QStringLiteral("1");
    arguments << QStringLiteral("-f") << QStringLiteral("null") << QStringLiteral("-");
    QProcess decoder;
    decoder.start(QStringLiteral("ffmpeg"), arguments);
    decoder.waitForFinished(-1);
    return childrenCpuSeconds() - before;
}

int layoutForCount(int n)
{
    return n <= 1 ? 0 : n <= 4 ? 1 : n <= 9 ? 2 : n <= 16 ? 3 : n <= 25 ? 4 : n <= 36 ? 5 : 6;
}

struct Device
{
    int login = 0;
    std::vector<int> handles;
};

bool openStreams(int channels, std::vector<Feed> &feeds, Device *device)
{
    kestrix::control::setDefaultChannels(channels);
    TRV_NET_Init(nullptr, nullptr);
    TRV_DEVICE_INFO info;
    int error = 0;
    device->login = TRV_NET_Login("192.0.2.10", 34567, "admin", "", &info, &error, TRV_LOGIN_BY_ADDRESS);
    if (device->login <= 0) {
        std::fprintf(stderr, "login failed: %d\n", error);
        return false;
    }
    for (int c = 0; c < channels; ++c) {
        TRV_STREAM_REQUEST req = {};
        req.channel = c;
        req.streamType = TRV_STREAM_EXTRA;
        const int h = TRV_NET_RealPlay(device->login, &req, 0);
        if (h <= 0)
            return false;
        TRV_NET_SetRealDataCallBack_V2(h, onFrame, &feeds[size_t(c)]);
        device->handles.push_back(h);
    }
    return true;
}

void closeStreams(Device *device)
{
    for (int h : device->handles)
        TRV_NET_StopRealPlay(h, 0);
    TRV_NET_Logout(device->login);
    TRV_NET_Cleanup();
}

qint64 framesDrawn(int channels)
{
    qint64 total = 0;
    for (int c = 0; c < channels; ++c) {
        LumarelControl::PortStats s;
        if (LumarelControl::portStats(c, &s))
            total += s.framesDrawn;
    }
    return total;
}

// Runs the event loop for `ms` milliseconds.
void runFor(int ms)
{
    QEventLoop loop;
    // Precise: a coarse timer may end a long run up to 5 % early.
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

long receivedFrames(const std::vector<Feed> &feeds)
{
    long total = 0;
    for (const Feed &f : feeds)
        total += f.frames.load();
    return total;
}

// "low-high" of the 1-minute figures of loadAverage() texts.
QString loadSpan(const QStringList &loads)
{
    double low = 1e9;
    double high = -1;
    for (const QString &l : loads) {
        const double minute = l.section(QLatin1Char(' '), 0, 0).toDouble();
        low = std::min(low, minute);
        high = std::max(high, minute);
    }
    return high < 0 ? QStringLiteral("unknown")
                    : QStringLiteral("%1-%2").arg(low, 0, 'f', 2).arg(high, 0, 'f', 2);
}

// What the process spent while the panel showed the streams, over one or
// more slices of time.
struct PanelRun
{
    double cpu = 0; // seconds, the whole process
    double elapsed = 0; // seconds
    qint64 drawn = 0;
    long received = 0;
    long sleeps = 0; // the process's threads going to sleep (voluntary context switches)
    QStringList loads; // the machine's load during each slice

    // The lowest and highest 1-minute load seen.
    QString loadRange() const { return loadSpan(loads); }

    void add(const PanelRun &slice)
    {
        cpu += slice.cpu;
        elapsed += slice.elapsed;
        drawn += slice.drawn;
        received += slice.received;
        sleeps += slice.sleeps;
        loads += slice.loads;
    }
};

// A floor measured in parts, one a round.
struct Floor
{
    double cpu = 0; // seconds
    QStringList loads;

    // `cpu` for all of the content, measured `parts` times: each adds its share.
    void add(double measured, int parts)
    {
        cpu += measured / parts;
        loads << loadAverage();
    }
    QString loadRange() const { return loadSpan(loads); }
};

// Where the streams' pictures go: the panel, or nowhere (counted only).
void setPanel(std::vector<Feed> *feeds, CRealPlayWidget *panel)
{
    for (Feed &f : *feeds)
        f.panel = panel;
}

long processSleeps()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

PanelRun measurePanel(int channels, const std::vector<Feed> &feeds, int ms)
{
    const long sleeps0 = processSleeps();
    const qint64 drawn0 = framesDrawn(channels);
    const long received0 = receivedFrames(feeds);
    const double cpu0 = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(ms);
    PanelRun run;
    run.elapsed = wall.nsecsElapsed() / 1e9;
    run.cpu = processCpuSeconds() - cpu0;
    run.loads << loadAverage();
    run.drawn = framesDrawn(channels) - drawn0;
    run.received = receivedFrames(feeds) - received0;
    run.sleeps = processSleeps() - sleeps0;
    return run;
}

// Opens every channel's window; false when one does not open.
bool startPreviews(CRealPlayWidget *panel, int channels)
{
    for (int c = 0; c < channels; ++c) {
        if (panel->PreviewPlay(TRV_STREAM_EXTRA, c, c) < 0) {
            std::fprintf(stderr, "window %d did not open\n", c);
            return false;
        }
    }
    return true;
}

void stopPreviews(CRealPlayWidget *panel, int channels)
{
    for (int c = 0; c < channels; ++c)
        panel->PreviewStop(c);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "show", "Show the grid on screen (manual check)." });
    parser.addOption({ "channels", "Number of channels.", "n" });
    parser.addOption({ "seconds", "Seconds to run (0 with --show: until the window closes).", "s" });
    parser.addOption({ "no-bursts", "With --show: small windows show each picture as it comes." });
    parser.addOption({ "through-qt", "Paint every picture through Qt, none straight into the X window." });
    parser.addOption({ "thread-per-port", "With --show: each port decodes on a thread of its own." });
    parser.addOption({ "no-compare", "Leave out the run with a decode thread per port." });
    parser.addOption({ "rounds", "Take turns this many times between the figures measured (4).", "n" });
    parser.process(app);
    const bool show = parser.isSet("show");
    const bool straight = !parser.isSet("through-qt");
    LumarelControl::setStraightDrawing(straight);
    const int channels = qBound(
        1, parser.value("channels").isEmpty() ? (show ? 16 : 64) : parser.value("channels").toInt(), 64);
    const int seconds = parser.value("seconds").isEmpty() ? (show ? 0 : 20) : parser.value("seconds").toInt();

    QTemporaryDir work;
    CRealPlayWidget panel;
    panel.SetConfigFolder(work.path());
    panel.resize(1280, 720);
    panel.ChangeSplit(layoutForCount(channels));
    panel.show();

    std::vector<Feed> feeds(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        feeds[size_t(c)].panel = &panel;
        feeds[size_t(c)].channel = c;
    }

    if (show) {
        LumarelControl::setSmallWindowBursts(!parser.isSet("no-bursts"));
        LumarelControl::setPooledDecoding(!parser.isSet("thread-per-port"));
        if (!startPreviews(&panel, channels))
            return 1;
        Device device;
        if (!openStreams(channels, feeds, &device))
            return 1;
        if (seconds > 0)
            QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
        const int rc = app.exec();
        std::printf("pictures drawn: %lld\n", static_cast<long long>(framesDrawn(channels)));
        closeStreams(&device);
        stopPreviews(&panel, channels);
        return rc;
    }

    // Benchmark. First the streams as plain H.264, for the floors.
    const long wanted = long(seconds) * 25;
    std::vector<Feed> dumps(static_cast<size_t>(channels));
    std::vector<std::unique_ptr<QFile>> files;
    for (int c = 0; c < channels; ++c) {
        files.push_back(std::make_unique<QFile>(work.filePath(QStringLiteral("ch%1.h264").arg(c))));
        files.back()->open(QIODevice::WriteOnly);
        dumps[size_t(c)].channel = c;
        dumps[size_t(c)].dump = files.back().get();
        dumps[size_t(c)].keep = size_t(wanted);
    }
    {
        Device dumpDevice;
        if (!openStreams(channels, dumps, &dumpDevice))
            return 1;
        for (;;) {
            bool all = true;
            for (const Feed &f : dumps)
                all = all && f.frames.load() >= wanted;
            if (all)
                break;
            runFor(200);
        }
        closeStreams(&dumpDevice);
    }
    // One file of all streams one after another (each begins with a key
    // frame and its parameter sets), so that ffmpeg's start-up counts once.
    const QString all = work.filePath(QStringLiteral("all.h264"));
    {
        QFile out(all);
        out.open(QIODevice::WriteOnly);
        for (auto &f : files) {
            f->close();
            f->open(QIODevice::ReadOnly);
            out.write(f->readAll());
            f->close();
        }
    }
    std::vector<std::vector<QByteArray>> streams;
    for (Feed &f : dumps)
        streams.push_back(std::move(f.units));
    DecodeFloorOptions byPicture;
    RealTimeDecode realTime(&streams, byPicture);
    DecodeFloorOptions bursts;
    bursts.burst = 4;
    bursts.window = QSize(1280 / 8, 720 / 8);
    RealTimeDecode poolFloor(&streams, bursts);

    // Then the rounds.
    if (!startPreviews(&panel, channels))
        return 1;
    Device device;
    if (!openStreams(channels, feeds, &device))
        return 1;
    const bool compare = !parser.isSet("no-compare");
    const int rounds
        = qBound(1, parser.value("rounds").isEmpty() ? 4 : parser.value("rounds").toInt(), seconds);
    const int sliceMs = seconds * 1000 / rounds;
    PanelRun pooled;
    PanelRun noBursts;
    PanelRun perPort;
    PanelRun deviceAlone;
    Floor sequential;
    Floor realTimeFloor;
    Floor burstFloor;
    runFor(2000);
    for (int round = 0; round < rounds; ++round) {
        pooled.add(measurePanel(channels, feeds, sliceMs));
        LumarelControl::setSmallWindowBursts(false);
        runFor(1000);
        noBursts.add(measurePanel(channels, feeds, sliceMs));
        LumarelControl::setSmallWindowBursts(true);
        if (compare) {
            // The ports take the decode pool or threads of their own when they open.
            stopPreviews(&panel, channels);
            LumarelControl::setPooledDecoding(false);
            if (!startPreviews(&panel, channels))
                return 1;
            runFor(2000);
            perPort.add(measurePanel(channels, feeds, sliceMs));
            stopPreviews(&panel, channels);
            LumarelControl::setPooledDecoding(true);
            if (!startPreviews(&panel, channels))
                return 1;
        }
        // The streams go on, to a callback that only counts them: the
        // simulated device's share (the panel's windows keep their last
        // pictures and have nothing to do).
        setPanel(&feeds, nullptr);
        runFor(500);
        deviceAlone.add(measurePanel(channels, feeds, sliceMs));
        // The floors, while the player waits.
        const size_t pictures = size_t(wanted) * size_t(round + 1) / size_t(rounds)
            - size_t(wanted) * size_t(round) / size_t(rounds);
        sequential.add(decodeCpu(all) - decodeCpu(all, true), rounds);
        realTimeFloor.add(realTime.next(pictures), 1);
        burstFloor.add(poolFloor.next(pictures), 1);
        setPanel(&feeds, &panel);
        runFor(2000);
    }
    closeStreams(&device);
    stopPreviews(&panel, channels);

    // The floors cover `seconds` of content; the player's figures are set
    // to the same length, less the simulated device's share.
    const double deviceRate = deviceAlone.elapsed > 0 ? deviceAlone.cpu / deviceAlone.elapsed : 0.0;
    const auto player = [&](const PanelRun &r) {
        return r.elapsed > 0 ? (r.cpu - deviceRate * r.elapsed) * seconds / r.elapsed : 0.0;
    };
    const auto ratio = [](double c, double floor) { return floor > 0 ? c / floor : 0.0; };
    std::printf(
        "live grid: %d channels of the extra stream (352x288, 25 fps), %d s of content each in %d rounds,"
        " %s\n",
        channels, seconds, rounds, straight ? "put straight into the X windows" : "painted through Qt");
    const auto printPanel = [&](const char *what, const PanelRun &r) {
        std::printf(
            "  player, %s: %.2f s CPU, %.1f pictures drawn per second of %.1f received, threads going to"
            " sleep %.0f times a second [load %s]\n",
            what, player(r), double(r.drawn) / r.elapsed, double(r.received) / r.elapsed,
            double(r.sleeps) / r.elapsed, qPrintable(r.loadRange()));
    };
    printPanel(
        "decode pool, pictures of small windows decoded four at a time and shown 120 ms later", pooled);
    printPanel("decode pool, each picture as it comes", noBursts);
    if (compare)
        printPanel("a decode thread per port (as before the pool), four at a time", perPort);
    std::printf("  the simulated device alone: %.2f s CPU (taken off the player's figures) [load %s]\n",
        deviceRate * seconds, qPrintable(deviceAlone.loadRange()));
    std::printf("  floor, ffmpeg -threads 1, the %d streams of %ld pictures one after another: %.2f s CPU"
                " (start-up taken off) [load %s]\n",
        channels, wanted, sequential.cpu, qPrintable(sequential.loadRange()));
    std::printf(
        "  floor, one thread decoding them in real time, picture by picture: %.2f s CPU, %.2f of one after"
        " another [load %s]\n",
        realTimeFloor.cpu, ratio(realTimeFloor.cpu, sequential.cpu), qPrintable(realTimeFloor.loadRange()));
    std::printf(
        "  floor of the decode pool, one thread decoding them in real time four at a time and scaling them"
        " to %dx%d: %.2f s CPU, %.2f of one after another [load %s]\n",
        bursts.window.width(), bursts.window.height(), burstFloor.cpu, ratio(burstFloor.cpu, sequential.cpu),
        qPrintable(burstFloor.loadRange()));
    std::printf(
        "  the player alone to one after another: %.2f with bursts (goal: at most 1.5, with every picture"
        " drawn), %.2f without",
        ratio(player(pooled), sequential.cpu), ratio(player(noBursts), sequential.cpu));
    if (compare)
        std::printf(", %.2f on a decode thread per port", ratio(player(perPort), sequential.cpu));
    std::printf("\n  the player alone to the decode pool's floor: %.2f with bursts\n",
        ratio(player(pooled), burstFloor.cpu));
    return 0;
}
