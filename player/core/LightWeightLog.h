#pragma once

#include <QObject>
#include <QString>
#include <mutex>

#include <atomic>

class WriteLogThread;

// The player's log. Any thread may log: the line is written by WriteLogThread
// on a thread of its own, so callers never wait for the disk; it is formatted
// there too, unless someone watches writeLogSig (then on the caller's thread). Switched off by
// "Enable/PrintLogEn" in ClientCfg.ini.
class LightWeightLog : public QObject
{
    Q_OBJECT

public:
    enum Level { Normal = 0, Warning = 1, Error = 2 };

    // The process-wide log, created on first use from the program's folder.
    static LightWeightLog *instance();
    // Writes every line still queued, closes the file and stops the writer's
    // thread; called once at orderly exit. Lines logged afterwards are dropped.
    static void shutdown();

    // A log of its own for `programFolder` (its ClientCfg.ini and "log" folder).
    explicit LightWeightLog(const QString &programFolder, QObject *parent = nullptr);
    ~LightWeightLog() override;

    // `function` is the caller's "Class::Method" text.
    int PrintLog(const QString &function, const QString &message, int level);

    bool isEnabled() const { return m_bEnable; }
    WriteLogThread *writer() const { return m_writer; }
    void stop();

    // The formatted line of one log call, without the time and thread parts
    // filled from the clock (exposed for tests of the format).
    static QString formatLine(
        const QString &function, const QString &message, int level, quintptr threadId, const QString &time);

signals:
    // Every line handed to the writer, for whoever watches the log.
    void writeLogSig(QString strLog);

private:
    // Starts the writer's thread once the application object exists; false
    // before, when lines are written on the caller's thread.
    bool startWriter();
    void deliver(const QString &line);

    std::atomic<bool> m_bEnable { true };
    WriteLogThread *m_writer = nullptr;
    std::atomic<bool> m_bWriterStarted { false };
    std::mutex m_startMutex;
};

// The one log call of the player: one line from `function` (its "Class::Method"
// text) at `level`, through the process-wide log.
void playerLog(const char *function, const QString &text, int level = LightWeightLog::Normal);
