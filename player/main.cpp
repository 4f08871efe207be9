// The player: started by the service once per page session with the command
// line <session id> <local server> <player folder> [<browser window>].

#include "DataCenter.h"
#include "LibraryLog.h"
#include "LightWeightLog.h"
#include "ListenThread.h"
#include "PlayWidget.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "PluginRegion.h"
#include "QNConnect.h"
#include "Talk.h"
#include "TalkTopic.h"
#include "VoiceCustom.h"
#include "common/EventDispatcher.h"
#include "common/ExitGuard.h"
#include "common/NumericLocale.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <functional>

namespace {

constexpr int kExitBadCommandLine = 2;
constexpr int kExitNoLink = 3;

int failStart(const char *reason, bool logged)
{
    std::fprintf(stderr, "%s\n", reason);
    if (logged) {
        playerLog("main", QString::fromLatin1(reason), LightWeightLog::Error);
        LightWeightLog::shutdown();
    }
    return kExitBadCommandLine;
}

int connectTimeoutMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("TEVORA_CONNECT_TIMEOUT_MS", &ok);
    return ok && ms >= 0 ? ms : ListenThread::kDefaultConnectTimeoutMs;
}

void loadStyleSheet(QApplication &app)
{
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/style.ss"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    app.setStyleSheet(QString::fromUtf8(file.readAll()));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 4)
        return failStart("plugin argc incorrect", false);

    const QString browserWnd = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
    playerLog("main",
        QStringLiteral("argv0=%1, argv1=%2, argv2=%3, argv3=%4, argv4=%5")
            .arg(QString::fromLocal8Bit(argv[0]), QString::fromLocal8Bit(argv[1]),
                QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), browserWnd),
        LightWeightLog::Normal);
    QCoreApplication::addLibraryPath(QString::fromLocal8Bit(argv[3]));

    bool ok = false;
    const int sessionId = QString::fromLocal8Bit(argv[1]).toInt(&ok, 10);
    if (!ok)
        return failStart("sessionID incorrect", true);
    const QString serverName = QString::fromLocal8Bit(argv[2]);
    if (serverName.isEmpty())
        return failStart("serverName incorrect", true);

    int exitCode = 0;
    {
        useDirectEventDispatcher();
        QApplication app(argc, argv);
        ExitGuard::install("player");
        useCNumericLocale();
        LibraryLog::install();
        playerLog("main", QStringLiteral("start plugin"), LightWeightLog::Normal);
        loadStyleSheet(app);
        qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
        qRegisterMetaType<PluginRegion>("PluginRegion");
        CDataCenter::instance()->setSessionId(sessionId);

        // The window is made by the first request that needs it, on this
        // thread; the device library's threads only ever reach its data input.
        PlayerWindow::setProvider(&PlayWidget::facadeForCurrentThread);
        PlayerWindow::setExistingProvider(&PlayWidget::existingFacade);
        TalkTopic::setTalkFactory([] { return std::make_unique<CTalk>(); });
        PlayerWindow::setStreamInputProvider(&PlayWidget::dataEntry);
        auto *manage = new CPluginManage(browserWnd, sessionId);
        auto *link = new ListenThread(serverName, nullptr, connectTimeoutMs());
        if (!link->isConnected()) {
            std::fprintf(stderr, "can't connect to plugin server,serverName:%s\n", qPrintable(serverName));
            exitCode = kExitNoLink;
        } else {
            // The link reads on the request manager's thread, which handles
            // each request as it is read (and, on the link's end, logs out
            // before the quit); every thread writes its messages itself.
            QObject::connect(link, &ListenThread::recvMsgSig, manage, &CPluginManage::onRecvWebsocketMsg,
                Qt::DirectConnection);
            QObject::connect(link, &ListenThread::disconnectSig, manage, &CPluginManage::onDisconnect,
                Qt::DirectConnection);
            QObject::connect(manage, &CPluginManage::sendWebSocketMsgSig, link, &ListenThread::onSendMsg,
                Qt::DirectConnection);
            link->start(manage->workerThread());
            exitCode = app.exec();
        }
        // Orderly end: the link first (no new requests), then the worker,
        // which may still be finishing a task on this thread.
        link->stop();
        manage->stopWorker();
        // Ends a recording or an alarm-voice test still running and joins its thread.
        VoiceCustom::ReleaseInstance();
        PlayWidget::destroyInstance();
        // No device callback runs once the library is cleaned up.
        CQNConnect::ReleaseInstance();
        CDataCenter::releaseInstance();
        delete link;
        delete manage;
        PlayerWindow::setProvider(nullptr);
        PlayerWindow::setExistingProvider(nullptr);
        PlayerWindow::setStreamInputProvider(nullptr);
    }
    LightWeightLog::shutdown();
    ExitGuard::markOrderlyExit();
    return exitCode;
}
