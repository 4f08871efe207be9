#pragma once

#include "DiySessionInfo.h"
#include "common/Protocol.h"

#include <QJsonValue>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

#include <json/value.h>

class QZipWriter;

// The service's firmware customiser: per page session, where the chosen
// package was unpacked, what device it is for, which partitions came out of it,
// and the operations of the firmware-customising messages. One object per
// process; every session's work happens on a private copy of its record.
class CDiyFirmware : public QObject
{
    Q_OBJECT

public:
    // Largest text or JSON file read whole from a package.
    static constexpr qint64 kMaxReadBytes = 16 * 1024 * 1024;
    // Time limit of one squashfs extraction.
    static constexpr int kDefaultExtractTimeoutMs = 300000;

    static CDiyFirmware *instance();
    static void releaseInstance();

    // Tests make their own object over a folder of their choice.
    explicit CDiyFirmware(const QString &appDir);
    ~CDiyFirmware() override;

    QString appDir() const { return m_appDir; }

    // The session map; each call holds the mutex for its whole run.
    int addSessionInfo(int nSessionID, DiySessionInfo *info);
    int getSessionInfo(int nSessionID, DiySessionInfo *out);
    int updateSessionInfo(int nSessionID, const DiySessionInfo *info);
    int removeSessionInfo(int nSessionID);

    // Folder helpers. removeDirRecursively never follows a link: a link is
    // removed as a link, whatever it points to; read-only entries are removed too.
    static QString createPath(const QString &path);
    static bool removeFilesRecursively(const QString &folder);
    static bool removeDirRecursively(const QString &folder);

    // Package analysis.
    int dealUnzipWithProgram(const QString &packagePath, int nSessionID);
    int confirmProgramUpall(int nSessionID, const Json::Value &installDesc);
    int makePartUnImag(const QString &fileName, const QString &filePath, int nSessionID, int slot);
    int runUnsquashfs(const QByteArray &imagePath, const QByteArray &targetFolder);
    QString findCustomPartPath(int nSessionID, QString *partName);
    static QString findCustomFolder(const QString &folder);
    int getDevInfoFormCustom(const QString &customFolder, int nSessionID);
    int getLogoPartInfoFromCustom(
        const QString &customPartName, int nSessionID, const Json::Value &installDesc);
    // Whole-file reads of a package's texts: only a regular file whose real
    // path lies under `within` (the session's unpack folder; empty: anywhere)
    // and of at most kMaxReadBytes (above it: Ret::DiyNoMemory).
    static int getBinDataFromLocalFile(
        const QString &path, QByteArray *out, const QString &within = QString());
    static int readJsonFile(const QString &path, Json::Value *out, const QString &within = QString());

    // The squashfs extractor: the program (default: "unsquashfs" beside the
    // service when it is there, else Debian's) and its time limit.
    void setUnsquashfsProgram(const QString &program) { m_unsquashfs = program; }
    QString unsquashfsProgram() const;
    void setExtractTimeoutMs(int ms) { m_extractTimeoutMs = ms; }

    // Custom configuration: one file per setting in the produce folder, named
    // after the setting. A setting name is one file-name segment (no "/",
    // "\\", NUL, and neither "." nor ".."); any other is refused.
    static bool isSettingName(const QString &name);
    int readExtDevIDConfig(int nSessionID);
    int readProgromCustom(int nSessionID);
    QString getCustomConfig(const QString &name, int channel, int nSessionID);
    int writeCustomConfig(const QString &folder, const QString &name, const QString &jsonText);
    int writeCustomConfigArray(const QString &jsonText, const QString &key, const QString &folder);
    static QString compareJson(const QString &localText, const QString &pageText);
    static void compareJsonValue(QJsonValue &target, const QJsonValue &source);
    int dealAbnormalJson(QString *text);
    QString getMultiLanguage(int nSessionID);

    // Logos.
    int readPowerOnLogo(int nSessionID);
    int checkLogoFormat(const QString &path, int logoType);
    int dealWithLogo(int nSessionID, const QString &path, int logoType);
    int writeExtDevIDConfig(const QString &newVersion, int nSessionID);
    int writeProgramInfo(int nSessionID);

    // Package output.
    bool makeProduceZip(const QString &sourceFolder, const QString &zipPath);
    bool addDirToZip(QZipWriter *writer, const QString &folder, const QString &baseFolder,
        const QString &skipPath = QString());
    int unzipProgram(const QByteArray &zipPath, const QByteArray &folder);
    int zipProduceFolder(int nSessionID);

private:
    QString m_appDir;
    QString m_unsquashfs;
    int m_extractTimeoutMs = kDefaultExtractTimeoutMs;
    QMutex m_mutex; // guards m_sessions
    QMap<int, DiySessionInfo *> m_sessions;
};
