// Drawing of the play library on a real X server (Xvfb, Qt's xcb platform):
// what the X server shows in a live window, whether the picture goes
// straight to the window or through Qt (a draw callback, a child widget
// over the picture).

#include "PortAccess.h"
#include "TestMedia.h"
#include "lumarel/LumarelControl.h"
#include "lumarel/lumarel.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <QX11Info>
#include <QtTest>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

void drawMarker(int, QPainter *painter, void *)
{
    painter->fillRect(QRect(0, 0, 8, 8), Qt::magenta);
}

// The pixels the X server shows in a native widget's window.
QImage onScreen(QWidget *widget)
{
    xcb_connection_t *c = QX11Info::connection();
    xcb_get_image_reply_t *reply = xcb_get_image_reply(c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, xcb_drawable_t(widget->winId()), 0, 0,
            uint16_t(widget->width()), uint16_t(widget->height()), ~0u),
        nullptr);
    if (!reply)
        return QImage();
    QImage image(widget->size(), QImage::Format_RGB32);
    const int stride = xcb_get_image_data_length(reply) / widget->height();
    for (int y = 0; y < image.height() && stride >= image.width() * 4; ++y)
        std::memcpy(image.scanLine(y), xcb_get_image_data(reply) + size_t(y) * size_t(stride),
            size_t(image.width()) * 4);
    std::free(reply);
    return image;
}

// The top-left 8x8 pixels (where a marker is drawn over the picture) taken
// from the reference, so that the rest is compared alone.
QImage withoutCorner(QImage image, const QByteArray &reference)
{
    const auto *rgb = reinterpret_cast<const uchar *>(reference.constData());
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const uchar *p = rgb + (size_t(y) * size_t(image.width()) + size_t(x)) * 3;
            image.setPixel(x, y, qRgb(p[0], p[1], p[2]));
        }
    return image;
}

} // namespace

