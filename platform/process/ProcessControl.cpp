#include "ProcessControl.h"

#include <QProcess>

namespace ProcessControl {

bool terminate(QProcess *process, int waitMs)
{
    if (!process)
        return true;
    if (process->state() == QProcess::NotRunning)
        return true;
    process->kill();
    return process->waitForFinished(waitMs) || process->state() == QProcess::NotRunning;
}

void withoutPipes(QProcess *process)
{
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

} // namespace ProcessControl
