// Mouse events go through the window system path, so that button state, the
// implicit mouse grab and double-click detection behave as with a real mouse.
#define QTEST_QPA_MOUSE_HANDLING

#include "LightWeightLog.h"
#include "PlayWindowManage.h"
#include "ScaleSlider.h"
#include "VideoFrame.h"
#include "VideoWnd.h"

#include <QFrame>
#include <QGridLayout>
#include <QRubberBand>
#include <QtTest>

#include <climits>
#include <memory>

namespace {

// One grid cell as (column, row, column span, row span) packed in a QRect.
QRect cell(int row, int col, int rowSpan = 1, int colSpan = 1)
{
    return QRect(col, row, colSpan, rowSpan);
}

QVector<QRect> squareCells(int n, int columns)
{
    QVector<QRect> cells;
    for (int i = 0; i < n; ++i)
        cells << cell(i / columns, i % columns);
    return cells;
}

// The grid inside a top-level window of a fixed size, shown and exposed.
struct Fixture
{
    explicit Fixture(QSize size = QSize(640, 480), QSize topSize = QSize())
    {
        top.resize(topSize.isValid() ? topSize : size);
        grid = new CPlayWindowManage(&top);
        grid->setGeometry(QRect(QPoint(0, 0), size));
    }
    bool show()
    {
        top.show();
        return QTest::qWaitForWindowExposed(&top);
    }
    QGridLayout *layout() const
    {
        return qobject_cast<QGridLayout *>(grid->findChild<QFrame *>(QStringLiteral("VideoFrame"))->layout());
    }
    CVideoFrame *frame(int i) const { return grid->GetWnd(i)->GetVideoFrame(); }

    QWidget top;
    CPlayWindowManage *grid = nullptr;
};

int selectedCount(const CPlayWindowManage &grid)
{
    int n = 0;
    for (int i = 0; i < CPlayWindowManage::kMaxWnd; ++i)
        n += grid.GetWnd(i)->IsSelected() ? 1 : 0;
    return n;
}

int visibleCount(const CPlayWindowManage &grid)
{
    int n = 0;
    for (int i = 0; i < CPlayWindowManage::kMaxWnd; ++i)
        n += grid.GetWnd(i)->isVisibleTo(&grid) ? 1 : 0;
    return n;
}

int logLinesContaining(const QSignalSpy &spy, const QString &text)
{
    int n = 0;
    for (const QList<QVariant> &args : spy)
        n += args.at(0).toString().contains(text) ? 1 : 0;
    return n;
}

} // namespace

