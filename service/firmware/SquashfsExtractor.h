#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

// A squashfs image unpacked by an outside extractor with unsquashfs's command
// line. The image comes from a package: before anything is written the
// extractor lists it ("-lls") and an image whose files add up to more than
// the cap is not unpacked; while it unpacks, the output is measured and the
// extractor is ended once it passes the cap. Both runs share one time limit,
// and a stop flag set from another thread ends them at once. The extractor
// runs in a process group of its own, which is killed whole and reaped.
// Runs on the calling thread, which it blocks.
namespace SquashfsExtractor {

enum class Outcome {
    Done, // the extractor ended with code 0
    Failed, // it ended otherwise (or the listing did: nothing was unpacked)
    TimedOut,
    CannotStart,
    OverCap, // listed or unpacked more than the cap; the partial tree stays
    Stopped,
};

struct Settings
{
    QString program;
    int timeoutMs = 300000;
    qint64 maxBytes = qint64(1) << 30;
    const std::atomic<bool> *stop = nullptr;
};

struct Result
{
    Outcome outcome = Outcome::Failed;
    int exitCode = -1; // of the last run; -1 when it did not end by itself
    bool killed = false; // the last run was ended here (time limit, cap, stop)
    QString errors; // the end of its standard error
    QString startError;
};

Result run(const Settings &settings, const QByteArray &imagePath, const QByteArray &targetFolder);

// The bytes of the plain files under `folder`, links not followed; stops
// counting once past `limit`.
qint64 treeBytes(const QByteArray &folder, qint64 limit);

} // namespace SquashfsExtractor
