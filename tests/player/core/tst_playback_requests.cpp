// Playback and download requests against the simulated device with a
// recording window side: the faults of windows out of range, windows that
// cannot decode, the page's texts in file names and file lengths, refused
// files in a batch, the running flag, conversions of an old batch, and the
// position reports of playbacks and downloads and a local file's end.

#include "LiveFixture.h"
#include "PlaybackText.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <climits>
#include <thread>

using namespace live_fixture;

namespace {

kestrix::DeviceSpec playbackDevice()
{
    kestrix::DeviceSpec d = device(4);
    for (int i = 0; i < 3; ++i) {
        kestrix::RecordingSpec r;
        r.name = "rec_" + std::to_string(i);
        r.begin = "2023-05-01 08:00:0" + std::to_string(i * 2);
        r.end = "2023-05-01 08:00:0" + std::to_string(i * 2 + 1);
        r.streamType = 1;
        d.recordings.push_back(r);
    }
    return d;
}

QString file(int i, const char *name = nullptr)
{
    return QStringLiteral(
        R"({"FileName":"%1","FileLength":"0x00001000","BeginTime":"2023-05-01 08:00:0%2","EndTime":"2023-05-01 08:00:0%3"})")
        .arg(name ? QLatin1String(name) : QStringLiteral("rec_%1").arg(i))
        .arg(i * 2)
        .arg(i * 2 + 1);
}

} // namespace

class TestPlaybackRequests : public QObject
{
    Q_OBJECT

private:
    LiveFixture f;
    QTemporaryDir m_dir;

    QList<QJsonObject> eventsOf(const QStringList &sent, const QString &kind)
    {
        QList<QJsonObject> out;
        for (const QString &m : sent)
            if (kindOf(object(m)) == kind)
                out.append(object(m));
        return out;
    }

private slots:
    void initTestCase()
    {
        f.initTestCase(this);
        QSettings cfg(m_dir.filePath(QStringLiteral("ClientCfg.ini")), QSettings::IniFormat);
        cfg.setValue(QStringLiteral("Path/DownPath"), m_dir.path());
        cfg.sync();
        RequestContext::setAppFolder(m_dir.path());
    }
    void init()
    {
        QVERIFY(f.start(playbackDevice()));
        f.widget()->page = 1;
        f.widget()->localInfo.DownPath = m_dir.path();
    }
    void cleanup() { f.stop(); }
    void cleanupTestCase() { f.cleanupTestCase(); }

