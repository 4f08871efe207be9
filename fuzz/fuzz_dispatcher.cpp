// Feeds arbitrary texts to the player's request manager, as the link would,
// and checks that every answer is a JSON object: a reply with a "Ret" code or
// an event with a "MainEvent".
#include "PluginManage.h"
#include "common/Json.h"
#include "common/ProgramDir.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <functional>

namespace {

struct Harness
{
    Harness()
    {
        // No log files for this program.
        QFile cfg(ProgramDir::folder() + QStringLiteral("/ClientCfg.ini"));
        if (!cfg.exists() && cfg.open(QIODevice::WriteOnly))
            cfg.write("[Enable]\nPrintLogEn=false\n");
        cfg.close();
        static int argc = 1;
        static char name[] = "fuzz_dispatcher";
        static char *argv[] = { name, nullptr };
        app = new QCoreApplication(argc, argv);
        qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
        manage = new CPluginManage(QString(), 1);
        QObject::connect(
            manage, &CPluginManage::sendWebSocketMsgSig, manage,
            [this](const QString &msg) { replies.append(msg); }, Qt::DirectConnection);
    }

    QCoreApplication *app = nullptr;
    CPluginManage *manage = nullptr;
    QStringList replies; // touched on the worker thread only while the caller waits
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness harness;
    const QString msg = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    harness.replies.clear();
    // Handlers hand window work to this (the GUI) thread and wait for it:
    // serve those tasks until the request is done.
    QAtomicInt done = 0;
    QMetaObject::invokeMethod(
        harness.manage,
        [&] {
            harness.manage->onRecvWebsocketMsg(msg);
            done.storeRelease(1);
        },
        Qt::QueuedConnection);
    while (!done.loadAcquire())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (const QString &reply : harness.replies) {
        Json::Value root;
        if (!JsonUtil::parse(reply, &root) || !root.isObject()
            || (!root.isMember("Ret") && !root.isMember("MainEvent")))
            std::abort();
    }
    return 0;
}
