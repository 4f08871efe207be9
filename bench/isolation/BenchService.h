#pragma once

// QuorvelTool in a folder of its own with the player double, for the
// isolation benchmarks.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <sys/stat.h>

// A field of /proc/PID/status in KiB (VmHWM: peak resident, VmRSS: now).
inline qint64 statusKiB(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

inline bool copyExecutable(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to)
        && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The WebSocket port a starting QuorvelTool prints, read from its output
// for at most 30 s; 0 when it ends or prints none.
inline int listeningPort(QProcess &service)
{
    QElapsedTimer t;
    t.start();
    static const QRegularExpression listening("ws://127\\.0\\.0\\.1:(\\d+)");
    while (t.elapsed() < 30000) {
        if (service.canReadLine()) {
            const auto m = listening.match(QString::fromUtf8(service.readLine()));
            if (m.hasMatch())
                return m.captured(1).toInt();
            continue;
        }
        if (service.state() == QProcess::NotRunning)
            return 0;
        service.waitForReadyRead(100);
    }
    return 0;
}

// QuorvelTool in a folder of its own with the player double.
class BenchService
{
public:
    // `silentSession`: the session whose player never connects (0: none);
    // `beforeStart` may put more files into the service's folder.
    bool start(const QString &binDir, const QString &sourceDir, int silentSession = 0,
        const std::function<bool(const QString &appDir)> &beforeStart = {})
    {
        const QString appDir = m_root.path() + "/Service";
        const QString runtimeDir = m_root.path() + "/run";
        QDir().mkpath(appDir + "/x64");
        QDir().mkpath(runtimeDir);
        ::chmod(QFile::encodeName(runtimeDir).constData(), 0700);
        const QString player = sourceDir + "/tests/service/player_double.py";
        if (!copyExecutable(binDir + "/QuorvelTool", appDir + "/QuorvelTool")
            || !copyExecutable(player, appDir + "/Tevora_x86")
            || !copyExecutable(player, appDir + "/x64/Tevora_x64") || (beforeStart && !beforeStart(appDir)))
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        env.insert("QV_DOUBLE_SILENT_SESSIONS", QString::number(silentSession));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(appDir + "/QuorvelTool", QStringList());
        port = listeningPort(m_process);
        return port > 0;
    }
    ~BenchService()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    qint64 pid() const { return m_process.processId(); }
    // Sends `signal` and waits at most `timeoutMs` for the end: the seconds
    // it took, or -1 when the service still runs.
    double signalAndWait(int signal, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        if (::kill(pid_t(pid()), signal) != 0 || !m_process.waitForFinished(timeoutMs))
            return -1;
        return double(t.nsecsElapsed()) / 1e9;
    }
    QString appDir() const { return m_root.path() + "/Service"; }
    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 peakMiB() const { return statusKiB(pid(), "VmHWM:") / 1024; }
    qint64 nowMiB() const { return statusKiB(pid(), "VmRSS:") / 1024; }

    int port = 0;

private:
    QTemporaryDir m_root;
    QProcess m_process;
};