    void fileLength_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<uint>("length");
        QTest::newRow("small") << QByteArray("0x00001000") << 4096u;
        QTest::newRow("2 GiB") << QByteArray("0x80000000") << 0x80000000u;
        QTest::newRow("largest") << QByteArray("0xFFFFFFFF") << 0xFFFFFFFFu;
        QTest::newRow("lower case") << QByteArray("0x7fffabcd") << 0x7fffabcdu;
        QTest::newRow("stops at a non-digit") << QByteArray("0x12G4") << 0x12u;
        QTest::newRow("only eight digits") << QByteArray("0x1234567890") << 0x12345678u;
        QTest::newRow("no prefix") << QByteArray("4096") << 0u;
        QTest::newRow("empty") << QByteArray() << 0u;
    }
    void fileLength()
    {
        QFETCH(QByteArray, text);
        QFETCH(uint, length);
        QCOMPARE(PlaybackText::fileLength(text), uint32_t(length));
    }

    void timeText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("time") << QByteArray("2023-05-01 08:30:00") << true;
        QTest::newRow("path") << QByteArray("../../../x/01 08:30:00") << false;
        QTest::newRow("short") << QByteArray("08:30") << false;
        QTest::newRow("slash") << QByteArray("2023/05/01 08:30:00") << false;
        QTest::newRow("letters") << QByteArray("2023-05-0a 08:30:00") << false;
        QTest::newRow("longer") << QByteArray("2023-05-01 08:30:00x") << false;
    }
    void timeText()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QCOMPARE(PlaybackText::isTime(text), valid);
    }

    // Windows index four-entry tables; a window that cannot decode opens no
    // device stream.
    void windowsThatCannotPlay_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<int>("startResult");
        QTest::addColumn<int>("ret");
        QTest::addColumn<int>("starts"); // StartPlayback calls of the window side
        QTest::newRow("list in window 4")
            << QStringLiteral(R"("Mode":1,"SelectWnd":4,"Channel":0,"FileInfo":[%1])").arg(file(0)) << 0
            << 1020 << 0;
        QTest::newRow("list in window -1")
            << QStringLiteral(R"("Mode":1,"SelectWnd":-1,"Channel":0,"FileInfo":[%1])").arg(file(0)) << 0
            << 1020 << 0;
        QTest::newRow("by time in window 7") << QStringLiteral(
            R"("Mode":2,"SelectWnd":0,"FileInfo":[{"Channel":0,"Wnd":7,"BeginTime":"2023-05-01 08:00:00","EndTime":"2023-05-01 08:00:05"}])")
                                             << 0 << 1016 << 0;
        QTest::newRow("list, window cannot decode")
            << QStringLiteral(R"("Mode":1,"SelectWnd":0,"Channel":0,"FileInfo":[%1])").arg(file(0)) << -2
            << 1016 << 1;
        QTest::newRow("by time, window cannot decode") << QStringLiteral(
            R"("Mode":2,"SelectWnd":0,"FileInfo":[{"Channel":0,"Wnd":0,"BeginTime":"2023-05-01 08:00:00","EndTime":"2023-05-01 08:00:05"}])")
                                                       << -2 << 1016 << 1;
        QTest::newRow("unknown mode")
            << QStringLiteral(R"("Mode":3,"SelectWnd":0,"FileInfo":[%1])").arg(file(0)) << 0 << 1020 << 0;
    }
    void windowsThatCannotPlay()
    {
        QFETCH(QString, request);
        QFETCH(int, startResult);
        QFETCH(int, ret);
        QFETCH(int, starts);
        f.widget()->startPlaybackResult = startResult;
        const QJsonObject reply = f.replyTo(
            QStringLiteral(R"({"MainType":5,"SubType":34,"MsgID":2,"Stream":1,%1})").arg(request));
        QCOMPARE(reply.value("Ret").toInt(), ret);
        QCOMPARE(f.widget()->callsOf(QStringLiteral("StartPlayback")).size(), starts);
        QVERIFY(kestrix::control::callsOf("TRV_NET_PlayBackByName").empty());
        QVERIFY(kestrix::control::callsOf("TRV_NET_PlayBackByTimeEx").empty());
    }

    // A file that the device refuses in the middle of a batch is skipped,
    // the batch still ends, and its end frees the playback page's picture.
    void refusedFileIsSkipped()
    {
        f.widget()->localInfo.RecordType = 0;
        QCOMPARE(
            f
                .replyTo(QStringLiteral(
                    R"({"MainType":5,"SubType":39,"MsgID":3,"Channel":0,"Stream":1,"FileType":0,"FileInfo":[%1,%2,%3]})")
                             .arg(file(0), file(1, "missing"), file(2)))
                .value("Ret")
                .toInt(),
            100);
        QStringList sent;
        QVERIFY(QTest::qWaitFor(
            [&] {
                sent += f.flush();
                return !eventsOf(sent, QStringLiteral("1/5")).isEmpty();
            },
            30000));
        QCOMPARE(eventsOf(sent, QStringLiteral("1/5"))
                     .first()
                     .value("Data")
                     .toObject()
                     .value("DownPath")
                     .toString(),
            m_dir.path());
        QCOMPARE(QDir(m_dir.path()).entryList({ QStringLiteral("*.h265x") }),
            QStringList({ "01_2023-05-01_080000_080001.h265x", "01_2023-05-01_080004_080005.h265x" }));
        f.widget()->clear();
        QCOMPARE(f.replyTo(QStringLiteral(R"({"MainType":5,"SubType":35,"MsgID":4,"Channel":-1})"))
                     .value("Ret")
                     .toInt(),
            100);
        QCOMPARE(f.widget()->callsOf(QStringLiteral("SetPlaybackBackground")),
            QStringList({ "SetPlaybackBackground()" }));
        for (const QString &name : QDir(m_dir.path()).entryList({ QStringLiteral("*.h265x") }))
            QFile::remove(m_dir.filePath(name));
    }

    void mapStreamCode_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("step");
        const int rows[][2] = { { 15, -1 }, { 16, 1 }, { 17, 2 }, { 18, 3 }, { 19, 4 }, { 20, -1 },
            { 31, -1 }, { 32, 1 }, { 33, 2 }, { 34, 3 }, { 35, 4 }, { 36, -1 }, { 0, -1 } };
        for (const auto &r : rows)
            QTest::addRow("%d", r[0]) << r[0] << r[1];
    }
    void mapStreamCode()
    {
        QFETCH(int, code);
        QFETCH(int, step);
        QCOMPARE(PlaybackTopic::MapStreamCode(code), step);
    }

    // A new list while a conversion runs: the old chain's late answer
    // converts and deletes nothing; a failed conversion keeps its source.
    void newListDuringConversion()
    {
        f.widget()->localInfo.RecordType = 2;
        const QString request = QStringLiteral(
            R"({"MainType":5,"SubType":39,"MsgID":5,"Channel":0,"Stream":1,"FileType":0,"FileInfo":[%1]})");
        QCOMPARE(f.replyTo(request.arg(file(0))).value("Ret").toInt(), 100);
        QVERIFY(QTest::qWaitFor([&] { return f.widget()->convertUser.load() != nullptr; }, 30000));
        void *oldChain = f.widget()->convertUser.exchange(nullptr);
        QCOMPARE(f.replyTo(request.arg(file(1))).value("Ret").toInt(), 100);
        QVERIFY(QTest::qWaitFor([&] { return f.widget()->convertUser.load() != nullptr; }, 30000));
        f.sent.clear(); // the reply's marker: each flush below waits for its own
        f.flush();
        DownloadTopic::ConvertFilePosCallback(100, 100, oldChain);
        QVERIFY(eventsOf(f.flush(), QStringLiteral("1/4")).isEmpty());
        QCOMPARE(f.widget()->callsOf(QStringLiteral("ChangeFileFormat")).size(), 2);
        // The new chain's conversion ends without a target: its source stays.
        DownloadTopic::ConvertFilePosCallback(100, 100, f.widget()->convertUser.load());
        const QStringList sent = f.flush();
        QCOMPARE(eventsOf(sent, QStringLiteral("1/4")).size(), 1);
        QCOMPARE(eventsOf(sent, QStringLiteral("1/5")).size(), 1);
        QCOMPARE(QDir(m_dir.path()).entryList({ QStringLiteral("*.h265x") }),
            QStringList({ "01_2023-05-01_080000_080001_for_avi.h265x",
                "01_2023-05-01_080002_080003_for_avi.h265x" }));
    }

    // The play library's end of a local file reaches the page from the worker.
    void localPlaybackEnd_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("user");
        QTest::addColumn<QString>("event");
        QTest::newRow("window 1") << 129 << true
                                  << R"({"MainEvent":1,"SubEvent":2,"Data":{"Chn":129,"Wnd":1}})";
        QTest::newRow("window 0") << 128 << true
                                  << R"({"MainEvent":1,"SubEvent":2,"Data":{"Chn":128,"Wnd":0}})";
        QTest::newRow("not a local file port")
            << 64 << true << R"({"MainEvent":1,"SubEvent":2,"Data":{"Chn":64,"Wnd":-1}})";
        QTest::newRow("no user value") << 129 << false << QString();
    }
    void localPlaybackEnd()
    {
        QFETCH(int, port);
        QFETCH(bool, user);
        QFETCH(QString, event);
        Qt::HANDLE worker = nullptr;
        QVERIFY(f.onWorker([&] { worker = QThread::currentThreadId(); }));
        const auto messages = f.sentFromLibrary(
            [&] { PlaybackTopic::LocalPlayEndCallback(port, user ? &f.manage->playback() : nullptr); });
        QCOMPARE(messages.size(), event.isEmpty() ? 0 : 1);
        if (!event.isEmpty()) {
            QCOMPARE(object(messages[0].text), object(event));
            QCOMPARE(messages[0].thread, worker);
        }
    }

    void downloadPosition_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("pos");
        QTest::newRow("half") << 100 << 50 << 500;
        QTest::newRow("past 2 MiB") << 3 * 1048576 << 5 * 524288 << 833;
        QTest::newRow("largest") << INT_MAX << INT_MAX - 1 << 999;
        QTest::newRow("all") << INT_MAX << INT_MAX << 1000;
        QTest::newRow("beyond the total") << 100 << 250 << 1000;
        QTest::newRow("below 0") << 100 << -5 << 0;
        QTest::newRow("finished") << 100 << -1 << 1000;
        QTest::newRow("no total") << 0 << 50 << -1;
        QTest::newRow("negative total") << -100 << 50 << -1;
    }
    void downloadPosition()
    {
        QFETCH(int, total);
        QFETCH(int, current);
        QFETCH(int, pos);
        QCOMPARE(DownloadTopic::DownloadPosition(total, current), pos);
    }

    void downloadProgress_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("handle");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("current");
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<bool>("finished");
        QTest::newRow("records") << 1 << 4321 << 200 << 50 << QList<int> { 250 } << false;
        QTest::newRow("records past 2 MiB")
            << 1 << 4321 << 8 * 1048576 << 6 * 1048576 << QList<int> { 750 } << false;
        QTest::newRow("records finished") << 1 << 4321 << 200 << -1 << QList<int> { 1000 } << true;
        QTest::newRow("no total") << 1 << 4321 << 0 << -1 << QList<int>() << false;
        QTest::newRow("no download") << 1 << 0 << 200 << -1 << QList<int>() << false;
        QTest::newRow("pictures") << 2 << 4321 << 200 << 50 << QList<int>() << false;
        QTest::newRow("pictures finished") << 2 << 4321 << 200 << -1 << QList<int>() << true;
        QTest::newRow("other kind") << 3 << 4321 << 200 << -1 << QList<int>() << false;
    }
    void downloadProgress()
    {
        QFETCH(int, kind);
        QFETCH(int, handle);
        QFETCH(int, total);
        QFETCH(int, current);
        QFETCH(QList<int>, positions);
        QFETCH(bool, finished);
        QTemporaryDir dir;
        const QString picture = dir.filePath(QStringLiteral("picture.jpg"));
        QFile file(picture);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("jpeg");
        file.close();
        int left = -1;
        f.sent.clear();
        QVERIFY(f.onWorker([&] {
            f.manage->downloads().downloadHandle() = handle;
            f.manage->downloads().setTempFilePath(picture);
            f.manage->downloads().OnProgressCallback(99, total, current, kind);
            left = f.manage->downloads().downloadHandle();
            f.manage->downloads().downloadHandle() = 0;
            f.manage->downloads().setTempFilePath(QString());
        }));
        QList<int> sentPositions;
        for (const QString &m : f.flush()) {
            const QJsonObject o = object(m);
            QCOMPARE(kindOf(o), QStringLiteral("1/4"));
            sentPositions.append(
                o.value(QStringLiteral("Data")).toObject().value(QStringLiteral("Pos")).toInt());
        }
        QCOMPARE(sentPositions, positions);
        QCOMPARE(left, finished ? 0 : handle);
        QCOMPARE(functionsOf("TRV_NET_CloseHandle"),
            finished ? QStringList { QStringLiteral("TRV_NET_CloseHandle(%1)").arg(handle) } : QStringList());
        QCOMPARE(f.widget()->callsOf(QStringLiteral("SetPlaybackBackground")),
            finished && kind == 2 ? QStringList { QStringLiteral("SetPlaybackBackground(%1)").arg(picture) }
                                  : QStringList());
    }

    // The end of a device playback's data: in list mode the end timer waits
    // for the decoder, otherwise the window ends at once.
    void playbackProgress_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("wnd");
        QTest::addColumn<bool>("timer");
        QTest::newRow("list mode") << 1 << 2 << true;
        QTest::newRow("window mode") << 2 << 2 << false;
        QTest::newRow("no window") << 1 << -1 << false;
        QTest::newRow("window 4") << 1 << 4 << false;
    }
    void playbackProgress()
    {
        QFETCH(int, mode);
        QFETCH(int, wnd);
        QFETCH(bool, timer);
        bool running = false;
        QVERIFY(f.onWorker([&] {
            f.manage->playback().setPlaybackMode(mode);
            f.manage->playback().OnProgressCallback(1, 100, -1, wnd);
            running = f.manage->playback().playbackEndTimerRunning();
            f.manage->playback().stopPlaybackEndTimer();
        }));
        QCOMPARE(running, timer);
    }
};

QTEST_MAIN(TestPlaybackRequests)
#include "tst_playback_requests.moc"
