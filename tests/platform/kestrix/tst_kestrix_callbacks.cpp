// The library's callback guarantees: alarms and disconnects reach their
// callbacks on the library's threads; once a stop, delete-callback, close or
// logout call returns, no callback for that handle runs or comes.

#include "KestrixTestUtil.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace control = kestrix::control;

namespace {

struct Alarms
{
    std::mutex mutex;
    std::vector<TRV_ALARM_INFO> seen;
    std::vector<int> logins;
    std::atomic<int> count { 0 };
    std::thread::id caller;
    std::atomic<bool> onCaller { false };
};

int onMessage(int loginId, const char *buffer, unsigned int length, void *user, int kind, int)
{
    auto *a = static_cast<Alarms *>(user);
    if (std::this_thread::get_id() == a->caller)
        a->onCaller = true;
    if (kind != TRV_MSG_ALARM || length < sizeof(TRV_ALARM_INFO))
        return 1;
    TRV_ALARM_INFO info;
    std::memcpy(&info, buffer, sizeof info);
    std::lock_guard<std::mutex> lock(a->mutex);
    a->seen.push_back(info);
    a->logins.push_back(loginId);
    a->count = int(a->seen.size());
    return 1;
}

struct Disconnects
{
    std::mutex mutex;
    std::vector<int> logins;
    std::vector<std::string> addresses;
    std::atomic<int> count { 0 };
};

void onDisconnect(int loginId, const char *address, int, void *user)
{
    auto *d = static_cast<Disconnects *>(user);
    std::lock_guard<std::mutex> lock(d->mutex);
    d->logins.push_back(loginId);
    d->addresses.push_back(address);
    d->count = int(d->logins.size());
}

// A slow receiver that notes any call arriving after its stop call returned.
struct Receiver
{
    std::atomic<int> calls { 0 };
    std::atomic<bool> stopped { false };
    std::atomic<int> late { 0 };
    std::atomic<int> inside { 0 };
};

void enter(Receiver *r)
{
    r->inside++;
    if (r->stopped.load())
        r->late++;
    r->calls++;
    std::this_thread::sleep_for(std::chrono::milliseconds(3)); // widen the window a stop can race
    if (r->stopped.load())
        r->late++;
    r->inside--;
}

int onLive(int, const TRV_FRAME_INFO *, void *user)
{
    enter(static_cast<Receiver *>(user));
    return 1;
}

int onLiveV1(int, int, const unsigned char *, int, void *user)
{
    enter(static_cast<Receiver *>(user));
    return 1;
}

int onPlay(int, int, const unsigned char *, int, void *user)
{
    enter(static_cast<Receiver *>(user));
    return 1;
}

void onPos(int, int, int, void *user)
{
    enter(static_cast<Receiver *>(user));
}

void onVoice(int, const unsigned char *, int, int, void *user)
{
    enter(static_cast<Receiver *>(user));
}

// Stops the stream from inside its own callback.
struct SelfStop
{
    int handle = 0;
    std::atomic<int> calls { 0 };
    std::atomic<int> result { -100 };
};

int stopInside(int, const TRV_FRAME_INFO *, void *user)
{
    auto *s = static_cast<SelfStop *>(user);
    if (s->calls++ == 0)
        s->result = TRV_NET_StopRealPlay(s->handle, 0);
    return 1;
}

int login(Disconnects *d = nullptr)
{
    control::reset();
    TRV_NET_Init(d ? onDisconnect : nullptr, d);
    TRV_DEVICE_INFO info;
    int error = 0;
    return TRV_NET_Login("10.30.0.1", 34567, "admin", "", &info, &error, TRV_LOGIN_BY_ADDRESS);
}

} // namespace

