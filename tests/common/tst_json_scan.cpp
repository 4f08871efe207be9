#include "common/Json.h"
#include "common/JsonScan.h"

#include <QtTest>

using Kind = JsonScan::MainTypeField::Kind;
Q_DECLARE_METATYPE(Kind)

namespace {

// What the whole parse makes of the text, in the scan's terms: the reference
// the scan must agree with wherever it accepts a text.
JsonScan::MainTypeField parsed(const std::string &text)
{
    JsonScan::MainTypeField field;
    Json::Value root;
    if (!JsonUtil::parse(text, &root) || !root.isObject())
        return field;
    const Json::Value &mainType = JsonUtil::member(root, "MainType");
    if (mainType.isNull()) {
        field.kind = Kind::Absent;
    } else if (JsonUtil::readInt(root, "MainType", &field.value)) {
        field.kind = Kind::Int;
    } else {
        field.kind = Kind::Mistyped;
    }
    return field;
}

} // namespace

class TestJsonScan : public QObject
{
    Q_OBJECT

private slots:
    void mainType_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("sameAsParse"); // false: the scan is stricter here

        QTest::newRow("request") << QByteArray("{\"MainType\":4,\"SubType\":0,\"MsgID\":7}") << Kind::Int << 4
                                 << true;
        QTest::newRow("firmware") << QByteArray("{\"MsgID\":1,\"MainType\":201}") << Kind::Int << 201 << true;
        QTest::newRow("blanks and comments")
            << QByteArray("  /* a */ {\n\t\"MainType\" : // b\n -3 /* c */ }  ") << Kind::Int << -3 << true;
        QTest::newRow("fraction cut") << QByteArray("{\"MainType\":201.9}") << Kind::Int << 201 << true;
        QTest::newRow("negative fraction") << QByteArray("{\"MainType\":-0.5}") << Kind::Int << 0 << true;
        QTest::newRow("exponent") << QByteArray("{\"MainType\":2.01E2}") << Kind::Int << 201 << true;
        QTest::newRow("leading zeros") << QByteArray("{\"MainType\":0032}") << Kind::Int << 32 << true;
        QTest::newRow("int max") << QByteArray("{\"MainType\":2147483647}") << Kind::Int << INT_MAX << true;
        QTest::newRow("int min") << QByteArray("{\"MainType\":-2147483648}") << Kind::Int << INT_MIN << true;
        QTest::newRow("over int") << QByteArray("{\"MainType\":2147483648}") << Kind::Mistyped << 0 << true;
        QTest::newRow("far over int")
            << QByteArray("{\"MainType\":123456789012345678901234567890}") << Kind::Mistyped << 0 << true;
        QTest::newRow("huge double") << QByteArray("{\"MainType\":1e300}") << Kind::Mistyped << 0 << true;
        QTest::newRow("beyond a double")
            << QByteArray("{\"MainType\":4,\"a\":2e308}") << Kind::NotObject << 0 << true;
        QTest::newRow("long whole beyond a double")
            << QByteArray("{\"MainType\":4,\"a\":1" + QByteArray(309, '0') + "}") << Kind::NotObject << 0
            << true;
        QTest::newRow("at the edge of a double")
            << QByteArray("{\"MainType\":4,\"a\":1.7e308,\"b\":0.00001e-400}") << Kind::Int << 4 << true;
        QTest::newRow("text") << QByteArray("{\"MainType\":\"4\"}") << Kind::Mistyped << 0 << true;
        QTest::newRow("bool") << QByteArray("{\"MainType\":true}") << Kind::Mistyped << 0 << true;
        QTest::newRow("object") << QByteArray("{\"MainType\":{\"MainType\":4}}") << Kind::Mistyped << 0
                                << true;
        QTest::newRow("array") << QByteArray("{\"MainType\":[4]}") << Kind::Mistyped << 0 << true;
        QTest::newRow("null") << QByteArray("{\"MainType\":null,\"SubType\":1}") << Kind::Absent << 0 << true;
        QTest::newRow("absent") << QByteArray("{\"SubType\":1}") << Kind::Absent << 0 << true;
        QTest::newRow("empty object") << QByteArray("{}") << Kind::Absent << 0 << true;
        QTest::newRow("nested only") << QByteArray("{\"a\":{\"MainType\":4},\"b\":[{\"MainType\":5}]}")
                                     << Kind::Absent << 0 << true;
        QTest::newRow("last of repeated")
            << QByteArray("{\"MainType\":4,\"MainType\":201}") << Kind::Int << 201 << true;
        QTest::newRow("escaped name") << QByteArray("{\"Main\\u0054ype\":8}") << Kind::Int << 8 << true;
        QTest::newRow("longer name") << QByteArray("{\"MainTypes\":8}") << Kind::Absent << 0 << true;
        QTest::newRow("name with nul") << QByteArray("{\"MainType\\u0000\":8}") << Kind::Absent << 0 << true;
        QTest::newRow("escapes and surrogates")
            << QByteArray("{\"t\":\"a\\\"b\\\\c\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\",\"MainType\":2}")
            << Kind::Int << 2 << true;
        QTest::newRow("raw control character")
            << QByteArray("{\"t\":\"a\x01z\",\"MainType\":2}") << Kind::Int << 2 << true;
        QTest::newRow("after the root") << QByteArray("{\"MainType\":5} trailing") << Kind::Int << 5 << true;
        QTest::newRow("utf-8 text") << QByteArray("{\"t\":\"caf\xc3\xa9 \xe4\xb8\xad\",\"MainType\":6}")
                                    << Kind::Int << 6 << true;

