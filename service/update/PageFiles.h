#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The files of a page package that the update installs: unpacking, the
// package's digest, folder removal.
namespace PageFiles {

// Extracts every entry of the zip archive into `folder`; refuses (false,
// with whatever was written removed by the caller's staging) archives
// with absolute names, ".." segments, backslashes or link entries.
bool unzipFile(const QString &zipPath, const QString &folder);
// The file's MD5 as 32 lower-case hexadecimal digits; empty when it
// cannot be read.
QString fileMd5Hex(const QString &path);
// Removes the folder's contents and, with `removeSelf`, the folder: 0,
// -2 when it does not exist, -3 when a file stays, -4 when the folder stays.
int removeDirectory(const QString &folder, bool removeSelf);

} // namespace PageFiles

// MD5 digests (RFC 1321), 16 bytes. md5File digests what is left of an open
// file, read in blocks of 4096 bytes (empty when reading fails); md5Buffer
// `length` bytes, or the bytes up to the first NUL when `length` is 0.
QByteArray md5File(QIODevice &file);
QByteArray md5Buffer(const char *data, int length);
