#include "ServiceLog.h"

#include "common/LogText.h"
#include "common/ProgramDir.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <cstring>

namespace {

const char *const kModuleFolders[] = { "/Plugin", "/Quorvat", "/Diy", "/Auto" };
constexpr int kModuleCount = 4;

const char *const kLineFormats[] = {
    " [NORMAL] [%1] [%2] %3\n",
    " [WARNING] [%1] [%2] %3\n",
    " [ERROR] [%1] [%2] %3\n",
};

} // namespace

ServiceLog *ServiceLog::instance()
{
    static ServiceLog *log = new ServiceLog(ProgramDir::folder());
    return log;
}

ServiceLog::ServiceLog(const QString &appDir)
{
    QSettings settings(appDir + QStringLiteral("/ClientCfg.ini"), QSettings::IniFormat);
    m_enabled = settings.value(QStringLiteral("Enable/PrintLogEn"), true).toBool();
}

ServiceLog::~ServiceLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file.isOpen())
        m_file.close();
}

void ServiceLog::setClock(std::function<QDateTime()> clock)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clock = std::move(clock);
}

QDateTime ServiceLog::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QString ServiceLog::root() const
{
    return m_root;
}

QString ServiceLog::moduleFolder(int module) const
{
    if (module < 0 || module >= kModuleCount)
        return m_root;
    return m_root + QLatin1String(kModuleFolders[module]);
}

void ServiceLog::init(const QString &root, int keepMode)
{
    QDate today;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_root = root;
        today = now().date();
    }
    QString threshold;
    if (keepMode == KeepWeek)
        threshold = today.addDays(-7).toString(QStringLiteral("yyyyMMdd"));
    else if (keepMode == KeepMonth)
        threshold = today.addMonths(-1).toString(QStringLiteral("yyyyMMdd"));
    const QByteArray thresholdBytes = threshold.toLatin1();

    for (int module = 0; module < kModuleCount; ++module) {
        const QString folder = moduleFolder(module);
        QDir().mkpath(folder);
        if (keepMode == KeepAll || threshold.isEmpty())
            continue;
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
        for (const QFileInfo &file : files) {
            const QString name = file.fileName();
            const int dot = name.indexOf(QLatin1String(".log"), 1);
            if (dot < 0)
                continue;
            // Byte order of the 8-bit name against the date: "notes" stays, "1" goes.
            const QByteArray stem = name.left(dot).toLocal8Bit();
            if (std::strcmp(stem.constData(), thresholdBytes.constData()) < 0)
                QFile::remove(file.absoluteFilePath());
        }
    }
}

QString ServiceLog::formatLine(
    int level, const QString &function, const QString &message, const QDateTime &stamp)
{
    // Without its line breaks, redacted first.
    const QString cleaned = LogText::forLine(message);
    if (level < Normal || level > Error)
        return cleaned;
    return QString::fromLatin1(kLineFormats[level])
        .arg(function, stamp.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss zzz")), cleaned);
}

void ServiceLog::write(int level, const QString &function, const QString &message, int module)
{
    QString folder;
    QDateTime stamp;
    bool hasRoot = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        hasRoot = !m_root.isEmpty();
        folder = moduleFolder(module);
        stamp = now();
    }
    // Before init there is no root: the line goes to the debug output only,
    // never into a folder of the file system's root.
    if (hasRoot && !QFileInfo::exists(folder))
        QDir().mkpath(folder);

    const QString line = formatLine(level, function, message, stamp);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (!hasRoot) {
        qDebug().noquote() << line.trimmed();
        return;
    }
    const QString day = stamp.toString(QStringLiteral("yyyyMMdd"));
    if (day != m_currentDay) {
        if (m_file.isOpen())
            m_file.close();
        m_currentDay = day;
    }
    if (!m_file.isOpen()) {
        m_file.setFileName(folder + QLatin1Char('/') + m_currentDay + QStringLiteral(".log"));
        if (m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text))
            m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    if (m_enabled && m_file.isOpen())
        m_file.write(line.toLocal8Bit());
    if (m_file.isOpen())
        m_file.flush();
    qDebug().noquote() << line.trimmed();
}

void serviceLog(const char *function, const QString &text, int level, int module)
{
    if (module != ServiceLog::DebugOutput) {
        ServiceLog::instance()->write(level, QLatin1String(function), text, module);
        return;
    }
    qDebug().noquote() << ServiceLog::formatLine(
        level, QLatin1String(function), text, QDateTime::currentDateTime())
                              .trimmed();
}
