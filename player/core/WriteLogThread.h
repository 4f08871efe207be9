#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <mutex>
#include <vector>

class QThread;
class QTimer;

// Writes the player's log lines into "log_<pid>_<yyyyMMddhhmmss>.log" files of
// one folder, on a thread of its own, owner-only; the lines go to standard
// error as well only when kEchoVariable asks for it. A file is replaced once it holds more
// than 512 KiB; the folder keeps the 4 newest files at start and the 10 newest
// at each rotation. Only files named like our logs are pruned, and never one
// that belongs to another player process that is still running.
//
// Lines handed over with post() are written in batches: the first line after
// a quiet spell wakes the thread; while lines keep coming, the thread looks
// again every kBatchMs by itself, so that a busy player does not wake it (a
// cross-thread wake-up on the path of every request) for each line. A batch
// goes to the file in one write and to the debug output in another. A line
// may be posted unformatted, as a Record: the writer then formats it, off the
// caller's path.
class WriteLogThread : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kRotateSize = 0x80000;
    static constexpr int kKeepAtStart = 4;
    static constexpr int kKeepAtRotation = 10;
    static constexpr int kBatchMs = 10;
    // Set to 1, this variable has every line echoed to standard error too.
    static constexpr const char *kEchoVariable = "TEVORA_LOG_STDERR";

    explicit WriteLogThread(const QString &logFolder);
    ~WriteLogThread() override;

    QString logFolder() const { return m_strLogPath; }
    // Starts the writer's thread. Until then, the owner calls writeLog
    // directly (before the application object exists, only one thread runs).
    void start();
    bool isStarted() const;
    // Writes what is queued, closes the file and ends the thread.
    void stop();
    // One log call, formatted by `format` on the writer's thread unless
    // `line` already holds the formatted text.
    struct Record
    {
        QString line;
        QString function;
        QString message;
        int level = 0;
        quintptr threadId = 0;
        qint64 msecs = 0;
    };
    using Formatter = QString (*)(const Record &record);

    // Queues one line for the writer's thread; any thread.
    void post(const QString &line);
    void post(Record record, Formatter format);

    // Deletes the oldest log files of `folder` until at most `keep` remain.
    static void prune(const QString &folder, int keep);
    // True when `fileName` is named like one of our log files; gives its pid.
    static bool isLogFileName(const QString &fileName, qint64 *pid = nullptr);

public slots:
    void writeLog(QString strLog);

private:
    struct Pending
    {
        Record record;
        Formatter format = nullptr;
    };

    void openNewFile();
    void closeFile();
    // Writes the queued lines (the writer's thread).
    void drain();
    // Writes the lines waiting; false when there were none.
    bool writePending();
    // Appends lines to the file, rotating it on the way, and echoes them to
    // the debug output; one write each for a batch that needs no rotation.
    void writeLines(const QStringList &lines);
    void enqueue(Pending pending);

    std::mutex m_pendingMutex;
    std::vector<Pending> m_pending;
    bool m_drainScheduled = false; // a drain call or the batch timer is due
    QTimer *m_batchTimer = nullptr;

    QString m_strLogPath;
    QFile m_file;
    QThread *m_thread = nullptr;
    bool m_bEcho = false;
};