class TestLumarelX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(QX11Info::isPlatformX11()); }

    void cleanup() { TRV_PLAY_CloseStream(7); }

    // The last picture of a textured stream, as the X server shows it,
    // against ffmpeg's decode scaled with its area filter. A window resized
    // while it plays shows the next pictures at its new size.
    void windowShowsThePicture_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QString>("over"); // what is drawn over the picture
        QTest::addColumn<double>("minimum"); // dB
        QTest::addColumn<QSize>("resizeTo"); // then the stream again
        QTest::newRow("64-window grid cell") << QSize(160, 90) << QString() << 20.0 << QSize();
        QTest::newRow("odd cell") << QSize(117, 71) << QString() << 18.0 << QSize();
        QTest::newRow("above half the picture") << QSize(200, 160) << QString() << 23.0 << QSize();
        QTest::newRow("draw callback") << QSize(160, 90) << QStringLiteral("callback") << 20.0 << QSize();
        QTest::newRow("child widget") << QSize(160, 90) << QStringLiteral("child") << 20.0 << QSize();
        QTest::newRow("cell resized") << QSize(160, 90) << QString() << 18.0 << QSize(117, 71);
        QTest::newRow("cell enlarged") << QSize(160, 90) << QString() << 20.0 << QSize(320, 240);
    }

    void windowShowsThePicture()
    {
        QFETCH(QSize, window);
        QFETCH(QString, over);
        QFETCH(double, minimum);
        QFETCH(QSize, resizeTo);

        const TestMedia::VideoOptions o = TestMedia::cameraLike();
        const std::vector<QByteArray> blocks = TestMedia::videoBlocks(o);
        QCOMPARE(int(blocks.size()), o.frames);
        const QByteArray last = TestMedia::scaledReference(blocks, window);
        QVERIFY(!last.isEmpty());

        QWidget target;
        target.setAttribute(Qt::WA_NativeWindow);
        target.resize(window);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        if (over == QLatin1String("child")) {
            auto *child = new QWidget(&target);
            child->setGeometry(0, 0, 8, 8);
            child->setStyleSheet(QStringLiteral("background: magenta"));
            child->show();
        }
        const unsigned char head = 0;
        QVERIFY(TRV_PLAY_OpenStream(7, &head, 1, 4096000));
        if (over == QLatin1String("callback"))
            QVERIFY(TRV_PLAY_RegisterDrawCallBack(7, drawMarker, nullptr));
        QVERIFY(TRV_PLAY_Play(7, TRV_PLAY_WND(target.winId())));
        QVERIFY(feed(7, TestMedia::join(blocks)));
        QTRY_COMPARE(stats(7).framesShown, int64_t(o.frames));
        double db = 0;
        QImage shown;
        QTRY_VERIFY2(
            (shown = onScreen(&target), db = TestMedia::psnr(withoutCorner(shown, last), last)) >= minimum,
            qPrintable(QStringLiteral("%1 dB").arg(db)));
        qInfo("%dx%d window on the X server: %.1f dB against the reference", window.width(), window.height(),
            db);
        // Nothing over the picture: it went straight to the X server, and
        // from then on the port scales the pictures into memory the X server
        // reads them from; what is drawn over the picture stays over it,
        // painted through Qt.
        int64_t fed = o.frames;
        if (over.isEmpty()) {
            QVERIFY(stats(7).framesStraight > 0);
            QVERIFY(feed(7, TestMedia::join(blocks)));
            fed += o.frames;
            QTRY_COMPARE(stats(7).framesShown, fed);
            QTRY_VERIFY(stats(7).framesShared > 0);
            QTRY_VERIFY2((db = TestMedia::psnr(onScreen(&target), last)) >= minimum,
                qPrintable(QStringLiteral("%1 dB from shared memory").arg(db)));
        } else {
            QCOMPARE(shown.pixelColor(2, 2), QColor(Qt::magenta));
            QCOMPARE(stats(7).framesStraight, int64_t(0));
        }
        if (resizeTo.isValid()) {
            const QByteArray again = TestMedia::scaledReference(blocks, resizeTo);
            QVERIFY(!again.isEmpty());
            const int64_t shared = stats(7).framesShared;
            target.resize(resizeTo);
            QVERIFY(feed(7, TestMedia::join(blocks)));
            fed += o.frames;
            QTRY_COMPARE(stats(7).framesShown, fed);
            QTRY_VERIFY2((db = TestMedia::psnr(onScreen(&target), again)) >= minimum,
                qPrintable(QStringLiteral("%1 dB after the resize").arg(db)));
            // Pictures of the old size that came late were painted through
            // Qt; the stream once more goes straight, from memory of the new
            // size, and shows the same.
            QVERIFY(feed(7, TestMedia::join(blocks)));
            fed += o.frames;
            QTRY_COMPARE(stats(7).framesShown, fed);
            QTRY_VERIFY(stats(7).framesShared > shared);
            QTRY_VERIFY2((db = TestMedia::psnr(onScreen(&target), again)) >= minimum,
                qPrintable(QStringLiteral("%1 dB from shared memory after the resize").arg(db)));
        }
        QVERIFY(TRV_PLAY_Stop(7));
    }
};

// A private X server for the whole test, started before the application
// that connects to it; Xvfb writes its display number once it accepts.
int main(int argc, char **argv)
{
    int ready[2];
    if (pipe(ready) != 0)
        return 1;
    const std::string fd = std::to_string(ready[1]);
    const char *args[]
        = { "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp", nullptr };
    pid_t server = 0;
    if (posix_spawn(&server, "/usr/bin/Xvfb", nullptr, nullptr, const_cast<char **>(args), environ) != 0) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    close(ready[1]);
    char number[16] = {};
    const ssize_t got = read(ready[0], number, sizeof(number) - 1);
    close(ready[0]);
    int result = 1;
    if (got > 0) {
        setenv("DISPLAY", (":" + std::to_string(std::atoi(number))).c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        // No session bus: Qt would start a launcher for one.
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/dev/null/no-session-bus", 1);
        QApplication app(argc, argv);
        TestLumarelX11 test;
        result = QTest::qExec(&test, argc, argv);
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return result;
}

#include "tst_lumarel_x11.moc"
