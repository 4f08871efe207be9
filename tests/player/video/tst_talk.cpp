// Voice talk and the custom alarm voice through the request manager, with the
// simulated device and the real play library: what the device hears is
// decoded by Python's G.711 decoder and compared with the microphone's input.

#include "LiveFixture.h"
#include "Talk.h"
#include "VoiceCustom.h"

#include "AudioPeer.h"
#include "lumarel/LumarelControl.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

using namespace live_fixture;

namespace {

QByteArray tone(int samples)
{
    QByteArray pcm(samples * 2, Qt::Uninitialized);
    auto *s = reinterpret_cast<qint16 *>(pcm.data());
    for (int i = 0; i < samples; ++i)
        s[i] = qint16(
            9000 * std::sin(2 * M_PI * 300 * i / 8000.0) + 3000 * std::sin(2 * M_PI * 1700 * i / 8000.0));
    return pcm;
}

bool talkPortClosed()
{
    LumarelControl::PortStats s;
    return LumarelControl::portStats(CTalk::kTalkPort, &s) && !s.open
        && LumarelControl::soundSharePorts().empty() && !LumarelControl::audioCaptureRunning();
}

} // namespace

class TestTalk : public QObject
{
    Q_OBJECT

    LiveFixture f;
    QTemporaryDir m_dir;
    QByteArray m_pcm = tone(8000);
    QString m_wav;

    int ret(const QString &request, const char *key = "Ret")
    {
        // The reply alone: an event of the device (a finished file transfer)
        // may arrive before it.
        QList<QJsonObject> answers = f.messagesFor(request);
        answers.erase(std::remove_if(answers.begin(), answers.end(),
                          [](const QJsonObject &o) { return o.contains(QLatin1String("MainEvent")); }),
            answers.end());
        return answers.size() == 1 ? answers[0].value(QLatin1String(key)).toInt(-999) : -999;
    }
    QString voicePath() const { return m_dir.filePath(QStringLiteral("customAlarmVoice.pcm")); }
    void writeVoice(int bytes)
    {
        QFile file(voicePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(bytes, '\x55'));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_wav = m_dir.filePath(QStringLiteral("mic.wav"));
        QFile wav(m_wav);
        QVERIFY(wav.open(QIODevice::WriteOnly));
        wav.write(AudioPeer::wavFile(m_pcm, 8000));
        wav.close();
        qputenv("LUMAREL_CAPTURE_WAV", m_wav.toLocal8Bit());
        f.initTestCase(this);
        TalkTopic::setTalkFactory([] { return std::make_unique<CTalk>(); });
        QVERIFY(f.start(device()));
        VoiceCustom::GetInstance()->setFilePath(voicePath());
    }
    void cleanupTestCase()
    {
        f.cleanupTestCase();
        TalkTopic::setTalkFactory(nullptr);
        VoiceCustom::ReleaseInstance();
    }

