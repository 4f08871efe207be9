#pragma once

#include <QString>

// Makes sure that only one copy of a program runs for a user. The guard is an
// advisory lock (flock) on a lock file in the user's runtime folder; the kernel
// drops the lock when the process ends, also after a crash, so a killed copy
// never blocks a later start. Copies under different names do not meet.
class InstanceGuard
{
public:
    // The lock file is <runtime folder>/<name>.lock.
    explicit InstanceGuard(const QString &name);
    ~InstanceGuard();

    InstanceGuard(const InstanceGuard &) = delete;
    InstanceGuard &operator=(const InstanceGuard &) = delete;

    // True when this process now holds the guard; false when another process
    // holds it or the lock file cannot be opened.
    bool tryAcquire();
    bool isHeld() const { return m_fd >= 0; }
    void release();

    QString lockFilePath() const { return m_path; }
    // Text of the last failure, empty when the guard is simply taken.
    QString errorText() const { return m_error; }

private:
    QString m_path;
    QString m_error;
    int m_fd = -1;
};
