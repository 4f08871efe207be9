#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QObject;
class QProcess;

// The caller's side of the outside file chooser "Browse" that lies beside
// each program: it is started with a kind and a few texts, shows its dialog,
// prints the chosen path on its standard output and exits with 0, or exits
// otherwise when nothing was chosen.
namespace FileChooser {

struct Answer
{
    // The program ended normally with exit code 0.
    bool ok = false;
    // Its whole standard output as UTF-8 text, not trimmed; empty unless ok.
    QString path;
};

using Done = std::function<void(const Answer &answer)>;

// The chooser beside a program in `folder`.
QString programPath(const QString &folder);

// Starts `program` with `arguments` as a child process of `owner`, opened for
// reading and writing, and returns at once. `done` runs exactly once on the
// owner's thread, after the call returned: when the program ended, or with a
// failed answer when it could not be started. The process object is deleted
// after that in every case; the caller may end it early through the returned
// pointer (that gives a failed answer) but must not keep it past `done`.
QProcess *start(QObject *owner, const QString &program, const QStringList &arguments, Done done);

} // namespace FileChooser
