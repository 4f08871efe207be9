// Drawing of the play library into a widget: the picture, the display
// region, colour, original size and the draw callback.

#include "PortAccess.h"
#include "TestMedia.h"
#include "lumarel/LumarelControl.h"
#include "lumarel/lumarel.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <cmath>

using LumarelControl::PortStats;

namespace {

struct DrawLog
{
    int calls = 0;
    bool painterActive = false;
};

void drawMarker(int reserved, QPainter *painter, void *user)
{
    auto *log = static_cast<DrawLog *>(user);
    ++log->calls;
    log->painterActive = reserved == 0 && painter && painter->isActive();
    if (painter)
        painter->fillRect(QRect(0, 0, 4, 4), Qt::magenta);
}

QColor at(const QImage &image, double fx, double fy)
{
    return image.pixelColor(int(fx * (image.width() - 1)), int(fy * (image.height() - 1)));
}

} // namespace

class TestLumarelWindow : public QObject
{
    Q_OBJECT

private:
    QWidget *m_target = nullptr;
    std::vector<QByteArray> m_blocks;

    // The quadrant stream shown in the target through port 7.
    void showPicture()
    {
        const unsigned char head = 0;
        QVERIFY(TRV_PLAY_OpenStream(7, &head, 1, 4096000));
        QVERIFY(TRV_PLAY_Play(7, TRV_PLAY_WND(m_target->winId())));
        QVERIFY(feed(7, TestMedia::join(m_blocks)));
        QTRY_COMPARE(stats(7).framesShown, int64_t(m_blocks.size()));
        QTRY_VERIFY(stats(7).framesDrawn > 0);
    }

    QImage grabAfterRedraw()
    {
        const int64_t before = stats(7).framesDrawn;
        [&] { QTRY_VERIFY(stats(7).framesDrawn > before); }();
        return m_target->grab().toImage();
    }

private slots:
    void initTestCase()
    {
        TestMedia::VideoOptions o;
        o.frames = 5;
        o.width = 128;
        o.height = 96;
        m_blocks = TestMedia::videoBlocks(o);
        QCOMPARE(int(m_blocks.size()), 5);
    }

