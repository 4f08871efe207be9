// Events the request manager sends without a request: electronic-PTZ display
// from live picture sizes, window state, local playback end, download and
// upgrade progress, the late custom voice file result, and device alarms and
// disconnects during live view.

#include "LiveFixture.h"

#include "QNConnect.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <thread>

using namespace live_fixture;
namespace control = kestrix::control;

namespace {

std::atomic<int> g_upgradeHandle { 0 };

// The upgrade requests' progress callback: hands the values to the worker.
void onUpgradeProgress(int handle, int status, int total, int sent, void *user)
{
    g_upgradeHandle = handle;
    auto *manage = static_cast<CPluginManage *>(user);
    manage->context().RunInWorkerThread([manage, handle, status, total, sent] {
        manage->upgrades().OnUpgradeProgress(handle, status, total, sent);
    });
}

} // namespace

class TestDeviceEvents : public QObject
{
    Q_OBJECT

private:
    LiveFixture f;

    // The nShowElect values of the 0/6 events among `messages`.
    static QList<int> showElect(const QStringList &messages)
    {
        QList<int> out;
        for (const QString &m : messages) {
            const QJsonObject o = object(m);
            if (kindOf(o) == QLatin1String("0/6"))
                out.append(o.value(QStringLiteral("nShowElect")).toInt(-1));
        }
        return out;
    }

private slots:
    void initTestCase() { f.initTestCase(this); }
    void init() { QVERIFY(f.start(device())); }
    void cleanup() { f.stop(); }
    void cleanupTestCase() { f.cleanupTestCase(); }

