#include "SquashfsExtractor.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SquashfsExtractor {

namespace {

constexpr int kSliceMs = 50;
constexpr int kMeasureEveryMs = 200;
constexpr int kReapMs = 5000;
constexpr int kMaxErrorText = 4000;
constexpr int kMaxListingLine = 64 * 1024;
constexpr int kMaxFolderDepth = 256;

// The child leads a process group of its own, so that whatever it starts
// ends with it, and is killed should the thread that started it (and so the
// service) end without a word, killed itself.
class GroupProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    }
};

// Adds the sizes of the regular files of one "-lls" listing line by line:
// "-rw-r--r-- root/root   6442450944 2024-01-01 00:00 squashfs-root/big".
class ListingSum
{
public:
    void add(const QByteArray &bytes)
    {
        for (char c : bytes) {
            if (c == '\n') {
                take();
                m_line.clear();
            } else if (m_line.size() < kMaxListingLine) {
                m_line.append(c);
            }
        }
    }
    void finish() { take(); }
    qint64 total() const { return m_total; }

private:
    void take()
    {
        if (!m_line.startsWith('-'))
            return;
        const QList<QByteArray> fields = m_line.simplified().split(' ');
        bool ok = false;
        const qint64 size = fields.size() > 2 ? fields.at(2).toLongLong(&ok) : 0;
        // A size that does not read as one counts as too large.
        m_total = ok && size >= 0 && m_total <= (qint64(1) << 62) - size ? m_total + size : qint64(1) << 62;
    }

    QByteArray m_line;
    qint64 m_total = 0;
};

void addTree(const QByteArray &path, int depth, qint64 limit, qint64 *total)
{
    struct stat st;
    if (*total > limit || ::lstat(path.constData(), &st) != 0)
        return;
    if (S_ISREG(st.st_mode)) {
        *total += st.st_size;
        return;
    }
    if (!S_ISDIR(st.st_mode) || depth > kMaxFolderDepth)
        return;
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            addTree(path + '/' + entry->d_name, depth + 1, limit, total);
        if (*total > limit)
            break;
    }
    ::closedir(dir);
}

void keepErrors(QProcess &process, QString *errors)
{
    *errors += QString::fromLocal8Bit(process.readAllStandardError());
    if (errors->size() > kMaxErrorText)
        *errors = errors->right(kMaxErrorText);
}

// Kills the child's process group while the child is not yet reaped, so that
// the group is still its own.
void killGroup(QProcess &process)
{
    const qint64 pid = process.processId();
    if (pid > 1) {
        ::kill(pid_t(-pid), SIGKILL);
        ::kill(pid_t(pid), SIGKILL);
    }
    process.waitForFinished(kReapMs);
}

// One run of the extractor. `listing` gets its standard output when given;
// `measure` the output folder to keep under the cap.
Outcome runOnce(const Settings &settings, const QStringList &arguments, const QElapsedTimer &clock,
    ListingSum *listing, const QByteArray &measure, Result *result)
{
    // What the run before this one ended with is no answer of this one.
    result->exitCode = -1;
    result->killed = false;
    GroupProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    if (!listing)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.start(settings.program, arguments);
    if (!process.waitForStarted(10000)) {
        result->startError = process.errorString();
        killGroup(process);
        return Outcome::CannotStart;
    }
    qint64 nextMeasure = clock.elapsed() + kMeasureEveryMs;
    for (;;) {
        const bool ended = process.waitForFinished(kSliceMs) || process.state() == QProcess::NotRunning;
        keepErrors(process, &result->errors);
        if (listing)
            listing->add(process.readAllStandardOutput());
        Outcome over = Outcome::Done;
        if (settings.stop && settings.stop->load())
            over = Outcome::Stopped;
        else if (listing && listing->total() > settings.maxBytes)
            over = Outcome::OverCap;
        else if (!measure.isEmpty() && (ended || clock.elapsed() >= nextMeasure)) {
            nextMeasure = clock.elapsed() + kMeasureEveryMs;
            if (treeBytes(measure, settings.maxBytes) > settings.maxBytes)
                over = Outcome::OverCap;
        }
        if (over == Outcome::Done && !ended && clock.elapsed() >= settings.timeoutMs)
            over = Outcome::TimedOut;
        if (over != Outcome::Done) {
            killGroup(process);
            result->killed = true;
            return over;
        }
        if (ended)
            break;
    }
    if (listing)
        listing->finish();
    const bool clean = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result->exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (listing && listing->total() > settings.maxBytes)
        return Outcome::OverCap;
    return clean ? Outcome::Done : Outcome::Failed;
}

} // namespace

qint64 treeBytes(const QByteArray &folder, qint64 limit)
{
    qint64 total = 0;
    addTree(folder, 0, limit, &total);
    return total;
}

Result run(const Settings &settings, const QByteArray &imagePath, const QByteArray &targetFolder)
{
    Result result;
    QElapsedTimer clock;
    clock.start();
    const QString image = QFile::decodeName(imagePath);
    const QString target = QFile::decodeName(targetFolder);
    ListingSum listing;
    result.outcome = runOnce(settings, { QStringLiteral("-lls"), QStringLiteral("-d"), target, image }, clock,
        &listing, QByteArray(), &result);
    if (result.outcome != Outcome::Done)
        return result;
    result.errors.clear();
    result.outcome = runOnce(settings,
        { QStringLiteral("-no-progress"), QStringLiteral("-no-xattrs"), QStringLiteral("-d"), target, image },
        clock, nullptr, targetFolder, &result);
    return result;
}

} // namespace SquashfsExtractor
