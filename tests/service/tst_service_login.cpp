// End to end: a page (Python websockets) logs in to a simulated device through
// QuorvelTool and the real player, on a private X server whose window in front
// carries the browser's title; then re-logs in, logs out and leaves.

#include "ServiceTestSupport.h"
#include "XvfbSession.h"

#include <QJsonArray>
#include <QtTest>

#include <memory>

using namespace ServiceTest;

namespace {

bool isStatusEvent(const QJsonObject &o)
{
    return o.value(QStringLiteral("MainEvent")).toInt(-1) == 0
        && o.value(QStringLiteral("SubEvent")).toInt(-1) == 5;
}

const char kLogin[] = "{\"MainType\":8,\"SubType\":0,\"MsgID\":%1,\"Browse\":2,\"WebType\":\"blue\","
                      "\"Device\":{\"LoginType\":0,\"IP\":\"10.0.0.5\",\"Port\":34567,\"User\":\"admin\","
                      "\"Password\":\"%2\"}}";

} // namespace

class TestServiceLogin : public QObject
{
    Q_OBJECT

private:
    XvfbSession m_x;
    xcb_window_t m_browser = 0;
    QTemporaryDir m_dir;
    std::unique_ptr<ServiceCopy> m_copy;
    std::unique_ptr<QProcess> m_service;
    int m_port = 0;

