// Zip benchmark: our output package writer vs `zip -r -6`, our unpacker vs
// `unzip`, each pair on the same tree in the same run (tmpfs by default).
// Trees: 2000 files making 40 MiB, and 10 files of 15 MiB. Prints the time of
// each side per run, then min and median and the ratio ours / theirs.

#include "DiyFirmware.h"
#include "ZipFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Text-like content that compresses about as well as firmware files do.
QByteArray content(int size, quint32 seed)
{
    static const char *words[]
        = { "config", "device", "0x1f", "channel", "stream", "{\"a\":1}", "logo", "\n" };
    QRandomGenerator random(seed);
    QByteArray out;
    out.reserve(size + 16);
    while (out.size() < size) {
        if (random.bounded(4) == 0)
            out.append(char(random.bounded(256)));
        else
            out.append(words[random.bounded(8)]);
    }
    out.truncate(size);
    return out;
}

void makeTree(const QString &root, int files, int fileSize)
{
    for (int i = 0; i < files; ++i) {
        const QString path = QStringLiteral("%1/d%2/f%3.bin").arg(root).arg(i % 20).arg(i);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(content(fileSize, quint32(i)));
    }
}

double run(const QString &program, const QStringList &args, const QString &dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForFinished(-1);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (p.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char *what, const std::vector<double> &ours, const std::vector<double> &theirs)
{
    const double oursMin = *std::min_element(ours.begin(), ours.end());
    const double theirsMin = *std::min_element(theirs.begin(), theirs.end());
    std::printf("%-28s ours min %8.1f ms median %8.1f ms | theirs min %8.1f ms median %8.1f ms | ratio "
                "(median) %.2fx\n",
        what, oursMin, median(ours), theirsMin, median(theirs), median(ours) / median(theirs));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The writer's per-file debug lines would be timed too.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    int runs = 3;
    QString base = QStringLiteral("/dev/shm");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--dir"))
            base = args[i + 1];
    }
    QTemporaryDir scratch(base + QStringLiteral("/bench_zip_XXXXXX"));
    if (!scratch.isValid())
        return 1;
    CDiyFirmware firmware(scratch.path());
    const struct
    {
        const char *name;
        int files;
        int size;
    } shapes[] = { { "2000 files, 40 MiB", 2000, 40 * 1024 * 1024 / 2000 },
        { "10 files of 15 MiB", 10, 15 * 1024 * 1024 } };

    for (const auto &shape : shapes) {
        const QString tree = scratch.path() + QStringLiteral("/tree");
        QDir(tree).removeRecursively();
        makeTree(tree, shape.files, shape.size);
        std::vector<double> writeOurs, writeTheirs, readOurs, readTheirs;
        for (int r = 0; r < runs; ++r) {
            const QString ours = scratch.path() + QStringLiteral("/ours.zip");
            const QString theirs = scratch.path() + QStringLiteral("/theirs.zip");
            QFile::remove(theirs);
            QElapsedTimer t;
            t.start();
            firmware.makeProduceZip(tree, ours);
            writeOurs.push_back(double(t.nsecsElapsed()) / 1e6);
            writeTheirs.push_back(run(QStringLiteral("zip"),
                { QStringLiteral("-r"), QStringLiteral("-6"), QStringLiteral("-q"), theirs,
                    QStringLiteral(".") },
                tree));

            // Both unpack Info-ZIP's archive; our unpacker's entry lines go nowhere.
            const QString outOurs = scratch.path() + QStringLiteral("/out_ours");
            const QString outTheirs = scratch.path() + QStringLiteral("/out_theirs");
            QDir(outOurs).removeRecursively();
            QDir(outTheirs).removeRecursively();
            std::fflush(stdout);
            const int saved = ::dup(1);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            t.restart();
            unzipToFolder(QFile::encodeName(theirs).constData(), QFile::encodeName(outOurs).constData());
            std::fflush(stdout);
            readOurs.push_back(double(t.nsecsElapsed()) / 1e6);
            ::dup2(saved, 1);
            ::close(saved);
            ::close(null);
            readTheirs.push_back(run(QStringLiteral("unzip"),
                { QStringLiteral("-q"), theirs, QStringLiteral("-d"), outTheirs }, scratch.path()));
            std::printf("run %d %-20s write %.1f / %.1f ms, unpack %.1f / %.1f ms (ours / theirs); sizes "
                        "%lld / %lld bytes\n",
                r + 1, shape.name, writeOurs.back(), writeTheirs.back(), readOurs.back(), readTheirs.back(),
                QFileInfo(ours).size(), QFileInfo(theirs).size());
        }
        report((QByteArray("write, ") + shape.name).constData(), writeOurs, writeTheirs);
        report((QByteArray("unpack, ") + shape.name).constData(), readOurs, readTheirs);
    }
    return 0;
}
