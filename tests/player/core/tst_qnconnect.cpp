// The device wrapper against the device library's call log: which calls it
// makes, in which order and with which arguments, and how it maps results.

#include "KestrixCallLog.h"
#include "LightWeightLog.h"
#include "QNConnect.h"
#include "TextField.h"

#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

namespace control = kestrix::control;
using kestrix::DeviceSpec;

namespace {

QString ptr(const void *p)
{
    return p ? QString::asprintf("%p", p) : QStringLiteral("null");
}

template<class R, class... A> QString fn(R (*f)(A...))
{
    uintptr_t v = 0;
    std::memcpy(&v, &f, sizeof f);
    return ptr(reinterpret_cast<const void *>(v));
}

// "Function(arg,arg)" for every logged call, in order.
QStringList callLog(bool withLastError = false)
{
    return KestrixCallLog::describe(control::calls(), withLastError);
}

QStringList argsOf(const char *function, int index = -1)
{
    const auto calls = control::callsOf(function);
    if (calls.empty())
        return { QStringLiteral("<no call>") };
    const auto &c = index < 0 ? calls.back() : calls[size_t(index)];
    QStringList out;
    for (const std::string &a : c.args)
        out.append(QString::fromStdString(a));
    return out;
}

struct Frames
{
    std::atomic<int> count { 0 };
};

int onFrameV2(int, const TRV_FRAME_INFO *, void *user)
{
    ++static_cast<Frames *>(user)->count;
    return 1;
}

int onFrame(int, int, const unsigned char *, int, void *user)
{
    ++static_cast<Frames *>(user)->count;
    return 1;
}

int onPlayData(int, int, const unsigned char *, int, void *)
{
    return 1;
}

struct Position
{
    std::mutex mutex;
    std::vector<int> current;
    std::atomic<bool> finished { false };
};

void onPosition(int, int, int current, void *user)
{
    auto *p = static_cast<Position *>(user);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->current.push_back(current);
    if (current == -1)
        p->finished = true;
}

void onTransfer(int, int, int, void *) { }
void onUpgrade(int, int, int, int, void *) { }

DeviceSpec recorder()
{
    DeviceSpec s;
    s.address = "10.9.0.1";
    s.serial = "SN-REC-0001";
    s.token = "tok-1";
    s.user = "admin";
    s.password = "pw";
    s.videoChannels = 8;
    s.extraChannels = 2;
    s.deviceType = 2;
    s.name = "Yard recorder";
    s.softwareVersion = "V5.1.0.7";
    s.build[0] = 2024;
    s.build[1] = 2;
    s.build[2] = 29;
    s.defaultRecordings = false;
    kestrix::RecordingSpec r;
    r.channel = 1;
    r.name = "ch02_short";
    r.begin = "2023-05-01 08:00:00";
    r.end = "2023-05-01 08:00:04";
    r.streamType = 1;
    s.recordings.push_back(r);
    return s;
}

DeviceLoginInfo addressLogin(
    const char *ip = "10.9.0.1", const char *user = "admin", const char *password = "pw")
{
    DeviceLoginInfo info;
    info.loginType = 0;
    TextField::copy(info.ip, QByteArray(ip));
    info.port = 34567;
    TextField::copy(info.user, QByteArray(user));
    TextField::copy(info.password, QByteArray(password));
    return info;
}

} // namespace

class TestQNConnect : public QObject
{
    Q_OBJECT

private:
    CQNConnect *m_connect = nullptr;
    QStringList m_log;

    // A fresh library with the recorder; returns its login id.
    int loginRecorder(DeviceLoginInfo *out = nullptr, const DeviceSpec &spec = recorder())
    {
        control::reset();
        control::addDevice(spec);
        m_connect->InitKestrix(nullptr, nullptr);
        DeviceLoginInfo info = addressLogin();
        int code = 0;
        const int id = m_connect->ConnectDevice(info, code, QByteArray());
        if (out)
            *out = info;
        control::clearCalls();
        m_log.clear();
        return id;
    }
    bool logged(const QString &text) const { return !m_log.filter(text).isEmpty(); }

private slots:
    void initTestCase()
    {
        m_connect = CQNConnect::GetInstance();
        QCOMPARE(CQNConnect::GetInstance(), m_connect);
        connect(
            LightWeightLog::instance(), &LightWeightLog::writeLogSig, this,
            [this](const QString &line) { m_log.append(line); }, Qt::DirectConnection);
    }
    void cleanupTestCase()
    {
        CQNConnect::ReleaseInstance();
        // The library was cleaned up by the wrapper's end.
        QVERIFY(control::callsOf("TRV_NET_Cleanup").size() >= 1);
        QCOMPARE(control::openHandles(), 0);
    }

    // The first login of the process numbers its record 1: 0 means "none".
    void firstSequenceIsOne()
    {
        DeviceLoginInfo info;
        QVERIFY(loginRecorder(&info) > 0);
        QCOMPARE(info.sequence, 1);
        // Kept on a later login of the same record, new for another record.
        int code = 0;
        QVERIFY(m_connect->ConnectDevice(info, code, QByteArray()) > 0);
        QCOMPARE(info.sequence, 1);
        DeviceLoginInfo other = addressLogin();
        QVERIFY(m_connect->ConnectDevice(other, code, QByteArray()) > 0);
        QCOMPARE(other.sequence, 2);
    }

