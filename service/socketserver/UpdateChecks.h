#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class WorkLane;

// The update checks behind the pages' "common.js", one per style at a time
// on the check lane: a page that asks while its style's check runs waits for
// that check and is served with its outcome, so a package is fetched once
// however many pages load at once. The checks only wait; their replies go
// back to the server's loop through `Deliver`.
class UpdateChecks
{
public:
    // Pages waiting for one check, at most; more are served without it.
    static constexpr int kMaxWaiters = 64;

    // Sends the reply for a socket the checks took: the head, and the file's
    // `size` bytes when a file is given. Any thread.
    using Deliver
        = std::function<void(int socket, QByteArray head, std::unique_ptr<QFile> file, qint64 size)>;

    UpdateChecks(WorkLane &lane, const QString &webRoot, const QString &appDir, Deliver deliver);

    // Takes `socket` (asking for `fileName` of the style's folder) when a
    // check of `style` runs or one can start now; false when neither, and
    // the caller serves the file itself at once.
    bool ask(const QString &style, const QString &fileName, int socket);

private:
    struct Waiter
    {
        int socket;
        QString fileName;
    };
    void runCheck(const QString &style);
    // The check of `style` is over: its waiters, no longer findable.
    std::vector<Waiter> takeWaiters(const QString &style);

    WorkLane &m_lane;
    const QString m_webRoot;
    const QString m_appDir;
    const Deliver m_deliver;
    std::mutex m_mutex; // guards m_running
    std::map<QString, std::vector<Waiter>> m_running;
};
