#include "DiySteps.h"

#include "DiyFirmware.h"
#include "ServiceLog.h"
#include "common/PoolJob.h"

#include <exception>
#include <memory>

DiySteps::DiySteps(CDiyFirmware *firmware, QObject *parent, int maxWorkers)
    : QObject(parent)
    , m_firmware(firmware)
    , m_workers(new QThreadPool(this))
{
    m_workers->setMaxThreadCount(maxWorkers);
}

DiySteps::~DiySteps()
{
    for (auto &entry : m_sessions)
        m_firmware->stopSession(entry.first);
    PoolJob::waitForDone(*m_workers);
}

void DiySteps::start(int nSessionID, std::function<void()> work, std::function<void(bool)> done)
{
    Session &session = m_sessions[nSessionID];
    session.steps.push_back({ std::move(work), std::move(done) });
    if (session.steps.size() == 1)
        runFirst(nSessionID);
}

bool DiySteps::busy(int nSessionID) const
{
    return m_sessions.count(nSessionID) != 0;
}

bool DiySteps::stop(int nSessionID)
{
    const auto it = m_sessions.find(nSessionID);
    if (it == m_sessions.end())
        return false;
    it->second.stopped = true;
    m_firmware->stopSession(nSessionID);
    return true;
}

void DiySteps::waitForWorkers()
{
    PoolJob::waitForDone(*m_workers);
}

void DiySteps::runFirst(int nSessionID)
{
    std::function<void()> work = m_sessions[nSessionID].steps.front().work;
    const std::shared_ptr<const std::atomic<bool>> stopped = m_firmware->stopFlag(nSessionID);
    PoolJob::start(*m_workers, [this, nSessionID, work, stopped] {
        if (!stopped->load()) {
            try {
                work();
            } catch (const std::exception &e) {
                serviceLog("DiySteps::runFirst",
                    QStringLiteral("step of session %1 failed: %2")
                        .arg(nSessionID)
                        .arg(QString::fromUtf8(e.what())),
                    ServiceLog::Error, ServiceLog::Diy);
            } catch (...) {
                serviceLog("DiySteps::runFirst", QStringLiteral("step of session %1 failed").arg(nSessionID),
                    ServiceLog::Error, ServiceLog::Diy);
            }
        }
        // This object outlives every worker (its destructor waits for them);
        // an end posted while it is destroyed is dropped with it.
        QMetaObject::invokeMethod(
            this, [this, nSessionID] { finished(nSessionID); }, Qt::QueuedConnection);
    });
}

void DiySteps::finished(int nSessionID)
{
    const auto it = m_sessions.find(nSessionID);
    if (it == m_sessions.end() || it->second.steps.empty())
        return;
    const Step step = std::move(it->second.steps.front());
    it->second.steps.pop_front();
    const bool stopped = it->second.stopped;
    if (it->second.steps.empty())
        m_sessions.erase(it);
    else
        runFirst(nSessionID);
    step.done(stopped);
}
