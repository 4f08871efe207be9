// The live-view panel fed by the device library: live streams of a simulated
// device arrive on the library's threads and are drawn in the grid; the
// two-sensor check asks the device; data that arrives after a channel was
// stopped or closed is dropped without touching the windows. Run under
// ThreadSanitizer with the tsan preset.

#include "DecodeChannel.h"
#include "LightWeightLog.h"
#include "PlayWindowManage.h"
#include "QNConnect.h"
#include "RealPlayWidget.h"
#include "ScaleSlider.h"
#include "VideoWnd.h"
#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"
#include "lumarel/LumarelControl.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

LumarelControl::PortStats stats(int port)
{
    LumarelControl::PortStats s;
    LumarelControl::portStats(port, &s);
    return s;
}

// What one stream's callback needs: the panel to feed and the channel.
struct Feed
{
    CRealPlayWidget *panel = nullptr;
    int channel = 0;
    std::atomic<int> accepted { 0 };
    std::atomic<int> dropped { 0 };
    std::atomic<bool> onLibraryThread { true };
    std::thread::id guiThread;
};

int onFrame(int, const TRV_FRAME_INFO *frame, void *user)
{
    auto *feed = static_cast<Feed *>(user);
    if (std::this_thread::get_id() == feed->guiThread)
        feed->onLibraryThread = false;
    const int r = feed->panel->InputData(
        feed->channel, reinterpret_cast<const char *>(frame->data), int(frame->length));
    ++(r == 0 ? feed->accepted : feed->dropped);
    return 1;
}

} // namespace

class TestRealPlayLive : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QWidget> m_top;
    CRealPlayWidget *m_panel = nullptr;
    int m_login = 0;
    std::vector<std::unique_ptr<Feed>> m_feeds;
    std::vector<int> m_streams;

    void login(const kestrix::DeviceSpec &spec, bool ipc)
    {
        kestrix::control::reset();
        kestrix::control::addDevice(spec);
        QVERIFY(TRV_NET_Init(nullptr, nullptr));
        TRV_DEVICE_INFO info;
        int error = 0;
        m_login
            = TRV_NET_Login(spec.address.c_str(), 34567, "admin", "", &info, &error, TRV_LOGIN_BY_ADDRESS);
        QVERIFY2(m_login > 0, qPrintable(QString::number(error)));
        m_panel->SetDeviceInfo(m_login, ipc);
    }

    // The device stream of `channel` into the panel, as the request handler does it.
    Feed *stream(int channel, int streamType = TRV_STREAM_EXTRA)
    {
        auto feed = std::make_unique<Feed>();
        feed->panel = m_panel;
        feed->channel = channel;
        feed->guiThread = std::this_thread::get_id();
        TRV_STREAM_REQUEST request { channel, streamType, { 0, 0, 0 } };
        const int handle = TRV_NET_RealPlay(m_login, &request, 0);
        if (handle <= 0 || !TRV_NET_SetRealDataCallBack_V2(handle, onFrame, feed.get()))
            return nullptr;
        m_streams.push_back(handle);
        m_feeds.push_back(std::move(feed));
        return m_feeds.back().get();
    }

    void stopStreams()
    {
        for (int handle : m_streams)
            TRV_NET_StopRealPlay(handle, 0);
        m_streams.clear();
        m_feeds.clear();
    }

    static kestrix::DeviceSpec device()
    {
        kestrix::DeviceSpec spec;
        spec.address = "10.20.0.1";
        spec.videoChannels = 8;
        spec.audio = false;
        return spec;
    }

