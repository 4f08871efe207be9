#include "WriteLogThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

bool processRunning(qint64 pid)
{
    if (pid <= 0 || pid > 0x7fffffff)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

WriteLogThread::WriteLogThread(const QString &logFolder)
    : m_strLogPath(logFolder)
    , m_bEcho(qEnvironmentVariableIntValue(kEchoVariable) == 1)
{
    qDebug().noquote() << "m_strLogPath" << m_strLogPath;
    QDir().mkpath(m_strLogPath);
    prune(m_strLogPath, kKeepAtStart);

    m_batchTimer = new QTimer(this);
    m_batchTimer->setSingleShot(true);
    m_batchTimer->setInterval(kBatchMs);
    connect(m_batchTimer, &QTimer::timeout, this, &WriteLogThread::drain);

    m_thread = new QThread(this);
    moveToThread(m_thread);
}

void WriteLogThread::start()
{
    if (!m_thread->isRunning() && !m_thread->isFinished())
        m_thread->start(QThread::InheritPriority);
}

bool WriteLogThread::isStarted() const
{
    return m_thread->isRunning() || m_thread->isFinished();
}

WriteLogThread::~WriteLogThread()
{
    stop();
}

void WriteLogThread::stop()
{
    if (!m_thread->isRunning()) {
        if (!m_thread->isFinished())
            closeFile(); // never started: every line was written directly
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_batchTimer->stop();
            drain();
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    // The thread has ended. Lines it did not get to (at the end of a program
    // the event above can be dropped unrun) are written from here.
    writePending();
    closeFile();
}

bool WriteLogThread::isLogFileName(const QString &fileName, qint64 *pid)
{
    static const QRegularExpression pattern(QStringLiteral("^log_(\\d{1,10})_\\d{14}(_\\d+)?\\.log$"));
    const QRegularExpressionMatch m = pattern.match(fileName);
    if (!m.hasMatch())
        return false;
    if (pid)
        *pid = m.captured(1).toLongLong();
    return true;
}

void WriteLogThread::prune(const QString &folder, int keep)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Time);
    QFileInfoList logs;
    for (const QFileInfo &fi : files) {
        if (isLogFileName(fi.fileName()))
            logs.append(fi);
    }
    // Newest first; delete from the oldest end.
    const qint64 ownPid = QCoreApplication::applicationPid();
    int remaining = logs.size();
    for (int i = logs.size() - 1; i >= 0 && remaining > keep; --i) {
        qint64 pid = 0;
        isLogFileName(logs[i].fileName(), &pid);
        if (pid != ownPid && processRunning(pid))
            continue; // another player is still writing it
        if (QFile::remove(logs[i].absoluteFilePath()))
            --remaining;
    }
}

void WriteLogThread::openNewFile()
{
    const QString base = QStringLiteral("%1/log_%2_%3")
                             .arg(m_strLogPath)
                             .arg(QCoreApplication::applicationPid())
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")));
    // Never reopen an existing name: a second file within the same second gets "_1", "_2", ...
    for (int n = 0; n < 1000; ++n) {
        const QString name
            = n == 0 ? base + QStringLiteral(".log") : QStringLiteral("%1_%2.log").arg(base).arg(n);
        m_file.setFileName(name);
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            // Requests and device answers are nobody else's business.
            m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            return;
        }
        if (!QFileInfo::exists(name))
            return; // cannot create files here at all
    }
}

void WriteLogThread::closeFile()
{
    if (m_file.isOpen()) {
        m_file.flush();
        m_file.close();
    }
}

void WriteLogThread::post(const QString &line)
{
    Pending pending;
    pending.record.line = line;
    enqueue(std::move(pending));
}

void WriteLogThread::post(Record record, Formatter format)
{
    Pending pending;
    pending.record = std::move(record);
    pending.format = format;
    enqueue(std::move(pending));
}

void WriteLogThread::enqueue(Pending pending)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pending.push_back(std::move(pending));
        wake = !m_drainScheduled;
        m_drainScheduled = true;
    }
    if (wake)
        QMetaObject::invokeMethod(this, &WriteLogThread::drain, Qt::QueuedConnection);
}

void WriteLogThread::drain()
{
    if (writePending())
        m_batchTimer->start();
}

bool WriteLogThread::writePending()
{
    std::vector<Pending> batch;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        batch.swap(m_pending);
        // Quiet since the last look: the next line wakes the thread again.
        if (batch.empty())
            m_drainScheduled = false;
    }
    if (batch.empty())
        return false;
    QStringList lines;
    lines.reserve(int(batch.size()));
    for (const Pending &p : batch)
        lines.append(p.format ? p.format(p.record) : p.record.line);
    writeLines(lines);
    return true;
}

void WriteLogThread::writeLog(QString strLog)
{
    writeLines(QStringList { strLog });
}

void WriteLogThread::writeLines(const QStringList &lines)
{
    QByteArray chunk;
    QByteArray echo;
    // The file's size is read once; the batch's own lines are counted.
    qint64 fileSize = m_file.isOpen() ? m_file.size() : 0;
    auto flushChunk = [&] {
        if (m_file.isOpen() && !chunk.isEmpty()) {
            m_file.write(chunk);
            m_file.flush();
        }
        chunk.clear();
    };
    for (const QString &line : lines) {
        if (m_file.isOpen() && fileSize + chunk.size() > kRotateSize) {
            flushChunk();
            closeFile();
            prune(m_strLogPath, kKeepAtRotation);
            openNewFile();
            fileSize = 0;
        } else if (!m_file.isOpen()) {
            chunk.clear();
            openNewFile();
            fileSize = 0;
        }
        if (m_file.isOpen())
            chunk += line.toLocal8Bit();
        // The debug output of a Linux program is its standard error, which the
        // service passes on to its own: only when asked. Written directly: a
        // message handler (Qt Test's, for one) may be going away while the
        // last lines of a batch are written.
        if (m_bEcho) {
            echo += line.trimmed().toLocal8Bit();
            echo += '\n';
        }
    }
    flushChunk();
    if (m_bEcho)
        std::fwrite(echo.constData(), 1, size_t(echo.size()), stderr);
}
