#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// Reads and listings of a session's folders (the unpacked package, the
// produce tree). What a package unpacks is the package author's: a level of
// it may be a link to anywhere on the host. Every access here starts at the
// session's folder (`root`, opened as it is) and walks down one level at a
// time without following a link, so it never leaves that folder.
namespace DiyTree {

// The read call used for file contents; tests put in one that reads short.
using ReadCall = ssize_t (*)(int fd, void *data, size_t length);

enum class Read { Ok, CannotOpen, Empty, TooLarge, Short };

// Opens folder `path`, which is `root` or lies below it. -1 when it does not
// lie below `root` (a "." or ".." level included), or a level is missing, no
// folder or a link.
int openFolder(const QString &root, const QString &path);

// True when `path` is a folder reached that way.
bool isFolder(const QString &root, const QString &path);

// The names of the plain files (not links, not folders) directly in folder
// `path`, in the order QDir lists by default (by name, ignoring case).
QStringList fileNames(const QString &root, const QString &path);

// Reads plain file `path` below `root` whole. TooLarge above `maxBytes`;
// Short when fewer bytes came than the file holds (`out` holds those).
// An empty `root`: the file's own folder is the root.
Read readFile(
    const QString &root, const QString &path, qint64 maxBytes, QByteArray *out, ReadCall readCall = nullptr);

} // namespace DiyTree
