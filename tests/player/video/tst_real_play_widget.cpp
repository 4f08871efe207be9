// The live-view panel with the real play library: windows mapped to channels,
// preview start and stop, snapshots read by identify, recordings read by
// ffprobe, the one sound output, colour, digital zoom, electronic PTZ with
// presets, original size, and the local settings.

#include "DecodeChannel.h"
#include "LightWeightLog.h"
#include "PlayWindowManage.h"
#include "RealPlayWidget.h"
#include "TestMedia.h"
#include "VideoFrame.h"
#include "VideoWnd.h"
#include "lumarel/LumarelControl.h"

#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <climits>
#include <memory>

namespace {

LumarelControl::PortStats stats(int port)
{
    LumarelControl::PortStats s;
    LumarelControl::portStats(port, &s);
    return s;
}

TRV_PLAY_RECT rect(int l, int t, int r, int b)
{
    return TRV_PLAY_RECT { l, t, r, b };
}

bool same(const TRV_PLAY_RECT &a, const TRV_PLAY_RECT &b)
{
    return ElectPtz::SameRegion(a, b);
}

QString text(const TRV_PLAY_RECT &r)
{
    return QStringLiteral("{%1,%2,%3,%4}").arg(r.left).arg(r.top).arg(r.right).arg(r.bottom);
}

int logLinesContaining(const QSignalSpy &spy, const QString &needle)
{
    int n = 0;
    for (const QList<QVariant> &args : spy)
        n += args.at(0).toString().contains(needle) ? 1 : 0;
    return n;
}

} // namespace

Q_DECLARE_METATYPE(TRV_PLAY_RECT)

