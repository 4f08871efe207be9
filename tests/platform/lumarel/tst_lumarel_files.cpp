// Files of the play library: snapshots, recordings, conversion and file ports,
// checked with ImageMagick and ffprobe.

#include "PortAccess.h"
#include "TestMedia.h"
#include "lumarel/LumarelControl.h"
#include "lumarel/lumarel.h"

#include <QtTest>

#include <atomic>
#include <mutex>

using LumarelControl::PortStats;

namespace {

int openStream(int port)
{
    const unsigned char head = 0;
    return TRV_PLAY_OpenStream(port, &head, 1, 4096000);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Progress
{
    std::mutex mutex;
    std::vector<std::pair<int64_t, int64_t>> calls;
    std::atomic<bool> finished { false };
};

void progressCallback(int64_t current, int64_t total, void *user)
{
    auto *p = static_cast<Progress *>(user);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->calls.emplace_back(current, total);
    if (current == total)
        p->finished = true;
}

std::atomic<int> g_fileEnds { 0 };
void fileEnd(int port, void *user)
{
    if (port == 130 && user == &g_fileEnds)
        ++g_fileEnds;
}

// Closes the port whose file ended, from the play library's own thread.
std::atomic<int> g_closedAtEnd { 0 };
void closeAtEnd(int port, void *)
{
    if (TRV_PLAY_CloseFile(port))
        ++g_closedAtEnd;
}

} // namespace

class TestLumarelFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // A playing port 1 that has shown `frames` pictures of the quadrant stream.
    void showStream(int frames, int width = 64, int height = 48)
    {
        TestMedia::VideoOptions o;
        o.frames = frames;
        o.width = width;
        o.height = height;
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_Play(1, 0));
        QVERIFY(feed(1, TestMedia::join(TestMedia::videoBlocks(o))));
        QTRY_COMPARE(stats(1).framesShown, int64_t(frames));
    }

    // A file of the device stream format with `frames` pictures, 50 a
    // second; empty when it could not be written.
    QString streamFile(const QString &name, int frames)
    {
        TestMedia::VideoOptions o;
        o.frames = frames;
        o.fps = 50;
        const QString file = path(name);
        return writeFile(file, TestMedia::join(TestMedia::videoBlocks(o))) ? file : QString();
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void cleanup()
    {
        TRV_PLAY_CloseStream(1);
        TRV_PLAY_CloseFile(130);
        LumarelControl::setPooledDecoding(true);
    }

    void bmpSnapshotIsACompleteFile_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("64x48") << 64 << 48;
        QTest::newRow("row padding 50x30") << 50 << 30;
    }

    void bmpSnapshotIsACompleteFile()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        unsigned char none[64];
        int w = 0, h = 0;
        QVERIFY(openStream(1));
        QCOMPARE(TRV_PLAY_CatchPicture(1, none, sizeof none, &w, &h, TRV_PLAY_PICTURE_BMP), 0);
        QCOMPARE(TRV_PLAY_GetLastError(1), int(TRV_PLAY_ERR_NO_PICTURE));
        TRV_PLAY_CloseStream(1);

        showStream(3, width, height);
        QByteArray buffer(4 * 1024 * 1024, '\0');
        auto *data = reinterpret_cast<unsigned char *>(buffer.data());
        QVERIFY(TRV_PLAY_CatchPicture(1, data, unsigned(buffer.size()), &w, &h, TRV_PLAY_PICTURE_BMP));
        QCOMPARE(w, width);
        QCOMPARE(h, height);
        QCOMPARE(buffer.left(2), QByteArray("BM"));
        const int stride = (width * 3 + 3) & ~3;
        const quint32 size = qFromLittleEndian<quint32>(data + 2);
        QCOMPARE(size, quint32(54 + stride * height));
        const QString file = path(QStringLiteral("snap.bmp"));
        QVERIFY(writeFile(file, buffer.left(int(size))));
        // ImageMagick calls a BMP with the 40-byte info header "BMP3".
        QCOMPARE(TestMedia::identify(file), QStringLiteral("BMP3 %1x%2").arg(width).arg(height));
        // Bottom-up rows: the first stored row is the bottom left quadrant.
        const QImage image(file);
        QVERIFY(TestMedia::near(image.pixelColor(2, height - 3), TestMedia::quadrantColour(2), 24));
        QVERIFY(TestMedia::near(image.pixelColor(width - 3, 2), TestMedia::quadrantColour(1), 24));

        // A buffer one byte short is refused.
        QCOMPARE(TRV_PLAY_CatchPicture(1, data, size - 1, &w, &h, TRV_PLAY_PICTURE_BMP), 0);
        QCOMPARE(TRV_PLAY_GetLastError(1), int(TRV_PLAY_ERR_BUF_SMALL));
        QCOMPARE(TRV_PLAY_CatchPicture(1, nullptr, 0, &w, &h, 2), 0);
    }

    void i420SnapshotHasFullRangeQuadrants()
    {
        showStream(2);
        QByteArray buffer(64 * 48 * 3 / 2, '\0');
        auto *data = reinterpret_cast<unsigned char *>(buffer.data());
        int w = 0, h = 0;
        QVERIFY(TRV_PLAY_CatchPicture(1, data, unsigned(buffer.size()), &w, &h, TRV_PLAY_PICTURE_I420));
        QCOMPARE(w, 64);
        QCOMPARE(h, 48);
        // Full-range luma of the white quadrant is close to the colour's own.
        const int whiteLuma = data[40 * 64 + 50];
        QVERIFY2(whiteLuma > 225, qPrintable(QString::number(whiteLuma)));
        QCOMPARE(
            TRV_PLAY_CatchPicture(1, data, unsigned(buffer.size() - 1), &w, &h, TRV_PLAY_PICTURE_I420), 0);
    }

    void streamRecordingEqualsTheInput()
    {
        TestMedia::VideoOptions o;
        o.frames = 12;
        const auto blocks = TestMedia::videoBlocks(o);
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_Play(1, 0));
        QVERIFY(feed(1, blocks[0]));
        const QString file = path(QStringLiteral("rec.h265x"));
        QVERIFY(TRV_PLAY_StartDataRecord(1, QFile::encodeName(file).constData(), TRV_PLAY_RECORD_STREAM));
        QVERIFY(stats(1).recording);
        QByteArray recorded;
        for (size_t i = 1; i < blocks.size(); ++i) {
            recorded += blocks[i];
            if (i == 5)
                recorded += TestMedia::audioBlock(160, 8000, o.startMs + 200);
        }
        // In odd pieces, as a network delivers them.
        for (int i = 0; i < recorded.size(); i += 1000)
            QVERIFY(feed(1, recorded.mid(i, 1000)));
        QVERIFY(TRV_PLAY_StopDataRecord(1));
        QVERIFY(!stats(1).recording);
        QCOMPARE(readFile(file), recorded);
        QCOMPARE(TRV_PLAY_StopDataRecord(1), 0);
    }

    void aviRecordingPassesFfprobe()
    {
        TestMedia::VideoOptions o;
        o.frames = 15;
        o.gop = 5;
        const auto blocks = TestMedia::videoBlocks(o);
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_Play(1, 0));
        const QString file = path(QStringLiteral("rec.avi"));
        QVERIFY(TRV_PLAY_StartDataRecord(1, QFile::encodeName(file).constData(), TRV_PLAY_RECORD_AVI));
        QCOMPARE(TRV_PLAY_StartDataRecord(1, QFile::encodeName(file).constData(), TRV_PLAY_RECORD_AVI), 0);
        QCOMPARE(TRV_PLAY_GetLastError(1), int(TRV_PLAY_ERR_BUSY));
        // Starts in the middle of a group: the file begins at the next key frame.
        for (size_t i = 2; i < blocks.size(); ++i)
            QVERIFY(feed(1, blocks[i]));
        QVERIFY(TRV_PLAY_StopDataRecord(1));
        QCOMPARE(TestMedia::probeVideo(file),
            QStringLiteral("codec_name=h264\nwidth=64\nheight=48\nnb_read_frames=10"));
    }

    void recordingNeedsANameAndAKnownType_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("error");
        QTest::newRow("empty name") << QString() << 0 << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("type 1") << QStringLiteral("x.h265x") << 1 << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("type 3") << QStringLiteral("x.avi") << 3 << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("folder missing")
            << QStringLiteral("no/such/x.avi") << 2 << int(TRV_PLAY_ERR_CREATE_FILE);
    }

    void recordingNeedsANameAndAKnownType()
    {
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(int, error);
        QVERIFY(openStream(1));
        const QByteArray file = name.isEmpty() ? QByteArray() : QFile::encodeName(path(name));
        QCOMPARE(TRV_PLAY_StartDataRecord(1, file.constData(), type), 0);
        QCOMPARE(TRV_PLAY_GetLastError(1), error);
        QVERIFY(!stats(1).recording);
    }

    // On a full disk a recording fails at its start and leaves no file
    // (a small tmpfs, filled up; skipped where mounting is not permitted).
    void recordingOnAFullDiskFailsAtStart_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        QTest::newRow("stream") << int(TRV_PLAY_RECORD_STREAM) << QStringLiteral("rec.h265x");
        QTest::newRow("avi") << int(TRV_PLAY_RECORD_AVI) << QStringLiteral("rec.avi");
    }
    void recordingOnAFullDiskFailsAtStart()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        const QString disk = path(QStringLiteral("full"));
        QVERIFY(QDir().mkpath(disk));
        QProcess mount;
        mount.start(QStringLiteral("mount"),
            { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=1m"),
                QStringLiteral("tmpfs"), disk });
        if (!mount.waitForFinished(10000) || mount.exitCode() != 0)
            QSKIP("cannot mount a small tmpfs here");
        struct Unmount
        {
            QString disk;
            ~Unmount() { QProcess::execute(QStringLiteral("umount"), { disk }); }
        } unmount { disk };
        {
            // Filled to the last byte.
            QFile filler(disk + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size() && filler.flush()) { }
        }
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_Play(1, 0));
        const QString file = disk + QLatin1Char('/') + name;
        QCOMPARE(TRV_PLAY_StartDataRecord(1, QFile::encodeName(file).constData(), type), 0);
        QCOMPARE(TRV_PLAY_GetLastError(1), int(TRV_PLAY_ERR_CREATE_FILE));
        QVERIFY(!stats(1).recording);
        QVERIFY(!QFile::exists(file));

        // Room again: the same recording starts.
        QVERIFY(QFile::remove(disk + QStringLiteral("/filler")));
        QVERIFY(TRV_PLAY_StartDataRecord(1, QFile::encodeName(file).constData(), type));
        QVERIFY(stats(1).recording);
        QVERIFY(TRV_PLAY_StopDataRecord(1));
    }

    void conversionToAviPassesFfprobe()
    {
        TestMedia::VideoOptions o;
        o.frames = 20;
        auto blocks = TestMedia::videoBlocks(o);
        QByteArray stream;
        for (size_t i = 0; i < blocks.size(); ++i) {
            stream += blocks[i];
            stream += TestMedia::audioBlock(320, 8000, o.startMs + int64_t(i) * 40);
        }
        const QString source = path(QStringLiteral("01_for_avi.h265x"));
        const QString target = path(QStringLiteral("01.avi"));
        QVERIFY(writeFile(source, stream));
        Progress progress;
        QVERIFY(TRV_PLAY_ConvertFile(QFile::encodeName(source).constData(),
            QFile::encodeName(target).constData(), TRV_PLAY_CONVERT_AVI, progressCallback, &progress));
        QTRY_VERIFY(progress.finished);
        {
            std::lock_guard<std::mutex> lock(progress.mutex);
            QCOMPARE(progress.calls.back().first, int64_t(stream.size()));
            QCOMPARE(progress.calls.back().second, int64_t(stream.size()));
            for (size_t i = 0; i + 1 < progress.calls.size(); ++i)
                QVERIFY(progress.calls[i].first < progress.calls[i].second);
        }
        QTRY_COMPARE(LumarelControl::runningConversions(), 0);
        QCOMPARE(TestMedia::probeVideo(target),
            QStringLiteral("codec_name=h264\nwidth=64\nheight=48\nnb_read_frames=20"));
        const QString audio = QString::fromUtf8(TestMedia::run(QStringLiteral("ffprobe"),
            { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                QStringLiteral("a:0"), QStringLiteral("-show_entries"),
                QStringLiteral("stream=codec_name,sample_rate"), QStringLiteral("-of"),
                QStringLiteral("default=nw=1"), target }));
        QCOMPARE(audio.trimmed(), QStringLiteral("codec_name=pcm_alaw\nsample_rate=8000"));
    }

    void failedConversionStillEndsWithTotal()
    {
        const QString source = path(QStringLiteral("garbage.h265x"));
        const QString target = path(QStringLiteral("garbage.avi"));
        QVERIFY(writeFile(source, QByteArray(5000, 'x')));
        Progress progress;
        QVERIFY(TRV_PLAY_ConvertFile(QFile::encodeName(source).constData(),
            QFile::encodeName(target).constData(), TRV_PLAY_CONVERT_AVI, progressCallback, &progress));
        QTRY_VERIFY(progress.finished);
        QTRY_COMPARE(LumarelControl::runningConversions(), 0);
        QCOMPARE(progress.calls.back(), std::make_pair(int64_t(5000), int64_t(5000)));
        QVERIFY(!QFile::exists(target));
    }

    void conversionRefusesBadArguments_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("error");
        QTest::newRow("type 1") << "garbage.h265x"
                                << "a.avi" << 1 << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("missing source") << "none.h265x"
                                        << "a.avi" << 2 << int(TRV_PLAY_ERR_OPEN_FILE);
        QTest::newRow("bad target") << "garbage.h265x"
                                    << "no/such/a.avi" << 2 << int(TRV_PLAY_ERR_CREATE_FILE);
        QTest::newRow("empty target") << "garbage.h265x"
                                      << "" << 2 << int(TRV_PLAY_ERR_PARA);
    }

    void conversionRefusesBadArguments()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(int, type);
        QFETCH(int, error);
        writeFile(path(QStringLiteral("garbage.h265x")), QByteArray(100, 'x'));
        Progress progress;
        const QByteArray t = target.isEmpty() ? QByteArray("") : QFile::encodeName(path(target));
        QCOMPARE(TRV_PLAY_ConvertFile(QFile::encodeName(path(source)).constData(), t.constData(), type,
                     progressCallback, &progress),
            0);
        QCOMPARE(TRV_PLAY_GetLastError(0), error);
        QVERIFY(progress.calls.empty());
    }

    void streamFilePlaysToItsEndOnce()
    {
        const int frames = 20;
        const QString file = streamFile(QStringLiteral("play.h265x"), frames);
        QVERIFY(!file.isEmpty());
        g_fileEnds = 0;
        QVERIFY(TRV_PLAY_OpenFile(130, QFile::encodeName(file).constData()));
        QCOMPARE(TRV_PLAY_OpenFile(130, QFile::encodeName(file).constData()), 0);
        QVERIFY(TRV_PLAY_SetFileEndCallBack(130, fileEnd, &g_fileEnds));
        QCOMPARE(TRV_PLAY_InputData(130, reinterpret_cast<const unsigned char *>("x"), 1), 0);
        QCOMPARE(TRV_PLAY_GetPlayPos(130), 0.0f);
        QVERIFY(TRV_PLAY_Play(130, 0));
        QTRY_COMPARE(g_fileEnds.load(), 1);
        QCOMPARE(stats(130).framesShown, int64_t(frames));
        QCOMPARE(TRV_PLAY_GetPlayPos(130), 1.0f);

        // Back to the middle: decoding starts at the key frame before it,
        // the first picture shown is the one at the middle.
        QVERIFY(TRV_PLAY_Pause(130, 1));
        QVERIFY(TRV_PLAY_SetPlayPos(130, 0.5f));
        QTRY_VERIFY(stats(130).framesShown > frames);
        const float pos = TRV_PLAY_GetPlayPos(130);
        QVERIFY2(pos >= 0.47f && pos <= 0.56f, qPrintable(QString::number(pos)));
        QCOMPARE(TRV_PLAY_SetPlayPos(130, 1.5f), 0);
        QVERIFY(TRV_PLAY_Pause(130, 0));
        QTRY_COMPARE(g_fileEnds.load(), 2); // played to its end a second time
        QVERIFY(TRV_PLAY_CloseFile(130));
    }

    // A player may close a file port from its file-end callback, on the
    // thread that plays the port: the port closes, nothing waits for
    // itself, and the next port opened on the number plays.
    void closedFromItsFileEndCallback_data()
    {
        QTest::addColumn<bool>("pooled");
        QTest::newRow("decode pool") << true;
        QTest::newRow("a thread of its own") << false;
    }

    void closedFromItsFileEndCallback()
    {
        QFETCH(bool, pooled);
        LumarelControl::setPooledDecoding(pooled);
        const QString file = streamFile(QStringLiteral("close-at-end.h265x"), 6);
        QVERIFY(!file.isEmpty());
        g_closedAtEnd = 0;
        for (int round = 1; round <= 2; ++round) {
            QVERIFY(TRV_PLAY_OpenFile(130, QFile::encodeName(file).constData()));
            QVERIFY(TRV_PLAY_SetFileEndCallBack(130, closeAtEnd, nullptr));
            QVERIFY(TRV_PLAY_Play(130, 0));
            QTRY_COMPARE(g_closedAtEnd.load(), round);
            QVERIFY(!stats(130).open);
        }
    }

    // Emptying the queue of a file port (as the player does after a seek)
    // loses no picture: the ones read but not shown yet are read again.
    void resetKeepsThePicturesNotShownYet()
    {
        const QString file = streamFile(QStringLiteral("reset.h265x"), 20);
        QVERIFY(!file.isEmpty());
        QVERIFY(TRV_PLAY_OpenFile(131, QFile::encodeName(file).constData()));
        QVERIFY(TRV_PLAY_SetDisplayBufferCount(131, 8));
        QVERIFY(TRV_PLAY_Play(131, 0));
        for (int i = 0; i < 4; ++i)
            QVERIFY(TRV_PLAY_Slow(131)); // a picture every 320 ms
        // Pictures decoded ahead wait in the queue.
        QTRY_VERIFY(stats(131).framesShown >= 1 && stats(131).framesDecoded - stats(131).framesShown >= 6);
        QVERIFY(TRV_PLAY_Pause(131, 1));
        const float before = TRV_PLAY_GetPlayPos(131);
        const int64_t shown = stats(131).framesShown;
        QVERIFY(TRV_PLAY_ResetSourceBuffer(131));
        QVERIFY(TRV_PLAY_StepForward(131));
        QTRY_VERIFY(stats(131).framesShown > shown);
        // The next picture, not one behind the emptied queue.
        QCOMPARE(TRV_PLAY_GetPlayPos(131), before + 1.0f / 19.0f);
        QVERIFY(TRV_PLAY_CloseFile(131));
    }

    void aviFilePlays()
    {
        TestMedia::VideoOptions o;
        o.frames = 10;
        const QString source = path(QStringLiteral("forplay.h265x"));
        const QString avi = path(QStringLiteral("forplay.avi"));
        QVERIFY(writeFile(source, TestMedia::join(TestMedia::videoBlocks(o))));
        Progress progress;
        QVERIFY(TRV_PLAY_ConvertFile(QFile::encodeName(source).constData(),
            QFile::encodeName(avi).constData(), TRV_PLAY_CONVERT_AVI, progressCallback, &progress));
        QTRY_VERIFY(progress.finished);
        QTRY_COMPARE(LumarelControl::runningConversions(), 0);
        g_fileEnds = 0;
        QVERIFY(TRV_PLAY_OpenFile(130, QFile::encodeName(avi).constData()));
        QVERIFY(TRV_PLAY_SetFileEndCallBack(130, fileEnd, &g_fileEnds));
        QVERIFY(TRV_PLAY_Play(130, 0));
        QTRY_COMPARE(g_fileEnds.load(), 1);
        QCOMPARE(stats(130).framesShown, int64_t(o.frames));
        int w = 0, h = 0;
        QVERIFY(TRV_PLAY_GetPictureSize(130, &w, &h));
        QCOMPARE(QSize(w, h), QSize(64, 48));
    }

    void badFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("error");
        QTest::newRow("no blocks") << QByteArray(3000, 'q') << int(TRV_PLAY_ERR_FORMAT);
        QTest::newRow("empty") << QByteArray() << int(TRV_PLAY_ERR_FORMAT);
        QTest::newRow("broken avi") << QByteArray("RIFF\x10\0\0\0AVI LIST", 16)
                                    << int(TRV_PLAY_ERR_OPEN_FILE);
    }

    void badFilesAreRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, error);
        const QString file = path(QStringLiteral("bad.bin"));
        QVERIFY(writeFile(file, content));
        QCOMPARE(TRV_PLAY_OpenFile(130, QFile::encodeName(file).constData()), 0);
        QCOMPARE(TRV_PLAY_GetLastError(130), error);
        QCOMPARE(TRV_PLAY_OpenFile(130, QFile::encodeName(path(QStringLiteral("missing"))).constData()), 0);
        QCOMPARE(TRV_PLAY_GetLastError(130), int(TRV_PLAY_ERR_OPEN_FILE));
    }
};

QTEST_MAIN(TestLumarelFiles)
#include "tst_lumarel_files.moc"