        QTest::newRow("array root") << QByteArray("[1,2]") << Kind::NotObject << 0 << true;
        QTest::newRow("number root") << QByteArray("4") << Kind::NotObject << 0 << true;
        QTest::newRow("empty") << QByteArray("") << Kind::NotObject << 0 << true;
        QTest::newRow("blank") << QByteArray(" \n ") << Kind::NotObject << 0 << true;
        QTest::newRow("unclosed") << QByteArray("{\"MainType\":4") << Kind::NotObject << 0 << true;
        QTest::newRow("unclosed string")
            << QByteArray("{\"MainType\":4,\"a\":\"b}") << Kind::NotObject << 0 << true;
        QTest::newRow("bad escape") << QByteArray("{\"a\":\"\\q\",\"MainType\":4}") << Kind::NotObject << 0
                                    << true;
        QTest::newRow("short unicode")
            << QByteArray("{\"a\":\"\\u12\",\"MainType\":4}") << Kind::NotObject << 0 << true;
        QTest::newRow("lone high surrogate")
            << QByteArray("{\"a\":\"\\ud83dx\",\"MainType\":4}") << Kind::NotObject << 0 << true;
        QTest::newRow("missing colon") << QByteArray("{\"MainType\" 4}") << Kind::NotObject << 0 << true;
        QTest::newRow("missing comma")
            << QByteArray("{\"a\":1 \"MainType\":4}") << Kind::NotObject << 0 << true;
        QTest::newRow("trailing comma") << QByteArray("{\"MainType\":4,}") << Kind::NotObject << 0 << true;
        QTest::newRow("name not a string") << QByteArray("{MainType:4}") << Kind::NotObject << 0 << true;
        QTest::newRow("bad literal") << QByteArray("{\"MainType\":nul}") << Kind::NotObject << 0 << true;
        QTest::newRow("bare minus") << QByteArray("{\"a\":-,\"MainType\":4}") << Kind::NotObject << 0
                                    << false;
        QTest::newRow("comment before colon")
            << QByteArray("{\"MainType\" /* c */ :4}") << Kind::NotObject << 0 << true;
        QTest::newRow("comment in empty array")
            << QByteArray("{\"a\":[ /* c */ ],\"MainType\":4}") << Kind::NotObject << 0 << true;
        QTest::newRow("comment in empty object")
            << QByteArray("{\"a\":{ /* c */ },\"MainType\":4}") << Kind::Int << 4 << true;
        QTest::newRow("unended comment")
            << QByteArray("{\"MainType\":4 /* }") << Kind::NotObject << 0 << true;
        QTest::newRow("mismatched close")
            << QByteArray("{\"a\":[1,2},\"MainType\":4}") << Kind::NotObject << 0 << true;
        QTest::newRow("too deep") << QByteArray(
            "{\"a\":" + QByteArray(JsonScan::kMaxDepth, '[') + QByteArray(JsonScan::kMaxDepth, ']') + "}")
                                  << Kind::NotObject << 0 << false;
        QTest::newRow("deepest allowed") << QByteArray("{\"MainType\":3,\"a\":"
            + QByteArray(JsonScan::kMaxDepth - 1, '[') + QByteArray(JsonScan::kMaxDepth - 1, ']') + "}")
                                         << Kind::Int << 3 << true;
    }
    void mainType()
    {
        QFETCH(QByteArray, text);
        QFETCH(Kind, kind);
        QFETCH(int, value);
        QFETCH(bool, sameAsParse);
        const JsonScan::MainTypeField field
            = JsonScan::mainType(std::string_view(text.constData(), size_t(text.size())));
        QCOMPARE(field.kind, kind);
        if (kind == Kind::Int)
            QCOMPARE(field.value, value);
        const JsonScan::MainTypeField reference = parsed(text.toStdString());
        if (sameAsParse) {
            QCOMPARE(field.kind, reference.kind);
            if (kind == Kind::Int)
                QCOMPARE(field.value, reference.value);
        }
    }

    // A text near the page message cap, an array of millions of numbers with
    // the MainType after it, is read in one pass and routed.
    void nearCapText()
    {
        QByteArray text = "{\"Data\":[";
        text.reserve(16 * 1024 * 1024);
        while (text.size() < 16 * 1024 * 1024 - 64)
            text += "1,2.5,-3e2,";
        text += "0],\"MainType\":201,\"MsgID\":9}";
        const JsonScan::MainTypeField field
            = JsonScan::mainType(std::string_view(text.constData(), size_t(text.size())));
        QCOMPARE(field.kind, Kind::Int);
        QCOMPARE(field.value, 201);
        text.chop(1);
        QCOMPARE(JsonScan::mainType(std::string_view(text.constData(), size_t(text.size()))).kind,
            Kind::NotObject);
    }
};

QTEST_APPLESS_MAIN(TestJsonScan)
#include "tst_json_scan.moc"
