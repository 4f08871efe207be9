#pragma once

#include "SystemFigures.h"

#include <QObject>
#include <QString>

#include <memory>

// Samples the player's CPU load, the system's CPU load and the player's memory
// once a second and signals them to the request manager.
class CGetSystemStatus : public QObject
{
    Q_OBJECT

public:
    // Reads the running system when `figures` is null.
    explicit CGetSystemStatus(
        QObject *parent, std::unique_ptr<SystemFigures> figures = nullptr, int intervalMs = 1000);
    ~CGetSystemStatus() override;

    int GetAppCpuStatus();
    int GetSystemCpuStatus();
    int GetAppMemory();
    int GetRemainMemory();
    // Stops sampling (on the object's own thread).
    void stopTimer();

signals:
    void sendSystemStatusSig(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    std::unique_ptr<SystemFigures> m_figures;
    int m_nTimerId = 0;
    QString m_strAppName;
    quint64 m_lastTickMs = 0;
    quint64 m_lastProcessMs = 0;
    int m_nProcessorCount = 1;
    SystemFigures::SystemTimes m_lastSystem;
};
