#include "FileChooser.h"

#include <QProcess>

#include <exception>
#include <memory>

namespace FileChooser {

QString programPath(const QString &folder)
{
    return folder + QStringLiteral("/Browse");
}

QProcess *start(QObject *owner, const QString &program, const QStringList &arguments, Done done)
{
    auto *process = new QProcess(owner);
    // The chooser talks on standard output only; what it writes elsewhere is not ours.
    process->setProcessChannelMode(QProcess::SeparateChannels);
    auto answered = std::make_shared<bool>(false);
    auto finish = [process, answered, done](bool ended) {
        if (*answered)
            return;
        *answered = true;
        Answer answer;
        if (ended && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0) {
            answer.ok = true;
            answer.path = QString::fromUtf8(process->readAllStandardOutput());
        }
        process->deleteLater();
        try {
            if (done)
                done(answer);
        } catch (const std::exception &) {
        } catch (...) { }
    };
    // Queued: the answer never comes from inside this call, even when the
    // program cannot be started at all (then Qt emits no "finished").
    QObject::connect(
        process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), process,
        [finish](int, QProcess::ExitStatus) { finish(true); }, Qt::QueuedConnection);
    QObject::connect(
        process, &QProcess::errorOccurred, process,
        [finish](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                finish(false);
        },
        Qt::QueuedConnection);
    process->start(program, arguments, QIODevice::ReadWrite);
    return process;
}

} // namespace FileChooser
