#pragma once

#include <QByteArray>
#include <QRunnable>
#include <QString>

class QFile;

// Work of the socket server that would block it, run on the global thread
// pool. Each task owns the socket of the request that started it and closes
// it when done.

// A version record read from a version text.
struct UpdateInfo
{
    QString version;
    QString md5;
};

// Runs when a page asks for its "common.js": compares the installed page's
// version with the web-file server's, installs a newer package when there is
// one, then serves the file. With no web-file server configured it only
// serves the file. A package is unpacked into a staging folder and takes the
// installed page's place only when it unpacked whole. Checks of one style ask
// the server side by side and then take turns to compare and install.
class CCheckUpdateStateTask : public QRunnable
{
public:
    // `appDir` holds "QuorvelToolVersion.ini" with the server's address.
    void setParams(const QString &webRoot, int socket, const QString &styleName, const QString &fileName,
        const QString &appDir);
    void run() override;

    // Version-only mode: 100 when the text has a version line and no MD5
    // line; else both lines are needed.
    static int parseVersion(const QString &text, UpdateInfo *info, bool versionOnly);
    // Compares by the numbers in the texts, part by part: V1.0.10 is newer
    // than V1.0.9. Negative, 0 or positive.
    static int compareVersions(const QString &a, const QString &b);
    // The web-file server's base address, ending in "/"; empty when none is
    // configured.
    static QString serverBase(const QString &appDir);

    int getRemoteInfoUrl(const QString &styleName, UpdateInfo *info);
    int getUpdateZipUrl(const QString &styleName, QString *zipPath);
    // Opens and sends the task's file: Ret::Ok, 120002, 120003 or 120004.
    int sendLocalFile();

private:
    int openLocalFile(QFile *file);
    int sendOpenFile(QFile *file);
    // Installs the server's package and opens the file from it.
    int update(const UpdateInfo &server, QFile *file);

    QString m_webRoot;
    int m_socket = -1;
    QString m_fileName;
    QString m_styleName;
    QString m_appDir;
};

// A MainType 202 control request: posts the page's JSON text to an outside
// http or https address and answers with what came back.
class CGIReqThreadTask : public QRunnable
{
public:
    // Longest time an outside request may take.
    static constexpr int kMaxTimeoutMs = 60000;

    CGIReqThreadTask(const QByteArray &request, int socket);
    void run() override;

private:
    QByteArray m_request;
    int m_socket;
};
