#include "LocalInfo.h"

#include <QSettings>
#include <QTextCodec>

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

void UseSystemCodec(QSettings &settings)
{
    // Qt knows the name "System" on Windows only.
    settings.setIniCodec(QTextCodec::codecForLocale());
}

QString ClientCfgPath(const QString &folder)
{
    return folder + QStringLiteral("/ClientCfg.ini");
}

void LoadClientCfg(const QString &folder, LocalInfo *info)
{
    if (!info)
        return;
    QSettings settings(ClientCfgPath(folder), QSettings::IniFormat);
    UseSystemCodec(settings);
    info->CapPath = ReadPath(settings, "Path/CapPath", folder + QStringLiteral("/Device/Capture"));
    info->RecPath = ReadPath(settings, "Path/RecPath", folder + QStringLiteral("/Device/Record"));
    info->DownPath = ReadPath(settings, "Path/DownPath", folder + QStringLiteral("/Device/Download"));
    info->CaptureType = ReadType(settings, "Info/CaptureType");
    info->RecordType = ReadType(settings, "Info/RecordType");
    info->ImageType = ReadType(settings, "Info/ImageType");
}

bool SaveClientCfg(const QString &folder, const ClientCfg &cfg)
{
    QSettings settings(ClientCfgPath(folder), QSettings::IniFormat);
    UseSystemCodec(settings);
    settings.setValue(QStringLiteral("Path/RecPath"), cfg.RecPath);
    settings.setValue(QStringLiteral("Path/CapPath"), cfg.CapPath);
    settings.setValue(QStringLiteral("Path/DownPath"), cfg.DownPath);
    settings.setValue(QStringLiteral("Info/RecordType"), cfg.RecordType);
    settings.setValue(QStringLiteral("Info/ImageType"), cfg.ImageType);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

const QStringList &AlarmTypeNames()
{
    static const QStringList names = { QStringLiteral("Prompt"), QStringLiteral("all"),
        QStringLiteral("Motion"), QStringLiteral("Blind"), QStringLiteral("Loss"), QStringLiteral("IO"),
        QStringLiteral("Analyze"), QStringLiteral("Human"), QStringLiteral("FaceDetect"),
        QStringLiteral("DiskError"), QStringLiteral("DiskFull"), QStringLiteral("Carshape") };
    return names;
}

void LoadToolVersion(const QString &folder, LocalInfo *info)
{
    if (!info)
        return;
    QSettings settings(folder + QStringLiteral("/QuorvelToolVersion.ini"), QSettings::IniFormat);
    UseSystemCodec(settings);
    info->ToolVersion = settings.value(QStringLiteral("Tool/version"), QString()).toString();
    info->ToolDate = settings.value(QStringLiteral("Tool/date"), QString()).toString();
}

} // namespace LocalSettings