private slots:
    void cleanupTestCase() { LightWeightLog::shutdown(); }

    void init()
    {
        m_top.reset(new QWidget);
        m_top->resize(704, 576);
        m_panel = new CRealPlayWidget(m_top.get());
        m_panel->setGeometry(0, 0, 704, 576);
        m_top->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_top.get()));
    }

    void cleanup()
    {
        stopStreams();
        m_top.reset();
        m_panel = nullptr;
        if (m_login > 0)
            TRV_NET_Logout(m_login);
        m_login = 0;
        CQNConnect::ReleaseInstance();
        TRV_NET_Cleanup();
        kestrix::control::reset();
    }

    void liveStreamsAreDrawn()
    {
        login(device(), false);
        m_panel->ChangeSplit(1);
        for (int channel = 0; channel < 4; ++channel)
            QCOMPARE(m_panel->PreviewPlay(TRV_STREAM_EXTRA, channel, 3 - channel), 0);
        std::vector<Feed *> feeds;
        for (int channel = 0; channel < 4; ++channel) {
            feeds.push_back(stream(channel));
            QVERIFY(feeds.back());
        }
        for (int channel = 0; channel < 4; ++channel) {
            QTRY_VERIFY_WITH_TIMEOUT(stats(channel).framesDrawn >= 10, 20000);
            QCOMPARE(stats(channel).width, 352);
            QCOMPARE(stats(channel).height, 288);
            QCOMPARE(m_panel->GetWndChn(3 - channel), channel);
            QVERIFY(feeds[channel]->onLibraryThread);
            QCOMPARE(feeds[channel]->dropped.load(), 0);
        }
        // Not an IP camera: no drawing-mode change.
        QCOMPARE(stats(0).renderMode, 0);
        for (int channel = 0; channel < 4; ++channel)
            QCOMPARE(m_panel->PreviewStop(channel), 0);
    }

    void gunBallCheck_data()
    {
        QTest::addColumn<bool>("ipc");
        QTest::addColumn<QString>("config");
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("gunBall");
        const QString channels = QStringLiteral(
            R"({"ChannelSystemFunction":{"SupportGunBallTwoSensorCamera":[false,true,false,1]}})");
        QTest::newRow("recorder, channel 1 has two sensors") << false << channels << 1 << true;
        QTest::newRow("recorder, channel 0 has not") << false << channels << 0 << false;
        QTest::newRow("recorder, number in the list") << false << channels << 3 << true;
        QTest::newRow("recorder, channel beyond the list") << false << channels << 5 << false;
        QTest::newRow("recorder, list is not an array")
            << false << QStringLiteral(R"({"ChannelSystemFunction":{"SupportGunBallTwoSensorCamera":"yes"}})")
            << 1 << false;
        QTest::newRow("IP camera with two sensors")
            << true
            << QStringLiteral(
                   R"({"SystemFunction":{"OtherFunction":{"SupportGunBallTwoSensorCamera":true}}})")
            << 0 << true;
        QTest::newRow("IP camera, one sensor") << true << QString() << 0 << false;
    }

    void gunBallCheck()
    {
        QFETCH(bool, ipc);
        QFETCH(QString, config);
        QFETCH(int, channel);
        QFETCH(bool, gunBall);
        kestrix::DeviceSpec spec = device();
        spec.deviceType = ipc ? 0 : 1;
        spec.configJson = config.toStdString();
        login(spec, ipc);
        m_panel->ChangeSplit(0);
        QCOMPARE(m_panel->PreviewPlay(TRV_STREAM_EXTRA, channel, 0), 0);
        QCOMPARE(stats(channel).renderMode, ipc ? 2 : 0);
        QCOMPARE(m_panel->GetWndChn(0), channel);
        QCOMPARE(m_panel->GetPlayOriginalState(channel), gunBall ? 1 : 0);
        QVERIFY(stream(channel));
        QTRY_VERIFY_WITH_TIMEOUT(stats(channel).framesDrawn > 0, 20000);

        // A two-sensor camera is shown in the proportions of its picture as
        // soon as the stream tells its size.
        CVideoWnd *wnd = m_panel->GetWindowManage()->GetWnd(0);
        if (gunBall) {
            QTRY_COMPARE(wnd->GetVideoSize(), QSize(352, 288));
            QCOMPARE(wnd->GetAspectMode(), int(CVideoWnd::kAspectKeep));
        } else {
            QCOMPARE(wnd->GetVideoSize(), QSize(-1, -1));
            QCOMPARE(wnd->GetAspectMode(), 0);
        }
        // Asked again with pictures there, the answer and the window stay.
        QCOMPARE(m_panel->GunBallDeivcePlayOriginal(channel, 0), gunBall);
        QCOMPARE(m_panel->GetPlayOriginalState(channel), gunBall ? 1 : 0);
        QCOMPARE(wnd->GetVideoSize(), gunBall ? QSize(352, 288) : QSize(-1, -1));
        QCOMPARE(m_panel->PreviewStop(channel), 0);
    }

    void twoLensZoom_data()
    {
        QTest::addColumn<bool>("ipc");
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("support");
        QTest::newRow("recorder channel") << false << 2 << true;
        QTest::newRow("IP camera") << true << 0 << true;
        QTest::newRow("no two lenses") << false << 2 << false;
    }

    // The slider of a two-lens camera in a single window, moved by the page's
    // zoom switch and by the slider itself; the times reach the device.
    void twoLensZoom()
    {
        QFETCH(bool, ipc);
        QFETCH(int, channel);
        QFETCH(bool, support);
        kestrix::DeviceSpec spec = device();
        spec.deviceType = ipc ? 0 : 1;
        // No maximum from the device: 8 times, a slider of 0 to 70 tenths.
        spec.configJson = QStringLiteral(R"({"SystemFunction":{"OtherFunction":{"SupportScaleTwoLens":%1}}})")
                              .arg(support ? "true" : "false")
                              .toStdString();
        login(spec, ipc);
        // Without the device wrapper the panel asks nothing.
        m_panel->ChangeSplit(0);
        QCOMPARE(m_panel->PreviewPlay(TRV_STREAM_EXTRA, channel, 0), 0);
        QVERIFY(!m_panel->HasScaleTwoLens(channel));
        QCOMPARE(m_panel->PreviewStop(channel), 0);

        CQNConnect::GetInstance();
        QCOMPARE(m_panel->PreviewPlay(TRV_STREAM_EXTRA, channel, 0), 0);
        QCOMPARE(m_panel->HasScaleTwoLens(channel), support);
        CScaleSlider *slider = m_panel->GetWindowManage()->GetWnd(0)->GetScaleSlider();
        if (!support) {
            QVERIFY(!slider || slider->isHidden());
            return;
        }
        QVERIFY(slider && slider->isVisible());
        QCOMPARE(slider->GetMaxTimes(), 8.0f);
        QCOMPARE(slider->value(), 10); // the device starts at 1.0 times
        QCOMPARE(m_panel->GetScaleTwoLensTimes(), 1.0f);

        const QString key = QStringLiteral("%1:1").arg(ipc ? 0 : channel);
        auto deviceTimes = [&] {
            const QJsonObject config
                = QJsonDocument::fromJson(QByteArray::fromStdString(kestrix::control::configOf(spec.address)))
                      .object();
            return config.value("TwoLensZoom").toObject().value(key).toObject().value("Times").toDouble(-1);
        };
        const struct
        {
            int direction;
            int steps;
            double times;
        } switches[] = { { 0, 15, 2.5 }, { 1, 100, 0.0 }, { 0, 100, 7.0 }, { 1, 5, 6.5 }, { 9, 1, 0.0 } };
        for (const auto &s : switches) {
            m_panel->ScaleSwitch(s.direction, s.steps);
            QCOMPARE(deviceTimes(), s.times);
            QCOMPARE(double(m_panel->GetScaleTwoLensTimes()), s.times);
            QCOMPARE(slider->value(), qRound(s.times * 10));
        }
        // The slider's own signal, as a drag ends.
        emit m_panel->GetWindowManage()->GetWnd(0)->sig_SetScaleTwoLensTimes(3.0f, 0);
        QCOMPARE(deviceTimes(), 3.0);

        m_panel->EnterFullScreen();
        QVERIFY(slider->isHidden());
        m_panel->ExitFullScreen();
        QVERIFY(slider->isVisible());

        // Several windows: the slider stays away.
        m_panel->ChangeSplit(1);
        QVERIFY(slider->isHidden());
        QCOMPARE(m_panel->PreviewStop(channel), 0);
        QCOMPARE(m_panel->PreviewPlay(TRV_STREAM_EXTRA, channel, 0), 0);
        QVERIFY(slider->isHidden());
        QCOMPARE(m_panel->PreviewStop(channel), 0);
    }

    // Data that keeps coming from the device after the channel stopped is
    // dropped; the panel never touches a window from the library's thread.
    void dataAfterStopIsDropped()
    {
        login(device(), false);
        m_panel->ChangeSplit(1);
        for (int channel = 0; channel < 2; ++channel)
            QCOMPARE(m_panel->PreviewPlay(TRV_STREAM_EXTRA, channel, channel), 0);
        Feed *feed0 = stream(0);
        Feed *feed1 = stream(1);
        QVERIFY(feed0 && feed1);
        // Original size on: the library thread watches the picture size.
        QTRY_VERIFY_WITH_TIMEOUT(stats(1).framesDrawn > 0, 20000);
        QCOMPARE(m_panel->PlayOriginal(1), 0);

        QTRY_VERIFY_WITH_TIMEOUT(feed0->accepted > 5, 20000);
        QCOMPARE(m_panel->PreviewStop(0), 0);
        const int dropped = feed0->dropped;
        QTRY_VERIFY_WITH_TIMEOUT(feed0->dropped > dropped + 5, 20000);
        const int accepted = feed0->accepted;
        QTRY_VERIFY_WITH_TIMEOUT(feed0->dropped > dropped + 10, 20000);
        QCOMPARE(feed0->accepted.load(), accepted);
        QVERIFY(!stats(0).open);
        QCOMPARE(m_panel->GetWndChn(0), -1);

        // Started and stopped again while the data flows.
        for (int round = 0; round < 5; ++round) {
            QCOMPARE(m_panel->PreviewPlay(TRV_STREAM_EXTRA, 0, 0), 0);
            const int before = feed0->accepted;
            QTRY_VERIFY_WITH_TIMEOUT(feed0->accepted > before + 2, 20000);
            QCOMPARE(m_panel->PreviewStop(0), 0);
            QCOMPARE(m_panel->PreviewStop(1), 0);
            QCOMPARE(m_panel->PreviewPlay(TRV_STREAM_EXTRA, 1, 1), 0);
            QTRY_VERIFY_WITH_TIMEOUT(stats(1).framesDrawn > 0, 20000);
            QCOMPARE(m_panel->PlayOriginal(1), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(feed1->accepted > 0, 20000);
        QVERIFY(feed0->onLibraryThread && feed1->onLibraryThread);

        // The panel goes away as at logout: the streams end first, then the
        // panel; what was queued for its windows is dropped with it.
        stopStreams();
        m_top.reset();
        m_panel = nullptr;
        QVERIFY(!stats(1).open);
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(TestRealPlayLive)
#include "tst_real_play_live.moc"
