// The custom alarm voice against the real play library: recording from the
// library's capture of a WAV file, checked against Python's G.711 encoder;
// the test playback on the talk sound port; state changes from several threads.

#include "G711.h"
#include "VoiceCustom.h"
#include "VoiceFrame.h"

#include "AudioPeer.h"
#include "lumarel/LumarelControl.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <thread>

namespace {

// A rising sweep, so that a shifted or repeated block shows.
QByteArray sweep(int samples)
{
    QByteArray pcm(samples * 2, Qt::Uninitialized);
    auto *s = reinterpret_cast<qint16 *>(pcm.data());
    for (int i = 0; i < samples; ++i)
        s[i] = qint16(12000 * std::sin(0.0005 * i * i / 8.0) * (i % 7 == 0 ? -1 : 1));
    return pcm;
}

// True when `codes` are Python's A-law of `pcm`. Python rounds a negative
// sample on a step boundary (a multiple of 16) to the step above, where the
// player's encoder takes the magnitude: there the codes may be one step apart.
bool matchesPython(const QByteArray &codes, const QByteArray &pcm)
{
    const QByteArray python = AudioPeer::audioop(QStringLiteral("lin2alaw"), pcm);
    if (python.size() != codes.size() || pcm.size() != codes.size() * 2)
        return false;
    const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
    for (int i = 0; i < codes.size(); ++i) {
        const int a = quint8(codes[i]) ^ 0x55;
        const int b = quint8(python[i]) ^ 0x55;
        const bool boundary = s[i] < 0 && s[i] % 16 == 0;
        if (a != b && !(boundary && std::abs(a - b) == 1)) {
            qWarning() << "sample" << i << s[i] << "coded" << Qt::hex << a << "Python" << b;
            return false;
        }
    }
    return true;
}

// The recorder's events as this thread receives them (queued from the capture and test threads).
class EventLog : public QObject
{
public:
    explicit EventLog(VoiceCustom *voice)
    {
        connect(voice, &VoiceCustom::VoiceRecordTime, this, [this](const QString &e) { texts.append(e); });
    }
    QStringList texts;
};

QList<QJsonObject> events(const EventLog &log, int subEvent = -1)
{
    QList<QJsonObject> out;
    for (const QString &text : log.texts) {
        const QJsonObject e = QJsonDocument::fromJson(text.toUtf8()).object();
        if (e.value("MainEvent").toInt() == 6 && (subEvent < 0 || e.value("SubEvent").toInt() == subEvent))
            out.append(e);
    }
    return out;
}

} // namespace

