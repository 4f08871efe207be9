#include "common/Json.h"
#include "common/NumericLocale.h"

#include <QtTest>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

class TestJsonUtil : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::newRow("object") << QByteArray("{\"MainType\":7}") << true;
        QTest::newRow("comment") << QByteArray("{\"a\":1 /* note */}") << true;
        QTest::newRow("array root") << QByteArray("[1,2]") << true;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("truncated") << QByteArray("{\"a\":") << false;
        QTest::newRow("deep nesting") << QByteArray(100000, '[') << false;
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        Json::Value v;
        QCOMPARE(JsonUtil::parse(text.toStdString(), &v), ok);
    }

    void typedReadsNeverThrow_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("hasInt");
        QTest::addColumn<int>("intValue");
        QTest::newRow("int") << QByteArray("{\"k\":8}") << true << 8;
        QTest::newRow("text") << QByteArray("{\"k\":\"8\"}") << false << 0;
        QTest::newRow("huge") << QByteArray("{\"k\":1e20}") << false << 0;
        QTest::newRow("fraction") << QByteArray("{\"k\":2.7}") << true << 2;
        QTest::newRow("uint above int") << QByteArray("{\"k\":4294967295}") << false << 0;
        QTest::newRow("null") << QByteArray("{\"k\":null}") << false << 0;
        QTest::newRow("object") << QByteArray("{\"k\":{}}") << false << 0;
        QTest::newRow("root array") << QByteArray("[1]") << false << 0;
        QTest::newRow("root number") << QByteArray("5") << false << 0;
    }
    void typedReadsNeverThrow()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, hasInt);
        QFETCH(int, intValue);
        Json::Value v;
        QVERIFY(JsonUtil::parse(text.toStdString(), &v));
        int got = -1;
        QCOMPARE(JsonUtil::readInt(v, "k", &got), hasInt);
        if (hasInt)
            QCOMPARE(got, intValue);
        QString s;
        QVERIFY(!JsonUtil::readString(v, "missing", &s));
        QCOMPARE(JsonUtil::intOr(v, "k", -7), hasInt ? intValue : -7);
        // member() on a non-object gives null and does not change the value.
        const Json::Value before = v;
        QVERIFY(JsonUtil::member(v, "zz").isNull());
        QCOMPARE(v, before);
    }

    void compactWriterFormat()
    {
        Json::Value reply;
        reply["SubMsg"] = 1;
        reply["Msg"] = 7;
        reply["Ret"] = 1020;
        reply["MsgID"] = 5;
        QCOMPARE(QString::fromStdString(JsonUtil::writeCompact(reply)),
            QStringLiteral("{\"Msg\":7,\"MsgID\":5,\"Ret\":1020,\"SubMsg\":1}\n"));
    }

    // A locale with a decimal comma (as QCoreApplication would set it from the
    // environment) must not leak into numbers the programs write.
    void numbersIgnoreLocale()
    {
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            QSKIP("de_DE.UTF-8 locale is not installed");
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        QCOMPARE(QByteArray(buf), QByteArray("1,5")); // the environment really uses a comma
        useCNumericLocale();
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        QCOMPARE(QByteArray(buf), QByteArray("1.5"));
        QCOMPARE(QString::fromStdString(std::to_string(2.5)), QStringLiteral("2.500000"));
        QCOMPARE(std::strtod("2.25", nullptr), 2.25);
        Json::Value v;
        v["pos"] = 1.5;
        QCOMPARE(QString::fromStdString(JsonUtil::writeCompact(v)), QStringLiteral("{\"pos\":1.5}\n"));
        std::setlocale(LC_ALL, "C");
    }
};

QTEST_APPLESS_MAIN(TestJsonUtil)
#include "tst_json_util.moc"
