#pragma once

// Helpers of the partition-image tests: folder trees written from and read
// into maps, outside programs run to completion, bytes patched in files.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

#include <cstdint>

namespace imagetest {

// Bytes that compress about as well as program files do, the same for a seed.
inline QByteArray content(quint32 seed, int size)
{
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = char((x >> 16) % 23 + 'a');
    }
    return out;
}

// A tree as relative paths: folders end in "/", files map to their bytes.
using Tree = QMap<QString, QByteArray>;

inline bool writeTree(const QString &root, const Tree &tree)
{
    if (!QDir().mkpath(root))
        return false;
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        const QString path = root + "/" + it.key();
        if (it.key().endsWith('/')) {
            if (!QDir().mkpath(path))
                return false;
            continue;
        }
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(it.value()) != it.value().size())
            return false;
    }
    return true;
}

// Folders and regular files under root; anything else is listed as "<other>".
inline Tree readTree(const QString &root)
{
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            tree.insert(rel + "/", QByteArray());
        } else if (S_ISREG(st.st_mode)) {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            tree.insert(rel, f.readAll());
        } else {
            tree.insert(rel, "<other>");
        }
    }
    return tree;
}

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline Run run(const QString &program, const QStringList &args, int timeoutMs = 480000)
{
    QProcess p;
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline quint32 le32(const QByteArray &b, int at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 | quint32(quint8(b[at + 2])) << 16
        | quint32(quint8(b[at + 3])) << 24;
}

inline void setLe32(QByteArray &b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

// Sum of the sizes of the regular files under root and their number with the folders.
inline void measureTree(const QString &root, qint64 *bytes, int *entries)
{
    *bytes = 0;
    *entries = 0;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        ++*entries;
        if (info.isFile() && !info.isSymLink())
            *bytes += info.size();
    }
}

} // namespace imagetest
