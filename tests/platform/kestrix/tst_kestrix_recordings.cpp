// Recordings of the library: search, downloads of the stated size, playback
// by name and by time, seeking.

#include "KestrixTestUtil.h"

#include "StreamFrame.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

using kestrix::DeviceSpec;
namespace control = kestrix::control;

namespace {

struct Position
{
    std::mutex mutex;
    std::vector<int> current;
    std::vector<int> total;
    std::atomic<bool> finished { false };
};

void onPosition(int, int total, int current, void *user)
{
    auto *p = static_cast<Position *>(user);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->current.push_back(current);
    p->total.push_back(total);
    if (current == -1)
        p->finished = true;
}

struct Blocks
{
    std::mutex mutex;
    std::vector<StreamFrameHeader> headers;
    std::atomic<int> count { 0 };
    std::atomic<bool> bad { false };
};

int onPlayData(int, int type, const unsigned char *data, int length, void *user)
{
    auto *b = static_cast<Blocks *>(user);
    StreamBlock block;
    size_t skip = 0;
    if (type != TRV_FRAME_VIDEO || scanStreamBlock(data, size_t(length), &block, &skip) != StreamScan::Block
        || block.blockSize != size_t(length)) {
        b->bad = true;
        return 1;
    }
    std::lock_guard<std::mutex> lock(b->mutex);
    b->headers.push_back(block.header);
    b->count = int(b->headers.size());
    return 1;
}

TRV_TIME at(int y, int mo, int d, int h, int mi, int s)
{
    TRV_TIME t = { y, mo, d, h, mi, s };
    return t;
}

int64_t epochMs(int y, int mo, int d, int h, int mi, int s)
{
    std::tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return int64_t(std::mktime(&t)) * 1000;
}

// A device with a few short recordings on channel 1.
int recorderLogin()
{
    control::reset();
    TRV_NET_Init(nullptr, nullptr);
    std::string error;
    const bool ok = control::loadDevicesJson(R"({"devices":[{"ip":"10.20.0.1","channels":4,"recordings":[
        {"channel":1,"begin":"2023-05-01 08:00:00","end":"2023-05-01 08:00:06"},
        {"channel":1,"begin":"2023-05-01 09:00:00","end":"2023-05-01 09:00:04","stream":0},
        {"channel":1,"name":"odd size","begin":"2023-05-01 10:00:00","end":"2023-05-01 10:00:04","size":12345},
        {"channel":1,"begin":"2023-05-01 08:00:00","end":"2023-05-01 08:00:00","fileType":1}]}]})",
        &error);
    if (!ok)
        qWarning("%s", error.c_str());
    TRV_DEVICE_INFO info;
    int err = 0;
    return TRV_NET_Login("10.20.0.1", 34567, "admin", "", &info, &err, TRV_LOGIN_BY_ADDRESS);
}

std::vector<TRV_FILE_DATA> search(
    int login, int channel, int fileType, int streamType, TRV_TIME begin, TRV_TIME end)
{
    TRV_FIND_CONDITION c = {};
    c.channel = channel;
    c.fileType = fileType;
    c.streamType = streamType;
    c.begin = begin;
    c.end = end;
    const int n = TRV_NET_FindFile(login, &c, nullptr, 0, 5000);
    std::vector<TRV_FILE_DATA> files(size_t(n > 0 ? n : 0));
    if (n > 0)
        TRV_NET_FindFile(login, &c, files.data(), n, 5000);
    return files;
}

} // namespace

