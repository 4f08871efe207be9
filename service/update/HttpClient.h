#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class CancelFlag;
class QNetworkAccessManager;

// Blocking HTTP requests for the socket server's work lanes: each runs a
// local event loop until the reply ends, the time-out fires or the cancel
// flag is raised (from any thread). Certificates are verified as usual; only
// http and https addresses are requested. One object per thread.
class CHttpClient : public QObject
{
public:
    enum Code {
        Ok = 0,
        OtherError = 1,
        NoManager = 2,
        FileCreateFailed = 3,
        EmptyBody = 4,
        RemoteClosed = 5,
        HostNotFound = 6,
        TimedOut = 7,
        AccessDenied = 8,
        NotPermitted = 9,
        NotFound = 10,
        Unavailable = 11,
        Cancelled = 12
    };

    // `cancel`, when given, must outlive the object; once it is raised every
    // request ends at once with Cancelled.
    explicit CHttpClient(CancelFlag *cancel = nullptr, QObject *parent = nullptr);

    // A time-out of 0 or less times out at once. A reply cut off by the
    // time-out is a failure (7), never a success with what came so far.
    int downloadFile(const QString &url, const QString &filePath, int timeoutMs);
    int getString(const QString &url, QString &out, int timeoutMs);
    int postJson(const QString &url, const QString &body, QString &out, int timeoutMs);

    static int mapNetworkError(QNetworkReply::NetworkError error);
    static QString errorString(int code);
    // 4 for no data, 3 when the file cannot be created, else 0.
    static int writeFile(const QString &path, const QByteArray &data);

private:
    int request(const QString &url, const QByteArray *postBody, QByteArray *answer, int timeoutMs);

    CancelFlag *m_cancel;
    QNetworkAccessManager *m_manager = nullptr;
};
