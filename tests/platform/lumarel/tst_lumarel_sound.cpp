// Sound output of the play library through a private sound server: what
// reaches the speaker is recorded from the sink's monitor with parec and
// measured (pitch, loudness), not read from the library's counters.

#include "PortAccess.h"
#include "PulseServer.h"
#include "TestMedia.h"
#include "lumarel/LumarelControl.h"
#include "lumarel/lumarel.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

constexpr int kMonitorRate = 16000;
constexpr double kAmplitude = 6000; // of TestMedia's tones

// A device's audio: a block every `blockMs` on a thread of its own, paced by
// the clock as a device's stream is, `blocksPerTick` blocks at a time (more
// than one: faster than real time).
class ToneFeeder
{
public:
    ToneFeeder(int port, double frequency, int rate, int blocksPerTick = 1, int blockMs = 40)
        : m_thread([=] {
            const int samples = rate / 1000 * blockMs;
            int64_t first = 0;
            auto next = std::chrono::steady_clock::now();
            while (!m_stop) {
                for (int i = 0; i < blocksPerTick; ++i) {
                    if (feed(port,
                            TestMedia::audioBlock(samples, rate, 1 + first * 1000 / rate, frequency, first)))
                        ++m_blocks;
                    first += samples;
                }
                next += std::chrono::milliseconds(blockMs);
                std::this_thread::sleep_until(next);
            }
        })
    { }
    ~ToneFeeder()
    {
        m_stop = true;
        m_thread.join();
    }
    int blocks() const { return m_blocks; }

private:
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_blocks { 0 };
    std::thread m_thread;
};

int openPlaying(int port)
{
    const unsigned char head = 0;
    return TRV_PLAY_OpenStream(port, &head, 1, 1 << 20) && TRV_PLAY_Play(port, 0);
}

// Warnings of the library's sound parts.
std::atomic<int> g_soundWarnings { 0 };
QtMessageHandler g_previousHandler = nullptr;

void countSoundWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && context.category && qstrcmp(context.category, "lumarel.sound") == 0)
        ++g_soundWarnings;
    g_previousHandler(type, context, text);
}

QString describe(const QVector<qint16> &s, double frequency)
{
    return QStringLiteral("rms %1, %2 Hz amplitude %3")
        .arg(SoundMeasure::rms(s))
        .arg(frequency)
        .arg(SoundMeasure::amplitudeAt(s, kMonitorRate, frequency));
}

} // namespace

class TestLumarelSound : public QObject
{
    Q_OBJECT

    // Waits until `frequency` dominates what the speaker plays; `heard`
    // gets the last 200 ms heard.
    static bool hearsTone(PulseRecorder &speaker, double frequency, QVector<qint16> *heard = nullptr)
    {
        QElapsedTimer t;
        t.start();
        QVector<qint16> last;
        while (t.elapsed() < 15000) {
            last = speaker.next(200);
            if (SoundMeasure::dominatedBy(last, kMonitorRate, frequency) && SoundMeasure::rms(last) > 500) {
                if (heard)
                    *heard = last;
                return true;
            }
        }
        qWarning("never heard %g Hz: %s (%d samples)", frequency, qPrintable(describe(last, frequency)),
            int(last.size()));
        return false;
    }

    // Nothing of `frequency` reaches the speaker from 200 ms after now on.
    void silentWithin200Ms(PulseRecorder &speaker, double frequency)
    {
        speaker.next(1); // from now on
        speaker.take(200); // the budget
        const QVector<qint16> after = speaker.take(300);
        QVERIFY2(SoundMeasure::amplitudeAt(after, kMonitorRate, frequency) < 100,
            qPrintable(describe(after, frequency)));
    }

private slots:
    void initTestCase()
    {
        g_previousHandler = qInstallMessageHandler(countSoundWarnings);
        m_pulse = std::make_unique<PulseServer>();
        QVERIFY2(m_pulse->start(), qPrintable(m_pulse->errorText()));
        qputenv("PULSE_SERVER", m_pulse->address().toUtf8());
    }

    void cleanup()
    {
        TRV_PLAY_StopSound();
        for (int port : { 1, 2, 499 }) {
            TRV_PLAY_StopSoundShare(port);
            TRV_PLAY_CloseStream(port);
        }
        TRV_PLAY_StopSound();
    }

