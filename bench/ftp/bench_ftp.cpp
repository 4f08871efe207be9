// 1 GiB downloads (RETR) and uploads (STOR) over loopback: our FTP server
// against vsftpd, in the same run, with the same client. Needs root (vsftpd
// serves an anonymous upload folder as the user "ftp").
//   build/release/bench/ftp/bench_ftp [--runs N] [--mib N]
#include "FtpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A minimal FTP client: one reply line at a time (multi-line replies are
// skipped up to their last line).
class Session
{
public:
    ~Session() { ::close(m_fd); }
    bool open(int port)
    {
        m_fd = connectTo(port);
        return m_fd >= 0 && reply().startsWith("220");
    }
    QByteArray command(const QByteArray &line)
    {
        const QByteArray text = line + "\r\n";
        if (::send(m_fd, text.constData(), size_t(text.size()), MSG_NOSIGNAL) != text.size())
            return QByteArray();
        return reply();
    }
    QByteArray reply()
    {
        for (;;) {
            const int nl = m_pending.indexOf('\n');
            if (nl >= 0) {
                const QByteArray line = m_pending.left(nl + 1).trimmed();
                m_pending.remove(0, nl + 1);
                if (line.size() >= 4 && line.at(3) == ' ')
                    return line;
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return QByteArray();
            m_pending.append(buffer, int(n));
        }
    }
    int pasv()
    {
        const QByteArray r = command("PASV");
        const int open = r.indexOf('('), close = r.indexOf(')');
        const QList<QByteArray> n = r.mid(open + 1, close - open - 1).split(',');
        return n.size() == 6 ? n[4].toInt() * 256 + n[5].toInt() : 0;
    }

private:
    int m_fd = -1;
    QByteArray m_pending;
};

// Seconds for one transfer, or -1 on failure.
double transfer(int port, const QByteArray &user, const QByteArray &password, bool upload, qint64 bytes)
{
    Session s;
    if (!s.open(port))
        return -1;
    const QByteArray greeting = s.command("USER " + user); // anonymous may need no password
    if (!greeting.startsWith("230")
        && !(greeting.startsWith("331") && s.command("PASS " + password).startsWith("230")))
        return -1;
    if (!s.command("TYPE I").startsWith("200"))
        return -1;
    const int dataPort = s.pasv();
    if (dataPort <= 0)
        return -1;
    QElapsedTimer timer;
    timer.start();
    const int data = connectTo(dataPort);
    if (data < 0 || !s.command(upload ? "STOR up/big.bin" : "RETR big.bin").startsWith("150"))
        return -1;
    std::vector<char> buffer(1 << 20, 'q');
    qint64 moved = 0;
    if (upload) {
        while (moved < bytes) {
            const ssize_t n = ::send(data, buffer.data(),
                size_t(std::min<qint64>(bytes - moved, qint64(buffer.size()))), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            moved += n;
        }
        ::close(data);
    } else {
        ssize_t n;
        while ((n = ::recv(data, buffer.data(), buffer.size(), 0)) > 0)
            moved += n;
        ::close(data);
    }
    const bool ok = s.reply().startsWith("226");
    const double seconds = timer.nsecsElapsed() / 1e9;
    s.command("QUIT");
    return ok && moved == bytes ? seconds : -1;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

// Our server in a process of its own, as vsftpd is: prints its port and
// serves until standard input ends.
int serve(const QString &root)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    CFtpServer server;
    server.setListenAddress("127.0.0.1");
    if (server.start("bench", 0, qPrintable(root)) != 1)
        return 1;
    std::printf("%d\n", server.listenPort());
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) { }
    server.stop();
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--serve")
        return serve(QString::fromLocal8Bit(argv[2]));
    int runs = 3;
    qint64 mib = 1024;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--runs")
            runs = args[i + 1].toInt();
        else if (args[i] == "--mib")
            mib = args[i + 1].toLongLong();
    }
    const qint64 bytes = mib << 20;
    QTextStream out(stdout);
    const passwd *ftpUser = ::getpwnam("ftp");
    if (::geteuid() != 0 || !ftpUser || !QFile::exists("/usr/sbin/vsftpd")) {
        out << "needs root, the user \"ftp\" and /usr/sbin/vsftpd (scripts/setup installs it)\n";
        return 2;
    }

