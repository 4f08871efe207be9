// The page's files, served by the socket server's loop.
#include "PageFileServer.h"

#include "HttpReply.h"
#include "HttpRequest.h"
#include "RequestTasks.h"
#include "UpdateChecks.h"
#include "common/Protocol.h"

#include <QFileInfo>

PageFileServer::PageFileServer(const QString &webRoot, const QString &appDir, UpdateChecks &updateChecks)
    : m_webRoot(webRoot)
    , m_appDir(appDir)
    , m_updateChecks(updateChecks)
{ }

PageFileServer::Reply PageFileServer::serve(const std::string &target, int socket)
{
    const HttpRequest::FilePath path = HttpRequest::parseFilePath(target);
    Reply reply;
    auto notFound = [&reply](int code) {
        reply.head = HttpReply::httpFileHead(9, 0);
        reply.code = code;
        return std::move(reply);
    };
    if (path.tooLong)
        return notFound(Ret::FileLineTooLong);
    if (!path.ok)
        return notFound(Ret::FileNotFound);

    QString base;
    QString relative = path.relative;
    switch (path.place) {
    case HttpRequest::Place::ServiceCfg:
        base = m_appDir + QStringLiteral("/Cfg");
        relative = relative.mid(4);
        break;
    case HttpRequest::Place::Style:
        base = m_webRoot + QLatin1Char('/') + path.style;
        if (HttpRequest::holdsFolder(base, m_appDir))
            return notFound(Ret::FileNotFound);
        break;
    case HttpRequest::Place::Web:
        base = m_webRoot + QStringLiteral("/Web");
        break;
    }
    const QString fileName = base + QLatin1Char('/') + relative;

    // The page's "common.js" (any path that holds the name) is served after
    // the update check, which installs a newer page first when the web-file
    // server has one. When no check can start (or none is configured), the
    // file is served at once as it is.
    const bool commonJs
        = path.place != HttpRequest::Place::ServiceCfg && relative.contains(QLatin1String("common.js"));
    if (commonJs && !CCheckUpdateStateTask::serverBase(m_appDir).isEmpty()
        && m_updateChecks.ask(path.style, fileName, socket)) {
        reply.code = Ret::FileHandedToTask;
        reply.taken = true;
        return reply;
    }

    const QFileInfo info(fileName);
    if (!info.exists())
        return notFound(Ret::FileNotFound);
    const QString real = HttpRequest::confinedPath(fileName, base);
    if (real.isEmpty())
        return notFound(Ret::FileNotFound);
    if (!QFileInfo(real).isFile())
        return notFound(Ret::FileNotRegular);
    auto file = std::make_unique<QFile>(real);
    if (!file->open(QIODevice::ReadOnly)) {
        if (commonJs)
            return notFound(Ret::FileSendFailed);
        reply.code = Ret::FileSendFailed;
        return reply;
    }
    const qint64 size = file->size();
    const int type
        = commonJs ? HttpReply::fileTypeOfName(fileName) : HttpReply::fileTypeOfPath(path.typePath);
    reply.head = HttpReply::httpFileHead(type, size);
    reply.file = std::move(file);
    reply.size = size;
    reply.code = Ret::Ok;
    return reply;
}
