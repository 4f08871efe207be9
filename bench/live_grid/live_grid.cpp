// Shows N live channels of the device-library stand-in in the live-view panel.
//
//   live_grid --show [--channels 16] [--seconds 0]    manual check: a visible grid (0 = until closed)
//   live_grid [--channels 64] [--seconds 20]           benchmark
//
// The benchmark measures the process's CPU time and the pictures drawn per
// second, then the CPU of the simulated device's streams alone (they run in
// this process), then dumps the same streams for the same length of content
// and measures the floors: `ffmpeg -threads 1` decoding them one after another
// and all at the same time. It prints each figure with the machine's load and
// the ratios.

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
    CRealPlayWidget *panel = nullptr;
    int channel = 0;
    QFile *dump = nullptr; // Annex-B payloads of the video frames, when dumping
    std::atomic<long> frames { 0 };
};

int onFrame(int, const TRV_FRAME_INFO *frame, void *user)
{
    auto *feed = static_cast<Feed *>(user);
    if (feed->panel)
        feed->panel->InputData(
            feed->channel, reinterpret_cast<const char *>(frame->data), int(frame->length));
    if (frame->frameType == TRV_FRAME_VIDEO) {
        feed->frames.fetch_add(1, std::memory_order_relaxed);
        if (feed->dump && frame->length > 32) // skip the 32-byte frame header
            feed->dump->write(reinterpret_cast<const char *>(frame->data) + 32, frame->length - 32);
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

// The CPU of `ffmpeg -threads 1` decoding each of `inputs`, all started at
// once; with `firstPictureOnly`, of decoding one picture of each, which is
// mostly the program's start-up (about half a second of CPU, more than a
// stream of 500 CIF pictures needs).
double decodeCpu(const QStringList &inputs, bool firstPictureOnly = false)
{
    const double before = childrenCpuSeconds();
    std::vector<std::unique_ptr<QProcess>> decoders;
    for (const QString &input : inputs) {
        QStringList arguments { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-threads"),
            QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("h264"), QStringLiteral("-i"), input };
        if (firstPictureOnly)
            arguments << QStringLiteral("-frames:v") << QStringLiteral("1");
        arguments << QStringLiteral("-f") << QStringLiteral("null") << QStringLiteral("-");
        decoders.push_back(std::make_unique<QProcess>());
        decoders.back()->start(QStringLiteral("ffmpeg"), arguments);
    }
    for (auto &decoder : decoders)
        decoder->waitForFinished(-1);
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

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "show", "Show the grid on screen (manual check)." });
    parser.addOption({ "channels", "Number of channels.", "n" });
    parser.addOption({ "seconds", "Seconds to run (0 with --show: until the window closes).", "s" });
    parser.addOption({ "no-bursts", "Small windows show each picture as it comes, not a few at a time." });
    parser.addOption({ "through-qt", "Paint every picture through Qt, none straight into the X window." });
    parser.process(app);
    const bool show = parser.isSet("show");
    const bool bursts = !parser.isSet("no-bursts");
    LumarelControl::setSmallWindowBursts(bursts);
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
    for (int c = 0; c < channels; ++c) {
        if (panel.PreviewPlay(TRV_STREAM_EXTRA, c, c) < 0) {
            std::fprintf(stderr, "window %d did not open\n", c);
            return 1;
        }
    }

    std::vector<Feed> feeds(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        feeds[size_t(c)].panel = &panel;
        feeds[size_t(c)].channel = c;
    }
    Device device;
    if (!openStreams(channels, feeds, &device))
        return 1;

    if (show) {
        if (seconds > 0)
            QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
        const int rc = app.exec();
        std::printf("pictures drawn: %lld\n", static_cast<long long>(framesDrawn(channels)));
        closeStreams(&device);
        for (int c = 0; c < channels; ++c)
            panel.PreviewStop(c);
        return rc;
    }

    // Benchmark: settle, then measure.
    runFor(2000);
    const qint64 drawn0 = framesDrawn(channels);
    long received0 = 0;
    for (const Feed &f : feeds)
        received0 += f.frames.load();
    const double cpu0 = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double cpu = processCpuSeconds() - cpu0;
    const QString panelLoad = loadAverage();
    const qint64 drawn = framesDrawn(channels) - drawn0;
    long received = -received0;
    for (const Feed &f : feeds)
        received += f.frames.load();
    closeStreams(&device);
    for (int c = 0; c < channels; ++c)
        panel.PreviewStop(c);

    // The simulated device runs inside this process: the same streams for the
    // same time, delivered to a callback that only counts them, give its share.
    std::vector<Feed> counted(static_cast<size_t>(channels));
    Device countDevice;
    if (!openStreams(channels, counted, &countDevice))
        return 1;
    runFor(1000);
    const double deviceCpu0 = processCpuSeconds();
    QElapsedTimer deviceWall;
    deviceWall.start();
    runFor(seconds * 1000);
    const double deviceCpu = (processCpuSeconds() - deviceCpu0) * elapsed / (deviceWall.nsecsElapsed() / 1e9);
    closeStreams(&countDevice);

    // The same streams as plain H.264 files, for the same length of content.
    std::vector<Feed> dumps(static_cast<size_t>(channels));
    std::vector<std::unique_ptr<QFile>> files;
    for (int c = 0; c < channels; ++c) {
        files.push_back(std::make_unique<QFile>(work.filePath(QStringLiteral("ch%1.h264").arg(c))));
        files.back()->open(QIODevice::WriteOnly);
        dumps[size_t(c)].channel = c;
        dumps[size_t(c)].dump = files.back().get();
    }
    Device dumpDevice;
    if (!openStreams(channels, dumps, &dumpDevice))
        return 1;
    const long wanted = long(seconds) * 25;
    for (;;) {
        bool all = true;
        for (const Feed &f : dumps)
            all = all && f.frames.load() >= wanted;
        if (all)
            break;
        runFor(200);
    }
    closeStreams(&dumpDevice);
    for (auto &f : files)
        f->close();

    // The floors. One decoder run over all streams one after the other (each
    // begins with a key frame and its parameter sets), so process start-up
    // counts once; then one decoder per stream, all at the same time, as the
    // grid decodes them (they share the caches and the cores).
    const QString all = work.filePath(QStringLiteral("all.h264"));
    {
        QFile out(all);
        out.open(QIODevice::WriteOnly);
        for (auto &f : files) {
            f->open(QIODevice::ReadOnly);
            out.write(f->readAll());
            f->close();
        }
    }
    // Each figure less the decoders' start-up, which the player does not pay.
    const QString sequentialLoad = loadAverage();
    const double sequentialCpu = decodeCpu({ all }) - decodeCpu({ all }, true);
    QStringList each;
    for (auto &f : files)
        each << f->fileName();
    const QString concurrentLoad = loadAverage();
    const double startups = decodeCpu(each, true);
    const double concurrentCpu = decodeCpu(each) - startups;

    // The decoders' runs cover `seconds` of content; the panel's CPU is set
    // to the same length.
    const auto perContent = [&](double c) { return elapsed > 0 ? c * seconds / elapsed : 0.0; };
    const auto ratio = [&](double c, double floor) { return floor > 0 ? perContent(c) / floor : 0.0; };
    std::printf("live grid: %d channels of the extra stream (352x288, 25 fps), %.1f s, %s, %s\n", channels,
        elapsed, bursts ? "pictures decoded four at a time, shown 120 ms later" : "each picture as it comes",
        straight ? "put straight into the X windows" : "painted through Qt");
    std::printf("  panel: %.2f s CPU (%.1f %% of one core), %.1f pictures drawn per second of %.1f received"
                " [load %s]\n",
        cpu, 100.0 * cpu / elapsed, double(drawn) / elapsed, double(received) / elapsed,
        qPrintable(panelLoad));
    std::printf(
        "  of which the simulated device (its streams alone, same time): %.2f s; the player alone: %.2f s\n",
        deviceCpu, cpu - deviceCpu);
    std::printf("  ffmpeg -threads 1, %d streams of %ld frames one after another: %.2f s CPU (start-up taken "
                "off) [load %s]\n",
        channels, wanted, sequentialCpu, qPrintable(sequentialLoad));
    std::printf(
        "  ffmpeg -threads 1, %d streams of %ld frames at the same time: %.2f s CPU (%.2f s of %d start-ups"
        " taken off; %.2f of one after another) [load %s]\n",
        channels, wanted, concurrentCpu, startups, channels,
        sequentialCpu > 0 ? concurrentCpu / sequentialCpu : 0.0, qPrintable(concurrentLoad));
    std::printf("  ratio to one after another: %.2f, %.2f without the simulated device"
                " (goal: at most 1.3, with every picture drawn)\n",
        ratio(cpu, sequentialCpu), ratio(cpu - deviceCpu, sequentialCpu));
    std::printf("  ratio to at the same time: %.2f, %.2f without the simulated device\n",
        ratio(cpu, concurrentCpu), ratio(cpu - deviceCpu, concurrentCpu));
    return 0;
}
