#include "LocalLink.h"

#include "UserRuntime.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/socket.h>
#include <sys/un.h>

namespace LocalLink {

QString serverPath(const QString &name)
{
    const QString dir = UserRuntime::dir();
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + name;
}

bool listenOwnerOnly(QLocalServer *server, const QString &path, QString *error)
{
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("no private runtime folder for the socket");
        return false;
    }
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= int(sizeof(sockaddr_un::sun_path))) {
        if (error)
            *error = QStringLiteral("socket path too long: %1").arg(path);
        return false;
    }
    // A socket file left behind by a copy that was killed would make listen fail.
    QLocalServer::removeServer(path);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1: %2").arg(path, server->errorString());
        return false;
    }
    return true;
}

qint64 peerProcessId(qintptr descriptor)
{
    if (descriptor < 0)
        return -1;
    struct ucred cred = {};
    socklen_t len = sizeof cred;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return -1;
    return cred.pid > 0 ? qint64(cred.pid) : -1;
}

qint64 peerProcessId(const QLocalSocket *socket)
{
    return socket ? peerProcessId(socket->socketDescriptor()) : -1;
}

} // namespace LocalLink
