// Live streams of the device library: real H.264 that FFmpeg decodes, paced
// in real time, with key-frame requests honoured.

#include "KestrixTestUtil.h"

#include "StreamFrame.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Capture
{
    std::mutex mutex;
    std::vector<QByteArray> video; // Annex-B payloads
    std::vector<StreamFrameHeader> headers; // video headers
    std::vector<int> keyFlags; // TRV_FRAME_INFO.keyFrame
    std::vector<QSize> sizes; // TRV_FRAME_INFO width and height
    int audio = 0;
    int wanted = 0;
    std::atomic<int> count { 0 };
    std::atomic<bool> badBlock { false };
    std::thread::id callerThread;
    std::atomic<bool> onCallerThread { false };
};

int onFrame(int, const TRV_FRAME_INFO *frame, void *user)
{
    auto *c = static_cast<Capture *>(user);
    if (std::this_thread::get_id() == c->callerThread)
        c->onCallerThread = true;
    StreamBlock block;
    size_t skip = 0;
    if (scanStreamBlock(frame->data, frame->length, &block, &skip) != StreamScan::Block
        || block.blockSize != frame->length) {
        c->badBlock = true;
        return 1;
    }
    std::lock_guard<std::mutex> lock(c->mutex);
    if (frame->frameType == TRV_FRAME_AUDIO) {
        ++c->audio;
        return 1;
    }
    if (int(c->video.size()) >= c->wanted)
        return 1;
    c->video.emplace_back(reinterpret_cast<const char *>(block.payload), int(block.header.length));
    c->headers.push_back(block.header);
    c->keyFlags.push_back(frame->keyFrame);
    c->sizes.push_back(QSize(frame->width, frame->height));
    c->count = int(c->video.size());
    return 1;
}

} // namespace

class TestKestrixStream : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { kestrix::control::reset(); }

    void liveStreamDecodes_data()
    {
        QTest::addColumn<int>("streamType");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("frames");
        QTest::newRow("extra stream") << int(TRV_STREAM_EXTRA) << 352 << 288 << 60;
        QTest::newRow("main stream") << int(TRV_STREAM_MAIN) << 704 << 576 << 30;
    }

    // A dump of the stream's video payloads is H.264 that ffprobe reads at
    // the picture size and frame rate the frames state, with every frame.
    void liveStreamDecodes()
    {
        QFETCH(int, streamType);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, frames);
        const int login = kxtest::freshLogin();
        QVERIFY(login > 0);
        Capture cap;
        cap.wanted = frames;
        cap.callerThread = std::this_thread::get_id();
        TRV_STREAM_REQUEST req = {};
        req.channel = 3;
        req.streamType = streamType;
        const int handle = TRV_NET_RealPlay(login, &req, 0);
        QVERIFY(handle > 0);
        QVERIFY(TRV_NET_SetRealDataCallBack_V2(handle, onFrame, &cap));
        QTRY_VERIFY_WITH_TIMEOUT(cap.count.load() >= frames, 30000);
        QVERIFY(TRV_NET_StopRealPlay(handle, 0));
        QVERIFY(!cap.badBlock);
        QVERIFY(!cap.onCallerThread);
        QVERIFY(cap.audio > 0);

        QTemporaryDir dir;
        QFile out(dir.filePath("live.h264"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        for (const QByteArray &f : cap.video)
            out.write(f);
        out.close();

        // The stream starts with a key frame; key frames come every 25 frames.
        QCOMPARE(cap.headers.front().kind, uint8_t(kFrameVideoKey));
        for (size_t i = 0; i < cap.headers.size(); ++i) {
            const StreamFrameHeader &h = cap.headers[i];
            QCOMPARE(int(h.width), width);
            QCOMPARE(int(h.height), height);
            QCOMPARE(int(h.rate), 25);
            QCOMPARE(int(h.codec), int(kCodecH264));
            QCOMPARE(h.kind == kFrameVideoKey, i % 25 == 0);
            QCOMPARE(cap.keyFlags[i], i % 25 == 0 ? 1 : 0);
            QCOMPARE(cap.sizes[i], QSize(width, height));
            QCOMPARE(h.sequence, uint32_t(i));
        }
        // Paced in real time: the frames' clock covers at least (n - 1) * 40 ms less jitter.
        const int64_t span = cap.headers.back().timestampMs - cap.headers.front().timestampMs;
        QVERIFY2(span >= (frames - 1) * 40 - 100, qPrintable(QString::number(span)));

        QString errors;
        const QJsonObject probe = kxtest::probeVideo(out.fileName(), &errors);
        QVERIFY2(!probe.isEmpty(), qPrintable(errors));
        QCOMPARE(probe.value("codec_name").toString(), QString("h264"));
        QCOMPARE(probe.value("width").toInt(), width);
        QCOMPARE(probe.value("height").toInt(), height);
        QCOMPARE(probe.value("r_frame_rate").toString(), QString("25/1"));
        QCOMPARE(probe.value("nb_read_frames").toString().toInt(), frames);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    }

    // A key-frame request makes the next frame a key frame, mid-loop.
    void keyFrameRequestHonoured()
    {
        const int login = kxtest::freshLogin();
        Capture cap;
        cap.wanted = 1000;
        TRV_STREAM_REQUEST req = {};
        req.channel = 0;
        req.streamType = TRV_STREAM_EXTRA;
        const int handle = TRV_NET_RealPlay(login, &req, 0);
        QVERIFY(TRV_NET_SetRealDataCallBack_V2(handle, onFrame, &cap));
        QTRY_VERIFY_WITH_TIMEOUT(cap.count.load() >= 5, 30000);
        int requestedAt = 0;
        {
            std::lock_guard<std::mutex> lock(cap.mutex);
            requestedAt = int(cap.video.size());
        }
        QVERIFY(requestedAt % 25 != 0 && requestedAt % 25 < 20);
        QVERIFY(TRV_NET_MakeKeyFrame(login, 0, TRV_STREAM_EXTRA));
        QTRY_VERIFY_WITH_TIMEOUT(cap.count.load() >= requestedAt + 3, 10000);
        QVERIFY(TRV_NET_StopRealPlay(handle, 0));
        std::lock_guard<std::mutex> lock(cap.mutex);
        // The request lands before the next frame or the one after (it may race the one in flight).
        const bool key = cap.headers[size_t(requestedAt)].kind == kFrameVideoKey
            || cap.headers[size_t(requestedAt + 1)].kind == kFrameVideoKey;
        QVERIFY(key);
    }

    void badStreamRequests_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("streamType");
        QTest::newRow("channel past the device") << 16 << 0;
        QTest::newRow("negative channel") << -1 << 0;
        QTest::newRow("unknown stream type") << 0 << 2;
    }

    void badStreamRequests()
    {
        QFETCH(int, channel);
        QFETCH(int, streamType);
        const int login = kxtest::freshLogin();
        TRV_STREAM_REQUEST req = {};
        req.channel = channel;
        req.streamType = streamType;
        QCOMPARE(TRV_NET_RealPlay(login, &req, 0), int(TRV_ERR_PARAMETER));
        QCOMPARE(TRV_NET_GetLastError(), int(TRV_ERR_PARAMETER));
        QCOMPARE(TRV_NET_RealPlay(login + 1000, &req, 0), int(TRV_ERR_INVALID_HANDLE));
    }
};

QTEST_GUILESS_MAIN(TestKestrixStream)
#include "tst_kestrix_stream.moc"
