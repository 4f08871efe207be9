// The login's helpers: the grid layout for a window count and the screen
// scale for a resolution.

#include "LoginSupport.h"

#include <QtTest>

#include <climits>

class TestLoginSupport : public QObject
{
    Q_OBJECT

private slots:
    void layoutIndex_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        const int rows[][2] = { { INT_MIN, 0 }, { 0, 0 }, { 1, 0 }, { 2, 1 }, { 4, 1 }, { 5, 2 }, { 9, 2 },
            { 10, 3 }, { 16, 3 }, { 17, 4 }, { 25, 4 }, { 26, 5 }, { 36, 5 }, { 37, 6 }, { 64, 6 }, { 65, 0 },
            { INT_MAX, 0 } };
        for (const auto &r : rows)
            QTest::addRow("%d", r[0]) << r[0] << r[1];
    }
    void layoutIndex()
    {
        QFETCH(int, count);
        QFETCH(int, index);
        QCOMPARE(LayoutIndexFromWndCount(count), index);
    }

    void screenScale_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("percent");
        QTest::newRow("96") << 96 << 100;
        QTest::newRow("120") << 120 << 125;
        QTest::newRow("144") << 144 << 150;
        QTest::newRow("100 rounds down") << 100 << 104;
        QTest::newRow("192") << 192 << 200;
    }
    void screenScale()
    {
        QFETCH(int, dpi);
        QFETCH(int, percent);
        QCOMPARE(ScalePercentFromDpi(dpi), percent);
    }
};

QTEST_GUILESS_MAIN(TestLoginSupport)
#include "tst_login_support.moc"
