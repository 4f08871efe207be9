#pragma once

// Helpers of the socket server tests: a web root laid out as installed, a
// server on a kernel-chosen loopback port, curl as the client.

#include "GeneralSocket.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

namespace SocketTest {

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

struct Reply
{
    int exitCode = -1;
    QByteArray status; // the final status line
    QByteArray head; // the final head, lines joined by "\r\n"
    QByteArray body;
    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : head.split('\n')) {
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
                return line.mid(colon + 1).trimmed();
        }
        return QByteArray();
    }
};

// curl with `args`, headers included in the output; interim 1xx heads are
// skipped. stderr goes to `trace` when given.
inline Reply curl(const QStringList &args, QByteArray *trace = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("curl"), QStringList { QStringLiteral("-s"), QStringLiteral("-i") } + args);
    Reply reply;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return reply;
    }
    reply.exitCode = p.exitCode();
    if (trace)
        *trace = p.readAllStandardError();
    QByteArray out = p.readAllStandardOutput();
    for (;;) {
        const int end = out.indexOf("\r\n\r\n");
        if (end < 0)
            return reply;
        reply.head = out.left(end);
        reply.body = out.mid(end + 4);
        reply.status = reply.head.left(
            reply.head.indexOf("\r\n") < 0 ? reply.head.size() : reply.head.indexOf("\r\n"));
        if (!reply.status.startsWith("HTTP/1.1 1"))
            return reply;
        out = reply.body;
    }
}

// An installed layout: <root>/Service (the service's folder with its two Cfg
// files and a private settings file), <root>/Web (the page), <root>/Blue (a
// style), a file beside them that no request may reach.
class WebRoot
{
public:
    WebRoot()
    {
        appDir = m_dir.path() + QStringLiteral("/Service");
        writeFile(appDir + QStringLiteral("/Cfg/tip.png"), "tip-png");
        writeFile(appDir + QStringLiteral("/Cfg/capture.bmp"), "capture-bmp");
        writeFile(appDir + QStringLiteral("/secret.ini"), "secret-of-the-service");
        writeFile(web(QStringLiteral("index.html")), "<html>index</html>");
        writeFile(web(QStringLiteral("css/main.css")), "body{}");
        writeFile(web(QStringLiteral("Web2/a.PNG")), "png-upper");
        writeFile(web(QStringLiteral("a.Png")), "png-mixed");
        writeFile(web(QStringLiteral("a.JPG")), "jpg-upper");
        writeFile(web(QStringLiteral("pic.jpg")), "jpg");
        writeFile(m_dir.path() + QStringLiteral("/Blue/css/main.css"), "blue{}");
        writeFile(m_dir.path() + QStringLiteral("/outside.txt"), "outside-of-the-web-root");
        QFile::link(m_dir.path() + QStringLiteral("/outside.txt"), web(QStringLiteral("link.txt")));
        QFile::link(appDir, web(QStringLiteral("service")));
    }
    QString root() const { return m_dir.path(); }
    QString web(const QString &name) const { return m_dir.path() + QStringLiteral("/Web/") + name; }

    QString appDir;

private:
    QTemporaryDir m_dir;
};

// A server for `appDir` on a port the kernel picks, started.
inline std::unique_ptr<GeneralSocket> startServer(const QString &appDir)
{
    auto server = std::make_unique<GeneralSocket>(appDir, 0, 0);
    if (!server->listen())
        return nullptr;
    server->start();
    return server;
}

inline QString baseUrl(const GeneralSocket &server)
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server.port());
}

// A control request with `body`, as a page posts it.
inline Reply control(const GeneralSocket &server, const QByteArray &body)
{
    QTemporaryFile file;
    if (!file.open())
        return Reply();
    file.write(body);
    file.flush();
    return curl({ QStringLiteral("-H"), QStringLiteral("Content-Type: application/json"),
        QStringLiteral("--data-binary"), QLatin1Char('@') + file.fileName(),
        baseUrl(server) + QStringLiteral("/Cmd-WebLocalCtrl") });
}

inline QString testSource(const QString &name)
{
    return qEnvironmentVariable("QV_SOURCE_DIR") + QStringLiteral("/tests/service/") + name;
}

// page_server.py in a folder of its own: the web-file server and an outside
// server for control requests.
class PageServer
{
public:
    explicit PageServer(const QString &mode, const QStringList &tls = QStringList())
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
            QStringList { testSource(QStringLiteral("update/page_server.py")), m_dir.path(), mode }
                + (tls.isEmpty() ? QStringList() : QStringList { QStringLiteral("--tls") } + tls));
        while (m_process.waitForReadyRead(20000) || m_process.canReadLine()) {
            if (!m_process.canReadLine())
                continue;
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("port ")) {
                port = line.mid(5).toInt();
                break;
            }
        }
    }
    ~PageServer()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    QString url(const QString &scheme = QStringLiteral("http")) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port);
    }

    int port = 0;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace SocketTest
