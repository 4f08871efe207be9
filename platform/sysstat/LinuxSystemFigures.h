#pragma once

#include "SystemFigures.h"

#include <QString>

// SystemFigures of the running Linux system: /proc/stat, /proc/self/status,
// /proc/meminfo and the process CPU clock. The /proc root can be changed for tests.
class LinuxSystemFigures : public SystemFigures
{
public:
    explicit LinuxSystemFigures(const QString &procRoot = QStringLiteral("/proc"));

    quint64 tickCountMs() override;
    bool processCpuMs(quint64 *ms) override;
    bool systemTimes(SystemTimes *times) override;
    int processorCount() override;
    bool workingSetBytes(quint64 *bytes) override;
    quint64 availablePhysicalBytes() override;

private:
    QString m_procRoot;
};
