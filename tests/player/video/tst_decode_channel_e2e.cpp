// The decode port end to end with the real play library: pictures in a
// widget, snapshots, recordings, conversion, buffer figures and play time.

#include "DecodeChannel.h"
#include "TestMedia.h"
#include "lumarel/LumarelControl.h"

#include <QImage>
#include <QWidget>
#include <QtTest>

#include <atomic>

namespace {

LumarelControl::PortStats stats(int port)
{
    LumarelControl::PortStats s;
    LumarelControl::portStats(port, &s);
    return s;
}

std::atomic<bool> g_converted { false };
void converted(int64_t current, int64_t total, void *)
{
    if (current == total)
        g_converted = true;
}

} // namespace

class TestDecodeChannelEndToEnd : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QWidget *m_window = nullptr;
    CDecodeChannel *m_channel = nullptr;
    std::vector<QByteArray> m_blocks;
    TestMedia::VideoOptions m_options;

    void feedAll()
    {
        for (const QByteArray &b : m_blocks)
            QVERIFY(m_channel->InputData(b.constData(), b.size()));
    }

    // A live preview of the quadrant stream in channel 3's window.
    void preview()
    {
        m_channel->SetHwnd(m_window->winId());
        QVERIFY(m_channel->Open(0));
        QVERIFY(m_channel->StartPreview());
        feedAll();
        QTRY_COMPARE(stats(3).framesShown, int64_t(m_blocks.size()));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_options.width = 160;
        m_options.height = 120;
        m_options.frames = 10;
        m_blocks = TestMedia::videoBlocks(m_options);
        QCOMPARE(int(m_blocks.size()), m_options.frames);
    }

    void init()
    {
        m_window = new QWidget;
        m_window->resize(320, 240);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_channel = new CDecodeChannel(3);
    }

    void cleanup()
    {
        if (m_channel->IsRecording())
            m_channel->StopRecord();
        m_channel->StopPreview();
        m_channel->Close();
        delete m_channel;
        delete m_window;
    }

    void windowShowsTheDecodedPicture()
    {
        preview();
        QTRY_VERIFY(stats(3).framesDrawn > 0);
        const QImage image = m_window->grab().toImage();
        for (int q = 0; q < 4; ++q) {
            const QColor c = image.pixelColor(q % 2 ? 240 : 80, q / 2 ? 180 : 60);
            QVERIFY2(TestMedia::near(c, TestMedia::quadrantColour(q), 24), qPrintable(c.name()));
        }
        int w = 0, h = 0;
        QVERIFY(m_channel->GetPictureSize(&w, &h));
        QCOMPARE(QSize(w, h), QSize(160, 120));
    }

    void snapshots_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("format");
        QTest::newRow("BMP") << 0 << "cap/04_20230502_040000.bmp"
                             << "BMP3 160x120";
        QTest::newRow("JPEG") << 1 << "cap/04_20230502_040000.jpg"
                              << "JPEG 160x120";
    }

    void snapshots()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        QFETCH(QString, format);
        preview();
        const QString file = m_dir.filePath(name);
        QVERIFY(m_channel->CatchPicture(file, type));
        QCOMPARE(TestMedia::identify(file), format);
        const QImage image(file);
        QCOMPARE(image.size(), QSize(160, 120));
        for (int q = 0; q < 4; ++q) {
            const QColor c = image.pixelColor(q % 2 ? 120 : 40, q / 2 ? 90 : 30);
            QVERIFY2(TestMedia::near(c, TestMedia::quadrantColour(q), 16), qPrintable(c.name()));
        }
    }

    void streamRecordingEqualsTheInput()
    {
        m_channel->SetHwnd(m_window->winId());
        QVERIFY(m_channel->Open(0));
        QVERIFY(m_channel->StartPreview());
        const QString file = m_dir.filePath(QStringLiteral("rec/04_20230502_040000.h265x"));
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QVERIFY(m_channel->StartRecord(file, 0));
        QVERIFY(m_channel->IsRecording());
        feedAll();
        QVERIFY(m_channel->StopRecord());
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), TestMedia::join(m_blocks));
    }

    void aviRecordingPassesFfprobe()
    {
        m_channel->SetHwnd(m_window->winId());
        QVERIFY(m_channel->Open(0));
        QVERIFY(m_channel->StartPreview());
        const QString file = m_dir.filePath(QStringLiteral("04_20230502_040000.avi"));
        QVERIFY(m_channel->StartRecord(file, 2));
        feedAll();
        QVERIFY(m_channel->StopRecord());
        QCOMPARE(TestMedia::probeVideo(file),
            QStringLiteral("codec_name=h264\nwidth=160\nheight=120\nnb_read_frames=%1")
                .arg(m_options.frames));
    }

    void conversionPassesFfprobe()
    {
        const QString source = m_dir.filePath(QStringLiteral("01_2023-05-02_040000_040001_for_avi.h265x"));
        const QString target = m_dir.filePath(QStringLiteral("01_2023-05-02_040000_040001.avi"));
        QFile f(source);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(TestMedia::join(m_blocks));
        f.close();
        g_converted = false;
        QVERIFY(CDecodeChannel::ChangeFileFormat(source, target, 2, converted, nullptr));
        QTRY_VERIFY(g_converted);
        QTRY_COMPARE(LumarelControl::runningConversions(), 0);
        QCOMPARE(TestMedia::probeVideo(target),
            QStringLiteral("codec_name=h264\nwidth=160\nheight=120\nnb_read_frames=%1")
                .arg(m_options.frames));
    }

    void devicePlaybackBuffersDrainAndTimeFollowsTheStream()
    {
        // Device playback: file mode, paced by the stream's own timestamps.
        m_channel->SetHwnd(m_window->winId());
        QVERIFY(m_channel->Open(0));
        QVERIFY(m_channel->StartPlayback(false));
        QCOMPARE(stats(3).streamMode, unsigned(TRV_PLAY_STREAM_FILE));
        // The span of the ten pictures: 04:00:00.000 to 04:00:00.360 UTC; the
        // span given is one second from the first picture's second.
        const time_t first = time_t(m_options.startMs / 1000);
        struct tm t;
        localtime_r(&first, &t);
        char start[32];
        char end[32];
        std::strftime(start, sizeof start, "%Y-%m-%d %H:%M:%S", &t);
        const time_t last = first + 2;
        localtime_r(&last, &t);
        std::strftime(end, sizeof end, "%Y-%m-%d %H:%M:%S", &t);
        QCOMPARE(m_channel->SetTimeText(start, end), 1);
        QCOMPARE(m_channel->GetPlayTime(1), 0.0f); // nothing shown yet
        feedAll();
        QTRY_COMPARE(stats(3).framesShown, int64_t(m_blocks.size()));
        QTRY_COMPARE(m_channel->GetStreamBufferCount(), 0);
        QTRY_COMPARE(m_channel->GetFrameBufferCount(), 0);
        QCOMPARE(m_channel->GetPlayTime(1), 0.0f); // still in the first second of two
        localtime_r(&first, &t);
        QCOMPARE(m_channel->GetPlayTime(2), float(t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec));
        QCOMPARE(m_channel->PositionToSeconds(500), 1);

        // One more second of pictures: half the span.
        TestMedia::VideoOptions later = m_options;
        later.startMs += 1000;
        later.frames = 3;
        for (const QByteArray &b : TestMedia::videoBlocks(later))
            QVERIFY(m_channel->InputData(b.constData(), b.size()));
        QTRY_COMPARE(m_channel->GetPlayTime(1), 0.5f);
        QVERIFY(m_channel->StopPlayback());
        QCOMPARE(m_channel->GetState(), 1);
    }

    void localFilePlaysAndSeeks()
    {
        const QString file = m_dir.filePath(QStringLiteral("Local_20230502_040000.h265x"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(TestMedia::join(m_blocks));
        f.close();
        delete m_channel;
        m_channel = new CDecodeChannel(128);
        m_channel->SetHwnd(m_window->winId());
        static std::atomic<int> ends { 0 };
        ends = 0;
        QVERIFY(m_channel->BeginLocalPlay(
            file, [](int, void *) { ++ends; }, nullptr));
        QVERIFY(m_channel->StartPlayback(true));
        QTRY_COMPARE(ends.load(), 1);
        QCOMPARE(m_channel->GetPlayPos(), 1.0f);
        QCOMPARE(m_channel->PlayControl(2), 2);
        QVERIFY(m_channel->SetPlayPos(0.0f));
        QTRY_COMPARE(m_channel->GetPlayPos(), 0.0f);
        QCOMPARE(m_channel->SetPlayPos(2.0f), 0); // refused by the library, and said so
        QCOMPARE(m_channel->PlayControl(35), 35);
        QTRY_COMPARE(ends.load(), 2);
        QVERIFY(m_channel->StopPlayback());
        QVERIFY(m_channel->StopLocalPlay());
    }
};

QTEST_MAIN(TestDecodeChannelEndToEnd)
#include "tst_decode_channel_e2e.moc"
