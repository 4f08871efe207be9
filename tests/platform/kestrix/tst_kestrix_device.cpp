// Devices of the library: logins and their error numbers, the devices file,
// configuration answers, file sends, upgrades, talk and the call log.

#include "KestrixTestUtil.h"

#include "StreamFrame.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

using kestrix::DeviceSpec;
namespace control = kestrix::control;

namespace {

int loginAddress(
    const char *address, const char *user, const char *password, int *error, TRV_DEVICE_INFO *info = nullptr)
{
    TRV_DEVICE_INFO local;
    return TRV_NET_Login(address, 34567, user, password, info ? info : &local, error, TRV_LOGIN_BY_ADDRESS);
}

} // namespace

class TestKestrixDevice : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        control::reset();
        QVERIFY(TRV_NET_Init(nullptr, nullptr));
        TRV_NET_SetConnectTime(100, 1);
    }
    void cleanup() { control::reset(); }

    void defaultDevice()
    {
        TRV_DEVICE_INFO info;
        int error = 1;
        const int id = loginAddress("192.0.2.7", "admin", "", &error, &info);
        QVERIFY(id > 0);
        QCOMPARE(error, 0);
        QCOMPARE(TRV_NET_GetLastError(), 0);
        QCOMPARE(info.videoChannels, 16);
        QCOMPARE(info.extraChannels, 0);
        QVERIFY(std::strlen(info.serialNumber) > 0);
        QVERIFY(std::strlen(info.deviceName) > 0);
        QVERIFY(std::strlen(info.softwareVersion) > 0);
        // The same device by its serial number.
        int error2 = 0;
        const int id2 = TRV_NET_Login(info.serialNumber, 0, "admin", "", &info, &error2, TRV_LOGIN_BY_SERIAL);
        QVERIFY(id2 > 0 && id2 != id);
        QVERIFY(TRV_NET_Logout(id));
        QVERIFY(TRV_NET_Logout(id2));
        QVERIFY(!TRV_NET_Logout(id2));
        QCOMPARE(TRV_NET_GetLastError(), int(TRV_ERR_INVALID_HANDLE));
        QCOMPARE(control::openHandles(), 0);

        control::setDefaultChannels(4);
        QVERIFY(loginAddress("192.0.2.8", "admin", "", &error, &info) > 0);
        QCOMPARE(info.videoChannels, 4);
    }

    void loginErrors_data()
    {
        QTest::addColumn<QString>("deviceJson");
        QTest::addColumn<int>("kind"); // 0 address, 2 serial, 3 serial and token
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("cloudText");
        const QString dev
            = R"({"devices":[{"ip":"10.0.0.5","serial":"SN0005","user":"admin","password":"pw",)"
              R"("token":"tok"%1}]})";
        QTest::newRow("wrong password") << dev.arg("") << 0 << "10.0.0.5"
                                        << "admin"
                                        << "bad" << int(TRV_ERR_WRONG_PASSWORD) << "";
        QTest::newRow("unknown user") << dev.arg("") << 0 << "10.0.0.5"
                                      << "guest"
                                      << "pw" << int(TRV_ERR_UNKNOWN_USER) << "";
        QTest::newRow("unknown serial") << dev.arg("") << 2 << "SN9999"
                                        << "admin"
                                        << "pw" << int(TRV_ERR_DEVICE_OFFLINE) << "";
        QTest::newRow("locked") << dev.arg(R"(,"locked":true)") << 0 << "10.0.0.5"
                                << "admin"
                                << "pw" << int(TRV_ERR_ACCOUNT_LOCKED) << "";
        QTest::newRow("cloud error") << dev.arg(R"(,"cloudError":"Gerät nicht gebunden")") << 2 << "SN0005"
                                     << "admin"
                                     << "pw" << int(TRV_ERR_CLOUD) << "Gerät nicht gebunden";
        QTest::newRow("time-out") << dev.arg(R"(,"unreachable":true)") << 0 << "10.0.0.5"
                                  << "admin"
                                  << "pw" << int(TRV_ERR_TIMEOUT) << "";
        QTest::newRow("scripted refusal") << dev.arg(R"(,"loginError":-11304)") << 0 << "10.0.0.5"
                                          << "admin"
                                          << "pw" << int(TRV_ERR_ADDRESS_BLOCKED) << "";
        QTest::newRow("wrong token") << dev.arg("") << 3 << "SN0005"
                                     << ""
                                     << "other" << int(TRV_ERR_WRONG_PASSWORD) << "";
        QTest::newRow("right token") << dev.arg("") << 3 << "SN0005"
                                     << ""
                                     << "tok" << 0 << "";
        QTest::newRow("serial login") << dev.arg("") << 2 << "SN0005"
                                      << "admin"
                                      << "pw" << 0 << "";
    }

    void loginErrors()
    {
        QFETCH(QString, deviceJson);
        QFETCH(int, kind);
        QFETCH(QString, target);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, expected);
        QFETCH(QString, cloudText);
        std::string error;
        QVERIFY2(control::loadDevicesJson(deviceJson.toStdString(), &error), error.c_str());
        TRV_DEVICE_INFO info;
        std::memset(&info, 0x55, sizeof info);
        int err = 1;
        int id;
        const QByteArray t = target.toUtf8(), u = user.toUtf8(), p = password.toUtf8();
        if (kind == 3)
            id = TRV_NET_LoginEx_V2(t.constData(), 0, p.constData(), "", &info, 7, &err, 2);
        else
            id = TRV_NET_Login(
                t.constData(), kind == 0 ? 34567 : 0, u.constData(), p.constData(), &info, &err, kind);
        if (expected == 0) {
            QVERIFY(id > 0);
            QCOMPARE(err, 0);
            return;
        }
        QCOMPARE(id, expected);
        QCOMPARE(err, expected);
        QCOMPARE(TRV_NET_GetLastError(), expected);
        QCOMPARE(QString::fromUtf8(info.cloudError), cloudText);
        QCOMPARE(info.videoChannels, 0);
    }

    // The last error belongs to the thread that made the call.
    void lastErrorPerThread()
    {
        int error = 0;
        QCOMPARE(loginAddress("10.9.9.9", "nobody", "", &error), int(TRV_ERR_UNKNOWN_USER));
        int other = 1;
        std::thread t([&] { other = TRV_NET_GetLastError(); });
        t.join();
        QCOMPARE(other, 0);
        QCOMPARE(TRV_NET_GetLastError(), int(TRV_ERR_UNKNOWN_USER));
    }

    void devicesFileFromEnvironment()
    {
        control::reset();
        QTemporaryDir dir;
        QFile f(dir.filePath("devices.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"anyAddress": false, "devices": [{"ip": "10.7.0.1", "channels": 8, "extraChannels": 2,
                   "user": "op", "password": "secret", "name": "Yard", "deviceType": 2}]})");
        f.close();
        qputenv("KESTRIX_DEVICES", f.fileName().toUtf8());
        QVERIFY(TRV_NET_Init(nullptr, nullptr));
        qunsetenv("KESTRIX_DEVICES");
        TRV_NET_SetConnectTime(50, 1);
        TRV_DEVICE_INFO info;
        int error = 0;
        QVERIFY(loginAddress("10.7.0.1", "op", "secret", &error, &info) > 0);
        QCOMPARE(info.videoChannels, 8);
        QCOMPARE(info.extraChannels, 2);
        QCOMPARE(info.deviceType, 2);
        QCOMPARE(QString(info.deviceName), QString("Yard"));
        // Other addresses do not answer.
        QCOMPARE(loginAddress("10.7.0.2", "admin", "", &error), int(TRV_ERR_TIMEOUT));
    }

    void badDevicesJson_data()
    {
        QTest::addColumn<QString>("json");
        QTest::newRow("not JSON") << "{devices";
        QTest::newRow("devices not an array") << R"({"devices": 3})";
        QTest::newRow("device without address") << R"({"devices": [{"channels": 4}]})";
        QTest::newRow("recording without times") << R"({"devices": [{"ip": "1.2.3.4", "recordings": [{}]}]})";
    }

    void badDevicesJson()
    {
        QFETCH(QString, json);
        std::string error;
        QVERIFY(!control::loadDevicesJson(json.toStdString(), &error));
        QVERIFY(!error.empty());
    }

    void tooManyLogins()
    {
        DeviceSpec spec;
        spec.address = "10.3.3.3";
        spec.maxLogins = 1;
        control::addDevice(spec);
        int error = 0;
        const int first = loginAddress("10.3.3.3", "admin", "", &error);
        QVERIFY(first > 0);
        QCOMPARE(loginAddress("10.3.3.3", "admin", "", &error), int(TRV_ERR_TOO_MANY_LOGINS));
        QVERIFY(TRV_NET_Logout(first));
        QVERIFY(loginAddress("10.3.3.3", "admin", "", &error) > 0);
    }

    // The call log keeps every call with its arguments in order.
    void callLog()
    {
        control::clearCalls();
        int error = 0;
        const int id = loginAddress("10.4.4.4", "admin", "", &error);
        TRV_STREAM_REQUEST req = {};
        req.channel = 2;
        req.streamType = 1;
        const int handle = TRV_NET_RealPlay(id, &req, 0);
        QVERIFY(TRV_NET_MakeKeyFrame(id, 2, 1));
        QVERIFY(TRV_NET_StopRealPlay(handle, 0));
        const auto calls = control::calls();
        QCOMPARE(int(calls.size()), 4);
        QCOMPARE(calls[0].function, std::string("TRV_NET_Login"));
        QCOMPARE(calls[0].args[0], std::string("\"10.4.4.4\""));
        QCOMPARE(calls[0].args[1], std::string("34567"));
        QCOMPARE(calls[0].args[6], std::string("0"));
        QCOMPARE(calls[0].result, int64_t(id));
        QCOMPARE(calls[1].function, std::string("TRV_NET_RealPlay"));
        QCOMPARE(calls[1].args,
            (std::vector<std::string> { std::to_string(id), "{channel=2,streamType=1}", "0" }));
        QCOMPARE(calls[2].args, (std::vector<std::string> { std::to_string(id), "2", "1" }));
        QCOMPARE(calls[3].args, (std::vector<std::string> { std::to_string(handle), "0" }));
        QVERIFY(calls[3].returned);
        QCOMPARE(int(control::callsOf("TRV_NET_RealPlay").size()), 1);
    }

    // Scripted failures and slow calls.
    void scriptedErrorsAndDelays()
    {
        int error = 0;
        const int id = loginAddress("10.5.5.5", "admin", "", &error);
        control::failNext("TRV_NET_RealPlay", TRV_ERR_NO_RIGHT);
        TRV_STREAM_REQUEST req = {};
        QCOMPARE(TRV_NET_RealPlay(id, &req, 0), int(TRV_ERR_NO_RIGHT));
        const int handle = TRV_NET_RealPlay(id, &req, 0);
        QVERIFY(handle > 0);
        QVERIFY(TRV_NET_StopRealPlay(handle, 0));

        // A call slower than its own time-out fails with the time-out error.
        control::setCallDelay("TRV_NET_GetChannelAbility_Json", 200);
        char buf[1024];
        int len = 0;
        QCOMPARE(TRV_NET_GetChannelAbility_Json(
                     id, "ChannelSystemFunction@SupportIPCTalk", -1, buf, sizeof buf, &len, 50),
            int(TRV_ERR_TIMEOUT));
        QCOMPARE(TRV_NET_GetChannelAbility_Json(
                     id, "ChannelSystemFunction@SupportIPCTalk", -1, buf, sizeof buf, &len, 1000),
            1);
    }

    void configurationAnswers()
    {
        DeviceSpec spec;
        spec.address = "10.6.6.6";
        spec.videoChannels = 4;
        spec.upgradeVersion = "KX_NVR_V5.0.1";
        spec.configJson = R"({"SystemFunction":{"OtherFunction":{"SupportScaleTwoLens":true}},
                              "ChannelSystemFunction":{"SupportIPCTalk":[false,true,false,false]}})";
        control::addDevice(spec);
        int error = 0;
        const int id = loginAddress("10.6.6.6", "admin", "", &error);
        QVERIFY(id > 0);

        char buf[4096];
        int len = 0;
        QCOMPARE(TRV_NET_GetChannelAbility_Json(
                     id, "ChannelSystemFunction@SupportIPCTalk", -1, buf, sizeof buf, &len, 20000),
            1);
        QCOMPARE(len, int(std::strlen(buf)));
        const QJsonObject talk = QJsonDocument::fromJson(buf).object();
        QCOMPARE(talk.value("Name").toString(), QString("SupportIPCTalk"));
        QCOMPARE(talk.value("Ret").toInt(), 100);
        QCOMPARE(talk.value("SupportIPCTalk").toArray().size(), 4);
        QCOMPARE(talk.value("SupportIPCTalk").toArray().at(1).toBool(), true);
        QCOMPARE(TRV_NET_GetChannelAbility_Json(
                     id, "ChannelSystemFunction@SupportIPCTalk", -1, buf, 8, &len, 20000),
            int(TRV_ERR_BUFFER_TOO_SMALL));

        QCOMPARE(TRV_NET_GetAbility(id, "SystemFunction/OtherFunction/SupportScaleTwoLens"), 1);
        QCOMPARE(TRV_NET_GetAbility(id, "SystemFunction/OtherFunction/SupportGunBallTwoSensorCamera"), 0);

        QCOMPARE(
            TRV_NET_GetDevConfigByName(id, "bypass@SystemFunction", 1362, 0, buf, sizeof buf, &len, 20000),
            1);
        const QJsonObject sys = QJsonDocument::fromJson(buf).object();
        QCOMPARE(sys.value("Name").toString(), QString("SystemFunction"));
        QVERIFY(sys.value("SystemFunction")
                    .toObject()
                    .value("OtherFunction")
                    .toObject()
                    .value("SupportScaleTwoLens")
                    .toBool());

        // Two-lens zoom: set, then read back; no "MaxTimes" unless the device has one.
        char answer[65536];
        const char setBody[256] = R"([{"StreamType": 0,"TimesOri": 1.0,"Times": 3.5}])";
        QCOMPARE(TRV_NET_SetConfig_Json(
                     id, "OPScaleTimesSwitch", 3032, 1, setBody, 256, answer, sizeof answer, &len, 20000),
            1);
        const char getBody[256] = R"([{"StreamType": 0}])";
        QCOMPARE(TRV_NET_GetConfig_Json(
                     id, "OPSensorGet", 3034, 1, getBody, 256, answer, sizeof answer, &len, 20000),
            1);
        const QJsonObject sensor = QJsonDocument::fromJson(answer).object();
        QCOMPARE(sensor.value("Ret").toInt(), 100);
        const QJsonObject item = sensor.value("OPSensorGet").toArray().at(0).toObject();
        QCOMPARE(item.value("Times").toDouble(), 3.5);
        QVERIFY(!item.contains("MaxTimes"));
        QCOMPARE(TRV_NET_GetConfig_Json(
                     id, "OPNoSuchThing", 1, -1, getBody, 256, answer, sizeof answer, &len, 20000),
            int(TRV_ERR_NOT_SUPPORTED));

        // Talk configuration and the cloud's upgrade information.
        TRV_TALK_CONFIG talkConfig;
        QCOMPARE(TRV_NET_GetDevConfig(id, TRV_CONFIG_TALK, -1, &talkConfig, sizeof talkConfig, &len, 15000),
            int(sizeof talkConfig));
        QCOMPARE(int(reinterpret_cast<unsigned char *>(&talkConfig)[128]), 0);
        TRV_CLOUD_UPGRADE_INFO cloud;
        QVERIFY(
            TRV_NET_GetDevConfig(id, TRV_CONFIG_CLOUD_UPGRADE, -1, &cloud, sizeof cloud, &len, 20000) > 0);
        QCOMPARE(cloud.hasNewVersion, 1);
        QCOMPARE(QString(cloud.newVersion), QString("KX_NVR_V5.0.1"));
        QCOMPARE(QString(reinterpret_cast<char *>(&cloud) + 4), QString("KX_NVR_V5.0.1"));
        QVERIFY(QString(reinterpret_cast<char *>(&cloud) + 132) != QString("2023-11-20"));

        // A configuration file merges into the tree.
        const char import[] = R"({"General":{"DeviceName":"Gate"}})";
        QCOMPARE(TRV_NET_SetDevConfig(id, TRV_CONFIG_IMPORT, -1, import, int(sizeof import - 1), 8000), 0);
        QVERIFY(QString::fromStdString(control::configOf("10.6.6.6")).contains("Gate"));
        QCOMPARE(TRV_NET_SetDevConfig(id, TRV_CONFIG_IMPORT, -1, "{bad", 4, 8000), int(TRV_ERR_PARAMETER));
    }

    void fileSend()
    {
        int error = 0;
        const int id = loginAddress("10.8.8.8", "admin", "", &error);
        QTemporaryDir dir;
        QFile f(dir.filePath("voice.pcm"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray content(5000, char(0xD5));
        f.write(content);
        f.close();
        const QByteArray body
            = QString(R"({"FileType": 1,"FilePurpose": 0,"FileSize": %1,"FileName": "customAlarmVoice.pcm"})")
                  .arg(content.size())
                  .toUtf8();
        QCOMPARE(TRV_NET_SendCommand_Json(id, "OPFile", 3500, -1, body.constData(), body.size(), 5000), 1);
        struct Result
        {
            std::atomic<int> calls { 0 };
            std::atomic<int> state { -1 };
            std::atomic<int> code { -1 };
        } result;
        auto cb = [](int, int state, int code, void *user) {
            auto *r = static_cast<Result *>(user);
            r->state = state;
            r->code = code;
            r->calls++;
        };
        const int handle
            = TRV_NET_SendFileDataToDevice(id, f.fileName().toLocal8Bit().constData(), cb, &result);
        QVERIFY(handle > 0);
        QTRY_COMPARE_WITH_TIMEOUT(result.calls.load(), 1, 10000);
        QCOMPARE(result.state.load(), int(TRV_TRANSFER_DONE));
        QCOMPARE(result.code.load(), 0);
        QVERIFY(TRV_NET_StopSendFile(handle, 1));
        const auto files = control::receivedFiles("10.8.8.8");
        QCOMPARE(int(files.size()), 1);
        QCOMPARE(files[0].first, std::string("customAlarmVoice.pcm"));
        QCOMPARE(QByteArray::fromStdString(files[0].second), content);

        // An announced size that does not match fails; a missing file is refused at once.
        const QByteArray wrong = R"({"FileSize": 7,"FileName": "x.pcm"})";
        QCOMPARE(TRV_NET_SendCommand_Json(id, "OPFile", 3500, -1, wrong.constData(), wrong.size(), 5000), 1);
        result.calls = 0;
        const int h2 = TRV_NET_SendFileDataToDevice(id, f.fileName().toLocal8Bit().constData(), cb, &result);
        QTRY_COMPARE_WITH_TIMEOUT(result.calls.load(), 1, 10000);
        QCOMPARE(result.state.load(), int(TRV_TRANSFER_FAILED));
        QVERIFY(result.code.load() < 0);
        QVERIFY(TRV_NET_CloseHandle(h2));
        QCOMPARE(TRV_NET_SendFileDataToDevice(id, "/nonexistent/file", cb, &result), 0);
        QCOMPARE(TRV_NET_GetLastError(), int(TRV_ERR_FILE));
    }

    void upgrades()
    {
        DeviceSpec spec;
        spec.address = "10.9.1.1";
        spec.upgradeVersion = "KX_NVR_V6.0.0";
        control::addDevice(spec);
        int error = 0;
        const int id = loginAddress("10.9.1.1", "admin", "", &error);
        struct Progress
        {
            std::mutex mutex;
            std::vector<int> states;
            std::vector<int> done;
        } progress;
        auto cb = [](int, int state, int, int done, void *user) {
            auto *p = static_cast<Progress *>(user);
            std::lock_guard<std::mutex> lock(p->mutex);
            p->states.push_back(state);
            p->done.push_back(done);
        };
        QCOMPARE(TRV_NET_UpgradeOnline(id, "KX_NVR_V9", 0, cb, &progress), int(TRV_ERR_NOT_FOUND));
        const int h = TRV_NET_UpgradeOnline(id, "KX_NVR_V6.0.0", 0, cb, &progress);
        QVERIFY(h > 0);
        // A second upgrade while one runs is refused.
        QTemporaryDir dir;
        QFile fw(dir.filePath("fw.bin"));
        QVERIFY(fw.open(QIODevice::WriteOnly));
        fw.write(QByteArray(300000, 'x'));
        fw.close();
        QCOMPARE(TRV_NET_Upgrade(id, fw.fileName().toLocal8Bit().constData(), 1, cb, &progress),
            int(TRV_ERR_UPGRADE_RUNNING));
        QTRY_COMPARE_WITH_TIMEOUT(TRV_NET_GetUpgradeState(h), int(TRV_UPGRADE_SUCCESS), 10000);
        QVERIFY(TRV_NET_CloseUpgradeHandle(h));
        {
            std::lock_guard<std::mutex> lock(progress.mutex);
            QVERIFY(progress.states.size() > 3);
            QCOMPARE(progress.states.front(), int(TRV_UPGRADE_SENDING));
            QCOMPARE(progress.states.back(), int(TRV_UPGRADE_SUCCESS));
            QVERIFY(std::find(progress.states.begin(), progress.states.end(), int(TRV_UPGRADE_WRITING))
                != progress.states.end());
        }
        TRV_DEVICE_INFO info;
        QVERIFY(loginAddress("10.9.1.1", "admin", "", &error, &info) > 0);
        QCOMPARE(QString(info.softwareVersion), QString("KX_NVR_V6.0.0"));

        // A local file: its bytes go to the device in steps.
        {
            std::lock_guard<std::mutex> lock(progress.mutex);
            progress.states.clear();
            progress.done.clear();
        }
        const int h2 = TRV_NET_Upgrade(id, fw.fileName().toLocal8Bit().constData(), 1, cb, &progress);
        QVERIFY(h2 > 0);
        QTRY_COMPARE_WITH_TIMEOUT(TRV_NET_GetUpgradeState(h2), int(TRV_UPGRADE_SUCCESS), 10000);
        QVERIFY(TRV_NET_CloseUpgradeHandle(h2));
        std::lock_guard<std::mutex> lock(progress.mutex);
        QCOMPARE(progress.done[0] > 0, true);
        int lastSent = 0;
        for (size_t i = 0; i < progress.states.size(); ++i)
            if (progress.states[i] == TRV_UPGRADE_SENDING)
                lastSent = progress.done[i];
        QCOMPARE(lastSent, 300000);
        QCOMPARE(TRV_NET_Upgrade(id, "/nonexistent", 1, cb, &progress), int(TRV_ERR_FILE));
    }

    // The device plays back what it hears, as voice frames.
    void talkLoopsBack()
    {
        int error = 0;
        const int id = loginAddress("10.2.2.2", "admin", "", &error);
        struct Heard
        {
            std::mutex mutex;
            QByteArray samples;
            std::atomic<bool> bad { false };
        } heard;
        auto cb = [](int, const unsigned char *data, int length, int, void *user) {
            auto *h = static_cast<Heard *>(user);
            StreamBlock block;
            size_t skip = 0;
            if (scanStreamBlock(data, size_t(length), &block, &skip) != StreamScan::Block
                || block.type != StreamBlock::Voice || block.header.length != 320) {
                h->bad = true;
                return;
            }
            std::lock_guard<std::mutex> lock(h->mutex);
            h->samples.append(reinterpret_cast<const char *>(block.payload), int(block.header.length));
        };
        const int voice = TRV_NET_StartVoiceCom_MR(id, cb, &heard);
        QVERIFY(voice > 0);
        QCOMPARE(TRV_NET_StartVoiceCom_NVR_IPC(id, 0, cb, &heard), int(TRV_ERR_BUSY));
        unsigned char frame[8 + 320];
        writeVoiceFrameHeader(8000, 320, frame);
        for (int i = 0; i < 320; ++i)
            frame[8 + i] = uint8_t(0x10 + i % 64);
        QVERIFY(TRV_NET_VoiceComSendData(voice, frame, int(sizeof frame)));
        QVERIFY(!TRV_NET_VoiceComSendData(voice, frame, 100));
        const QByteArray sent(reinterpret_cast<const char *>(frame + 8), 320);
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            std::lock_guard<std::mutex> lock(heard.mutex);
            return heard.samples.contains(sent);
        }()),
            5000);
        QVERIFY(!heard.bad);
        QVERIFY(TRV_NET_StopVoiceCom(voice));
        const int v2 = TRV_NET_StartVoiceCom_NVR_IPC(id, -1, cb, &heard);
        QVERIFY(v2 > 0);
        QVERIFY(TRV_NET_StopVoiceCom(v2));
    }
};

QTEST_GUILESS_MAIN(TestKestrixDevice)
#include "tst_kestrix_device.moc"
