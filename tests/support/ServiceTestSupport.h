#pragma once

// Helpers of the service tests: the player double, the page client driver,
// a QuorvelTool copy in a folder of its own, openssl, process checks.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/stat.h>

namespace ServiceTest {

inline QString sourceDir()
{
    return qEnvironmentVariable("QV_SOURCE_DIR");
}

inline QString binaryDir()
{
    return qEnvironmentVariable("QV_BINARY_DIR");
}

inline QString testFile(const QString &name)
{
    return sourceDir() + QStringLiteral("/tests/service/") + name;
}

inline QString doubleScript()
{
    return testFile(QStringLiteral("player_double.py"));
}

inline QString realPlayer()
{
    return binaryDir() + QStringLiteral("/bin/x64/Tevora_x64");
}

inline bool copyExecutable(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return false;
    return QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Places `program` where the service looks for its players in `appDir`, with
// the device and play libraries beside Tevora_x86 as the install layout has them.
inline bool installPlayer(const QString &appDir, const QString &program)
{
    QDir().mkpath(appDir + QStringLiteral("/x64"));
    if (!copyExecutable(program, appDir + QStringLiteral("/Tevora_x86"))
        || !copyExecutable(program, appDir + QStringLiteral("/x64/Tevora_x64")))
        return false;
    for (const char *name : { "libkestrix.so", "liblumarel.so" }) {
        const QString library = binaryDir() + QStringLiteral("/bin/") + QLatin1String(name);
        const QString target = appDir + QLatin1Char('/') + QLatin1String(name);
        QFile::remove(target);
        if (QFile::exists(library) && !QFile::copy(library, target))
            return false;
    }
    return true;
}

// Every line of the player's log files in `appDir`, oldest file first.
inline QString playerLogText(const QString &appDir)
{
    QString all;
    const QDir dir(appDir + QStringLiteral("/x64/log"));
    for (const QString &name : dir.entryList({ QStringLiteral("*.log") }, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            all += QString::fromUtf8(f.readAll());
    }
    return all;
}

inline QJsonObject readJsonFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

inline QJsonObject parseObject(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// Event files of the player double with this suffix ("start", "quit", ...).
inline QStringList eventFiles(const QString &dir, const QString &suffix)
{
    QStringList out;
    const QStringList names = QDir(dir).entryList({ QStringLiteral("*.") + suffix }, QDir::Files, QDir::Name);
    for (const QString &name : names)
        out.append(dir + QLatin1Char('/') + name);
    return out;
}

inline qint64 pidOfEventFile(const QString &path)
{
    return QFileInfo(path).completeBaseName().toLongLong();
}

// True while the process exists and is not a zombie.
inline bool processAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && close + 2 < text.size() && text.at(close + 2) != 'Z';
}

// How many living children the process has: a service's players, counted
// from the moment they are started, whatever they have done yet.
inline int livingChildren(qint64 pid)
{
    int living = 0;
    const QString taskDir = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(taskDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(taskDir + QLatin1Char('/') + task + QStringLiteral("/children"));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : children.readAll().split(' ')) {
            if (!child.trimmed().isEmpty() && processAlive(child.trimmed().toLongLong()))
                ++living;
        }
    }
    return living;
}

// Processes whose command line mentions `needle`.
inline QList<qint64> processesMentioning(const QString &needle)
{
    QList<qint64> out;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmd.open(QIODevice::ReadOnly) && cmd.readAll().contains(needle.toUtf8()) && processAlive(pid))
            out.append(pid);
    }
    return out;
}

// Runs openssl with `args`, feeding `input`; empty on failure.
inline QByteArray openssl(const QStringList &args, const QByteArray &input, bool *ok)
{
    QProcess p;
    p.start(QStringLiteral("openssl"), args);
    p.write(input);
    p.closeWriteChannel();
    *ok = p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return p.readAllStandardOutput();
}

