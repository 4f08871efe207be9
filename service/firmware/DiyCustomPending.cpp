// Custom configuration, languages and logos of a package are not part of the
// customiser yet. Until they are, the steps of preparing and producing a
// package change nothing and succeed (the produce tree stays as the package
// gave it), and the requests that need them answer their "not found" or
// failure codes, so that every message still gets its reply.

#include "DiyFirmware.h"

int CDiyFirmware::readExtDevIDConfig(int nSessionID)
{
    DiySessionInfo info;
    return getSessionInfo(nSessionID, &info);
}

int CDiyFirmware::readProgromCustom(int nSessionID)
{
    DiySessionInfo info;
    return getSessionInfo(nSessionID, &info);
}

int CDiyFirmware::readPowerOnLogo(int nSessionID)
{
    DiySessionInfo info;
    return getSessionInfo(nSessionID, &info);
}

QString CDiyFirmware::getCustomConfig(const QString &, int, int)
{
    return QString();
}

int CDiyFirmware::writeCustomConfig(const QString &, const QString &, const QString &)
{
    return DiyResult::BadJson;
}

QString CDiyFirmware::getMultiLanguage(int)
{
    return QString();
}

int CDiyFirmware::checkLogoFormat(const QString &, int)
{
    return DiyResult::Failed;
}

int CDiyFirmware::dealWithLogo(int, const QString &, int)
{
    return DiyResult::LogoCopy;
}

int CDiyFirmware::writeExtDevIDConfig(const QString &, int nSessionID)
{
    DiySessionInfo info;
    return getSessionInfo(nSessionID, &info);
}

int CDiyFirmware::writeProgramInfo(int nSessionID)
{
    DiySessionInfo info;
    return getSessionInfo(nSessionID, &info);
}
