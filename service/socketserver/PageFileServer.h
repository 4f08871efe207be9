#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>
#include <string>

class UpdateChecks;

// The page's files for GET requests: the web root's page folder, a style's
// folder beside it, the service's "Cfg" folder; nothing outside them. A
// page's "common.js" goes through its style's update check when a web-file
// server is configured and a check can run.
class PageFileServer
{
public:
    struct Reply
    {
        QByteArray head; // empty and not taken: the connection is closed
        std::unique_ptr<QFile> file; // sent after the head, `size` bytes
        qint64 size = 0;
        bool taken = false; // an update check owns the socket now
        int code = 0; // Ret::Ok or one of the Ret::File codes
    };

    PageFileServer(const QString &webRoot, const QString &appDir, UpdateChecks &updateChecks);

    // The loop's thread: the reply for the request target, or the socket
    // taken by an update check.
    Reply serve(const std::string &target, int socket);

private:
    const QString m_webRoot;
    const QString m_appDir;
    UpdateChecks &m_updateChecks;
};
