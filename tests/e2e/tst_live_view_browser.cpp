// Live view end to end from a real browser: Chromium loads the test page,
// which connects to the service, logs in to a simulated device through the
// player, opens all 16 channels and collects the replies and events. Headed,
// on an X display, the player embeds itself in the browser's window and the
// screen shows its moving pictures.

#include "BrowserPage.h"
#include "ScreenImage.h"
#include "ServiceTestSupport.h"
#include "XvfbServer.h"
#include "XvfbSession.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using BrowserTest::PageRun;
using namespace ServiceTest;

class TestLiveViewBrowser : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ServiceCopy> m_copy;
    std::unique_ptr<QProcess> m_service;

    // `onScreen`: the player draws on the X server (else off screen, as the
    // tests' environment has it) and can embed itself in another window.
    int startService(const QString &display, bool onScreen)
    {
        stopService();
        m_copy = std::make_unique<ServiceCopy>();
        if (!m_copy->prepare(realPlayer()))
            return 0;
        m_copy->extraEnv.insert(QStringLiteral("DISPLAY"), display);
        if (onScreen)
            m_copy->extraEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        int port = 0;
        m_service = m_copy->start(&port);
        return port;
    }

    void stopService()
    {
        ServiceTest::stopService(m_service);
        m_copy.reset();
    }

    // The player's window on the screen, from the X server's window tree.
    static QRect playerWindow(const QString &display)
    {
        const ScreenImage::ToolResult tree = ScreenImage::runTool(QStringLiteral("/usr/bin/xwininfo"),
            { QStringLiteral("-display"), display, QStringLiteral("-root"), QStringLiteral("-tree") });
        // "     0x600005 "Tevora_x64": ("Tevora_x64" "Tevora_x64")  800x450+40+140  +40+235"
        static const QRegularExpression line(
            QStringLiteral("\"Tevora_x64\".*\\s(\\d+)x(\\d+)[+-]\\d+[+-]\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)"));
        QRect best;
        QRegularExpressionMatchIterator it = line.globalMatch(tree.out);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const QRect r(
                m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
            if (r.width() * r.height() > best.width() * best.height())
                best = r;
        }
        return best;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFileInfo(QStringLiteral("/usr/bin/chromium")).isExecutable());
    }
    void cleanupTestCase() { stopService(); }

    // Headless Chromium as the page. The player looks for the browser's
    // window on the desktop: an X window with the page's title stands in front.
    void headlessPageOpensSixteenChannels()
    {
        XvfbSession x;
        QVERIFY(x.start());
        const xcb_window_t browser = x.window("Cameras - Web Viewer - Chromium", "Cameras");
        x.focus(browser);
        const int port = startService(x.display(), false);
        QVERIFY(port > 0);
        const PageRun run = BrowserTest::runSteps(port, BrowserTest::parseSteps(R"([
            {"send": {"MainType": 8, "SubType": 0, "MsgID": 1, "Browse": 0, "WebType": "",
                      "Device": {"LoginType": 0, "IP": "127.0.0.1", "Port": 34567, "User": "admin", "Password": ""}},
             "await": true, "timeout": 20000},
            {"send": {"MainType": 4, "SubType": 0, "MsgID": 2, "Channel": -1, "Stream": 1}, "await": true, "timeout": 20000},
            {"await": {"MainEvent": 0, "SubEvent": 3}},
            {"send": {"MainType": 4, "SubType": 4, "MsgID": 3, "Channel": 5}, "await": true},
            {"send": {"MainType": 4, "SubType": 9, "MsgID": 4, "Channel": 0}, "await": true},
            {"send": {"MainType": 4, "SubType": 1, "MsgID": 5, "Channel": 3}, "await": true},
            {"send": {"MainType": 4, "SubType": 1, "MsgID": 6, "Channel": -1}, "await": true},
            {"await": {"MainEvent": 0, "SubEvent": 5}, "timeout": 5000},
            {"send": {"MainType": 9, "SubType": 0, "MsgID": 7}},
            {"idle": 1000}
        ])"),
            60000);
        QVERIFY2(run.ok(), qPrintable(run.describe()));

        QCOMPARE(run.replyTo(1).value("Ret").toInt(), 100);
        QCOMPARE(run.replyTo(2).value("Ret").toInt(), 100);
        const QList<QJsonObject> status = run.events(0, 3);
        QVERIFY(!status.isEmpty());
        const QJsonArray channels = status.first().value("ChnStatus").toArray();
        QCOMPARE(channels.size(), 16);
        for (int i = 0; i < channels.size(); ++i) {
            const QJsonObject c = channels[i].toObject();
            QCOMPARE(c.value("Chn").toInt(), i);
            QCOMPARE(c.value("Ret").toInt(), 100);
            QCOMPARE(c.value("Stream").toInt(), 1);
        }
        // Channel 5 is playing (page state 0 is "playing" for the page).
        QCOMPARE(run.replyTo(3).value("Ret").toInt(), 100);
        // The snapshot is a picture of the extra stream's size.
        const QJsonObject snapshot = run.replyTo(4);
        QCOMPARE(snapshot.value("Ret").toInt(), 100);
        const QString capFolder = snapshot.value("CapPath").toString();
        QVERIFY(capFolder.startsWith(m_copy->appDir));
        QDirIterator files(capFolder, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY(files.hasNext());
        const ScreenImage::ToolResult id = ScreenImage::runTool(QStringLiteral("/usr/bin/identify"),
            { QStringLiteral("-format"), QStringLiteral("%w %h"), files.next() });
        QCOMPARE(id.out.trimmed(), QStringLiteral("352 288"));
        QCOMPARE(run.replyTo(5).value("Ret").toInt(), 100);
        QCOMPARE(run.replyTo(6).value("Ret").toInt(), 100);
        QVERIFY(!run.events(0, 5).isEmpty()); // the player's CPU and memory while logged in
        QVERIFY(run.replyTo(7).isEmpty()); // the logout has no reply
        stopService();
    }

    // Headed Chromium: the player finds the browser's window, embeds itself
    // there, and the page's area shows moving pictures.
    void headedBrowserShowsLivePictures()
    {
        XvfbServer xvfb;
        QVERIFY2(xvfb.start(), qPrintable(xvfb.errorText()));
        const int port = startService(xvfb.display(), true);
        QVERIFY(port > 0);

        QFile file(BrowserTest::scenarioFile(QStringLiteral("live16_headed.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        BrowserTest::BrowserDriver driver;
        driver.start(BrowserTest::pageArgs(port, BrowserTest::parseSteps(file.readAll()))
                + QStringList { QStringLiteral("--headed"), QStringLiteral("--display"), xvfb.display(),
                    QStringLiteral("--hold") },
            60000);
        const PageRun run = driver.waitDone(true);
        QVERIFY2(run.ok(), qPrintable(run.describe()));
        QCOMPARE(run.replyTo(1).value("Ret").toInt(), 100);
        QCOMPARE(run.replyTo(1).value("adjustBytool").toBool(), true); // the browser's window was found
        QCOMPARE(run.replyTo(2).value("Ret").toInt(), 100);

        QRect player;
        QTRY_VERIFY2_WITH_TIMEOUT(!(player = playerWindow(xvfb.display())).isEmpty(),
            qPrintable(ScreenImage::runTool(QStringLiteral("/usr/bin/xwininfo"),
                { QStringLiteral("-display"), xvfb.display(), QStringLiteral("-root"),
                    QStringLiteral("-tree") })
                           .out),
            10000);
        QCOMPARE(player.size(), QSize(800, 450));
        const QRect area = player.adjusted(4, 4, -4, -4).intersected(QRect(QPoint(0, 0), xvfb.size()));
        QVERIFY(area.width() > 100 && area.height() > 100);

        const QString first = m_dir.filePath(QStringLiteral("first.png"));
        const QString second = m_dir.filePath(QStringLiteral("second.png"));
        QVERIFY(ScreenImage::grab(xvfb.display(), first));
        // Pictures are drawn: not one colour.
        const ScreenImage::Stats stats = ScreenImage::statistics(first, area);
        QVERIFY2(stats.ok, qPrintable(stats.error));
        QVERIFY2(stats.maxDeviation() > 0.1, qPrintable(QString::number(stats.maxDeviation())));
        // And they move: the time and the box in each picture change.
        QTest::qWait(1200);
        QVERIFY(ScreenImage::grab(xvfb.display(), second));
        const double changed = ScreenImage::differingShare(first, second, area);
        QVERIFY2(changed > 0.005, qPrintable(QString::number(changed)));
        driver.end();
        stopService();
    }
};

QTEST_GUILESS_MAIN(TestLiveViewBrowser)
#include "tst_live_view_browser.moc"
