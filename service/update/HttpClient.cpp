#include "HttpClient.h"

#include "common/CancelFlag.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

CHttpClient::CHttpClient(CancelFlag *cancel, QObject *parent)
    : QObject(parent)
    , m_cancel(cancel)
{ }

int CHttpClient::mapNetworkError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::RemoteHostClosedError:
        return RemoteClosed;
    case QNetworkReply::HostNotFoundError:
        return HostNotFound;
    case QNetworkReply::TimeoutError:
        return TimedOut;
    case QNetworkReply::ContentAccessDenied:
        return AccessDenied;
    case QNetworkReply::ContentOperationNotPermittedError:
        return NotPermitted;
    case QNetworkReply::ContentNotFoundError:
        return NotFound;
    case QNetworkReply::ServiceUnavailableError:
        return Unavailable;
    default:
        return OtherError;
    }
}

QString CHttpClient::errorString(int code)
{
    switch (code) {
    case FileCreateFailed:
        return tr("Failed to create download file");
    case RemoteClosed:
        return tr("The remote server closed the connection");
    case HostNotFound:
        return tr("The remote host name was not found");
    case TimedOut:
        return tr("The connection to the remote server timed out");
    case AccessDenied:
        return tr("The access to the remote content was denied");
    case NotPermitted:
        return tr("The operation requested on the remote content is not permitted");
    case NotFound:
        return tr("The remote content was not found at the server");
    case Unavailable:
        return tr("The server is unable to handle the request at this time.");
    default:
        return QStringLiteral("%1:%2").arg(tr("Unknow Err")).arg(code);
    }
}

int CHttpClient::writeFile(const QString &path, const QByteArray &data)
{
    if (data.size() < 1)
        return EmptyBody;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return FileCreateFailed;
    if (file.write(data) != data.size())
        return FileCreateFailed;
    return Ok;
}

int CHttpClient::request(const QString &url, const QByteArray *postBody, QByteArray *answer, int timeoutMs)
{
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return OtherError;
    if (timeoutMs <= 0)
        return TimedOut;
    if (m_cancel && m_cancel->cancelled())
        return Cancelled;
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        if (!m_manager)
            return NoManager;
    }
    QNetworkRequest request(address);
    QNetworkReply *reply;
    if (postBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        request.setHeader(QNetworkRequest::ContentLengthHeader, postBody->size());
        reply = m_manager->post(request, *postBody);
    } else {
        reply = m_manager->get(request);
    }

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool timedOut = false;
    connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    // Raising the flag posts the loop's end to this thread: the wait ends at
    // once, whatever the server does.
    const int watch = m_cancel
        ? m_cancel->watch([&loop] { QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection); })
        : -1;
    if (watch != 0 && !reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (watch > 0)
        m_cancel->unwatch(watch);
    timer.stop();
    disconnect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    int result = Ok;
    if (m_cancel && m_cancel->cancelled() && !reply->isFinished())
        result = Cancelled;
    else if (timedOut && !reply->isFinished())
        result = TimedOut;
    else if (reply->error() != QNetworkReply::NoError)
        result = mapNetworkError(reply->error());
    else
        *answer = reply->readAll();
    reply->abort();
    reply->deleteLater();
    return result;
}

int CHttpClient::downloadFile(const QString &url, const QString &filePath, int timeoutMs)
{
    QByteArray body;
    const int result = request(url, nullptr, &body, timeoutMs);
    return result != Ok ? result : writeFile(filePath, body);
}

int CHttpClient::getString(const QString &url, QString &out, int timeoutMs)
{
    QByteArray body;
    const int result = request(url, nullptr, &body, timeoutMs);
    if (result == Ok)
        out = QString::fromUtf8(body);
    return result;
}

int CHttpClient::postJson(const QString &url, const QString &body, QString &out, int timeoutMs)
{
    QByteArray bytes = body.toLocal8Bit();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    QByteArray answer;
    const int result = request(url, &bytes, &answer, timeoutMs);
    if (result == Ok)
        out = QString::fromUtf8(answer);
    return result;
}
