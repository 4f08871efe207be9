#include "LightWeightLog.h"

#include "WriteLogThread.h"
#include "common/LogText.h"
#include "common/ProgramDir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaMethod>
#include <QSettings>
#include <QThread>

namespace {

LightWeightLog *g_instance = nullptr;

const char *const kLevelFormats[] = {
    "[ NORMAL] [0x%1] [%2] [%3] %4\n",
    "[WARNING] [0x%1] [%2] [%3] %4\n",
    "[  ERROR] [0x%1] [%2] [%3] %4\n",
};

// "yyyy-MM-dd HH:mm:ss zzz" of `ms`. The local-time conversion is the costly
// part, so each thread keeps the text of the current second.
QString timeText(qint64 ms)
{
    const qint64 second = ms / 1000;
    thread_local qint64 cachedSecond = -1;
    thread_local QString cachedPrefix;
    if (second != cachedSecond) {
        cachedPrefix
            = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "));
        cachedSecond = second;
    }
    return cachedPrefix + QString::number(ms % 1000).rightJustified(3, QLatin1Char('0'));
}

QString currentTimeText()
{
    return timeText(QDateTime::currentMSecsSinceEpoch());
}

// A log call's line, made on the writer's thread.
QString formatRecord(const WriteLogThread::Record &record)
{
    return LightWeightLog::formatLine(
        record.function, record.message, record.level, record.threadId, timeText(record.msecs));
}

} // namespace

LightWeightLog *LightWeightLog::instance()
{
    // First use is in main before any other thread exists, so no lock.
    if (!g_instance)
        g_instance = new LightWeightLog(ProgramDir::folder());
    return g_instance;
}

void LightWeightLog::shutdown()
{
    if (g_instance)
        g_instance->stop();
}

LightWeightLog::LightWeightLog(const QString &programFolder, QObject *parent)
    : QObject(parent)
{
    QSettings cfg(programFolder + QStringLiteral("/ClientCfg.ini"), QSettings::IniFormat);
    m_bEnable = cfg.value(QStringLiteral("Enable/PrintLogEn"), true).toBool();
    if (!m_bEnable)
        return;
    m_writer = new WriteLogThread(programFolder + QStringLiteral("/log"));
}

LightWeightLog::~LightWeightLog()
{
    stop();
    delete m_writer;
}

void LightWeightLog::stop()
{
    if (!m_writer)
        return;
    m_bEnable = false;
    m_writer->stop();
}

QString LightWeightLog::formatLine(
    const QString &function, const QString &message, int level, quintptr threadId, const QString &time)
{
    // Without its line breaks, redacted first.
    const QString clean = LogText::forLine(message);
    if (level < Normal || level > Error)
        return clean;
    return QString::fromLatin1(kLevelFormats[level])
        .arg(QString::number(threadId, 16).rightJustified(8, QLatin1Char('0')), time,
            function.rightJustified(45, QLatin1Char(' ')), clean);
}

int LightWeightLog::PrintLog(const QString &function, const QString &message, int level)
{
    if (!m_bEnable)
        return 0;
    const quintptr threadId = quintptr(QThread::currentThreadId());
    if (!startWriter() || isSignalConnected(QMetaMethod::fromSignal(&LightWeightLog::writeLogSig))) {
        deliver(formatLine(function, message, level, threadId, currentTimeText()));
        return 0;
    }
    // Nobody watches the lines here: the writer formats them.
    WriteLogThread::Record record;
    record.function = function;
    record.message = message;
    record.level = level;
    record.threadId = threadId;
    record.msecs = QDateTime::currentMSecsSinceEpoch();
    m_writer->post(std::move(record), &formatRecord);
    return 0;
}

bool LightWeightLog::startWriter()
{
    if (m_bWriterStarted.load(std::memory_order_acquire))
        return true;
    std::lock_guard<std::mutex> lock(m_startMutex);
    if (m_bWriterStarted.load(std::memory_order_relaxed))
        return true;
    // The first lines come from main before the application object exists;
    // an event loop cannot run yet, so they are written directly, while
    // only this thread runs.
    if (!QCoreApplication::instance())
        return false;
    m_writer->start();
    m_bWriterStarted.store(true, std::memory_order_release);
    return true;
}

void LightWeightLog::deliver(const QString &line)
{
    if (!startWriter()) {
        m_writer->writeLog(line);
        return;
    }
    m_writer->post(line);
    emit writeLogSig(line);
}

void playerLog(const char *function, const QString &text, int level)
{
    LightWeightLog::instance()->PrintLog(QLatin1String(function), text, level);
}