class TestPlayWindowManage : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { LightWeightLog::shutdown(); }

    void nothingShownBeforeFirstSplit()
    {
        Fixture f;
        QVERIFY(f.show());
        QCOMPARE(visibleCount(*f.grid), 0);
        QCOMPARE(f.grid->GetWindowMode(), CPlayWindowManage::kModeNone);
        QCOMPARE(f.grid->GetSplitCount(), 0);
    }

    void split_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QVector<QRect>>("cells");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");

        QTest::newRow("1") << 1 << squareCells(1, 1) << 1 << 1;
        QTest::newRow("2: one column") << 2 << squareCells(2, 1) << 2 << 1;
        QTest::newRow("3: one column") << 3 << squareCells(3, 1) << 3 << 1;
        QTest::newRow("4") << 4 << squareCells(4, 2) << 2 << 2;
        QTest::newRow("5: window 0 under a row of four")
            << 5 << QVector<QRect> { cell(1, 0, 1, 4), cell(0, 0), cell(0, 1), cell(0, 2), cell(0, 3) } << 2
            << 4;
        QTest::newRow("6") << 6
                           << QVector<QRect> { cell(0, 0, 2, 2), cell(0, 2), cell(1, 2), cell(2, 0),
                                  cell(2, 1), cell(2, 2) }
                           << 3 << 3;
        QTest::newRow("8") << 8
                           << QVector<QRect> { cell(0, 0, 3, 3), cell(0, 3), cell(1, 3), cell(2, 3),
                                  cell(3, 0), cell(3, 1), cell(3, 2), cell(3, 3) }
                           << 4 << 4;
        QTest::newRow("9") << 9 << squareCells(9, 3) << 3 << 3;
        QTest::newRow("10: three columns, four rows") << 10 << squareCells(10, 3) << 4 << 3;
        QTest::newRow("13") << 13
                            << QVector<QRect> { cell(1, 1, 2, 2), cell(0, 0), cell(0, 1), cell(0, 2),
                                   cell(0, 3), cell(1, 0), cell(1, 3), cell(2, 0), cell(2, 3), cell(3, 0),
                                   cell(3, 1), cell(3, 2), cell(3, 3) }
                            << 4 << 4;
        QVector<QRect> twenty { cell(0, 0, 3, 3), cell(0, 3, 3, 3) };
        for (int row = 3; row <= 5; ++row)
            for (int col = 0; col < 6; ++col)
                twenty << cell(row, col);
        QTest::newRow("20") << 20 << twenty << 6 << 6;
        QTest::newRow("16") << 16 << squareCells(16, 4) << 4 << 4;
        QTest::newRow("25") << 25 << squareCells(25, 5) << 5 << 5;
        QTest::newRow("36") << 36 << squareCells(36, 6) << 6 << 6;
        QTest::newRow("64") << 64 << squareCells(64, 8) << 8 << 8;
    }
    void split()
    {
        QFETCH(int, count);
        QFETCH(QVector<QRect>, cells);
        QFETCH(int, rows);
        QFETCH(int, columns);
        QCOMPARE(cells.size(), count);

        Fixture f;
        QVERIFY(f.show());
        // Start from another layout, so that leftovers of it would show.
        f.grid->SplitWindow(count == 64 ? 9 : 64);
        f.grid->onCurWndIndexChange(count - 1 > 0 ? count - 1 : 3);
        f.grid->SplitWindow(count);

        QCOMPARE(f.grid->GetSplitCount(), count);
        QCOMPARE(f.grid->GetWindowMode(),
            count == 1 ? CPlayWindowManage::kModeSingle : CPlayWindowManage::kModeMulti);
        QCOMPARE(f.grid->GetCurWndIndex(), 0);
        QCOMPARE(f.layout()->rowCount(), rows);
        QCOMPARE(f.layout()->columnCount(), columns);

        const QSize area = f.grid->size();
        for (int i = 0; i < CPlayWindowManage::kMaxWnd; ++i) {
            CVideoWnd *wnd = f.grid->GetWnd(i);
            QCOMPARE(wnd->IsSelected(), i == 0);
            const int item = f.layout()->indexOf(wnd);
            if (i >= count) {
                QVERIFY2(!wnd->isVisibleTo(f.grid), qPrintable(QString::number(i)));
                QCOMPARE(item, -1);
                continue;
            }
            QVERIFY2(wnd->isVisibleTo(f.grid), qPrintable(QString::number(i)));
            QLayoutItem *held = f.layout()->itemAt(item);
            QCOMPARE(held ? held->widget() : nullptr, static_cast<QWidget *>(wnd));
            int row, col, rowSpan, colSpan;
            f.layout()->getItemPosition(item, &row, &col, &rowSpan, &colSpan);
            QCOMPARE(cell(row, col, rowSpan, colSpan), cells.at(i));

            // Every cell is the same size, spanning windows cover their cells.
            const QRect want(col * area.width() / columns, row * area.height() / rows,
                colSpan * area.width() / columns, rowSpan * area.height() / rows);
            QTRY_VERIFY2(qAbs(wnd->geometry().x() - want.x()) <= 2
                    && qAbs(wnd->geometry().y() - want.y()) <= 2 && qAbs(wnd->width() - want.width()) <= 2
                    && qAbs(wnd->height() - want.height()) <= 2,
                qPrintable(QStringLiteral("window %1 at %2,%3 %4x%5, expected %6,%7 %8x%9")
                               .arg(i)
                               .arg(wnd->geometry().x())
                               .arg(wnd->geometry().y())
                               .arg(wnd->width())
                               .arg(wnd->height())
                               .arg(want.x())
                               .arg(want.y())
                               .arg(want.width())
                               .arg(want.height())));
        }
        QCOMPARE(visibleCount(*f.grid), count);
    }

    // Counts outside 1..64 are brought into range instead of indexing past
    // the 64 windows or showing none.
    void splitCountIsClamped_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("shown");
        QTest::newRow("0") << 0 << 1;
        QTest::newRow("-3") << -3 << 1;
        QTest::newRow("INT_MIN") << INT_MIN << 1;
        QTest::newRow("65") << 65 << 64;
        QTest::newRow("1000") << 1000 << 64;
        QTest::newRow("INT_MAX") << INT_MAX << 64;
    }
    void splitCountIsClamped()
    {
        QFETCH(int, requested);
        QFETCH(int, shown);
        Fixture f;
        f.grid->SplitWindow(requested);
        QCOMPARE(f.grid->GetSplitCount(), shown);
        QCOMPARE(visibleCount(*f.grid), shown);
        QCOMPARE(f.grid->GetWindowMode(),
            shown == 1 ? CPlayWindowManage::kModeSingle : CPlayWindowManage::kModeMulti);
    }

    // A 64-window split after a one-window split is a multi-window layout:
    // double clicks must enlarge in it.
    void split64AfterSplit1IsMultiWindow()
    {
        Fixture f;
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        QCOMPARE(f.grid->GetWindowMode(), CPlayWindowManage::kModeSingle);
        f.grid->SplitWindow(64);
        QCOMPARE(f.grid->GetWindowMode(), CPlayWindowManage::kModeMulti);

        QTest::mouseDClick(f.frame(10), Qt::LeftButton);
        QCOMPARE(f.grid->GetWindowMode(), CPlayWindowManage::kModeEnlarged);
        QCOMPARE(visibleCount(*f.grid), 1);
        QVERIFY(f.grid->GetWnd(10)->isVisibleTo(f.grid));
    }

    void splitOneAsksForTheTwoLensAbility()
    {
        Fixture f;
        QSignalSpy ability(f.grid, &CPlayWindowManage::sig_GetScaleTwoLensAbility);
        f.grid->SplitWindow(4);
        QCOMPARE(ability.count(), 0);
        f.grid->SplitWindow(1);
        QCOMPARE(ability.count(), 1);
        QCOMPARE(ability.at(0).at(0).toInt(), 0);
    }

    void splitHidesWindowZerosSlider()
    {
        Fixture f;
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        f.grid->ShowScaleSlider(0, true, 8.0f);
        QVERIFY(f.grid->GetWnd(0)->GetScaleSlider()->isVisible());
        f.grid->SplitWindow(64);
        QVERIFY(!f.grid->GetWnd(0)->GetScaleSlider()->isVisibleTo(f.grid->GetWnd(0)));
    }

    void currentWindow_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("taken");
        QTest::newRow("5") << 5 << true;
        QTest::newRow("63") << 63 << true;
        QTest::newRow("same as current") << 2 << false;
        QTest::newRow("-1") << -1 << false;
        QTest::newRow("64") << 64 << false;
        QTest::newRow("1000") << 1000 << false;
        QTest::newRow("INT_MIN") << INT_MIN << false;
    }
    // Indexes outside 0-63 are ignored: no selection change, no signal, no
    // access past the windows.
    void currentWindow()
    {
        QFETCH(int, index);
        QFETCH(bool, taken);
        Fixture f;
        f.grid->SplitWindow(64);
        f.grid->onCurWndIndexChange(2);
        QSignalSpy changed(f.grid, &CPlayWindowManage::curWndIndexSig);

        f.grid->onCurWndIndexChange(index);
        const int expected = taken ? index : 2;
        QCOMPARE(f.grid->GetCurWndIndex(), expected);
        QCOMPARE(changed.count(), taken ? 1 : 0);
        if (taken)
            QCOMPARE(changed.at(0).at(0).toInt(), index);
        QCOMPARE(selectedCount(*f.grid), 1);
        QVERIFY(f.grid->GetWnd(expected)->IsSelected());
    }

    void clickMakesWindowCurrent()
    {
        Fixture f;
        QVERIFY(f.show());
        f.grid->SplitWindow(16);
        QSignalSpy changed(f.grid, &CPlayWindowManage::curWndIndexSig);
        QTest::mouseClick(f.frame(9), Qt::LeftButton);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 9);
        QCOMPARE(f.grid->GetCurWndIndex(), 9);
        QVERIFY(f.grid->GetWnd(9)->IsSelected());
        QCOMPARE(selectedCount(*f.grid), 1);
    }

    void enlargeAndRestore_data()
    {
        QTest::addColumn<int>("count");
        for (int n : { 2, 3, 4, 5, 6, 8, 9, 10, 13, 16, 20, 25, 36, 64 })
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void enlargeAndRestore()
    {
        QFETCH(int, count);
        Fixture f;
        QVERIFY(f.show());
        f.grid->SplitWindow(count);
        const int target = count - 1;
        int row, col, rowSpan, colSpan;
        f.layout()->getItemPosition(
            f.layout()->indexOf(f.grid->GetWnd(target)), &row, &col, &rowSpan, &colSpan);
        QSignalSpy ability(f.grid, &CPlayWindowManage::sig_GetScaleTwoLensAbility);
        QSignalSpy changed(f.grid, &CPlayWindowManage::curWndIndexSig);

        QTest::mouseDClick(f.frame(target), Qt::LeftButton);
        QVERIFY(f.grid->IsEnlarged());
        QCOMPARE(f.grid->GetWindowMode(), CPlayWindowManage::kModeEnlarged);
        QCOMPARE(visibleCount(*f.grid), 1);
        QVERIFY(f.grid->GetWnd(target)->isVisibleTo(f.grid));
        QCOMPARE(ability.count(), 1);
        QCOMPARE(ability.at(0).at(0).toInt(), target);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(changed.last().at(0).toInt(), target);
        QCOMPARE(f.grid->GetCurWndIndex(), target);
        QVERIFY(f.grid->GetWnd(target)->IsSelected());
        QCOMPARE(selectedCount(*f.grid), 1);
        QTRY_COMPARE(f.grid->GetWnd(target)->geometry(), QRect(QPoint(0, 0), f.grid->size()));

        changed.clear();
        QTest::mouseDClick(f.frame(target), Qt::LeftButton);
        QVERIFY(!f.grid->IsEnlarged());
        QCOMPARE(f.grid->GetWindowMode(), CPlayWindowManage::kModeMulti);
        QCOMPARE(f.grid->GetSplitCount(), count);
        QCOMPARE(visibleCount(*f.grid), count);
        QCOMPARE(f.grid->GetCurWndIndex(), target);
        QVERIFY(f.grid->GetWnd(target)->IsSelected());
        QCOMPARE(selectedCount(*f.grid), 1);
        int row2, col2, rowSpan2, colSpan2;
        f.layout()->getItemPosition(
            f.layout()->indexOf(f.grid->GetWnd(target)), &row2, &col2, &rowSpan2, &colSpan2);
        QCOMPARE(cell(row2, col2, rowSpan2, colSpan2), cell(row, col, rowSpan, colSpan));
        QCOMPARE(ability.count(), 1);
    }

    void doubleClickInSingleWindowDoesNothing()
    {
        Fixture f;
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        QSignalSpy ability(f.grid, &CPlayWindowManage::sig_GetScaleTwoLensAbility);
        QTest::mouseDClick(f.frame(0), Qt::LeftButton);
        QVERIFY(!f.grid->IsEnlarged());
        QCOMPARE(f.grid->GetWindowMode(), CPlayWindowManage::kModeSingle);
        QCOMPARE(ability.count(), 0);
        QCOMPARE(f.grid->onWndDoubleClicked(0), 0);
        QVERIFY(!f.grid->IsEnlarged());
    }

    void doubleClickOnMissingWindowIsIgnored()
    {
        Fixture f;
        f.grid->SplitWindow(9);
        QCOMPARE(f.grid->onWndDoubleClicked(64), 0);
        QCOMPARE(f.grid->onWndDoubleClicked(-1), 0);
        QVERIFY(!f.grid->IsEnlarged());
        QCOMPARE(visibleCount(*f.grid), 9);
    }

    void selectionToZoomRegion_data()
    {
        QTest::addColumn<QRect>("present");
        QTest::addColumn<QPoint>("start");
        QTest::addColumn<QPoint>("end");
        QTest::addColumn<QRect>("region");

        // The video surface is 400 x 300.
        const QRect none;
        const auto coords = [](int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r, b)); };
        QTest::newRow("no region: 0-8192 scale")
            << none << QPoint(40, 30) << QPoint(200, 150) << coords(819, 819, 4096, 4096);
        QTest::newRow("corners in any order")
            << none << QPoint(200, 150) << QPoint(40, 30) << coords(819, 819, 4096, 4096);
        QTest::newRow("whole surface")
            << none << QPoint(0, 0) << QPoint(399, 299) << coords(0, 0, 8171, 8164);
        QTest::newRow("no width: whole picture")
            << none << QPoint(100, 50) << QPoint(100, 200) << coords(0, 0, 8192, 8192);
        QTest::newRow("no height: whole picture")
            << none << QPoint(10, 70) << QPoint(300, 70) << coords(0, 0, 8192, 8192);
        QTest::newRow("narrows inside a region") << coords(819, 819, 4096, 4096) << QPoint(0, 0)
                                                 << QPoint(199, 149) << coords(819, 819, 2458, 2458);
        QTest::newRow("narrows inside an offset region") << coords(1000, 2000, 1999,
            2999) << QPoint(100, 30) << QPoint(299, 179) << coords(1250, 2100, 1750, 2600);
        QTest::newRow("tiny region that cannot narrow")
            << coords(5, 5, 5, 5) << QPoint(10, 10) << QPoint(20, 20) << coords(0, 0, 8192, 8192);
    }
    void selectionToZoomRegion()
    {
        QFETCH(QRect, present);
        QFETCH(QPoint, start);
        QFETCH(QPoint, end);
        QFETCH(QRect, region);

        Fixture f(QSize(402, 302));
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        QTRY_COMPARE(f.frame(0)->size(), QSize(400, 300));
        f.grid->GetWnd(0)->SetZoomRegion(present);
        QSignalSpy zoom(f.grid, &CPlayWindowManage::DigitalZoomSig);

        f.grid->onSelectRegion(QVariant::fromValue<WId>(f.grid->GetWndHandle(0)), start, end);
        QCOMPARE(zoom.count(), 1);
        QCOMPARE(zoom.at(0).at(0).toPoint(), region.topLeft());
        QCOMPARE(zoom.at(0).at(1).toPoint(), region.bottomRight());
        QCOMPARE(zoom.at(0).at(2).toInt(), 0);
        QCOMPARE(f.grid->GetWnd(0)->GetZoomRegion(), region);
    }

    void selectionOnUnknownHandleIsIgnored()
    {
        Fixture f;
        f.grid->SplitWindow(1);
        QSignalSpy zoom(f.grid, &CPlayWindowManage::DigitalZoomSig);
        f.grid->onSelectRegion(QVariant::fromValue<WId>(0), QPoint(1, 1), QPoint(50, 50));
        f.grid->onSelectRegion(QVariant(QStringLiteral("not a handle")), QPoint(1, 1), QPoint(50, 50));
        f.grid->onRectanglePoint(QVariant::fromValue<WId>(0), QPoint(1, 1), QPoint(50, 50));
        QCOMPARE(zoom.count(), 0);
        QVERIFY(f.grid->findChildren<QRubberBand *>().isEmpty());
    }

    // A surface without width or height gives no region (the scaling
    // divides by both).
    void selectionOnEmptySurfaceIsIgnored_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("no width") << QSize(0, 100);
        QTest::newRow("no height") << QSize(100, 0);
    }

    void selectionOnEmptySurfaceIsIgnored()
    {
        QFETCH(QSize, size);
        Fixture f;
        f.grid->SplitWindow(1);
        QWidget surface;
        surface.resize(size);
        QCOMPARE(surface.size(), size);
        QSignalSpy zoom(f.grid, &CPlayWindowManage::DigitalZoomSig);
        f.grid->onSelectRegion(QVariant::fromValue<WId>(surface.winId()), QPoint(0, 0), QPoint(50, 50));
        QCOMPARE(zoom.count(), 0);
        QVERIFY(f.grid->GetWnd(0)->GetZoomRegion().isNull());
    }

    // A drag on a window that shows a stream: the rectangle follows the mouse
    // (clamped to the surface), the release turns it into a zoom region of
    // the window under the mouse, which has become the current one.
    void dragSelectsRegion()
    {
        Fixture f(QSize(804, 604), QSize(1000, 800));
        QVERIFY(f.show());
        f.grid->SplitWindow(4);
        f.grid->setPreviewStatus(-1, true);
        QTRY_COMPARE(f.frame(3)->size(), QSize(400, 300));
        QSignalSpy zoom(f.grid, &CPlayWindowManage::DigitalZoomSig);
        QSignalSpy changed(f.grid, &CPlayWindowManage::curWndIndexSig);
        QSignalSpy rect(f.grid->GetWnd(3), &CVideoWnd::sig_RectanglePoint);

        CVideoFrame *frame = f.frame(3);
        QTest::mousePress(frame, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 3);
        // Dragged beyond the surface's bottom right corner: the rectangle
        // stops at the surface's edge.
        QTest::mouseMove(frame, QPoint(450, 350));
        QTRY_VERIFY(!rect.isEmpty());
        QCOMPARE(rect.last().at(1).toPoint(), QPoint(100, 100));
        QCOMPARE(rect.last().at(2).toPoint(), QPoint(400, 300));
        QCOMPARE(rect.last().at(0).value<WId>(), f.grid->GetWndHandle(3));
        QTest::mouseRelease(frame, Qt::LeftButton, {}, QPoint(450, 350));

        QCOMPARE(zoom.count(), 1);
        QCOMPARE(zoom.at(0).at(0).toPoint(), QPoint(100 * 8192 / 400, 100 * 8192 / 300));
        QCOMPARE(zoom.at(0).at(1).toPoint(), QPoint(8192, 8192));
        QCOMPARE(zoom.at(0).at(2).toInt(), 3);
        // The release ends the rectangle.
        QCOMPARE(rect.last().at(1).toPoint(), QPoint(0, 0));
        QCOMPARE(rect.last().at(2).toPoint(), QPoint(0, 0));
    }

    void dragThresholds_data()
    {
        QTest::addColumn<QPoint>("start");
        QTest::addColumn<QPoint>("end");
        QTest::addColumn<bool>("selects");
        QTest::newRow("9 px wide") << QPoint(50, 50) << QPoint(59, 120) << false;
        QTest::newRow("9 px high") << QPoint(50, 50) << QPoint(120, 59) << false;
        QTest::newRow("9 px both") << QPoint(50, 50) << QPoint(59, 59) << false;
        QTest::newRow("10 px both") << QPoint(50, 50) << QPoint(60, 60) << true;
        QTest::newRow("upwards and left, 10 px") << QPoint(100, 100) << QPoint(90, 90) << true;
        QTest::newRow("upwards, 9 px high") << QPoint(100, 100) << QPoint(20, 91) << false;
        QTest::newRow("large") << QPoint(20, 30) << QPoint(300, 250) << true;
    }
    void dragThresholds()
    {
        QFETCH(QPoint, start);
        QFETCH(QPoint, end);
        QFETCH(bool, selects);

        Fixture f(QSize(402, 302));
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        f.grid->setPreviewStatus(0, true);
        QTRY_COMPARE(f.frame(0)->size(), QSize(400, 300));
        QSignalSpy zoom(f.grid, &CPlayWindowManage::DigitalZoomSig);
        QSignalSpy region(f.grid->GetWnd(0), &CVideoWnd::sig_selectRegion);
        QSignalSpy rect(f.grid->GetWnd(0), &CVideoWnd::sig_RectanglePoint);
        QSignalSpy log(LightWeightLog::instance(), &LightWeightLog::writeLogSig);

        CVideoFrame *frame = f.frame(0);
        QTest::mousePress(frame, Qt::LeftButton, {}, start);
        QTest::mouseMove(frame, end);
        QTRY_VERIFY(!rect.isEmpty());
        QCOMPARE(rect.last().at(1).toPoint(), start);
        QCOMPARE(rect.last().at(2).toPoint(), end);
        QTest::mouseRelease(frame, Qt::LeftButton, {}, end);

        QCOMPARE(region.count(), selects ? 1 : 0);
        QCOMPARE(zoom.count(), selects ? 1 : 0);
        QCOMPARE(logLinesContaining(log, QStringLiteral("draw region")), selects ? 1 : 0);
        if (selects) {
            QCOMPARE(region.at(0).at(1).toPoint(), start);
            QCOMPARE(region.at(0).at(2).toPoint(), end);
            QVERIFY(logLinesContaining(log,
                        QStringLiteral("draw region start.x=%1 end.x=%2 start.y=%3 end.y=%4")
                            .arg(start.x())
                            .arg(end.x())
                            .arg(start.y())
                            .arg(end.y()))
                == 1);
        }
        // Whether or not it selected, the drag's rectangle is taken down.
        QCOMPARE(rect.last().at(1).toPoint(), QPoint(0, 0));
        QCOMPARE(rect.last().at(2).toPoint(), QPoint(0, 0));
        auto *band = frame->findChild<QRubberBand *>();
        QVERIFY(band);
        QVERIFY(!band->isVisible());
    }

    void noDragWithoutStream()
    {
        Fixture f(QSize(402, 302));
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        QSignalSpy zoom(f.grid, &CPlayWindowManage::DigitalZoomSig);
        QSignalSpy rect(f.grid->GetWnd(0), &CVideoWnd::sig_RectanglePoint);
        CVideoFrame *frame = f.frame(0);
        QTest::mousePress(frame, Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseMove(frame, QPoint(200, 200));
        // Ticks come every 10 ms while the button is down; with a stream they
        // would have arrived long before the spy's wait runs out.
        QVERIFY(!rect.wait(200));
        QTest::mouseRelease(frame, Qt::LeftButton, {}, QPoint(200, 200));
        QCOMPARE(zoom.count(), 0);
        QVERIFY(frame->findChildren<QRubberBand *>().isEmpty());
    }

    // The rectangle is a Qt widget on the GUI thread, over the play
    // library's render widget, in pure red, one pixel wide.
    void rectangleDrawnAboveRenderWidget()
    {
        Fixture f(QSize(402, 302));
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        f.grid->setPreviewStatus(0, true);
        CVideoFrame *frame = f.frame(0);
        QTRY_COMPARE(frame->size(), QSize(400, 300));
        // A first drag leaves the (hidden) rectangle in the surface before
        // the play library adds its render widget at the next stream start.
        QSignalSpy rect(f.grid->GetWnd(0), &CVideoWnd::sig_RectanglePoint);
        QTest::mousePress(frame, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(frame, QPoint(100, 100));
        QTRY_VERIFY(!rect.isEmpty());
        QTest::mouseRelease(frame, Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(frame->findChild<QRubberBand *>());

        auto *render = new QWidget(frame);
        render->setAutoFillBackground(true);
        QPalette palette = render->palette();
        palette.setColor(QPalette::Window, QColor(0, 0, 255));
        render->setPalette(palette);
        render->show();

        QTest::mousePress(frame, Qt::LeftButton, {}, QPoint(50, 40));
        QTest::mouseMove(frame, QPoint(250, 200));
        QRubberBand *band = frame->findChild<QRubberBand *>();
        QTRY_VERIFY(band->isVisible());
        QCOMPARE(band->geometry(), QRect(QPoint(50, 40), QPoint(250, 200)));

        const QImage image = frame->grab().toImage();
        QCOMPARE(image.pixelColor(50, 120), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor(250, 120), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor(150, 40), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor(150, 200), QColor(255, 0, 0));
        // Inside and outside the outline the video stays visible.
        QCOMPARE(image.pixelColor(150, 120), QColor(0, 0, 255));
        QCOMPARE(image.pixelColor(20, 20), QColor(0, 0, 255));

        QTest::mouseRelease(frame, Qt::LeftButton, {}, QPoint(250, 200));
        QVERIFY(!band->isVisible());
        QCOMPARE(frame->grab().toImage().pixelColor(50, 120), QColor(0, 0, 255));
    }

    void rightClick_data()
    {
        QTest::addColumn<bool>("preview");
        QTest::addColumn<bool>("elect");
        QTest::newRow("no stream") << false << false;
        QTest::newRow("no stream, e-PTZ") << false << true;
        QTest::newRow("stream") << true << false;
        QTest::newRow("stream, e-PTZ") << true << true;
    }
    void rightClick()
    {
        QFETCH(bool, preview);
        QFETCH(bool, elect);
        Fixture f;
        QVERIFY(f.show());
        f.grid->SplitWindow(4);
        f.grid->setPreviewStatus(2, preview);
        f.grid->SetPTZElectStatus(2, elect);
        f.grid->GetWnd(2)->SetDigitalZoom(true);
        const QRect region(QPoint(100, 100), QPoint(4000, 4000));
        f.grid->GetWnd(2)->SetZoomRegion(region);
        QSignalSpy quitZoom(f.grid, &CPlayWindowManage::quitDigitalZoom);
        QSignalSpy quitElect(f.grid, &CPlayWindowManage::quitPTZElect);
        QSignalSpy changed(f.grid, &CPlayWindowManage::curWndIndexSig);

        QTest::mouseClick(f.frame(2), Qt::RightButton);
        QCOMPARE(quitZoom.count(), preview ? 1 : 0);
        QCOMPARE(quitElect.count(), elect ? 1 : 0);
        if (preview)
            QCOMPARE(quitZoom.at(0).at(0).toInt(), 2);
        if (elect)
            QCOMPARE(quitElect.at(0).at(0).toInt(), 2);
        QCOMPARE(f.grid->GetWnd(2)->GetZoomRegion(), preview ? QRect() : region);
        QCOMPARE(f.grid->GetWnd(2)->IsDigitalZoom(), !preview);
        QCOMPARE(f.frame(2)->GetPTZElectStatus(), false);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(f.grid->GetCurWndIndex(), 2);
    }

    void handles()
    {
        Fixture f;
        f.grid->SplitWindow(64);
        QCOMPARE(f.grid->GetWndHandle(64), WId(0));
        QCOMPARE(f.grid->GetWndHandle(-1), WId(0));
        for (int i = 0; i < CPlayWindowManage::kMaxWnd; ++i)
            QCOMPARE(QWidget::find(f.grid->GetWndHandle(i)), static_cast<QWidget *>(f.frame(i)));

        // Moving the grid to another top-level window keeps the handles
        // usable: they are read when asked for.
        QWidget other;
        f.grid->setParent(&other);
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        for (int i : { 0, 31, 63 })
            QCOMPARE(QWidget::find(f.grid->GetWndHandle(i)), static_cast<QWidget *>(f.frame(i)));
        f.grid->setParent(&f.top);
    }

    void indexOrAll()
    {
        Fixture f;
        f.grid->SplitWindow(16);

        f.grid->setPreviewStatus(-1, true);
        for (int i = 0; i < 64; ++i)
            QVERIFY(f.frame(i)->GetPreviewStatus());
        f.grid->setPreviewStatus(3, false);
        for (int i = 0; i < 64; ++i)
            QCOMPARE(f.frame(i)->GetPreviewStatus(), i != 3);
        f.grid->setPreviewStatus(64, false);
        for (int i = 0; i < 64; ++i)
            QVERIFY(!f.frame(i)->GetPreviewStatus());

        f.grid->SetAspectMode(5, 1);
        QCOMPARE(f.grid->GetWnd(5)->GetAspectMode(), 1);
        f.grid->SetAspectMode(-1, 1);
        for (int i = 0; i < 64; ++i)
            QCOMPARE(f.grid->GetWnd(i)->GetAspectMode(), -1);
        f.grid->onVideoSizeChange(7);
        QCOMPARE(f.grid->GetWnd(7)->GetAspectMode(), 1);
        f.grid->onVideoSizeChange(64);
        QCOMPARE(f.grid->GetWnd(7)->GetAspectMode(), -1);

        for (int i = 0; i < 64; ++i) {
            f.grid->GetWnd(i)->SetDigitalZoom(true);
            f.grid->GetWnd(i)->SetZoomRegion(QRect(0, 0, 100, 100));
        }
        f.grid->SetDigitalZoom(-1, false);
        for (int i = 0; i < 64; ++i) {
            QVERIFY(!f.grid->GetWnd(i)->IsDigitalZoom());
            QCOMPARE(f.grid->GetWnd(i)->GetZoomRegion(), QRect());
        }

        f.grid->SetPTZElectStatus(-1, true);
        for (int i = 0; i < 64; ++i)
            QVERIFY(f.frame(i)->GetPTZElectStatus());

        // Single-window operations ignore indexes outside 0-63.
        f.grid->SetVideoSize(64, 1, 1);
        f.grid->ShowScaleSlider(-1, true, 8.0f);
        f.grid->SetScaleValue(100, 2.0f);
        for (int i = 0; i < 64; ++i)
            QVERIFY(!f.grid->GetWnd(i)->GetScaleSlider());
    }

    void digitalZoomOfCurrentWindow()
    {
        Fixture f;
        f.grid->SplitWindow(4);
        f.grid->onCurWndIndexChange(2);
        QVERIFY(!f.grid->IsCurWndDigitalZoom());
        f.grid->ToggleCurWndDigitalZoom();
        QVERIFY(f.grid->IsCurWndDigitalZoom());
        QVERIFY(f.grid->GetWnd(2)->IsDigitalZoom());
        QVERIFY(!f.grid->GetWnd(0)->IsDigitalZoom());
        f.grid->GetWnd(2)->SetZoomRegion(QRect(10, 10, 100, 100));
        f.grid->ToggleCurWndDigitalZoom();
        QVERIFY(!f.grid->IsCurWndDigitalZoom());
        QCOMPARE(f.grid->GetWnd(2)->GetZoomRegion(), QRect());
    }

    void selectWndAtPoint()
    {
        Fixture f(QSize(400, 300));
        QVERIFY(f.show());
        f.grid->SplitWindow(4);
        QTRY_COMPARE(f.grid->GetWnd(3)->geometry(), QRect(200, 150, 200, 150));

        f.grid->SelectWndAtPoint(300, 200);
        QCOMPARE(f.grid->GetCurWndIndex(), 3);
        // Both ends of a window's rectangle belong to it; the first wins.
        f.grid->SelectWndAtPoint(200, 150);
        QCOMPARE(f.grid->GetCurWndIndex(), 0);
        f.grid->SelectWndAtPoint(399, 10);
        QCOMPARE(f.grid->GetCurWndIndex(), 1);
        f.grid->SelectWndAtPoint(1000, 1000);
        QCOMPARE(f.grid->GetCurWndIndex(), 1);

        // While a window is enlarged, the hidden ones do not take the point.
        QTest::mouseDClick(f.frame(3), Qt::LeftButton);
        QVERIFY(f.grid->IsEnlarged());
        f.grid->onCurWndIndexChange(3);
        f.grid->SelectWndAtPoint(10, 10);
        QCOMPARE(f.grid->GetCurWndIndex(), 3);
    }

    void clearAndRefreshSelection()
    {
        Fixture f;
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        f.grid->ShowScaleSlider(0, true, 8.0f);
        QVERIFY(f.grid->GetWnd(0)->GetScaleSlider()->isVisible());
        f.grid->ClearSelection();
        QCOMPARE(selectedCount(*f.grid), 0);
        QVERIFY(!f.grid->GetWnd(0)->GetScaleSlider()->isVisible());
        f.grid->RefreshSelection();
        QCOMPARE(selectedCount(*f.grid), 1);
        QVERIFY(f.grid->GetWnd(0)->IsSelected());

        // In a multi-window split the slider is left alone.
        f.grid->SplitWindow(4);
        f.grid->onCurWndIndexChange(1);
        f.grid->ShowScaleSlider(1, true, 8.0f);
        f.grid->ClearSelection();
        QCOMPARE(selectedCount(*f.grid), 0);
        QVERIFY(f.grid->GetWnd(1)->GetScaleSlider()->isVisible());
        f.grid->RefreshSelection();
        QVERIFY(f.grid->GetWnd(1)->IsSelected());
        QCOMPARE(selectedCount(*f.grid), 1);
    }

    void restoreReFitsKeptAspect()
    {
        Fixture f(QSize(804, 304));
        QVERIFY(f.show());
        f.grid->SplitWindow(4);
        f.grid->SetVideoSize(1, 400, 300);
        f.grid->SetAspectMode(1, 1);
        QTest::mouseDClick(f.frame(1), Qt::LeftButton);
        QVERIFY(f.grid->IsEnlarged());
        // 4:3 video in an 802 x 302 surface: full height, centred.
        QTRY_COMPARE(f.frame(1)->geometry(), QRect(200, 0, 402, 302));
        QTest::mouseDClick(f.frame(1), Qt::LeftButton);
        QVERIFY(!f.grid->IsEnlarged());
        // Back in a 402 x 152 cell (400 x 150 inside the border).
        QTRY_COMPARE(f.frame(1)->geometry(), QRect(100, 0, 200, 150));
    }

    void skins_data()
    {
        QTest::addColumn<QString>("skin");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("selection");
        QTest::newRow("Black") << QStringLiteral("Black") << QColor(43, 43, 43) << QColor(196, 0, 34);
        QTest::newRow("O53") << QStringLiteral("O53") << QColor(24, 39, 58) << QColor(133, 1, 0);
        QTest::newRow("other") << QStringLiteral("Blue") << QColor(255, 255, 255) << QColor(18, 144, 255);
        QTest::newRow("empty") << QString() << QColor(255, 255, 255) << QColor(18, 144, 255);
    }
    void skins()
    {
        QFETCH(QString, skin);
        QFETCH(QColor, background);
        QFETCH(QColor, selection);
        Fixture f(QSize(400, 300));
        QVERIFY(f.show());
        f.grid->SplitWindow(4);
        f.grid->SetSkin(skin);
        QTRY_COMPARE(f.grid->GetWnd(1)->geometry(), QRect(200, 0, 200, 150));
        const QImage image = f.grid->grab().toImage();
        // The selected window's border in the selection colour; the others'
        // one-pixel margin shows the grid's background; the surface is black.
        QCOMPARE(image.pixelColor(0, 75), selection);
        QCOMPARE(image.pixelColor(199, 75), selection);
        QCOMPARE(image.pixelColor(100, 149), selection);
        QCOMPARE(image.pixelColor(200, 75), background);
        QCOMPARE(image.pixelColor(300, 0), background);
        QCOMPARE(image.pixelColor(300, 75), QColor(0, 0, 0));
        for (int i = 0; i < 64; ++i)
            QCOMPARE(f.grid->GetWnd(i)->GetSelectionColor(), selection);
    }

    void backgroundImageGoesToWindowZero()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("logo.png"));
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(QColor(0, 200, 0));
        QVERIFY(picture.save(path));

        Fixture f(QSize(402, 302));
        QVERIFY(f.show());
        f.grid->SplitWindow(1);
        QTRY_COMPARE(f.frame(0)->size(), QSize(400, 300));
        f.grid->SetBackgroundImage(path);
        QCOMPARE(f.frame(0)->GetBackgroundImage(), path);
        QCOMPARE(f.frame(1)->GetBackgroundImage(), QString());
        const QImage image = f.frame(0)->grab().toImage();
        QCOMPARE(image.pixelColor(0, 0), QColor(0, 200, 0));
        QCOMPARE(image.pixelColor(399, 299), QColor(0, 200, 0));

        f.grid->SetBackgroundImage(dir.filePath(QStringLiteral("missing.png")));
        QCOMPARE(f.frame(0)->grab().toImage().pixelColor(200, 150), QColor(0, 0, 0));
    }

    void sliderSignalReachesGrid()
    {
        Fixture f(QSize(422, 302));
        QVERIFY(f.show());
        f.grid->SplitWindow(9);
        QTest::mouseDClick(f.frame(4), Qt::LeftButton);
        f.grid->ShowScaleSlider(4, true, 8.0f);
        CScaleSlider *slider = f.grid->GetWnd(4)->GetScaleSlider();
        QVERIFY(slider);
        QTRY_VERIFY(slider->isVisible());
        QSignalSpy times(f.grid, &CPlayWindowManage::sig_SetScaleTwoLensTimes);
        // 422 wide: two thirds is 281, rounded up to 350 (a multiple of 70).
        QCOMPARE(slider->width(), 350);
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(125, slider->height() / 2));
        QCOMPARE(slider->value(), 25);
        QCOMPARE(times.count(), 1);
        QCOMPARE(times.at(0).at(0).toFloat(), 2.5f);
        QCOMPARE(times.at(0).at(1).toInt(), 4);
    }
};

QTEST_MAIN(TestPlayWindowManage)
#include "tst_play_window_manage.moc"
