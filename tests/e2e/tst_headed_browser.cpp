// A headed Chromium on an Xvfb display: the colour page is shown, the screen
// is grabbed with ImageMagick, and the page's area is measured. A uniform page
// is one colour without deviation and does not change; an animated canvas
// changes between two screenshots.

#include "BrowserPage.h"
#include "ScreenImage.h"
#include "XvfbServer.h"

#include <QtTest>

using BrowserTest::PageRun;

class TestHeadedBrowser : public QObject
{
    Q_OBJECT

private:
    XvfbServer m_xvfb;
    QTemporaryDir m_dir;

    QString file(const QString &name) const { return m_dir.filePath(name); }

    bool makeImage(const QString &name, const QStringList &args)
    {
        const ScreenImage::ToolResult r
            = ScreenImage::runTool(QStringLiteral("/usr/bin/convert"), args + QStringList { file(name) });
        return r.ok && r.exitCode == 0;
    }

    // Shows the colour page with `params` and holds the window; the page's area
    // on the screen, inset so that no frame pixel is in it; empty on failure.
    QRect showColourPage(BrowserTest::BrowserDriver &driver, const QStringList &params)
    {
        QStringList args { QStringLiteral("--page"), BrowserTest::colourPage(), QStringLiteral("--headed"),
            QStringLiteral("--display"), m_xvfb.display(), QStringLiteral("--hold") };
        for (const QString &p : params)
            args << QStringLiteral("--param") << p;
        driver.start(args, 20000);
        const PageRun run = driver.waitDone(true);
        if (!run.ok() || run.viewport.isEmpty()) {
            qWarning("%s", qPrintable(run.describe()));
            return QRect();
        }
        const QRect page(run.viewport.value("x").toInt(), run.viewport.value("y").toInt(),
            run.viewport.value("width").toInt(), run.viewport.value("height").toInt());
        return page.adjusted(8, 8, -8, -8).intersected(QRect(QPoint(0, 0), m_xvfb.size()));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_xvfb.start(), qPrintable(m_xvfb.errorText()));
        QVERIFY(m_xvfb.running());
        QVERIFY(QFileInfo::exists(m_xvfb.socketPath()));
        // An X client sees the display at once, with the asked screen size.
        const ScreenImage::ToolResult info = ScreenImage::runTool(
            QStringLiteral("/usr/bin/xdpyinfo"), { QStringLiteral("-display"), m_xvfb.display() });
        QVERIFY2(info.ok && info.exitCode == 0, qPrintable(info.err));
        QVERIFY(info.out.contains(QRegularExpression(QStringLiteral("dimensions:\\s+1280x800 pixels"))));
    }

    void cleanupTestCase()
    {
        const QString socket = m_xvfb.socketPath();
        m_xvfb.stop();
        QVERIFY(!QFileInfo::exists(socket));
    }

    // The statistics helper on images of known content.
    void statisticsOfKnownImages_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<double>("red");
        QTest::addColumn<double>("green");
        QTest::addColumn<double>("blue");
        QTest::addColumn<double>("deviation");
        QTest::newRow("orange") << "orange.png" << QRect() << 1.0 << 128 / 255.0 << 0.0 << 0.0;
        QTest::newRow("half black, half white") << "half.png" << QRect() << 0.5 << 0.5 << 0.5 << 0.5;
        QTest::newRow("white half") << "half.png" << QRect(100, 0, 100, 100) << 1.0 << 1.0 << 1.0 << 0.0;
        QTest::newRow("mostly black") << "half.png" << QRect(20, 10, 100, 50) << 0.2 << 0.2 << 0.2 << 0.4;
    }
    void statisticsOfKnownImages()
    {
        QFETCH(QString, image);
        QFETCH(QRect, rect);
        QFETCH(double, red);
        QFETCH(double, green);
        QFETCH(double, blue);
        QFETCH(double, deviation);
        QVERIFY(makeImage("orange.png", { "-size", "200x100", "xc:#ff8000" }));
        QVERIFY(makeImage("half.png",
            { "-size", "200x100", "xc:black", "-fill", "white", "-draw", "rectangle 100,0 199,99" }));
        const ScreenImage::Stats s = ScreenImage::statistics(file(image), rect);
        QVERIFY2(s.ok, qPrintable(s.error));
        QVERIFY2(qAbs(s.mean[0] - red) < 0.005, qPrintable(QString::number(s.mean[0])));
        QVERIFY2(qAbs(s.mean[1] - green) < 0.005, qPrintable(QString::number(s.mean[1])));
        QVERIFY2(qAbs(s.mean[2] - blue) < 0.005, qPrintable(QString::number(s.mean[2])));
        QVERIFY2(qAbs(s.maxDeviation() - deviation) < 0.005, qPrintable(QString::number(s.maxDeviation())));
    }

    void differenceOfKnownImages()
    {
        QVERIFY(makeImage("black.png", { "-size", "200x100", "xc:black" }));
        QVERIFY(makeImage("half.png",
            { "-size", "200x100", "xc:black", "-fill", "white", "-draw", "rectangle 100,0 199,99" }));
        const QRect all(0, 0, 200, 100);
        QCOMPARE(ScreenImage::differingShare(file("half.png"), file("half.png"), all), 0.0);
        QCOMPARE(ScreenImage::differingShare(file("black.png"), file("half.png"), all), 0.5);
        QCOMPARE(
            ScreenImage::differingShare(file("black.png"), file("half.png"), QRect(50, 0, 100, 100)), 0.5);
        QCOMPARE(
            ScreenImage::differingShare(file("black.png"), file("half.png"), QRect(0, 0, 100, 100)), 0.0);
        QCOMPARE(ScreenImage::differingShare(file("black.png"), file("absent.png"), all), -1.0);
    }

    void uniformPage_data()
    {
        QTest::addColumn<QString>("colour");
        QTest::addColumn<double>("red");
        QTest::addColumn<double>("green");
        QTest::addColumn<double>("blue");
        QTest::newRow("orange") << "#ff8000" << 1.0 << 128 / 255.0 << 0.0;
        QTest::newRow("blue") << "#2040c0" << 32 / 255.0 << 64 / 255.0 << 192 / 255.0;
    }
    void uniformPage()
    {
        QFETCH(QString, colour);
        QFETCH(double, red);
        QFETCH(double, green);
        QFETCH(double, blue);
        BrowserTest::BrowserDriver driver;
        const QRect rect = showColourPage(driver, { QStringLiteral("color=") + colour });
        QVERIFY(rect.width() > 600 && rect.height() > 400);

        // The page reports ready before the compositor has shown its colour;
        // grab until it is on the screen, then check the last grab.
        ScreenImage::Stats s;
        const bool shown = QTest::qWaitFor(
            [&] {
                if (!ScreenImage::grab(m_xvfb.display(), file("uniform1.png")))
                    return false;
                s = ScreenImage::statistics(file("uniform1.png"), rect);
                return s.ok && qAbs(s.mean[0] - red) < 0.02 && qAbs(s.mean[1] - green) < 0.02
                    && qAbs(s.mean[2] - blue) < 0.02;
            },
            10000);
        if (!shown)
            qWarning("the page's colour is not on the screen after 10 s; the last grab:");
        QVERIFY2(s.ok, qPrintable(s.error));
        QVERIFY2(s.maxDeviation() < 0.01, qPrintable(QString::number(s.maxDeviation())));
        QVERIFY2(qAbs(s.mean[0] - red) < 0.02, qPrintable(QString::number(s.mean[0])));
        QVERIFY2(qAbs(s.mean[1] - green) < 0.02, qPrintable(QString::number(s.mean[1])));
        QVERIFY2(qAbs(s.mean[2] - blue) < 0.02, qPrintable(QString::number(s.mean[2])));
        // The browser's own bar above the page is not the page's colour.
        const ScreenImage::Stats whole
            = ScreenImage::statistics(file("uniform1.png"), QRect(QPoint(0, 0), m_xvfb.size()));
        QVERIFY(whole.ok && whole.maxDeviation() > 0.02);

        // A still page: a second screenshot shows the same.
        QVERIFY(ScreenImage::grab(m_xvfb.display(), file("uniform2.png")));
        QCOMPARE(ScreenImage::differingShare(file("uniform1.png"), file("uniform2.png"), rect), 0.0);
        QCOMPARE(driver.end(), 0);
    }

    void animatedPage()
    {
        BrowserTest::BrowserDriver driver;
        const QRect rect
            = showColourPage(driver, { QStringLiteral("color=#204080"), QStringLiteral("animate=1") });
        QVERIFY(rect.width() > 600 && rect.height() > 400);

        // The page reports ready before the compositor has shown the first
        // stripes; grab until they are on the screen.
        ScreenImage::Stats s;
        QTRY_VERIFY_WITH_TIMEOUT(ScreenImage::grab(m_xvfb.display(), file("anim1.png"))
                && (s = ScreenImage::statistics(file("anim1.png"), rect)).ok && s.maxDeviation() > 0.1,
            10000);
        // The stripes move with every frame: a later screenshot differs.
        QTRY_VERIFY_WITH_TIMEOUT(ScreenImage::grab(m_xvfb.display(), file("anim2.png"))
                && ScreenImage::differingShare(file("anim1.png"), file("anim2.png"), rect) > 0.05,
            10000);
        QCOMPARE(driver.end(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHeadedBrowser)
#include "tst_headed_browser.moc"
