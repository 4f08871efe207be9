// 10 s of a 1920x1080 Xvfb desktop at 30 fps into H.264: our recorder against
// the ffmpeg command line with the same encoder settings. Frames written, CPU
// time and peak memory of each, in the same run.
//   build/release/bench/recorder/bench_recorder [--runs N] [--seconds S]
#include "ScreenRecorder.h"
#include "XvfbServer.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Usage
{
    double cpuSeconds = -1;
    double peakMiB = 0;
    int frames = 0;
};

// Runs a program to its end; its own CPU time and peak resident memory.
Usage runMeasured(const QStringList &command)
{
    std::vector<QByteArray> args;
    for (const QString &a : command)
        args.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Usage u;
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return u;
    int status = 0;
    rusage ru {};
    if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return u;
    u.cpuSeconds
        = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    u.peakMiB = ru.ru_maxrss / 1024.0;
    return u;
}

int packetsIn(const QString &path)
{
    QProcess p;
    p.start("ffprobe",
        { "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
            "stream=nb_read_packets", "-of", "csv=p=0", path });
    p.waitForFinished(120000);
    return p.readAllStandardOutput().trimmed().toInt();
}

// The recording process for our recorder.
int record(const QString &path, int seconds)
{
    if (qEnvironmentVariableIsEmpty("BENCH_RECORDER_LOG"))
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    CScreenRecorder recorder;
    recorder.setRecordParam({ { "filePath", path }, { "width", 1920 }, { "height", 1080 }, { "fps", 30 } });
    if (!recorder.startRecord())
        return 1;
    // The time counts from the first picture, as ffmpeg's -t does.
    while (recorder.encodedFrames() == 0 && recorder.state() == CScreenRecorder::Recording)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    recorder.stopRecord();
    return recorder.waitStopped(60000) && recorder.state() == CScreenRecorder::StopRequested ? 0 : 1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QString figures(const std::vector<double> &v, int precision)
{
    return QString("%1 / %2")
        .arg(*std::min_element(v.begin(), v.end()), 0, 'f', precision)
        .arg(median(v), 0, 'f', precision);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--record")
        return record(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    int runs = 3;
    int seconds = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--runs")
            runs = args[i + 1].toInt();
        else if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
    }
    QTextStream out(stdout);
    XvfbServer xvfb(QSize(1920, 1080));
    if (!xvfb.start()) {
        out << xvfb.errorText() << "\n";
        return 1;
    }
    qputenv("DISPLAY", xvfb.display().toUtf8());
    // Something that moves on the desktop for both recordings.
    QProcess mover;
    mover.start("ico", { "-faces", "-sleep", "0.02", "-geometry", "1200x900+300+100" });
    QTemporaryDir tmp;

    std::vector<double> cpu[2], mem[2], frames[2];
    for (int run = 0; run < runs; ++run) {
        const QString mine = tmp.filePath(QString("ours_%1.mp4").arg(run));
        const QString theirs = tmp.filePath(QString("ffmpeg_%1.mp4").arg(run));
        const QStringList ffmpeg { "ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "x11grab", "-framerate",
            "30", "-i", xvfb.display(), "-t", QString::number(seconds), "-vf",
            "scale=1920:1080:flags=fast_bilinear", "-pix_fmt", "yuv420p", "-c:v", "libx264", "-b:v",
            "1000000", "-maxrate", "1000000", "-bufsize", "500000", "-g", "30", "-bf", "3", "-qmin", "10",
            "-qmax", "31", "-qdiff", "4", "-me_range", "16", "-qcomp", "0.6", "-profile:v", "high", "-preset",
            "ultrafast", "-threads", "0", "-crf", "26", "-tune", "zerolatency", theirs };
        Usage u[2];
        // Who goes first alternates.
        for (int turn = 0; turn < 2; ++turn) {
            const int who = (turn + run) % 2;
            u[who] = who == 0
                ? runMeasured({ app.applicationFilePath(), "--record", mine, QString::number(seconds) })
                : runMeasured(ffmpeg);
        }
        if (u[0].cpuSeconds < 0 || u[1].cpuSeconds < 0) {
            out << "a recording failed (ours " << u[0].cpuSeconds << ", ffmpeg " << u[1].cpuSeconds << ")\n";
            return 1;
        }
        u[0].frames = packetsIn(mine);
        u[1].frames = packetsIn(theirs);
        for (int who = 0; who < 2; ++who) {
            cpu[who].push_back(u[who].cpuSeconds);
            mem[who].push_back(u[who].peakMiB);
            frames[who].push_back(u[who].frames);
        }
    }
    mover.kill();
    mover.waitForFinished();

    out << QString("%1 s of 1920x1080 at 30 fps, %2 runs (min / median)\n").arg(seconds).arg(runs);
    const char *names[2] = { "ours  ", "ffmpeg" };
    for (int who = 0; who < 2; ++who)
        out << QString("%1  frames %2   CPU s %3   peak MiB %4\n")
                   .arg(names[who], figures(frames[who], 0), figures(cpu[who], 2), figures(mem[who], 0));
    std::vector<double> cpuRatio, memRatio, frameRatio;
    for (int i = 0; i < runs; ++i) {
        frameRatio.push_back(frames[0][i] / std::max(1.0, frames[1][i]));
        cpuRatio.push_back(cpu[0][i] / std::max(0.001, cpu[1][i]));
        memRatio.push_back(mem[0][i] / std::max(0.001, mem[1][i]));
    }
    out << QString("ratio ours/ffmpeg  frames %1   CPU %2   peak memory %3\n")
               .arg(figures(frameRatio, 2), figures(cpuRatio, 2), figures(memRatio, 2));
    return 0;
}
