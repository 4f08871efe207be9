// Texts copied into the device library's fixed-width fields.

#include "TextField.h"

#include <QtTest>

#include <cstring>

class TestTextField : public QObject
{
    Q_OBJECT

private slots:
    void textFieldsCutOnCharacters_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("fits") << QByteArray("abc") << 4 << QByteArray("abc");
        QTest::newRow("cut ASCII") << QByteArray("abcd") << 4 << QByteArray("abc");
        QTest::newRow("two-byte character at the edge") << QByteArray("ab\xc3\xa9") << 4 << QByteArray("ab");
        QTest::newRow("two-byte character fits") << QByteArray("a\xc3\xa9z") << 4 << QByteArray("a\xc3\xa9");
        QTest::newRow("three-byte character")
            << QByteArray("\xe2\x82\xac\xe2\x82\xac") << 6 << QByteArray("\xe2\x82\xac");
        QTest::newRow("four-byte character") << QByteArray("x\xf0\x9f\x98\x80") << 5 << QByteArray("x");
        QTest::newRow("63 of 64, 40 two-byte characters") << QByteArray(40, 'x').replace(
            "x", "\xc3\xa9") << 64 << QByteArray(31, 'x').replace("x", "\xc3\xa9");
        QTest::newRow("a one-byte field") << QByteArray("abc") << 1 << QByteArray();
    }
    void textFieldsCutOnCharacters()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, size);
        QFETCH(QByteArray, field);
        char buffer[80];
        std::memset(buffer, 'Z', sizeof buffer);
        TextField::copy(buffer, size_t(size), text);
        QCOMPARE(QByteArray(buffer), field);
        QCOMPARE(buffer[size], 'Z');
    }
};

QTEST_GUILESS_MAIN(TestTextField)
#include "tst_text_field.moc"
