#include "GetSystemStatus.h"

#include "LinuxSystemFigures.h"
#include "common/ProgramDir.h"

#include <QFileInfo>
#include <QTimerEvent>

CGetSystemStatus::CGetSystemStatus(QObject *parent, std::unique_ptr<SystemFigures> figures, int intervalMs)
    : QObject(parent)
    , m_figures(figures ? std::move(figures) : std::make_unique<LinuxSystemFigures>())
{
    m_lastTickMs = m_figures->tickCountMs();
    // The first process sample is the base of the first figure.
    if (!m_figures->processCpuMs(&m_lastProcessMs))
        m_lastProcessMs = 0;
    m_figures->systemTimes(&m_lastSystem);
    m_nProcessorCount = qMax(1, m_figures->processorCount());
    m_nTimerId = startTimer(intervalMs, Qt::CoarseTimer);
    m_strAppName = QFileInfo(ProgramDir::executablePath()).fileName();
}

CGetSystemStatus::~CGetSystemStatus()
{
    stopTimer();
}

void CGetSystemStatus::stopTimer()
{
    if (m_nTimerId)
        killTimer(m_nTimerId);
    m_nTimerId = 0;
}

void CGetSystemStatus::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_nTimerId)
        return;
    const int app = GetAppCpuStatus();
    const int system = GetSystemCpuStatus();
    const int memory = GetAppMemory();
    emit sendSystemStatusSig(app, system, memory);
}

int CGetSystemStatus::GetAppCpuStatus()
{
    m_nProcessorCount = qMax(1, m_figures->processorCount());
    const quint64 now = m_figures->tickCountMs();
    if (now == m_lastTickMs)
        return -1;
    const qint64 elapsed = qint64(now - m_lastTickMs);
    m_lastTickMs = now;

    quint64 processMs = 0;
    if (!m_figures->processCpuMs(&processMs))
        return -1;
    const qint64 used = qint64(processMs) - qint64(m_lastProcessMs);
    m_lastProcessMs = processMs;
    const qint64 percent = used * 100 / elapsed / m_nProcessorCount;
    if (percent < 0)
        return -1;
    if (percent > 100)
        return 0;
    return int(percent);
}

int CGetSystemStatus::GetSystemCpuStatus()
{
    SystemFigures::SystemTimes now;
    if (!m_figures->systemTimes(&now))
        return -1;
    const qint64 idle = qint64(now.idle - m_lastSystem.idle);
    const qint64 kernel = qint64(now.kernel - m_lastSystem.kernel);
    const qint64 user = qint64(now.user - m_lastSystem.user);
    m_lastSystem = now;
    const qint64 total = kernel + user;
    if (total <= 0)
        return -1;
    const qint64 percent = (total - idle) * 100 / total;
    return percent >= 0 && percent <= 100 ? int(percent) : -1;
}

int CGetSystemStatus::GetAppMemory()
{
    quint64 bytes = 0;
    if (!m_figures->workingSetBytes(&bytes))
        return 0;
    return int(quint16(bytes >> 20));
}

int CGetSystemStatus::GetRemainMemory()
{
    return int(qMin<quint64>(m_figures->availablePhysicalBytes() >> 20, quint64(INT_MAX)));
}
