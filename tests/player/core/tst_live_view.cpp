// Live-view requests (MainType 4) through the dispatcher, against the
// simulated device library and a recording window side that keeps a live
// page: replies, events and their order, the streams opened and closed, the
// stream data reaching the window side on the library's threads, the window
// slots' electronic-PTZ display, the window state, and device alarms and
// disconnects during live view.

#include "LiveFixture.h"

#include "QNConnect.h"

#include <QtTest>
#include <thread>

using namespace live_fixture;
namespace control = kestrix::control;

namespace {

QString openRequest(int channel, int stream = 1)
{
    return QStringLiteral("{\"MainType\":4,\"SubType\":0,\"MsgID\":3,\"Channel\":%1,\"Stream\":%2}")
        .arg(channel)
        .arg(stream);
}

QString closeRequest(int channel)
{
    return QStringLiteral("{\"MainType\":4,\"SubType\":1,\"MsgID\":4,\"Channel\":%1}").arg(channel);
}

int count(const std::string &function)
{
    return int(control::callsOf(function).size());
}

} // namespace

class TestLiveView : public QObject
{
    Q_OBJECT

private:
    LiveFixture f;

    // Opens `channel` in window `wnd` and waits for its pictures.
    bool openIn(int channel, int wnd)
    {
        f.widget()->curWnd = wnd;
        const QJsonObject reply = f.replyTo(openRequest(channel));
        return reply.value(QStringLiteral("Ret")).toInt() == 100 && f.settle({ channel });
    }

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

    void openOneChannel_data()
    {
        QTest::addColumn<QList<int>>("before"); // channel, window, channel, window ...
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<int>>("failPlay");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<int>("stops");
        QTest::addColumn<int>("handle"); // 1: open, 0: closed, -1: failed
        const QString ok
            = QStringLiteral(R"({"Msg":4,"SubMsg":0,"MsgID":3,"Ret":100,"Chn":%1,"oldChn":%2,"Stream":1})");
        QTest::newRow("into an empty window") << QList<int>() << 5 << QList<int>() << ok.arg(5).arg(-1)
                                              << QStringList { "0/2", "reply" } << 0 << 1;
        QTest::newRow("replaces the current window's channel")
            << QList<int> { 2, 0 } << 5 << QList<int>() << ok.arg(5).arg(2)
            << QStringList { "0/6", "0/2", "reply" } << 1 << 1;
        // The window's channel is the one just closed: it is not closed twice.
        QTest::newRow("reopens the same channel")
            << QList<int> { 5, 0 } << 5 << QList<int>() << ok.arg(5).arg(-1)
            << QStringList { "0/6", "0/2", "reply" } << 1 << 1;
        QTest::newRow("moves from another window")
            << QList<int> { 5, 1, 2, 0 } << 5 << QList<int>() << ok.arg(5).arg(2)
            << QStringList { "0/6", "0/6", "0/2", "reply" } << 2 << 1;
        QTest::newRow("window cannot decode")
            << QList<int>() << 5 << QList<int> { 5 }
            << R"({"Msg":4,"SubMsg":0,"MsgID":3,"Ret":121,"Chn":5,"oldChn":-1,"Stream":1})"
            << QStringList { "reply" } << 0 << -1;
        QTest::newRow("device refuses the stream")
            << QList<int>() << 20 << QList<int>()
            << QStringLiteral(R"({"Msg":4,"SubMsg":0,"MsgID":3,"Ret":122,"Chn":20,"oldChn":-1,"Stream":1,)"
                              R"("Error":%1})")
                   .arg(TRV_ERR_PARAMETER)
            << QStringList { "0/6", "reply" } << 0 << -1;
        const QString refused
            = QStringLiteral(R"({"Msg":4,"SubMsg":0,"MsgID":3,"Ret":1016,"Chn":%1,"oldChn":-1,"Stream":1})");
        QTest::newRow("channel 64") << QList<int> { 2, 0 } << 64 << QList<int>() << refused.arg(64)
                                    << QStringList { "reply" } << 0 << 0;
        QTest::newRow("channel 256") << QList<int> { 2, 0 } << 256 << QList<int>() << refused.arg(256)
                                     << QStringList { "reply" } << 0 << 0;
        QTest::newRow("channel -2") << QList<int> { 2, 0 } << -2 << QList<int>() << refused.arg(-2)
                                    << QStringList { "reply" } << 0 << 0;
    }
    void openOneChannel()
    {
        QFETCH(QList<int>, before);
        QFETCH(int, channel);
        QFETCH(QList<int>, failPlay);
        QFETCH(QString, reply);
        QFETCH(QStringList, kinds);
        QFETCH(int, stops);
        QFETCH(int, handle);
        for (int i = 0; i + 1 < before.size(); i += 2)
            QVERIFY(openIn(before[i], before[i + 1]));
        RecordingPlayWidget *w = f.widget();
        w->curWnd = 0;
        w->failPlay = failPlay;
        w->clear();
        control::clearCalls();

        const QList<QJsonObject> messages = f.messagesFor(openRequest(channel));
        QCOMPARE(kindsOf(messages), kinds);
        QCOMPARE(messages.last(), object(reply));
        QCOMPARE(count("TRV_NET_StopRealPlay"), stops);
        QCOMPARE(count("TRV_NET_DelRealDataCallBack_V2"), stops);
        QVERIFY(w->allOnThread(QThread::currentThreadId()));

        const bool inTable = channel >= 0 && channel < 64;
        if (!inTable) {
            // Nothing is touched: no window call, no device call, the old stream runs on.
            QVERIFY(w->calls().isEmpty());
            QVERIFY(control::calls().empty());
            QVERIFY(f.handle(before[0]) > 0);
            return;
        }
        const int h = f.handle(channel);
        QCOMPARE(h > 0 ? 1 : h < 0 ? -1 : 0, handle);
        QCOMPARE(w->callsOf(QStringLiteral("PreviewPlay")),
            QStringList { QStringLiteral("PreviewPlay(1,%1,0)").arg(channel) });
        QCOMPARE(count("TRV_NET_RealPlay"), failPlay.isEmpty() ? 1 : 0);
        const int oldChn = messages.last().value(QStringLiteral("oldChn")).toInt();
        if (oldChn >= 0)
            QCOMPARE(f.handle(oldChn), 0);
        if (handle > 0) {
            // The window-state event reports the channel and the current window's channel.
            const QJsonObject data = messages[messages.size() - 2].value(QStringLiteral("Data")).toObject();
            QCOMPARE(data.value(QStringLiteral("Chn")).toInt(), channel);
            QCOMPARE(data.value(QStringLiteral("CurChannel")).toInt(), channel);
            QCOMPARE(data.value(QStringLiteral("nHue")).toInt(), 44);
            QCOMPARE(data.value(QStringLiteral("PlayStatus")).toInt(), 5);
            QVERIFY(QTest::qWaitFor([&] { return w->inputs(channel) > 0; }, 10000));
        } else {
            QCOMPARE(w->liveTable[0], -1);
        }
    }

