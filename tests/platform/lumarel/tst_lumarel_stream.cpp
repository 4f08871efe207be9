// Stream ports of the play library: input, decoding, pool modes, buffer
// figures, play time, speed and state, sound.

#include "PortAccess.h"
#include "TestMedia.h"
#include "lumarel/LumarelControl.h"
#include "lumarel/lumarel.h"

#include <QtTest>

#include <atomic>
#include <thread>

using LumarelControl::PortStats;

namespace {

int openStream(int port, unsigned int pool = 1 << 20)
{
    const unsigned char head = 0;
    return TRV_PLAY_OpenStream(port, &head, 1, pool);
}

} // namespace

class TestLumarelStream : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (int port : { 1, 2, 3, 4, 5, 499 })
            TRV_PLAY_CloseStream(port);
        TRV_PLAY_StopSound();
    }

    void callsCheckPortAndOrder_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("expectedError");
        QTest::newRow("port below range") << -1 << false << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("port above range") << 500 << false << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("closed port") << 3 << false << int(TRV_PLAY_ERR_PORT);
        QTest::newRow("open, not playing") << 3 << true << int(TRV_PLAY_ERR_ORDER);
    }

    void callsCheckPortAndOrder()
    {
        QFETCH(int, port);
        QFETCH(bool, open);
        QFETCH(int, expectedError);
        if (open)
            QVERIFY(openStream(port));
        QCOMPARE(TRV_PLAY_Pause(port, 1), 0);
        QCOMPARE(TRV_PLAY_GetLastError(port < 0 || port >= 500 ? 0 : port), expectedError);
        QCOMPARE(TRV_PLAY_Fast(port), 0);
        QCOMPARE(TRV_PLAY_Stop(port), 0);
    }

    void openTwiceFailsAndCloseMatchesKind()
    {
        QVERIFY(openStream(2));
        QCOMPARE(openStream(2), 0);
        QCOMPARE(TRV_PLAY_GetLastError(2), int(TRV_PLAY_ERR_ORDER));
        QCOMPARE(TRV_PLAY_OpenStream(4, nullptr, 0, 0), 0); // a pool of nothing
        QCOMPARE(TRV_PLAY_CloseFile(2), 0); // not a file port
        QVERIFY(TRV_PLAY_CloseStream(2));
        QCOMPARE(TRV_PLAY_CloseStream(2), 0);
    }

    void decodesVideo_data()
    {
        QTest::addColumn<int>("codec");
        QTest::newRow("H.264") << int(kCodecH264);
        QTest::newRow("H.265") << int(kCodecH265);
    }

    void decodesVideo()
    {
        QFETCH(int, codec);
        TestMedia::VideoOptions o;
        o.codec = StreamCodec(codec);
        o.frames = 8;
        const auto blocks = TestMedia::videoBlocks(o);
        QCOMPARE(int(blocks.size()), o.frames);

        QVERIFY(openStream(1));
        int w = -1, h = -1;
        QCOMPARE(TRV_PLAY_GetPictureSize(1, &w, &h), 0); // nothing decoded yet
        QCOMPARE(TRV_PLAY_GetLastError(1), int(TRV_PLAY_ERR_NO_PICTURE));
        QVERIFY(TRV_PLAY_Play(1, 0));
        // Fed in uneven pieces: blocks are put together again.
        const QByteArray all = TestMedia::join(blocks);
        for (int i = 0; i < all.size(); i += 777)
            QVERIFY(feed(1, all.mid(i, 777)));
        QTRY_COMPARE(stats(1).framesShown, int64_t(o.frames));
        QCOMPARE(stats(1).framesDecoded, int64_t(o.frames));
        QCOMPARE(stats(1).videoCodec, codec);
        QVERIFY(TRV_PLAY_GetPictureSize(1, &w, &h));
        QCOMPARE(w, o.width);
        QCOMPARE(h, o.height);
    }

    void garbageBetweenBlocksIsSkipped()
    {
        TestMedia::VideoOptions o;
        o.frames = 4;
        const auto blocks = TestMedia::videoBlocks(o);
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_Play(1, 0));
        QByteArray mixed;
        for (const QByteArray &b : blocks)
            mixed += QByteArray("\x00\x01junkTV", 8) + b;
        // A block whose header check is wrong is not a block.
        QByteArray broken = blocks[1];
        broken[28] = char(broken[28] ^ 0x5A);
        mixed += broken;
        QVERIFY(feed(1, mixed));
        QTRY_COMPARE(stats(1).framesShown, int64_t(4));
        QCOMPARE(stats(1).blocksAccepted, int64_t(4));
    }

    void realTimeModeDropsWhenPoolIsFull()
    {
        TestMedia::VideoOptions o;
        o.frames = 20;
        const auto blocks = TestMedia::videoBlocks(o);
        // A pool for the first key frame; the port does not play, so nothing drains.
        QVERIFY(openStream(1, unsigned(blocks[0].size())));
        int accepted = 0;
        for (const QByteArray &b : blocks)
            accepted += feed(1, b);
        QCOMPARE(accepted, 1);
        QVERIFY(stats(1).blocksDropped > 0);
        QCOMPARE(TRV_PLAY_GetLastError(1), int(TRV_PLAY_ERR_BUF_OVER));
        QCOMPARE(stats(1).blocksAccepted + stats(1).blocksDropped, int64_t(o.frames));
        QCOMPARE(TRV_PLAY_GetSourceBufferRemain(1), unsigned(blocks[0].size()));
        QCOMPARE(TRV_PLAY_GetBufferValue(1, TRV_PLAY_BUF_SOURCE_BLOCKS), unsigned(stats(1).blocksAccepted));
    }

    void fileModeHoldsTheProducerBack()
    {
        TestMedia::VideoOptions o;
        o.frames = 30;
        o.fps = 50;
        const auto blocks = TestMedia::videoBlocks(o);
        QVERIFY(openStream(1, unsigned(blocks[0].size() * 2)));
        QVERIFY(TRV_PLAY_SetStreamOpenMode(1, TRV_PLAY_STREAM_FILE));
        QVERIFY(TRV_PLAY_Play(1, 0));
        QVERIFY(TRV_PLAY_Pause(1, 1));

        std::atomic<int> fed { 0 };
        std::atomic<int> refused { 0 };
        std::thread producer([&] {
            for (const QByteArray &b : blocks) {
                if (!feed(1, b))
                    ++refused;
                ++fed;
            }
        });
        // Paused with a full pool: the producer waits instead of dropping.
        QTRY_VERIFY(stats(1).blocksAccepted >= 2);
        QTest::qWait(100);
        QVERIFY(fed < o.frames);
        QVERIFY(TRV_PLAY_Pause(1, 0));
        producer.join();
        QCOMPARE(refused.load(), 0);
        QCOMPARE(stats(1).blocksDropped, int64_t(0));
        QTRY_COMPARE(stats(1).framesShown, int64_t(o.frames));
    }

    void fileModePacesByTimestamps()
    {
        TestMedia::VideoOptions o;
        o.frames = 10;
        o.fps = 25; // 40 ms apart: 360 ms from the first picture to the last
        const auto blocks = TestMedia::videoBlocks(o);
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_SetStreamOpenMode(1, TRV_PLAY_STREAM_FILE));
        QVERIFY(TRV_PLAY_Play(1, 0));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(feed(1, TestMedia::join(blocks)));
        QTRY_COMPARE(stats(1).framesShown, int64_t(o.frames));
        QVERIFY2(timer.elapsed() >= 300, qPrintable(QString::number(timer.elapsed())));
    }

    void bufferFiguresDrainAfterInputStops()
    {
        TestMedia::VideoOptions o;
        o.frames = 25;
        const auto blocks = TestMedia::videoBlocks(o);
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_SetStreamOpenMode(1, TRV_PLAY_STREAM_FILE));
        QVERIFY(feed(1, TestMedia::join(blocks)));
        // Before playing everything waits in the pool.
        QCOMPARE(TRV_PLAY_GetBufferValue(1, TRV_PLAY_BUF_SOURCE_BLOCKS), unsigned(o.frames));
        QVERIFY(TRV_PLAY_GetSourceBufferRemain(1) > 0);
        QVERIFY(TRV_PLAY_Play(1, 0));
        QVERIFY(TRV_PLAY_Fast(1));
        QVERIFY(TRV_PLAY_Fast(1));
        QTRY_COMPARE(stats(1).framesShown, int64_t(o.frames));
        QCOMPARE(TRV_PLAY_GetSourceBufferRemain(1), 0u);
        QCOMPARE(TRV_PLAY_GetBufferValue(1, TRV_PLAY_BUF_FRAMES), 0u);
        QCOMPARE(TRV_PLAY_GetBufferValue(1, 99), 0u);
        QCOMPARE(TRV_PLAY_GetLastError(1), int(TRV_PLAY_ERR_PARA));
    }

    void resetSourceBufferEmptiesThePool()
    {
        TestMedia::VideoOptions o;
        o.frames = 6;
        QVERIFY(openStream(1));
        QVERIFY(feed(1, TestMedia::join(TestMedia::videoBlocks(o))));
        QVERIFY(TRV_PLAY_GetSourceBufferRemain(1) > 0);
        QVERIFY(TRV_PLAY_ResetSourceBuffer(1));
        QCOMPARE(TRV_PLAY_GetSourceBufferRemain(1), 0u);
    }

    void playTimeFollowsTheStreamTimestamps()
    {
        TestMedia::VideoOptions o;
        o.frames = 10;
        o.fps = 5;
        o.startMs = 1700000000000; // 200 ms apart, the last at +1.8 s
        const auto blocks = TestMedia::videoBlocks(o);
        QVERIFY(openStream(1));
        QCOMPARE(TRV_PLAY_GetCurrentTimeStamp(1), int64_t(0));
        QVERIFY(TRV_PLAY_Play(1, 0));
        QVERIFY(feed(1, TestMedia::join(blocks)));
        QTRY_COMPARE(stats(1).framesShown, int64_t(o.frames));
        QCOMPARE(TRV_PLAY_GetCurrentTimeStamp(1), int64_t(1700000001));
    }

    void speedLevelsAreBounded()
    {
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_Play(1, 0));
        for (int i = 0; i < TRV_PLAY_MAX_SPEED_LEVEL; ++i)
            QVERIFY(TRV_PLAY_Fast(1));
        QCOMPARE(TRV_PLAY_Fast(1), 0);
        QCOMPARE(stats(1).speed, TRV_PLAY_MAX_SPEED_LEVEL);
        // Play starts again at normal speed.
        QVERIFY(TRV_PLAY_Play(1, 0));
        QCOMPARE(stats(1).speed, 0);
        for (int i = 0; i < TRV_PLAY_MAX_SPEED_LEVEL; ++i)
            QVERIFY(TRV_PLAY_Slow(1));
        QCOMPARE(TRV_PLAY_Slow(1), 0);
        QCOMPARE(stats(1).speed, -TRV_PLAY_MAX_SPEED_LEVEL);
    }

    void stepShowsOnePictureAtATime()
    {
        TestMedia::VideoOptions o;
        o.frames = 10;
        const auto blocks = TestMedia::videoBlocks(o);
        QVERIFY(openStream(1));
        QVERIFY(TRV_PLAY_SetStreamOpenMode(1, TRV_PLAY_STREAM_FILE));
        QVERIFY(TRV_PLAY_Play(1, 0));
        QVERIFY(TRV_PLAY_Pause(1, 1));
        QVERIFY(feed(1, TestMedia::join(blocks)));
        QTest::qWait(50);
        QCOMPARE(stats(1).framesShown, int64_t(0));
        QVERIFY(TRV_PLAY_StepForward(1));
        QTRY_COMPARE(stats(1).framesShown, int64_t(1));
        QVERIFY(TRV_PLAY_StepForward(1));
        QVERIFY(TRV_PLAY_StepForward(1));
        QTRY_COMPARE(stats(1).framesShown, int64_t(3));
        const int64_t third = TRV_PLAY_GetCurrentTimeStamp(1);
        QVERIFY(stats(1).paused);
        QVERIFY(TRV_PLAY_StepBackward(1));
        QTRY_VERIFY(TRV_PLAY_GetCurrentTimeStamp(1) <= third);
        QVERIFY(TRV_PLAY_Play(1, 0));
        QTRY_COMPARE(stats(1).framesShown, int64_t(o.frames));
    }

    void soundGoesToTheOutputOfThePortThatHasIt()
    {
        QVERIFY(openStream(1));
        QVERIFY(openStream(2));
        QVERIFY(TRV_PLAY_Play(1, 0));
        QVERIFY(TRV_PLAY_Play(2, 0));
        QVERIFY(TRV_PLAY_PlaySound(1));
        QCOMPARE(LumarelControl::soundOwner(), 1);
        QVERIFY(feed(1, TestMedia::audioBlock(800, 8000, 1)));
        QVERIFY(feed(2, TestMedia::audioBlock(800, 8000, 1)));
        QTRY_COMPARE(stats(1).soundSamples, int64_t(800));
        QTRY_COMPARE(stats(2).audioSamplesDecoded, int64_t(800));
        QCOMPARE(stats(2).soundSamples, int64_t(0));

        // The output has one owner: the next port takes it.
        QVERIFY(TRV_PLAY_PlaySound(2));
        QVERIFY(feed(1, TestMedia::audioBlock(160, 8000, 2)));
        QTRY_COMPARE(stats(1).audioSamplesDecoded, int64_t(960));
        QCOMPARE(stats(1).soundSamples, int64_t(800));

        QVERIFY(TRV_PLAY_StopSound());
        QCOMPARE(LumarelControl::soundOwner(), -1);
        QVERIFY(feed(2, TestMedia::audioBlock(160, 8000, 2)));
        QTRY_COMPARE(stats(2).audioSamplesDecoded, int64_t(960));
        QCOMPARE(stats(2).soundSamples, int64_t(0));
    }

    void talkVoiceFramesPlayThroughSoundShare()
    {
        const int64_t before = LumarelControl::soundOutputSamples();
        QVERIFY(openStream(499, 2560000));
        QVERIFY(TRV_PLAY_Play(499, 0));
        QVERIFY(TRV_PLAY_PlaySoundShare(499));
        QCOMPARE(LumarelControl::soundSharePorts(), std::vector<int> { 499 });
        QVERIFY(feed(499, TestMedia::voiceFrame(320, 8000) + TestMedia::voiceFrame(640, 16000)));
        QTRY_COMPARE(stats(499).soundSamples, int64_t(960));
        QCOMPARE(LumarelControl::soundOutputSamples() - before, int64_t(960));
        QVERIFY(TRV_PLAY_Stop(499));
        QVERIFY(TRV_PLAY_StopSoundShare(499));
        QCOMPARE(TRV_PLAY_StopSoundShare(499), 0);
        QVERIFY(TRV_PLAY_CloseStream(499));
    }

    void volumeIsStored()
    {
        QVERIFY(openStream(3));
        QCOMPARE(TRV_PLAY_GetVolume(3), uint16_t(0xFFFF));
        QVERIFY(TRV_PLAY_SetVolume(3, 1234));
        QCOMPARE(TRV_PLAY_GetVolume(3), uint16_t(1234));
    }

    void callsAreLogged()
    {
        LumarelControl::clearCalls();
        QVERIFY(openStream(5));
        QVERIFY(TRV_PLAY_Play(5, 0));
        QVERIFY(TRV_PLAY_CloseStream(5));
        const std::vector<std::string> expected { "TRV_PLAY_OpenStream(5)", "TRV_PLAY_Play(5)",
            "TRV_PLAY_CloseStream(5)" };
        QCOMPARE(LumarelControl::calls(), expected);
    }
};

QTEST_MAIN(TestLumarelStream)
#include "tst_lumarel_stream.moc"
