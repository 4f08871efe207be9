#pragma once

#include <QString>

class QLocalServer;
class QLocalSocket;

// A QLocalServer name on Linux is a socket file in /tmp that any user could
// take first or connect to. The service's player link listens instead on a
// full path in the user's private runtime folder, with owner-only access, and
// checks which process is at the other end of every connection.
namespace LocalLink {

// <user runtime folder>/<name>; empty when there is no private folder.
QString serverPath(const QString &name);

// Removes a stale socket file at `path` and listens there with owner-only
// access. On failure returns false and sets `error`.
bool listenOwnerOnly(QLocalServer *server, const QString &path, QString *error);

// Process id of the peer of a connected local socket (SO_PEERCRED), or -1.
qint64 peerProcessId(const QLocalSocket *socket);
// The same for a raw socket descriptor.
qint64 peerProcessId(qintptr descriptor);

} // namespace LocalLink
