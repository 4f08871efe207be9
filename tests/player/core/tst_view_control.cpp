// View control requests through the dispatcher, against the simulated
// device library and a recording window side that keeps a live page: page
// switches that stop and reopen the live channels, the snapshot of one
// channel, the window calls of the zoom, split and rule requests, the colour
// preview's own login and a fresh login.

#include "LiveFixture.h"

#include <QtTest>

using namespace live_fixture;
namespace control = kestrix::control;

namespace {

QString openRequest(int channel, int stream)
{
    return QStringLiteral("{\"MainType\":4,\"SubType\":0,\"MsgID\":3,\"Channel\":%1,\"Stream\":%2}")
        .arg(channel)
        .arg(stream);
}

QString switchRequest(int page)
{
    return QStringLiteral("{\"MainType\":2,\"SubType\":%1,\"MsgID\":5}").arg(page);
}

int count(const std::string &function)
{
    return int(control::callsOf(function).size());
}

} // namespace

class TestViewControl : public QObject
{
    Q_OBJECT

private:
    LiveFixture f;

    bool openIn(int channel, int stream, int wnd)
    {
        f.widget()->curWnd = wnd;
        return f.replyTo(openRequest(channel, stream)).value(QStringLiteral("Ret")).toInt() == 100
            && f.settle({ channel });
    }

private slots:
    void initTestCase() { f.initTestCase(this); }
    void init() { QVERIFY(f.start(device())); }
    void cleanup() { f.stop(); }
    void cleanupTestCase() { f.cleanupTestCase(); }

    // Live -> playback -> live reopens the channels that were open, each in
    // its window with its stream type, and reports them once.
    void switchModeReopensChannels_data()
    {
        QTest::addColumn<int>("window5"); // FindWndIndex of channel 5 when leaving; -2: its real window
        QTest::addColumn<int>("ret5");
        QTest::addColumn<QStringList>("plays");
        QTest::newRow("both back") << -2 << 100 << QStringList { "PreviewPlay(0,2,0)", "PreviewPlay(1,5,3)" };
        // The restore tables have 64 windows: others are not reopened.
        QTest::newRow("window outside the grid") << 64 << 1016 << QStringList { "PreviewPlay(0,2,0)" };
        QTest::newRow("no window") << -1 << 1016 << QStringList { "PreviewPlay(0,2,0)" };
    }
    void switchModeReopensChannels()
    {
        QFETCH(int, window5);
        QFETCH(int, ret5);
        QFETCH(QStringList, plays);
        QVERIFY(openIn(2, 0, 0));
        QVERIFY(openIn(5, 1, 3));
        if (window5 != -2)
            f.widget()->wndOfChannel.insert(5, window5);

        QCOMPARE(kindsOf(f.messagesFor(switchRequest(1))), QStringList { "reply" });
        QVERIFY(f.handle(2) <= 0);
        QVERIFY(f.handle(5) <= 0);
        QCOMPARE(count("TRV_NET_StopRealPlay"), 2);
        f.widget()->wndOfChannel.clear();
        f.widget()->clear();

        const QList<QJsonObject> back = f.messagesFor(switchRequest(0));
        // The handler's own messages come first; the reopened streams' size
        // reports may follow.
        QCOMPARE(kindsOf(back).mid(0, 2), (QStringList { "0/3", "reply" }));
        QCOMPARE(kindsOf(back).count(QStringLiteral("0/3")), 1);
        const QJsonArray status = back[0].value(QStringLiteral("ChnStatus")).toArray();
        QCOMPARE(status.size(), 16);
        QCOMPARE(status[2].toObject(), object(R"({"Ret":100,"Chn":2,"Stream":0,"Record":false})"));
        QCOMPARE(status[5].toObject().value(QStringLiteral("Ret")).toInt(), ret5);
        QCOMPARE(status[5].toObject().value(QStringLiteral("Stream")).toInt(), 1);
        QCOMPARE(status[0].toObject().value(QStringLiteral("Ret")).toInt(), 1016);
        QCOMPARE(f.widget()->callsOf(QStringLiteral("PreviewPlay")), plays);
        QVERIFY(f.handle(2) > 0);
        QCOMPARE(f.handle(5) > 0, ret5 == 100);
        QCOMPARE(f.widget()->callsOf(QStringLiteral("SetPageIndex")), QStringList { "SetPageIndex(0)" });

        // A second return has nothing pending: no status event (the reopened
        // streams' first pictures may still report their sizes).
        const QStringList again = kindsOf(f.messagesFor(switchRequest(0)));
        QVERIFY2(!again.contains(QStringLiteral("0/3")) && again.endsWith(QStringLiteral("reply")),
            qPrintable(again.join(QLatin1Char(' '))));
    }

