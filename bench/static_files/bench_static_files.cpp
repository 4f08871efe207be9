// Static-file benchmark: wrk fetches a small page file and a 64 KiB picture
// with "Connection: close" from the socket server, then from nginx (one
// worker process) serving the same folder; the runs alternate, and the
// requests per second of both (minimum and median) and their ratio are printed.

#include "GeneralSocket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

double runWrk(const QString &url, int seconds)
{
    QProcess wrk;
    wrk.start(QStringLiteral("wrk"),
        { QStringLiteral("-t2"), QStringLiteral("-c8"), QStringLiteral("-d%1s").arg(seconds),
            QStringLiteral("-H"), QStringLiteral("Connection: close"), url });
    if (!wrk.waitForFinished((seconds + 30) * 1000))
        return -1;
    const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
    const auto match = QRegularExpression(QStringLiteral("Requests/sec:\\s+([0-9.]+)")).match(out);
    if (out.contains(QLatin1String("Non-2xx")) || !match.hasMatch()) {
        std::fprintf(stderr, "wrk output:\n%s\n", qPrintable(out));
        return -1;
    }
    return match.captured(1).toDouble();
}

struct Stats
{
    double min;
    double median;
};

Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return { v.front(), v[v.size() / 2] };
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("seconds"), QStringLiteral("Length of one wrk run."),
        QStringLiteral("s"), QStringLiteral("5") });
    parser.addOption({ QStringLiteral("runs"), QStringLiteral("Runs per server and file."),
        QStringLiteral("n"), QStringLiteral("3") });
    parser.process(app);
    const int seconds = qMax(1, parser.value(QStringLiteral("seconds")).toInt());
    const int runs = qMax(1, parser.value(QStringLiteral("runs")).toInt());

    QTemporaryDir root;
    // nginx's worker runs as another user when started by root: it must be
    // able to read the folder.
    QFile::setPermissions(root.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
            | QFile::ReadGroup | QFile::ExeGroup);
    const QString appDir = root.path() + QStringLiteral("/Service");
    const QString web = root.path() + QStringLiteral("/Web");
    QDir().mkpath(appDir);
    QByteArray picture(64 * 1024, Qt::Uninitialized);
    for (int i = 0; i < picture.size(); ++i)
        picture[i] = char(i * 31);
    if (!writeFile(web + QStringLiteral("/index.html"), QByteArray(2048, 'h'))
        || !writeFile(web + QStringLiteral("/img/picture.png"), picture))
        return 1;

    GeneralSocket server(appDir, 0, 0);
    if (!server.listen())
        return 1;
    server.start();

    // nginx on a port of its own, one worker, no logs.
    int nginxPort = 0;
    {
        GeneralSocket probe(appDir, 0, 0);
        probe.listen();
        nginxPort = probe.port();
    }
    const QString conf = root.path() + QStringLiteral("/nginx.conf");
    const QByteArray confText
        = QStringLiteral("daemon off; worker_processes 1; pid %1/nginx.pid; error_log %1/error.log;\n"
                         "events { worker_connections 1024; }\n"
                         "http { access_log off; client_body_temp_path %1/tmp; proxy_temp_path %1/tmp; "
                         "fastcgi_temp_path %1/tmp;\n"
                         "  uwsgi_temp_path %1/tmp; scgi_temp_path %1/tmp;\n"
                         "  server { listen 127.0.0.1:%2; root %3; } }\n")
              .arg(root.path())
              .arg(nginxPort)
              .arg(web)
              .toUtf8();
    if (!writeFile(conf, confText))
        return 1;
    QProcess nginx;
    nginx.setProcessChannelMode(QProcess::ForwardedChannels);
    nginx.start(QStringLiteral("nginx"), { QStringLiteral("-c"), conf, QStringLiteral("-p"), root.path() });
    if (!nginx.waitForStarted(10000))
        return 1;
    // Ready once a request succeeds.
    for (int i = 0; i < 100 && runWrk(QStringLiteral("http://127.0.0.1:%1/index.html").arg(nginxPort), 1) < 0;
         ++i)
        ;

    const struct
    {
        const char *name;
        const char *path;
    } files[] = { { "2 KiB page", "/index.html" }, { "64 KiB picture", "/img/picture.png" } };
    int failures = 0;
    for (const auto &file : files) {
        std::vector<double> ours;
        std::vector<double> theirs;
        for (int r = 0; r < runs; ++r) {
            ours.push_back(
                runWrk(QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(file.path), seconds));
            theirs.push_back(
                runWrk(QStringLiteral("http://127.0.0.1:%1%2").arg(nginxPort).arg(file.path), seconds));
        }
        if (*std::min_element(ours.begin(), ours.end()) < 0
            || *std::min_element(theirs.begin(), theirs.end()) < 0) {
            ++failures;
            continue;
        }
        const Stats a = stats(ours);
        const Stats b = stats(theirs);
        std::printf(
            "%-15s socket server: min %.0f median %.0f req/s | nginx (1 worker): min %.0f median %.0f "
            "req/s | ratio of medians %.2f\n",
            file.name, a.min, a.median, b.min, b.median, a.median / b.median);
    }
    nginx.terminate();
    nginx.waitForFinished(5000);
    return failures ? 1 : 0;
}
