// The analysis-rule overlay drawn through the panel's drawing callback onto
// a picture: lines, regions, direction arrows, the scaling of the 0-8192
// coordinates, and what must draw nothing.

#include "LightWeightLog.h"
#include "RealPlayWidget.h"
#include "RuleOverlay.h"

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <QtTest>

#include <climits>

namespace {

const QColor kBackground(255, 255, 255);

bool isBlue(const QImage &image, int x, int y)
{
    return image.pixel(x, y) == qRgb(0, 0, 255);
}

int bluePixels(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += isBlue(image, x, y) ? 1 : 0;
    return n;
}

RuleRegionInfo lineRule(int x1, int y1, int x2, int y2, int direction)
{
    RuleRegionInfo rule;
    rule.show = 1;
    rule.ruleType = 0;
    rule.lineDirection = uint8_t(direction);
    rule.lineStartX = x1;
    rule.lineStartY = y1;
    rule.lineEndX = x2;
    rule.lineEndY = y2;
    return rule;
}

RuleRegionInfo regionRule(const QVector<QPoint> &points, int count, int direction)
{
    RuleRegionInfo rule;
    rule.show = 1;
    rule.ruleType = 1;
    rule.regionDirection = uint8_t(direction);
    rule.pointCount = count;
    for (int i = 0; i < points.size() && i < RuleRegionInfo::kMaxPoints; ++i) {
        rule.points[i].x = points[i].x();
        rule.points[i].y = points[i].y();
    }
    return rule;
}

} // namespace

class TestRuleOverlay : public QObject
{
    Q_OBJECT

private:
    CRealPlayWidget *m_panel = nullptr;
    QWidget *m_surface = nullptr; // stands for a video window of 800 x 600

    // The picture the callback draws for `rule` on the 800 x 600 window.
    QImage draw(const RuleRegionInfo &rule, WId window = 0, QPoint translate = QPoint())
    {
        m_panel->SetRuleRegionInfo(rule);
        QImage image(800, 600, QImage::Format_RGB32);
        image.fill(kBackground);
        QPainter painter(&image);
        painter.translate(translate);
        CRealPlayWidget::DrawRuleCallback(0, &painter, window ? window : m_surface->winId(), m_panel);
        painter.end();
        return image;
    }

private slots:
    void initTestCase()
    {
        m_panel = new CRealPlayWidget;
        m_surface = new QWidget;
        m_surface->resize(800, 600);
        (void)m_surface->winId();
    }

    void cleanupTestCase()
    {
        delete m_surface;
        delete m_panel;
        LightWeightLog::shutdown();
    }

    void horizontalLineArrows_data()
    {
        // The line crosses the window at y = 300 from x = 0 to 800; its arrow
        // sits at (400, 300): direction 1 points down, 0 up, 2 both ways.
        QTest::addColumn<int>("direction");
        QTest::addColumn<bool>("down");
        QTest::addColumn<bool>("up");
        QTest::newRow("1: along the line") << 1 << true << false;
        QTest::newRow("0: against it") << 0 << false << true;
        QTest::newRow("2: both") << 2 << true << true;
        QTest::newRow("3: none") << 3 << false << false;
    }

    void horizontalLineArrows()
    {
        QFETCH(int, direction);
        QFETCH(bool, down);
        QFETCH(bool, up);
        const QImage image = draw(lineRule(0, 4096, 8192, 4096, direction));
        for (int x : { 2, 200, 600, 797 })
            QVERIFY2(isBlue(image, x, 300), qPrintable(QString::number(x)));
        // The stem runs 15 pixels either side of the middle whatever the direction.
        QCOMPARE(isBlue(image, 400, 312), down || up);
        QCOMPARE(isBlue(image, 400, 288), down || up);
        // Barbs: from (400, 315) back to (390, 305) and (410, 305) for down,
        // from (400, 285) to (390, 295) and (410, 295) for up.
        QCOMPARE(isBlue(image, 393, 308), down);
        QCOMPARE(isBlue(image, 407, 308), down);
        QCOMPARE(isBlue(image, 393, 292), up);
        QCOMPARE(isBlue(image, 407, 292), up);
    }

    void verticalLineArrow()
    {
        // x = 400 from top to bottom; with the line flag the arrow of
        // direction 1 points left: its head at (385, 300), barbs to (395, 290)
        // and (395, 310).
        const QImage image = draw(lineRule(4096, 0, 4096, 8192, 1));
        QVERIFY(isBlue(image, 400, 100));
        QVERIFY(isBlue(image, 388, 300));
        QVERIFY(isBlue(image, 412, 300));
        QVERIFY(isBlue(image, 390, 295));
        QVERIFY(isBlue(image, 390, 305));
        QVERIFY(!isBlue(image, 410, 295));
        QVERIFY(!isBlue(image, 410, 305));
    }