    QTemporaryDir tmp;
    const QString root = tmp.path() + "/root";
    QDir().mkpath(root + "/up");
    QDir().mkpath(tmp.path() + "/empty");
    ::chmod(tmp.path().toLocal8Bit().constData(), 0755);
    ::chmod(root.toLocal8Bit().constData(), 0755);
    ::chown((root + "/up").toLocal8Bit().constData(), ftpUser->pw_uid, ftpUser->pw_gid);
    {
        QFile big(root + "/big.bin");
        big.open(QIODevice::WriteOnly);
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        for (int i = 0; i < chunk.size(); ++i)
            chunk[i] = char(i * 7 + i / 4096);
        for (qint64 i = 0; i < mib; ++i)
            big.write(chunk);
        ::chmod((root + "/big.bin").toLocal8Bit().constData(), 0644);
    }

    // vsftpd: anonymous uploads into "up", on loopback, in the foreground.
    const int vsftpdPort = freePort();
    QFile conf(tmp.path() + "/vsftpd.conf");
    conf.open(QIODevice::WriteOnly);
    conf.write(
        QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                       "background=NO\nanonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\n"
                       "anon_root=%2\nwrite_enable=YES\nanon_upload_enable=YES\nanon_umask=022\n"
                       "pasv_enable=YES\npasv_min_port=40100\npasv_max_port=40199\n"
                       "secure_chroot_dir=%3/empty\nxferlog_enable=NO\nseccomp_sandbox=NO\n"
                       "isolate=NO\nisolate_network=NO\nallow_writeable_chroot=YES\nuse_sendfile=YES\n")
            .arg(vsftpdPort)
            .arg(root, tmp.path())
            .toLocal8Bit());
    conf.close();
    QProcess vsftpd;
    vsftpd.setProcessChannelMode(QProcess::ForwardedChannels);
    vsftpd.start("/usr/sbin/vsftpd", { conf.fileName() });
    if (!vsftpd.waitForStarted(5000)) {
        out << "vsftpd did not start\n";
        return 1;
    }

    QProcess ours;
    ours.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ours.start(app.applicationFilePath(), { "--serve", root });
    const bool started = ours.waitForReadyRead(10000);
    const int oursPort = ours.readLine().trimmed().toInt();
    if (!started || oursPort <= 0) {
        out << "our server did not start\n";
        return 1;
    }

    struct Row
    {
        const char *name;
        bool upload;
        std::vector<double> ours, theirs;
    };
    Row rows[] = { { "RETR", false, {}, {} }, { "STOR", true, {}, {} } };
    for (int run = 0; run < runs; ++run) {
        for (Row &row : rows) {
            // vsftpd may not be listening yet on the first try; who goes
            // first alternates, so that neither inherits the other's writeback.
            double theirs = -1, mine = -1;
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn + run) % 2 == 0) {
                    for (int attempt = 0; attempt < 50 && theirs < 0; ++attempt) {
                        theirs = transfer(vsftpdPort, "anonymous", "", row.upload, bytes);
                        if (theirs < 0)
                            ::usleep(100000);
                    }
                } else {
                    mine = transfer(oursPort, "vexqa", "vexqa", row.upload, bytes);
                }
                QFile::remove(root + "/up/big.bin");
            }
            if (mine < 0 || theirs < 0) {
                out << row.name << ": transfer failed (ours " << mine << " s, vsftpd " << theirs << " s)\n";
                return 1;
            }
            row.ours.push_back(bytes / mine / 1e6);
            row.theirs.push_back(bytes / theirs / 1e6);
        }
    }
    ours.closeWriteChannel();
    ours.waitForFinished(10000);
    vsftpd.terminate();
    vsftpd.waitForFinished(5000);

    out << QString("%1 MiB over loopback, %2 runs (MB/s: min / median)\n").arg(mib).arg(runs);
    for (const Row &row : rows) {
        std::vector<double> ratios;
        for (size_t i = 0; i < row.ours.size(); ++i)
            ratios.push_back(row.ours[i] / row.theirs[i]);
        out << QString("%1  ours %2 / %3   vsftpd %4 / %5   ratio ours/vsftpd %6 / %7\n")
                   .arg(row.name)
                   .arg(*std::min_element(row.ours.begin(), row.ours.end()), 0, 'f', 0)
                   .arg(median(row.ours), 0, 'f', 0)
                   .arg(*std::min_element(row.theirs.begin(), row.theirs.end()), 0, 'f', 0)
                   .arg(median(row.theirs), 0, 'f', 0)
                   .arg(*std::min_element(ratios.begin(), ratios.end()), 0, 'f', 2)
                   .arg(median(ratios), 0, 'f', 2);
    }
    return 0;
}