    // The 64-bit player opens every channel without asking how much memory
    // is left.
    void noMemoryCheckIn64Bits()
    {
        if (sizeof(void *) != 8)
            QSKIP("the 32-bit player checks the memory");
        QCOMPARE(f.replyTo(openRequest(1)).value("Ret").toInt(), 100);
        const QList<QJsonObject> messages = f.messagesFor(openRequest(-1));
        QCOMPARE(kindsOf(messages).filter(QStringLiteral("0/3")).size(), 1);
        for (const QJsonObject &m : messages) {
            if (kindOf(m) != QLatin1String("0/3"))
                continue;
            const QJsonArray status = m.value("ChnStatus").toArray();
            QCOMPARE(status.size(), 16);
            for (const QJsonValue &item : status)
                QCOMPARE(item.toObject().value("Ret").toInt(), 100);
        }
        QVERIFY(!f.logged(QStringLiteral("nSupportNum : ")));
        QVERIFY(!f.logged(QStringLiteral("nRemainMemory")));
    }

    void memoryBudget_data()
    {
        QTest::addColumn<int>("remain");
        QTest::addColumn<int>("app");
        QTest::addColumn<int>("stream");
        QTest::addColumn<int>("channels");
        QTest::newRow("900 left, 100 used, main stream") << 900 << 100 << 0 << 20;
        QTest::newRow("extra stream") << 900 << 100 << 1 << 32;
        QTest::newRow("remaining memory counts up to 1024") << 4000 << 100 << 0 << 23;
        QTest::newRow("at the player's own use") << 100 << 100 << 0 << 0;
        QTest::newRow("below the player's own use") << 90 << 100 << 0 << 0;
        QTest::newRow("far below") << 10 << 100 << 1 << -3;
        QTest::newRow("one short of a channel") << 139 << 100 << 0 << 0;
        QTest::newRow("just one channel") << 140 << 100 << 0 << 1;
    }
    void memoryBudget()
    {
        QFETCH(int, remain);
        QFETCH(int, app);
        QFETCH(int, stream);
        QFETCH(int, channels);
        QCOMPARE(LiveViewTopic::LiveChannelBudget(remain, app, stream), channels);
    }

