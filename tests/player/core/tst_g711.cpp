// G.711 encoders: the known codes, and every 16-bit input against Python's
// audioop as an independent encoder and decoder.

#include "player/core/G711.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <vector>

namespace {

// Quantisation step of the segment a magnitude falls in.
int alawStep(int magnitude)
{
    int step = 16;
    for (int limit = 512; limit <= 32768 && magnitude >= limit; limit <<= 1)
        step <<= 1;
    return step;
}

int ulawStep(int magnitude)
{
    int step = 8;
    for (int limit = 256 - 132; magnitude + 132 >= limit + 132 && step < 1024;
         limit = ((limit + 132) << 1) - 132)
        step <<= 1;
    return step;
}

} // namespace

class TestG711 : public QObject
{
    Q_OBJECT

private slots:
    void knownCodes_data()
    {
        QTest::addColumn<int>("sample");
        QTest::addColumn<int>("alaw");
        QTest::addColumn<int>("ulaw");
        QTest::newRow("0") << 0 << 0xD5 << 0xFF;
        QTest::newRow("-1") << -1 << 0x55 << 0x7F;
        QTest::newRow("3") << 3 << 0xD5 << 0xFF;
        QTest::newRow("-3") << -3 << 0x55 << 0x7F;
        QTest::newRow("32767") << 32767 << 0xAA << 0x80;
        QTest::newRow("-32767") << -32767 << 0x2A << 0x00;
        QTest::newRow("-32768") << -32768 << 0x2A << 0x00;
    }

    void knownCodes()
    {
        QFETCH(int, sample);
        QFETCH(int, alaw);
        QFETCH(int, ulaw);
        QCOMPARE(int(G711ALawFromSample(short(sample))), alaw);
        QCOMPARE(int(G711ULawFromSample(short(sample))), ulaw);
    }

    void blocks()
    {
        const short pcm[3] = { 0, 32767, -32768 };
        unsigned char out[3] = { 0, 0, 0x11 };
        int count = -1;
        // Five bytes: two samples, the odd byte ignored.
        QCOMPARE(G711EncodeALaw(pcm, out, 5, &count), 1);
        QCOMPARE(count, 2);
        QCOMPARE(int(out[0]), 0xD5);
        QCOMPARE(int(out[1]), 0xAA);
        QCOMPARE(int(out[2]), 0x11);
        QCOMPARE(G711EncodeULaw(pcm, out, 6, &count), 1);
        QCOMPARE(count, 3);
        QCOMPARE(int(out[0]), 0xFF);
        QCOMPARE(int(out[1]), 0x80);
        QCOMPARE(int(out[2]), 0x00);
        QCOMPARE(G711EncodeALaw(pcm, out, 0, &count), 1);
        QCOMPARE(count, 0);
        QCOMPARE(G711EncodeALaw(nullptr, out, 4, &count), 0);
        QCOMPARE(G711EncodeULaw(pcm, out, -2, &count), 0);
    }

    // All 65536 inputs: codes equal audioop's for non-negative samples; for
    // negative ones audioop's decoder brings ours back within one step.
    void everySampleAgainstAudioop()
    {
        std::vector<short> pcm(65536);
        for (int i = 0; i < 65536; ++i)
            pcm[size_t(i)] = short(i - 32768);
        QByteArray alaw(65536, 0), ulaw(65536, 0);
        int count = 0;
        QCOMPARE(
            G711EncodeALaw(pcm.data(), reinterpret_cast<unsigned char *>(alaw.data()), 131072, &count), 1);
        QCOMPARE(count, 65536);
        QCOMPARE(
            G711EncodeULaw(pcm.data(), reinterpret_cast<unsigned char *>(ulaw.data()), 131072, &count), 1);

        QTemporaryDir dir;
        QFile in(dir.filePath("ours.bin"));
        QVERIFY(in.open(QIODevice::WriteOnly));
        in.write(alaw);
        in.write(ulaw);
        in.close();
        const QString script = R"(
import audioop, struct, sys
ours = open(sys.argv[1], 'rb').read()
pcm = struct.pack('<65536h', *range(-32768, 32768))
out = open(sys.argv[2], 'wb')
out.write(audioop.lin2alaw(pcm, 2))
out.write(audioop.lin2ulaw(pcm, 2))
out.write(audioop.alaw2lin(ours[:65536], 2))
out.write(audioop.ulaw2lin(ours[65536:], 2))
)";
        QProcess py;
        py.start(
            "/usr/bin/python3", { "-W", "ignore", "-c", script, in.fileName(), dir.filePath("theirs.bin") });
        QVERIFY(py.waitForFinished(60000));
        QVERIFY2(py.exitCode() == 0, py.readAllStandardError().constData());
        QFile theirs(dir.filePath("theirs.bin"));
        QVERIFY(theirs.open(QIODevice::ReadOnly));
        const QByteArray t = theirs.readAll();
        QCOMPARE(t.size(), 65536 * 2 + 65536 * 4);
        const auto *decodedA = reinterpret_cast<const qint16 *>(t.constData() + 131072);
        const auto *decodedU = reinterpret_cast<const qint16 *>(t.constData() + 131072 + 131072);
        int checkedNegative = 0;
        for (int i = 0; i < 65536; ++i) {
            const int s = i - 32768;
            if (s >= 0) {
                QCOMPARE(uint8_t(alaw[i]), uint8_t(t[i]));
                QCOMPARE(uint8_t(ulaw[i]), uint8_t(t[65536 + i]));
                continue;
            }
            const int magnitude = s == -32768 ? 32767 : -s;
            QVERIFY2(std::abs(decodedA[i] - s) <= alawStep(magnitude), qPrintable(QString::number(s)));
            QVERIFY2(std::abs(decodedU[i] - s) <= ulawStep(magnitude), qPrintable(QString::number(s)));
            QVERIFY(decodedA[i] < 0 || s > -16); // the sign survives
            ++checkedNegative;
        }
        QCOMPARE(checkedNegative, 32768);
    }
};

QTEST_APPLESS_MAIN(TestG711)
#include "tst_g711.moc"
