#include "LocalInfo.h"

#include <QSettings>

namespace {

QString ReadPath(QSettings &settings, const char *key, const QString &fallback)
{
    const QString key16 = QString::fromLatin1(key);
    QString path = settings.value(key16, QString()).toString();
    if (path.isEmpty()) {
        path = fallback;
        settings.setValue(key16, path);
    }
    return path;
}

int ReadType(QSettings &settings, const char *key)
{
    // An empty or unreadable value counts as 0, as does a number with junk.
    return settings.value(QString::fromLatin1(key), QString()).toString().trimmed().toInt();
}

} // namespace

namespace LocalSettings {

QString ClientCfgPath(const QString &folder)
{
    return folder + QStringLiteral("/ClientCfg.ini");
}

void LoadClientCfg(const QString &folder, LocalInfo *info)
{
    if (!info)
        return;
    QSettings settings(ClientCfgPath(folder), QSettings::IniFormat);
    settings.setIniCodec("System");
    info->CapPath = ReadPath(settings, "Path/CapPath", folder + QStringLiteral("/Device/Capture"));
    info->RecPath = ReadPath(settings, "Path/RecPath", folder + QStringLiteral("/Device/Record"));
    info->DownPath = ReadPath(settings, "Path/DownPath", folder + QStringLiteral("/Device/Download"));
    info->CaptureType = ReadType(settings, "Info/CaptureType");
    info->RecordType = ReadType(settings, "Info/RecordType");
    info->ImageType = ReadType(settings, "Info/ImageType");
}

void LoadToolVersion(const QString &folder, LocalInfo *info)
{
    if (!info)
        return;
    QSettings settings(folder + QStringLiteral("/QuorvelToolVersion.ini"), QSettings::IniFormat);
    settings.setIniCodec("System");
    info->ToolVersion = settings.value(QStringLiteral("Tool/version"), QString()).toString();
    info->ToolDate = settings.value(QStringLiteral("Tool/date"), QString()).toString();
}

} // namespace LocalSettings