inline QByteArray opensslDecrypt(const QByteArray &base64, const QByteArray &key, bool *ok)
{
    return openssl({ QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-128-cbc"),
                       QStringLiteral("-K"), QString::fromLatin1(key.left(16).toHex()), QStringLiteral("-iv"),
                       QStringLiteral("00000000000000000000000000000000"), QStringLiteral("-nopad"),
                       QStringLiteral("-base64"), QStringLiteral("-A") },
        base64, ok);
}

inline QByteArray opensslEncrypt(QByteArray plain, const QByteArray &key, bool *ok)
{
    // -nopad wants whole blocks: zero padding, as the pages do it.
    while (plain.size() % 16 != 0)
        plain.append('\0');
    return openssl({ QStringLiteral("enc"), QStringLiteral("-aes-128-cbc"), QStringLiteral("-K"),
                       QString::fromLatin1(key.left(16).toHex()), QStringLiteral("-iv"),
                       QStringLiteral("00000000000000000000000000000000"), QStringLiteral("-nopad"),
                       QStringLiteral("-base64"), QStringLiteral("-A") },
        plain, ok)
        .trimmed();
}

inline QByteArray stripZeros(QByteArray bytes)
{
    const int nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

// A page on Python's websockets library, driven line by line.
class PageClient
{
public:
    explicit PageClient(const QString &url)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(
            QStringLiteral("/usr/bin/python3"), { testFile(QStringLiteral("page_client.py")), url });
    }
    ~PageClient()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    // The next line the client prints, as an object; empty after a time-out.
    QJsonObject next(int timeoutMs = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine()) {
            if (t.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
                return QJsonObject();
            m_process.waitForReadyRead(100);
        }
        return QJsonDocument::fromJson(m_process.readLine()).object();
    }
    bool opened() { return next().value(QStringLiteral("event")).toString() == QLatin1String("open"); }

    bool send(const QString &text)
    {
        command({ { QStringLiteral("op"), QStringLiteral("send") }, { QStringLiteral("text"), text } });
        return next().value(QStringLiteral("event")).toString() == QLatin1String("sent");
    }
    // The next message text; a null string on time-out or close.
    QString receive(double timeoutS = 10)
    {
        command(
            { { QStringLiteral("op"), QStringLiteral("recv") }, { QStringLiteral("timeout"), timeoutS } });
        const QJsonObject answer = next(int(timeoutS * 1000) + 10000);
        if (answer.value(QStringLiteral("event")).toString() != QLatin1String("message"))
            return QString();
        return answer.value(QStringLiteral("text")).toString();
    }
    // The next event: {"event":"message","text":T}, {"event":"closed","code":C}
    // or {"event":"timeout"}.
    QJsonObject receiveEvent(double timeoutS = 10)
    {
        command(
            { { QStringLiteral("op"), QStringLiteral("recv") }, { QStringLiteral("timeout"), timeoutS } });
        return next(int(timeoutS * 1000) + 10000);
    }
    bool close()
    {
        command({ { QStringLiteral("op"), QStringLiteral("close") } });
        return next().value(QStringLiteral("event")).toString() == QLatin1String("closed");
    }
    // Sends `count` requests of `size` bytes; how many went before the page
    // was closed, -1 on a time-out.
    int flood(int count, int size, int timeoutMs = 60000)
    {
        command({ { QStringLiteral("op"), QStringLiteral("flood") }, { QStringLiteral("count"), count },
            { QStringLiteral("size"), size } });
        return next(timeoutMs).value(QStringLiteral("count")).toInt(-1);
    }
    int sessions(int count, int timeoutMs)
    {
        command({ { QStringLiteral("op"), QStringLiteral("sessions") }, { QStringLiteral("count"), count } });
        return next(timeoutMs).value(QStringLiteral("ok")).toInt(-1);
    }

private:
    void command(const QJsonObject &cmd)
    {
        m_process.write(QJsonDocument(cmd).toJson(QJsonDocument::Compact) + '\n');
        m_process.waitForBytesWritten(5000);
    }

    QProcess m_process;
};

