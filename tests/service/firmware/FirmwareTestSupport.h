#pragma once

// Helpers of the firmware customiser tests: packages built by Python's
// zipfile (make_package.py), outside tools, small files and trees.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace FirmwareTest {

struct ToolRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline ToolRun runTool(const QString &program, const QStringList &args, int timeoutMs = 60000)
{
    QProcess p;
    p.start(program, args);
    ToolRun run;
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = p.exitCode();
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Builds a zip from entries (see make_package.py); true when it was written.
inline bool makePackage(const QString &zipPath, const QJsonArray &entries, const QString &scratch)
{
    const QString desc = scratch + QStringLiteral("/package.json");
    writeFile(desc,
        QJsonDocument(
            QJsonObject { { QStringLiteral("zip"), zipPath }, { QStringLiteral("entries"), entries } })
            .toJson());
    const QString script
        = qEnvironmentVariable("QV_SOURCE_DIR") + QStringLiteral("/tests/service/firmware/make_package.py");
    const ToolRun run = runTool(QStringLiteral("/usr/bin/python3"), { script, desc });
    if (run.exitCode != 0)
        qWarning("make_package.py: %s", run.err.constData());
    return run.exitCode == 0;
}

inline QJsonObject textEntry(const QString &name, const QString &text)
{
    return { { QStringLiteral("name"), name }, { QStringLiteral("text"), text } };
}

// A package of an install description and one custom partition image
// ("squashfs" or "cramfs") made of the folder `tree`.
inline bool makeCustomPackage(const QString &zipPath, const QString &installDesc, const QString &fileSystem,
    const QString &tree, const QString &scratch)
{
    return makePackage(zipPath,
        { textEntry(QStringLiteral("InstallDesc"), installDesc),
            QJsonObject { { QStringLiteral("name"), QStringLiteral("custom-x.%1.img").arg(fileSystem) },
                { fileSystem, tree }, { QStringLiteral("start"), 65536 },
                { QStringLiteral("end"), 131072 } } },
        scratch);
}

// Every path under `root` (relative, "/" separated, sorted), without following
// links; files carry their content hash so two trees compare whole.
inline QStringList treeListing(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QString line = path.mid(root.size() + 1);
        if (info.isSymLink())
            line += QStringLiteral(" -> link");
        else if (info.isFile())
            line += QStringLiteral(" ")
                + QString::fromLatin1(
                    QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1).toHex());
        else
            line += QLatin1Char('/');
        out.append(line);
    }
    out.sort();
    return out;
}

} // namespace FirmwareTest
