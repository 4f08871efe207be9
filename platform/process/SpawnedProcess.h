#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;

// A child process started without copying the parent: the child shares the
// parent's memory until it runs the program (posix_spawn), so a start costs
// the parent no page-table copy and no copy-on-write faults afterwards. That
// matters when a large process starts many children at once. The child's
// standard input and output are /dev/null, its standard error the parent's;
// it gets the parent's environment and the default SIGPIPE action.
//
// The child is watched through a process file descriptor: its exit is seen
// from the event loop, and signals go to this child even after its id was
// reused. The owning thread only.
class SpawnedProcess : public QObject
{
    Q_OBJECT

public:
    explicit SpawnedProcess(QObject *parent = nullptr);
    // Kills a child still running and reaps it.
    ~SpawnedProcess() override;

    // Starts `program` in `workingDirectory`. False, with the reason in
    // errorString(), when the program cannot be run (known before this
    // returns); a process starts once.
    bool start(const QString &program, const QStringList &arguments, const QString &workingDirectory);

    qint64 processId() const { return m_pid; }
    bool isRunning() const { return m_pidFd >= 0; }
    QString errorString() const { return m_error; }

    // Sends SIGKILL to a running child.
    void kill();
    // Kills a running child and waits up to `msecs` for it to be reaped.
    // True when it is no longer running afterwards.
    bool terminate(int msecs = 5000);
    // Waits up to `msecs` for the child to end (finished is emitted first).
    // True when it is no longer running.
    bool waitForFinished(int msecs);

signals:
    // The child ended: its exit code, or the signal that ended it when `crashed`.
    void finished(int exitCode, bool crashed);

private:
    // Reaps the child if it has ended; emits finished then.
    bool reap();

    bool m_started = false;
    qint64 m_pid = 0;
    int m_pidFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QString m_error;
};