class TestKestrixRecordings : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { control::reset(); }

    // By default a channel has a day of hourly recordings.
    void defaultDay()
    {
        control::reset();
        DeviceSpec spec;
        spec.address = "10.20.0.9";
        spec.videoChannels = 2;
        spec.recordDate = "2024-02-29";
        spec.mainSize[0] = 352;
        spec.mainSize[1] = 288;
        control::addDevice(spec);
        TRV_NET_Init(nullptr, nullptr);
        TRV_DEVICE_INFO info;
        int err = 0;
        const int login = TRV_NET_Login("10.20.0.9", 34567, "admin", "", &info, &err, 0);
        const auto files
            = search(login, 1, TRV_FILE_RECORD, 0, at(2024, 2, 29, 0, 0, 0), at(2024, 2, 29, 23, 59, 59));
        QCOMPARE(int(files.size()), 24);
        for (int i = 0; i < 24; ++i) {
            const TRV_FILE_DATA &f = files[size_t(i)];
            QCOMPARE(f.channel, 1);
            QCOMPARE(f.begin.hour, i);
            QCOMPARE(f.end.hour, i);
            QCOMPARE(f.end.minute, 59);
            QCOMPARE(f.begin.year, 2024);
            QCOMPARE(f.begin.month, 2);
            QCOMPARE(f.begin.day, 29);
            QVERIFY(f.fileSize > 90000 * 32); // 3599 s of frames, each with its header
            QVERIFY(std::strlen(f.fileName) > 0);
        }
        // A narrower window finds only the overlapping hours; another day finds none.
        QCOMPARE(
            int(search(login, 1, TRV_FILE_RECORD, 0, at(2024, 2, 29, 10, 30, 0), at(2024, 2, 29, 12, 10, 0))
                    .size()),
            3);
        QCOMPARE(int(search(login, 1, TRV_FILE_RECORD, 0, at(2024, 3, 1, 0, 0, 0), at(2024, 3, 1, 23, 0, 0))
                         .size()),
            0);
        TRV_FIND_CONDITION bad = {};
        bad.channel = 2;
        bad.begin = at(2024, 2, 29, 0, 0, 0);
        bad.end = at(2024, 2, 29, 1, 0, 0);
        QCOMPARE(TRV_NET_FindFile(login, &bad, nullptr, 0, 5000), int(TRV_ERR_PARAMETER));
    }

    void downloadHasStatedSize_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("picture");
        QTest::newRow("recording") << 0 << false;
        QTest::newRow("recording with a stated odd size") << 2 << false;
        QTest::newRow("picture") << 0 << true;
    }

    void downloadHasStatedSize()
    {
        QFETCH(int, index);
        QFETCH(bool, picture);
        const int login = recorderLogin();
        QVERIFY(login > 0);
        const auto files = search(login, 1, picture ? TRV_FILE_PICTURE : TRV_FILE_RECORD, 0,
            at(2023, 5, 1, 0, 0, 0), at(2023, 5, 1, 23, 0, 0));
        QVERIFY(int(files.size()) > index);
        const TRV_FILE_DATA file = files[size_t(index)];
        QCOMPARE(QString(file.fileName).endsWith(".jpg"), picture);
        QTemporaryDir dir;
        const QString target = dir.filePath(picture ? "temp.jpg" : "01_download.h265x");
        Position pos;
        const int h
            = TRV_NET_GetFileByName(login, &file, target.toLocal8Bit().constData(), onPosition, &pos, 0);
        QVERIFY(h > 0);
        QTRY_VERIFY_WITH_TIMEOUT(pos.finished.load(), 30000);
        QVERIFY(TRV_NET_CloseHandle(h));
        QCOMPARE(QFileInfo(target).size(), qint64(file.fileSize));
        {
            std::lock_guard<std::mutex> lock(pos.mutex);
            QCOMPARE(pos.current.back(), -1);
            QVERIFY(pos.current.size() >= 2);
            QCOMPARE(pos.current[pos.current.size() - 2], file.fileSize);
            for (int t : pos.total)
                QCOMPARE(t, file.fileSize);
        }
        QFile f(target);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (picture) {
            QProcess identify;
            identify.start("identify", { "-format", "%m %w %h", target });
            QVERIFY(identify.waitForFinished(30000));
            QCOMPARE(QString::fromUtf8(identify.readAllStandardOutput()), QString("JPEG 704 576"));
            return;
        }
        // Recordings: stream-format frames, 25 per second from the begin time.
        const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData());
        size_t offset = 0;
        int frames = 0;
        const int64_t begin = epochMs(file.begin.year, file.begin.month, file.begin.day, file.begin.hour,
            file.begin.minute, file.begin.second);
        for (;;) {
            StreamBlock block;
            size_t skip = 0;
            const StreamScan r = scanStreamBlock(p + offset, size_t(bytes.size()) - offset, &block, &skip);
            if (r != StreamScan::Block)
                break;
            QCOMPARE(block.header.timestampMs, begin + frames * 40);
            QCOMPARE(block.header.kind == kFrameVideoKey, frames % 25 == 0);
            offset += block.blockSize;
            ++frames;
        }
        if (index == 0) {
            QCOMPARE(frames, 6 * 25);
            QCOMPARE(offset, size_t(bytes.size()));
        } else {
            QVERIFY(frames > 0);
            QVERIFY(size_t(bytes.size()) - offset < 32 * 1024); // only the cut last frame is left over
        }
    }

    void downloadErrors()
    {
        const int login = recorderLogin();
        TRV_FILE_DATA file = {};
        file.channel = 1;
        std::strcpy(file.fileName, "no such file");
        Position pos;
        QCOMPARE(
            TRV_NET_GetFileByName(login, &file, "/tmp/x.h265x", onPosition, &pos, 0), int(TRV_ERR_NOT_FOUND));
        const auto files
            = search(login, 1, TRV_FILE_RECORD, 0, at(2023, 5, 1, 0, 0, 0), at(2023, 5, 1, 23, 0, 0));
        QCOMPARE(TRV_NET_GetFileByName(login, &files[0], "/nonexistent/dir/x.h265x", onPosition, &pos, 0),
            int(TRV_ERR_FILE));
    }

    // Playback by name: the file's frames at 25 per second (or faster when
    // asked), then the end as position -1.
    void playbackByName()
    {
        const int login = recorderLogin();
        const auto files
            = search(login, 1, TRV_FILE_RECORD, 0, at(2023, 5, 1, 9, 0, 0), at(2023, 5, 1, 9, 0, 4));
        QCOMPARE(int(files.size()), 1);
        Blocks blocks;
        Position pos;
        struct Both
        {
            Blocks *b;
            Position *p;
        };
        // One user value serves both callbacks of a playback by name.
        static Both both;
        both = { &blocks, &pos };
        auto data = [](int h, int t, const unsigned char *d, int l, void *u) {
            return onPlayData(h, t, d, l, static_cast<Both *>(u)->b);
        };
        auto position = [](int h, int total, int cur, void *u) {
            onPosition(h, total, cur, static_cast<Both *>(u)->p);
        };
        const int h = TRV_NET_PlayBackByName(login, &files[0], position, data, &both);
        QVERIFY(h > 0);
        QTRY_VERIFY_WITH_TIMEOUT(blocks.count.load() >= 10, 10000);
        QVERIFY(TRV_NET_PlayBackControl(h, TRV_PLAYBACK_FAST, 4, 0)); // 16 times
        QTRY_VERIFY_WITH_TIMEOUT(pos.finished.load(), 20000);
        QVERIFY(TRV_NET_StopPlayBack(h));
        QVERIFY(!blocks.bad);
        std::lock_guard<std::mutex> lock(blocks.mutex);
        QCOMPARE(int(blocks.headers.size()), 4 * 25);
        for (size_t i = 0; i < blocks.headers.size(); ++i)
            QCOMPARE(blocks.headers[i].sequence, uint32_t(i));
        QCOMPARE(TRV_NET_StopPlayBack(h), 0);
    }

    // Playback by time spans files and skips the gap; a seek starts at the
    // key frame at or before the asked time.
    void playbackByTimeAndSeek()
    {
        const int login = recorderLogin();
        TRV_PLAYBACK_BY_TIME req = {};
        req.channel = 1;
        req.begin = at(2023, 5, 1, 8, 0, 3);
        req.end = at(2023, 5, 1, 9, 0, 2);
        Blocks blocks;
        Position pos;
        const int h = TRV_NET_PlayBackByTimeEx(login, &req, onPlayData, &blocks, onPosition, &pos);
        QVERIFY(h > 0);
        QVERIFY(TRV_NET_SetPlayBackSpeed(h, 16.0f));
        QTRY_VERIFY_WITH_TIMEOUT(pos.finished.load(), 20000);
        {
            std::lock_guard<std::mutex> lock(blocks.mutex);
            // 08:00:03-08:00:06 from the first file (75 frames), 09:00:00-09:00:02 from the second (50).
            QCOMPARE(int(blocks.headers.size()), 75 + 50);
            QCOMPARE(blocks.headers.front().timestampMs, epochMs(2023, 5, 1, 8, 0, 3));
            QCOMPARE(blocks.headers[75].timestampMs, epochMs(2023, 5, 1, 9, 0, 0));
            blocks.headers.clear();
        }
        // Seek to 3 s from the start, in the gap after the first file: the second file begins.
        QVERIFY(TRV_NET_PlayBackControl(h, TRV_PLAYBACK_SEEK, 3, 0));
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            std::lock_guard<std::mutex> lock(blocks.mutex);
            return !blocks.headers.empty();
        }()),
            10000);
        {
            std::lock_guard<std::mutex> lock(blocks.mutex);
            QCOMPARE(blocks.headers.front().timestampMs, epochMs(2023, 5, 1, 9, 0, 0));
            QCOMPARE(int(blocks.headers.front().kind), int(kFrameVideoKey));
        }
        QVERIFY(TRV_NET_PlayBackControl(h, TRV_PLAYBACK_PAUSE, 0, 0));
        QVERIFY(!TRV_NET_PlayBackControl(h, 9, 0, 0));
        QVERIFY(TRV_NET_StopPlayBack(h));
        QVERIFY(!blocks.bad);

        req.begin = at(2023, 5, 1, 11, 0, 0);
        req.end = at(2023, 5, 1, 12, 0, 0);
        QCOMPARE(TRV_NET_PlayBackByTimeEx(login, &req, onPlayData, &blocks, onPosition, &pos),
            int(TRV_ERR_NOT_FOUND));
    }
};

QTEST_GUILESS_MAIN(TestKestrixRecordings)
#include "tst_kestrix_recordings.moc"
