#pragma once

#include <QByteArray>
#include <QString>

class QFile;

// Work of the socket server that would block its loop, run on its work
// lanes. A task only does the waiting; the reply goes back to the loop,
// which sends it. Each takes the lane's cancel flag: once it is raised every
// HTTP wait ends at once.

class CancelFlag;

// A version record read from a version text.
struct UpdateInfo
{
    QString version;
    QString md5;
};

// The check behind a page's "common.js": compares the installed page's
// version with the web-file server's and installs a newer package when there
// is one. A package is unpacked into a staging folder and takes the installed
// page's place only when it unpacked whole.
class CCheckUpdateStateTask
{
public:
    // `appDir` holds "QuorvelToolVersion.ini" with the server's address.
    CCheckUpdateStateTask(const QString &webRoot, const QString &styleName, const QString &appDir,
        CancelFlag *cancel = nullptr);

    // Ret::Ok when the style's installed page is to be served now, else the
    // failure's code (the page then gets the not-found page).
    int check();
    // Opens `fileName`, a file of the style's folder, for serving: Ret::Ok,
    // 120002, 120003 or 120004.
    int openLocalFile(const QString &fileName, QFile *file) const;

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

private:
    // Installs the server's package.
    int update(const UpdateInfo &server);

    QString m_webRoot;
    QString m_styleName;
    QString m_appDir;
    CancelFlag *m_cancel;
};

// A MainType 202 control request: posts the page's JSON text to an outside
// http or https address and answers with what came back.
class CGIReqThreadTask
{
public:
    // Longest time an outside request may take.
    static constexpr int kMaxTimeoutMs = 60000;

    explicit CGIReqThreadTask(const QByteArray &request, CancelFlag *cancel = nullptr);
    // The whole reply for the page; empty when the request is to be closed
    // unanswered (it is invalid, or the wait was cancelled).
    QByteArray run();

private:
    QByteArray m_request;
    CancelFlag *m_cancel;
};