class TestKestrixCallbacks : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { control::reset(); }

    void alarmsReachTheMessageCallback()
    {
        const int id = login();
        Alarms alarms;
        alarms.caller = std::this_thread::get_id();
        QVERIFY(TRV_NET_SetMessageCallBack(onMessage, &alarms));
        // Before the alarm channel is set up nothing arrives.
        QVERIFY(control::injectAlarm(id, 3, 4, TRV_ALARM_START));
        QVERIFY(TRV_NET_SetupAlarmChan(id));
        QVERIFY(control::injectAlarm(id, 5, 25, TRV_ALARM_STOP));
        QVERIFY(control::injectAlarm(id, 6, 13, TRV_ALARM_PULSE));
        QTRY_COMPARE_WITH_TIMEOUT(alarms.count.load(), 2, 5000);
        QVERIFY(TRV_NET_CloseAlarmChan(id));
        QVERIFY(control::injectAlarm(id, 7, 4, TRV_ALARM_START));
        QVERIFY(!control::injectAlarm(id + 999, 7, 4, TRV_ALARM_START));
        // The event thread delivers in order: a disconnect after the closed alarm proves it was dropped.
        Disconnects d;
        TRV_NET_Init(onDisconnect, &d);
        QVERIFY(control::injectDisconnect(id));
        QTRY_COMPARE_WITH_TIMEOUT(d.count.load(), 1, 5000);
        std::lock_guard<std::mutex> lock(alarms.mutex);
        QCOMPARE(int(alarms.seen.size()), 2);
        QCOMPARE(alarms.seen[0].channel, 5);
        QCOMPARE(alarms.seen[0].event, 25);
        QCOMPARE(alarms.seen[0].state, int(TRV_ALARM_STOP));
        QCOMPARE(alarms.seen[1].event, 13);
        QCOMPARE(alarms.seen[1].state, int(TRV_ALARM_PULSE));
        QCOMPARE(alarms.logins[0], id);
        QVERIFY(std::strlen(alarms.seen[0].time) == 19);
        QVERIFY(!alarms.onCaller);
    }

    void disconnectStopsTheDevice()
    {
        Disconnects d;
        const int id = login(&d);
        Receiver r;
        TRV_STREAM_REQUEST req = {};
        req.streamType = TRV_STREAM_EXTRA;
        const int h = TRV_NET_RealPlay(id, &req, 0);
        QVERIFY(TRV_NET_SetRealDataCallBack_V2(h, onLive, &r));
        QTRY_VERIFY_WITH_TIMEOUT(r.calls.load() > 2, 10000);
        QVERIFY(control::injectDisconnect(id));
        QVERIFY(!control::injectDisconnect(id)); // once per connection
        QTRY_COMPARE_WITH_TIMEOUT(d.count.load(), 1, 5000);
        {
            std::lock_guard<std::mutex> lock(d.mutex);
            QCOMPARE(d.logins[0], id);
            QCOMPARE(d.addresses[0], std::string("10.30.0.1"));
        }
        // No new stream on a lost connection; the old handles still close cleanly.
        QCOMPARE(TRV_NET_RealPlay(id, &req, 0), int(TRV_ERR_NOT_CONNECTED));
        QVERIFY(TRV_NET_StopRealPlay(h, 0));
        QVERIFY(TRV_NET_Logout(id));
        QCOMPARE(control::openHandles(), 0);
    }

    // Many streams of every kind, stopped in every way while their callbacks
    // are busy: no callback after the stopping call returned.
    void noCallbackAfterStop_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("stop live") << "stop";
        QTest::newRow("delete callback") << "delete";
        QTest::newRow("close handle") << "close";
        QTest::newRow("logout") << "logout";
        QTest::newRow("cleanup") << "cleanup";
    }

    void noCallbackAfterStop()
    {
        QFETCH(QString, how);
        const int id = login();
        QVERIFY(id > 0);
        control::loadDevicesJson(R"({"devices":[{"ip":"10.30.0.1","channels":4,"recordings":[
            {"channel":0,"begin":"2023-05-01 08:00:00","end":"2023-05-01 08:00:30"}]}]})");
        TRV_DEVICE_INFO info;
        int error = 0;
        const int rec = TRV_NET_Login("10.30.0.1", 34567, "admin", "", &info, &error, 0);
        QVERIFY(rec > 0);

        constexpr int kStreams = 8;
        std::vector<Receiver> receivers(kStreams + 3);
        struct CleanupAtExit
        {
            ~CleanupAtExit() { TRV_NET_Cleanup(); }
        } cleanupAtExit;
        std::vector<int> handles;
        for (int i = 0; i < kStreams; ++i) {
            TRV_STREAM_REQUEST req = {};
            req.channel = i % 4;
            req.streamType = TRV_STREAM_EXTRA;
            const int h = TRV_NET_RealPlay(rec, &req, 0);
            QVERIFY(h > 0);
            if (i % 2)
                QVERIFY(TRV_NET_SetRealDataCallBack_V2(h, onLive, &receivers[size_t(i)]));
            else
                QVERIFY(TRV_NET_SetRealDataCallBack(h, onLiveV1, &receivers[size_t(i)]));
            handles.push_back(h);
        }
        TRV_PLAYBACK_BY_TIME pb = {};
        pb.begin = { 2023, 5, 1, 8, 0, 0 };
        pb.end = { 2023, 5, 1, 8, 0, 30 };
        const int play
            = TRV_NET_PlayBackByTimeEx(rec, &pb, onPlay, &receivers[kStreams], onPos, &receivers[kStreams]);
        QVERIFY(play > 0);
        QVERIFY(TRV_NET_SetPlayBackSpeed(play, 16.0f));
        const int voice = TRV_NET_StartVoiceCom_MR(rec, onVoice, &receivers[kStreams + 1]);
        QVERIFY(voice > 0);
        for (Receiver &r : receivers)
            if (&r != &receivers[kStreams + 2])
                QTRY_VERIFY_WITH_TIMEOUT(r.calls.load() > 1, 20000);

        auto markAll = [&] {
            for (Receiver &r : receivers)
                r.stopped = true;
        };
        if (how == "stop") {
            for (size_t i = 0; i < handles.size(); ++i) {
                QVERIFY(TRV_NET_StopRealPlay(handles[i], 0));
                receivers[i].stopped = true;
            }
            QVERIFY(TRV_NET_StopPlayBack(play));
            receivers[kStreams].stopped = true;
            QVERIFY(TRV_NET_StopVoiceCom(voice));
            receivers[kStreams + 1].stopped = true;
        } else if (how == "delete") {
            for (size_t i = 0; i < handles.size(); ++i) {
                if (i % 2)
                    QVERIFY(TRV_NET_DelRealDataCallBack_V2(handles[i], onLive, &receivers[i]));
                else
                    QVERIFY(TRV_NET_DelRealDataCallBack(handles[i], onLiveV1, &receivers[i]));
                receivers[i].stopped = true;
            }
            QVERIFY(TRV_NET_StopPlayBack(play));
            receivers[kStreams].stopped = true;
            QVERIFY(TRV_NET_StopVoiceCom(voice));
            receivers[kStreams + 1].stopped = true;
        } else if (how == "close") {
            for (size_t i = 0; i < handles.size(); ++i) {
                QVERIFY(TRV_NET_CloseHandle(handles[i]));
                receivers[i].stopped = true;
            }
            QVERIFY(TRV_NET_CloseHandle(play));
            receivers[kStreams].stopped = true;
            QVERIFY(TRV_NET_CloseHandle(voice));
            receivers[kStreams + 1].stopped = true;
        } else if (how == "logout") {
            QVERIFY(TRV_NET_Logout(rec));
            markAll();
        } else {
            QVERIFY(TRV_NET_Cleanup());
            markAll();
        }
        // Give any stray delivery time to show itself.
        const int before = receivers[0].calls.load();
        QTest::qWait(150);
        for (size_t i = 0; i < receivers.size(); ++i) {
            QCOMPARE(receivers[i].late.load(), 0);
            QCOMPARE(receivers[i].inside.load(), 0);
        }
        QCOMPARE(receivers[0].calls.load(), before);
        if (how != "delete") {
            QCOMPARE(TRV_NET_StopRealPlay(handles[0], 0), 0);
            QCOMPARE(TRV_NET_GetLastError(), int(TRV_ERR_INVALID_HANDLE));
        }
        TRV_NET_Cleanup();
        QTRY_COMPARE_WITH_TIMEOUT(control::runningThreads(), 0, 5000);
        QCOMPARE(control::openHandles(), 0);
    }

    // A stream can be stopped from inside its own callback without a deadlock.
    void stopFromInsideCallback()
    {
        const int id = login();
        SelfStop s;
        TRV_STREAM_REQUEST req = {};
        req.streamType = TRV_STREAM_EXTRA;
        s.handle = TRV_NET_RealPlay(id, &req, 0);
        QVERIFY(TRV_NET_SetRealDataCallBack_V2(s.handle, stopInside, &s));
        QTRY_COMPARE_WITH_TIMEOUT(s.result.load(), 1, 10000);
        QTest::qWait(120);
        QCOMPARE(s.calls.load(), 1);
        QCOMPARE(control::openHandles(), 1); // the login only
    }

    // Callbacks never run inside the call that registers them.
    void noCallbackInsideRegistration()
    {
        const int id = login();
        Receiver r;
        TRV_STREAM_REQUEST req = {};
        req.streamType = TRV_STREAM_EXTRA;
        const int h = TRV_NET_RealPlay(id, &req, 0);
        QTRY_VERIFY_WITH_TIMEOUT(control::runningThreads() >= 2, 5000);
        QTest::qWait(100); // the stream is running without a callback
        QVERIFY(TRV_NET_SetRealDataCallBack_V2(h, onLive, &r));
        QCOMPARE(r.calls.load(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(r.calls.load() > 0, 5000);
        QVERIFY(TRV_NET_StopRealPlay(h, 0));
    }
};

QTEST_GUILESS_MAIN(TestKestrixCallbacks)
#include "tst_kestrix_callbacks.moc"