    // Channels outside the 64-entry tables, or a window that cannot decode,
    // open nothing and answer 1016. (The real window's test takes pictures.)
    void snapshotRefused_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("cannotDecode");
        QTest::newRow("channel 64") << 64 << false;
        QTest::newRow("channel -1") << -1 << false;
        QTest::newRow("window cannot decode") << 6 << true;
    }
    void snapshotRefused()
    {
        QFETCH(int, channel);
        QFETCH(bool, cannotDecode);
        if (cannotDecode)
            f.widget()->failPlay.append(channel);
        QCOMPARE(f.replyTo(QStringLiteral("{\"MainType\":19,\"SubType\":%1,\"MsgID\":8}").arg(channel)),
            object(QStringLiteral(R"({"Msg":19,"Channel":%1,"MsgID":8,"Ret":1016})").arg(channel)));
        QCOMPARE(f.widget()->callsOf(QStringLiteral("Capture")), QStringList());
        QCOMPARE(count("TRV_NET_RealPlay"), 0);
    }

    void windowCalls_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("points"); // the rule's point count handed on, -1: no rule
        const QString ptz
            = QStringLiteral(R"({"MainType":24,"SubType":%1,"MsgID":1,"Channel":3,"Step":7,"Preset":2})");
        const QString ok = QStringLiteral(R"({"Msg":24,"SubMsg":%1,"MsgID":1,"Ret":100})");
        QTest::newRow("ptz right") << ptz.arg(3) << "PTZElectronicMove(3,3,7)" << ok.arg(3) << -1;
        QTest::newRow("ptz zoom out") << ptz.arg(4) << "PTZElectZoomOut(3,7)" << ok.arg(4) << -1;
        QTest::newRow("ptz zoom in") << ptz.arg(5) << "PTZElectZoomIn(3,7)" << ok.arg(5) << -1;
        QTest::newRow("ptz preset") << ptz.arg(7) << "PTZElectPresent(3,7,2)" << ok.arg(7) << -1;
        QTest::newRow("ptz reset") << ptz.arg(9) << "PTZElectRedu(3)" << ok.arg(9) << -1;
        QTest::newRow("ptz open") << ptz.arg(10) << "PTZElectOpen(3,-1)" << ok.arg(10) << -1;
        QTest::newRow("ptz unknown") << ptz.arg(11) << "" << ok.arg(11) << -1;
        QTest::newRow("scale") << R"({"MainType":29,"SubType":2,"MsgID":1,"Speed":5})"
                               << "ScaleSwitch(2,5)"
                               << R"({"Msg":29,"SubMsg":2,"MsgID":1,"Ret":100})" << -1;
        QTest::newRow("split") << R"({"MainType":3,"SubType":4,"MsgID":1})"
                               << "ChangeSplit(4)"
                               << R"({"Msg":3,"SubMsg":4,"MsgID":1,"Chn":-1,"Ret":100})" << -1;
        QTest::newRow("wrong type") << R"({"MainType":24,"SubType":0,"Channel":"3"})"
                                    << ""
                                    << "" << -1;
        const QString rule
            = QStringLiteral(R"({"MainType":34,"SubType":1,"MsgID":1,"Channel":258,"ptsNum":%1,)"
                             R"("RuleRegion":[{"X":100,"Y":200},{"X":8000,"Y":8192}]})");
        const QString drawn
            = QStringLiteral(R"({"Msg":34,"SubMsg":1,"MsgID":1,"WndNum":0,"Chn":0,"Ret":100})");
        QTest::newRow("rule") << rule.arg(2) << "SetRuleRegionInfo(1)" << drawn << 2;
        // The drawing reads the record's eight points at most.
        QTest::newRow("rule, too many points") << rule.arg(4000) << "SetRuleRegionInfo(1)" << drawn << 8;
        QTest::newRow("rule, negative count") << rule.arg(-2) << "SetRuleRegionInfo(1)" << drawn << 0;
    }
    void windowCalls()
    {
        QFETCH(QString, request);
        QFETCH(QString, call);
        QFETCH(QString, reply);
        QFETCH(int, points);
        const QStringList answers = f.answersTo(request);
        QCOMPARE(answers.size(), reply.isEmpty() ? 0 : 1);
        if (!reply.isEmpty())
            QCOMPARE(object(answers[0]), object(reply));
        const QStringList made = f.widget()->described().filter(
            QRegularExpression(QStringLiteral("^(PTZ|Scale|ChangeSplit|SetRule)")));
        QCOMPARE(made, call.isEmpty() ? QStringList() : QStringList { call });
        if (points >= 0) {
            const RuleRegionInfo &r = f.widget()->lastRule;
            QCOMPARE(r.pointCount, points);
            QCOMPARE(r.window, 2); // the low 8 bits of the channel
            QCOMPARE(r.points[1].x, 8000);
            QCOMPARE(r.points[2].x, 0); // missing points read as 0
        }
    }

    // The colour preview logs in a second time; the device's answer to that
    // login leaves the main login's record alone.
    void colourPreview()
    {
        kestrix::DeviceSpec changed = device(8);
        control::addDevice(changed); // the device now reports 8 channels
        QCOMPARE(f.replyTo(R"({"MainType":6,"SubType":0,"MsgID":2,"Channel":1,"Stream":1})"),
            object(R"({"Msg":6,"SubMsg":0,"MsgID":2,"Ret":100})"));
        int channels = 0;
        int colorLogin = 0;
        QVERIFY(f.onWorker([&] {
            channels = f.manage->context().mainDevice().totalChannels;
            colorLogin = f.manage->context().mainDevice().colorLoginId;
        }));
        QCOMPARE(channels, 16);
        QVERIFY(colorLogin > 0 && colorLogin != f.loginId());
        QCOMPARE(
            f.widget()->callsOf(QStringLiteral("ColorPreviewStart")), QStringList { "ColorPreviewStart(1)" });
        QTRY_VERIFY(f.widget()->names().contains(QStringLiteral("InputColorSetData")));

        // The colour page keeps it; the live page ends it.
        QCOMPARE(kindsOf(f.messagesFor(switchRequest(2))), QStringList { "reply" });
        QCOMPARE(count("TRV_NET_Logout"), 0);
        f.messagesFor(switchRequest(0));
        QCOMPARE(count("TRV_NET_Logout"), 1);
        QCOMPARE(
            f.widget()->callsOf(QStringLiteral("ColorPreviewStop")), QStringList { "ColorPreviewStop()" });
        QCOMPARE(f.answersTo(R"({"MainType":6,"SubType":2})"), QStringList());
    }

    // A fresh login to a device that now reports no channels is refused and
    // leaves the player logged out.
    void reloginWithoutChannels()
    {
        QVERIFY(openIn(1, 0, 0));
        control::addDevice(device(0));
        const QJsonObject reply = f.replyTo(R"({"MainType":28,"SubType":0,"MsgID":4})");
        QCOMPARE(reply.value(QStringLiteral("Ret")).toInt(), 1008);
        QCOMPARE(reply.value(QStringLiteral("SerialNo")).toString(), QStringLiteral("SN-LIVE"));
        QCOMPARE(reply.value(QStringLiteral("Id")).toInt(), 7);
        QCOMPARE(f.loginId(), 0);
        QCOMPARE(f.handle(1), 0);
        QVERIFY(f.widget()->callsOf(QStringLiteral("SetDeviceInfo")).isEmpty());
    }
};

QTEST_MAIN(TestViewControl)
#include "tst_view_control.moc"
