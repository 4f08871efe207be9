// The decode port against a recording double of the play library: which
// library calls each operation makes, in which order, and what it returns.

#include "DecodeChannel.h"
#include "PlayLibraryDouble.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

constexpr int kPort = 66;
constexpr WId kWindow = 0x4242;

QStringList calls()
{
    QStringList out;
    for (const std::string &c : PlayDouble::calls())
        out << QString::fromStdString(c);
    return out;
}

// Brings a channel into a play state with every library call succeeding.
void driveTo(CDecodeChannel &channel, int state)
{
    if (state == CDecodeChannel::StateStopped)
        return;
    channel.StartPlayback(true);
    if (state != CDecodeChannel::StatePlaying)
        channel.PlayControl(state);
    PlayDouble::clearCalls();
}

QByteArray bmpImage(int width, int height)
{
    const int stride = (width * 3 + 3) & ~3;
    QByteArray bmp(54 + stride * height, '\x7f');
    bmp[0] = 'B';
    bmp[1] = 'M';
    qToLittleEndian<quint32>(quint32(bmp.size()), bmp.data() + 2);
    qToLittleEndian<quint32>(54, bmp.data() + 10);
    qToLittleEndian<quint32>(40, bmp.data() + 14);
    qToLittleEndian<qint32>(width, bmp.data() + 18);
    qToLittleEndian<qint32>(height, bmp.data() + 22);
    qToLittleEndian<quint16>(1, bmp.data() + 26);
    qToLittleEndian<quint16>(24, bmp.data() + 28);
    return bmp;
}

// A library answer: `content` copied into the buffer, with the given size.
PlayDouble::CatchPicture answer(QByteArray content, int width, int height)
{
    return [content, width, height](unsigned char *buffer, unsigned int size, int *w, int *h, int) {
        if (!buffer || size < unsigned(content.size()))
            return 0;
        std::memcpy(buffer, content.constData(), size_t(content.size()));
        *w = width;
        *h = height;
        return 1;
    };
}

QByteArray i420(int width, int height, quint8 y, quint8 u, quint8 v)
{
    const int cw = (width + 1) / 2;
    const int ch = (height + 1) / 2;
    return QByteArray(width * height, char(y)) + QByteArray(cw * ch, char(u)) + QByteArray(cw * ch, char(v));
}

