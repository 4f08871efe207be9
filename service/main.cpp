// QuorvelTool: the desktop service. One copy runs per user; it accepts page
// sessions, starts one player per session and relays their messages.

#include "ClientRegistry.h"
#include "DiyFirmware.h"
#include "GeneralSocket.h"
#include "InstanceGuard.h"
#include "PluginServer.h"
#include "ServiceLog.h"
#include "WebSocketServerThread.h"
#include "common/EventDispatcher.h"
#include "common/ExitGuard.h"
#include "common/NumericLocale.h"
#include "common/ProgramDir.h"
#include "common/QuitOnSignal.h"

#include <QApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <functional>

Q_DECLARE_METATYPE(std::function<void(void)>)

namespace {

// The service draws nothing; without a display it still runs.
void chooseDisplayPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

int startFailure(const QString &text)
{
    std::fprintf(stderr, "QuorvelTool: %s\n", qPrintable(text));
    std::fflush(stderr);
    ServiceLog::instance()->write(ServiceLog::Error, QStringLiteral("main"), text, ServiceLog::Quorvat);
    return 1;
}

} // namespace

static int runService(int argc, char *argv[])
{
    chooseDisplayPlatform();
    useDirectEventDispatcher();
    QApplication app(argc, argv);
    ExitGuard::install("QuorvelTool");
    useCNumericLocale();

    // A second copy under the same name exits at once, creating nothing.
    const QString baseName = QFileInfo(ProgramDir::executablePath()).fileName();
    InstanceGuard guard(baseName);
    if (!guard.tryAcquire()) {
        // Another copy runs: done. No safe place for the lock: a failure.
        if (guard.errorText().isEmpty())
            return 0;
        std::fprintf(stderr, "QuorvelTool: %s\n", qPrintable(guard.errorText()));
        return 1;
    }

    // SIGTERM and Ctrl-C end the event loop (one that comes during start-up
    // ends it as soon as it runs), and so run the shutdown after it: pages
    // closed with 1001, players ended, the customiser's work undone.
    QuitOnSignal::install({ SIGTERM, SIGINT });

    const QString appDir = ProgramDir::folder();
    ServiceLog::instance()->init(appDir + QStringLiteral("/Log"), ServiceLog::KeepMonth);

    // The long-lived parts, in this order: player launcher, WebSocket server,
    // raw socket server, firmware customiser.
    PluginServer *pluginServer = PluginServer::instance();
    if (!pluginServer->isListening())
        return startFailure(QStringLiteral("create plugin server fail: %1").arg(pluginServer->listenError()));
    WebSocketServerThread *webSocketServer = WebSocketServerThread::instance();
    if (!webSocketServer->isListening()) {
        PluginServer::releaseInstance();
        return startFailure(QStringLiteral("create websocket server fail"));
    }
    // The raw socket server listens now; its thread starts once its signals
    // are connected. Without a free port the rest of the service runs on.
    GeneralSocket *generalSocket = GeneralSocket::instance();
    generalSocket->listen();
    // Session folders an earlier run could not remove (it was killed, say).
    CDiyFirmware::instance()->removeLeftSessionFolders();

    qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");

    // Every connection exists before any front end can accept a page, so no
    // session can lose its player to a signal sent too early.
    QObject::connect(
        webSocketServer, &WebSocketServerThread::recvMsgSig, pluginServer, &PluginServer::onRecvWebsocketMsg);
    QObject::connect(webSocketServer, &WebSocketServerThread::disconnectWebsocketSig, pluginServer,
        &PluginServer::onDisconnectWebsocket);
    // Each front end starts its sessions as their owner: the relay hands a
    // session's player messages, and the news that its player is gone, to
    // that front end alone.
    QObject::connect(webSocketServer, &WebSocketServerThread::newConnectionSig, pluginServer,
        [pluginServer, webSocketServer](
            int id, QString wnd) { pluginServer->onNewSession(id, wnd, webSocketServer); });
    // The raw socket server: new session, end of session, page message (the
    // session's thread waits until the relay has taken it), window handle for
    // the WebSocket server.
    QObject::connect(generalSocket, &GeneralSocket::sigNewGeneralSocketConnect, pluginServer,
        [pluginServer, generalSocket](
            int id, QString wnd) { pluginServer->onNewSession(id, wnd, generalSocket); });
    QObject::connect(
        generalSocket, &GeneralSocket::sigDestoryNamedPipe, pluginServer, &PluginServer::onClosePipe);
    QObject::connect(generalSocket, &GeneralSocket::sigSendGeneralSocketMsg, pluginServer,
        &PluginServer::onRecvWebsocketMsg, Qt::BlockingQueuedConnection);
    QObject::connect(generalSocket, &GeneralSocket::sendEmbedBrwoseWndID, webSocketServer,
        &WebSocketServerThread::onEmbedBrwoseWndID);
    // Only now, with all connections made, does the raw socket server's thread start.
    generalSocket->start();

    std::printf("QuorvelTool listening: ws://127.0.0.1:%d (player link %s)\n",
        ClientRegistry::instance()->webSocketPort(), qPrintable(pluginServer->serverPath()));
    std::fflush(stdout);

    const int result = app.exec();

    // Both front ends close their pages together: the socket server's
    // sessions, and its lanes' waits, end while the WebSocket server gives
    // its pages their time to close.
    generalSocket->stop();
    WebSocketServerThread::releaseInstance();
    GeneralSocket::releaseInstance();
    PluginServer::releaseInstance();
    CDiyFirmware::releaseInstance();
    return result;
}

int main(int argc, char *argv[])
{
    const int result = runService(argc, argv);
    ExitGuard::markOrderlyExit();
    return result;
}