    void slopedLineArrow()
    {
        // A diagonal gets a stem across its middle, perpendicular to it.
        // (0, 0) to (800, 600): the stem runs from (391, 312) to (409, 288).
        const QImage image = draw(lineRule(0, 0, 8192, 8192, 1));
        QVERIFY(isBlue(image, 400, 300));
        for (const QPoint &p : { QPoint(394, 308), QPoint(397, 304), QPoint(403, 296), QPoint(406, 292) })
            QVERIFY2(isBlue(image, p.x(), p.y()), qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
        QVERIFY(!isBlue(image, 412, 284));
        QVERIFY(!isBlue(image, 600, 100));
    }

    void triangleWithArrowOnItsFirstEdge()
    {
        // (100, 75), (700, 75), (400, 525): a triangle; the arrow crosses the
        // first edge only.
        const QImage image = draw(regionRule({ { 1024, 1024 }, { 7168, 1024 }, { 4096, 7168 } }, 3, 2));
        QVERIFY(isBlue(image, 250, 75)); // first edge
        QVERIFY(isBlue(image, 550, 300)); // second edge
        QVERIFY(isBlue(image, 250, 300)); // closing edge
        QVERIFY(isBlue(image, 400, 65)); // arrow stem across the first edge
        QVERIFY(isBlue(image, 400, 85));
        // No stem across the second edge's middle.
        QVERIFY(!isBlue(image, 558, 305));
        QVERIFY(!isBlue(image, 542, 295));
        QVERIFY(!isBlue(image, 400, 300));
    }

    void pointCount_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("used");
        QTest::newRow("-5") << -5 << 0;
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("2") << 2 << 2;
        QTest::newRow("8") << 8 << 8;
        QTest::newRow("9") << 9 << 8;
        QTest::newRow("INT_MAX") << INT_MAX << 8;
        QTest::newRow("INT_MIN") << INT_MIN << 0;
    }

    void pointCount()
    {
        QFETCH(int, count);
        QFETCH(int, used);
        // Eight points around the window's middle; each edge is drawn only
        // when both its points are in use.
        const QVector<QPoint> octagon = { { 4096, 1024 }, { 6144, 2048 }, { 7168, 4096 }, { 6144, 6144 },
            { 4096, 7168 }, { 2048, 6144 }, { 1024, 4096 }, { 2048, 2048 } };
        const RuleRegionInfo rule = regionRule(octagon, count, 3);
        QCOMPARE(RuleOverlay::UsedPoints(rule), used);
        const QImage image = draw(rule);
        if (used < 2) {
            QCOMPARE(bluePixels(image), 0);
            return;
        }
        QVERIFY(isBlue(image, 500, 112)); // edge 0-1: (400, 75) to (600, 150)
        // The closing edge from the last point used back to point 0.
        const QPoint last(octagon[used - 1].x() * 800 / 8192, octagon[used - 1].y() * 600 / 8192);
        const QPoint mid = (QPoint(400, 75) + last) / 2;
        QVERIFY2(
            isBlue(image, mid.x(), mid.y()), qPrintable(QStringLiteral("%1,%2").arg(mid.x()).arg(mid.y())));
        QCOMPARE(isBlue(image, 150, 225), used == 8); // edge 6-7: (100, 300) to (200, 150)
    }

    // x = 7200 of 8192 on a window 300000 pixels wide is pixel 263671, which
    // overflows 32-bit arithmetic (7200 x 300000).
    void scalingIn64Bits()
    {
        QWidget wide;
        wide.resize(300000, 600);
        if (wide.width() != 300000)
            QSKIP("the platform does not allow so wide a window");
        const QImage image = draw(lineRule(7200, 0, 7200, 8192, 3), wide.winId(), QPoint(-263600, 0));
        QVERIFY(isBlue(image, 71, 300));
        QCOMPARE(bluePixels(image) / 600, RuleOverlay::kPenWidth);
    }

    void extremeCoordinatesDrawSafely()
    {
        const QImage image = draw(lineRule(INT_MIN, INT_MIN, INT_MAX, INT_MAX, 2));
        QVERIFY(isBlue(image, 300, 300)); // the diagonal still crosses the window
        draw(regionRule({ { INT_MAX, 0 }, { INT_MIN, INT_MAX }, { 0, INT_MIN } }, 3, 2));
    }

    void nothingDrawn_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("rule not shown") << 0;
        QTest::newRow("unknown rule type") << 1;
        QTest::newRow("no widget for the handle") << 2;
        QTest::newRow("zero width") << 3;
        QTest::newRow("zero height") << 4;
        QTest::newRow("no panel") << 5;
        QTest::newRow("no painter") << 6;
    }

    void nothingDrawn()
    {
        QFETCH(int, kind);
        RuleRegionInfo rule = lineRule(0, 4096, 8192, 4096, 2);
        QWidget empty;
        empty.resize(kind == 3 ? 0 : 100, kind == 4 ? 0 : 100);
        WId window = m_surface->winId();
        if (kind == 0)
            rule.show = 0;
        if (kind == 1)
            rule.ruleType = 2;
        if (kind == 2)
            window = WId(0x7fffff01);
        if (kind == 3 || kind == 4) {
            window = empty.winId();
            QCOMPARE(kind == 3 ? empty.width() : empty.height(), 0);
        }
        m_panel->SetRuleRegionInfo(rule);
        QImage image(800, 600, QImage::Format_RGB32);
        image.fill(kBackground);
        QPainter painter(&image);
        CRealPlayWidget::DrawRuleCallback(
            0, kind == 6 ? nullptr : &painter, window, kind == 5 ? nullptr : m_panel);
        painter.end();
        QCOMPARE(bluePixels(image), 0);
    }

    // The painter is handed back as it came.
    void painterStateRestored()
    {
        QImage image(10, 10, QImage::Format_RGB32);
        QPainter painter(&image);
        const QPen pen(Qt::green, 2);
        painter.setPen(pen);
        m_panel->SetRuleRegionInfo(lineRule(0, 0, 8192, 8192, 2));
        CRealPlayWidget::DrawRuleCallback(0, &painter, m_surface->winId(), m_panel);
        QCOMPARE(painter.pen(), pen);
    }
};

QTEST_MAIN(TestRuleOverlay)
#include "tst_rule_overlay.moc"