    void toneReachesTheSpeakerAtItsPitch_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("frequency");
        QTest::newRow("8 kHz, 1 kHz tone") << 8000 << 1000.0;
        QTest::newRow("16 kHz, 440 Hz tone") << 16000 << 440.0;
    }

    void toneReachesTheSpeakerAtItsPitch()
    {
        QFETCH(int, rate);
        QFETCH(double, frequency);
        PulseRecorder speaker(*m_pulse, QStringLiteral("speaker.monitor"), kMonitorRate);
        QVERIFY(openPlaying(1));
        QVERIFY(TRV_PLAY_PlaySound(1));
        ToneFeeder device(1, frequency, rate);
        QVector<qint16> heard;
        QVERIFY(hearsTone(speaker, frequency, &heard));
        // As loud as it was decoded (full volume): the typical window, since
        // a loaded machine may starve the stream for a moment.
        QTRY_VERIFY2_WITH_TIMEOUT(
            (heard = speaker.next(200),
                qAbs(SoundMeasure::typicalAmplitudeAt(heard, kMonitorRate, frequency) - kAmplitude)
                    < 0.15 * kAmplitude),
            qPrintable(describe(heard, frequency)), 10000);
        QCOMPARE(m_pulse->playStreams(), 1);

        QVERIFY(TRV_PLAY_StopSound());
        silentWithin200Ms(speaker, frequency);
        // Its stream is gone with the sound.
        QTRY_COMPARE(m_pulse->playStreams(), 0);
    }

    void takingTheSoundAwaySilencesItWithin200Ms_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how :
            { "stop sound", "another port takes it", "pause", "stop", "close", "fast", "step" })
            QTest::newRow(how) << QString::fromLatin1(how);
    }

    void takingTheSoundAwaySilencesItWithin200Ms()
    {
        QFETCH(QString, how);
        PulseRecorder speaker(*m_pulse, QStringLiteral("speaker.monitor"), kMonitorRate);
        QVERIFY(openPlaying(1));
        QVERIFY(openPlaying(2));
        QVERIFY(TRV_PLAY_PlaySound(1));
        // Twice as fast as real time: everything the library lets wait is
        // waiting when the sound goes.
        ToneFeeder device(1, 1000, 8000, 2);
        QVERIFY(hearsTone(speaker, 1000));
        if (how == QLatin1String("stop sound"))
            QVERIFY(TRV_PLAY_StopSound());
        else if (how == QLatin1String("another port takes it"))
            QVERIFY(TRV_PLAY_PlaySound(2));
        else if (how == QLatin1String("pause"))
            QVERIFY(TRV_PLAY_Pause(1, 1));
        else if (how == QLatin1String("stop"))
            QVERIFY(TRV_PLAY_Stop(1));
        else if (how == QLatin1String("close"))
            QVERIFY(TRV_PLAY_CloseStream(1));
        else if (how == QLatin1String("fast"))
            QVERIFY(TRV_PLAY_Fast(1));
        else if (how == QLatin1String("step"))
            QVERIFY(TRV_PLAY_StepForward(1));
        silentWithin200Ms(speaker, 1000);
    }

    void aBurstIsDroppedNotQueued()
    {
        PulseRecorder speaker(*m_pulse, QStringLiteral("speaker.monitor"), kMonitorRate);
        QVERIFY(openPlaying(1));
        QVERIFY(TRV_PLAY_PlaySound(1));
        {
            ToneFeeder device(1, 440, 8000);
            QVERIFY(hearsTone(speaker, 440));
        }
        // Three seconds at once, as after a stall of the network.
        const int64_t decoded = stats(1).audioSamplesDecoded;
        QByteArray burst;
        for (int i = 0; i < 75; ++i)
            burst += TestMedia::audioBlock(320, 8000, 1 + i * 40, 1000, i * 320);
        QVERIFY(feed(1, burst));
        QTRY_COMPARE(stats(1).audioSamplesDecoded, decoded + 75 * 320);
        // Its end plays (what a server buffer and the library's queue
        // hold); the rest is gone.
        const QVector<qint16> first = speaker.next(100);
        QVERIFY2(
            SoundMeasure::amplitudeAt(first, kMonitorRate, 1000) > 1000, qPrintable(describe(first, 1000)));
        speaker.take(300);
        const QVector<qint16> later = speaker.take(400);
        QVERIFY2(
            SoundMeasure::amplitudeAt(later, kMonitorRate, 1000) < 100, qPrintable(describe(later, 1000)));
    }

    void sharedPortsAreMixed()
    {
        PulseRecorder speaker(*m_pulse, QStringLiteral("speaker.monitor"), kMonitorRate);
        QVERIFY(openPlaying(1));
        QVERIFY(openPlaying(499));
        QVERIFY(TRV_PLAY_PlaySound(1));
        QVERIFY(TRV_PLAY_PlaySoundShare(499));
        ToneFeeder live(1, 440, 8000);
        ToneFeeder talk(499, 1000, 16000);
        QVector<qint16> heard;
        auto both = [&heard] {
            return SoundMeasure::typicalAmplitudeAt(heard, kMonitorRate, 440) > 0.8 * kAmplitude
                && SoundMeasure::typicalAmplitudeAt(heard, kMonitorRate, 1000) > 0.8 * kAmplitude;
        };
        QTRY_VERIFY_WITH_TIMEOUT((heard = speaker.next(200), both()), 15000);
        QCOMPARE(m_pulse->playStreams(), 2);
        // The share stops; the owner plays on.
        QVERIFY(TRV_PLAY_StopSoundShare(499));
        QTRY_VERIFY_WITH_TIMEOUT(
            (heard = speaker.next(200),
                SoundMeasure::amplitudeAt(heard, kMonitorRate, 1000) < 100
                    && SoundMeasure::typicalAmplitudeAt(heard, kMonitorRate, 440) > 0.8 * kAmplitude),
            5000);
    }

    void volumeScalesWhatTheSpeakerGets_data()
    {
        QTest::addColumn<int>("volume");
        QTest::newRow("full") << 0xFFFF;
        QTest::newRow("half") << 0x8000;
        QTest::newRow("an eighth") << 0x2000;
    }

    void volumeScalesWhatTheSpeakerGets()
    {
        QFETCH(int, volume);
        PulseRecorder speaker(*m_pulse, QStringLiteral("speaker.monitor"), kMonitorRate);
        QVERIFY(openPlaying(1));
        QVERIFY(TRV_PLAY_SetVolume(1, quint16(volume)));
        QVERIFY(TRV_PLAY_PlaySound(1));
        ToneFeeder device(1, 1000, 8000);
        const double expected = kAmplitude * volume / 0xFFFF;
        QVector<qint16> heard;
        QTRY_VERIFY_WITH_TIMEOUT(
            (heard = speaker.next(200),
                qAbs(SoundMeasure::typicalAmplitudeAt(heard, kMonitorRate, 1000) - expected)
                    < 0.15 * expected),
            15000);
    }

    // Last but one: ends the server and starts another.
    void aServerThatGoesAwayLeavesTheOutputSilentUntilItIsBack()
    {
        QVERIFY(openPlaying(1));
        QVERIFY(TRV_PLAY_PlaySound(1));
        ToneFeeder device(1, 1000, 8000);
        {
            PulseRecorder speaker(*m_pulse, QStringLiteral("speaker.monitor"), kMonitorRate);
            QVERIFY(hearsTone(speaker, 1000));
        }
        const int warningsBefore = g_soundWarnings;
        m_pulse->kill();
        QTRY_COMPARE(g_soundWarnings.load(), warningsBefore + 1);
        // The port goes on decoding and counting, silently.
        const int64_t played = stats(1).soundSamples;
        QTRY_VERIFY(stats(1).soundSamples > played + 8000);
        QVERIFY(device.blocks() > 0);

        // A new server; the next time the port takes the sound it is heard there.
        m_pulse = std::make_unique<PulseServer>();
        QVERIFY2(m_pulse->start(), qPrintable(m_pulse->errorText()));
        qputenv("PULSE_SERVER", m_pulse->address().toUtf8());
        PulseRecorder speaker(*m_pulse, QStringLiteral("speaker.monitor"), kMonitorRate);
        QVERIFY(TRV_PLAY_PlaySound(1));
        QVERIFY(hearsTone(speaker, 1000));
        QCOMPARE(g_soundWarnings.load(), warningsBefore + 1);
    }

    // Last: without a server, sound is counted and silent, with one warning
    // however often a port takes it.
    void withoutAServerSoundIsSilentWithOneWarning()
    {
        const int warningsBefore = g_soundWarnings;
        m_pulse->kill();
        QVERIFY(openPlaying(1));
        ToneFeeder device(1, 1000, 8000);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(TRV_PLAY_PlaySound(1));
            const int64_t played = stats(1).soundSamples;
            QTRY_VERIFY(stats(1).soundSamples > played + 800);
        }
        // A capture waits for the answer to its own attempt, which comes
        // after those of the ports.
        auto none = [](const char *, unsigned int, void *) {};
        QCOMPARE(TRV_PLAY_StartAudioCapture(none, 16, 8000, 640, nullptr), 0);
        QCOMPARE(TRV_PLAY_GetLastError(0), int(TRV_PLAY_ERR_AUDIO_DEVICE));
        QCOMPARE(g_soundWarnings.load(), warningsBefore + 1);
    }

private:
    std::unique_ptr<PulseServer> m_pulse;
};

QTEST_GUILESS_MAIN(TestLumarelSound)
#include "tst_lumarel_sound.moc"