    void init()
    {
        m_target = new QWidget;
        m_target->setStyleSheet(QStringLiteral("background: black"));
        m_target->resize(200, 150);
        m_target->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_target));
    }

    void cleanup()
    {
        TRV_PLAY_CloseStream(7);
        delete m_target;
        m_target = nullptr;
    }

    void unknownWindowIsRefused()
    {
        const unsigned char head = 0;
        QVERIFY(TRV_PLAY_OpenStream(7, &head, 1, 100000));
        QCOMPARE(TRV_PLAY_Play(7, TRV_PLAY_WND(0x7fffffff)), 0);
        QCOMPARE(TRV_PLAY_GetLastError(7), int(TRV_PLAY_ERR_WINDOW));
        QVERIFY(!stats(7).playing);
    }

    void grabShowsTheDecodedPicture()
    {
        const QImage before = m_target->grab().toImage();
        showPicture();
        const QImage image = m_target->grab().toImage();
        QCOMPARE(image.size(), QSize(200, 150));
        for (int q = 0; q < 4; ++q) {
            const QColor c = at(image, q % 2 ? 0.75 : 0.25, q / 2 ? 0.75 : 0.25);
            QVERIFY2(TestMedia::near(c, TestMedia::quadrantColour(q), 24), qPrintable(c.name()));
        }
        QVERIFY(before.pixelColor(50, 40) != image.pixelColor(50, 40));
        QVERIFY(stats(7).hasWindow);

        // The picture follows the target's size.
        m_target->resize(320, 240);
        const QImage larger = grabAfterRedraw();
        QCOMPARE(larger.size(), QSize(320, 240));
        QVERIFY(TestMedia::near(at(larger, 0.9, 0.9), TestMedia::quadrantColour(3), 24));

        // Stop takes the picture away again.
        QVERIFY(TRV_PLAY_Stop(7));
        QTRY_VERIFY(m_target->findChildren<QWidget *>().isEmpty());
    }

    void displayRegionCropsThePicture()
    {
        showPicture();
        const TRV_PLAY_RECT bottomRight { 4096, 4096, 8192, 8192 };
        QVERIFY(TRV_PLAY_SetDisplayRegion(7, 0, &bottomRight, 0, 1));
        // A redraw already under way when the region changes still shows the
        // whole picture, so the window is grabbed until the region arrives.
        QImage image;
        QTRY_VERIFY((image = m_target->grab().toImage(),
            TestMedia::near(at(image, 0.1, 0.1), TestMedia::quadrantColour(3), 24)));
        QVERIFY(TestMedia::near(at(image, 0.9, 0.9), TestMedia::quadrantColour(3), 24));

        const TRV_PLAY_RECT inverted { 5000, 0, 4000, 8192 };
        QCOMPARE(TRV_PLAY_SetDisplayRegion(7, 0, &inverted, 0, 1), 0);
        const TRV_PLAY_RECT outside { 0, 0, 9000, 8192 };
        QCOMPARE(TRV_PLAY_SetDisplayRegion(7, 0, &outside, 0, 1), 0);
        QCOMPARE(TRV_PLAY_GetLastError(7), int(TRV_PLAY_ERR_PARA));

        QVERIFY(TRV_PLAY_SetDisplayRegion(7, 0, nullptr, 0, 0));
        QTRY_VERIFY(
            TestMedia::near(at(m_target->grab().toImage(), 0.1, 0.1), TestMedia::quadrantColour(0), 24));
    }

    void colourIsStoredAndApplied()
    {
        showPicture();
        int b = 0, c = 0, s = 0, h = 0;
        QVERIFY(TRV_PLAY_GetColor(7, 0, &b, &c, &s, &h));
        QCOMPARE(QList<int>({ b, c, s, h }), QList<int>({ 64, 64, 64, 64 }));
        QCOMPARE(TRV_PLAY_SetColor(7, 0, 129, 64, 64, 64), 0);
        QCOMPARE(TRV_PLAY_SetColor(7, 0, 64, -1, 64, 64), 0);

        // No saturation: the red quadrant turns grey.
        // A redraw already under way when the colour changes still shows the
        // old colours, so the window is grabbed until the new ones arrive.
        QVERIFY(TRV_PLAY_SetColor(7, 0, 64, 64, 0, 64));
        QColor grey;
        QTRY_VERIFY2((grey = at(m_target->grab().toImage(), 0.25, 0.25),
                         std::abs(grey.red() - grey.green()) < 12 && std::abs(grey.red() - grey.blue()) < 12),
            qPrintable(grey.name()));
        // Full brightness lifts the blue quadrant.
        QVERIFY(TRV_PLAY_SetColor(7, 0, 128, 64, 64, 64));
        QTRY_VERIFY(at(m_target->grab().toImage(), 0.25, 0.75).lightness()
            > TestMedia::quadrantColour(2).lightness() + 40);
        QVERIFY(TRV_PLAY_GetColor(7, 0, &b, &c, &s, &h));
        QCOMPARE(QList<int>({ b, c, s, h }), QList<int>({ 128, 64, 64, 64 }));
    }

    void originalSizeShowsPicturePixels()
    {
        showPicture();
        const int on = 1;
        QVERIFY(TRV_PLAY_SetOriginalDisplay(7, 0, &on));
        // A 128x96 picture centred in 200x150: black around it (grabbed until
        // a redraw begun before the switch has made way for the new layout).
        QImage image;
        QTRY_COMPARE((image = m_target->grab().toImage()).pixelColor(10, 10), QColor(Qt::black));
        QVERIFY(TestMedia::near(image.pixelColor(36 + 20, 27 + 20), TestMedia::quadrantColour(0), 24));
        QVERIFY(stats(7).originalDisplay);
    }

    void drawCallbackGetsThePainter()
    {
        DrawLog log;
        const unsigned char head = 0;
        QVERIFY(TRV_PLAY_OpenStream(7, &head, 1, 4096000));
        QVERIFY(TRV_PLAY_RegisterDrawCallBack(7, drawMarker, &log));
        QVERIFY(TRV_PLAY_Play(7, TRV_PLAY_WND(m_target->winId())));
        QVERIFY(feed(7, TestMedia::join(m_blocks)));
        QTRY_VERIFY(log.calls > 0);
        QVERIFY(log.painterActive);
        QCOMPARE(m_target->grab().toImage().pixelColor(1, 1), QColor(Qt::magenta));
        QCOMPARE(stats(7).drawCallbacks, int64_t(log.calls));
        QVERIFY(TRV_PLAY_SetRenderMode(7, 1, 2));
        QCOMPARE(stats(7).renderMode, 2);
    }

    void surfaceLetsMouseEventsThrough()
    {
        showPicture();
        const auto children = m_target->findChildren<QWidget *>();
        QCOMPARE(children.size(), 1);
        QVERIFY(children.first()->testAttribute(Qt::WA_TransparentForMouseEvents));
        QCOMPARE(m_target->childAt(50, 50), nullptr);
    }

    // A live picture in a window of a large grid, against the same stream
    // decoded in full by ffmpeg and scaled by it with its area filter. Small
    // windows take shortcuts (no deblocking, every other row) that must not
    // be seen; a window larger than half the picture takes none.
    void smallWindowMatchesScaledReference_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<double>("minimum"); // dB

        // About what the window showed before it took any shortcut (21.3,
        // 19.3 and 24.5 dB), less a margin: the fast scaler, not the
        // shortcuts, sets the distance to the area filter.
        QTest::newRow("64-window grid cell") << QSize(160, 90) << 20.0;
        QTest::newRow("odd cell") << QSize(117, 71) << 18.0;
        QTest::newRow("above half the picture") << QSize(200, 160) << 23.0;
    }

    void smallWindowMatchesScaledReference()
    {
        QFETCH(QSize, window);
        QFETCH(double, minimum);

        const TestMedia::VideoOptions o = TestMedia::cameraLike();
        const std::vector<QByteArray> blocks = TestMedia::videoBlocks(o);
        QCOMPARE(int(blocks.size()), o.frames);
        const QByteArray last = TestMedia::scaledReference(blocks, window);
        QVERIFY(!last.isEmpty());

        m_target->resize(window);
        const unsigned char head = 0;
        QVERIFY(TRV_PLAY_OpenStream(7, &head, 1, 4096000));
        QVERIFY(TRV_PLAY_Play(7, TRV_PLAY_WND(m_target->winId())));
        QVERIFY(feed(7, TestMedia::join(blocks)));
        QTRY_COMPARE(stats(7).framesShown, int64_t(o.frames));
        // Earlier pictures of the moving texture are far from the last one:
        // grabbed until the last picture is on screen.
        double db = 0;
        QTRY_VERIFY2((db = TestMedia::psnr(m_target->grab().toImage(), last)) >= minimum,
            qPrintable(QStringLiteral("%1 dB").arg(db)));
        qInfo("%dx%d window: %.1f dB against the reference", window.width(), window.height(), db);
    }

    // A live window at most half the picture's size decodes its pictures a
    // few at a time and paints every one of them, in order, at its time,
    // even those that reached it together; fewer than a burst are shown
    // after a wait. Resized while pictures wait for their time, it still
    // paints each; grown past half the picture, it shows them at once and
    // takes every later picture as it comes.
    void smallWindowDrawsEveryPicture_data()
    {
        QTest::addColumn<int>("pictures");
        QTest::addColumn<QSize>("resizeTo"); // after the pictures reached the window
        QTest::addColumn<bool>("burstsAfter");
        QTest::newRow("two bursts at once") << 8 << QSize() << true;
        QTest::newRow("less than a burst") << 2 << QSize() << true;
        QTest::newRow("resized, still small") << 8 << QSize(56, 40) << true;
        QTest::newRow("grown past half the picture") << 8 << QSize(200, 150) << false;
    }

    void smallWindowDrawsEveryPicture()
    {
        QFETCH(int, pictures);
        QFETCH(QSize, resizeTo);
        QFETCH(bool, burstsAfter);
        m_target->resize(60, 44); // the picture is 128x96
        showPicture();
        QTRY_COMPARE(stats(7).framesDrawn, int64_t(m_blocks.size()));
        const auto some = [&](int count) {
            QByteArray blocks;
            for (int i = 0; i < count; ++i)
                blocks += m_blocks[size_t(i) % m_blocks.size()];
            return blocks;
        };
        QVERIFY(feed(7, some(pictures)));
        const int64_t expected = int64_t(m_blocks.size()) + pictures;
        QTRY_COMPARE(stats(7).framesShown, expected);
        QVERIFY(stats(7).framesQueued > 0);
        if (resizeTo.isValid()) {
            // The last pictures still wait for their time; a redraw at the
            // new size may add a paint of its own.
            m_target->resize(resizeTo);
            QTRY_VERIFY(stats(7).framesDrawn >= expected);
        } else {
            QTRY_COMPARE(stats(7).framesDrawn, expected);
        }

        // Two more pictures, one after the other, fewer than a burst.
        const int64_t queued = stats(7).framesQueued;
        for (int i = 0; i < 2; ++i) {
            const int64_t drawn = stats(7).framesDrawn;
            QVERIFY(feed(7, some(1)));
            QTRY_VERIFY(stats(7).framesDrawn > drawn);
        }
        QCOMPARE(stats(7).framesShown, expected + 2);
        QCOMPARE(stats(7).framesQueued > queued, burstsAfter);
    }

    void targetDestroyedWhilePlaying()
    {
        showPicture();
        delete m_target;
        m_target = new QWidget;
        QVERIFY(feed(7, m_blocks.back()));
        QTRY_COMPARE(stats(7).framesShown, int64_t(m_blocks.size() + 1));
        QVERIFY(TRV_PLAY_Stop(7));
    }
};

QTEST_MAIN(TestLumarelWindow)
#include "tst_lumarel_window.moc"