// A picture of noise, which no compressor makes small.
QByteArray noisyI420(int width, int height)
{
    QByteArray bytes = i420(width, height, 0, 0, 0);
    quint32 x = 12345;
    for (char &c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    return bytes;
}

time_t localTime(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

struct DrawSeen
{
    int calls = 0;
    int reserved = -1;
    QPainter *painter = nullptr;
    WId window = 0;
};

void ownerDraw(int reserved, QPainter *painter, WId window, void *user)
{
    auto *seen = static_cast<DrawSeen *>(user);
    ++seen->calls;
    seen->reserved = reserved;
    seen->painter = painter;
    seen->window = window;
}

} // namespace

class TestDecodeChannel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void init() { PlayDouble::reset(); }

    void playControl_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("failing"); // function that fails ...
        QTest::addColumn<int>("successes"); // ... after this many successes
        QTest::addColumn<QStringList>("expectedCalls");
        QTest::addColumn<int>("expectedState");

        const QString play = QStringLiteral("Play(66,16962)");
        const QString fast = QStringLiteral("Fast(66)");
        const QString slow = QStringLiteral("Slow(66)");
        const QString pause = QStringLiteral("Pause(66,1)");
        const QString resume = QStringLiteral("Pause(66,0)");
        const QString none;

        QTest::newRow("step forward from stopped")
            << 1 << 48 << none << 0 << QStringList { "StepForward(66)" } << 48;
        QTest::newRow("step forward refused")
            << 0 << 48 << "StepForward" << 0 << QStringList { "StepForward(66)" } << 0;
        QTest::newRow("step back while playing")
            << 0 << 49 << none << 0 << QStringList { "StepBackward(66)" } << 49;
        QTest::newRow("play after a step") << 48 << 0 << none << 0 << QStringList { play } << 0;
        QTest::newRow("play after step back") << 49 << 0 << none << 0 << QStringList { play } << 0;
        QTest::newRow("play when fast") << 33 << 0 << none << 0 << QStringList { play } << 0;
        QTest::newRow("play when slow") << 17 << 0 << none << 0 << QStringList { play } << 0;
        QTest::newRow("resume when paused") << 2 << 0 << none << 0 << QStringList { resume } << 0;
        QTest::newRow("resume refused") << 2 << 0 << "Pause" << 0 << QStringList { resume } << 2;
        QTest::newRow("play when stopped: nothing") << 1 << 0 << none << 0 << QStringList {} << 1;
        QTest::newRow("play when playing: nothing") << 0 << 0 << none << 0 << QStringList {} << 0;
        QTest::newRow("fast 2 from slow") << 16 << 33 << none << 0 << QStringList { play, fast, fast } << 33;
        QTest::newRow("fast from a step: nothing") << 48 << 33 << none << 0 << QStringList {} << 48;
        QTest::newRow("fast 4 from stopped")
            << 1 << 35 << none << 0 << QStringList { play, fast, fast, fast, fast } << 35;
        QTest::newRow("fast above the top level")
            << 0 << 36 << "Fast" << 4 << QStringList { play, fast, fast, fast, fast, fast } << 0;
        QTest::newRow("fast refused at once") << 0 << 32 << "Fast" << 0 << QStringList { play, fast } << 0;
        QTest::newRow("fast, play refused") << 2 << 32 << "Play" << 0 << QStringList { play } << 2;
        QTest::newRow("slow 3 from fast")
            << 32 << 18 << none << 0 << QStringList { play, slow, slow, slow } << 18;
        QTest::newRow("slow 1 from a step") << 48 << 16 << none << 0 << QStringList { play, slow } << 16;
        QTest::newRow("slow refused second time")
            << 0 << 19 << "Slow" << 1 << QStringList { play, slow, slow } << 0;
        QTest::newRow("pause after a step") << 48 << 2 << none << 0 << QStringList { play, pause } << 2;
        QTest::newRow("pause when fast") << 34 << 2 << none << 0 << QStringList { play, pause } << 2;
        QTest::newRow("pause when fast, play refused")
            << 34 << 2 << "Play" << 0 << QStringList { play } << 34;
        QTest::newRow("pause when playing") << 0 << 2 << none << 0 << QStringList { pause } << 2;
        QTest::newRow("pause when stopped refused") << 1 << 2 << "Pause" << 0 << QStringList { pause } << 1;
        QTest::newRow("unknown command 7") << 0 << 7 << none << 0 << QStringList {} << 0;
        QTest::newRow("unknown command 20") << 17 << 20 << none << 0 << QStringList {} << 17;
        QTest::newRow("unknown command -1") << 0 << -1 << none << 0 << QStringList {} << 0;
    }

    void playControl()
    {
        QFETCH(int, from);
        QFETCH(int, command);
        QFETCH(QString, failing);
        QFETCH(int, successes);
        QFETCH(QStringList, expectedCalls);
        QFETCH(int, expectedState);
        CDecodeChannel channel(kPort);
        channel.SetHwnd(kWindow);
        driveTo(channel, from);
        QCOMPARE(channel.GetState(), from);
        if (!failing.isEmpty())
            PlayDouble::failAfter(failing.toStdString(), successes);
        QCOMPARE(channel.PlayControl(command), expectedState);
        QCOMPARE(calls(), expectedCalls);
        QCOMPARE(channel.GetState(), expectedState);
    }

    void openIsIdempotent_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("open");
        QTest::newRow("kind 1, small pool") << 1 << "OpenStream(66,1,2048000)";
        QTest::newRow("kind 0, large pool") << 0 << "OpenStream(66,1,4096000)";
    }

    void openIsIdempotent()
    {
        QFETCH(int, kind);
        QFETCH(QString, open);
        CDecodeChannel channel(kPort);
        QCOMPARE(channel.GetStreamKind(), -1);
        QCOMPARE(channel.Open(kind), 1);
        QCOMPARE(channel.Open(5), 1); // the first stream stays
        QCOMPARE(calls(), QStringList { open });
        QCOMPARE(channel.GetStreamKind(), kind);
        QVERIFY(channel.IsOpen());
        PlayDouble::failAfter("CloseStream", 0);
        QCOMPARE(channel.Close(), 0);
        QVERIFY(channel.IsOpen());
        QCOMPARE(channel.GetStreamKind(), -1);
        PlayDouble::setResult("CloseStream", 1);
        QCOMPARE(channel.Close(), 1);
        QVERIFY(!channel.IsOpen());
        PlayDouble::clearCalls();
        QCOMPARE(channel.Close(), 1);
        QCOMPARE(calls(), QStringList {});
    }

    void previewStartsAndStopsOnce()
    {
        CDecodeChannel channel(kPort);
        channel.SetHwnd(kWindow);
        QCOMPARE(channel.StartPreview(), 1);
        QCOMPARE(calls(), (QStringList { "SetDisplayBufferCount(66,8)", "Play(66,16962)" }));
        QCOMPARE(channel.GetState(), 0);
        PlayDouble::clearCalls();
        QCOMPARE(channel.StartPreview(), 1);
        QCOMPARE(calls(), QStringList {});
        QCOMPARE(channel.StopPreview(), 1);
        QCOMPARE(calls(), (QStringList { "SetDisplayRegion(66,0,null,0,0)", "Stop(66)" }));
        QCOMPARE(channel.GetState(), 1);
        PlayDouble::clearCalls();
        QCOMPARE(channel.StopPreview(), 0);
        QCOMPARE(calls(), QStringList {});

        PlayDouble::failAfter("SetDisplayBufferCount", 0);
        QCOMPARE(channel.StartPreview(), 0);
        QCOMPARE(calls(), QStringList { "SetDisplayBufferCount(66,8)" });
        QCOMPARE(channel.GetState(), 1);
    }

    void playbackSetsFileModeForDeviceStreams()
    {
        CDecodeChannel device(kPort);
        QCOMPARE(device.StartPlayback(false), 1);
        QCOMPARE(calls(), (QStringList { "SetStreamOpenMode(66,1)", "Play(66,0)" }));
        PlayDouble::clearCalls();
        QCOMPARE(device.StopPlayback(), 1);
        QCOMPARE(calls(), (QStringList { "SetDisplayRegion(66,0,null,0,0)", "Stop(66)" }));

        PlayDouble::clearCalls();
        CDecodeChannel local(130);
        QCOMPARE(local.BeginLocalPlay(QStringLiteral("/tmp/a b.h265x"), nullptr, nullptr), 1);
        QCOMPARE(local.StartPlayback(true), 1);
        QCOMPARE(local.StopLocalPlay(), 1);
        QCOMPARE(calls(),
            (QStringList { "OpenFile(130,/tmp/a b.h265x)", "SetFileEndCallBack(130)", "Play(130,0)",
                "CloseFile(130)" }));
        PlayDouble::clearCalls();
        PlayDouble::failAfter("OpenFile", 0);
        QCOMPARE(local.BeginLocalPlay(QStringLiteral("/missing"), nullptr, nullptr), 0);
        QCOMPARE(calls(), QStringList { "OpenFile(130,/missing)" });
    }

    void displayRegionOnlyWhilePlaying()
    {
        CDecodeChannel channel(kPort);
        const TRV_PLAY_RECT rect { 0, 0, 4096, 4096 };
        QCOMPARE(channel.SetDisplayRegion(&rect, 1), 0);
        QCOMPARE(calls(), QStringList {});
        QVERIFY(channel.SetDisplayRegionRect(10, 20, 30, 40, true));
        QVERIFY(channel.SetDisplayRegionRect(0, 0, 0, 0, false));
        QCOMPARE(calls(),
            (QStringList { "SetDisplayRegion(66,0,10 20 30 40,0,1)", "SetDisplayRegion(66,0,null,0,0)" }));
        driveTo(channel, CDecodeChannel::StatePaused);
        QCOMPARE(channel.SetDisplayRegion(&rect, 1), 0);
        QCOMPARE(channel.PlayControl(0), 0);
        PlayDouble::clearCalls();
        QCOMPARE(channel.SetDisplayRegion(&rect, 1), 1);
        QCOMPARE(calls(), QStringList { "SetDisplayRegion(66,0,0 0 4096 4096,0,1)" });
    }

    void colourComponents()
    {
        CDecodeChannel channel(kPort);
        QCOMPARE(channel.SetColor(4, 90), 1);
        QCOMPARE(channel.SetColor(1, 30), 1);
        QCOMPARE(channel.SetColor(7, 5), 1);
        QCOMPARE(calls(),
            (QStringList {
                "SetColor(66,0,90,90,90,90)", "SetColor(66,0,90,30,90,90)", "SetColor(66,0,90,30,90,90)" }));
        int b = 0, c = 0, s = 0, h = 0;
        QCOMPARE(channel.GetColor(&b, &c, &s, &h), 1);
        QCOMPARE(QList<int>({ b, c, s, h }), QList<int>({ 10, 20, 30, 40 }));
        PlayDouble::clearCalls();
        QCOMPARE(channel.SetColor(7, 0), 1);
        QCOMPARE(calls(), QStringList { "SetColor(66,0,10,20,30,40)" });
    }

    void soundRecordingAndSmallCalls()
    {
        CDecodeChannel channel(kPort);
        QCOMPARE(channel.OpenSound(), 1);
        QVERIFY(channel.IsSoundOpen());
        PlayDouble::failAfter("StopSound", 0);
        QCOMPARE(channel.CloseSound(), 0);
        QVERIFY(channel.IsSoundOpen());
        PlayDouble::setResult("StopSound", 1);
        QCOMPARE(channel.CloseSound(), 1);
        QVERIFY(!channel.IsSoundOpen());

        // A stopped port does not record.
        PlayDouble::clearCalls();
        QCOMPARE(channel.StartRecord(QStringLiteral("/r/01.avi"), 2), 0);
        QVERIFY(!channel.IsRecording());
        QCOMPARE(calls(), QStringList {});
        driveTo(channel, CDecodeChannel::StatePlaying);
        QCOMPARE(channel.StartRecord(QStringLiteral("/r/01.avi"), 2), 1);
        QVERIFY(channel.IsRecording());
        QCOMPARE(channel.StopRecord(), 1);
        QVERIFY(!channel.IsRecording());

        QCOMPARE(channel.InputData("abc", -5), 0);
        QCOMPARE(channel.InputData(nullptr, 5), 0);
        QCOMPARE(channel.InputData("abc", 3), 1);
        PlayDouble::setResult("GetBufferValue", 7);
        PlayDouble::setResult("GetSourceBufferRemain", 9);
        QCOMPARE(channel.GetFrameBufferCount(), 7);
        QCOMPARE(channel.GetStreamBufferCount(), 9);
        QCOMPARE(channel.SetGdiMode(5, 2), 1);
        QCOMPARE(channel.PlayOriginal(), 1);
        QCOMPARE(channel.GetOriginalState(), 1);
        QCOMPARE(channel.ResetOriginal(), 1);
        QCOMPARE(channel.GetOriginalState(), 0);
        QCOMPARE(calls(),
            (QStringList { "StartDataRecord(66,/r/01.avi,2)", "StopDataRecord(66)", "InputData(66,3)",
                "GetBufferValue(66,3)", "GetSourceBufferRemain(66)", "SetRenderMode(5,1,2)",
                "SetOriginalDisplay(66,0,1)", "SetOriginalDisplay(66,0,0)" }));
    }

    // Mended: the position setter returns what the library answered.
    void setPlayPosReturnsTheLibraryAnswer()
    {
        CDecodeChannel channel(130);
        PlayDouble::failAfter("SetPlayPos", 0);
        QCOMPARE(channel.SetPlayPos(0.25f), 0);
        QCOMPARE(calls(), QStringList { "SetPlayPos(130,0.250000)" });
        PlayDouble::setResult("SetPlayPos", 1);
        PlayDouble::clearCalls();
        QCOMPARE(channel.SetPlayPos(0.5f), 1);
        QCOMPARE(calls(), (QStringList { "SetPlayPos(130,0.500000)", "ResetSourceBuffer(130)" }));
    }

    void playTime_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<qint64>("current");
        QTest::addColumn<int>("mode");
        QTest::addColumn<float>("expected");
        const qint64 at0815 = localTime(2023, 5, 1, 8, 15, 0);
        QTest::newRow("halfway") << "2023-05-01 08:00:00"
                                 << "2023-05-01 08:30:00" << at0815 << 1 << 0.5f;
        QTest::newRow("at the end") << "2023-05-01 08:00:00"
                                    << "2023-05-01 08:15:00" << at0815 << 1 << 1.0f;
        QTest::newRow("before the start") << "2023-05-01 08:20:00"
                                          << "2023-05-01 08:30:00" << at0815 << 1 << 0.0f;
        QTest::newRow("zero span (mended)") << "2023-05-01 08:00:00"
                                            << "2023-05-01 08:00:00" << at0815 << 1 << 0.0f;
        QTest::newRow("negative span") << "2023-05-01 08:00:00"
                                       << "2023-05-01 07:00:00" << at0815 << 1 << 0.0f;
        QTest::newRow("time of day") << "2023-05-01 08:00:00"
                                     << "2023-05-01 08:30:00" << at0815 << 2 << float(8 * 3600 + 15 * 60);
        QTest::newRow("no picture yet") << "2023-05-01 08:00:00"
                                        << "2023-05-01 08:30:00" << qint64(0) << 1 << 0.0f;
    }

    void playTime()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(qint64, current);
        QFETCH(int, mode);
        QFETCH(float, expected);
        CDecodeChannel channel(kPort);
        QCOMPARE(channel.SetTimeText(start.toLatin1().constData(), end.toLatin1().constData()), 1);
        PlayDouble::setCurrentTime(current);
        QCOMPARE(channel.GetPlayTime(mode), 0.0f); // stopped
        driveTo(channel, CDecodeChannel::StatePlaying);
        QCOMPARE(channel.GetPlayTime(mode), expected);
    }

    void positionToSecondsAndCurrentTime()
    {
        CDecodeChannel channel(kPort);
        channel.SetTimeText("2023-05-01 08:00:00", "2023-05-01 08:30:00");
        PlayDouble::setCurrentTime(localTime(2023, 5, 1, 8, 10, 0));
        QCOMPARE(channel.PositionToSeconds(500), 0); // stopped
        driveTo(channel, CDecodeChannel::StatePlaying);
        QCOMPARE(channel.PositionToSeconds(500), 900);
        QCOMPARE(channel.PositionToSeconds(1000), 1800);
        channel.SetTimeText("2023-05-01 08:00:00", "2023-05-01 07:00:00");
        QCOMPARE(channel.PositionToSeconds(500), 0);
        PlayTimeRecord now;
        QCOMPARE(channel.GetCurrentTime(&now), 1);
        QCOMPARE(QList<int>({ now.year, now.month, now.day, now.hour, now.minute, now.second }),
            QList<int>({ 2023, 5, 1, 8, 10, 0 }));
        PlayDouble::setCurrentTime(0);
        QCOMPARE(channel.GetCurrentTime(&now), 0);
    }

    void conversionOnlyToAvi()
    {
        QVERIFY(!CDecodeChannel::ChangeFileFormat(
            QStringLiteral("a.h265x"), QStringLiteral("a.avi"), 1, nullptr, nullptr));
        QCOMPARE(calls(), QStringList {});
        QVERIFY(CDecodeChannel::ChangeFileFormat(
            QStringLiteral("a.h265x"), QStringLiteral("a.avi"), 2, nullptr, nullptr));
        PlayDouble::failAfter("ConvertFile", 0);
        QVERIFY(!CDecodeChannel::ChangeFileFormat(
            QStringLiteral("b.h265x"), QStringLiteral("b.avi"), 2, nullptr, nullptr));
        QCOMPARE(calls(), (QStringList { "ConvertFile(a.h265x,a.avi,2)", "ConvertFile(b.h265x,b.avi,2)" }));
    }

    void drawTrampolinePassesTheWindow()
    {
        CDecodeChannel channel(kPort);
        channel.SetHwnd(kWindow);
        DrawSeen seen;
        QCOMPARE(channel.SetDrawCallback(ownerDraw, &seen), 1);
        QCOMPARE(PlayDouble::drawUser(), static_cast<void *>(&channel));
        QImage image(8, 8, QImage::Format_RGB32);
        QPainter painter(&image);
        TRV_PLAY_DrawCallBack trampoline = PlayDouble::drawCallback();
        trampoline(1, &painter, &channel); // a first value other than 0
        trampoline(0, nullptr, &channel); // no painter
        trampoline(0, &painter, nullptr); // no channel
        QCOMPARE(seen.calls, 0);
        trampoline(0, &painter, &channel);
        QCOMPARE(seen.calls, 1);
        QCOMPARE(seen.reserved, 0);
        QCOMPARE(seen.painter, &painter);
        QCOMPARE(seen.window, kWindow);
    }

    void snapshotAsksWithTheBufferOfItsType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("call");
        QTest::newRow("BMP") << 0 << "CatchPicture(66,36000054,0)";
        QTest::newRow("JPEG from YUV") << 1 << "CatchPicture(66,18000000,1)";
        QTest::newRow("other: zero-length buffer") << 2 << "CatchPicture(66,0,2)";
    }

    void snapshotAsksWithTheBufferOfItsType()
    {
        QFETCH(int, type);
        QFETCH(QString, call);
        CDecodeChannel channel(kPort);
        QVERIFY(!channel.CatchPicture(m_dir.filePath(QStringLiteral("x.bmp")), type));
        QCOMPARE(calls(), QStringList { call });
    }

    // Mended: what the library put into the buffer is checked before it is written.
    void snapshotRefusesImplausibleBuffers_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QByteArray notBm = bmpImage(4, 4);
        notBm[0] = 'X';
        QByteArray shortHeader = bmpImage(4, 4);
        qToLittleEndian<quint32>(53, shortHeader.data() + 2);
        QByteArray beyondBuffer = bmpImage(4, 4);
        qToLittleEndian<quint32>(36000055, beyondBuffer.data() + 2);
        QTest::newRow("not BM") << 0 << notBm << 4 << 4;
        QTest::newRow("header size below 54") << 0 << shortHeader << 4 << 4;
        QTest::newRow("header size beyond the buffer") << 0 << beyondBuffer << 4 << 4;
        QTest::newRow("zero width") << 1 << i420(4, 4, 1, 2, 3) << 0 << 4;
        QTest::newRow("negative height") << 1 << i420(4, 4, 1, 2, 3) << 4 << -2;
        QTest::newRow("larger than the buffer") << 1 << i420(4, 4, 1, 2, 3) << 4000 << 3001;
    }

    void snapshotRefusesImplausibleBuffers()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, content);
        QFETCH(int, width);
        QFETCH(int, height);
        PlayDouble::setCatchPicture(answer(content, width, height));
        CDecodeChannel channel(kPort);
        const QString file = m_dir.filePath(QStringLiteral("refused.img"));
        QVERIFY(!channel.CatchPicture(file, type));
        QVERIFY(!QFile::exists(file));
    }

    // Mended: the file is created or truncated, so an older larger picture
    // leaves no tail; the folder is made on the way.
    void bmpSnapshotReplacesAnOlderFile()
    {
        const QByteArray bmp = bmpImage(6, 5);
        PlayDouble::setCatchPicture(answer(bmp, 6, 5));
        const QString file = m_dir.filePath(QStringLiteral("Cfg/sub/capture.bmp"));
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(100000, 'o'));
        }
        CDecodeChannel channel(kPort);
        QVERIFY(channel.CatchPicture(file, 0));
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), bmp);

        const QString nested = m_dir.filePath(QStringLiteral("new/deeper/01_20230501_080000.bmp"));
        QVERIFY(channel.CatchPicture(nested, 0));
        QCOMPARE(QFileInfo(nested).size(), qint64(bmp.size()));
    }

    void jpegSnapshotOfOddSize()
    {
        // 5x3: the last column and the last row take the last chroma samples.
        PlayDouble::setCatchPicture(answer(i420(5, 3, 180, 90, 200), 5, 3));
        CDecodeChannel channel(kPort);
        const QString file = m_dir.filePath(QStringLiteral("odd.jpg"));
        QVERIFY(channel.CatchPicture(file, 1));
        QImage image(file);
        QCOMPARE(image.size(), QSize(5, 3));
        QVERIFY(!CDecodeChannel::SaveYuvAsJpeg(file, 5, 3, nullptr));
    }

    void snapshotIntoARejectedPathFails()
    {
        PlayDouble::setCatchPicture(answer(bmpImage(4, 4), 4, 4));
        CDecodeChannel channel(kPort);
        QFile blocker(m_dir.filePath(QStringLiteral("plainfile")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        // A folder that is a file, and a name far beyond what the system takes.
        QVERIFY(!channel.CatchPicture(m_dir.filePath(QStringLiteral("plainfile/x.bmp")), 0));
        QVERIFY(!channel.CatchPicture(
            m_dir.filePath(QString(300, QLatin1Char('n')) + QStringLiteral(".bmp")), 0));
        QVERIFY(!CDecodeChannel::SaveYuvAsJpeg(m_dir.filePath(QStringLiteral("plainfile/x.jpg")), 4, 4,
            reinterpret_cast<const unsigned char *>(i420(4, 4, 1, 2, 3).constData())));
    }

    // Mended: a write that fails half way (here: the file size limit, as a
    // full disk would) fails and leaves no partial file.
    void writeErrorsLeaveNoPartialFile_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("BMP") << 0 << bmpImage(200, 100) << 200 << 100;
        QTest::newRow("JPEG") << 1 << noisyI420(200, 100) << 200 << 100;
    }

    void writeErrorsLeaveNoPartialFile()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, content);
        QFETCH(int, width);
        QFETCH(int, height);
        PlayDouble::setCatchPicture(answer(content, width, height));
        QTemporaryDir dir;
        CDecodeChannel channel(kPort);
        const QString file = dir.filePath(QStringLiteral("full.img"));

        struct rlimit old;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 512;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = channel.CatchPicture(file, type);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!ok);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {});
        // With room again the same snapshot works.
        QVERIFY(channel.CatchPicture(file, type));
    }
};

QTEST_MAIN(TestDecodeChannel)
#include "tst_decode_channel.moc"