    void openManyChannels_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<int>>("failPlay");
        QTest::addColumn<bool>("failFirstStream");
        QTest::addColumn<QList<int>>("rets"); // per channel
        QTest::addColumn<int>("ret");
        auto repeat = [](int value, int n) {
            QList<int> out;
            for (int i = 0; i < n; ++i)
                out.append(value);
            return out;
        };
        QTest::newRow("all channels") << -1 << QList<int>() << false << repeat(100, 16) << 100;
        QTest::newRow("260: four") << 260 << QList<int>() << false << repeat(100, 4) << 100;
        QTest::newRow("258: two") << 258 << QList<int>() << false << repeat(100, 2) << 100;
        QTest::newRow("257: one") << 257 << QList<int>() << false << repeat(100, 1) << 100;
        // 999 - 256 channels do not fit the 64 windows; the device has 16.
        QTest::newRow("999: at most 64")
            << 999 << QList<int>() << false << repeat(100, 16) + repeat(122, 48) << 122;
        QTest::newRow("each channel its own error")
            << 259 << QList<int> { 1 } << true << QList<int> { 122, 121, 100 } << 100;
        QTest::newRow("the last channel's result")
            << 258 << QList<int> { 1 } << false << QList<int> { 100, 121 } << 121;
    }
    void openManyChannels()
    {
        QFETCH(int, channel);
        QFETCH(QList<int>, failPlay);
        QFETCH(bool, failFirstStream);
        QFETCH(QList<int>, rets);
        QFETCH(int, ret);
        RecordingPlayWidget *w = f.widget();
        w->failPlay = failPlay;
        if (failFirstStream)
            control::failNext("TRV_NET_RealPlay", TRV_ERR_DEVICE_OFFLINE);
        const QList<QJsonObject> messages = f.messagesFor(openRequest(channel, 1));
        QCOMPARE(kindsOf(messages), (QStringList { "0/2", "0/6", "0/3", "reply" }));
        QCOMPARE(messages[3],
            object(QStringLiteral(R"({"Msg":4,"SubMsg":0,"MsgID":3,"Ret":%1,"Chn":0,)"
                                  R"("oldChn":0,"Stream":0})")
                       .arg(ret)));
        const QJsonArray status = messages[2].value(QStringLiteral("ChnStatus")).toArray();
        QCOMPARE(status.size(), rets.size());
        QStringList played;
        for (int i = 0; i < rets.size(); ++i) {
            const QJsonObject item = status[i].toObject();
            QCOMPARE(item.value(QStringLiteral("Chn")).toInt(), i);
            QCOMPARE(item.value(QStringLiteral("Ret")).toInt(), rets[i]);
            QCOMPARE(item.value(QStringLiteral("Stream")).toInt(), 1);
            QCOMPARE(item.value(QStringLiteral("Record")), QJsonValue(false));
            // An error only for a stream the device refused, never another channel's.
            QCOMPARE(item.contains(QStringLiteral("Error")), rets[i] == 122);
            if (rets[i] == 122) {
                const int expected = failFirstStream && i == 0 ? TRV_ERR_DEVICE_OFFLINE : TRV_ERR_PARAMETER;
                QCOMPARE(item.value(QStringLiteral("Error")).toInt(), expected);
            }
            const int h = f.handle(i);
            QVERIFY2(rets[i] == 100 ? h > 0 : h < 0, qPrintable(QString::number(i)));
            played.append(QStringLiteral("PreviewPlay(1,%1,%1)").arg(i));
        }
        QCOMPARE(w->callsOf(QStringLiteral("PreviewPlay")), played);
        QCOMPARE(count("TRV_NET_RealPlay"), rets.size() - failPlay.size());
        // Windows of refused streams are stopped again.
        for (int i = 0; i < rets.size(); ++i)
            QCOMPARE(
                w->callsOf(QStringLiteral("PreviewStop")).contains(QStringLiteral("PreviewStop(%1)").arg(i)),
                rets[i] == 122);
        QVERIFY(w->allOnThread(QThread::currentThreadId()));
    }

    // Streams of the channels are replaced, and a channel beyond the count
    // that one of the windows showed is stopped rather than left drawing.
    void openManyReplacesWhatTheWindowsShow()
    {
        QVERIFY(openIn(1, 0));
        QVERIFY(openIn(10, 1));
        QVERIFY(openIn(12, 5));
        const int old1 = f.handle(1);
        const int old10 = f.handle(10);
        RecordingPlayWidget *w = f.widget();
        w->clear();
        control::clearCalls();
        const QJsonObject reply = f.replyTo(openRequest(258));
        QCOMPARE(reply.value(QStringLiteral("Ret")).toInt(), 100);
        QCOMPARE(functionsOf("TRV_NET_StopRealPlay"),
            (QStringList { QStringLiteral("TRV_NET_StopRealPlay(%1,0)").arg(old1),
                QStringLiteral("TRV_NET_StopRealPlay(%1,0)").arg(old10) }));
        QCOMPARE(f.handle(10), 0);
        QVERIFY(f.handle(1) > 0 && f.handle(1) != old1);
        QVERIFY(f.handle(12) > 0);
        QCOMPARE(w->liveTable[0], 0);
        QCOMPARE(w->liveTable[1], 1);
        QCOMPARE(w->liveTable[5], 12);
    }

    void close_data()
    {
        QTest::addColumn<QString>("open");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<int>("ret");
        QTest::addColumn<int>("stops");
        QTest::addColumn<QStringList>("previewStops");
        QStringList all;
        for (int i = 0; i < 16; ++i)
            all.append(QStringLiteral("PreviewStop(%1)").arg(i));
        QTest::newRow("one") << openRequest(5) << 5 << QStringList { "0/6", "0/2", "reply" } << 100 << 1
                             << QStringList { "PreviewStop(5)" };
        QTest::newRow("one that is not open") << openRequest(5) << 3 << QStringList { "0/6", "0/2", "reply" }
                                              << 100 << 0 << QStringList { "PreviewStop(3)" };
        QTest::newRow("all") << openRequest(-1) << -1 << QStringList { "0/2", "0/6", "0/3", "reply" } << 100
                             << 16 << all;
        QTest::newRow("outside the table")
            << openRequest(5) << 70 << QStringList { "reply" } << 1016 << 0 << QStringList();
        QTest::newRow("negative") << openRequest(5) << -3 << QStringList { "reply" } << 1016 << 0
                                  << QStringList();
    }
    void close()
    {
        QFETCH(QString, open);
        QFETCH(int, channel);
        QFETCH(QStringList, kinds);
        QFETCH(int, ret);
        QFETCH(int, stops);
        QFETCH(QStringList, previewStops);
        QCOMPARE(f.replyTo(open).value(QStringLiteral("Ret")).toInt(), 100);
        QVERIFY(f.settle({ open == openRequest(-1) ? 0 : 5 }));
        RecordingPlayWidget *w = f.widget();
        w->clear();
        control::clearCalls();
        const QList<QJsonObject> messages = f.messagesFor(closeRequest(channel));
        QCOMPARE(kindsOf(messages), kinds);
        QCOMPARE(messages.last(),
            object(
                QStringLiteral(R"({"Msg":4,"SubMsg":1,"MsgID":4,"Ret":%1,"Chn":%2})").arg(ret).arg(channel)));
        QCOMPARE(count("TRV_NET_StopRealPlay"), stops);
        QCOMPARE(w->callsOf(QStringLiteral("PreviewStop")), previewStops);
        if (channel == -1) {
            const QJsonArray status = messages[2].value(QStringLiteral("ChnStatus")).toArray();
            QCOMPARE(status.size(), 16);
            for (int i = 0; i < 16; ++i) {
                QCOMPARE(status[i].toObject(),
                    object(QStringLiteral(R"({"Ret":100,"Chn":%1,"Stream":9,"Record":false})").arg(i)));
                QCOMPARE(f.handle(i), 0);
            }
        } else if (ret == 100) {
            QCOMPARE(f.handle(channel), 0);
            QCOMPARE(
                messages[1].value(QStringLiteral("Data")).toObject().value(QStringLiteral("Chn")).toInt(),
                channel);
        } else {
            QVERIFY(w->calls().isEmpty());
            QVERIFY(f.handle(5) > 0);
        }
    }

    void windowFunctions_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("tweak");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("calls");
        const auto r = [](const char *body) {
            return QStringLiteral("{\"MainType\":4,\"MsgID\":9,%1}").arg(QLatin1String(body));
        };
        QTest::newRow("colour")
            << r(R"("SubType":2,"Channel":3)") << ""
            << R"({"Msg":4,"SubMsg":2,"MsgID":9,"Ret":1016,"nBrightness":11,"nContrast":22,)"
               R"("nSaturation":33,"nHue":44})"
            << QStringList { "GetColor(3)" };
        QTest::newRow("colour of channel 64")
            << r(R"("SubType":2,"Channel":64)") << ""
            << R"({"Msg":4,"SubMsg":2,"MsgID":9,"Ret":1016,"nBrightness":0,"nContrast":0,"nSaturation":0,"nHue":0})"
            << QStringList();
        QTest::newRow("set colour") << r(R"("SubType":3,"Type":1,"Value":60)") << ""
                                    << R"({"Msg":4,"SubMsg":3,"MsgID":9,"Ret":100,"Chn":-1})"
                                    << QStringList { "SetColor(1,60)" };
        QTest::newRow("set colour refused")
            << r(R"("SubType":3,"Type":1,"Value":60)") << "refuse"
            << R"({"Msg":4,"SubMsg":3,"MsgID":9,"Ret":1016,"Chn":-1})" << QStringList { "SetColor(1,60)" };
        QTest::newRow("play state") << r(R"("SubType":4,"Channel":3)") << ""
                                    << R"({"Msg":4,"SubMsg":4,"MsgID":9,"Ret":100,"Status":5})"
                                    << QStringList { "GetPlayState(0,3)" };
        QTest::newRow("play state unknown") << r(R"("SubType":4,"Channel":3)") << "refuse"
                                            << R"({"Msg":4,"SubMsg":4,"MsgID":9,"Ret":1016,"Status":-1})"
                                            << QStringList { "GetPlayState(0,3)" };
        QTest::newRow("play state of channel 99")
            << r(R"("SubType":4,"Channel":99)") << ""
            << R"({"Msg":4,"SubMsg":4,"MsgID":9,"Ret":1016,"Status":-1})" << QStringList();
        QTest::newRow("full screen") << r(R"("SubType":5)") << ""
                                     << R"({"Msg":4,"SubMsg":5,"MsgID":9,"Ret":100,"Chn":-1})"
                                     << QStringList { "onFullScreen()" };
        QTest::newRow("current channel")
            << r(R"("SubType":7)") << ""
            << R"({"Msg":4,"SubMsg":7,"MsgID":9,"Ret":100,"Chn":3})" << QStringList { "GetCurWndChn(5)" };
        QTest::newRow("snapshot")
            << r(R"("SubType":9,"Channel":3)") << ""
            << R"({"Msg":4,"SubMsg":9,"MsgID":9,"Ret":100,"Chn":3,"CapPath":"/tmp/cap é"})"
            << QStringList { "Capture(3,false)", "LoadLocalInfo()" };
        QTest::newRow("snapshot fails")
            << r(R"("SubType":9,"Channel":3)") << "refuse"
            << R"({"Msg":4,"SubMsg":9,"MsgID":9,"Ret":1016,"Chn":3})" << QStringList { "Capture(3,false)" };
        QTest::newRow("snapshot of channel 64")
            << r(R"("SubType":9,"Channel":64)") << ""
            << R"({"Msg":4,"SubMsg":9,"MsgID":9,"Ret":1016,"Chn":64})" << QStringList();
        QTest::newRow("record")
            << r(R"("SubType":10,"Channel":3,"Record":1)") << ""
            << R"({"Msg":4,"SubMsg":10,"MsgID":9,"Ret":100,"Chn":3,"Record":1,"RecPath":"/tmp/rec"})"
            << QStringList { "LoadLocalInfo()", "Record(3,true)" };
        QTest::newRow("stop recording")
            << r(R"("SubType":10,"Channel":3,"Record":0)") << ""
            << R"({"Msg":4,"SubMsg":10,"MsgID":9,"Ret":100,"Chn":3,"Record":0,"RecPath":"/tmp/rec"})"
            << QStringList { "LoadLocalInfo()", "Record(3,false)" };
        QTest::newRow("record refused")
            << r(R"("SubType":10,"Channel":3,"Record":1)") << "refuse"
            << R"({"Msg":4,"SubMsg":10,"MsgID":9,"Ret":1016,"Chn":3,"Record":1,"RecPath":"/tmp/rec"})"
            << QStringList { "LoadLocalInfo()", "Record(3,true)" };
        QTest::newRow("record channel 70")
            << r(R"("SubType":10,"Channel":70,"Record":1)") << ""
            << R"({"Msg":4,"SubMsg":10,"MsgID":9,"Ret":1016,"Chn":70,"Record":1,"RecPath":""})"
            << QStringList();
        QTest::newRow("original size") << r(R"("SubType":12)") << ""
                                       << R"({"Msg":4,"SubMsg":12,"MsgID":9,"Ret":100})"
                                       << QStringList { "GetCurWndChn(0)", "PlayOriginal(3)" };
        QTest::newRow("original size refused") << r(R"("SubType":12)") << "refuse"
                                               << R"({"Msg":4,"SubMsg":12,"MsgID":9,"Ret":1016})"
                                               << QStringList { "GetCurWndChn(0)", "PlayOriginal(3)" };
        QTest::newRow("original size of an empty window")
            << r(R"("SubType":12)") << "empty"
            << R"({"Msg":4,"SubMsg":12,"MsgID":9,"Ret":1016})" << QStringList { "GetCurWndChn(0)" };
        QTest::newRow("preview status") << r(R"("SubType":13)") << ""
                                        << R"({"Msg":4,"SubMsg":13,"MsgID":9,"Ret":100})"
                                        << QStringList { "GetCurWndChn(0)", "SetPreviewStatus(3)" };
        QTest::newRow("preview status refused") << r(R"("SubType":13)") << "refuse"
                                                << R"({"Msg":4,"SubMsg":13,"MsgID":9,"Ret":1016})"
                                                << QStringList { "GetCurWndChn(0)", "SetPreviewStatus(3)" };
    }
    void windowFunctions()
    {
        QFETCH(QString, request);
        QFETCH(QString, tweak);
        QFETCH(QString, reply);
        QFETCH(QStringList, calls);
        RecordingPlayWidget *w = f.widget();
        w->liveTable[0] = tweak == QLatin1String("empty") ? -1 : 3;
        w->localInfo.CapPath = QStringLiteral("/tmp/cap é");
        w->localInfo.RecPath = QStringLiteral("/tmp/rec");
        if (tweak == QLatin1String("refuse")) {
            w->setColorResult = false;
            w->playState = -1;
            w->captureResult = -2;
            w->recordResult = -2;
            w->playOriginalResult = -2;
            w->previewStatusResult = false;
        }
        const QList<QJsonObject> messages = f.messagesFor(request);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0], object(reply));
        QCOMPARE(w->described(), calls);
        QVERIFY(w->allOnThread(QThread::currentThreadId()));
        QVERIFY(control::calls().empty());
        if (request.contains(QLatin1String("\"SubType\":2,\"Channel\":3")))
            QVERIFY(
                f.logged(QStringLiteral("nChannel=3 nBrightness=11 nContrast=22 nSaturation=33 nHue=44")));
        if (calls.contains(QStringLiteral("PlayOriginal(3)")))
            QVERIFY(f.logged(QStringLiteral("PlayControlCmdPlayOriginal--->3")));
    }

    void soundToggle_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("result");
        QTest::addColumn<QList<int>>("audio"); // after each of two requests
        QTest::addColumn<int>("ret");
        QTest::newRow("on, then off") << 3 << 0 << QList<int> { 1, 0 } << 100;
        QTest::newRow("refused") << 3 << -2 << QList<int> { 0, 0 } << 1016;
        QTest::newRow("channel 64") << 64 << 0 << QList<int> { 0, 0 } << 1016;
    }
    void soundToggle()
    {
        QFETCH(int, channel);
        QFETCH(int, result);
        QFETCH(QList<int>, audio);
        QFETCH(int, ret);
        RecordingPlayWidget *w = f.widget();
        w->openSoundResult = result;
        const QString request
            = QStringLiteral("{\"MainType\":4,\"SubType\":8,\"MsgID\":2,\"Channel\":%1}").arg(channel);
        for (int i = 0; i < 2; ++i) {
            w->clear();
            QCOMPARE(f.replyTo(request),
                object(QStringLiteral(R"({"Msg":4,"SubMsg":8,"MsgID":2,"Ret":%1,"Audio":%2,"Chn":%3})")
                           .arg(ret)
                           .arg(audio[i])
                           .arg(channel)));
            if (channel < 64) {
                const bool on = i == 0 || result != 0;
                QCOMPARE(w->described(),
                    (QStringList { QStringLiteral("IsSoundWnd(0,%1)").arg(channel),
                        QStringLiteral("OpenSound(0,%1,%2)").arg(channel).arg(on ? "true" : "false"),
                        QStringLiteral("IsSoundWnd(0,%1)").arg(channel) }));
            } else {
                QVERIFY(w->calls().isEmpty());
            }
        }
    }

    void recordAll_data()
    {
        QTest::addColumn<int>("record");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("itemRet");
        QTest::addColumn<bool>("recording");
        QTest::newRow("start") << 1 << 0 << 100 << true;
        QTest::newRow("start refused") << 1 << -2 << 1016 << false;
        QTest::newRow("stop") << 0 << 0 << 100 << false;
    }
    void recordAll()
    {
        QFETCH(int, record);
        QFETCH(int, result);
        QFETCH(int, itemRet);
        QFETCH(bool, recording);
        f.widget()->recordResult = result;
        const QList<QJsonObject> messages = f.messagesFor(
            QStringLiteral("{\"MainType\":4,\"SubType\":10,\"MsgID\":6,\"Channel\":-1,\"Record\":%1}")
                .arg(record));
        QCOMPARE(kindsOf(messages), (QStringList { "0/3", "reply" }));
        QCOMPARE(messages[1],
            object(QStringLiteral(R"({"Msg":4,"SubMsg":10,"MsgID":6,"Ret":100,"Chn":-1,"Record":%1})")
                       .arg(record)));
        const QJsonArray status = messages[0].value(QStringLiteral("ChnStatus")).toArray();
        QCOMPARE(status.size(), 16);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(status[i].toObject(),
                object(QStringLiteral(R"({"Ret":%1,"Chn":%2,"Record":%3})")
                           .arg(itemRet)
                           .arg(i)
                           .arg(recording ? "true" : "false")));
        QCOMPARE(f.widget()->callsOf(QStringLiteral("Record")).size(), 16);
    }

    void noReply_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("analyzeError");
        QTest::newRow("SubType 6") << R"({"MainType":4,"SubType":6,"Channel":1})" << false;
        QTest::newRow("SubType 11") << R"({"MainType":4,"SubType":11,"Channel":1})" << false;
        QTest::newRow("SubType 99") << R"({"MainType":4,"SubType":99})" << false;
        QTest::newRow("SubType as a text") << R"({"MainType":4,"SubType":"0","Channel":1})" << true;
        QTest::newRow("Channel as a text") << R"({"MainType":4,"SubType":0,"Channel":"1"})" << true;
        QTest::newRow("Channel as a list") << R"({"MainType":4,"SubType":1,"Channel":[1]})" << true;
        QTest::newRow("Stream as an object")
            << R"({"MainType":4,"SubType":0,"Channel":1,"Stream":{}})" << true;
        QTest::newRow("Record as a text")
            << R"({"MainType":4,"SubType":10,"Channel":1,"Record":"on"})" << true;
        QTest::newRow("Channel beyond int") << R"({"MainType":4,"SubType":0,"Channel":1e12})" << true;
    }
    void noReply()
    {
        QFETCH(QString, request);
        QFETCH(bool, analyzeError);
        QCOMPARE(f.answersTo(request), QStringList());
        QCOMPARE(f.logged(QStringLiteral("can not analyze json")), analyzeError);
        QVERIFY(f.widget()->calls().isEmpty());
        QVERIFY(control::calls().empty());
    }

    // Stream blocks reach the window side on the library's threads, video and
    // audio, and stop once the channel is closed.
    void streamData()
    {
        QVERIFY(openIn(1, 0));
        QVERIFY(openIn(2, 1));
        RecordingPlayWidget *w = f.widget();
        Qt::HANDLE worker = nullptr;
        QVERIFY(f.onWorker([&] { worker = QThread::currentThreadId(); }));
        w->clear();
        w->recordInput = true;
        QVERIFY(QTest::qWaitFor(
            [&] { return w->callsOf(QStringLiteral("InputRealPlayData")).size() >= 8; }, 10000));
        w->recordInput = false;
        bool video = false, audio = false;
        for (const RecordingPlayWidget::Call &c : w->calls()) {
            QCOMPARE(c.name, QStringLiteral("InputRealPlayData"));
            QVERIFY(c.thread != QThread::currentThreadId() && c.thread != worker);
            QVERIFY(c.args[1].toInt() > 32); // a frame header and its payload
            video = video || c.args[2].toInt() == TRV_FRAME_VIDEO;
            audio = audio || c.args[2].toInt() == TRV_FRAME_AUDIO;
        }
        QVERIFY(video && audio);
        QVERIFY(f.foreignLookups() > 0);

        QCOMPARE(f.replyTo(closeRequest(1)).value(QStringLiteral("Ret")).toInt(), 100);
        const int closedAt = w->inputs(1);
        const int other = w->inputs(2);
        // Channel 2 goes on: a second of its blocks, none of channel 1.
        QVERIFY(QTest::qWaitFor([&] { return w->inputs(2) >= other + 50; }, 10000));
        QCOMPARE(w->inputs(1), closedAt);
    }

    // Data for a channel without a window is dropped; the callback never makes
    // a window and stays off every widget.
    void dataWithoutAWindow()
    {
        QVERIFY(openIn(1, 0));
        RecordingPlayWidget *w = f.widget();
        f.install(false);
        w->clear();
        const int before = w->inputs(1);
        const int lookups = f.foreignLookups();
        // Fifty blocks asked for a window and found none.
        QVERIFY(QTest::qWaitFor([&] { return f.foreignLookups() >= lookups + 50; }, 10000));
        QCOMPARE(w->inputs(1), before);
        QVERIFY(w->calls().isEmpty());
        // Requests still work without a window.
        QCOMPARE(f.replyTo(QStringLiteral(R"({"MainType":4,"SubType":9,"Channel":1})"))
                     .value(QStringLiteral("Ret"))
                     .toInt(),
            1016);
        f.install(true);
        QVERIFY(QTest::qWaitFor([&] { return w->inputs(1) > before + 10; }, 10000));
    }

    // The callback checks what the library passes before using it.
    void dataCallbackInput_data()
    {
        QTest::addColumn<bool>("frame");
        QTest::addColumn<quintptr>("user");
        QTest::addColumn<bool>("data");
        QTest::addColumn<uint>("length");
        QTest::addColumn<int>("inputs");
        QTest::newRow("a block") << true << quintptr(4) << true << 100u << 1;
        QTest::newRow("no frame") << false << quintptr(4) << true << 100u << 0;
        QTest::newRow("channel 64") << true << quintptr(64) << true << 100u << 0;
        QTest::newRow("channel from a pointer") << true << ~quintptr(0) << true << 100u << 0;
        QTest::newRow("no data") << true << quintptr(4) << false << 100u << 0;
        QTest::newRow("empty") << true << quintptr(4) << true << 0u << 0;
        QTest::newRow("longer than an int") << true << quintptr(4) << true << 0x80000000u << 0;
    }
    void dataCallbackInput()
    {
        QFETCH(bool, frame);
        QFETCH(quintptr, user);
        QFETCH(bool, data);
        QFETCH(uint, length);
        QFETCH(int, inputs);
        static const unsigned char block[100] = {};
        TRV_FRAME_INFO info = {};
        info.frameType = TRV_FRAME_AUDIO;
        info.data = data ? block : nullptr;
        info.length = length;
        QCOMPARE(
            LiveViewTopic::PreviewDataCallback(1, frame ? &info : nullptr, reinterpret_cast<void *>(user)),
            1);
        QCOMPARE(f.widget()->inputs(4), inputs);
    }

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

QTEST_MAIN(TestLiveView)
#include "tst_live_view.moc"