    void initRegistersIdentity()
    {
        control::reset();
        m_log.clear();
        int user = 0;
        const TRV_DisConnectCallBack callback = [](int, const char *, int, void *) {};
        QCOMPARE(m_connect->InitKestrix(callback, &user), 1);
        const QStringList calls = callLog();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[0], QStringLiteral("TRV_NET_Init(%1,%2)").arg(fn(callback), ptr(&user)));
        // 5 lower-case letters, two texts of 32 hexadecimal digits, card kind 4;
        // the library accepted it.
        QVERIFY2(
            QRegularExpression(
                QString::fromUtf8(
                    R"(^TRV_NET_InitAppInfo\(\{appId="[a-z]{5}",appKey="[0-9a-f]{32}",appSecret="[0-9a-f]{32}",cardKind=4\}\)$)"))
                .match(calls[1])
                .hasMatch(),
            qPrintable(calls[1]));
        QCOMPARE(control::callsOf("TRV_NET_InitAppInfo").back().result, 1);
        const QStringList expected = { "TRV_NET_Init begin", "TRV_NET_Init end", "TRV_NET_SetConnectTime end",
            "TRV_NET_InitAppInfo Ret=1" };
        QCOMPARE(m_log.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QVERIFY2(m_log[i].endsWith(expected[i] + QLatin1Char('\n')), qPrintable(m_log[i]));
            QVERIFY(m_log[i].contains(QStringLiteral("CQNConnect::InitKestrix]")));
        }
    }

    void initFailureStopsThere()
    {
        control::reset();
        control::failNext("TRV_NET_Init", TRV_ERR_PARAMETER);
        QCOMPARE(m_connect->InitKestrix(nullptr, nullptr), 0);
        QCOMPARE(callLog(), QStringList { "TRV_NET_Init(null,null)" });
    }

    void loginCalls_data()
    {
        QTest::addColumn<int>("loginType");
        QTest::addColumn<QString>("clientKind");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("address") << 0 << QString()
                                 << QStringList { R"(TRV_NET_Login("10.9.0.1",34567,"admin","pw",@,@,0))" };
        QTest::newRow("serial") << 1 << QString()
                                << QStringList { R"(TRV_NET_Login("SN-REC-0001",0,"admin","pw",@,@,2))" };
        QTest::newRow("serial and token")
            << 2 << QString() << QStringList { R"(TRV_NET_LoginEx_V2("SN-REC-0001",0,"tok-1","",@,7,@,2))" };
        QTest::newRow("tool page sets up alarms")
            << 1 << QStringLiteral("Tool")
            << QStringList { R"(TRV_NET_Login("SN-REC-0001",0,"admin","pw",@,@,2))",
                   "TRV_NET_SetupAlarmChan(#)" };
        QTest::newRow("kind is case-sensitive")
            << 1 << QStringLiteral("tool")
            << QStringList { R"(TRV_NET_Login("SN-REC-0001",0,"admin","pw",@,@,2))" };
    }
    void loginCalls()
    {
        QFETCH(int, loginType);
        QFETCH(QString, clientKind);
        QFETCH(QStringList, calls);
        loginRecorder();
        DeviceLoginInfo info = addressLogin();
        info.loginType = loginType;
        TextField::copy(info.serialNo, QByteArray("SN-REC-0001"));
        TextField::copy(info.token, QByteArray("tok-1"));
        TextField::copy(info.clientKind, clientKind.toUtf8());
        int code = 0;
        const int id = m_connect->ConnectDevice(info, code, QByteArray("skin"));
        QVERIFY(id > 0);
        QCOMPARE(code, 0);
        // The record's own answer buffer and error out are passed.
        const QStringList log = callLog();
        QCOMPARE(log.size(), calls.size());
        const QRegularExpression pointer(QStringLiteral("0x[0-9a-f]+"));
        for (int i = 0; i < calls.size(); ++i) {
            QString got = log[i];
            got.replace(pointer, QStringLiteral("@"));
            QCOMPARE(got, QString(calls[i]).replace(QLatin1Char('#'), QString::number(id)));
        }
        QCOMPARE(logged(QStringLiteral("Token=")), loginType == 2);
        // The token itself never reaches the log.
        QVERIFY(!logged(QStringLiteral("tok-1")));
    }

    void loginCompletesRecord_data()
    {
        QTest::addColumn<int>("loginType");
        QTest::addColumn<QString>("serialNo");
        QTest::newRow("address login takes the serial number") << 0 << "SN-REC-0001";
        QTest::newRow("serial login keeps its own") << 1 << "SN-REC-0001";
    }
    void loginCompletesRecord()
    {
        QFETCH(int, loginType);
        QFETCH(QString, serialNo);
        loginRecorder();
        DeviceLoginInfo info = addressLogin();
        info.loginType = loginType;
        if (loginType == 1)
            TextField::copy(info.serialNo, QByteArray("SN-REC-0001"));
        int code = 0;
        QVERIFY(m_connect->ConnectDevice(info, code, QByteArray()) > 0);
        QCOMPARE(QString::fromUtf8(info.serialNo), serialNo);
        QCOMPARE(info.videoChannels, 8);
        QCOMPARE(info.extraChannels, 2);
        QCOMPARE(info.totalChannels, 10);
        QCOMPARE(info.deviceType, 2);
        QCOMPARE(QByteArray(info.deviceName), QByteArray("Yard recorder"));
        QCOMPARE(QByteArray(info.softwareVersion), QByteArray("V5.1.0.7"));
        QCOMPARE(info.deviceInfo1, 2024);
        QCOMPARE(info.deviceInfo2, 2);
        QCOMPARE(info.deviceInfo3, 29);
        QVERIFY(info.sequence > 0);
    }

    // A device may report any channel count; the sum must not wrap into range.
    void channelCountAddedIn64Bits_data()
    {
        QTest::addColumn<int>("video");
        QTest::addColumn<int>("extra");
        QTest::addColumn<int>("total");
        QTest::newRow("64") << 60 << 4 << 64;
        QTest::newRow("65") << 65 << 0 << 65;
        QTest::newRow("wraps in 32 bits") << INT_MAX << 1 << INT_MAX;
        QTest::newRow("both large") << INT_MAX << INT_MAX << INT_MAX;
    }
    void channelCountAddedIn64Bits()
    {
        QFETCH(int, video);
        QFETCH(int, extra);
        QFETCH(int, total);
        DeviceSpec spec = recorder();
        spec.videoChannels = video;
        spec.extraChannels = extra;
        DeviceLoginInfo info;
        QVERIFY(loginRecorder(&info, spec) > 0);
        QCOMPARE(info.totalChannels, total);
    }

    void loginErrors_data()
    {
        QTest::addColumn<int>("loginType");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("scripted"); // a device login error, 0: none
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("code");
        QTest::newRow("wrong password") << 0 << "bad" << 0 << int(TRV_ERR_WRONG_PASSWORD) << 106;
        QTest::newRow("no permission")
            << 0 << "pw" << int(TRV_ERR_NO_PERMISSION) << int(TRV_ERR_NO_PERMISSION) << 107;
        QTest::newRow("locked") << 0 << "pw" << int(TRV_ERR_ACCOUNT_LOCKED) << int(TRV_ERR_ACCOUNT_LOCKED)
                                << 206;
        QTest::newRow("address blocked")
            << 0 << "pw" << int(TRV_ERR_ADDRESS_BLOCKED) << int(TRV_ERR_ADDRESS_BLOCKED) << 207;
        QTest::newRow("too many logins")
            << 0 << "pw" << int(TRV_ERR_TOO_MANY_LOGINS) << int(TRV_ERR_TOO_MANY_LOGINS) << 218;
        QTest::newRow("unknown serial") << 1 << "pw" << 0 << int(TRV_ERR_DEVICE_OFFLINE) << 999;
        QTest::newRow("time-out") << 0 << "pw" << int(TRV_ERR_TIMEOUT) << int(TRV_ERR_TIMEOUT) << 1006;
        QTest::newRow("other error") << 0 << "pw" << int(TRV_ERR_PARAMETER) << int(TRV_ERR_PARAMETER) << 1017;
        QTest::newRow("no right is no login code")
            << 0 << "pw" << int(TRV_ERR_NO_RIGHT) << int(TRV_ERR_NO_RIGHT) << 1017;
    }
    void loginErrors()
    {
        QFETCH(int, loginType);
        QFETCH(QString, password);
        QFETCH(int, scripted);
        QFETCH(int, error);
        QFETCH(int, code);
        DeviceSpec spec = recorder();
        spec.loginError = scripted;
        loginRecorder(nullptr, spec);
        DeviceLoginInfo info = addressLogin("10.9.0.1", "admin", password.toUtf8().constData());
        info.loginType = loginType;
        TextField::copy(info.serialNo, QByteArray("SN-UNKNOWN"));
        int result = 0;
        QCOMPARE(m_connect->ConnectDevice(info, result, QByteArray()), error);
        QCOMPARE(result, code);
        QCOMPARE(info.sequence, 0);
        QVERIFY(logged(QStringLiteral("ConnectDevice fail, sdk error=%1 return=%1").arg(error)));
        QVERIFY(logged(QStringLiteral("ConnectDevice fail, error=%1").arg(code)));
        QVERIFY(!logged(QStringLiteral("Cloud Error:")));
        QCOMPARE(info.cloudError[0], '\0');
    }

    void cloudErrorKeepsItsText()
    {
        DeviceSpec spec = recorder();
        spec.cloudError = "Cloud account expired \xe2\x80\x94 renew";
        loginRecorder(nullptr, spec);
        DeviceLoginInfo info;
        info.loginType = 1;
        TextField::copy(info.serialNo, QByteArray("SN-REC-0001"));
        int result = 0;
        QCOMPARE(m_connect->ConnectDevice(info, result, QByteArray()), int(TRV_ERR_CLOUD));
        QCOMPARE(result, 1012);
        QCOMPARE(QByteArray(info.cloudError), QByteArray(spec.cloudError.c_str()));
        QVERIFY(logged(QStringLiteral("Cloud Error:Cloud account expired \u2014 renew")));
    }

    void otherLoginTypeMakesNoCall()
    {
        loginRecorder();
        DeviceLoginInfo info = addressLogin();
        info.loginType = 3;
        int result = 0;
        QCOMPARE(m_connect->ConnectDevice(info, result, QByteArray()), 0);
        QCOMPARE(result, 1017);
        QVERIFY(callLog(true).isEmpty());
        QVERIFY(logged(QStringLiteral("ConnectDevice fail, sdk error=0 return=0")));
    }

    void disconnectDevice()
    {
        const int id = loginRecorder();
        QCOMPARE(m_connect->DisconnectDevice(id), 1);
        QCOMPARE(callLog(),
            (QStringList { QStringLiteral("TRV_NET_CloseAlarmChan(%1)").arg(id),
                QStringLiteral("TRV_NET_Logout(%1)").arg(id) }));
        QCOMPARE(control::openHandles(), 0);
        QCOMPARE(m_connect->DisconnectDevice(id), 0);
    }

    void queryDeviceInt()
    {
        const int id = loginRecorder();
        QCOMPARE(m_connect->QueryDeviceInt(id, TRV_STATE_CHANNELS, 0, 0), 10);
        QCOMPARE(callLog(),
            QStringList {
                QStringLiteral("TRV_NET_GetDeviceState(%1,{kind=2,channel=0,reserved=0},%2,10000)")
                    .arg(id)
                    .arg(QString::fromStdString(control::callsOf("TRV_NET_GetDeviceState")[0].args[2])) });
        QCOMPARE(m_connect->QueryDeviceInt(id, 99, 0, 0), 0);
        QCOMPARE(m_connect->QueryDeviceInt(id + 1000, TRV_STATE_CHANNELS, 0, 0), 0);
    }

    void liveStreamV2()
    {
        const int id = loginRecorder();
        Frames frames;
        const int handle = m_connect->ConnectChanel_V2(id, 3, 1, &onFrameV2, &frames);
        QVERIFY(handle > 0);
        QCOMPARE(callLog(),
            (QStringList { QStringLiteral("TRV_NET_RealPlay(%1,{channel=3,streamType=1},0)").arg(id),
                QStringLiteral("TRV_NET_SetRealDataCallBack_V2(%1,%2,%3)")
                    .arg(handle)
                    .arg(fn(&onFrameV2), ptr(&frames)),
                QStringLiteral("TRV_NET_MakeKeyFrame(%1,3,1)").arg(id) }));
        QTRY_VERIFY_WITH_TIMEOUT(frames.count.load() > 0, 60000);
        control::clearCalls();
        QCOMPARE(m_connect->DisconnectChannel_V2(handle, &onFrameV2, &frames), 1);
        QCOMPARE(callLog(),
            (QStringList { QStringLiteral("TRV_NET_DelRealDataCallBack_V2(%1,%2,%3)")
                               .arg(handle)
                               .arg(fn(&onFrameV2), ptr(&frames)),
                QStringLiteral("TRV_NET_StopRealPlay(%1,0)").arg(handle) }));
        const int after = frames.count.load();
        // The library's guarantee: nothing arrives after the stop returned.
        QCOMPARE(frames.count.load(), after);
    }

    void liveStreamV1()
    {
        const int id = loginRecorder();
        Frames frames;
        const int handle = m_connect->ConnectChanel(id, 0, 1, &onFrame, &frames);
        QVERIFY(handle > 0);
        QCOMPARE(callLog(),
            (QStringList { QStringLiteral("TRV_NET_RealPlay(%1,{channel=0,streamType=1},0)").arg(id),
                QStringLiteral("TRV_NET_SetRealDataCallBack(%1,%2,%3)")
                    .arg(handle)
                    .arg(fn(&onFrame), ptr(&frames)),
                QStringLiteral("TRV_NET_MakeKeyFrame(%1,0,1)").arg(id) }));
        QTRY_VERIFY_WITH_TIMEOUT(frames.count.load() > 0, 60000);
        control::clearCalls();
        QCOMPARE(m_connect->DisconnectChannel(handle, &onFrame, &frames), 1);
        QCOMPARE(callLog(),
            (QStringList { QStringLiteral("TRV_NET_DelRealDataCallBack(%1,%2,%3)")
                               .arg(handle)
                               .arg(fn(&onFrame), ptr(&frames)),
                QStringLiteral("TRV_NET_StopRealPlay(%1,0)").arg(handle) }));
        QVERIFY(m_connect->RequestKeyFrame(id, 0, 1));
        QVERIFY(!m_connect->RequestKeyFrame(id, 99, 1));
    }

    void liveStreamFailure()
    {
        const int id = loginRecorder();
        Frames frames;
        const int handle = m_connect->ConnectChanel_V2(id, 99, 0, &onFrameV2, &frames);
        QCOMPARE(handle, int(TRV_ERR_PARAMETER));
        // No callback is set on a failed stream; the reason is read at once.
        QCOMPARE(callLog(true),
            (QStringList { QStringLiteral("TRV_NET_RealPlay(%1,{channel=99,streamType=0},0)").arg(id),
                QStringLiteral("TRV_NET_GetLastError()") }));
        QVERIFY(logged(QStringLiteral("TRV_NET_RealPlay error=%1").arg(TRV_ERR_PARAMETER)));
    }

    void playbackRequests_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("begin");
        QTest::addColumn<QString>("call"); // empty: no call, -1
        QTest::newRow("by time")
            << 2 << "2023-05-01 08:00:01"
            << R"(TRV_NET_PlayBackByTimeEx(#,{channel=1,fileType=0,begin=2023-05-01 08:00:01,end=2023-05-01 08:00:03,streamType=1,text1="t-one",text2="t-two"},DATA,USER,POS,USER))";
        QTest::newRow("by name")
            << 1 << "2023-05-01 08:00:00"
            << R"(TRV_NET_PlayBackByName(#,{channel=1,fileSize=4321,fileName="ch02_short",begin=2023-05-01 08:00:00,end=2023-05-01 08:00:03,streamType=1},POS,DATA,USER))";
        QTest::newRow("by name without a begin") << 1 << ""
                                                 << "";
        QTest::newRow("other kind") << 3 << "2023-05-01 08:00:00"
                                    << "";
    }
    void playbackRequests()
    {
        QFETCH(int, kind);
        QFETCH(QString, begin);
        QFETCH(QString, call);
        const int id = loginRecorder();
        PlaybackFileInfo file;
        file.channel = 5; // the channel argument wins
        file.stream = 1;
        TextField::copy(file.beginTime, begin.toUtf8());
        TextField::copy(file.endTime, QByteArray("2023-05-01 08:00:03"));
        TextField::copy(file.text1, QByteArray("t-one"));
        TextField::copy(file.text2, QByteArray("t-two"));
        file.fileSize = 4321;
        TextField::copy(file.fileName, QByteArray("ch02_short"));
        Position pos;
        const int handle = m_connect->BeginPlayback(id, 1, kind, file, &onPlayData, &onPosition, &pos);
        if (call.isEmpty()) {
            QCOMPARE(handle, -1);
            QVERIFY(callLog(true).isEmpty());
            return;
        }
        QVERIFY(handle > 0);
        QCOMPARE(callLog(),
            QStringList { call.replace(QLatin1Char('#'), QString::number(id))
                              .replace(QStringLiteral("DATA"), fn(&onPlayData))
                              .replace(QStringLiteral("POS"), fn(&onPosition))
                              .replace(QStringLiteral("USER"), ptr(&pos)) });
        QVERIFY(m_connect->EndPlayback(handle));
        QVERIFY(!m_connect->EndPlayback(handle));
    }

    void playbackFailureLogsTheError()
    {
        const int id = loginRecorder();
        PlaybackFileInfo file;
        TextField::copy(file.beginTime, QByteArray("2023-05-01 08:00:00"));
        TextField::copy(file.endTime, QByteArray("2023-05-01 08:00:03"));
        TextField::copy(file.fileName, QByteArray("no such file"));
        QCOMPARE(m_connect->BeginPlayback(id, 1, 1, file, &onPlayData, &onPosition, nullptr),
            int(TRV_ERR_NOT_FOUND));
        QVERIFY(logged(
            QStringLiteral("TRV_NET_PlayBackByName lLogin=%1 nError=%2").arg(id).arg(TRV_ERR_NOT_FOUND)));
    }

    void playbackSpeed_data()
    {
        QTest::addColumn<int>("newCode");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("controls"); // action,value
        QTest::addColumn<int>("result");
        QTest::newRow("fast 2") << 33 << 0 << QStringList { "3,2" } << 33;
        QTest::newRow("fast 4 (highest)") << 35 << 32 << QStringList { "3,4" } << 35;
        QTest::newRow("slow 1 (lowest)") << 16 << 0 << QStringList { "4,1" } << 16;
        QTest::newRow("slow 4") << 19 << 0 << QStringList { "4,4" } << 19;
        QTest::newRow("normal from fast") << 0 << 34 << QStringList { "3,0" } << 0;
        QTest::newRow("normal from slow") << 0 << 18 << QStringList { "4,0" } << 0;
        QTest::newRow("normal from normal") << 0 << 0 << QStringList { "1,0" } << 0;
        QTest::newRow("reset from fast, then pause") << 2 << 32 << QStringList { "3,0", "0,0" } << 2;
        QTest::newRow("reset from slow, then pause") << 2 << 19 << QStringList { "4,0", "0,0" } << 2;
        QTest::newRow("reset at normal speed: nothing") << 2 << 0 << QStringList() << 0;
        QTest::newRow("below the slow codes") << 15 << 0 << QStringList() << 0;
        QTest::newRow("between the ranges") << 20 << 17 << QStringList() << 17;
        QTest::newRow("above the fast codes") << 36 << 33 << QStringList() << 33;
    }
    void playbackSpeed()
    {
        QFETCH(int, newCode);
        QFETCH(int, current);
        QFETCH(QStringList, controls);
        QFETCH(int, result);
        const int id = loginRecorder();
        PlaybackFileInfo file;
        file.stream = 1;
        TextField::copy(file.beginTime, QByteArray("2023-05-01 08:00:00"));
        TextField::copy(file.endTime, QByteArray("2023-05-01 08:00:04"));
        const int handle = m_connect->BeginPlayback(id, 1, 2, file, &onPlayData, &onPosition, nullptr);
        QVERIFY(handle > 0);
        control::clearCalls();
        QCOMPARE(m_connect->SetPlaybackSpeed(handle, newCode, current), result);
        QStringList expected;
        for (const QString &c : controls)
            expected.append(QStringLiteral("TRV_NET_PlayBackControl(%1,%2,0)").arg(handle).arg(c));
        QCOMPARE(callLog(), expected);
        // A refused control keeps the current code.
        if (!controls.isEmpty()) {
            control::failNext("TRV_NET_PlayBackControl", TRV_ERR_PARAMETER);
            QCOMPARE(m_connect->SetPlaybackSpeed(handle, newCode, current), current);
        }
        control::clearCalls();
        QVERIFY(m_connect->SeekPlayback(handle, 2));
        QVERIFY(m_connect->SetPlaybackSpeedFactor(handle, 0.5f));
        QCOMPARE(callLog(),
            (QStringList { QStringLiteral("TRV_NET_PlayBackControl(%1,2,2,0)").arg(handle),
                QStringLiteral("TRV_NET_SetPlayBackSpeed(%1,0.5)").arg(handle) }));
    }

    void download()
    {
        const int id = loginRecorder();
        QTemporaryDir dir;
        const QByteArray target = QFile::encodeName(dir.filePath(QStringLiteral("01_clip.h265x")));
        DownloadFileInfo file;
        file.channel = 1;
        file.fileSize = 777;
        file.stream = 1;
        TextField::copy(file.fileName, QByteArray("ch02_short"));
        TextField::copy(file.beginTime, QByteArray("2023-05-01 08:00:00"));
        TextField::copy(file.endTime, QByteArray("2023-05-01 08:00:04"));
        Position pos;
        const int handle = m_connect->StartDownLoad(id, file, target, &onPosition, &pos);
        QVERIFY(handle > 0);
        QCOMPARE(callLog(),
            QStringList { QString::fromUtf8(
                R"(TRV_NET_GetFileByName(%1,{channel=1,fileSize=777,fileName="ch02_short",begin=2023-05-01 08:00:00,end=2023-05-01 08:00:04,streamType=1},"%2",%3,%4,0))")
                              .arg(id)
                              .arg(QString::fromUtf8(target), fn(&onPosition), ptr(&pos)) });
        QTRY_VERIFY_WITH_TIMEOUT(pos.finished.load(), 60000);
        // The file holds what the device said the recording holds.
        TRV_FIND_CONDITION c = {};
        c.channel = 1;
        c.streamType = 1;
        c.begin = { 2023, 5, 1, 0, 0, 0 };
        c.end = { 2023, 5, 1, 23, 59, 59 };
        TRV_FILE_DATA found = {};
        QCOMPARE(TRV_NET_FindFile(id, &c, &found, 1, 5000), 1);
        QCOMPARE(QFileInfo(QFile::decodeName(target)).size(), qint64(found.fileSize));
        QCOMPARE(m_connect->CloseHandle(handle), 1);
        control::clearCalls();
        QCOMPARE(m_connect->CloseHandle(0), 0);
        QVERIFY(callLog(true).isEmpty());

        file.channel = 7;
        QVERIFY(m_connect->StartDownLoad(id, file, target, &onPosition, &pos) < 0);
        QVERIFY(logged(QStringLiteral("LastError:%1").arg(TRV_ERR_NOT_FOUND)));
    }

    void translateError_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("code");
        QTest::newRow("-11301") << -11301 << 106;
        QTest::newRow("-11302") << -11302 << 106;
        QTest::newRow("-11300") << -11300 << 107;
        QTest::newRow("-11303") << -11303 << 206;
        QTest::newRow("-11304") << -11304 << 207;
        QTest::newRow("-11317") << -11317 << 218;
        QTest::newRow("-11307") << -11307 << 999;
        QTest::newRow("-10005") << -10005 << 1006;
        QTest::newRow("-11401") << -11401 << 1013;
        QTest::newRow("below the table") << -11305 << 1016;
        QTest::newRow("above the table") << -11299 << 1016;
        QTest::newRow("next to the time-out") << -10004 << 1016;
        QTest::newRow("cloud error is a login code only") << -11613 << 1016;
        QTest::newRow("no error") << 0 << 1016;
        QTest::newRow("positive") << 5 << 1016;
        QTest::newRow("lowest int") << INT_MIN << 1016;
    }
    void translateError()
    {
        QFETCH(int, error);
        QFETCH(int, code);
        QCOMPARE(CQNConnect::TranslateError(error), code);
    }

    void channelAbility()
    {
        const int id = loginRecorder();
        char buffer[4096];
        QCOMPARE(
            m_connect->GetChannelAbility(id, "ChannelSystemFunction@SupportIPCTalk", buffer, sizeof buffer),
            100);
        QCOMPARE(argsOf("TRV_NET_GetChannelAbility_Json").mid(0, 3),
            (QStringList { QString::number(id), "\"ChannelSystemFunction@SupportIPCTalk\"", "-1" }));
        QCOMPARE(argsOf("TRV_NET_GetChannelAbility_Json").mid(4),
            (QStringList { "4096", argsOf("TRV_NET_GetChannelAbility_Json")[5], "20000" }));
        QVERIFY(QByteArray(buffer).contains("SupportIPCTalk"));
        QCOMPARE(m_connect->GetChannelAbility(id, "Nothing@Here", buffer, sizeof buffer), 1016);
        QVERIFY(logged(QStringLiteral("TRV_NET_GetChannelAbility_Json Name:Nothing@Here Ret:%1")
                           .arg(TRV_ERR_NOT_SUPPORTED)));
        control::failNext("TRV_NET_GetChannelAbility_Json", TRV_ERR_TIMEOUT);
        QCOMPARE(
            m_connect->GetChannelAbility(id, "ChannelSystemFunction@SupportIPCTalk", buffer, sizeof buffer),
            1006);
    }

    void scaleTwoLensAbility_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<bool>("direct");
        QTest::addColumn<int>("failure");
        QTest::addColumn<bool>("supported");
        const QString yes = R"({"SystemFunction":{"OtherFunction":{"SupportScaleTwoLens":true}}})";
        const QString asNumber = R"({"SystemFunction":{"OtherFunction":{"SupportScaleTwoLens":1}}})";
        const QString asText = R"({"SystemFunction":{"OtherFunction":{"SupportScaleTwoLens":"yes"}}})";
        const QString notObject = R"({"SystemFunction":{"OtherFunction":[true]}})";
        QTest::newRow("direct, not supported") << QString() << true << 0 << false;
        QTest::newRow("direct, supported") << yes << true << 0 << true;
        QTest::newRow("direct, library error is no support")
            << yes << true << int(TRV_ERR_NOT_SUPPORTED) << false;
        QTest::newRow("by name, not supported") << QString() << false << 0 << false;
        QTest::newRow("by name, supported") << yes << false << 0 << true;
        QTest::newRow("by name, as a number") << asNumber << false << 0 << true;
        QTest::newRow("by name, as a text") << asText << false << 0 << false;
        QTest::newRow("by name, wrong shape") << notObject << false << 0 << false;
        QTest::newRow("by name, library error") << yes << false << int(TRV_ERR_TIMEOUT) << false;
    }
    void scaleTwoLensAbility()
    {
        QFETCH(QString, config);
        QFETCH(bool, direct);
        QFETCH(int, failure);
        QFETCH(bool, supported);
        DeviceSpec spec = recorder();
        spec.configJson = config.toStdString();
        const int id = loginRecorder(nullptr, spec);
        const char *function = direct ? "TRV_NET_GetAbility" : "TRV_NET_GetDevConfigByName";
        if (failure)
            control::failNext(function, failure);
        QCOMPARE(m_connect->GetScaleTwoLensAbility(id, 2, direct), supported);
        QStringList args = argsOf(function);
        if (direct) {
            QCOMPARE(args,
                (QStringList {
                    QString::number(id), "\"SystemFunction/OtherFunction/SupportScaleTwoLens\"" }));
        } else {
            args[4] = QStringLiteral("@");
            args[6] = QStringLiteral("@");
            QCOMPARE(args,
                (QStringList { QString::number(id), "\"bypass@SystemFunction\"", "1362", "2", "@", "307200",
                    "@", "20000" }));
        }
    }

    void scaleTwoLensConfig()
    {
        const int id = loginRecorder();
        // Remember a zoom of stream 0, then read it back.
        QCOMPARE(m_connect->SetScaleTwoLensConfig(id, 2, 0, 2.5f, 3.0f), 1);
        QStringList set = argsOf("TRV_NET_SetConfig_Json");
        QCOMPARE(set.mid(0, 6),
            (QStringList { QString::number(id), "\"OPScaleTimesSwitch\"", "3032", "2",
                R"("[{"StreamType": 0,"TimesOri": 2.5,"Times": 3.0}]")", "256" }));
        QCOMPARE(set.mid(7, 1), QStringList { "65536" });
        QCOMPARE(set.last(), QStringLiteral("20000"));
        control::clearCalls();
        float times = -1, maxTimes = -1;
        QCOMPARE(m_connect->GetScaleTwoLensConfig(id, 2, 0, times, false, maxTimes), 1);
        QCOMPARE(times, 3.0f);
        QCOMPARE(maxTimes, 8.0f); // the device names no maximum
        const QStringList calls = callLog();
        QCOMPARE(calls.size(), 3);
        QVERIFY2(calls[0].startsWith(QString::fromUtf8(
                     R"(TRV_NET_GetConfig_Json(%1,"OPSensorGet",3034,2,"[{"StreamType": 0}]",256,)")
                                         .arg(id)),
            qPrintable(calls[0]));
        QVERIFY2(
            calls[1].contains(QString::fromUtf8(R"("[{"StreamType": 1,"TimesOri": 0.0,"Times": 0.0}]")")),
            qPrintable(calls[1]));
        QVERIFY2(
            calls[2].contains(QString::fromUtf8(R"("[{"StreamType": 0,"TimesOri": 3.0,"Times": 3.0}]")")),
            qPrintable(calls[2]));
        QVERIFY(logged(QStringLiteral("OPSensorGet {")));

        // Direct asks channel -1; stream 1 sets only itself.
        control::clearCalls();
        QCOMPARE(m_connect->GetScaleTwoLensConfig(id, 2, 1, times, true, maxTimes), 1);
        QCOMPARE(argsOf("TRV_NET_GetConfig_Json")[3], QStringLiteral("-1"));
        QCOMPARE(control::callsOf("TRV_NET_SetConfig_Json").size(), size_t(1));

        control::failNext("TRV_NET_GetConfig_Json", TRV_ERR_TIMEOUT);
        QCOMPARE(m_connect->GetScaleTwoLensConfig(id, 2, 0, times, false, maxTimes), -1);
        control::failNext("TRV_NET_SetConfig_Json", TRV_ERR_TIMEOUT);
        QCOMPARE(m_connect->SetScaleTwoLensConfig(id, 2, 1, 1.0f, 2.0f), -1);
        QVERIFY(
            logged(QStringLiteral("SetScaleTwoLensConfig failed,nStreamType:1,fOrignalTimes:1,fCurTimes:2")));
    }

    // Device answers of an unexpected shape give the failure value, never an
    // exception (these calls also run on the GUI thread).
    void scaleTwoLensConfigShapes_data()
    {
        QTest::addColumn<QString>("zoom");
        QTest::addColumn<int>("result");
        QTest::addColumn<float>("maxTimes");
        QTest::addColumn<float>("wantTimes"); // the current zoom read, when the call succeeds
        QTest::newRow("maximum given") << R"({"MaxTimes":4})" << 1 << 4.0f << 1.0f;
        QTest::newRow("maximum as a text") << R"({"MaxTimes":"4"})" << -1 << -1.0f << -1.0f;
        QTest::newRow("maximum as an object") << R"({"MaxTimes":{"v":4}})" << -1 << -1.0f << -1.0f;
        QTest::newRow("times as a text") << R"({"0:0":{"Times":"x","TimesOri":1}})" << -1 << -1.0f << -1.0f;
        QTest::newRow("times negative") << R"({"0:0":{"Times":-2,"TimesOri":1}})" << 1 << 8.0f << 0.0f;
    }
    void scaleTwoLensConfigShapes()
    {
        QFETCH(QString, zoom);
        QFETCH(int, result);
        QFETCH(float, maxTimes);
        QFETCH(float, wantTimes);
        DeviceSpec spec = recorder();
        spec.configJson = QString::fromUtf8(R"({"TwoLensZoom":%1})").arg(zoom).toStdString();
        const int id = loginRecorder(nullptr, spec);
        float times = -1, most = -1;
        QCOMPARE(m_connect->GetScaleTwoLensConfig(id, 0, 0, times, true, most), result);
        QCOMPARE(most, maxTimes);
        if (result == 1)
            QCOMPARE(times, wantTimes);
    }

    void importConfigFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("result");
        QTest::newRow("64 KiB is sent") << 65536 << 100;
        QTest::newRow("one byte more is refused") << 65537 << 1015;
        QTest::newRow("empty file reaches the device, which refuses it") << 0 << 1016;
    }
    void importConfigFile()
    {
        QFETCH(int, size);
        QFETCH(int, result);
        const int id = loginRecorder();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.json"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        if (size > 0) {
            QByteArray text = "{\"Imported\":\"";
            text += QByteArray(size - text.size() - 2, 'x');
            text += "\"}";
            QCOMPARE(text.size(), size);
            f.write(text);
        }
        f.close();
        QCOMPARE(m_connect->ImportFile(0, id, 3, path, &onTransfer, nullptr), result);
        QVERIFY(logged(QStringLiteral("Import Config by TRV_NET_SetDevConfig")));
        if (result == 1015) {
            QVERIFY(logged(QStringLiteral("TRV_NET_SetDevConfig pBuf size > 64k")));
            QVERIFY(callLog(true).isEmpty());
            return;
        }
        const QStringList args = argsOf("TRV_NET_SetDevConfig");
        QCOMPARE(args.mid(0, 3), (QStringList { QString::number(id), "52", "-1" }));
        QCOMPARE(args.mid(4), (QStringList { QString::number(size), "8000" }));
        if (result == 100)
            QVERIFY(QString::fromStdString(control::configOf("10.9.0.1"))
                        .contains(QStringLiteral("\"Imported\"")));
        else
            QVERIFY(logged(QStringLiteral("fileszie = 0<===============>TRV_NET_SetDevConfig error=%1")
                               .arg(TRV_ERR_PARAMETER)));
    }

    void importMissingConfigFile()
    {
        const int id = loginRecorder();
        QCOMPARE(
            m_connect->ImportFile(0, id, 0, QStringLiteral("/nonexistent/config.json"), &onTransfer, nullptr),
            1020);
        QVERIFY(callLog(true).isEmpty());
    }

    void importFileSend_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("received");
        const QString voice
            = R"("FileName": "customAlarmVoice.pcm","Parameter":  {"AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"},"Channel": [%1]}})";
        QTest::newRow("mode 1")
            << 1 << 2
            << R"({"Action" : "Send", "FileType": 1,"FilePurpose": 1,"FileSize": 1000,"FileName": "",  "Path": "","Parameter":{}})"
            << "file.bin";
        QTest::newRow("mode 2")
            << 2 << 3
            << QString::fromUtf8(
                   R"({"Action": "Send","FileType": 1,"Channel": [3],"FilePurpose": 0,"FileSize": 1000,)")
                + voice.arg(3)
            << "customAlarmVoice.pcm";
        QTest::newRow("mode 3, channel 255 means all")
            << 3 << 255
            << QString::fromUtf8(
                   R"({"Action": "Send","FileType": 1,"Channel": [-1],"FilePurpose": 7,"FileSize": 1000,)")
                + voice.arg(-1)
            << "customAlarmVoice.pcm";
        QTest::newRow("mode 4")
            << 4 << 0
            << R"({"FileType": 1,"FilePurpose": 0,"FileSize": 1000,"FileName": "customAlarmVoice.pcm","Parameter": {"AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"}}})"
            << "customAlarmVoice.pcm";
    }
    void importFileSend()
    {
        QFETCH(int, mode);
        QFETCH(int, channel);
        QFETCH(QString, body);
        QFETCH(QString, received);
        const int id = loginRecorder();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("voice.pcm"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray content(1000, '\x55');
        f.write(content);
        f.close();
        int user = 0;
        QCOMPARE(m_connect->ImportFile(mode, id, channel, path, &onTransfer, &user), 100);
        QCOMPARE(callLog(),
            (QStringList { QString::fromUtf8(R"(TRV_NET_SendCommand_Json(%1,"OPFile",3500,-1,"%2",%3,5000))")
                               .arg(id)
                               .arg(body)
                               .arg(body.toUtf8().size()),
                QString::fromUtf8(R"(TRV_NET_SendFileDataToDevice(%1,"%2",%3,%4))")
                    .arg(id)
                    .arg(path, fn(&onTransfer), ptr(&user)) }));
        QTRY_VERIFY_WITH_TIMEOUT(!control::receivedFiles("10.9.0.1").empty(), 30000);
        const auto files = control::receivedFiles("10.9.0.1");
        QCOMPARE(QString::fromStdString(files[0].first), received);
        QCOMPARE(QByteArray::fromStdString(files[0].second), content);
    }

    // The size is asked without opening the file for writing: a missing file
    // is not created and, like an empty one, is refused with 109.
    void importFileMissingOrEmpty_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing") << false;
        QTest::newRow("empty") << true;
    }
    void importFileMissingOrEmpty()
    {
        QFETCH(bool, exists);
        const int id = loginRecorder();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("voice.pcm"));
        if (exists) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        for (int mode = 1; mode <= 5; ++mode)
            QCOMPARE(m_connect->ImportFile(mode, id, 0, path, &onTransfer, nullptr), 109);
        QCOMPARE(QFile::exists(path), exists);
        QVERIFY(callLog(true).isEmpty());
        // A folder has no size either.
        QCOMPARE(m_connect->ImportFile(1, id, 0, dir.path(), &onTransfer, nullptr), 109);
    }

    void importFileRefused_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("announcement")
            << "TRV_NET_SendCommand_Json" << int(TRV_ERR_TIMEOUT) << "SendAudioFile OPFile error=%1";
        QTest::newRow("transfer") << "TRV_NET_SendFileDataToDevice" << int(TRV_ERR_NO_RIGHT)
                                  << "TRV_NET_SendFileDataToDevice error=%1";
    }
    void importFileRefused()
    {
        QFETCH(QString, failing);
        QFETCH(int, error);
        QFETCH(QString, text);
        const int id = loginRecorder();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("voice.pcm"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("abc");
        f.close();
        control::failNext(failing.toStdString(), error);
        QCOMPARE(
            m_connect->ImportFile(2, id, 0, path, &onTransfer, nullptr), CQNConnect::TranslateError(error));
        QVERIFY(logged(text.arg(error)));
    }

    void sendAudioFile_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("result");
        QTest::newRow("sent") << QString() << 1;
        QTest::newRow("announcement refused") << "TRV_NET_SendCommand_Json" << -1;
        QTest::newRow("transfer refused") << "TRV_NET_SendFileDataToDevice" << -2;
    }
    void sendAudioFile()
    {
        QFETCH(QString, failing);
        QFETCH(int, result);
        const int id = loginRecorder();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.pcm"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("abcd");
        f.close();
        if (!failing.isEmpty())
            control::failNext(failing.toStdString(), TRV_ERR_TIMEOUT);
        const QByteArray body = R"({"FileType": 1,"FileSize": 4,"FileName": "a.pcm"})";
        int user = 0;
        QCOMPARE(m_connect->SendAudioFile(id, path, body, &user, &onTransfer), result);
        QCOMPARE(argsOf("TRV_NET_SendCommand_Json"),
            (QStringList { QString::number(id), "\"OPFile\"", "3500", "-1", "\"" + body + "\"",
                QString::number(body.size()), "5000" }));
        if (result == 1)
            QCOMPARE(argsOf("TRV_NET_SendFileDataToDevice"),
                (QStringList { QString::number(id), "\"" + path + "\"", fn(&onTransfer), ptr(&user) }));
    }

    void upgrades()
    {
        DeviceSpec spec = recorder();
        spec.upgradeVersion = "V5.2.0.0";
        const int id = loginRecorder(nullptr, spec);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fw.bin"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(2000000, 'f')); // sent in 20 steps: still running at the second start
        f.close();
        int user = 0;
        QCOMPARE(m_connect->StartLocalUpgrade(id, path, &onUpgrade, &user), 100);
        QCOMPARE(argsOf("TRV_NET_Upgrade"),
            (QStringList { QString::number(id), "\"" + path + "\"", "1", fn(&onUpgrade), ptr(&user) }));
        const int handle = int(control::callsOf("TRV_NET_Upgrade").back().result);
        QCOMPARE(m_connect->GetUpgradeState(handle), int(TRV_UPGRADE_SENDING));
        // One upgrade at a time: the device says so with -512.
        QCOMPARE(m_connect->StartOnlineUpgrade(id, QStringLiteral("V5.2.0.0"), &onUpgrade, &user), 1007);
        QCOMPARE(argsOf("TRV_NET_UpgradeOnline"),
            (QStringList { QString::number(id), "\"V5.2.0.0\"", "0", fn(&onUpgrade), ptr(&user) }));
        QCOMPARE(m_connect->CloseUpgrade(handle), 1);
        control::clearCalls();
        QCOMPARE(m_connect->CloseUpgrade(0), 0);
        QVERIFY(callLog(true).isEmpty());
        QCOMPARE(
            m_connect->StartLocalUpgrade(id, dir.filePath(QStringLiteral("none.bin")), &onUpgrade, &user),
            1016);
        QCOMPARE(m_connect->StartOnlineUpgrade(id, QStringLiteral("V9"), &onUpgrade, &user), 1016);
    }

    void cloudUpgradeInfo_data()
    {
        QTest::addColumn<QString>("cloud");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("newVersion");
        QTest::newRow("newer on the cloud") << "V5.2.0.0"
                                            << "V5.1"
                                            << "V5.2.0.0";
        QTest::newRow("same build") << "V5.2.0.0"
                                    << "2025-2-29"
                                    << "";
        QTest::newRow("nothing on the cloud") << ""
                                              << "V5.1"
                                              << "";
    }
    void cloudUpgradeInfo()
    {
        QFETCH(QString, cloud);
        QFETCH(QString, current);
        QFETCH(QString, newVersion);
        DeviceSpec spec = recorder();
        spec.upgradeVersion = cloud.toStdString();
        const int id = loginRecorder(nullptr, spec);
        QString found;
        QVERIFY(m_connect->GetCloudUpgradeInfo(id, current, found) > 0);
        QCOMPARE(found, newVersion);
        const QStringList args = argsOf("TRV_NET_GetDevConfig");
        QCOMPARE(args.mid(0, 3), (QStringList { QString::number(id), "192", "-1" }));
        QCOMPARE(args.mid(4, 1), QStringList { "2884" });
        QCOMPARE(args.last(), QStringLiteral("20000"));
    }

    void sdkInfo_data()
    {
        QTest::addColumn<bool>("setIdentity");
        QTest::addColumn<bool>("emptyKey");
        QTest::addColumn<bool>("setUserData");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("identity registered, no user data needed")
            << true << false << true << QStringList { "TRV_NET_InitAppInfo" };
        QTest::newRow("identity without key: user data")
            << true << true << true << QStringList { "TRV_NET_UserData" };
        QTest::newRow("only user data") << false << false << true << QStringList { "TRV_NET_UserData" };
        QTest::newRow("nothing asked") << false << false << false << QStringList();
    }
    void sdkInfo()
    {
        QFETCH(bool, setIdentity);
        QFETCH(bool, emptyKey);
        QFETCH(bool, setUserData);
        QFETCH(QStringList, calls);
        loginRecorder();
        auto identity = std::make_unique<TRV_APP_INFO>(CQNConnect::applicationIdentity());
        if (emptyKey)
            identity->appKey[0] = '\0';
        auto data = std::make_unique<SdkUserData>();
        data->type = 3;
        data->text = "user-data";
        m_connect->InitSDKInfo(std::move(identity), std::move(data), setIdentity, setUserData);
        QStringList names;
        for (const auto &c : control::calls())
            names.append(QString::fromStdString(c.function));
        QCOMPARE(names, calls);
        if (calls.contains(QStringLiteral("TRV_NET_UserData"))) {
            QCOMPARE(argsOf("TRV_NET_UserData"), (QStringList { "3", "\"user-data\"", "9" }));
            QVERIFY(logged(QStringLiteral("TRV_NET_UserData end = 1")));
        }
    }

    void recordEncryptKey()
    {
        const int id = loginRecorder();
        QCOMPARE(m_connect->SetDevRecordEncryptKey(id, 77), 1);
        QCOMPARE(callLog(), QStringList { QStringLiteral("TRV_NET_SetDevRecordEncryptKey(%1,77)").arg(id) });
        QVERIFY(m_connect->SetDevRecordEncryptKey(id + 500, 77) < 0);
    }
};

QTEST_GUILESS_MAIN(TestQNConnect)
#include "tst_qnconnect.moc"
