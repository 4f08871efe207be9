// The real player on its local link, with link_peer.py (Python's socket
// module) playing the service's end.
#pragma once

#include "LineProcess.h"

#include <QDir>
#include <QProcess>
#include <QString>

namespace LinkPeer {

inline QString playerPath()
{
    return qEnvironmentVariable("QV_BINARY_DIR") + QStringLiteral("/bin/x64/Tevora_x64");
}

inline QString peerScript()
{
    return qEnvironmentVariable("QV_SOURCE_DIR") + QStringLiteral("/tests/support/link_peer.py");
}

// Starts the peer listening at `socket`; true once it listens.
inline bool listen(LineProcess &peer, const QString &socket)
{
    peer.start(QStringLiteral("/usr/bin/python3"), { peerScript(), socket });
    return peer.sees(QStringLiteral("listening"), 10000);
}

// Starts the player as session 5 on the peer's socket, for the browser
// window `browserWindow`; true once the peer has accepted its link.
inline bool startPlayer(
    QProcess &player, LineProcess &peer, const QString &socket, const QString &browserWindow)
{
    player.start(playerPath(), { QStringLiteral("5"), socket, QDir::tempPath(), browserWindow });
    return peer.sees(QStringLiteral("accepted"), 30000);
}

} // namespace LinkPeer
