// Stream data arrives on a device thread while the GUI thread stops and
// closes the ports: nothing may crash, hang or race. Run under ThreadSanitizer
// with the tsan preset.

#include "DecodeChannel.h"
#include "TestMedia.h"

#include <QWidget>
#include <QtTest>

#include <atomic>
#include <thread>

class TestDecodeChannelThreads : public QObject
{
    Q_OBJECT

private slots:
    void feedWhileTheGuiThreadStopsAndCloses_data()
    {
        QTest::addColumn<bool>("fileMode");
        QTest::newRow("live view, real time") << false;
        QTest::newRow("device playback, file mode") << true;
    }

    void feedWhileTheGuiThreadStopsAndCloses()
    {
        QFETCH(bool, fileMode);
        TestMedia::VideoOptions o;
        o.frames = 30;
        o.fps = 100;
        const std::vector<QByteArray> blocks = TestMedia::videoBlocks(o);
        QVERIFY(!blocks.empty());

        constexpr int kPorts = 4;
        QWidget windows[kPorts];
        CDecodeChannel *channels[kPorts] = {};
        std::atomic<bool> done { false };
        std::atomic<int64_t> fed { 0 };

        std::thread device([&] {
            size_t i = 0;
            while (!done) {
                for (int p = 0; p < kPorts; ++p) {
                    // The channel object itself belongs to the GUI thread;
                    // the device side only feeds the library port by number.
                    const QByteArray &b = blocks[i % blocks.size()];
                    TRV_PLAY_InputData(
                        64 + p, reinterpret_cast<const unsigned char *>(b.constData()), unsigned(b.size()));
                    ++fed;
                }
                ++i;
            }
        });

        for (int round = 0; round < 6; ++round) {
            for (int p = 0; p < kPorts; ++p) {
                windows[p].resize(80, 60);
                windows[p].show();
                channels[p] = new CDecodeChannel(64 + p);
                channels[p]->SetHwnd(windows[p].winId());
                QVERIFY(channels[p]->Open(0));
                QVERIFY(fileMode ? channels[p]->StartPlayback(false) : channels[p]->StartPreview());
            }
            const int64_t before = fed;
            QTRY_VERIFY(fed > before + 50);
            QTest::qWait(20); // let queued pictures reach the windows
            for (int p = 0; p < kPorts; ++p) {
                // Half of them paused first: in file mode that holds the device thread back.
                if (p % 2)
                    QCOMPARE(channels[p]->PlayControl(2), 2);
                QVERIFY(fileMode ? channels[p]->StopPlayback() : channels[p]->StopPreview());
                QCOMPARE(channels[p]->Close(), 1);
                delete channels[p];
                channels[p] = nullptr;
            }
        }
        done = true;
        device.join();
        QVERIFY(fed > 0);
    }
};

QTEST_MAIN(TestDecodeChannelThreads)
#include "tst_decode_channel_threads.moc"