class TestRealPlayWidget : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QWidget> m_top;
    CRealPlayWidget *m_panel = nullptr;
    std::vector<QByteArray> m_blocks;
    TestMedia::VideoOptions m_options;

    CPlayWindowManage *grid() const { return m_panel->GetWindowManage(); }
    CVideoFrame *frame(int wnd) const { return grid()->GetWnd(wnd)->GetVideoFrame(); }

    void writeSettings(const QMap<QString, QVariant> &values)
    {
        QSettings s(m_dir.filePath(QStringLiteral("ClientCfg.ini")), QSettings::IniFormat);
        s.clear();
        for (auto it = values.begin(); it != values.end(); ++it)
            s.setValue(it.key(), it.value());
    }

    void feed(int channel, const std::vector<QByteArray> &blocks)
    {
        for (const QByteArray &b : blocks)
            QCOMPARE(m_panel->InputData(channel, b.constData(), b.size()), 0);
    }

    // Channel `channel` previewed in window `wnd` until its pictures are drawn.
    void play(int channel, int wnd)
    {
        QCOMPARE(m_panel->PreviewPlay(0, channel, wnd), 0);
        feed(channel, m_blocks);
        QTRY_COMPARE(stats(channel).framesShown, int64_t(m_blocks.size()));
        QTRY_VERIFY(stats(channel).framesDrawn > 0);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<TRV_PLAY_RECT>();
        QVERIFY(m_dir.isValid());
        m_options.width = 160;
        m_options.height = 120;
        m_options.frames = 10;
        m_blocks = TestMedia::videoBlocks(m_options);
        QCOMPARE(int(m_blocks.size()), m_options.frames);
    }

    void cleanupTestCase() { LightWeightLog::shutdown(); }

    void init()
    {
        m_top.reset(new QWidget);
        m_top->resize(640, 480);
        m_panel = new CRealPlayWidget(m_top.get());
        m_panel->setGeometry(0, 0, 640, 480);
        m_panel->SetConfigFolder(m_dir.path());
        writeSettings({ { QStringLiteral("Path/CapPath"), m_dir.filePath(QStringLiteral("cap")) },
            { QStringLiteral("Path/RecPath"), m_dir.filePath(QStringLiteral("rec")) } });
        m_top->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_top.get()));
    }

    void cleanup()
    {
        m_top.reset();
        m_panel = nullptr;
        for (int port = 0; port < CRealPlayWidget::kMaxChannel; ++port)
            QVERIFY2(!stats(port).open, qPrintable(QStringLiteral("port %1 left open").arg(port)));
    }

    // ---- layout ----

    void changeSplit_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("windows");
        const int counts[] = { 1, 4, 9, 16, 25, 36, 64 };
        for (int mode = 0; mode < 7; ++mode)
            QTest::addRow("mode %d", mode) << mode << counts[mode];
        QTest::newRow("mode 7") << 7 << 1;
        QTest::newRow("mode -1") << -1 << 1;
    }

    void changeSplit()
    {
        QFETCH(int, mode);
        QFETCH(int, windows);
        QCOMPARE(grid()->GetSplitCount(), CRealPlayWidget::kInitialSplit);
        QCOMPARE(m_panel->ChangeSplit(mode), 0);
        QCOMPARE(grid()->GetSplitCount(), windows);
    }

    // ---- preview ----

    void previewMapsWindowToChannel()
    {
        play(5, 2);
        QCOMPARE(m_panel->GetWndChn(2), 5);
        QCOMPARE(m_panel->FindWndIndex(5), 2);
        QCOMPARE(m_panel->GetPlayState(5), 0);
        QCOMPARE(m_panel->GetPlayOriginalState(5), 0);
        QVERIFY(frame(2)->GetPreviewStatus());
        QVERIFY(stats(5).hasWindow);
        QCOMPARE(m_panel->GetChannel(5)->GetHwnd(), grid()->GetWndHandle(2));

        QCOMPARE(m_panel->PreviewStop(5), 0);
        QCOMPARE(m_panel->GetWndChn(2), -1);
        QCOMPARE(m_panel->FindWndIndex(5), -1);
        QCOMPARE(m_panel->GetPlayState(5), 1);
        QCOMPARE(m_panel->GetPlayOriginalState(5), -1);
        QCOMPARE(m_panel->FindStoppedChannel(), 5);
        QVERIFY(!frame(2)->GetPreviewStatus());
        QVERIFY(!stats(5).open);
        // Data for a closed channel is dropped.
        QCOMPARE(m_panel->InputData(5, m_blocks[0].constData(), m_blocks[0].size()), -1);
        QCOMPARE(m_panel->InputData(6, m_blocks[0].constData(), m_blocks[0].size()), -1);
    }

    void previewInTheCurrentWindow()
    {
        grid()->onCurWndIndexChange(4);
        QCOMPARE(m_panel->PreviewPlay(1, 7, -1), 0);
        QCOMPARE(m_panel->GetWndChn(4), 7);
        QCOMPARE(m_panel->GetCurWndChn(), 7);
        QCOMPARE(m_panel->GetChnStream(7), 1);
        QCOMPARE(stats(7).poolSize, 2048000u);
        QCOMPARE(m_panel->PreviewStop(7), 0);
    }

    void previewRefused_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("wnd");
        QTest::addColumn<int>("result");
        QTest::newRow("channel 64") << 64 << 0 << -1;
        QTest::newRow("channel -1") << -1 << 0 << -1;
        QTest::newRow("window 64") << 3 << 64 << -1;
        QTest::newRow("window 1000") << 3 << 1000 << -1;
        QTest::newRow("window INT_MAX") << 3 << INT_MAX << -1;
        QTest::newRow("window -2") << 3 << -2 << -2;
    }

    // A window above 63 must not reach the 64-entry window table.
    void previewRefused()
    {
        QFETCH(int, channel);
        QFETCH(int, wnd);
        QFETCH(int, result);
        LumarelControl::clearCalls();
        QCOMPARE(m_panel->PreviewPlay(0, channel, wnd), result);
        QVERIFY(LumarelControl::calls().empty());
        for (int i = 0; i < CPlayWindowManage::kMaxWnd; ++i)
            QCOMPARE(m_panel->GetWndChn(i), -1);
        QCOMPARE(m_panel->GetWndChn(64), -1);
    }

    // Stopping a channel that no window shows leaves every window alone.
    void stopOfChannelWithoutWindowLeavesWindows()
    {
        play(1, 0);
        play(2, 1);
        QCOMPARE(m_panel->PreviewPlay(0, 9, 2), 0);
        QCOMPARE(m_panel->PreviewPlay(0, 10, 2), 0); // window 2 now shows 10; 9 has none
        QCOMPARE(m_panel->FindWndIndex(9), -1);
        grid()->SetAspectMode(1, CVideoWnd::kAspectKeep);
        grid()->SetDigitalZoom(1, true);

        QCOMPARE(m_panel->PreviewStop(9), 0);
        QVERIFY(!stats(9).open);
        for (int wnd : { 0, 1, 2 })
            QVERIFY2(frame(wnd)->GetPreviewStatus(), qPrintable(QString::number(wnd)));
        QCOMPARE(grid()->GetWnd(1)->GetAspectMode(), int(CVideoWnd::kAspectKeep));
        QVERIFY(grid()->GetWnd(1)->IsDigitalZoom());
        QCOMPARE(m_panel->GetWndChn(2), 10);

        for (int channel : { 1, 2, 10 })
            QCOMPARE(m_panel->PreviewStop(channel), 0);
        QCOMPARE(m_panel->PreviewStop(9), 0); // stopped already: nothing more
        QCOMPARE(m_panel->PreviewStop(11), -1); // never opened
        QCOMPARE(m_panel->PreviewStop(64), -1);
    }

    // A new panel can open the channels of one that was destroyed.
    void destroyedPanelFreesItsPorts()
    {
        play(3, 0);
        QCOMPARE(m_panel->OpenSound(3, true), 0);
        delete m_panel;
        QVERIFY(!stats(3).open);
        QCOMPARE(LumarelControl::soundOwner(), -1);
        m_panel = new CRealPlayWidget(m_top.get());
        m_panel->setGeometry(0, 0, 640, 480);
        m_panel->show();
        play(3, 0);
        QCOMPARE(m_panel->PreviewStop(3), 0);
    }

    // ---- sound ----

    void soundOutput_data()
    {
        QTest::addColumn<int>("holder");
        QTest::addColumn<int>("stopped");
        QTest::addColumn<int>("ownerAfter");
        QTest::newRow("the channel with the sound stops") << 0 << 0 << -1;
        QTest::newRow("another channel stops") << 1 << 0 << 1;
    }

    void soundOutput()
    {
        QFETCH(int, holder);
        QFETCH(int, stopped);
        QFETCH(int, ownerAfter);
        play(0, 0);
        play(1, 1);
        QCOMPARE(m_panel->OpenSound(holder, true), 0);
        QCOMPARE(LumarelControl::soundOwner(), holder);
        QCOMPARE(m_panel->PreviewStop(stopped), 0);
        QCOMPARE(LumarelControl::soundOwner(), ownerAfter);
        QCOMPARE(m_panel->GetSoundChannel(), ownerAfter);
        QCOMPARE(m_panel->IsSoundWnd(holder), ownerAfter == holder);
        m_panel->PreviewStop(0);
        m_panel->PreviewStop(1);
    }

    void soundMovesBetweenChannels()
    {
        play(0, 0);
        play(5, 1);
        play(3, 2);
        QCOMPARE(m_panel->OpenSound(0, true), 0);
        LumarelControl::clearCalls();
        QCOMPARE(m_panel->OpenSound(5, true), 0);
        // Channel 0's sound is closed first.
        const std::vector<std::string> calls = LumarelControl::calls();
        QCOMPARE(QStringList({ QString::fromStdString(calls.at(0)), QString::fromStdString(calls.at(1)) }),
            QStringList({ QStringLiteral("TRV_PLAY_StopSound"), QStringLiteral("TRV_PLAY_PlaySound(5)") }));
        QVERIFY(m_panel->IsSoundWnd(5));
        QVERIFY(!m_panel->IsSoundWnd(0));
        // Off for a channel without the sound leaves the output to channel 5.
        QCOMPARE(m_panel->OpenSound(3, false), 0);
        QCOMPARE(LumarelControl::soundOwner(), 5);
        QCOMPARE(m_panel->OpenSound(5, false), 0);
        QCOMPARE(LumarelControl::soundOwner(), -1);
        QCOMPARE(m_panel->GetSoundChannel(), -1);
        QCOMPARE(m_panel->OpenSound(40, true), -1);
        QCOMPARE(m_panel->OpenSound(64, true), -1);
        for (int channel : { 0, 5, 3 })
            m_panel->PreviewStop(channel);
    }

    // ---- colour ----

    void colour()
    {
        play(2, 0);
        int b = 0, c = 0, s = 0, h = 0;
        QCOMPARE(m_panel->GetColor(2, &b, &c, &s, &h), 0);
        QCOMPARE(QVector<int>({ b, c, s, h }), QVector<int>({ 64, 64, 64, 64 }));
        QCOMPARE(m_panel->SetColor(0, 100), 0);
        QCOMPARE(m_panel->SetColor(3, 20), 0);
        QCOMPARE(m_panel->GetColor(2, &b, &c, &s, &h), 0);
        QCOMPARE(QVector<int>({ b, c, s, h }), QVector<int>({ 100, 64, 64, 20 }));
        QCOMPARE(m_panel->SetColor(4, 30), 0);
        QCOMPARE(m_panel->GetColor(2, &b, &c, &s, &h), 0);
        QCOMPARE(QVector<int>({ b, c, s, h }), QVector<int>({ 30, 30, 30, 30 }));
        QCOMPARE(m_panel->GetColor(8, &b, &c, &s, &h), -1);
        grid()->onCurWndIndexChange(1); // shows no channel
        QCOMPARE(m_panel->SetColor(0, 1), -1);
        QCOMPARE(m_panel->PreviewStop(2), 0);
    }

    // ---- snapshots and recordings ----

    void snapshot_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("imageType");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("format");
        QTest::newRow("channel 0, BMP") << 0 << 0 << "^01_\\d{8}_\\d{6}\\.bmp$"
                                        << "BMP3 160x120";
        QTest::newRow("channel 11, JPEG") << 11 << 1 << "^12_\\d{8}_\\d{6}\\.jpg$"
                                          << "JPEG 160x120";
    }

    void snapshot()
    {
        QFETCH(int, channel);
        QFETCH(int, imageType);
        QFETCH(QString, pattern);
        QFETCH(QString, format);
        const QString folder = m_dir.filePath(QStringLiteral("cap-%1").arg(imageType));
        writeSettings(
            { { QStringLiteral("Path/CapPath"), folder }, { QStringLiteral("Info/ImageType"), imageType } });
        play(channel, 0);
        QCOMPARE(m_panel->Capture(channel, false), 0);
        const QStringList files = QDir(folder).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(pattern).match(files.first()).hasMatch(), qPrintable(files.first()));
        QCOMPARE(TestMedia::identify(QDir(folder).filePath(files.first())), format);
        QCOMPARE(m_panel->Capture(channel + 1, false), -1);
        QCOMPARE(m_panel->PreviewStop(channel), 0);
    }

    // The fixed picture for the page keeps its name, whatever it holds.
    void snapshotToConfigKeepsItsName()
    {
        writeSettings({ { QStringLiteral("Info/ImageType"), 1 } });
        play(4, 0);
        QCOMPARE(m_panel->Capture(4, true), 0);
        QCOMPARE(TestMedia::identify(m_dir.filePath(QStringLiteral("Cfg/capture.bmp"))),
            QStringLiteral("JPEG 160x120"));
        QCOMPARE(m_panel->PreviewStop(4), 0);
    }

    void snapshotBeforeAnyPictureFails()
    {
        QCOMPARE(m_panel->PreviewPlay(0, 6, 0), 0);
        QCOMPARE(m_panel->Capture(6, false), -2);
        QCOMPARE(m_panel->PreviewStop(6), 0);
    }

    void recording_data()
    {
        QTest::addColumn<int>("recordType");
        QTest::addColumn<QString>("extension");
        QTest::newRow("device stream") << 0 << "h265x";
        QTest::newRow("AVI") << 2 << "avi";
    }

    void recording()
    {
        QFETCH(int, recordType);
        QFETCH(QString, extension);
        // The folder does not exist yet: recording makes it.
        const QString folder = m_dir.filePath(QStringLiteral("rec-%1/sub").arg(recordType));
        writeSettings({ { QStringLiteral("Path/RecPath"), folder },
            { QStringLiteral("Info/RecordType"), recordType } });
        QCOMPARE(m_panel->PreviewPlay(0, 8, 0), 0);
        bool recording = false;
        QCOMPARE(m_panel->Record(8, true, &recording), 0);
        QVERIFY(recording);
        QVERIFY(m_panel->IsRecording(8));
        feed(8, m_blocks);
        QTRY_COMPARE(stats(8).framesShown, int64_t(m_blocks.size()));
        // Stopping the preview ends the recording.
        QCOMPARE(m_panel->PreviewStop(8), 0);
        QVERIFY(!m_panel->IsRecording(8));
        QVERIFY(!stats(8).recording);

        const QStringList files = QDir(folder).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^09_\\d{8}_\\d{6}\\.%1$").arg(extension))
                     .match(files.first())
                     .hasMatch(),
            qPrintable(files.first()));
        const QString path = QDir(folder).filePath(files.first());
        if (recordType == 0) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), TestMedia::join(m_blocks));
        } else {
            QCOMPARE(TestMedia::probeVideo(path),
                QStringLiteral("codec_name=h264\nwidth=160\nheight=120\nnb_read_frames=%1")
                    .arg(m_options.frames));
        }
    }

    void recordingOfAnotherTypeHasNoName()
    {
        writeSettings({ { QStringLiteral("Path/RecPath"), m_dir.filePath(QStringLiteral("rec-1")) },
            { QStringLiteral("Info/RecordType"), 1 } });
        QSignalSpy log(LightWeightLog::instance(), &LightWeightLog::writeLogSig);
        QCOMPARE(m_panel->PreviewPlay(0, 8, 0), 0);
        bool recording = true;
        QCOMPARE(m_panel->Record(8, true, &recording), -2);
        QVERIFY(!recording);
        QVERIFY(!m_panel->IsRecording(8));
        QVERIFY(!QDir(m_dir.filePath(QStringLiteral("rec-1"))).exists());
        QCOMPARE(logLinesContaining(log, QStringLiteral("nChannel :8,bRecord :0")), 1);
        QCOMPARE(m_panel->Record(9, true, &recording), -1);
        QCOMPARE(m_panel->PreviewStop(8), 0);
    }

    // ---- settings ----

    void settings_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QStringList>("paths"); // cap, rec, down; "~" is the settings folder
        QTest::addColumn<QVector<int>>("types"); // capture, record, image
        using Map = QMap<QString, QVariant>;
        QTest::newRow("fresh") << Map()
                               << QStringList({ "~/Device/Capture", "~/Device/Record", "~/Device/Download" })
                               << QVector<int>({ 0, 0, 0 });
        QTest::newRow("empty texts") << Map(
            { { "Path/CapPath", "" }, { "Path/RecPath", "" }, { "Info/ImageType", "" } })
                                     << QStringList(
                                            { "~/Device/Capture", "~/Device/Record", "~/Device/Download" })
                                     << QVector<int>({ 0, 0, 0 });
        QTest::newRow("stored") << Map({ { "Path/CapPath", "/srv/cap" }, { "Path/RecPath", "/srv/rec" },
            { "Path/DownPath", "/srv/down" }, { "Info/CaptureType", 1 }, { "Info/RecordType", 2 },
            { "Info/ImageType", 1 } })
                                << QStringList({ "/srv/cap", "/srv/rec", "/srv/down" })
                                << QVector<int>({ 1, 2, 1 });
        QTest::newRow("junk type") << Map({ { "Info/RecordType", "two" } })
                                   << QStringList(
                                          { "~/Device/Capture", "~/Device/Record", "~/Device/Download" })
                                   << QVector<int>({ 0, 0, 0 });
    }

    void settings()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QStringList, paths);
        QFETCH(QVector<int>, types);
        writeSettings(stored);
        m_panel->LoadLocalInfo();
        const LocalInfo &info = m_panel->GetLocalInfo();
        paths.replaceInStrings(QStringLiteral("~"), m_dir.path());
        QCOMPARE(QStringList({ info.CapPath, info.RecPath, info.DownPath }), paths);
        QCOMPARE(QVector<int>({ info.CaptureType, info.RecordType, info.ImageType }), types);
        // Defaults are written back.
        QSettings s(m_dir.filePath(QStringLiteral("ClientCfg.ini")), QSettings::IniFormat);
        QCOMPARE(QStringList({ s.value("Path/CapPath").toString(), s.value("Path/RecPath").toString(),
                     s.value("Path/DownPath").toString() }),
            paths);
    }

    // ---- original size ----

    void originalSizeFollowsThePicture()
    {
        m_panel->ChangeSplit(0);
        QCOMPARE(m_panel->PreviewPlay(0, 0, 0), 0);
        QCOMPARE(m_panel->PlayOriginal(0), -2); // nothing decoded yet
        QCOMPARE(m_panel->GetPlayOriginalState(0), 0);
        feed(0, m_blocks);
        QTRY_VERIFY(stats(0).framesDrawn > 0);

        QCOMPARE(m_panel->PlayOriginal(0), 0);
        QCOMPARE(m_panel->GetPlayOriginalState(0), 1);
        CVideoWnd *wnd = grid()->GetWnd(0);
        QCOMPARE(wnd->GetVideoSize(), QSize(160, 120));
        QCOMPARE(wnd->GetAspectMode(), int(CVideoWnd::kAspectKeep));
        QVERIFY(!frame(0)->GetPreviewStatus());

        // A new picture size reaches the window through the GUI thread.
        QSignalSpy sizes(m_panel, &CRealPlayWidget::videoSizeChange);
        TestMedia::VideoOptions larger = m_options;
        larger.width = 320;
        larger.height = 240;
        larger.startMs += 1000;
        const std::vector<QByteArray> largerBlocks = TestMedia::videoBlocks(larger);
        feed(0, largerBlocks);
        QTRY_COMPARE(stats(0).width, 320);
        // The size is read as data comes in: a block after the first larger
        // picture notices it at the latest.
        feed(0, { largerBlocks.back() });
        QTRY_COMPARE(sizes.count(), 1);
        QCOMPARE(sizes.first().at(0).toInt(), 0);
        QCOMPARE(wnd->GetVideoSize(), QSize(320, 240));

        QCOMPARE(m_panel->SetPreviewStatus(0), 0);
        QCOMPARE(m_panel->GetPlayOriginalState(0), 0);
        QCOMPARE(wnd->GetAspectMode(), 0);
        QVERIFY(frame(0)->GetPreviewStatus());
        QCOMPARE(m_panel->PlayOriginal(20), -1);
        QCOMPARE(m_panel->SetPreviewStatus(20), -1);
        QCOMPARE(m_panel->PreviewStop(0), 0);
        QCOMPARE(m_panel->SetPreviewStatus(0), -1); // no window any more
    }

    // ---- digital zoom ----

    void digitalZoomRegion()
    {
        play(3, 1);
        grid()->onCurWndIndexChange(1);
        const WId handle = grid()->GetWndHandle(1);
        const QSize size = frame(1)->size();
        // The left half, top half of the window: 0-8192 space from the grid.
        grid()->onSelectRegion(
            QVariant::fromValue(handle), QPoint(0, 0), QPoint(size.width() / 2, size.height() / 2));
        QVERIFY(m_panel->IsDigitalZoom(3));
        QVERIFY(stats(3).regionEnabled);
        const TRV_PLAY_RECT expected = rect(0, 0, int(qint64(size.width() / 2) * 8192 / size.width()),
            int(qint64(size.height() / 2) * 8192 / size.height()));
        QVERIFY2(same(stats(3).region, expected), qPrintable(text(stats(3).region)));

        // Original size ends the zoom and forgets the window's region.
        QCOMPARE(m_panel->PlayOriginal(3), 0);
        QVERIFY(!m_panel->IsDigitalZoom(3));
        QVERIFY(!stats(3).regionEnabled);
        QVERIFY(grid()->GetWnd(1)->GetZoomRegion().isNull());

        QCOMPARE(m_panel->OnDigitalZoom(QPoint(0, 0), QPoint(10, 10), 64), 64);
        QCOMPARE(m_panel->OnDigitalZoom(QPoint(0, 0), QPoint(10, 10), 5), -1); // no channel there
        QCOMPARE(m_panel->OnQuitDigitalZoom(64), 64);
        QCOMPARE(m_panel->PreviewStop(3), 0);
    }

    // ---- electronic PTZ ----

    void electPtzArithmetic_data()
    {
        QTest::addColumn<TRV_PLAY_RECT>("from");
        QTest::addColumn<int>("op"); // 0-3 move, 4 zoom in, 5 zoom out
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<TRV_PLAY_RECT>("to");
        const TRV_PLAY_RECT full = rect(0, 0, 8192, 8192);
        const TRV_PLAY_RECT mid = rect(1000, 1000, 7192, 7192);
        QTest::newRow("zoom in") << full << 4 << 1000 << true << mid;
        QTest::newRow("zoom in to a line") << mid << 4 << 3096 << false << mid;
        QTest::newRow("zoom in past the middle") << mid << 4 << 5000 << false << mid;
        QTest::newRow("zoom in, negative step") << full << 4 << -100 << false << full;
        QTest::newRow("zoom in, INT_MIN") << mid << 4 << INT_MIN << false << mid;
        QTest::newRow("zoom out") << mid << 5 << 1000 << true << full;
        QTest::newRow("zoom out, too far") << mid << 5 << 1001 << false << mid;
        QTest::newRow("zoom out, negative step") << mid << 5 << -4000 << false << mid;
        QTest::newRow("zoom out, INT_MAX") << mid << 5 << INT_MAX << false << mid;
        QTest::newRow("up") << mid << 0 << 1000 << true << rect(1000, 0, 7192, 6192);
        QTest::newRow("up from the top") << rect(0, 0, 100, 100) << 0 << 1 << false << rect(0, 0, 100, 100);
        QTest::newRow("up, negative step past the bottom") << mid << 0 << -1001 << false << mid;
        QTest::newRow("down") << mid << 1 << 1000 << true << rect(1000, 2000, 7192, 8192);
        QTest::newRow("down too far") << mid << 1 << 1001 << false << mid;
        QTest::newRow("down, INT_MAX") << mid << 1 << INT_MAX << false << mid;
        QTest::newRow("left") << mid << 2 << 1000 << true << rect(0, 1000, 6192, 7192);
        QTest::newRow("left too far") << mid << 2 << 1001 << false << mid;
        QTest::newRow("right") << mid << 3 << 1000 << true << rect(2000, 1000, 8192, 7192);
        QTest::newRow("right, INT_MIN") << mid << 3 << INT_MIN << false << mid;
    }

    void electPtzArithmetic()
    {
        QFETCH(TRV_PLAY_RECT, from);
        QFETCH(int, op);
        QFETCH(int, step);
        QFETCH(bool, ok);
        QFETCH(TRV_PLAY_RECT, to);
        TRV_PLAY_RECT out = from;
        bool result = false;
        if (op < 4)
            result = ElectPtz::Move(from, op, step, &out);
        else if (op == 4)
            result = ElectPtz::ZoomIn(from, step, &out);
        else
            result = ElectPtz::ZoomOut(from, step, &out);
        QCOMPARE(result, ok);
        QVERIFY2(same(out, to), qPrintable(text(out)));
        QVERIFY(!ElectPtz::Move(from, 4, 1, &out));
    }

    // The panel's operations reach the play library and keep the region.
    void electPtzOnTheCurrentWindow()
    {
        play(4, 2);
        grid()->onCurWndIndexChange(2);
        QVERIFY(m_panel->PTZElectOpen(4, -1));
        const ElectPtzRecord *record = m_panel->GetPTZElectRecord(4);
        QCOMPARE(record->active, 1);
        QVERIFY(stats(4).regionEnabled);
        QVERIFY(frame(2)->GetPTZElectStatus());
        QVERIFY(!frame(2)->GetPreviewStatus());
        QVERIFY(m_panel->PTZElectOpen(4, -1)); // already open

        QVERIFY(m_panel->PTZElectZoomIn(4, 1000));
        QVERIFY(m_panel->PTZElectronicMove(4, 3, 1000));
        const TRV_PLAY_RECT moved = rect(2000, 1000, 8192, 7192);
        QVERIFY(same(record->region, moved));
        QVERIFY2(same(stats(4).region, moved), qPrintable(text(stats(4).region)));
        LumarelControl::clearCalls();
        QVERIFY(!m_panel->PTZElectronicMove(4, 3, 1));
        QVERIFY(!m_panel->PTZElectZoomIn(4, -50));
        QVERIFY(!m_panel->PTZElectronicMove(4, 7, 1));
        QVERIFY(LumarelControl::calls().empty());
        QVERIFY(same(record->region, moved));

        // Presets.
        QSignalSpy log(LightWeightLog::instance(), &LightWeightLog::writeLogSig);
        QVERIFY(!m_panel->PTZElectPresent(4, 6, 1)); // nothing stored
        QVERIFY(m_panel->PTZElectPresent(4, 7, 1));
        QVERIFY(m_panel->PTZElectRedu(4));
        QVERIFY(ElectPtz::IsFull(record->region));
        QVERIFY(!stats(4).regionEnabled);
        QVERIFY(!m_panel->PTZElectRedu(4)); // already the whole picture
        QVERIFY(m_panel->PTZElectPresent(4, 7, 2)); // the whole picture
        QVERIFY(m_panel->PTZElectPresent(4, 8, 1));
        QVERIFY(same(record->region, moved));
        QVERIFY(same(stats(4).region, moved));
        QVERIFY(!m_panel->PTZElectPresent(4, 8, 3)); // missing
        QVERIFY(m_panel->PTZElectPresent(4, 6, 3)); // missing, others stored
        QVERIFY(m_panel->PTZElectPresent(4, 6, 2));
        QVERIFY(!m_panel->PTZElectPresent(4, 9, 1));
        QCOMPARE(int(record->presets.size()), 1);
        QCOMPARE(logLinesContaining(log, QStringLiteral("] ADD")), 2);
        QCOMPARE(logLinesContaining(log, QStringLiteral("] GO")), 1);
        QCOMPARE(logLinesContaining(log, QStringLiteral("] Del")), 2);

        // Leaving e-PTZ by the window's right click.
        QSignalSpy page(m_panel, &CRealPlayWidget::changePTZELectPage);
        QCOMPARE(m_panel->OnQuitPTZElect(2), 0);
        QCOMPARE(page.count(), 1);
        QCOMPARE(record->active, 0);
        QVERIFY(ElectPtz::IsFull(record->region));
        QVERIFY(!stats(4).regionEnabled);
        QVERIFY(frame(2)->GetPreviewStatus());
        QCOMPARE(m_panel->OnQuitPTZElect(2), 0);
        QCOMPARE(page.count(), 1); // not active any more
        QCOMPARE(m_panel->PreviewStop(4), 0);
    }

    void electPtzNeedsTheCurrentWindowsChannel()
    {
        play(1, 0);
        play(2, 1);
        grid()->onCurWndIndexChange(0);
        QVERIFY(!m_panel->PTZElectOpen(2, -1)); // window 0 shows channel 1
        QVERIFY(m_panel->PTZElectOpen(2, 1));
        QVERIFY(!m_panel->PTZElectZoomIn(2, 10));
        QVERIFY(!m_panel->PTZElectPresent(2, 7, 1));
        QVERIFY(!m_panel->PTZElectOpen(64, -1));
        QVERIFY(!m_panel->PTZElectOpen(1, 64));
        // An empty current window and channel -1 index nothing.
        grid()->onCurWndIndexChange(5);
        QVERIFY(!m_panel->PTZElectZoomIn(-1, 10));
        QVERIFY(!m_panel->PTZElectronicMove(-1, 0, 10));
        QVERIFY(!m_panel->PTZElectRedu(-1));
        QVERIFY(!m_panel->PTZElectPresent(-1, 7, 1));
        QVERIFY(!m_panel->PTZElectOpen(-1, -1));
        QCOMPARE(m_panel->OnQuitPTZElect(5), 0);
        m_panel->PreviewStop(1);
        m_panel->PreviewStop(2);
    }

    // Opening one channel leaves the e-PTZ of the others as they show it.
    void previewKeepsOtherChannelsPtz()
    {
        play(1, 0);
        grid()->onCurWndIndexChange(0);
        QVERIFY(m_panel->PTZElectOpen(1, -1));
        QVERIFY(m_panel->PTZElectZoomIn(1, 500));
        play(2, 1);
        const ElectPtzRecord *record = m_panel->GetPTZElectRecord(1);
        QCOMPARE(record->active, 1);
        QVERIFY(same(record->region, stats(1).region));
        QVERIFY(same(record->region, rect(500, 500, 7692, 7692)));
        // Its own next start begins again with the whole picture.
        QCOMPARE(m_panel->PreviewStop(1), 0);
        QCOMPARE(m_panel->PreviewPlay(0, 1, 0), 0);
        QCOMPARE(record->active, 0);
        QVERIFY(ElectPtz::IsFull(record->region));
        m_panel->PreviewStop(1);
        m_panel->PreviewStop(2);
    }

    // ---- full screen ----

    void fullScreenSelection()
    {
        grid()->onCurWndIndexChange(3);
        m_panel->EnterFullScreen();
        QVERIFY(m_panel->IsFullScreen());
        for (int i = 0; i < CPlayWindowManage::kMaxWnd; ++i)
            QVERIFY(!grid()->GetWnd(i)->IsSelected());
        m_panel->ExitFullScreen();
        QVERIFY(!m_panel->IsFullScreen());
        QVERIFY(grid()->GetWnd(3)->IsSelected());
    }

    // ---- rule overlay in a live window ----

    void ruleDrawnOverChannelZero()
    {
        RuleRegionInfo rule;
        rule.show = 1;
        rule.ruleType = 0;
        rule.lineStartX = 0;
        rule.lineStartY = 4096;
        rule.lineEndX = 8192;
        rule.lineEndY = 4096;
        m_panel->SetRuleRegionInfo(rule);
        // Registered as channel 0 opens, not only on a later start.
        play(0, 0);
        QTRY_VERIFY(stats(0).drawCallbacks > 0);
        const QImage image = frame(0)->grab().toImage();
        const int y = image.height() / 2;
        const QColor onLine = image.pixelColor(image.width() / 4, y);
        QVERIFY2(TestMedia::near(onLine, QColor(0, 0, 255), 8), qPrintable(onLine.name()));
        const QColor offLine = image.pixelColor(image.width() / 4, y / 2);
        QVERIFY2(TestMedia::near(offLine, TestMedia::quadrantColour(0), 24), qPrintable(offLine.name()));

        rule.window = 1;
        m_panel->SetRuleRegionInfo(rule);
        QVERIFY(!m_panel->RegisterRuleDraw());
        rule.window = 0;
        m_panel->SetRuleRegionInfo(rule);
        QVERIFY(m_panel->RegisterRuleDraw());
        QCOMPARE(m_panel->PreviewStop(0), 0);
    }
};

QTEST_MAIN(TestRealPlayWidget)
#include "tst_real_play_widget.moc"
