#include "UpdateChecks.h"

#include "HttpReply.h"
#include "RequestTasks.h"
#include "WorkLane.h"
#include "common/Protocol.h"

UpdateChecks::UpdateChecks(WorkLane &lane, const QString &webRoot, const QString &appDir, Deliver deliver)
    : m_lane(lane)
    , m_webRoot(webRoot)
    , m_appDir(appDir)
    , m_deliver(std::move(deliver))
{ }

bool UpdateChecks::ask(const QString &style, const QString &fileName, int socket)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto running = m_running.find(style);
    if (running != m_running.end()) {
        if (int(running->second.size()) >= kMaxWaiters)
            return false;
        running->second.push_back(Waiter { socket, fileName });
        return true;
    }
    // The check is findable before it can end: it takes its waiters under
    // this lock.
    m_running[style].push_back(Waiter { socket, fileName });
    const bool started = m_lane.tryRun([this, style] { runCheck(style); },
        [this, style] {
            for (const Waiter &waiter : takeWaiters(style))
                m_deliver(waiter.socket, QByteArray(), nullptr, 0);
        });
    if (!started)
        m_running.erase(style);
    return started;
}

std::vector<UpdateChecks::Waiter> UpdateChecks::takeWaiters(const QString &style)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_running.find(style);
    if (it == m_running.end())
        return {};
    std::vector<Waiter> waiters = std::move(it->second);
    m_running.erase(it);
    return waiters;
}

void UpdateChecks::runCheck(const QString &style)
{
    int code = Ret::UpdateBadVersionText;
    CCheckUpdateStateTask task(m_webRoot, style, m_appDir, &m_lane.cancel());
    try {
        code = task.check();
    } catch (...) {
        // Out of memory: the pages get no file this time.
    }
    // Each page gets the file as it is now; a later check that installs
    // another page leaves an open file as it was.
    for (const Waiter &waiter : takeWaiters(style)) {
        try {
            auto file = std::make_unique<QFile>();
            if (code == Ret::Ok && task.openLocalFile(waiter.fileName, file.get()) == Ret::Ok) {
                const qint64 size = file->size();
                m_deliver(waiter.socket,
                    HttpReply::httpFileHead(HttpReply::fileTypeOfName(waiter.fileName), size),
                    std::move(file), size);
            } else {
                m_deliver(waiter.socket, HttpReply::httpFileHead(9, 0), nullptr, 0);
            }
        } catch (...) {
            m_deliver(waiter.socket, QByteArray(), nullptr, 0);
        }
    }
}
