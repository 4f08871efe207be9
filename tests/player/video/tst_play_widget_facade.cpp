// The window facade against the real pages and the play library: each call
// reaches the page the current page or the page argument names, pages that
// do not apply answer -1, 0 or false without touching a page, play states
// are mapped to the page's values, snapshots with the live flag work on any
// page, and the colour page decodes on port 320.

#include "ColorSetWidget.h"
#include "LightWeightLog.h"
#include "MemoryDesktop.h"
#include "PlayState.h"
#include "PlayWidget.h"
#include "PlayWindowManage.h"
#include "PlaybackWidget.h"
#include "RealPlayWidget.h"
#include "RuleRegionInfo.h"
#include "TestMedia.h"
#include "VideoFrame.h"
#include "VideoWnd.h"
#include "lumarel/LumarelControl.h"

#include <QSettings>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

LumarelControl::PortStats Stats(int port)
{
    LumarelControl::PortStats s;
    LumarelControl::portStats(port, &s);
    return s;
}

int Count(const QSignalSpy &log, const QString &needle)
{
    int n = 0;
    for (const QList<QVariant> &args : log)
        n += args.at(0).toString().contains(needle) ? 1 : 0;
    return n;
}

using Call = std::function<int(PlayWidget *)>;

} // namespace

Q_DECLARE_METATYPE(Call)

