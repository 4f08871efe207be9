#include "PollBeforeSleep.h"

#include <QAbstractEventDispatcher>
#include <QThread>
#include <QThreadStorage>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <time.h>

namespace {

// Owned by the thread storage, deleted when the thread ends.
QThreadStorage<PollBeforeSleep *> g_perThread;

long long nowNs()
{
    timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

} // namespace

PollBeforeSleep *PollBeforeSleep::forCurrentThread(int budgetUs)
{
    if (g_perThread.hasLocalData())
        return g_perThread.localData();
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return nullptr;
    auto *self = new PollBeforeSleep(budgetUs);
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, self, &PollBeforeSleep::beforeSleep,
        Qt::DirectConnection);
    g_perThread.setLocalData(self);
    return self;
}

PollBeforeSleep *PollBeforeSleep::currentThread()
{
    return g_perThread.hasLocalData() ? g_perThread.localData() : nullptr;
}

PollBeforeSleep::PollBeforeSleep(int budgetUs)
    : m_budgetUs(std::max(0, budgetUs))
{ }

void PollBeforeSleep::watch(int fd)
{
    // Once per call: a descriptor number closed and taken again by a new
    // connection before its old owner unwatched it stays watched for the new one.
    if (fd >= 0)
        m_fds.push_back(fd);
}

void PollBeforeSleep::unwatch(int fd)
{
    const auto it = std::find(m_fds.begin(), m_fds.end(), fd);
    if (it != m_fds.end())
        m_fds.erase(it);
}

void PollBeforeSleep::beforeSleep()
{
    if (!m_sent || m_fds.empty() || m_budgetUs == 0)
        return;
    m_sent = false;
    std::vector<pollfd> fds;
    fds.reserve(m_fds.size());
    for (int fd : m_fds)
        fds.push_back({ fd, POLLIN, 0 });
    const long long end = nowNs() + (long long)m_budgetUs * 1000;
    do {
        const int n = ::poll(fds.data(), nfds_t(fds.size()), 0);
        if (n < 0 && errno != EINTR)
            return;
        if (n <= 0)
            continue;
        bool stale = false;
        for (const pollfd &p : fds) {
            if (p.revents & POLLNVAL)
                stale = true;
            else if (p.revents)
                return; // readable or ended: the event loop sees to it
        }
        if (stale) {
            // A descriptor closed without being unwatched is dropped.
            for (const pollfd &p : fds) {
                if (p.revents & POLLNVAL)
                    m_fds.erase(std::remove(m_fds.begin(), m_fds.end(), p.fd), m_fds.end());
            }
            fds.erase(
                std::remove_if(fds.begin(), fds.end(), [](const pollfd &p) { return p.revents & POLLNVAL; }),
                fds.end());
            if (fds.empty())
                return;
        }
    } while (nowNs() < end);
}
