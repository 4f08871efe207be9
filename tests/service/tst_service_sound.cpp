// End to end: a page (Python websockets) drives the sound of QuorvelTool's
// real player against a private sound server (null sink "speaker", a 660 Hz
// sine "mic"): live sound on and off, recording the custom alarm voice and
// playing it back; and what the same steps answer without a server.

#include "AudioPeer.h"
#include "PulseServer.h"
#include "ServiceTestSupport.h"
#include "XvfbSession.h"

#include <QtTest>

#include <memory>

using namespace ServiceTest;

namespace {

constexpr int kRate = 16000; // what the speaker's monitor is recorded at

const char kLogin[] = "{\"MainType\":8,\"SubType\":0,\"MsgID\":1,\"Browse\":2,\"WebType\":\"blue\","
                      "\"Device\":{\"LoginType\":0,\"IP\":\"10.0.0.5\",\"Port\":34567,\"User\":\"admin\","
                      "\"Password\":\"secret\"}}";

// Whether `frequency` carries the sound heard.
bool hears(const QVector<qint16> &heard, double frequency)
{
    return SoundMeasure::dominatedBy(heard, kRate, frequency) && SoundMeasure::rms(heard) > 300;
}

} // namespace

class TestServiceSound : public QObject
{
    Q_OBJECT

private:
    XvfbSession m_x;
    QTemporaryDir m_dir;
    std::unique_ptr<PulseServer> m_pulse;
    std::unique_ptr<ServiceCopy> m_copy;
    std::unique_ptr<QProcess> m_service;
    int m_port = 0;

    QList<qint64> players() const { return processesMentioning(m_copy->appDir + "/x64/Tevora_x64"); }

    QString playerLog() const { return playerLogText(m_copy->appDir); }

    // The reply to the request `msgId`; events and other replies are skipped.
    static QJsonObject replyTo(PageClient &page, int msgId)
    {
        for (;;) {
            const QString text = page.receive(60);
            if (text.isNull())
                return QJsonObject();
            const QJsonObject o = parseObject(text);
            if (o.contains(QStringLiteral("Msg")) && o.value(QStringLiteral("MsgID")).toInt(-1) == msgId)
                return o;
        }
    }