class TestPlayWidgetFacade : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    PlayWidget *m_w = nullptr;
    std::vector<QByteArray> m_blocks;
    std::unique_ptr<QSignalSpy> m_log;

    CPlayWindowManage *liveGrid() const { return m_w->RealPlayPage()->GetWindowManage(); }
    CPlayWindowManage *playbackGrid() const { return m_w->PlaybackPage()->GetWindowManage(); }
    int logged(const QString &needle) const { return Count(*m_log, needle); }

    void writeSettings(const QMap<QString, QVariant> &values)
    {
        QSettings s(m_dir.filePath(QStringLiteral("ClientCfg.ini")), QSettings::IniFormat);
        s.clear();
        for (auto it = values.begin(); it != values.end(); ++it)
            s.setValue(it.key(), it.value());
    }

    // Channel `channel` shown in live window `wnd` until its pictures are drawn.
    void play(int channel, int wnd)
    {
        QCOMPARE(m_w->PreviewPlay(0, channel, wnd), 0);
        for (const QByteArray &b : m_blocks)
            QCOMPARE(PlayWidget::inputRealPlay(channel, b.constData(), b.size(), 1), 0);
        QTRY_COMPARE(Stats(channel).framesShown, int64_t(m_blocks.size()));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        NativeWindow::setDesktop(std::make_shared<NativeWindow::MemoryDesktop>());
        PlayWidget::setConfigFolder(m_dir.path());
        TestMedia::VideoOptions options;
        options.width = 96;
        options.height = 64;
        m_blocks = TestMedia::videoBlocks(options);
        QVERIFY(!m_blocks.empty());
    }
    void cleanupTestCase()
    {
        NativeWindow::setDesktop(nullptr);
        LightWeightLog::shutdown();
    }

    void init()
    {
        writeSettings({ { QStringLiteral("Path/CapPath"), m_dir.filePath(QStringLiteral("cap")) },
            { QStringLiteral("Path/RecPath"), m_dir.filePath(QStringLiteral("rec")) } });
        QDir(m_dir.path()).mkpath(QStringLiteral("Cfg"));
        QDir(m_dir.filePath(QStringLiteral("cap"))).removeRecursively();
        QDir(m_dir.path()).mkpath(QStringLiteral("cap"));
        m_w = PlayWidget::instance();
        m_w->resize(640, 480);
        m_w->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_w));
        m_w->SetPageIndex(0);
        m_log = std::make_unique<QSignalSpy>(LightWeightLog::instance(), &LightWeightLog::writeLogSig);
    }
    void cleanup()
    {
        m_log.reset();
        PlayWidget::destroyInstance();
        m_w = nullptr;
        for (int port : { 0, 3, 5, 320 })
            QVERIFY2(!Stats(port).open, qPrintable(QStringLiteral("port %1 left open").arg(port)));
    }

    // ---- pages that do not apply ----

    // With channel 3 live in window 0 (recording, original size), each call
    // on page 2 answers its "does not apply" value and leaves the pages alone.
    void colourPageAnswers_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("onLive");
        QTest::addColumn<int>("onColour");
        QTest::newRow("GetCurWndIndex") << Call([](PlayWidget *w) { return w->GetCurWndIndex(); }) << 0 << -1;
        QTest::newRow("GetCurWndChn(5)") << Call([](PlayWidget *w) { return w->GetCurWndChn(5); }) << 3 << -1;
        QTest::newRow("GetWndChn(2, 0)")
            << Call([](PlayWidget *w) { return w->GetWndChn(2, 0); }) << -1 << -1;
        QTest::newRow("FindWndIndex(2, 3)")
            << Call([](PlayWidget *w) { return w->FindWndIndex(2, 3); }) << -1 << -1;
        QTest::newRow("ChangeSplit") << Call([](PlayWidget *w) {
            w->ChangeSplit(3);
            return w->RealPlayPage()->GetWindowManage()->GetSplitCount();
        }) << 16 << 9;
        QTest::newRow("IsRecording") << Call([](PlayWidget *w) { return int(w->IsRecording(3)); }) << 1 << 0;
        QTest::newRow("GetPlayOriginalState")
            << Call([](PlayWidget *w) { return w->GetPlayOriginalState(3); }) << 1 << 0;
        QTest::newRow("Capture without live flag")
            << Call([](PlayWidget *w) { return w->Capture(3, false); }) << 0 << -1;
        QTest::newRow("OpenSound(2, ...)") << Call([](PlayWidget *w) {
            w->OpenSound(2, 3, true);
            return LumarelControl::soundOwner();
        }) << -1 << -1;
        QTest::newRow("IsSoundWnd(2, ...)")
            << Call([](PlayWidget *w) { return int(w->IsSoundWnd(2, 3)); }) << 0 << 0;
        QTest::newRow("IsDigitalZoom(2, ...)")
            << Call([](PlayWidget *w) { return int(w->IsDigitalZoom(2, 3)); }) << 0 << 0;
        QTest::newRow("GetPlayState(3, ...)")
            << Call([](PlayWidget *w) { return w->GetPlayState(3, 3); }) << 0 << 0;
        QTest::newRow("SetPlaybackWndChn") << Call([](PlayWidget *w) {
            w->SetPlaybackWndChn(7, 1);
            return w->GetWndChn(1, 1);
        }) << -1 << -1;
        QTest::newRow("SetCurWnd") << Call([](PlayWidget *w) {
            QSignalSpy spy(w, &PlayWidget::curWndIndexSig);
            w->SetCurWnd(2);
            return spy.count() * 100 + w->PlaybackPage()->GetCurWndIndex();
        }) << 0 << 0;
    }
    void colourPageAnswers()
    {
        QFETCH(Call, call);
        QFETCH(int, onLive);
        QFETCH(int, onColour);
        play(3, 0);
        QCOMPARE(m_w->PlayOriginal(3), 0);
        bool recording = false;
        QCOMPARE(m_w->Record(3, true, &recording), 0);
        QVERIFY(recording);

        m_w->SetPageIndex(2);
        QCOMPARE(call(m_w), onColour);
        QCOMPARE(logged(QStringLiteral("pageid=")), 0);
        QCOMPARE(liveGrid()->GetSplitCount(), CRealPlayWidget::kInitialSplit);
        QVERIFY(m_w->RealPlayPage()->IsRecording(3));
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("cap"))).entryList(QDir::Files).size(), 0);

        m_w->SetPageIndex(0);
        QCOMPARE(call(m_w), onLive);
        QCOMPARE(m_w->Record(3, false, &recording), 0);
        m_w->PreviewStop(3);
    }

    // ---- play states ----

    void playStateMapping_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("status");
        const int rows[][2] = { { 0, 2 }, { 1, 0 }, { 2, 4 }, { 3, 3 }, { 15, 15 }, { 16, 5 }, { 17, 5 },
            { 18, 5 }, { 19, 5 }, { 20, 20 }, { 31, 31 }, { 32, 6 }, { 35, 6 }, { 36, 36 }, { 48, 7 },
            { 49, 8 }, { 50, 50 }, { -1, -1 } };
        for (const auto &row : rows)
            QTest::addRow("%d", row[0]) << row[0] << row[1];
    }
    void playStateMapping()
    {
        QFETCH(int, state);
        QFETCH(int, status);
        QCOMPARE(PlayState::pageStatus(state, state), status);
    }

    void playStatesOfThePages()
    {
        QCOMPARE(m_w->GetPlayState(0, 5), -1); // no port yet
        play(5, 1);
        QCOMPARE(m_w->GetPlayState(0, 5), 2);
        m_w->PreviewStop(5);
        QCOMPARE(m_w->GetPlayState(0, 5), 0);
        QCOMPARE(m_w->GetPlayState(1, 0), -1);
        QCOMPARE(m_w->GetPlayState(2, 0), -1);
        QCOMPARE(m_w->ColorPreviewStart(1), 0);
        QCOMPARE(m_w->GetPlayState(2, 7), 2);
        m_w->ColorPreviewStop();
        QCOMPARE(m_w->GetPlayState(2, 0), 0);
        QCOMPARE(m_w->GetPlayState(-1, 0), 0);
    }

    // ---- snapshots ----

    // The live flag takes the live page's picture into the fixed file
    // whatever page is shown; without it the current page decides.
    void capture_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("live");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("file");
        for (int page = 0; page < 3; ++page)
            QTest::addRow("live flag, page %d", page) << page << true << 0 << "Cfg/capture.bmp";
        QTest::newRow("page 0") << 0 << false << 0 << "cap";
        QTest::newRow("page 1: playback window without picture") << 1 << false << -2 << "";
        QTest::newRow("page 2") << 2 << false << -1 << "";
    }
    void capture()
    {
        QFETCH(int, page);
        QFETCH(bool, live);
        QFETCH(int, result);
        QFETCH(QString, file);
        play(3, 0);
        m_w->SetPageIndex(page);
        const int loads = logged(QStringLiteral("LoadLocalInfo begin"));
        QCOMPARE(m_w->Capture(3, live), result);
        // The playback page's snapshot folder is read first.
        QCOMPARE(logged(QStringLiteral("LoadLocalInfo begin")) - loads, page == 1 && !live ? 1 : 0);
        const QStringList taken = QDir(m_dir.filePath(QStringLiteral("cap"))).entryList(QDir::Files);
        if (file == QLatin1String("cap")) {
            QCOMPARE(taken.size(), 1);
            QVERIFY(taken.first().startsWith(QLatin1String("04_")));
            QCOMPARE(TestMedia::identify(m_dir.filePath(QStringLiteral("cap/") + taken.first())),
                QStringLiteral("BMP3 96x64"));
        } else {
            QCOMPARE(taken.size(), 0);
        }
        QCOMPARE(QFile::exists(m_dir.filePath(QStringLiteral("Cfg/capture.bmp"))),
            !file.isEmpty() && file != "cap");
        if (file == QLatin1String("Cfg/capture.bmp"))
            QCOMPARE(TestMedia::identify(m_dir.filePath(file)), QStringLiteral("BMP3 96x64"));
        QFile::remove(m_dir.filePath(QStringLiteral("Cfg/capture.bmp")));
        m_w->SetPageIndex(0);
        m_w->PreviewStop(3);
    }

    // ---- both grids ----

    void changeSplit_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("liveWindows");
        QTest::addColumn<int>("playbackWindows");
        QTest::newRow("live, 16") << 0 << 3 << 16 << 1;
        QTest::newRow("live, 64") << 0 << 6 << 64 << 1;
        QTest::newRow("live, unknown mode") << 0 << 9 << 1 << 1;
        QTest::newRow("playback, 4") << 1 << 1 << CRealPlayWidget::kInitialSplit << 4;
        QTest::newRow("playback, mode 0") << 1 << 0 << CRealPlayWidget::kInitialSplit << 1;
        QTest::newRow("playback, mode 2") << 1 << 2 << CRealPlayWidget::kInitialSplit << 1;
        QTest::newRow("colour") << 2 << 3 << CRealPlayWidget::kInitialSplit << 1;
    }
    void changeSplit()
    {
        QFETCH(int, page);
        QFETCH(int, mode);
        QFETCH(int, liveWindows);
        QFETCH(int, playbackWindows);
        m_w->SetPageIndex(page);
        QCOMPARE(m_w->ChangeSplit(mode), 0);
        QCOMPARE(liveGrid()->GetSplitCount(), liveWindows);
        QCOMPARE(playbackGrid()->GetSplitCount(), playbackWindows);
        QCOMPARE(logged(QStringLiteral("pageid=%1 mode=%2").arg(page).arg(mode)), page < 2 ? 1 : 0);
    }

    void currentWindowAndChannel()
    {
        play(3, 0);
        m_w->SetPageIndex(1);
        m_w->ChangeSplit(1);
        m_w->SetPlaybackWndChn(7, 0);
        m_w->SetPlaybackWndChn(8, 2);
        m_w->SetPlaybackWndChn(9, 4); // no such playback window
        QCOMPARE(m_w->GetWndChn(1, 2), 8);
        QCOMPARE(m_w->FindWndIndex(1, 8), 2);
        QCOMPARE(m_w->FindWndIndex(1, 9), -1);
        QCOMPARE(m_w->GetCurWndChn(0), 3);
        QCOMPARE(m_w->GetCurWndChn(1), 7);
        QCOMPARE(m_w->GetCurWndChn(5), 7);
        QCOMPARE(m_w->GetCurWndChn(2), -1);
        QCOMPARE(m_w->GetCurWndChn(4), -1);

        QSignalSpy spy(m_w, &PlayWidget::curWndIndexSig);
        m_w->SetCurWnd(2);
        QCOMPARE(m_w->GetCurWndIndex(), 2);
        QCOMPARE(m_w->GetCurWndChn(5), 8);
        QVERIFY(spy.count() >= 1);
        QCOMPARE(spy.last(), (QList<QVariant> { 1, 2 }));

        m_w->SetPageIndex(0);
        QCOMPARE(m_w->GetCurWndChn(5), 3);
        QCOMPARE(m_w->GetWndChn(0, 0), 3);
        QCOMPARE(m_w->FindWndIndex(0, 3), 0);
        spy.clear();
        m_w->SetCurWnd(1);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(m_w->GetCurWndIndex(), 0);
        m_w->PreviewStop(3);
    }

    // The pages' window changes reach the request manager with the page.
    void signalsOfThePages()
    {
        QSignalSpy current(m_w, &PlayWidget::curWndIndexSig);
        QSignalSpy ptz(m_w, &PlayWidget::changePTZELectPage);
        liveGrid()->onCurWndIndexChange(4);
        QCOMPARE(current.count(), 1);
        QCOMPARE(current.takeFirst(), (QList<QVariant> { 0, 4 }));
        m_w->SetPageIndex(1);
        m_w->ChangeSplit(1);
        playbackGrid()->onCurWndIndexChange(3);
        QCOMPARE(current.count(), 1);
        QCOMPARE(current.takeFirst(), (QList<QVariant> { 1, 3 }));
        emit m_w->RealPlayPage()->changePTZELectPage();
        QCOMPARE(ptz.count(), 1);
    }

    void setPageIndex_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("shown");
        QTest::newRow("live") << 0 << 0;
        QTest::newRow("playback") << 1 << 1;
        QTest::newRow("colour") << 2 << 2;
        QTest::newRow("page 3: kept, nothing shown changes") << 3 << 0;
        QTest::newRow("page -1") << -1 << 0;
    }
    void setPageIndex()
    {
        QFETCH(int, page);
        QFETCH(int, shown);
        m_w->SetPageIndex(page);
        QCOMPARE(m_w->GetCurPageIndex(), page);
        const QWidget *pages[3] = { m_w->RealPlayPage(), m_w->PlaybackPage(), m_w->ColorPage() };
        for (int i = 0; i < 3; ++i)
            QCOMPARE(pages[i]->isVisibleTo(m_w), i == shown);
        QCOMPARE(logged(QStringLiteral("m_nCurPageIndex = %1").arg(page)), page >= 0 && page <= 2 ? 1 : 0);
    }

    void skinReachesBothGrids()
    {
        m_w->SetSkin(QStringLiteral("Black"));
        for (QWidget *page :
            { static_cast<QWidget *>(m_w->RealPlayPage()), static_cast<QWidget *>(m_w->PlaybackPage()) })
            QVERIFY(page->findChild<QFrame *>(QStringLiteral("VideoFrame"))
                        ->styleSheet()
                        .contains("rgb(43, 43, 43)"));
    }

    // ---- live page ----

    void liveCalls()
    {
        play(3, 0);
        QCOMPARE(logged(QStringLiteral("PlayWidget::PreviewStop Chn=")), 0);
        int b = -1, c = -1, s = -1, h = -1;
        m_w->GetColor(3, &b, &c, &s, &h);
        // A port starts with the library's middle values.
        QCOMPARE(QList<int>({ b, c, s, h }), QList<int>({ 64, 64, 64, 64 }));
        QVERIFY(m_w->SetColor(0, 90));
        m_w->GetColor(3, &b, &c, &s, &h);
        QCOMPARE(b, 90);
        QCOMPARE(m_w->GetChnStream(3), 0);
        QVERIFY(m_w->SetPreviewStatus(3));
        QVERIFY(!m_w->SetPreviewStatus(9));
        QVERIFY(m_w->PTZElectOpen(3, -1));
        QVERIFY(m_w->PTZElectZoomIn(3, 512));
        QVERIFY(m_w->PTZElectPresent(3, 7, 1));
        QVERIFY(m_w->PTZElectronicMove(3, 1, 100));
        QVERIFY(m_w->PTZElectRedu(3));
        QVERIFY(!m_w->PTZElectZoomOut(3, 100));
        QVERIFY(!m_w->PTZElectOpen(9, -1));
        QCOMPARE(m_w->OpenSound(0, 3, true), 0);
        QVERIFY(m_w->IsSoundWnd(0, 3));
        QCOMPARE(LumarelControl::soundOwner(), 3);
        QCOMPARE(m_w->OpenSound(0, 3, false), 0);
        m_w->PreviewStop(3);
        QCOMPARE(logged(QStringLiteral("PlayWidget::PreviewStop Chn=3")), 1);
        QCOMPARE(m_w->GetWndChn(0, 0), -1);
        // The current window shows nothing now.
        QVERIFY(!m_w->SetColor(0, 90));
    }

    void ruleRegion_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("window");
        QTest::addColumn<bool>("channelZeroOpen");
        QTest::addColumn<int>("result");
        QTest::newRow("mode 1, window 0 open") << 1 << 0 << true << 100;
        QTest::newRow("mode 1, window 1") << 1 << 1 << true << 1016;
        QTest::newRow("mode 0 registers nothing") << 0 << 1 << false << 100;
    }
    void ruleRegion()
    {
        QFETCH(int, mode);
        QFETCH(int, window);
        QFETCH(bool, channelZeroOpen);
        QFETCH(int, result);
        if (channelZeroOpen)
            play(0, 0);
        RuleRegionInfo rule;
        rule.window = window;
        rule.show = 1;
        rule.pointCount = 3;
        int out = 100;
        m_w->SetRuleRegionInfo(mode, rule, &out);
        QCOMPARE(out, result);
        QCOMPARE(m_w->RealPlayPage()->GetRuleRegionInfo().window, window);
        QCOMPARE(m_w->RealPlayPage()->GetRuleRegionInfo().pointCount, 3);
        if (channelZeroOpen)
            m_w->PreviewStop(0);
    }

    void liveDataOfOtherThreads()
    {
        QCOMPARE(m_w->PreviewPlay(0, 5, 2), 0);
        std::thread feeder([this] {
            StreamInput *entry = PlayWidget::dataEntry();
            for (const QByteArray &b : m_blocks)
                entry->InputRealPlayData(5, b.constData(), b.size(), 1);
        });
        feeder.join();
        QTRY_COMPARE(Stats(5).framesShown, int64_t(m_blocks.size()));
        QCOMPARE(m_w->InputRealPlayData(6, m_blocks[0].constData(), m_blocks[0].size(), 1), -1);
        m_w->PreviewStop(5);
    }

    // ---- playback page ----

    void playbackCalls()
    {
        QSignalSpy current(m_w, &PlayWidget::curWndIndexSig);
        m_w->SetPageIndex(1);
        m_w->SetPlaybackMode(true);
        QVERIFY(m_w->PlaybackPage()->IsDevicePlayback());
        QCOMPARE(m_w->PlaybackPage()->PortNumber(2), 66);
        QCOMPARE(current.count(), 1);
        QCOMPARE(current.takeFirst(), (QList<QVariant> { 1, 0 }));
        m_w->SetPlaybackMode(false);
        QCOMPARE(m_w->PlaybackPage()->PortNumber(2), 130);
        QCOMPARE(m_w->PlaybackPage()->PortNumber(4), -1);

        // No picture in any playback window yet: a local window without a
        // file cannot play, and no device port takes data.
        QCOMPARE(m_w->StartPlayback(0, -1), -2);
        QCOMPARE(m_w->InputPlaybackData(0, m_blocks[0].constData(), m_blocks[0].size()), -1);
        QCOMPARE(
            PlayWidget::dataEntry()->InputPlaybackData(0, m_blocks[0].constData(), m_blocks[0].size()), -1);
        QCOMPARE(m_w->PlaybackControl(0, 2), 1); // stays stopped
        QCOMPARE(m_w->PlaybackControl(4, 2), -1);
        QCOMPARE(m_w->BeginLocalPlay(0, QStringLiteral("missing.h265x"), nullptr, nullptr), 0);
        QCOMPARE(m_w->GetPlayTime(0), 0.0f);
        QCOMPARE(m_w->PositionToSeconds(0, 500), 0);
        QCOMPARE(m_w->SetPlayPos(0, 0.5f), 0);
        QVERIFY(!m_w->GetPlaybackFlag(0));
        int yuv = -1, buf = -1;
        m_w->GetPlaybackBufInfo(0, &yuv, &buf);
        QCOMPARE(yuv, 0);
        QCOMPARE(buf, 0);
        yuv = buf = -1;
        m_w->GetPlaybackBufInfo(4, &yuv, &buf);
        QCOMPARE(yuv, -1);
        bool recording = true, zoom = true, sound = true;
        m_w->GetPlaybackWndStatus(0, &recording, &zoom, &sound);
        QVERIFY(!recording && !zoom && !sound);
        QVERIFY(!m_w->IsPlaybackRecording(0));
        const int loads = logged(QStringLiteral("LoadLocalInfo begin"));
        QCOMPARE(m_w->PlaybackRecord(0, true), 0);
        QCOMPARE(logged(QStringLiteral("LoadLocalInfo begin")), loads + 1);
        m_w->SetPlaybackBackground(QStringLiteral("/tmp/none.png"));
        QCOMPARE(playbackGrid()->GetWnd(0)->GetVideoFrame()->GetBackgroundImage(),
            QStringLiteral("/tmp/none.png"));
        m_w->StopPlayback(0);
        QCOMPARE(m_w->PlaybackDigitalZoom(), -1); // the window does not play
        QCOMPARE(m_w->OpenSound(1, 0, true), -2);
        QCOMPARE(m_w->OpenSound(1, 4, true), -1);
    }

    // ---- colour page ----

    void colourPreview()
    {
        m_w->SetPageIndex(2);
        QCOMPARE(m_w->ColorPreviewStart(1), 0);
        QVERIFY(Stats(320).open);
        QVERIFY(Stats(320).playing);
        QCOMPARE(Stats(320).poolSize, 2048000u);
        for (const QByteArray &b : m_blocks)
            QCOMPARE(PlayWidget::dataEntry()->InputColorSetData(b.constData(), b.size()), 0);
        QTRY_COMPARE(Stats(320).framesShown, int64_t(m_blocks.size()));
        QCOMPARE(LumarelControl::calls().empty(), false);

        // Fault: a second start without a stop left the old stream open on
        // the one port 320, so that the new one could not open it.
        QCOMPARE(m_w->ColorPreviewStart(0), 0);
        QVERIFY(Stats(320).open);
        QVERIFY(Stats(320).playing);
        QCOMPARE(Stats(320).poolSize, 4096000u);

        m_w->ColorPreviewStop();
        QVERIFY(!Stats(320).open);
        QCOMPARE(m_w->ColorPage()->GetState(), 1);
        QCOMPARE(m_w->InputColorSetData(m_blocks[0].constData(), m_blocks[0].size()), 0);
        // Stopping twice is harmless.
        m_w->ColorPreviewStop();
        QCOMPARE(m_w->ColorPage()->PreviewStop(), 0);
    }

    void colourPageBeforeAnyStart()
    {
        QCOMPARE(m_w->ColorPage()->PreviewStop(), -1);
        QCOMPARE(m_w->ColorPage()->GetState(), -1);
        QCOMPARE(m_w->InputColorSetData(m_blocks[0].constData(), m_blocks[0].size()), -1);
    }

    // Fault: the window released with the colour preview running left port
    // 320 open for the next window.
    void releaseClosesTheColourPort()
    {
        QCOMPARE(m_w->ColorPreviewStart(1), 0);
        QVERIFY(Stats(320).open);
        PlayWidget::destroyInstance();
        QVERIFY(!Stats(320).open);
        m_w = PlayWidget::instance();
        QCOMPARE(m_w->ColorPreviewStart(1), 0);
        QVERIFY(Stats(320).open);
        m_w->ColorPreviewStop();
    }

    // ---- settings and files ----

    void localInfo()
    {
        writeSettings(
            { { QStringLiteral("Path/CapPath"), QString() }, { QStringLiteral("Info/ImageType"), 1 } });
        {
            QSettings version(m_dir.filePath(QStringLiteral("QuorvelToolVersion.ini")), QSettings::IniFormat);
            version.setValue(QStringLiteral("Tool/version"), QStringLiteral("2.1.7"));
            version.setValue(QStringLiteral("Tool/date"), QStringLiteral("2024-03-01"));
        }
        const LocalInfo info = m_w->LoadLocalInfo();
        QCOMPARE(info.CapPath, m_dir.path() + QStringLiteral("/Device/Capture"));
        QCOMPARE(info.RecPath, m_dir.path() + QStringLiteral("/Device/Record"));
        QCOMPARE(info.ImageType, 1);
        QCOMPARE(info.ToolVersion, QStringLiteral("2.1.7"));
        QCOMPARE(info.ToolDate, QStringLiteral("2024-03-01"));
        QSettings written(m_dir.filePath(QStringLiteral("ClientCfg.ini")), QSettings::IniFormat);
        QCOMPARE(written.value(QStringLiteral("Path/DownPath")).toString(),
            m_dir.path() + QStringLiteral("/Device/Download"));
        for (const char *line : { "LoadLocalInfo begin", "Load cfg finish", "LoadLocalInfo end" })
            QCOMPARE(logged(QLatin1String(line)), 1);
        QFile::remove(m_dir.filePath(QStringLiteral("QuorvelToolVersion.ini")));
    }

    void changeFileFormatOnlyToAvi()
    {
        QVERIFY(
            !m_w->ChangeFileFormat(m_dir.filePath("a.h265x"), m_dir.filePath("a.avi"), 0, nullptr, nullptr));
        QVERIFY(!m_w->ChangeFileFormat(
            m_dir.filePath("missing.h265x"), m_dir.filePath("a.avi"), 2, nullptr, nullptr));
    }
};

QTEST_MAIN(TestPlayWidgetFacade)
#include "tst_play_widget_facade.moc"
