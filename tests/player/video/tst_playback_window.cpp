// Playback and downloads through the request manager with the real window
// side: the playback page and its decode ports over the play library, fed by
// the simulated device's recordings. Lists end through the device's end mark
// and drained buffers; downloads are real files, and their AVI conversions
// are read by ffprobe; local files are picked with a scripted chooser.

#include "MemoryDesktop.h"
#include "NativeWindow.h"
#include "PlayWidget.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "RequestContext.h"

#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"
#include "lumarel/LumarelControl.h"

#include <QDir>
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

QString probe(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
            QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
            QStringLiteral("stream=codec_name,width,height,nb_read_frames"), QStringLiteral("-of"),
            QStringLiteral("default=nw=1"), file });
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Three two-second recordings of channel 0 and a long one on channels 0-3.
kestrix::DeviceSpec device()
{
    kestrix::DeviceSpec d;
    d.address = "10.0.0.7";
    d.serial = "SN-PLAYBACK";
    d.password = "pw";
    d.videoChannels = 4;
    d.defaultRecordings = false;
    const char *names[] = { "rec_a", "rec_b", "rec_c" };
    for (int i = 0; i < 3; ++i) {
        kestrix::RecordingSpec r;
        r.channel = 0;
        r.name = names[i];
        r.begin = QStringLiteral("2023-05-01 08:00:%1").arg(i * 2, 2, 10, QLatin1Char('0')).toStdString();
        r.end = QStringLiteral("2023-05-01 08:00:%1").arg(i * 2 + 2, 2, 10, QLatin1Char('0')).toStdString();
        r.streamType = 1;
        d.recordings.push_back(r);
    }
    for (int c = 0; c < 4; ++c) {
        kestrix::RecordingSpec r;
        r.channel = c;
        r.begin = "2023-05-01 09:00:00";
        r.end = "2023-05-01 09:10:00";
        r.streamType = 1;
        d.recordings.push_back(r);
    }
    return d;
}

QString fileInfo(const char *name, int from, int to)
{
    return QStringLiteral(
        R"({"FileName":"%1","FileLength":"0x00010000","BeginTime":"2023-05-01 08:00:%2","EndTime":"2023-05-01 08:00:%3"})")
        .arg(QLatin1String(name))
        .arg(from, 2, 10, QLatin1Char('0'))
        .arg(to, 2, 10, QLatin1Char('0'));
}

const QString kThreeFiles = fileInfo("rec_a", 0, 2) + QLatin1Char(',') + fileInfo("rec_b", 2, 4)
    + QLatin1Char(',') + fileInfo("rec_c", 4, 6);

} // namespace

class TestPlaybackWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    CPluginManage *m_manage = nullptr;
    QStringList m_sent;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    void post(const QString &msg)
    {
        QMetaObject::invokeMethod(m_manage, "onRecvWebsocketMsg", Qt::QueuedConnection, Q_ARG(QString, msg));
    }

    // The request's reply, once it came (events before it stay in m_sent).
    QJsonObject replyTo(const QString &msg, int timeoutMs = 30000)
    {
        const QJsonObject request = object(msg);
        const int from = m_sent.size();
        post(msg);
        QJsonObject reply;
        (void)QTest::qWaitFor(
            [&] { // on a time-out the reply stays empty
                for (const QString &m : m_sent.mid(from)) {
                    const QJsonObject o = object(m);
                    if (o.contains(QStringLiteral("Msg")) && o.value("Msg") == request.value("MainType")
                        && o.value("MsgID") == request.value("MsgID")) {
                        reply = o;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return reply;
    }

    QList<QJsonObject> events(int main, int sub) const
    {
        QList<QJsonObject> out;
        for (const QString &m : m_sent) {
            const QJsonObject o = object(m);
            if (o.value("MainEvent").toInt(-1) == main && o.value("SubEvent").toInt(-1) == sub)
                out.append(o);
        }
        return out;
    }

    void setRecordType(int type, const QString &downPath = QString())
    {
        QSettings cfg(path(QStringLiteral("ClientCfg.ini")), QSettings::IniFormat);
        cfg.setValue(QStringLiteral("Info/RecordType"), type);
        cfg.setValue(
            QStringLiteral("Path/DownPath"), downPath.isEmpty() ? path(QStringLiteral("down")) : downPath);
        cfg.sync();
    }

    void writeChooser(const QByteArray &body)
    {
        QFile file(path(QStringLiteral("Browse")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/chooser_args\"\n" + body + "\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
        QSettings cfg(path(QStringLiteral("ClientCfg.ini")), QSettings::IniFormat);
        cfg.setValue(QStringLiteral("Path/CapPath"), path(QStringLiteral("cap")));
        cfg.setValue(QStringLiteral("Path/RecPath"), path(QStringLiteral("rec")));
        cfg.sync();
        setRecordType(2);
        PlayWidget::setConfigFolder(m_dir.path());
        RequestContext::setAppFolder(m_dir.path());
        auto desktop = std::make_shared<NativeWindow::MemoryDesktop>();
        QVERIFY(desktop->addWindow(0x4400012, 0, QStringLiteral("chromium"),
            QStringLiteral("Cameras - Web Viewer"), QRect(0, 0, 1280, 800), true));
        desktop->setForeground(0x4400012);
        NativeWindow::setDesktop(desktop);
        PlayerWindow::setProvider(&PlayWidget::facadeForCurrentThread);
        PlayerWindow::setStreamInputProvider(&PlayWidget::dataEntry);
        kestrix::control::reset();
        kestrix::control::addDevice(device());

        m_manage = new CPluginManage(QStringLiteral("4400012"), 3);
        connect(m_manage, &CPluginManage::sendWebSocketMsgSig, this, [this](const QString &m) {
            if (!m.startsWith(QLatin1String("{\"AppCpu\":")))
                m_sent.append(m);
        });
        QCOMPARE(
            replyTo(
                QStringLiteral(
                    R"({"MainType":8,"MsgID":1,"Browse":2,"Title":"Web Viewer","Device":{"LoginType":1,"SN":"SN-PLAYBACK","User":"admin","Password":"pw"}})"))
                .value("Ret")
                .toInt(),
            100);
        QVERIFY(PlayWidget::existing());
        PlayWidget::existing()->SetPageIndex(1);
    }

    void cleanupTestCase()
    {
        if (m_manage) {
            post(QStringLiteral(R"({"MainType":9})"));
            QTRY_VERIFY(!PlayWidget::existing());
            m_manage->stopWorker();
            delete m_manage;
        }
        PlayerWindow::setProvider(nullptr);
        PlayerWindow::setStreamInputProvider(nullptr);
        NativeWindow::setDesktop(nullptr);
        QCOMPARE(kestrix::control::runningThreads() <= 1, true); // the event thread at most
    }

    // A list of three files plays in its window one after another; each
    // ends when the device's end mark came and the window's buffers drained.
    void listPlaysOneAfterAnother()
    {
        QCOMPARE(
            replyTo(QStringLiteral(R"({"MainType":5,"SubType":36,"MsgID":2,"Mode":1})")).value("Ret").toInt(),
            100);
        m_sent.clear();
        const QJsonObject reply = replyTo(QStringLiteral(
            R"({"MainType":5,"SubType":34,"MsgID":3,"Mode":1,"SelectWnd":0,"Channel":0,"Stream":1,"FileInfo":[%1]})")
                                              .arg(kThreeFiles));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QTRY_COMPARE_WITH_TIMEOUT(events(1, 2).size(), 3, 40000);
        QStringList order;
        for (const QString &m : m_sent) {
            const QJsonObject o = object(m);
            const QJsonObject data = o.value("Data").toObject();
            if (o.value("MainEvent").toInt(-1) == 1 && o.value("SubEvent").toInt() == 1)
                order << QStringLiteral("start %1 in %2")
                             .arg(data.value("PlayIndex").toInt())
                             .arg(data.value("Wnd").toInt());
            if (o.value("MainEvent").toInt(-1) == 1 && o.value("SubEvent").toInt() == 2)
                order << QStringLiteral("end in %1").arg(data.value("Wnd").toInt());
        }
        QCOMPARE(order,
            QStringList(
                { "start 0 in 0", "end in 0", "start 1 in 0", "end in 0", "start 2 in 0", "end in 0" }));
        for (const QJsonObject &e : events(1, 1))
            QCOMPARE(e.value("Data").toObject().value("Ret").toInt(), 100);
        QVERIFY(!stats(64).playing);
    }

    // Mode 2: one window per entry; a window outside the four gets 1016.
    void byTimeInFourWindows()
    {
        QCOMPARE(
            replyTo(QStringLiteral(R"({"MainType":5,"SubType":36,"MsgID":4,"Mode":2})")).value("Ret").toInt(),
            100);
        QString infos;
        for (int w = 0; w < 5; ++w)
            infos += QStringLiteral(
                R"(%1{"Channel":%2,"Wnd":%3,"FileType":0,"BeginTime":"2023-05-01 09:00:00","EndTime":"2023-05-01 09:10:00"})")
                         .arg(w ? QStringLiteral(",") : QString())
                         .arg(w % 4)
                         .arg(w);
        const QJsonObject reply = replyTo(QStringLiteral(
            R"({"MainType":5,"SubType":34,"MsgID":5,"Mode":2,"SelectWnd":1,"Stream":1,"FileInfo":[%1]})")
                                              .arg(infos));
        const QJsonArray status = reply.value("ChnStatus").toArray();
        QCOMPARE(status.size(), 5);
        for (int w = 0; w < 4; ++w) {
            QCOMPARE(status[w].toObject().value("Ret").toInt(), 100);
            QTRY_VERIFY(stats(64 + w).framesShown > 5);
        }
        QCOMPARE(status[4].toObject().value("Ret").toInt(), 1016);
        QCOMPARE(reply.value("Ret").toInt(), 1016); // the last entry's
        QCOMPARE(PlayWidget::existing()->GetCurWndIndex(), 1);
    }

    // Speed, pause and resume of channel 0's window, in this order.
    void control_data()
    {
        QTest::addColumn<int>("cmd");
        QTest::addColumn<int>("ret");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("mode"); // -1: no "Mode"
        QTest::newRow("slower 1") << 11 << 100 << 5 << 1;
        QTest::newRow("slower 2") << 11 << 100 << 5 << 2;
        QTest::newRow("slower 3") << 11 << 100 << 5 << 3;
        QTest::newRow("slower 4") << 11 << 100 << 5 << 4;
        QTest::newRow("slower wraps to normal") << 11 << 100 << 2 << -1;
        QTest::newRow("faster 1") << 10 << 100 << 6 << 1;
        QTest::newRow("faster 2") << 10 << 100 << 6 << 2;
        QTest::newRow("pause") << 2 << 100 << 4 << -1;
        QTest::newRow("resume") << 3 << 100 << 2 << -1;
        QTest::newRow("seek to the middle") << 4 << 100 << 2 << -1;
        QTest::newRow("unknown command") << 7 << 1016 << 2 << -1;
    }
    void control()
    {
        QFETCH(int, cmd);
        QFETCH(int, ret);
        QFETCH(int, status);
        QFETCH(int, mode);
        const QJsonObject reply = replyTo(
            QStringLiteral(R"({"MainType":5,"SubType":40,"MsgID":6,"Channel":0,"Cmd":%1,"Param":500})")
                .arg(cmd));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        const QJsonObject st = reply.value("ChnStatus").toArray().at(0).toObject();
        QCOMPARE(st.value("Wnd").toInt(), 0);
        QCOMPARE(st.value("Ret").toInt(), ret);
        QCOMPARE(st.value("Status").toInt(), status);
        QCOMPARE(st.contains("Mode") ? st.value("Mode").toInt() : -1, mode);
    }

    // Snapshot, recording, status and the windows that show no channel.
    void windowFunctions()
    {
        QJsonObject reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":41,"MsgID":7,"Channel":2})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QCOMPARE(reply.value("Wnd").toInt(), 2);
        const QStringList shots = QDir(path(QStringLiteral("cap"))).entryList({ QStringLiteral("03_*.bmp") });
        QCOMPARE(shots.size(), 1);
        reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":44,"MsgID":8,"Channel":3})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QCOMPARE(reply.value("Record").toInt(), 1);
        const qint64 shown = stats(67).framesShown;
        QTRY_VERIFY_WITH_TIMEOUT(stats(67).framesShown > shown + 25, 20000);
        reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":45,"MsgID":9,"Channel":3})"));
        QCOMPARE(reply.value("Data").toObject().value("Record").toBool(), true);
        QCOMPARE(reply.value("Data").toObject().value("Status").toInt(), 2);
        reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":44,"MsgID":10,"Channel":3})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QCOMPARE(reply.value("Record").toInt(), 0);
        const QStringList records
            = QDir(path(QStringLiteral("rec"))).entryList({ QStringLiteral("04_*.avi") });
        QCOMPARE(records.size(), 1);
        QVERIFY(probe(path(QStringLiteral("rec/")) + records[0])
                    .startsWith(QStringLiteral("codec_name=h264\nwidth=352\nheight=288")));
        for (int sub = 41; sub <= 45; ++sub) {
            reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":%1,"MsgID":11,"Channel":9})").arg(sub));
            QCOMPARE(reply.value("Wnd").toInt(), -1);
            QCOMPARE(reply.value("Ret").toInt(), 1016);
        }
    }

    // The one sound output moves to the window that asks for it and goes
    // when that window turns it off.
    void soundMovesBetweenWindows()
    {
        QJsonObject reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":42,"MsgID":7,"Channel":2})"));
        QCOMPARE(reply.value("Audio").toInt(), 1);
        QCOMPARE(LumarelControl::soundOwner(), 66);
        reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":42,"MsgID":8,"Channel":3})"));
        QCOMPARE(reply.value("Audio").toInt(), 1);
        QCOMPARE(LumarelControl::soundOwner(), 67);
        QCOMPARE(PlayWidget::existing()->IsSoundWnd(1, 2), false);
        reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":42,"MsgID":9,"Channel":3})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QCOMPARE(reply.value("Audio").toInt(), 0);
        QCOMPARE(LumarelControl::soundOwner(), -1);
    }

    // Pausing holds the device's data back; stopping the paused window
    // must still end its device playback. Then all stop.
    void stopPausedThenAll()
    {
        QCOMPARE(replyTo(QStringLiteral(R"({"MainType":5,"SubType":40,"MsgID":12,"Channel":1,"Cmd":2})"))
                     .value("ChnStatus")
                     .toArray()
                     .at(0)
                     .toObject()
                     .value("Status")
                     .toInt(),
            4);
        QJsonObject reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":35,"MsgID":13,"Channel":1})"));
        QCOMPARE(reply.value("Wnd").toInt(), 1);
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QVERIFY(!stats(65).playing);
        QVERIFY(stats(64).playing);
        reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":35,"MsgID":14,"Channel":-1})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        for (int w = 0; w < 4; ++w)
            QVERIFY(!stats(64 + w).playing);
        QCOMPARE(kestrix::control::callsOf("TRV_NET_StopPlayBack").size(), size_t(3 + 4));
    }

    // Three recordings into the download folder, converted to AVI; a source
    // whose conversion cannot start stays.
    void downloadAndConvert()
    {
        setRecordType(2);
        // The third file's AVI name is taken by a folder: its conversion fails.
        QVERIFY(QDir().mkpath(path(QStringLiteral("down/01_2023-05-01_080004_080006.avi"))));
        m_sent.clear();
        const QJsonObject reply = replyTo(QStringLiteral(
            R"({"MainType":5,"SubType":39,"MsgID":15,"Channel":0,"Stream":1,"FileType":0,"Event":"","FileInfo":[%1]})")
                                              .arg(kThreeFiles));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QCOMPARE(reply.value("DownPath").toString(), path(QStringLiteral("down")));
        QTRY_COMPARE_WITH_TIMEOUT(events(1, 5).size(), 1, 60000);
        QList<int> converted;
        for (const QJsonObject &e : events(1, 4)) {
            const int pos = e.value("Data").toObject().value("Pos").toInt();
            if (converted.isEmpty() || pos < converted.last() || pos > 1000)
                converted.clear();
            converted << pos;
        }
        QCOMPARE(converted.mid(converted.size() - 3), QList<int>({ 333, 666, 1000 }));
        QDir down(path(QStringLiteral("down")));
        QCOMPARE(down.entryList({ QStringLiteral("*.h265x") }),
            QStringList({ "01_2023-05-01_080004_080006_for_avi.h265x" }));
        for (const char *name : { "01_2023-05-01_080000_080002.avi", "01_2023-05-01_080002_080004.avi" })
            QCOMPARE(probe(down.filePath(QLatin1String(name))),
                QStringLiteral("codec_name=h264\nwidth=352\nheight=288\nnb_read_frames=50"));
    }

    // Requests that start nothing.
    void downloadRefused_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("downPath");
        QTest::addColumn<int>("ret");
        QTest::newRow("no files") << QStringLiteral(R"("Channel":0,"FileInfo":[])") << QString() << 1020;
        QTest::newRow("negative channel")
            << QStringLiteral(R"("Channel":-1,"FileInfo":[%1])").arg(fileInfo("rec_a", 0, 2)) << QString()
            << 1020;
        QTest::newRow("path in a time") << QStringLiteral(
            R"("Channel":0,"FileInfo":[{"FileName":"rec_a","BeginTime":"../../../x/2023-05-01","EndTime":"2023-05-01 08:00:02"}])")
                                        << QString() << 1020;
        QTest::newRow("short end time") << QStringLiteral(
            R"("Channel":0,"FileInfo":[{"FileName":"rec_a","BeginTime":"2023-05-01 08:00:00","EndTime":"12"}])")
                                        << QString() << 1020;
        QTest::newRow("folder cannot be made")
            << QStringLiteral(R"("Channel":0,"FileInfo":[%1])").arg(fileInfo("rec_a", 0, 2))
            << QStringLiteral("ClientCfg.ini/down") << 1009;
        QTest::newRow("unknown file")
            << QStringLiteral(R"("Channel":0,"FileInfo":[%1])").arg(fileInfo("nothing", 0, 2)) << QString()
            << 1009;
    }
    void downloadRefused()
    {
        QFETCH(QString, request);
        QFETCH(QString, downPath);
        QFETCH(int, ret);
        setRecordType(0, downPath.isEmpty() ? QString() : path(downPath));
        const QStringList before = QDir(path(QStringLiteral("down"))).entryList(QDir::Files);
        const QJsonObject reply
            = replyTo(QStringLiteral(R"({"MainType":5,"SubType":39,"MsgID":16,"Stream":1,"FileType":0,%1})")
                          .arg(request));
        QCOMPARE(reply.value("Ret").toInt(), ret);
        QCOMPARE(QDir(path(QStringLiteral("down"))).entryList(QDir::Files), before);
    }

    // A cancel during a download stops it and a later batch runs whole.
    void cancelThenDownloadAgain()
    {
        setRecordType(0);
        m_sent.clear();
        QCOMPARE(
            replyTo(
                QStringLiteral(
                    R"({"MainType":5,"SubType":39,"MsgID":17,"Channel":0,"Stream":1,"FileType":0,"FileInfo":[%1]})")
                    .arg(kThreeFiles))
                .value("Ret")
                .toInt(),
            100);
        QCOMPARE(
            replyTo(QStringLiteral(R"({"MainType":5,"SubType":46,"MsgID":18})")).value("Ret").toInt(), 100);
        QCOMPARE(events(1, 5).size(), 0);
        m_sent.clear();
        QCOMPARE(
            replyTo(
                QStringLiteral(
                    R"({"MainType":5,"SubType":39,"MsgID":19,"Channel":0,"Stream":1,"FileType":0,"FileInfo":[%1]})")
                    .arg(fileInfo("rec_b", 2, 4)))
                .value("Ret")
                .toInt(),
            100);
        QTRY_COMPARE_WITH_TIMEOUT(events(1, 5).size(), 1, 30000);
        QVERIFY(QFileInfo(path(QStringLiteral("down/01_2023-05-01_080002_080004.h265x"))).size() > 0);
    }

    // Local files picked with the chooser play in the current window to
    // their end; a cancelled choice gives 1016.
    void localFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("stream file") << QStringLiteral("down/01_2023-05-01_080004_080006_for_avi.h265x");
        QTest::newRow("AVI") << QStringLiteral("down/01_2023-05-01_080000_080002.avi");
    }
    void localFiles()
    {
        QFETCH(QString, file);
        QCOMPARE(replyTo(QStringLiteral(R"({"MainType":5,"SubType":36,"MsgID":20,"Mode":0})"))
                     .value("Ret")
                     .toInt(),
            100);
        writeChooser("printf '%s' '" + path(file).toUtf8() + "'");
        m_sent.clear();
        const qint64 ends = stats(128).fileEndCalls;
        const QJsonObject reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":33,"MsgID":21})"));
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QCOMPARE(reply.value("Wnd").toInt(), 0);
        QFile args(path(QStringLiteral("chooser_args")));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(args.readAll(), QByteArray("3 1\n"));
        QTRY_COMPARE_WITH_TIMEOUT(stats(128).fileEndCalls, ends + 1, 20000);
        QTRY_COMPARE(events(1, 2).size(), 1);
        QVERIFY(stats(128).framesShown >= 45);
        QCOMPARE(replyTo(QStringLiteral(R"({"MainType":5,"SubType":35,"MsgID":22,"Channel":-1})"))
                     .value("Ret")
                     .toInt(),
            100);
        QVERIFY(!stats(128).playing);
    }

    void chooserCancelled()
    {
        writeChooser("exit 1");
        const QJsonObject reply = replyTo(QStringLiteral(R"({"MainType":5,"SubType":33,"MsgID":23})"));
        QCOMPARE(reply.value("Ret").toInt(), 1016);
        QVERIFY(!reply.contains("Wnd"));
    }
};

QTEST_MAIN(TestPlaybackWindow)
#include "tst_playback_window.moc"
