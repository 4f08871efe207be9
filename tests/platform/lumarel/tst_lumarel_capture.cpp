// Audio capture of the play library: block sizes and the microphone's sound
// from a private sound server, the WAV source, a stop after which no block
// arrives, and no capture without a server.

#include "PulseServer.h"
#include "lumarel/LumarelControl.h"
#include "lumarel/lumarel.h"

#include <QtTest>

#include <atomic>
#include <mutex>

namespace {

struct Blocks
{
    std::mutex mutex;
    std::vector<QByteArray> blocks;
    std::atomic<bool> stopped { false };
    std::atomic<int> afterStop { 0 };
    std::atomic<bool> wrongThread { false };
    Qt::HANDLE guiThread = nullptr;
};

void collect(const char *pcm, unsigned int length, void *user)
{
    auto *b = static_cast<Blocks *>(user);
    if (b->stopped)
        ++b->afterStop;
    if (QThread::currentThreadId() == b->guiThread)
        b->wrongThread = true;
    std::lock_guard<std::mutex> lock(b->mutex);
    b->blocks.emplace_back(pcm, int(length));
}

int blockCount(Blocks &b)
{
    std::lock_guard<std::mutex> lock(b.mutex);
    return int(b.blocks.size());
}

QByteArray wavFile(const QVector<qint16> &samples, int rate, int channels)
{
    QByteArray data;
    for (qint16 s : samples)
        for (int c = 0; c < channels; ++c)
            data.append(reinterpret_cast<const char *>(&s), 2); // little-endian host
    QByteArray wav("RIFF");
    auto put32 = [&wav](quint32 v) { wav.append(reinterpret_cast<const char *>(&v), 4); };
    auto put16 = [&wav](quint16 v) { wav.append(reinterpret_cast<const char *>(&v), 2); };
    put32(quint32(36 + data.size()));
    wav += "WAVEfmt ";
    put32(16);
    put16(1);
    put16(quint16(channels));
    put32(quint32(rate));
    put32(quint32(rate * 2 * channels));
    put16(quint16(2 * channels));
    put16(16);
    wav += "data";
    put32(quint32(data.size()));
    return wav + data;
}

} // namespace

class TestLumarelCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_pulse.start(), qPrintable(m_pulse.errorText()));
        qputenv("PULSE_SERVER", m_pulse.address().toUtf8());
    }

    void cleanup()
    {
        TRV_PLAY_StopAudioCapture();
        qunsetenv("LUMAREL_CAPTURE_WAV");
    }

    void blocksHaveExactlyTheRequestedSize_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("length");
        QTest::newRow("talk 8 kHz") << 8000 << 640;
        QTest::newRow("voice 16 kHz") << 16000 << 320;
        QTest::newRow("odd size at 16 kHz") << 16000 << 998;
    }

    void blocksHaveExactlyTheRequestedSize()
    {
        QFETCH(int, rate);
        QFETCH(int, length);
        Blocks b;
        b.guiThread = QThread::currentThreadId();
        QVERIFY(TRV_PLAY_StartAudioCapture(collect, 16, rate, length, &b));
        QCOMPARE(TRV_PLAY_StartAudioCapture(collect, 16, rate, length, &b), 0);
        QCOMPARE(TRV_PLAY_GetLastError(0), int(TRV_PLAY_ERR_BUSY));
        QTRY_VERIFY(blockCount(b) >= 8);
        QVERIFY(TRV_PLAY_StopAudioCapture());
        b.stopped = true;
        QVERIFY(!LumarelControl::audioCaptureRunning());
        std::lock_guard<std::mutex> lock(b.mutex);
        QByteArray all;
        for (const QByteArray &block : b.blocks) {
            QCOMPARE(block.size(), length);
            all += block;
        }
        QVERIFY(!b.wrongThread);
        // The server's microphone, a 660 Hz sine, at the asked rate: at
        // another rate its pitch would be off by the ratio.
        QVector<qint16> samples(all.size() / 2);
        memcpy(samples.data(), all.constData(), size_t(samples.size()) * 2);
        samples = samples.mid(samples.size() / 3); // past the source's start
        QVERIFY2(qAbs(SoundMeasure::zeroCrossingFrequency(samples, rate) - 660) < 10,
            qPrintable(QString::number(SoundMeasure::zeroCrossingFrequency(samples, rate))));
        QVERIFY(SoundMeasure::rms(samples) > 1000);
    }

    void noBlockAfterStopReturns()
    {
        Blocks b;
        QVERIFY(TRV_PLAY_StartAudioCapture(collect, 16, 8000, 160, &b)); // a block every 10 ms
        QTRY_VERIFY(blockCount(b) >= 2);
        QVERIFY(TRV_PLAY_StopAudioCapture());
        b.stopped = true;
        QTest::qWait(60);
        QCOMPARE(b.afterStop.load(), 0);
        QCOMPARE(TRV_PLAY_StopAudioCapture(), 0);
    }

    void samplesComeFromTheWavFile()
    {
        QVector<qint16> samples;
        for (int i = 0; i < 400; ++i)
            samples << qint16(i * 10);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("mic.wav"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(wavFile(samples, 8000, 2));
        f.close();
        qputenv("LUMAREL_CAPTURE_WAV", QFile::encodeName(file));
        Blocks b;
        QVERIFY(TRV_PLAY_StartAudioCapture(collect, 16, 8000, 320, &b));
        QTRY_VERIFY(blockCount(b) >= 3);
        QVERIFY(TRV_PLAY_StopAudioCapture());
        std::lock_guard<std::mutex> lock(b.mutex);
        QByteArray all;
        for (const QByteArray &block : b.blocks)
            all += block;
        const auto *got = reinterpret_cast<const qint16 *>(all.constData());
        // The first channel, in order, and again from the start after the end.
        for (int i = 0; i < 400; ++i)
            QCOMPARE(got[i], samples[i]);
        QCOMPARE(got[400], samples[0]);
    }

    void badSourcesAndArgumentsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("wav");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("error");
        QTest::newRow("8 bits per sample") << QByteArray() << 8 << 320 << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("odd block") << QByteArray() << 16 << 321 << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("empty block") << QByteArray() << 16 << 0 << int(TRV_PLAY_ERR_PARA);
        QTest::newRow("not a WAV file")
            << QByteArray("RIFFxxxxWAVEjunk") << 16 << 320 << int(TRV_PLAY_ERR_OPEN_FILE);
        QTest::newRow("chunk past the end")
            << QByteArray("RIFF\0\0\0\0WAVEfmt \xff\xff\0\0", 20) << 16 << 320 << int(TRV_PLAY_ERR_OPEN_FILE);
    }

    void badSourcesAndArgumentsAreRefused()
    {
        QFETCH(QByteArray, wav);
        QFETCH(int, bits);
        QFETCH(int, length);
        QFETCH(int, error);
        QTemporaryDir dir;
        if (!wav.isEmpty()) {
            QFile f(dir.filePath(QStringLiteral("bad.wav")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(wav);
            f.close();
            qputenv("LUMAREL_CAPTURE_WAV", QFile::encodeName(f.fileName()));
        }
        Blocks b;
        QCOMPARE(TRV_PLAY_StartAudioCapture(collect, bits, 8000, length, &b), 0);
        QCOMPARE(TRV_PLAY_GetLastError(0), error);
        QVERIFY(!LumarelControl::audioCaptureRunning());
    }

    void stopFromTheCallbackEndsTheCapture()
    {
        struct Stopper
        {
            std::atomic<int> calls { 0 };
            std::atomic<int> stopResult { -1 };
        } stopper;
        auto callback = [](const char *, unsigned int, void *user) {
            auto *s = static_cast<Stopper *>(user);
            if (++s->calls == 1)
                s->stopResult = TRV_PLAY_StopAudioCapture();
        };
        QVERIFY(TRV_PLAY_StartAudioCapture(callback, 16, 8000, 160, &stopper));
        QTRY_COMPARE(stopper.stopResult.load(), 1);
        QVERIFY(!LumarelControl::audioCaptureRunning());
        // The next capture starts, on the same server.
        Blocks b;
        QVERIFY(TRV_PLAY_StartAudioCapture(collect, 16, 8000, 160, &b));
        QTRY_VERIFY(blockCount(b) >= 2);
        QVERIFY(TRV_PLAY_StopAudioCapture());
        QCOMPARE(stopper.calls.load(), 1);
    }

    // Last: ends the server. Without it (and without a WAV file) there is
    // no microphone, rather than a made-up one.
    void noServerMeansNoCapture()
    {
        m_pulse.kill();
        Blocks b;
        QCOMPARE(TRV_PLAY_StartAudioCapture(collect, 16, 8000, 640, &b), 0);
        QCOMPARE(TRV_PLAY_GetLastError(0), int(TRV_PLAY_ERR_AUDIO_DEVICE));
        QVERIFY(!LumarelControl::audioCaptureRunning());
        QCOMPARE(TRV_PLAY_StopAudioCapture(), 0);
        QCOMPARE(blockCount(b), 0);
        // A WAV file still stands in for the microphone.
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("mic.wav")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(wavFile(QVector<qint16>(800, 1000), 8000, 1));
        f.close();
        qputenv("LUMAREL_CAPTURE_WAV", QFile::encodeName(f.fileName()));
        QVERIFY(TRV_PLAY_StartAudioCapture(collect, 16, 8000, 640, &b));
        QTRY_VERIFY(blockCount(b) >= 1);
        QVERIFY(TRV_PLAY_StopAudioCapture());
    }

private:
    PulseServer m_pulse;
};

QTEST_GUILESS_MAIN(TestLumarelCapture)
#include "tst_lumarel_capture.moc"