    // The next message that is not a CPU and memory event; those are counted.
    QJsonObject next(PageClient &page, int *statusEvents = nullptr, double timeoutS = 60)
    {
        for (;;) {
            const QString text = page.receive(timeoutS);
            if (text.isNull())
                return QJsonObject();
            const QJsonObject o = parseObject(text);
            if (!isStatusEvent(o))
                return o;
            if (statusEvents)
                ++*statusEvents;
        }
    }
    QList<qint64> players() const { return processesMentioning(m_copy->appDir + "/x64/Tevora_x64"); }
    QString playerLog() const { return playerLogText(m_copy->appDir); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_x.start());
        m_browser = m_x.window("Cameras - Web Viewer - Chromium", "Cameras");
        // The browser's own window hosts the page on X11; its class names the browser.
        m_x.setChromiumClass(m_browser);
        m_x.focus(m_browser);
        QFile devices(m_dir.filePath(QStringLiteral("devices.json")));
        QVERIFY(devices.open(QIODevice::WriteOnly));
        devices.write(R"({"anyAddress":false,"devices":[{"ip":"10.0.0.5","user":"admin","password":"secret",
            "channels":16,"maxLogins":1,"name":"Gate NVR","defaultRecordings":false}]})");
        devices.close();
    }
    void init()
    {
        m_copy = std::make_unique<ServiceCopy>();
        QVERIFY(m_copy->prepare(realPlayer()));
        m_copy->extraEnv.insert(QStringLiteral("DISPLAY"), m_x.display());
        m_copy->extraEnv.insert(
            QStringLiteral("KESTRIX_DEVICES"), m_dir.filePath(QStringLiteral("devices.json")));
        m_service = m_copy->start(&m_port);
        QVERIFY(m_port > 0);
    }
    void cleanup()
    {
        ServiceTest::stopService(m_service);
        QTRY_VERIFY_WITH_TIMEOUT(players().isEmpty(), 30000);
        m_copy.reset();
    }

    void loginReloginLogout()
    {
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());

        // A wrong password: the library's number and the mapped code.
        QVERIFY(page.send(QString::fromLatin1(kLogin).arg(1).arg(QStringLiteral("guess"))));
        QJsonObject reply = next(page);
        QCOMPARE(reply.value("Ret").toInt(), 106);
        QCOMPARE(reply.value("ErrorCode").toInt(), -11301);
        QVERIFY(!reply.contains("CloudErrCode"));

        QVERIFY(page.send(QString::fromLatin1(kLogin).arg(2).arg(QStringLiteral("secret"))));
        reply = next(page);
        QStringList keys = reply.keys();
        QCOMPARE(keys, (QStringList { "DPIRadio", "Id", "Msg", "MsgID", "Ret", "SubMsg", "adjustBytool" }));
        QCOMPARE(reply.value("Msg").toInt(), 8);
        QCOMPARE(reply.value("SubMsg").toInt(), 0);
        QCOMPARE(reply.value("MsgID").toInt(), 2);
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QCOMPARE(reply.value("Id").toInt(), 1); // the first session of this service
        // The render window of browse kind 2 is the browser's window itself.
        QVERIFY(reply.value("adjustBytool").isBool());
        QCOMPARE(reply.value("adjustBytool").toBool(), true);
        QVERIFY(reply.value("DPIRadio").toInt() > 0);

        // Logged in: the CPU and memory event comes once a second.
        int status = 0;
        QElapsedTimer clock;
        clock.start();
        while (status < 3 && clock.elapsed() < 15000) {
            const QString text = page.receive(5);
            QVERIFY(!text.isNull());
            const QJsonObject o = parseObject(text);
            QVERIFY2(isStatusEvent(o), qPrintable(text));
            for (const char *key : { "AppCpu", "SystemCpu", "AppMemory" })
                QVERIFY2(o.value(QLatin1String(key)).isDouble(), key);
            ++status;
        }
        QCOMPARE(status, 3);
        // Three ticks take about two seconds, not a burst.
        QVERIFY(clock.elapsed() >= 1000);

        // Again: the device takes one login at a time, so this works only when
        // the player logged out of the first one before.
        QVERIFY(page.send(QString::fromLatin1(kLogin).arg(3).arg(QStringLiteral("secret"))));
        reply = next(page);
        QCOMPARE(reply.value("MsgID").toInt(), 3);
        QCOMPARE(reply.value("Ret").toInt(), 100);

        // The logout has no reply: the next answer is that of the request behind it.
        QVERIFY(page.send(QStringLiteral("{\"MainType\":9,\"SubType\":0,\"MsgID\":4}")));
        QVERIFY(page.send(QStringLiteral("{\"MainType\":13,\"SubType\":0,\"MsgID\":5}")));
        reply = next(page);
        QCOMPARE(reply, parseObject(QStringLiteral("{\"Msg\":13,\"SubMsg\":0,\"Ret\":1020,\"MsgID\":5}")));
        // Logged out: no more CPU and memory events (two ticks' time).
        QVERIFY(page.receive(2.5).isNull());

        QVERIFY(page.close());
        QTRY_VERIFY_WITH_TIMEOUT(players().isEmpty(), 30000);

        // The player's log tells the order: the first login ended before the second began.
        const QString log = playerLog();
        const QRegularExpression success(QStringLiteral("ConnectDevice success,LoginID=(\\d+)"));
        QStringList ids;
        for (auto it = success.globalMatch(log); it.hasNext();)
            ids.append(it.next().captured(1));
        QCOMPARE(ids.size(), 2);
        const int firstOut = log.indexOf(QStringLiteral("Disconnect Device LoginID=%1").arg(ids[0]));
        const int secondIn = log.indexOf(QStringLiteral("ConnectDevice success,LoginID=%1").arg(ids[1]));
        QVERIFY(firstOut > 0 && firstOut < secondIn);
        QVERIFY(log.indexOf(QStringLiteral("Disconnect Device LoginID=%1").arg(ids[1])) > secondIn);
        QVERIFY(log.contains(QStringLiteral("channel num=16")));
        QVERIFY(
            log.contains(QStringLiteral("Name=Cameras - Web Viewer - Chromium Hwnd=%1 WindName=Web Viewer")
                             .arg(m_browser)));
        QVERIFY(!log.contains(QStringLiteral("secret")));
        QVERIFY(log.contains(
            QStringLiteral("class name:Chromium,class handle:%1 wndName:Cameras - Web Viewer - Chromium "
                           "BrowseType:2")
                .arg(m_browser)));
    }

    // Without the browser's window in front the login is refused with 1003.
    void noBrowserWindow()
    {
        m_x.focus(m_x.root());
        PageClient page(wsUrl(m_port));
        QVERIFY(page.opened());
        QVERIFY(page.send(QStringLiteral("{\"MainType\":8,\"Device\":{\"IP\":\"10.0.0.5\",\"User\":\"admin\","
                                         "\"Password\":\"secret\"}}")));
        const QJsonObject reply = next(page);
        m_x.focus(m_browser);
        QCOMPARE(reply.value("Ret").toInt(), 1003);
        // Without MsgID: none in the reply, and the flag as a number.
        QVERIFY(!reply.contains("MsgID"));
        QVERIFY(reply.value("adjustBytool").isDouble());
        QCOMPARE(reply.value("adjustBytool").toInt(), 0);
        QVERIFY(!reply.contains("ErrorCode"));
        QVERIFY(page.close());
    }

    // Two pages asking for their session keys at the same moment get different ones.
    void sessionKeys()
    {
        PageClient first(wsUrl(m_port));
        PageClient second(wsUrl(m_port));
        QVERIFY(first.opened());
        QVERIFY(second.opened());
        QVERIFY(first.send(QStringLiteral("{\"MainType\":32,\"SubType\":0,\"MsgID\":1}")));
        QVERIFY(second.send(QStringLiteral("{\"MainType\":32}")));
        QStringList keys;
        for (PageClient *page : { &first, &second }) {
            const QJsonObject reply = next(*page);
            QCOMPARE(reply.value("Msg").toInt(), 32);
            QCOMPARE(reply.value("Ret").toInt(), 100);
            const QJsonObject key = reply.value("key").toObject();
            QCOMPARE(key.value("iv").toString(), QString());
            const QString k = key.value("key").toString();
            QCOMPARE(k.size(), 16);
            for (const QChar c : k)
                QVERIFY(c.unicode() >= 33 && c.unicode() <= 126);
            keys.append(k);
        }
        QVERIFY(keys[0] != keys[1]);
        QVERIFY(first.close());
        QVERIFY(second.close());
    }
};

QTEST_GUILESS_MAIN(TestServiceLogin)
#include "tst_service_login.moc"