    void showElect_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<int>>("sizes"); // width, height, width, height ...
        QTest::addColumn<bool>("current");
        QTest::addColumn<int>("state");
        QTest::addColumn<QList<int>>("events");
        QTest::newRow("2560x1440") << 3 << QList<int> { 2560, 1440 } << true << 1 << QList<int> { 1 };
        QTest::newRow("1920x1080") << 3 << QList<int> { 1920, 1080 } << true << 0 << QList<int> { 0 };
        QTest::newRow("only the height changes")
            << 3 << QList<int> { 1920, 1080, 1920, 1440 } << true << 0 << QList<int> { 0 };
        QTest::newRow("only the width changes")
            << 3 << QList<int> { 1920, 1080, 2560, 1080 } << true << 0 << QList<int> { 0 };
        QTest::newRow("both change") << 3 << QList<int> { 1920, 1080, 2560, 1440 } << true << 1
                                     << QList<int> { 0, 1 };
        QTest::newRow("the same size again")
            << 3 << QList<int> { 2560, 1440, 2560, 1440 } << true << 1 << QList<int> { 1 };
        QTest::newRow("pixels counted in 64 bits")
            << 3 << QList<int> { 65535, 65535 } << true << 1 << QList<int> { 1 };
        QTest::newRow("not the current window's channel")
            << 3 << QList<int> { 2560, 1440 } << false << 1 << QList<int>();
        QTest::newRow("channel 63") << 63 << QList<int> { 2560, 1440 } << true << 1 << QList<int> { 1 };
        QTest::newRow("channel 64") << 64 << QList<int> { 2560, 1440 } << true << 0 << QList<int>();
        QTest::newRow("channel -1") << -1 << QList<int> { 2560, 1440 } << true << 0 << QList<int>();
    }
    void showElect()
    {
        QFETCH(int, channel);
        QFETCH(QList<int>, sizes);
        QFETCH(bool, current);
        QFETCH(int, state);
        QFETCH(QList<int>, events);
        RecordingPlayWidget *w = f.widget();
        w->liveTable[0] = current ? channel : 9;
        f.sent.clear();
        int slot = -1;
        QVERIFY(f.onWorker([&] {
            for (int i = 0; i + 1 < sizes.size(); i += 2)
                f.manage->liveView().onShowPTZElect(sizes[i], sizes[i + 1], channel);
            slot = f.manage->liveView().wndShowElect(channel);
        }));
        const QStringList messages = f.flush();
        QCOMPARE(showElect(messages), events);
        QCOMPARE(slot, state);
        const bool inTable = channel >= 0 && channel < 64;
        QCOMPARE(w->callsOf(QStringLiteral("GetCurWndChn")).size(),
            inTable ? events.size() + (current ? 0 : 1) : 0);
        QVERIFY(w->allOnThread(QThread::currentThreadId()));
        if (inTable)
            QVERIFY(f.logged(QStringLiteral("uHeight:%1,uWidth:%2").arg(sizes[1]).arg(sizes[0])));
    }

    // Live pictures of 2560x1440 switch the electronic PTZ display on: the
    // size is taken on the worker, once, and the window selection reports it.
    void showElectFromLiveFrames()
    {
        f.stop();
        kestrix::DeviceSpec big = device(4);
        big.extraSize[0] = 2560;
        big.extraSize[1] = 1440;
        big.audio = false;
        QVERIFY(f.start(big));
        Qt::HANDLE worker = nullptr;
        QVERIFY(f.onWorker([&] { worker = QThread::currentThreadId(); }));
        const QString workerId = QString::number(quintptr(worker), 16).rightJustified(8, QLatin1Char('0'));

        f.sent.clear();
        f.post(QStringLiteral(R"({"MainType":4,"SubType":0,"Channel":2,"Stream":1})"));
        const QString on = QStringLiteral("{\"MainEvent\":0,\"SubEvent\":6,\"nShowElect\":1}\n");
        QVERIFY(QTest::qWaitFor([&] { return f.sent.contains(on); }, 60000));
        // Twenty more pictures of the same size change nothing.
        const int blocks = f.widget()->inputs(2);
        QVERIFY(QTest::qWaitFor([&] { return f.widget()->inputs(2) >= blocks + 20; }, 10000));
        QVERIFY(f.settle({ 2 }));
        const QStringList lines = f.log.filter(QStringLiteral("uHeight:1440,uWidth:2560"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(QStringLiteral("[0x%1]").arg(workerId)), qPrintable(lines[0]));

        // Selecting the window reports the display state with the window's state.
        f.sent.clear();
        emit f.widget()->emitter.curWndIndexSig(0, 0);
        QVERIFY(QTest::qWaitFor([&] { return f.sent.size() >= 2; }, 10000));
        QCOMPARE(object(f.sent[0])
                     .value(QStringLiteral("Data"))
                     .toObject()
                     .value(QStringLiteral("Channel"))
                     .toInt(),
            2);
        QCOMPARE(f.sent[1], on);

        // Closing clears it.
        QCOMPARE(showElect(f.answersTo(QStringLiteral(R"({"MainType":4,"SubType":1,"Channel":2})"))),
            QList<int> { 0 });
        int slot = -1;
        QVERIFY(f.onWorker([&] { slot = f.manage->liveView().wndShowElect(2); }));
        QCOMPARE(slot, 0);
    }

    void windowStatus_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("chn");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("live channel")
            << 0 << 3
            << R"({"MainEvent":0,"SubEvent":2,"Data":{"Chn":3,"CurChannel":5,"PlayStatus":5,"Audio":1,)"
               R"("DigitalZoom":true,"RageState":1,"nBrightness":11,"nContrast":22,"nSaturation":33,"nHue":44}})"
            << QStringList { "GetCurPageIndex()", "GetColor(3)", "IsSoundWnd(0,3)", "IsDigitalZoom(0,3)",
                   "GetPlayOriginalState(3)", "GetPlayState(0,3)" };
        const QString initial
            = QStringLiteral(R"({"MainEvent":0,"SubEvent":2,"Data":{"Chn":%1,"CurChannel":5,"PlayStatus":0,)"
                             R"("Audio":0,"DigitalZoom":false,"RageState":0,"nBrightness":0,"nContrast":0,)"
                             R"("nSaturation":0,"nHue":0}})");
        QTest::newRow("no channel") << 0 << -1 << initial.arg(-1) << QStringList { "GetCurPageIndex()" };
        QTest::newRow("channel 64") << 0 << 64 << initial.arg(64) << QStringList { "GetCurPageIndex()" };
        QTest::newRow("playback page") << 1 << 3 << QString() << QStringList { "GetCurPageIndex()" };
        QTest::newRow("colour page") << 2 << 3 << QString() << QStringList { "GetCurPageIndex()" };
    }
    void windowStatus()
    {
        QFETCH(int, page);
        QFETCH(int, chn);
        QFETCH(QString, event);
        QFETCH(QStringList, calls);
        RecordingPlayWidget *w = f.widget();
        w->page = page;
        w->soundChannel = 3;
        w->zoom = true;
        f.sent.clear();
        QVERIFY(f.onWorker([&] { f.manage->liveView().SendWndStatus(chn, 5); }));
        const QStringList messages = f.flush();
        QCOMPARE(messages.size(), event.isEmpty() ? 0 : 1);
        if (!event.isEmpty())
            QCOMPARE(object(messages[0]), object(event));
        QCOMPARE(w->described(), calls);
        QVERIFY(w->allOnThread(QThread::currentThreadId()));
    }

    // The play library's end of a local file reaches the page from the worker.
    void localPlaybackEnd_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("user");
        QTest::addColumn<QString>("event");
        QTest::newRow("window 1") << 129 << true
                                  << R"({"MainEvent":1,"SubEvent":2,"Data":{"Chn":129,"Wnd":1}})";
        QTest::newRow("window 0") << 128 << true
                                  << R"({"MainEvent":1,"SubEvent":2,"Data":{"Chn":128,"Wnd":0}})";
        QTest::newRow("not a local file port")
            << 64 << true << R"({"MainEvent":1,"SubEvent":2,"Data":{"Chn":64,"Wnd":-1}})";
        QTest::newRow("no user value") << 129 << false << QString();
    }
    void localPlaybackEnd()
    {
        QFETCH(int, port);
        QFETCH(bool, user);
        QFETCH(QString, event);
        Qt::HANDLE sender = nullptr;
        const auto c = connect(
            f.manage, &CPluginManage::sendWebSocketMsgSig, this,
            [&](const QString &m) {
                if (m.contains(QLatin1String("\"MainEvent\":1")))
                    sender = QThread::currentThreadId();
            },
            Qt::DirectConnection);
        Qt::HANDLE worker = nullptr;
        QVERIFY(f.onWorker([&] { worker = QThread::currentThreadId(); }));
        f.sent.clear();
        std::thread library(
            [&] { PlaybackTopic::LocalPlayEndCallback(port, user ? &f.manage->playback() : nullptr); });
        library.join();
        const QStringList messages = f.flush();
        disconnect(c);
        QCOMPARE(messages.size(), event.isEmpty() ? 0 : 1);
        if (!event.isEmpty()) {
            QCOMPARE(object(messages[0]), object(event));
            QCOMPARE(sender, worker);
        }
    }

    void downloadPosition_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("pos");
        QTest::newRow("half") << 100 << 50 << 500;
        QTest::newRow("past 2 MiB") << 3 * 1048576 << 5 * 524288 << 833;
        QTest::newRow("largest") << INT_MAX << INT_MAX - 1 << 999;
        QTest::newRow("all") << INT_MAX << INT_MAX << 1000;
        QTest::newRow("beyond the total") << 100 << 250 << 1000;
        QTest::newRow("below 0") << 100 << -5 << 0;
        QTest::newRow("finished") << 100 << -1 << 1000;
        QTest::newRow("no total") << 0 << 50 << -1;
        QTest::newRow("negative total") << -100 << 50 << -1;
    }
    void downloadPosition()
    {
        QFETCH(int, total);
        QFETCH(int, current);
        QFETCH(int, pos);
        QCOMPARE(DownloadTopic::DownloadPosition(total, current), pos);
    }

    void downloadProgress_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("handle");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("current");
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<bool>("finished");
        QTest::newRow("records") << 1 << 4321 << 200 << 50 << QList<int> { 250 } << false;
        QTest::newRow("records past 2 MiB")
            << 1 << 4321 << 8 * 1048576 << 6 * 1048576 << QList<int> { 750 } << false;
        QTest::newRow("records finished") << 1 << 4321 << 200 << -1 << QList<int> { 1000 } << true;
        QTest::newRow("no total") << 1 << 4321 << 0 << -1 << QList<int>() << false;
        QTest::newRow("no download") << 1 << 0 << 200 << -1 << QList<int>() << false;
        QTest::newRow("pictures") << 2 << 4321 << 200 << 50 << QList<int>() << false;
        QTest::newRow("pictures finished") << 2 << 4321 << 200 << -1 << QList<int>() << true;
        QTest::newRow("other kind") << 3 << 4321 << 200 << -1 << QList<int>() << false;
    }
    void downloadProgress()
    {
        QFETCH(int, kind);
        QFETCH(int, handle);
        QFETCH(int, total);
        QFETCH(int, current);
        QFETCH(QList<int>, positions);
        QFETCH(bool, finished);
        QTemporaryDir dir;
        const QString picture = dir.filePath(QStringLiteral("picture.jpg"));
        QFile file(picture);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("jpeg");
        file.close();
        int left = -1;
        f.sent.clear();
        QVERIFY(f.onWorker([&] {
            f.manage->downloads().downloadHandle() = handle;
            f.manage->downloads().setTempFilePath(picture);
            f.manage->downloads().OnProgressCallback(99, total, current, kind);
            left = f.manage->downloads().downloadHandle();
            f.manage->downloads().downloadHandle() = 0;
            f.manage->downloads().setTempFilePath(QString());
        }));
        QList<int> sentPositions;
        for (const QString &m : f.flush()) {
            const QJsonObject o = object(m);
            QCOMPARE(kindOf(o), QStringLiteral("1/4"));
            sentPositions.append(
                o.value(QStringLiteral("Data")).toObject().value(QStringLiteral("Pos")).toInt());
        }
        QCOMPARE(sentPositions, positions);
        QCOMPARE(left, finished ? 0 : handle);
        QCOMPARE(functionsOf("TRV_NET_CloseHandle"),
            finished ? QStringList { QStringLiteral("TRV_NET_CloseHandle(%1)").arg(handle) } : QStringList());
        QCOMPARE(f.widget()->callsOf(QStringLiteral("SetPlaybackBackground")),
            finished && kind == 2 ? QStringList { QStringLiteral("SetPlaybackBackground(%1)").arg(picture) }
                                  : QStringList());
    }

    // The end of a device playback's data: in list mode the end timer waits
    // for the decoder, otherwise the window ends at once.
    void playbackProgress_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("wnd");
        QTest::addColumn<bool>("timer");
        QTest::newRow("list mode") << 1 << 2 << true;
        QTest::newRow("window mode") << 2 << 2 << false;
        QTest::newRow("no window") << 1 << -1 << false;
        QTest::newRow("window 4") << 1 << 4 << false;
    }
    void playbackProgress()
    {
        QFETCH(int, mode);
        QFETCH(int, wnd);
        QFETCH(bool, timer);
        bool running = false;
        QVERIFY(f.onWorker([&] {
            f.manage->playback().setPlaybackMode(mode);
            f.manage->playback().OnProgressCallback(1, 100, -1, wnd);
            running = f.manage->playback().playbackEndTimerRunning();
            f.manage->playback().stopPlaybackEndTimer();
        }));
        QCOMPARE(running, timer);
    }

    // A local upgrade on the simulated device reports its progress, and its
    // end closes the upgrade and clears the flag that the service watches.
    void upgradeProgress()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("firmware.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(300000, 'f'));
        file.close();
        const int id = f.loginId();
        int result = 0;
        QVERIFY(f.onWorker([&] {
            result = CQNConnect::GetInstance()->StartLocalUpgrade(id, path, &onUpgradeProgress, f.manage);
            f.manage->upgrades().setUpgrading(result == 100);
        }));
        QCOMPARE(result, 100);
        f.sent.clear();
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !f.sent.isEmpty()
                    && object(f.sent.last())
                           .value(QStringLiteral("Data"))
                           .toObject()
                           .value(QStringLiteral("Status"))
                           .toInt()
                    == TRV_UPGRADE_SUCCESS;
            },
            60000));
        for (int i = 0; i < f.sent.size(); ++i) {
            const QJsonObject event = object(f.sent[i]);
            QCOMPARE(kindOf(event), QStringLiteral("3/0"));
            const QJsonObject data = event.value(QStringLiteral("Data")).toObject();
            QCOMPARE(data.keys(), (QStringList { "SendSize", "Status", "TotalSize" }));
            const bool last = i == f.sent.size() - 1;
            QCOMPARE(event.value(QStringLiteral("IsUpgrade")), QJsonValue(!last));
        }
        QCOMPARE(functionsOf("TRV_NET_CloseUpgradeHandle"),
            QStringList { QStringLiteral("TRV_NET_CloseUpgradeHandle(%1)").arg(g_upgradeHandle.load()) });
        bool upgrading = true;
        QVERIFY(f.onWorker([&] { upgrading = f.manage->upgrades().isUpgrading(); }));
        QVERIFY(!upgrading);
    }

    void upgradeStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("ends");
        QTest::newRow("sending") << int(TRV_UPGRADE_SENDING) << false;
        QTest::newRow("writing") << int(TRV_UPGRADE_WRITING) << false;
        QTest::newRow("success") << int(TRV_UPGRADE_SUCCESS) << true;
        QTest::newRow("failed") << int(TRV_UPGRADE_FAILED) << true;
    }
    void upgradeStatus()
    {
        QFETCH(int, status);
        QFETCH(bool, ends);
        f.sent.clear();
        QVERIFY(f.onWorker([&] {
            f.manage->upgrades().setUpgrading(true);
            f.manage->upgrades().OnUpgradeProgress(77, status, 1000, 400);
        }));
        const QStringList messages = f.flush();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(object(messages[0]),
            object(QStringLiteral(R"({"MainEvent":3,"SubEvent":0,"Data":{"Status":%1,"TotalSize":1000,)"
                                  R"("SendSize":400},"IsUpgrade":%2})")
                       .arg(status)
                       .arg(ends ? "false" : "true")));
        QCOMPARE(functionsOf("TRV_NET_CloseUpgradeHandle").size(), ends ? 1 : 0);
    }

    void voiceFileResult_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("user");
        QTest::addColumn<QString>("reply");
        QTest::newRow("done") << int(TRV_TRANSFER_DONE) << 0 << true
                              << R"({"Msg":30,"SubMsg":2,"MsgID":77,"nRet":100})";
        QTest::newRow("failed")
            << int(TRV_TRANSFER_FAILED) << int(TRV_ERR_FILE) << true
            << QStringLiteral(R"({"Msg":30,"SubMsg":2,"MsgID":77,"nRet":%1})").arg(TRV_ERR_FILE);
        QTest::newRow("no user value") << int(TRV_TRANSFER_DONE) << 0 << false << QString();
    }
    void voiceFileResult()
    {
        QFETCH(int, state);
        QFETCH(int, code);
        QFETCH(bool, user);
        QFETCH(QString, reply);
        Qt::HANDLE worker = nullptr;
        QVERIFY(f.onWorker([&] {
            worker = QThread::currentThreadId();
            f.manage->talk().keepVoiceFileRequest(2, 77);
        }));
        Qt::HANDLE sender = nullptr;
        const auto c = connect(
            f.manage, &CPluginManage::sendWebSocketMsgSig, this,
            [&](const QString &m) {
                if (m.contains(QLatin1String("\"nRet\"")))
                    sender = QThread::currentThreadId();
            },
            Qt::DirectConnection);
        f.sent.clear();
        std::thread library(
            [&] { TalkTopic::SDKResultCallback(9, state, code, user ? &f.manage->talk() : nullptr); });
        library.join();
        const QStringList messages = f.flush();
        disconnect(c);
        QCOMPARE(messages.size(), reply.isEmpty() ? 0 : 1);
        if (!reply.isEmpty()) {
            QCOMPARE(object(messages[0]), object(reply));
            QCOMPARE(sender, worker);
        }
    }

    // Results arriving while the kept request changes always carry a SubType
    // and a MsgID that were kept together.
    void voiceFileResultWhileTheRequestChanges()
    {
        constexpr int kResults = 200;
        std::atomic<bool> go { false };
        std::thread library([&] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < kResults; ++i)
                TalkTopic::SDKResultCallback(i, TRV_TRANSFER_DONE, 0, &f.manage->talk());
        });
        f.sent.clear();
        for (int i = 0; i < kResults; ++i) {
            QMetaObject::invokeMethod(
                f.manage, [this, i] { f.manage->talk().keepVoiceFileRequest(i % 2 ? 3 : 4, i); },
                Qt::QueuedConnection);
            if (i == 10)
                go = true;
        }
        library.join();
        QVERIFY(QTest::qWaitFor([&] { return f.sent.size() >= kResults; }, 30000));
        for (const QString &m : f.sent) {
            const QJsonObject o = object(m);
            const int id = o.value(QStringLiteral("MsgID")).toInt();
            QCOMPARE(o.value(QStringLiteral("SubMsg")).toInt(), id % 2 ? 3 : 4);
        }
    }

    // A real transfer to the simulated device answers through the same callback.
    void voiceFileSentToTheDevice()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("customAlarmVoice.pcm"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1600, char(0xd5)));
        file.close();
        const int id = f.loginId();
        int result = 0;
        f.sent.clear();
        QVERIFY(f.onWorker([&] {
            f.manage->talk().keepVoiceFileRequest(3, 12);
            result = CQNConnect::GetInstance()->ImportFile(
                2, id, 0, path, &TalkTopic::SDKResultCallback, &f.manage->talk());
        }));
        QCOMPARE(result, 100);
        QVERIFY(QTest::qWaitFor([&] { return !f.sent.isEmpty(); }, 30000));
        QCOMPARE(object(f.sent[0]), object(R"({"Msg":30,"SubMsg":3,"MsgID":12,"nRet":100})"));
        const auto files = control::receivedFiles("SN-LIVE");
        QCOMPARE(files.size(), size_t(1));
        QCOMPARE(files[0].first, std::string("customAlarmVoice.pcm"));
        QCOMPARE(files[0].second.size(), size_t(1600));
    }

    // During live view an alarm of the device reaches the page as 2/0 and a
    // dropped connection as 5/0; the page decides what to close.
    void alarmAndDisconnectDuringLiveView()
    {
        f.stop();
        QVERIFY(f.start(device(), QStringLiteral(",\"AlarmStyle\":\"Tool\"")));
        QCOMPARE(f.replyTo(QStringLiteral(R"({"MainType":4,"SubType":0,"Channel":-1,"Stream":1})"))
                     .value(QStringLiteral("Ret"))
                     .toInt(),
            100);
        QVERIFY(f.settle({ 0 }));
        const int id = f.loginId();
        QVERIFY(control::injectAlarm(id, 3, 5, 1));
        const QString alarm = QStringLiteral("{\"Channel\":3,\"Event\":\"VideoLoss\",\"MainEvent\":2,"
                                             "\"Name\":\"AlarmInfo\",\"Status\":\"Stop\","
                                             "\"SubEvent\":0}\n");
        QVERIFY(QTest::qWaitFor([&] { return f.sent.contains(alarm); }, 10000));
        QVERIFY(control::injectDisconnect(id));
        const QString dropped = QStringLiteral("{\"MainEvent\":5,\"Ret\":100,\"SubEvent\":0}\n");
        QVERIFY(QTest::qWaitFor([&] { return f.sent.contains(dropped); }, 10000));
        QVERIFY(f.handle(3) > 0);
        // Closing every channel still works on the dropped streams.
        const QList<QJsonObject> messages
            = f.messagesFor(QStringLiteral(R"({"MainType":4,"SubType":1,"Channel":-1})"));
        QCOMPARE(kindsOf(messages), (QStringList { "0/2", "0/6", "0/3", "reply" }));
        QCOMPARE(messages.last().value(QStringLiteral("Ret")).toInt(), 100);
        QCOMPARE(int(control::callsOf("TRV_NET_StopRealPlay").size()), 16);
        QCOMPARE(f.handle(3), 0);
    }
};

QTEST_MAIN(TestDeviceEvents)
#include "tst_device_events.moc"