    // Waits until the speaker plays `frequency` (or, with `silent`, nothing of it).
    static bool speakerTurns(PulseRecorder &speaker, double frequency, bool silent, int timeoutMs = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            const QVector<qint16> heard = speaker.next(300);
            if (silent ? SoundMeasure::amplitudeAt(heard, kRate, frequency) < 100 : hears(heard, frequency))
                return true;
        }
        return false;
    }

    void startService(const QString &pulseServer)
    {
        m_copy = std::make_unique<ServiceCopy>();
        QVERIFY(m_copy->prepare(realPlayer()));
        m_copy->extraEnv.insert(QStringLiteral("DISPLAY"), m_x.display());
        m_copy->extraEnv.insert(
            QStringLiteral("KESTRIX_DEVICES"), m_dir.filePath(QStringLiteral("devices.json")));
        m_copy->extraEnv.insert(QStringLiteral("PULSE_SERVER"), pulseServer);
        m_service = m_copy->start(&m_port);
        QVERIFY(m_port > 0);
    }

    // Switches channel 1's live sound (request `msgId`); its "Audio" after, -1
    // when the request failed.
    static int switchLiveSound(PageClient &page, int msgId)
    {
        if (!page.send(QStringLiteral(R"({"MainType":4,"SubType":8,"MsgID":%1,"Channel":0})").arg(msgId)))
            return -1;
        const QJsonObject reply = replyTo(page, msgId);
        return reply.value("Ret").toInt() == 100 ? reply.value("Audio").toInt(-1) : -1;
    }

    // Logs in and opens channel 1's live window.
    void loginAndPreview(PageClient &page)
    {
        QVERIFY(page.opened());
        QVERIFY(page.send(QString::fromLatin1(kLogin)));
        QCOMPARE(replyTo(page, 1).value("Ret").toInt(), 100);
        QVERIFY(page.send(QStringLiteral(R"({"MainType":4,"SubType":0,"MsgID":2,"Channel":0,"Stream":1})")));
        QCOMPARE(replyTo(page, 2).value("Ret").toInt(), 100);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_x.start());
        const xcb_window_t browser = m_x.window("Cameras - Web Viewer - Chromium", "Cameras");
        // The browser's own window hosts the page on X11; its class names the browser.
        m_x.setChromiumClass(browser);
        m_x.focus(browser);
        QFile devices(m_dir.filePath(QStringLiteral("devices.json")));
        QVERIFY(devices.open(QIODevice::WriteOnly));
        devices.write(R"({"anyAddress":false,"devices":[{"ip":"10.0.0.5","user":"admin","password":"secret",
            "channels":4,"maxLogins":2,"name":"Gate NVR","audio":true}]})");
        devices.close();
    }

    void cleanup()
    {
        ServiceTest::stopService(m_service);
        if (m_copy)
            QTRY_VERIFY_WITH_TIMEOUT(players().isEmpty(), 30000);
        m_copy.reset();
        m_pulse.reset();
    }

    void liveSoundAndTheCustomAlarmVoiceReachTheSoundServer()
    {
        m_pulse = std::make_unique<PulseServer>(660);
        QVERIFY2(m_pulse->start(), qPrintable(m_pulse->errorText()));
        startService(m_pulse->address());
        PulseRecorder speaker(*m_pulse, QStringLiteral("speaker.monitor"), kRate);
        PageClient page(wsUrl(m_port));
        loginAndPreview(page);

        // Live sound on: the simulated device's 1 kHz tone at the speaker.
        QCOMPARE(switchLiveSound(page, 3), 1);
        QVERIFY(speakerTurns(speaker, 1000, false));
        // Off: silence.
        QCOMPARE(switchLiveSound(page, 4), 0);
        QVERIFY(speakerTurns(speaker, 1000, true, 5000));

        // A voice recording holds the microphone's 660 Hz (A-law, 8 kHz).
        const QString voiceFile = m_copy->appDir + QStringLiteral("/x64/customAlarmVoice.pcm");
        QVERIFY(page.send(QStringLiteral(R"({"MainType":20,"SubType":0,"MsgID":5})")));
        QCOMPARE(replyTo(page, 5).value("Ret").toInt(), 100);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(voiceFile).size() >= 8000, 20000);
        QVERIFY(page.send(QStringLiteral(R"({"MainType":20,"SubType":1,"MsgID":6})")));
        QCOMPARE(replyTo(page, 6).value("Ret").toInt(), 100);
        QFile file(voiceFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray linear = AudioPeer::audioop(QStringLiteral("alaw2lin"), file.readAll());
        QVERIFY(!linear.isEmpty());
        QVector<qint16> recorded(linear.size() / 2);
        memcpy(recorded.data(), linear.constData(), size_t(recorded.size()) * 2);
        recorded = recorded.mid(recorded.size() / 4);
        const double pitch = SoundMeasure::zeroCrossingFrequency(recorded, 8000);
        QVERIFY2(qAbs(pitch - 660) < 15, qPrintable(QString::number(pitch)));
        QVERIFY(SoundMeasure::rms(recorded) > 1000);

        // Its test play reaches the speaker.
        QVERIFY(page.send(QStringLiteral(R"({"MainType":20,"SubType":2,"MsgID":7})")));
        QCOMPARE(replyTo(page, 7).value("Ret").toInt(), 100);
        QVERIFY(speakerTurns(speaker, 660, false));
        QVERIFY(page.close());
    }

    // No sound server: live sound is switched (silently), recording and talk
    // answer 1016, and the player's log says why.
    void withoutASoundServer()
    {
        startService(QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("no-server")));
        PageClient page(wsUrl(m_port));
        loginAndPreview(page);
        QCOMPARE(switchLiveSound(page, 3), 1);
        QVERIFY(page.send(QStringLiteral(R"({"MainType":20,"SubType":0,"MsgID":4})")));
        QCOMPARE(replyTo(page, 4).value("Ret").toInt(), 1016);
        QVERIFY(page.send(QStringLiteral(R"({"MainType":16,"SubType":1,"MsgID":5})")));
        QCOMPARE(replyTo(page, 5).value("Ret").toInt(), 1016);
        QVERIFY(page.close());
        QTRY_VERIFY_WITH_TIMEOUT(players().isEmpty(), 30000);
        const QString log = playerLog();
        QVERIFY2(log.contains(QStringLiteral("no sound server")), qPrintable(log.right(2000)));
        QVERIFY(log.contains(QStringLiteral("TRV_PLAY_StartAudioCapture failed m_lError = 12")));
        QCOMPARE(log.count(QStringLiteral("no sound server")), 1);
    }
};

QTEST_GUILESS_MAIN(TestServiceSound)
#include "tst_service_sound.moc"
