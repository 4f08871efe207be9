// Live view through the request manager with the real window side: the
// embedded player window, its live page and decode ports over the play
// library, fed by the simulated device. What the page asks for ends in
// pictures drawn, snapshot files that ImageMagick reads and recordings that
// ffprobe reads.

#include "LightWeightLog.h"
#include "LiveViewTopic.h"
#include "MemoryDesktop.h"
#include "NativeWindow.h"
#include "PlayWidget.h"
#include "PlayWindowManage.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "RealPlayWidget.h"
#include "VideoFrame.h"
#include "VideoWnd.h"

#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"
#include "lumarel/LumarelControl.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

QJsonObject object(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

LumarelControl::PortStats stats(int port)
{
    LumarelControl::PortStats s;
    LumarelControl::portStats(port, &s);
    return s;
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The newest file of `folder` and its subfolders.
QString newestFile(const QString &folder)
{
    QString newest;
    QDateTime when;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (newest.isEmpty() || it.fileInfo().lastModified() >= when) {
            newest = it.filePath();
            when = it.fileInfo().lastModified();
        }
    }
    return newest;
}

} // namespace

class TestLiveViewWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    CPluginManage *m_manage = nullptr;
    QStringList m_sent;

    void post(const QString &msg)
    {
        QMetaObject::invokeMethod(m_manage, "onRecvWebsocketMsg", Qt::QueuedConnection, Q_ARG(QString, msg));
    }

    // What `msg` made the player send (replies and events), up to a marker.
    QList<QJsonObject> answersTo(const QString &msg)
    {
        m_sent.clear();
        post(msg);
        post(QStringLiteral(R"({"MainType":13,"MsgID":"marker"})"));
        const QString marker
            = QStringLiteral("{\"Msg\":13,\"MsgID\":\"marker\",\"Ret\":1020,\"SubMsg\":null}\n");
        QList<QJsonObject> out;
        if (!QTest::qWaitFor([&] { return m_sent.contains(marker); }, 30000))
            return out;
        for (const QString &m : m_sent.mid(0, m_sent.indexOf(marker)))
            out.append(object(m));
        return out;
    }

    QJsonObject replyTo(const QString &msg)
    {
        for (const QJsonObject &o : answersTo(msg))
            if (o.contains(QStringLiteral("Msg")))
                return o;
        return QJsonObject();
    }

    static bool allDrawing(int channels)
    {
        for (int c = 0; c < channels; ++c)
            if (stats(c).framesDrawn < 3)
                return false;
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
        // Snapshots and recordings go below the test's own folder.
        QSettings cfg(m_dir.filePath(QStringLiteral("ClientCfg.ini")), QSettings::IniFormat);
        cfg.setValue(QStringLiteral("Path/CapPath"), m_dir.filePath(QStringLiteral("cap")));
        cfg.setValue(QStringLiteral("Path/RecPath"), m_dir.filePath(QStringLiteral("rec")));
        cfg.setValue(QStringLiteral("Info/ImageType"), 1); // JPEG
        cfg.setValue(QStringLiteral("Info/RecordType"), 2); // AVI
        cfg.sync();
        PlayWidget::setConfigFolder(m_dir.path());
        // The browser's window, as the desktop shows it.
        auto desktop = std::make_shared<NativeWindow::MemoryDesktop>();
        QVERIFY(desktop->addWindow(0x4400012, 0, QStringLiteral("chromium"),
            QStringLiteral("Cameras - Web Viewer"), QRect(0, 0, 1280, 800), true));
        desktop->setForeground(0x4400012);
        NativeWindow::setDesktop(desktop);
        PlayerWindow::setProvider(&PlayWidget::facadeForCurrentThread);
        PlayerWindow::setStreamInputProvider(&PlayWidget::dataEntry);

        kestrix::control::reset();
        kestrix::DeviceSpec device;
        device.address = "10.0.0.9";
        device.serial = "SN-WINDOW";
        device.user = "admin";
        device.password = "pw";
        device.videoChannels = 16;
        device.defaultRecordings = false;
        kestrix::control::addDevice(device);

        // The browser window comes from the command line, as the service passes it.
        m_manage = new CPluginManage(QStringLiteral("4400012"), 3);
        connect(m_manage, &CPluginManage::sendWebSocketMsgSig, this, [this](const QString &m) {
            if (!m.startsWith(QLatin1String("{\"AppCpu\":")))
                m_sent.append(m);
        });
        const QJsonObject login = replyTo(QStringLiteral(
            R"({"MainType":8,"MsgID":1,"Browse":2,"Title":"Web Viewer","Device":{"LoginType":1,"SN":"SN-WINDOW","User":"admin","Password":"pw"}})"));
        QCOMPARE(login.value("Ret").toInt(), 100);
        QVERIFY(PlayWidget::existing());
        // The page shows the window in its area.
        QCOMPARE(replyTo(QStringLiteral(
                     R"({"MainType":12,"SubType":2,"Pos":{"Left":0,"Top":0,"Width":960,"Height":540}})")),
            object(QStringLiteral(R"({"Msg":12,"SubMsg":2,"Ret":100})")));
        QTRY_VERIFY(PlayWidget::existing()->isVisible());
    }

    void cleanupTestCase()
    {
        if (m_manage) {
            QVERIFY(answersTo(QStringLiteral(R"({"MainType":9})")).isEmpty()); // the logout has no reply
            QVERIFY(!PlayWidget::existing());
            m_manage->stopWorker();
            delete m_manage;
        }
        PlayerWindow::setProvider(nullptr);
        PlayerWindow::setStreamInputProvider(nullptr);
        NativeWindow::setDesktop(nullptr);
    }

    // All channels open in their windows, report their status, and their
    // pictures are drawn.
    void openAllChannels()
    {
        const QList<QJsonObject> answers
            = answersTo(QStringLiteral(R"({"MainType":4,"SubType":0,"MsgID":2,"Channel":-1,"Stream":1})"));
        QJsonObject reply;
        QJsonObject status;
        for (const QJsonObject &o : answers) {
            if (o.value("Msg").toInt() == 4)
                reply = o;
            if (o.value("MainEvent").toInt(-1) == 0 && o.value("SubEvent").toInt(-1) == 3)
                status = o;
        }
        QCOMPARE(reply.value("Ret").toInt(), 100);
        const QJsonArray chn = status.value("ChnStatus").toArray();
        QCOMPARE(chn.size(), 16);
        for (int i = 0; i < chn.size(); ++i) {
            QCOMPARE(chn[i].toObject().value("Chn").toInt(), i);
            QCOMPARE(chn[i].toObject().value("Ret").toInt(), 100);
        }
        QTRY_VERIFY_WITH_TIMEOUT(allDrawing(16), 30000);
        QCOMPARE(stats(16).framesDecoded, 0); // nothing beyond the device's channels
    }

    void snapshotIsAPicture()
    {
        const QJsonObject reply
            = replyTo(QStringLiteral(R"({"MainType":4,"SubType":9,"MsgID":3,"Channel":0})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        const QString folder = reply.value("CapPath").toString();
        QVERIFY(folder.startsWith(m_dir.path()));
        const QString file = newestFile(folder);
        QVERIFY2(!file.isEmpty(), qPrintable(folder));
        // The extra stream's picture: 352 x 288, JPEG as the settings ask.
        QCOMPARE(
            run(QStringLiteral("identify"), { QStringLiteral("-format"), QStringLiteral("%m %w %h"), file }),
            QStringLiteral("JPEG 352 288"));
    }

    void recordingIsAVideoFile()
    {
        QJsonObject reply
            = replyTo(QStringLiteral(R"({"MainType":4,"SubType":10,"MsgID":4,"Channel":1,"Record":1})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QVERIFY(stats(1).recording);
        const qint64 frames = stats(1).framesDecoded;
        QTRY_VERIFY_WITH_TIMEOUT(stats(1).framesDecoded > frames + 50, 20000); // two seconds or more
        reply = replyTo(QStringLiteral(R"({"MainType":4,"SubType":10,"MsgID":5,"Channel":1,"Record":0})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QVERIFY(!stats(1).recording);
        const QString file = newestFile(m_dir.filePath(QStringLiteral("rec")));
        QVERIFY(!file.isEmpty());
        const QString probe = run(QStringLiteral("ffprobe"),
            { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                QStringLiteral("stream=codec_name,width,height"), QStringLiteral("-of"),
                QStringLiteral("default=nw=1"), file });
        QCOMPARE(probe, QStringLiteral("codec_name=h264\nwidth=352\nheight=288"));
    }

    // The one sound output moves to the channel that asks for it and goes
    // when that channel turns it off.
    void soundToggle()
    {
        QJsonObject reply = replyTo(QStringLiteral(R"({"MainType":4,"SubType":8,"MsgID":6,"Channel":2})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QCOMPARE(reply.value("Audio").toInt(), 1);
        QCOMPARE(LumarelControl::soundOwner(), 2);
        reply = replyTo(QStringLiteral(R"({"MainType":4,"SubType":8,"MsgID":7,"Channel":2})"));
        QCOMPARE(reply.value("Audio").toInt(), 0);
        QCOMPARE(LumarelControl::soundOwner(), -1);
    }

    void colourOfTheCurrentWindow()
    {
        QJsonObject reply
            = replyTo(QStringLiteral(R"({"MainType":4,"SubType":3,"MsgID":8,"Type":0,"Value":90})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        reply = replyTo(QStringLiteral(R"({"MainType":4,"SubType":2,"MsgID":9,"Channel":0})"));
        QCOMPARE(reply.value("Ret").toInt(), 1016); // as the page has always had it
        QCOMPARE(reply.value("nBrightness").toInt(), 90);
        QCOMPARE(reply.value("nContrast").toInt(), 64);
    }

    void originalSizeAndFullScreen()
    {
        QCOMPARE(
            replyTo(QStringLiteral(R"({"MainType":4,"SubType":12,"MsgID":10})")).value("Ret").toInt(), 100);
        QCOMPARE(
            PlayWidget::existing()->GetPlayOriginalState(0), 1); // the window takes the picture's proportions
        QCOMPARE(
            replyTo(QStringLiteral(R"({"MainType":4,"SubType":5,"MsgID":11})")).value("Ret").toInt(), 100);
        QTRY_VERIFY(PlayWidget::existing()->isFullScreen());
    }

    // Closing one channel stops only its window; closing all stops the rest.
    // The page's rule request reaches the live page's overlay: a line across
    // the middle of channel 0's picture is drawn in blue.
    void ruleDrawnByRequest()
    {
        const QJsonObject reply = replyTo(QStringLiteral(
            R"({"MainType":34,"SubType":1,"MsgID":14,"Channel":0,"RuleType":0,"ShowRule":1,"ptsNum":0,)"
            R"("RuleLine":{"StartX":0,"StartY":4096,"StopX":8192,"StopY":4096}})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        const int before = int(stats(0).drawCallbacks);
        QTRY_VERIFY(stats(0).drawCallbacks > before + 1);
        CRealPlayWidget *live = PlayWidget::existing()->RealPlayPage();
        CVideoFrame *frame = live->GetWindowManage()->GetWnd(live->FindWndIndex(0))->GetVideoFrame();
        const QImage image = frame->grab().toImage();
        auto blueInRow = [&](int y) {
            int n = 0;
            for (int x = 0; x < image.width(); ++x)
                n += image.pixel(x, y) == qRgb(0, 0, 255) ? 1 : 0;
            return n;
        };
        QVERIFY2(blueInRow(image.height() / 2) > image.width() * 3 / 4,
            qPrintable(QString::number(blueInRow(image.height() / 2))));
        QCOMPARE(blueInRow(image.height() / 4), 0);
    }

    // A snapshot of a channel that is not open opens it on the main stream,
    // takes the picture after the key frame and closes it again.
    void snapshotOfAClosedChannel()
    {
        QVERIFY(replyTo(QStringLiteral(R"({"MainType":4,"SubType":1,"MsgID":15,"Channel":6})"))
                    .value("Ret")
                    .toInt()
            == 100);
        QTRY_VERIFY(!stats(6).playing);
        const QString picture = m_dir.filePath(QStringLiteral("Cfg/capture.bmp"));
        QFile::remove(picture);
        // A busy machine decodes the key frame later than a desktop does.
        LiveViewTopic::setSnapshotWaitMs(8000);
        QCOMPARE(replyTo(QStringLiteral(R"({"MainType":19,"SubType":6,"MsgID":16})")),
            object(QStringLiteral(R"({"Msg":19,"Channel":6,"MsgID":16,"Ret":100})")));
        // The main stream's picture, in the type the settings ask for.
        QCOMPARE(run(QStringLiteral("identify"),
                     { QStringLiteral("-format"), QStringLiteral("%m %w %h"), picture }),
            QStringLiteral("JPEG 704 576"));
        QVERIFY(!stats(6).playing);
    }

    void closeOneThenAll()
    {
        QJsonObject reply = replyTo(QStringLiteral(R"({"MainType":4,"SubType":1,"MsgID":12,"Channel":3})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QTRY_VERIFY(!stats(3).playing);
        QVERIFY(stats(4).playing);
        reply = replyTo(QStringLiteral(R"({"MainType":4,"SubType":1,"MsgID":13,"Channel":-1})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        for (int c = 0; c < 16; ++c)
            QTRY_VERIFY(!stats(c).playing);
    }
};

QTEST_MAIN(TestLiveViewWindow)
#include "tst_live_view_window.moc"
