#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>

// Zip helpers of the firmware customiser: unpacking a package into a folder
// and packing a folder. Packages come from users: every entry name is checked
// before anything is written, and the bytes written are capped.

namespace ZipEntryName {

enum class Kind { Refused, File, Folder };

// Splits an entry name on "/" and "\" and checks it: no empty, "." or ".."
// segment, no leading separator, no drive prefix, no NUL, no segment longer
// than a file name may be. A trailing separator names a folder.
Kind split(const QByteArray &name, QList<QByteArray> *segments);

} // namespace ZipEntryName

struct UnzipLimits
{
    qint64 maxTotalBytes = qint64(4) * 1024 * 1024 * 1024;
    // Entries the central directory may list, counted from its zip64 record
    // when it has one. zziplib walks no more than the end record's 16-bit
    // count: a zip with more would lose its last entries unseen.
    int maxEntries = 65535;
    // Set from another thread: the unpacking stops as at a limit.
    const std::atomic<bool> *stop = nullptr;
};

// Unpacks every entry of the zip into `folder` (created when missing, with all
// the folder levels the entries need). Files are created fresh, never through
// a link. 0 when every entry was written; -1 when the zip cannot be opened, it
// lists more entries than allowed or its central directory declares more
// bytes than allowed (nothing is written then, not even the folder), or a
// limit was reached or the unpacking stopped (the entry being written is
// removed); -2
// when some entries were refused or failed (each removed) and the rest were
// written.
int unzipToFolder(const char *zipPath, const char *folder);
int unzipToFolder(const char *zipPath, const char *folder, const UnzipLimits &limits);

// Packs every plain file under `folder` into a new zip at `zipPath`, names
// relative to the folder with "/" separators; links are not followed. 0 on
// success, -1 when the zip cannot be written or a file cannot be read.
int zipFolder(const char *folder, const char *zipPath);

// A thin layer over minizip's writer.
void *zipArchiveOpen(const char *path);
void *zipArchiveAddEntry(void *archive, const char *name);
int zipArchiveWrite(void *archive, const void *data, unsigned length);
int zipArchiveCloseEntry(void *archive);
int zipArchiveClose(void *archive);
