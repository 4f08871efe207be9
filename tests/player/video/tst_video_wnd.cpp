#define QTEST_QPA_MOUSE_HANDLING

#include "LightWeightLog.h"
#include "ScaleSlider.h"
#include "VideoFrame.h"
#include "VideoWnd.h"

#include <QLabel>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

// A video window inside a shown top-level window. The window is 402 x 302,
// so its "PlayFrame" (inside the one-pixel border) is 400 x 300.
struct Fixture
{
    explicit Fixture(QSize size = QSize(402, 302))
    {
        top.resize(size.width() + 100, size.height() + 100);
        wnd = new CVideoWnd(&top, 6);
        wnd->setGeometry(QRect(QPoint(0, 0), size));
    }
    bool show()
    {
        top.show();
        return QTest::qWaitForWindowExposed(&top);
    }
    CVideoFrame *frame() const { return wnd->GetVideoFrame(); }

    QWidget top;
    CVideoWnd *wnd = nullptr;
};

} // namespace

class TestVideoWnd : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { LightWeightLog::shutdown(); }

    void fitVideoFrame_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QSize>("video");
        QTest::addColumn<QRect>("expected");
        const QRect full(0, 0, 400, 300);
        QTest::newRow("fill") << 0 << QSize(1280, 720) << full;
        QTest::newRow("fill, mode -1") << -1 << QSize(1280, 720) << full;
        QTest::newRow("keep, unknown size") << 1 << QSize(-1, -1) << full;
        QTest::newRow("keep, 0 x 0") << 1 << QSize(0, 0) << full;
        QTest::newRow("keep, 0 wide") << 1 << QSize(0, 720) << full;
        QTest::newRow("keep, 0 high") << 1 << QSize(1280, 0) << full;
        QTest::newRow("keep, negative width") << 1 << QSize(-1280, 720) << full;
        // 16:9 in 4:3: full width, centred vertically.
        QTest::newRow("keep, 16:9") << 1 << QSize(1280, 720) << QRect(0, 37, 400, 225);
        // Portrait: full height, centred horizontally.
        QTest::newRow("keep, 3:4") << 1 << QSize(300, 400) << QRect(87, 0, 225, 300);
        QTest::newRow("keep, 4:3") << 1 << QSize(800, 600) << full;
    }
    void fitVideoFrame()
    {
        QFETCH(int, mode);
        QFETCH(QSize, video);
        QFETCH(QRect, expected);
        Fixture f;
        QVERIFY(f.show());
        QTRY_COMPARE(f.wnd->GetPlayFrame()->size(), QSize(400, 300));
        f.wnd->SetVideoSize(video.width(), video.height());
        f.wnd->SetAspectMode(mode);
        QCOMPARE(f.frame()->geometry(), expected);
        QCOMPARE(f.wnd->GetVideoSize(), mode == 1 ? video : QSize(-1, -1));
    }

    void fitFollowsResize()
    {
        Fixture f;
        QVERIFY(f.show());
        f.wnd->SetVideoSize(1280, 720);
        f.wnd->SetAspectMode(1);
        QTRY_COMPARE(f.frame()->geometry(), QRect(0, 37, 400, 225));
        // 802 x 302 window: 800 x 300 inside, so 16:9 now fits the height.
        f.top.resize(900, 400);
        f.wnd->resize(802, 302);
        QTRY_COMPARE(f.frame()->geometry(), QRect(133, 0, 533, 300));
        // And a size set while shown only counts at the next fit.
        f.wnd->SetVideoSize(800, 300);
        QCOMPARE(f.frame()->geometry(), QRect(133, 0, 533, 300));
        f.wnd->FitVideoFrame();
        QCOMPARE(f.frame()->geometry(), QRect(0, 0, 800, 300));
    }

    void sliderMaximum_data()
    {
        QTest::addColumn<float>("maximum");
        QTest::addColumn<int>("steps");
        QTest::newRow("8.0") << 8.0f << 70;
        QTest::newRow("4.0") << 4.0f << 30;
        QTest::newRow("1.1: one step") << 1.1f << 1;
        // 1.3 is stored as 1.2999999; it still has three steps.
        QTest::newRow("1.3") << 1.3f << 3;
        QTest::newRow("2.25 truncates") << 2.25f << 12;
        QTest::newRow("0: default") << 0.0f << 70;
        QTest::newRow("1.0: default") << 1.0f << 70;
        QTest::newRow("1.09: default") << 1.09f << 70;
        QTest::newRow("negative: default") << -3.0f << 70;
        QTest::newRow("NaN: default") << std::numeric_limits<float>::quiet_NaN() << 70;
        QTest::newRow("infinity: default") << std::numeric_limits<float>::infinity() << 70;
        QTest::newRow("1e9: default") << 1e9f << 70;
    }
    // A maximum below 1.1 left no step (division by zero when the label and
    // ticks were placed); such a maximum now means the default.
    void sliderMaximum()
    {
        QFETCH(float, maximum);
        QFETCH(int, steps);
        Fixture f;
        QVERIFY(f.show());
        f.wnd->ShowScaleSlider(true, maximum);
        CScaleSlider *slider = f.wnd->GetScaleSlider();
        QVERIFY(slider);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), steps);
        QCOMPARE(slider->GetMaxSteps(), steps);
        QVERIFY(slider->isVisible());
        // Placing the label works for every maximum; the slider is as high
        // as half its step count (none for 1.1).
        slider->setValue(steps);
        QVERIFY(slider->width() > 0 && slider->width() % steps == 0);
        QCOMPARE(slider->height(), steps / 2);

        // Built directly, too.
        CScaleSlider direct(&f.top, 1, maximum);
        direct.resize(140, 35);
        QCOMPARE(direct.maximum(), steps);
        direct.setValue(steps / 2);
        QVERIFY(!direct.grab().isNull());
    }

    // Leaving full screen shows the slider again with maximum 0: the window
    // keeps the maximum it had.
    void sliderKeepsMaximumWhenGivenNone()
    {
        Fixture f;
        QVERIFY(f.show());
        f.wnd->ShowScaleSlider(true, 4.0f);
        f.wnd->SetScaleValue(2.0f);
        f.wnd->ShowScaleSlider(false, 0.0f);
        QVERIFY(!f.wnd->GetScaleSlider()->isVisible());
        f.wnd->ShowScaleSlider(true, 0.0f);
        QVERIFY(f.wnd->GetScaleSlider()->isVisible());
        QCOMPARE(f.wnd->GetMaxTimes(), 4.0f);
        QCOMPARE(f.wnd->GetScaleSlider()->maximum(), 30);
        QCOMPARE(f.wnd->GetScaleSlider()->value(), 20);
        // 0 before any slider exists: the default maximum.
        Fixture g;
        QVERIFY(g.show());
        g.wnd->ShowScaleSlider(true, 0.0f);
        QCOMPARE(g.wnd->GetScaleSlider()->maximum(), 70);
    }

    // Another camera in the window with another maximum gets its own range.
    void sliderTakesNewMaximum()
    {
        Fixture f;
        QVERIFY(f.show());
        f.wnd->ShowScaleSlider(true, 8.0f);
        f.wnd->ShowScaleSlider(true, 2.5f);
        QCOMPARE(f.wnd->GetScaleSlider()->maximum(), 15);
        QCOMPARE(f.wnd->GetMaxTimes(), 2.5f);
        f.wnd->ShowScaleSlider(false, 0.0f);
        QCOMPARE(f.wnd->GetScaleSlider()->maximum(), 15);
    }

    void sliderHiddenWithoutCreating()
    {
        Fixture f;
        f.wnd->ShowScaleSlider(false, 8.0f);
        QVERIFY(!f.wnd->GetScaleSlider());
        f.wnd->SetScaleValue(3.0f);
        QVERIFY(!f.wnd->GetScaleSlider());
    }

    void sliderPlacement_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<float>("maximum");
        QTest::addColumn<QRect>("geometry");
        // c = 70: two thirds of the width rounded up to a multiple of 70,
        // 35 high, centred, its bottom 9 pixels above the window's.
        QTest::newRow("300 x 200, 8.0") << QSize(300, 200) << 8.0f << QRect(45, 120, 210, 35);
        QTest::newRow("422 x 302, 8.0") << QSize(422, 302) << 8.0f << QRect(36, 222, 350, 35);
        QTest::newRow("420 x 300, 8.0: exact multiple") << QSize(420, 300) << 8.0f << QRect(70, 220, 280, 35);
        // c = 30.
        QTest::newRow("300 x 200, 4.0") << QSize(300, 200) << 4.0f << QRect(45, 160, 210, 15);
    }
    void sliderPlacement()
    {
        QFETCH(QSize, window);
        QFETCH(float, maximum);
        QFETCH(QRect, geometry);
        Fixture f(window);
        // Not at the top-left of its parent: the slider is placed in the
        // window's own coordinates all the same.
        f.wnd->move(30, 20);
        QVERIFY(f.show());
        f.wnd->ShowScaleSlider(true, maximum);
        QCOMPARE(f.wnd->GetScaleSlider()->geometry(), geometry);
        QCOMPARE(f.wnd->GetScaleSlider()->parentWidget(), static_cast<QWidget *>(f.wnd));
    }

    void sliderFollowsResize()
    {
        Fixture f(QSize(300, 200));
        QVERIFY(f.show());
        f.wnd->ShowScaleSlider(true, 8.0f);
        f.wnd->resize(420, 300);
        QTRY_COMPARE(f.wnd->GetScaleSlider()->geometry(), QRect(70, 220, 280, 35));
    }

    void sliderLabel_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("x");
        // 350 wide, 70 steps: 5 pixels a step; right of the middle the label
        // moves 35 pixels to the left of the value.
        QTest::newRow("0") << 0 << QStringLiteral("1.0") << 5;
        QTest::newRow("25") << 25 << QStringLiteral("3.5") << 130;
        QTest::newRow("34") << 34 << QStringLiteral("4.4") << 175;
        QTest::newRow("35") << 35 << QStringLiteral("4.5") << 145;
        QTest::newRow("70") << 70 << QStringLiteral("8.0") << 320;
    }
    void sliderLabel()
    {
        QFETCH(int, value);
        QFETCH(QString, text);
        QFETCH(int, x);
        QWidget parent;
        CScaleSlider slider(&parent, 3, 8.0f);
        slider.resize(350, 35);
        slider.setValue(value);
        QCOMPARE(slider.GetLabel()->text(), text);
        QCOMPARE(slider.GetLabel()->pos(), QPoint(x, 0));
        QCOMPARE(slider.GetLabel()->size(), QSize(25, 20));
        QVERIFY(slider.GetLabel()->testAttribute(Qt::WA_TransparentForMouseEvents));
    }

    void setScaleValue_data()
    {
        QTest::addColumn<float>("times");
        QTest::addColumn<int>("value");
        QTest::newRow("2.5") << 2.5f << 25;
        QTest::newRow("2.3 stored as 2.2999999") << 2.3f << 23;
        QTest::newRow("0.7") << 0.7f << 7;
        QTest::newRow("2.35 truncates") << 2.35f << 23;
        QTest::newRow("above the range") << 9.0f << 70;
        QTest::newRow("below the range") << -1.0f << 0;
        QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << 0;
    }
    void setScaleValue()
    {
        QFETCH(float, times);
        QFETCH(int, value);
        Fixture f;
        QVERIFY(f.show());
        f.wnd->ShowScaleSlider(true, 8.0f);
        f.wnd->SetScaleValue(times);
        QCOMPARE(f.wnd->GetScaleSlider()->value(), value);
    }

    // The slider reports value / 10 (no offset) with the window index when
    // the user lets go of it: mouse release, wheel, arrow keys.
    void sliderReports()
    {
        Fixture f(QSize(422, 302));
        QVERIFY(f.show());
        f.wnd->ShowScaleSlider(true, 8.0f);
        CScaleSlider *slider = f.wnd->GetScaleSlider();
        QSignalSpy times(f.wnd, &CVideoWnd::sig_SetScaleTwoLensTimes);

        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(125, 17));
        QVERIFY(slider->isSliderDown());
        QCOMPARE(slider->value(), 25);
        QCOMPARE(slider->GetLabel()->text(), QStringLiteral("3.5"));
        QCOMPARE(times.count(), 0);
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(125, 17));
        QVERIFY(!slider->isSliderDown());
        QCOMPARE(times.count(), 1);
        QCOMPARE(times.at(0).at(0).toFloat(), 2.5f);
        QCOMPARE(times.at(0).at(1).toInt(), 6);

        // The wheel reports the value it stepped to.
        QWheelEvent wheel(QPointF(100, 17), QPointF(slider->mapToGlobal(QPoint(100, 17))), QPoint(),
            QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &wheel);
        QVERIFY(slider->value() != 25);
        QCOMPARE(times.count(), 2);
        QCOMPARE(times.at(1).at(0).toFloat(), float(slider->value()) / 10.0f);

        const int before = slider->value();
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Left);
        QCOMPARE(slider->value(), before - 1);
        QCOMPARE(times.count(), 3);
        QCOMPARE(times.at(2).at(0).toFloat(), float(before - 1) / 10.0f);
        QTest::keyClick(slider, Qt::Key_A);
        QCOMPARE(times.count(), 3);
    }

    void selectionBorder()
    {
        Fixture f;
        QVERIFY(f.show());
        f.wnd->SetSkin(QStringLiteral("Black"));
        f.wnd->SetSelected(true);
        QImage image = f.wnd->grab().toImage();
        for (const QPoint &p :
            { QPoint(0, 0), QPoint(401, 0), QPoint(0, 301), QPoint(401, 301), QPoint(200, 0) })
            QCOMPARE(image.pixelColor(p), QColor(196, 0, 34));
        QCOMPARE(image.pixelColor(200, 150), QColor(0, 0, 0));
        f.wnd->SetSelected(false);
        image = f.wnd->grab().toImage();
        QVERIFY(image.pixelColor(0, 0) != QColor(196, 0, 34));
    }

    void handleNamesTheSurface()
    {
        Fixture f;
        const WId handle = f.wnd->GetWndHandle();
        QVERIFY(handle != 0);
        QCOMPARE(QWidget::find(handle), static_cast<QWidget *>(f.frame()));
        QCOMPARE(f.frame()->GetIndex(), 6);
    }

    // The play library puts its render widget into the surface: it fills
    // the surface, follows its size, stays under the selection rectangle and
    // lets the mouse through to the surface.
    void renderWidgetSeam()
    {
        Fixture f;
        QVERIFY(f.show());
        QTRY_COMPARE(f.frame()->size(), QSize(400, 300));
        auto *render = new QWidget(QWidget::find(f.wnd->GetWndHandle()));
        render->show();
        QCOMPARE(render->geometry(), QRect(0, 0, 400, 300));
        QVERIFY(render->testAttribute(Qt::WA_TransparentForMouseEvents));

        f.wnd->SetVideoSize(1280, 720);
        f.wnd->SetAspectMode(1);
        QCOMPARE(render->geometry(), QRect(0, 0, 400, 225));

        QSignalSpy active(f.wnd, &CVideoWnd::activeWnd);
        QSignalSpy doubled(f.wnd, &CVideoWnd::doubleClicked);
        QTest::mouseClick(render, Qt::LeftButton, {}, QPoint(200, 100));
        QCOMPARE(active.count(), 1);
        QCOMPARE(active.at(0).at(0).toInt(), 6);
        QTest::mouseDClick(render, Qt::LeftButton, {}, QPoint(200, 100));
        QCOMPARE(doubled.count(), 1);
    }

    void doubleClickActivatesFirst()
    {
        Fixture f;
        QVERIFY(f.show());
        QStringList order;
        connect(f.wnd, &CVideoWnd::activeWnd, this,
            [&order](int i) { order << QStringLiteral("active%1").arg(i); });
        connect(f.wnd, &CVideoWnd::doubleClicked, this,
            [&order](int i) { order << QStringLiteral("double%1").arg(i); });
        QTest::mouseDClick(f.frame(), Qt::LeftButton);
        const int first = order.indexOf(QStringLiteral("double6"));
        QVERIFY(first > 0);
        QCOMPARE(order.at(first - 1), QStringLiteral("active6"));
        QCOMPARE(order.count(QStringLiteral("double6")), 1);
    }

    void digitalZoomFlagAndRegion()
    {
        Fixture f;
        const QRect region(QPoint(10, 20), QPoint(300, 400));
        f.wnd->SetZoomRegion(region);
        f.wnd->SetDigitalZoom(true);
        QVERIFY(f.wnd->IsDigitalZoom());
        QCOMPARE(f.wnd->GetZoomRegion(), region);
        f.wnd->SetDigitalZoom(false);
        QVERIFY(!f.wnd->IsDigitalZoom());
        QCOMPARE(f.wnd->GetZoomRegion(), QRect());
        QCOMPARE(QRect().right(), -1);
    }

    void ptzElectStatusIsLogged()
    {
        Fixture f;
        QSignalSpy log(LightWeightLog::instance(), &LightWeightLog::writeLogSig);
        f.wnd->SetPTZElectStatus(true);
        QVERIFY(f.frame()->GetPTZElectStatus());
        QCOMPARE(log.count(), 1);
        QVERIFY(log.at(0).at(0).toString().contains(QStringLiteral("CVideoFrame::setPTZElectStatus")));
        QVERIFY(log.at(0).at(0).toString().endsWith(QStringLiteral("m_bElect = 1\n")));
    }
};

QTEST_MAIN(TestVideoWnd)
#include "tst_video_wnd.moc"
