#pragma once

#include "DiySessionInfo.h"
#include "DiyTree.h"
#include "common/Protocol.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QString>

#include <json/value.h>

#include <atomic>
#include <memory>
#include <mutex>

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
    // Bytes one partition image may unpack to (squashfs and cramfs alike).
    static constexpr qint64 kDefaultPartitionMaxBytes = qint64(1) << 30;

    static CDiyFirmware *instance();
    // Removes every session's unpack and produce folders, then the object.
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

    // Stopping a session's work from another thread: the flag its unpacking,
    // extractors and readers look at, and the call that sets it (the page
    // has left, or the service ends). A running extractor is then killed and
    // reaped, and the operation answers a failure.
    std::shared_ptr<const std::atomic<bool>> stopFlag(int nSessionID);
    void stopSession(int nSessionID);

    // Session folders: "<name>_<session id>" below "UnZip" and "Produce" of
    // the application folder. At start-up the service removes those a
    // previous run left behind, and nothing else there; links are removed as
    // links, never followed.
    static bool isSessionFolderName(const QString &name);
    void removeLeftSessionFolders();
    // The unpack and produce folders of every session, and their records.
    void removeAllSessions();

    // Folder helpers. removeDirRecursively never follows a link: a link is
    // removed as a link, whatever it points to; read-only entries are removed too.
    static QString createPath(const QString &path);
    static bool removeFilesRecursively(const QString &folder);
    static bool removeDirRecursively(const QString &folder);

    // Package analysis.
    int dealUnzipWithProgram(const QString &packagePath, int nSessionID);
    int confirmProgramUpall(int nSessionID, const Json::Value &installDesc);
    int makePartUnImag(const QString &fileName, const QString &filePath, int nSessionID, int slot);
    // 100; 300012 when the extractor cannot be started; 300003 when the
    // image lists or unpacks to more than the partition cap (the partial tree
    // is removed) or the extraction was stopped. A failing extractor is not
    // reported otherwise.
    int runUnsquashfs(const QByteArray &imagePath, const QByteArray &targetFolder);
    QString findCustomPartPath(int nSessionID, QString *partName);
    static QString findCustomFolder(const QString &folder);
    int getDevInfoFormCustom(const QString &customFolder, int nSessionID);
    int getLogoPartInfoFromCustom(
        const QString &customPartName, int nSessionID, const Json::Value &installDesc);
    // Whole-file reads of a package's texts: only a plain file reached from
    // `within` (the session's folder; empty: the file's own folder) without
    // following a link, of at most kMaxReadBytes (above it: Ret::DiyNoMemory).
    static int getBinDataFromLocalFile(
        const QString &path, QByteArray *out, const QString &within = QString());
    static int readJsonFile(const QString &path, Json::Value *out, const QString &within = QString());

    // The squashfs extractor: the program (default: "unsquashfs" beside the
    // service when it is there, else Debian's) and its time limit.
    void setUnsquashfsProgram(const QString &program) { m_unsquashfs = program; }
    QString unsquashfsProgram() const;
    void setExtractTimeoutMs(int ms) { m_extractTimeoutMs = ms; }
    // What one partition image may unpack to.
    void setPartitionMaxBytes(qint64 bytes) { m_partitionMaxBytes = bytes; }
    // The read call of the install description's read (tests read short).
    void setInstallDescReadCall(DiyTree::ReadCall call) { m_installDescRead = call; }

    // Custom configuration: one file per setting in the produce folder, named
    // after the setting. A setting name is one file-name segment (no "/",
    // "\\", NUL, and neither "." nor ".."); any other is refused.
    static bool isSettingName(const QString &name);
    int readExtDevIDConfig(int nSessionID);
    int readProgromCustom(int nSessionID);
    QString getCustomConfig(const QString &name, int channel, int nSessionID);
    int writeCustomConfig(const QString &folder, const QString &name, const QString &jsonText);
    int writeCustomConfigArray(const QString &jsonText, const QString &key, const QString &folder);
    // Each element as its own setting "<key>.[<index>]"; the first failure ends it.
    int writeCustomConfigElements(const QJsonArray &elements, const QString &key, const QString &folder);
    static QString compareJson(const QString &localText, const QString &pageText);
    static void compareJsonValue(QJsonValue &target, const QJsonValue &source);
    // The same merge over jsoncpp values.
    static void compareJsonNode(Json::Value &target, const Json::Value &source);
    int dealAbnormalJson(QString *text);
    QString getMultiLanguage(int nSessionID);

    // Logos.
    int readPowerOnLogo(int nSessionID);
    int checkLogoFormat(const QString &path, int logoType);
    int dealWithLogo(int nSessionID, const QString &path, int logoType);
    int writeExtDevIDConfig(const QString &newVersion, int nSessionID);
    int writeProgramInfo(int nSessionID);

    // Package output. The zip is written beside `zipPath` and renamed into
    // place once whole; on failure whatever was at the path stays.
    bool makeProduceZip(const QString &sourceFolder, const QString &zipPath);
    // Adds the plain files under `folder`, except `skipPath` and any path
    // that starts with `skipPrefix`.
    bool addDirToZip(QZipWriter *writer, const QString &folder, const QString &baseFolder,
        const QString &skipPath = QString(), const QString &skipPrefix = QString());
    int unzipProgram(const QByteArray &zipPath, const QByteArray &folder);
    int zipProduceFolder(int nSessionID);

private:
    enum class Extraction { Done, CannotStart, OverCap, Stopped };
    Extraction extractSquashfs(
        const QByteArray &imagePath, const QByteArray &targetFolder, const std::atomic<bool> *stop);

    QString m_appDir;
    QString m_unsquashfs;
    int m_extractTimeoutMs = kDefaultExtractTimeoutMs;
    qint64 m_partitionMaxBytes = kDefaultPartitionMaxBytes;
    DiyTree::ReadCall m_installDescRead = nullptr;
    // Guards m_sessions and m_stopFlags; a standard mutex, which
    // ThreadSanitizer sees, as it does not see Qt's.
    std::mutex m_mutex;
    QMap<int, DiySessionInfo *> m_sessions;
    QMap<int, std::shared_ptr<std::atomic<bool>>> m_stopFlags;
};
