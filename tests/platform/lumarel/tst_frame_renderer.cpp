// The image a play port hands to its window: the picture scaled to the
// window or shown at its own size, a display region cut out, at sizes that
// are not whole blocks of swscale's vectorised conversion (8 pixels, pairs
// of rows), where the right and bottom edges must still be the picture's.

#include "FrameRenderer.h"
#include "TestMedia.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <QtTest>

#include <memory>
#include <vector>

namespace {

struct FrameFree
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

// A 4:2:0 picture of the four test quadrants.
Frame quadrantPicture(int width, int height)
{
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QColor c = TestMedia::quadrantColour((y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0));
            uint8_t *p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[0] = uint8_t(c.red());
            p[1] = uint8_t(c.green());
            p[2] = uint8_t(c.blue());
        }
    Frame frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    SwsContext *sws = sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, AV_PIX_FMT_YUV420P,
        SWS_POINT, nullptr, nullptr, nullptr);
    const uint8_t *src[4] = { rgb.data(), nullptr, nullptr, nullptr };
    const int srcStride[4] = { width * 3, 0, 0, 0 };
    sws_scale(sws, src, srcStride, 0, height, frame->data, frame->linesize);
    sws_freeContext(sws);
    return frame;
}

} // namespace

class TestFrameRenderer : public QObject
{
    Q_OBJECT

private slots:
    void edgesShowThePicture_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("region"); // in picture pixels; null: the whole picture
        QTest::addColumn<bool>("original");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<int>("brightness");
        QTest::addColumn<QSize>("image");

        const QSize picture(128, 96);
        QTest::newRow("grid cell") << picture << QRect() << false << QSize(158, 88) << 64 << QSize(158, 88);
        QTest::newRow("odd window") << picture << QRect() << false << QSize(157, 89) << 64 << QSize(157, 89);
        QTest::newRow("small window") << picture << QRect() << false << QSize(9, 7) << 64 << QSize(9, 7);
        QTest::newRow("larger window")
            << picture << QRect() << false << QSize(701, 501) << 64 << QSize(701, 501);
        QTest::newRow("window of the picture's size")
            << QSize(126, 94) << QRect() << false << QSize(126, 94) << 64 << QSize(126, 94);
        QTest::newRow("original size")
            << QSize(126, 94) << QRect() << true << QSize(400, 300) << 64 << QSize(126, 94);
        QTest::newRow("original size of a region")
            << picture << QRect(40, 0, 42, 96) << true << QSize(400, 300) << 64 << QSize(42, 96);
        QTest::newRow("region scaled, odd window")
            << picture << QRect(40, 20, 42, 56) << false << QSize(85, 61) << 64 << QSize(85, 61);
        QTest::newRow("colour adjusted region at original size")
            << picture << QRect(40, 0, 42, 96) << true << QSize(400, 300) << 70 << QSize(42, 96);
        // At most half the picture's height: scaled from every other row.
        QTest::newRow("half height, odd rows")
            << QSize(126, 95) << QRect() << false << QSize(40, 47) << 64 << QSize(40, 47);
        QTest::newRow("region of odd height, small window")
            << picture << QRect(40, 20, 42, 57) << false << QSize(15, 21) << 64 << QSize(15, 21);
        QTest::newRow("colour adjusted, small window")
            << picture << QRect() << false << QSize(61, 37) << 70 << QSize(61, 37);
        QTest::newRow("colour adjusted, odd window")
            << picture << QRect() << false << QSize(157, 89) << 70 << QSize(157, 89);
    }

    void edgesShowThePicture()
    {
        QFETCH(QSize, picture);
        QFETCH(QRect, region);
        QFETCH(bool, original);
        QFETCH(QSize, window);
        QFETCH(int, brightness);
        QFETCH(QSize, image);

        const Frame frame = quadrantPicture(picture.width(), picture.height());
        QVERIFY(frame);
        RenderSettings settings;
        if (!region.isNull()) {
            const auto space
                = [](int v, int extent) { return int32_t(int64_t(v) * TRV_PLAY_REGION_SPACE / extent); };
            settings.regionEnabled = true;
            settings.region = TRV_PLAY_RECT { space(region.left(), picture.width()),
                space(region.top(), picture.height()), space(region.left() + region.width(), picture.width()),
                space(region.top() + region.height(), picture.height()) };
        }
        settings.original = original;
        settings.targetWidth = window.width();
        settings.targetHeight = window.height();
        settings.colour.brightness = brightness;

        FrameRenderer renderer;
        // Twice: the second picture goes into a buffer the renderer keeps.
        for (int round = 0; round < 2; ++round) {
            const QImage shown = renderer.render(frame.get(), settings);
            QCOMPARE(shown.size(), image);
            const int w = shown.width();
            const int h = shown.height();
            // Which quadrant each edge pixel comes from; brighter pictures
            // are off by the brightness step.
            const int tolerance = brightness == 64 ? 24 : 40;
            const QRect source = region.isNull() ? QRect(QPoint(0, 0), picture) : region;
            const auto quadrantAt = [&](int x, int y) {
                const double px = source.left() + (x + 0.5) * source.width() / w;
                const double py = source.top() + (y + 0.5) * source.height() / h;
                return (py >= picture.height() / 2 ? 2 : 0) + (px >= picture.width() / 2 ? 1 : 0);
            };
            // The last column and the last row, away from the quadrants' borders.
            for (const QPoint &p : { QPoint(w - 1, h / 5), QPoint(w - 1, h - 1 - h / 5), QPoint(w / 5, h - 1),
                     QPoint(w - 1 - w / 5, h - 1), QPoint(w - 1, h - 1), QPoint(0, 0) }) {
                const QColor c = shown.pixelColor(p);
                const QColor expected = TestMedia::quadrantColour(quadrantAt(p.x(), p.y()));
                QVERIFY2(TestMedia::near(c, expected, tolerance),
                    qPrintable(QStringLiteral("round %1 at %2,%3: %4, expected %5")
                                   .arg(round)
                                   .arg(p.x())
                                   .arg(p.y())
                                   .arg(c.name(), expected.name())));
            }
        }
    }

    void nothingToDrawInto()
    {
        const Frame frame = quadrantPicture(64, 48);
        RenderSettings settings; // no window size yet
        FrameRenderer renderer;
        QVERIFY(renderer.render(frame.get(), settings).isNull());
        settings.original = true;
        QCOMPARE(renderer.render(frame.get(), settings).size(), QSize(64, 48));
    }
};

QTEST_GUILESS_MAIN(TestFrameRenderer)
#include "tst_frame_renderer.moc"