class TestVoiceCustom : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_pcm = sweep(16000);
    QString path() const { return m_dir.filePath(QStringLiteral("customAlarmVoice.pcm")); }
    VoiceCustom *voice()
    {
        VoiceCustom *v = VoiceCustom::GetInstance();
        v->setFilePath(path());
        return v;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile wav(m_dir.filePath(QStringLiteral("in.wav")));
        QVERIFY(wav.open(QIODevice::WriteOnly));
        wav.write(AudioPeer::wavFile(m_pcm, 8000));
        wav.close();
        qputenv("LUMAREL_CAPTURE_WAV", wav.fileName().toLocal8Bit());
    }

    // Blocks of any size become frames that fit the buffer, with the head of the rate.
    void framePieces_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("blockBytes");
        QTest::addColumn<int>("maxCodes");
        QTest::addColumn<QList<int>>("pieces");
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("talk block, 8 kHz")
            << 8000 << 640 << 4088 << QList<int> { 320 } << QByteArray("000001fa0e024001");
        QTest::newRow("talk block, 16 kHz")
            << 16000 << 640 << 4088 << QList<int> { 320 } << QByteArray("000001fa0e044001");
        QTest::newRow("talk frame full")
            << 8000 << 8176 << 4088 << QList<int> { 4088 } << QByteArray("000001fa0e02f80f");
        QTest::newRow("talk block over a frame")
            << 8000 << 10000 << 4088 << QList<int> { 4088, 912 } << QByteArray("000001fa0e02f80f");
        QTest::newRow("voice block over the buffer")
            << 8000 << 4098 << 2048 << QList<int> { 2048, 1 } << QByteArray("000001fa0e020008");
        QTest::newRow("odd last byte")
            << 8000 << 5 << 2048 << QList<int> { 2 } << QByteArray("000001fa0e020200");
    }
    void framePieces()
    {
        QFETCH(int, rate);
        QFETCH(int, blockBytes);
        QFETCH(int, maxCodes);
        QFETCH(QList<int>, pieces);
        QFETCH(QByteArray, head);
        const QByteArray pcm = sweep(blockBytes / 2 + 1).left(blockBytes);
        QByteArray buffer(maxCodes + 16, '\x5a');
        QList<int> got;
        QByteArray codes;
        QByteArray firstHead;
        QVERIFY(EncodeALawPieces(pcm.constData(), unsigned(blockBytes), maxCodes,
            reinterpret_cast<unsigned char *>(buffer.data()), [&](const unsigned char *c, int n) {
                unsigned char h[kVoiceFrameHeadSize];
                WriteVoiceFrameHead(h, rate, n);
                if (got.isEmpty())
                    firstHead = QByteArray(reinterpret_cast<const char *>(h), kVoiceFrameHeadSize);
                got.append(n);
                codes.append(reinterpret_cast<const char *>(c), n);
                return true;
            }));
        QCOMPARE(got, pieces);
        QCOMPARE(firstHead.toHex(), head);
        QCOMPARE(buffer.mid(maxCodes), QByteArray(16, '\x5a'));
        QVERIFY(matchesPython(codes, pcm.left(blockBytes & ~1)));
    }

    // At 8000 Hz the recording stops by itself just past its limit, with one
    // "ended" event; the file is the A-law of what the microphone heard.
    void recordingEndsAtItsLimit()
    {
        QFile::remove(path());
        VoiceCustom *v = voice();
        EventLog spy(v);
        QCOMPARE(v->StartRecordVoice(), 0);
        QCOMPARE(v->StartRecordVoice(), -3);
        QCOMPARE(v->StartTest(), -1);
        QTRY_VERIFY_WITH_TIMEOUT(!events(spy, 1).isEmpty(), 30000);
        QTRY_VERIFY(!LumarelControl::audioCaptureRunning());
        QCOMPARE(v->state(), int(VoiceCustom::Idle));

        // A block that comes late changes nothing.
        const QByteArray before = [&] {
            QFile f(path());
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        VoiceCustom::AudioCaptureCallback(m_pcm.constData(), 320, v);
        QCoreApplication::processEvents();

        const QList<QJsonObject> all = events(spy);
        QCOMPARE(events(spy, 1).size(), 1);
        QCOMPARE(all.last().value("SubEvent").toInt(), 1);
        QCOMPARE(all.last().value("Ret").toInt(), 100);
        QCOMPARE(all.last().value("Pos").toInt(), 0);
        QCOMPARE(all.first().value("Pos").toInt(), 5);
        for (int i = 1; i < all.size(); ++i)
            QVERIFY(all[i].value("Pos").toInt() <= all[i - 1].value("Pos").toInt());

        QFile f(path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray recorded = f.readAll();
        QCOMPARE(recorded, before);
        QVERIFY(recorded.size() > 40960 && recorded.size() <= 40960 + 160);
        QByteArray heard;
        while (heard.size() < recorded.size() * 2)
            heard += m_pcm;
        QVERIFY(matchesPython(recorded, heard.left(recorded.size() * 2)));
    }

    // A stop from two threads at once ends the recording once.
    void stopFromTwoThreads()
    {
        VoiceCustom *v = voice();
        EventLog spy(v);
        QCOMPARE(v->StartRecordVoice(), 0);
        QTRY_VERIFY(!events(spy, 0).isEmpty());
        int results[2] = { -9, -9 };
        std::thread a([&] { results[0] = v->StopRecordVoice(); });
        std::thread b([&] { results[1] = v->StopRecordVoice(); });
        a.join();
        b.join();
        QCOMPARE(results[0], 0);
        QCOMPARE(results[1], 0);
        QCoreApplication::processEvents();
        QCOMPARE(events(spy, 1).size(), 1);
        QVERIFY(!LumarelControl::audioCaptureRunning());
        QCOMPARE(v->StopRecordVoice(), 0);
    }

    void testRefusals_data()
    {
        QTest::addColumn<int>("fileBytes");
        QTest::addColumn<int>("result");
        QTest::newRow("no file") << -1 << -2;
        QTest::newRow("empty file") << 0 << -3;
    }
    void testRefusals()
    {
        QFETCH(int, fileBytes);
        QFETCH(int, result);
        QFile::remove(path());
        if (fileBytes >= 0) {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(voice()->StartTest(), result);
        QCOMPARE(voice()->state(), int(VoiceCustom::Idle));
        LumarelControl::PortStats s;
        QVERIFY(LumarelControl::portStats(499, &s));
        QVERIFY(!s.open);
        QCOMPARE(voice()->StopTest(), 0);
    }

    // After 16 kHz was asked once, recordings and tests stay at 16 kHz; the
    // test plays 320-byte frames on the talk sound port until stopped.
    void sixteenKilohertzSticks()
    {
        VoiceCustom *v = voice();
        v->SetSampleRate16K(true);
        v->SetSampleRate16K(false);
        QCOMPARE(v->sampleRate(), 16000);
        QCOMPARE(VoiceCustom::frameSize(), 320);
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(AudioPeer::audioop(QStringLiteral("lin2alaw"), m_pcm));
        f.close();
        EventLog spy(v);
        QCOMPARE(v->StartTest(), 0);
        QCOMPARE(v->StartTest(), -1);
        QCOMPARE(v->StartRecordVoice(), -3);
        LumarelControl::PortStats s;
        QTRY_VERIFY(LumarelControl::portStats(499, &s) && s.soundSamples >= 640);
        QCOMPARE(s.soundSamples % 320, int64_t(0));
        QCOMPARE(LumarelControl::soundSharePorts(), std::vector<int> { 499 });
        QCOMPARE(v->StopTest(), 0);
        QTRY_COMPARE(events(spy, 3).size(), 1);
        QTRY_COMPARE(v->state(), int(VoiceCustom::Idle));
        QVERIFY(LumarelControl::portStats(499, &s));
        QVERIFY(!s.open);
        QVERIFY(LumarelControl::soundSharePorts().empty());
        QVERIFY(QFile::exists(path()));
    }

    // Ending the recorder while its test plays waits for the test thread.
    void releaseDuringTest()
    {
        QCOMPARE(voice()->StartTest(), 0);
        VoiceCustom::ReleaseInstance();
        LumarelControl::PortStats s;
        QVERIFY(LumarelControl::portStats(499, &s));
        QVERIFY(!s.open);
        QCOMPARE(voice()->state(), int(VoiceCustom::Idle));
        QCOMPARE(VoiceCustom::frameSize(), 320);
    }
};

QTEST_MAIN(TestVoiceCustom)
#include "tst_voice_custom.moc"