// A copy of QuorvelTool in a folder of its own, with a player (the double or
// the real one), a private runtime folder and a folder for the double's events.
class ServiceCopy
{
public:
    bool prepare(const QString &player = doubleScript())
    {
        if (!m_root.isValid())
            return false;
        appDir = m_root.path() + QStringLiteral("/Service");
        runtimeDir = m_root.path() + QStringLiteral("/run");
        eventDir = m_root.path() + QStringLiteral("/events");
        QDir().mkpath(appDir);
        QDir().mkpath(runtimeDir);
        QDir().mkpath(eventDir);
        ::chmod(QFile::encodeName(runtimeDir).constData(), 0700);
        return copyExecutable(binaryDir() + QStringLiteral("/bin/QuorvelTool"), program())
            && installPlayer(appDir, player);
    }

    QString program() const { return appDir + QStringLiteral("/QuorvelTool"); }

    // The process ids of the player doubles started so far, and how many run.
    QList<qint64> startedPlayers() const
    {
        QList<qint64> out;
        for (const QString &file : eventFiles(eventDir, QStringLiteral("start")))
            out.append(pidOfEventFile(file));
        return out;
    }
    int playersRunning() const
    {
        int running = 0;
        for (const qint64 pid : startedPlayers())
            running += processAlive(pid) ? 1 : 0;
        return running;
    }

    QProcessEnvironment environment(const QString &mode = QStringLiteral("echo")) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.insert(QStringLiteral("QV_DOUBLE_LOG"), eventDir);
        env.insert(QStringLiteral("QV_DOUBLE_MODE"), mode);
        for (auto it = extraEnv.constBegin(); it != extraEnv.constEnd(); ++it)
            env.insert(it.key(), it.value());
        return env;
    }

    // Starts a copy; *port is the WebSocket port it reports, 0 when it did not
    // report one before it ended.
    std::unique_ptr<QProcess> start(int *port, const QString &mode = QStringLiteral("echo"))
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment(mode));
        process->start(program(), QStringList());
        *port = 0;
        static const QRegularExpression listening(QStringLiteral("ws://127\\.0\\.0\\.1:(\\d+)"));
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (t.elapsed() < 30000) {
            if (process->canReadLine()) {
                const QByteArray line = process->readLine();
                out += line;
                const auto match = listening.match(QString::fromUtf8(line));
                if (match.hasMatch()) {
                    *port = match.captured(1).toInt();
                    break;
                }
                continue;
            }
            if (process->state() == QProcess::NotRunning)
                break;
            process->waitForReadyRead(100);
        }
        if (*port == 0)
            qWarning("service did not report a port; state %d, exit code %d, output: %s%s",
                int(process->state()), process->exitCode(), out.constData(),
                process->readAllStandardOutput().constData());
        return process;
    }

    QString appDir;
    QString runtimeDir;
    QString eventDir;
    // Variables added to the service's environment (its players inherit them).
    QMap<QString, QString> extraEnv;

private:
    QTemporaryDir m_root;
};

// Ends a service started by ServiceCopy::start: asks it to stop, kills it
// when it does not, and lets the process object go.
inline void stopService(std::unique_ptr<QProcess> &service)
{
    if (service && service->state() != QProcess::NotRunning) {
        service->terminate();
        if (!service->waitForFinished(10000))
            service->kill();
        service->waitForFinished(5000);
    }
    service.reset();
}

// True when the page's request of an unbuilt MainType comes back answered.
inline bool answers(PageClient &page, int msgId)
{
    if (!page.send(QStringLiteral("{\"MainType\":9999,\"SubType\":0,\"MsgID\":%1}").arg(msgId)))
        return false;
    return parseObject(page.receive(60)).value(QStringLiteral("MsgID")).toInt() == msgId;
}

inline QString wsUrl(int port)
{
    return QStringLiteral("ws://127.0.0.1:%1").arg(port);
}

} // namespace ServiceTest