    // 640-byte microphone blocks reach the device as 328-byte frames that
    // decode to what the microphone heard; the device's answer is played.
    void talkCarriesTheMicrophone()
    {
        const size_t before = kestrix::control::receivedVoiceFrames("SN-LIVE").size();
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":1,"MsgID":3})")), 100);
        QTRY_VERIFY_WITH_TIMEOUT(
            kestrix::control::receivedVoiceFrames("SN-LIVE").size() >= before + 12, 20000);
        LumarelControl::PortStats s;
        QTRY_VERIFY(LumarelControl::portStats(CTalk::kTalkPort, &s) && s.soundSamples > 0);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":2,"MsgID":4})")), 1);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":2,"MsgID":5})")), 100);
        QVERIFY(talkPortClosed());

        const std::vector<std::string> frames = kestrix::control::receivedVoiceFrames("SN-LIVE");
        QByteArray alaw;
        for (size_t i = before; i < frames.size(); ++i) {
            const QByteArray frame = QByteArray::fromStdString(frames[i]);
            QCOMPARE(frame.size(), 328);
            QCOMPARE(frame.left(8).toHex(), QByteArray("000001fa0e024001"));
            alaw += frame.mid(8);
        }
        const QByteArray decoded = AudioPeer::audioop(QStringLiteral("alaw2lin"), alaw);
        QCOMPARE(decoded.size(), alaw.size() * 2);
        const auto *got = reinterpret_cast<const qint16 *>(decoded.constData());
        const auto *sent = reinterpret_cast<const qint16 *>(m_pcm.constData());
        for (int i = 0; i < alaw.size(); ++i) {
            const int x = sent[i % 8000];
            if (std::abs(got[i] - x) > std::max(16, std::abs(x) / 16))
                QFAIL(qPrintable(QStringLiteral("sample %1: %2 heard as %3").arg(i).arg(x).arg(got[i])));
        }
    }

    // A block larger than one frame holds goes out as several frames.
    void largeBlockIsSplit()
    {
        DeviceLoginInfo device;
        QVERIFY(f.onWorker([&] { device = f.manage->context().mainDevice(); }));
        CTalk talk;
        talk.SetDeviceInfo(device);
        QVERIFY(talk.TalkDevice());
        TRV_PLAY_StopAudioCapture();
        const size_t before = kestrix::control::receivedVoiceFrames("SN-LIVE").size();
        CTalk::AudioCaptureCallback(tone(5000).constData(), 10000, &talk);
        const std::vector<std::string> frames = kestrix::control::receivedVoiceFrames("SN-LIVE");
        QCOMPARE(frames.size(), before + 2);
        QCOMPARE(frames[before].size(), size_t(4096));
        QCOMPARE(frames[before + 1].size(), size_t(920));
        QCOMPARE(talk.StopTalk(), 1);
        QVERIFY(talkPortClosed());
    }

    void channelTalk_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("abilityQueries");
        QTest::newRow("-2") << -2 << 1016 << 0;
        QTest::newRow("any channel") << -1 << 100 << 1;
        QTest::newRow("255 as any") << 255 << 100 << 1;
        QTest::newRow("first") << 0 << 100 << 1;
        QTest::newRow("last of the device") << 15 << 100 << 1;
        QTest::newRow("beyond the device") << 16 << 1016 << 1;
        QTest::newRow("119") << 119 << 1016 << 1;
        QTest::newRow("120") << 120 << 1016 << 0;
    }
    void channelTalk()
    {
        QFETCH(int, channel);
        QFETCH(int, result);
        QFETCH(int, abilityQueries);
        kestrix::control::clearCalls();
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":0,"Channel":%1})").arg(channel)), result);
        QCOMPARE(functionsOf("TRV_NET_GetChannelAbility_Json").size(), abilityQueries);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":2})")), result == 100 ? 1 : 100);
        QVERIFY(talkPortClosed());
    }

    // Whatever fails after the sound port was opened closes it again, so the
    // next talk works.
    void failuresCloseThePort_data()
    {
        QTest::addColumn<int>("subType");
        QTest::addColumn<QString>("failing");
        QTest::newRow("device voice link") << 1 << "TRV_NET_StartVoiceCom_MR";
        QTest::newRow("channel voice link") << 0 << "TRV_NET_StartVoiceCom_NVR_IPC";
        QTest::newRow("device microphone") << 1 << "";
        QTest::newRow("channel microphone") << 0 << "";
    }
    void failuresCloseThePort()
    {
        QFETCH(int, subType);
        QFETCH(QString, failing);
        if (failing.isEmpty())
            qputenv("LUMAREL_CAPTURE_WAV", m_dir.filePath(QStringLiteral("missing.wav")).toLocal8Bit());
        else
            kestrix::control::failNext(failing.toStdString(), TRV_ERR_BUSY);
        const int handles = kestrix::control::openHandles();
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":%1,"Channel":1})").arg(subType)), 1016);
        qputenv("LUMAREL_CAPTURE_WAV", m_wav.toLocal8Bit());
        QVERIFY(talkPortClosed());
        QCOMPARE(kestrix::control::openHandles(), handles);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":%1,"Channel":1})").arg(subType)), 100);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":2})")), 1);
    }

    void stopWithoutLogin()
    {
        LumarelControl::clearCalls();
        CTalk talk;
        QCOMPARE(talk.StopTalk(), 0);
        QVERIFY(LumarelControl::calls().empty());
    }

    // The alarm-voice test shares the talk's sound port: refused during a talk.
    void voiceTestWaitsForTheTalk()
    {
        writeVoice(4000);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":1})")), 100);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":20,"SubType":2})")), 1016);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":16,"SubType":2})")), 1);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":20,"SubType":2})")), 100);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":20,"SubType":4})")), 100);
        QTRY_VERIFY(
            f.sent.join(QString()).contains(QLatin1String(R"({"MainEvent":6,"Ret":100,"SubEvent":3})")));
        QTRY_VERIFY(talkPortClosed());
        QCOMPARE(ret(QStringLiteral(R"({"MainType":20,"SubType":4})")), 100);
        QCOMPARE(ret(QStringLiteral(R"({"MainType":20,"SubType":9})")), 1016);
    }

    // The upload announces the file with the body of the device's kind; only a
    // transfer that the device confirmed removes the recording.
    void upload_data()
    {
        QTest::addColumn<int>("deviceType");
        QTest::addColumn<int>("sendError");
        QTest::addColumn<int>("fileBytes");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("reply");
        QTest::newRow("recorder, sent") << 1 << 0 << 41120 << 3 << 100;
        QTest::newRow("recorder, any channel") << 1 << 0 << 160 << 255 << 100;
        QTest::newRow("hybrid recorder, sent") << 2 << 0 << 41120 << 3 << 100;
        QTest::newRow("transfer failed") << 1 << int(TRV_ERR_TIMEOUT) << 41120 << 3 << 100;
        QTest::newRow("no recording") << 1 << 0 << -1 << 3 << 1016;
        QTest::newRow("empty recording") << 1 << 0 << 0 << 3 << 1016;
    }
    void upload()
    {
        QFETCH(int, deviceType);
        QFETCH(int, sendError);
        QFETCH(int, fileBytes);
        QFETCH(int, channel);
        QFETCH(int, reply);
        f.stop();
        kestrix::DeviceSpec spec = device();
        spec.deviceType = deviceType;
        spec.fileSendError = sendError;
        QVERIFY(f.start(spec));
        QFile::remove(voicePath());
        if (fileBytes >= 0)
            writeVoice(fileBytes);
        QCOMPARE(
            ret(QStringLiteral(R"({"MainType":20,"SubType":3,"Channel":%1,"FilePurpose":7})").arg(channel)),
            reply);
        if (reply != 100) {
            QCOMPARE(QFile::exists(voicePath()), fileBytes >= 0);
            return;
        }
        const QString event
            = QStringLiteral(R"({"MainEvent":6,"Ret":%1,"SubEvent":2})").arg(sendError ? sendError : 100);
        QTRY_VERIFY(f.sent.join(QString()).contains(event));
        QCOMPARE(QFile::exists(voicePath()), sendError != 0);
        if (sendError)
            return;
        const auto files = kestrix::control::receivedFiles("SN-LIVE");
        const auto bodies = kestrix::control::receivedFileBodies("SN-LIVE");
        QCOMPARE(files.size(), size_t(1));
        QCOMPARE(files[0].first, std::string("customAlarmVoice.pcm"));
        QCOMPARE(files[0].second, std::string(size_t(fileBytes), '\x55'));
        const QJsonObject body = object(QString::fromStdString(bodies.at(0)));
        QCOMPARE(body.value("FileSize").toInt(), fileBytes);
        QCOMPARE(body.value("FileName").toString(), QStringLiteral("customAlarmVoice.pcm"));
        const QJsonObject format = body.value("Parameter").toObject().value("AudioFormat").toObject();
        QCOMPARE(format.value("SampleRate").toInt(), 8000);
        QCOMPARE(format.value("EncodeType").toString(), QStringLiteral("G711_ALAW"));
        QCOMPARE(body.contains("Action"), deviceType != 2);
        QCOMPARE(body.contains("Channel"), deviceType != 2);
        if (deviceType != 2) {
            const int expected = channel == 255 ? -1 : channel;
            QCOMPARE(body.value("Channel").toArray().at(0).toInt(), expected);
            QCOMPARE(body.value("Parameter").toObject().value("Channel").toArray().at(0).toInt(), expected);
            QCOMPARE(body.value("FilePurpose").toInt(), 7);
        }
    }

    // A chosen file or the recorded one goes to the device, whose result
    // answers later; a cancelled or missing chooser still answers the page.
    void voiceFileRequests_data()
    {
        QTest::addColumn<int>("subType");
        QTest::addColumn<QString>("chooser"); // shell script; empty: no chooser
        QTest::addColumn<QList<int>>("answers"); // "nRet" of each answer, in order
        const QString chosen = QStringLiteral("printf '%s' '%1'");
        QTest::newRow("choose, no chooser") << 0 << QString() << QList<int> { 1016 };
        QTest::newRow("choose and send, no chooser") << 1 << QString() << QList<int> { 1016 };
        QTest::newRow("choose, cancelled") << 0 << QStringLiteral("exit 1") << QList<int> { 1016 };
        QTest::newRow("choose a configuration") << 0 << chosen << QList<int> { 100 };
        QTest::newRow("choose and send, chosen") << 1 << chosen << QList<int> { 100 };
        QTest::newRow("recorded file") << 2 << QString() << QList<int> { 100 };
        QTest::newRow("unknown kind") << 5 << QString() << QList<int> {};
    }
    void voiceFileRequests()
    {
        QFETCH(int, subType);
        QFETCH(QString, chooser);
        QFETCH(QList<int>, answers);
        writeVoice(800);
        QTemporaryDir folder;
        QFile script(folder.filePath(QStringLiteral("Browse")));
        // Kind 0 imports a configuration, the others send a sound file.
        QFile config(folder.filePath(QStringLiteral("config.json")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(R"({"General":{"DeviceName":"Hall"}})");
        config.close();
        if (!chooser.isEmpty()) {
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(("#!/bin/sh\n" + chooser.arg(subType == 0 ? config.fileName() : voicePath()) + "\n")
                             .toUtf8());
            script.close();
            script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        RequestContext::setAppFolder(folder.path());
        f.sent.clear();
        f.post(QStringLiteral(R"({"MainType":30,"SubType":%1,"MsgID":77,"Channel":2})").arg(subType));
        auto voiceAnswers = [&] { return f.sent.filter(QStringLiteral("\"Msg\":30")); };
        QTRY_COMPARE(voiceAnswers().size(), answers.size());
        f.post(QStringLiteral(R"({"MainType":13,"MsgID":"marker"})"));
        QTRY_VERIFY(!f.sent.filter(QStringLiteral("marker")).isEmpty());
        RequestContext::setAppFolder(QString());
        QCOMPARE(voiceAnswers().size(), answers.size());
        for (int i = 0; i < answers.size(); ++i) {
            const QJsonObject answer = object(voiceAnswers()[i]);
            QCOMPARE(answer.value("nRet").toInt(), answers[i]);
            QCOMPARE(answer.value("MsgID").toInt(), 77);
            QCOMPARE(answer.value("SubMsg").toInt(), subType);
        }
    }

    // Two sends made back to back, both answered late by the device: each
    // answer names its own request.
    void voiceFileSendsTogether_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<bool>("chooser"); // the first one's file is chosen
        QTest::newRow("recorded, for a channel then the device") << 2 << 4 << false;
        QTest::newRow("recorded, two channel modes") << 3 << 2 << false;
        // The chooser answers after the second request has started its send.
        QTest::newRow("chosen quietly, then recorded") << 1 << 3 << true;
    }
    void voiceFileSendsTogether()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(bool, chooser);
        writeVoice(800);
        QTemporaryDir folder;
        if (chooser) {
            QFile script(folder.filePath(QStringLiteral("Browse")));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(QStringLiteral("#!/bin/sh\nprintf '%s' '%1'\n").arg(voicePath()).toUtf8());
            script.close();
            script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        RequestContext::setAppFolder(folder.path());
        const size_t filesBefore = kestrix::control::receivedFiles("SN-LIVE").size();
        f.sent.clear();
        f.post(QStringLiteral(R"({"MainType":30,"SubType":%1,"MsgID":91,"Channel":2})").arg(first));
        f.post(QStringLiteral(R"({"MainType":30,"SubType":%1,"MsgID":92,"Channel":2})").arg(second));
        auto voiceAnswers = [&] { return f.sent.filter(QStringLiteral("\"Msg\":30")); };
        QTRY_COMPARE_WITH_TIMEOUT(voiceAnswers().size(), 2, 30000);
        RequestContext::setAppFolder(QString());
        QStringList got;
        for (const QString &answer : voiceAnswers()) {
            const QJsonObject o = object(answer);
            got.append(QStringLiteral("%1/%2 %3")
                           .arg(o.value("MsgID").toInt())
                           .arg(o.value("SubMsg").toInt())
                           .arg(o.value("nRet").toInt()));
        }
        got.sort();
        QCOMPARE(got,
            (QStringList {
                QStringLiteral("91/%1 100").arg(first), QStringLiteral("92/%1 100").arg(second) }));
        QCOMPARE(kestrix::control::receivedFiles("SN-LIVE").size(), filesBefore + 2);
        // Nothing more comes for them.
        f.post(QStringLiteral(R"({"MainType":13,"MsgID":"marker"})"));
        QTRY_VERIFY(!f.sent.filter(QStringLiteral("marker")).isEmpty());
        QCOMPARE(voiceAnswers().size(), 2);
    }
};

QTEST_MAIN(TestTalk)
#include "tst_talk.moc"
