#include "SecretVariants.h"
#include "common/Json.h"
#include "common/LogText.h"
#include "common/SecretRedactor.h"

#include <QtTest>

namespace {

// Every text the parser reads below a secret's name, at any depth.
void secretsRead(const Json::Value &value, bool underSecret, QStringList *out)
{
    static const char *const names[] = { "Password", "tcsToken", "Token", "key" };
    if (value.isObject()) {
        for (const std::string &name : value.getMemberNames()) {
            bool secret = underSecret;
            for (const char *s : names)
                secret = secret || name == s;
            secretsRead(value[name], secret, out);
        }
    } else if (value.isArray()) {
        for (const Json::Value &item : value)
            secretsRead(item, underSecret, out);
    } else if (underSecret) {
        out->append(QString::fromStdString(JsonUtil::writeCompact(value)));
    }
}

} // namespace

class TestSecretRedactor : public QObject
{
    Q_OBJECT

private slots:
    void redact_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("password") << "{\"MainType\":8,\"Password\":\"s3cr\\\"et\",\"User\":\"admin\"}"
                                  << "{\"MainType\":8,\"Password\":\"***\",\"User\":\"admin\"}";
        QTest::newRow("key object") << "{\"Msg\":32,\"key\":{\"iv\":\"\",\"key\":\"a}b{c\"},\"Ret\":100}"
                                    << "{\"Msg\":32,\"key\":\"***\",\"Ret\":100}";
        QTest::newRow("tokens and blanks") << "{ \"tcsToken\" : \"abc\", \"Token\":123 }"
                                           << "{ \"tcsToken\" : \"***\", \"Token\":\"***\" }";
        QTest::newRow("nested") << "{\"Data\":{\"Password\":\"x\"}}"
                                << "{\"Data\":{\"Password\":\"***\"}}";
        QTest::newRow("name as value stays") << "{\"User\":\"Password\"}"
                                             << "{\"User\":\"Password\"}";
        QTest::newRow("similar name stays") << "{\"keyType\":1,\"Passwords\":2}"
                                            << "{\"keyType\":1,\"Passwords\":2}";
        QTest::newRow("no json") << "RecvWeb msg="
                                 << "RecvWeb msg=";
        QTest::newRow("cut text") << "{\"Password\":\"abc"
                                  << "{\"Password\":\"***\"";
        QTest::newRow("cut before value") << "{\"key\":"
                                          << "{\"key\":\"***\"";
        // Names spelt with escapes are the names the parser reads.
        QTest::newRow("escaped letter") << "{\"Pass\\u0077ord\":\"x\"}"
                                        << "{\"Pass\\u0077ord\":\"***\"}";
        QTest::newRow("all escaped") << "{\"\\u006B\\u0065\\u0079\":\"x\"}"
                                     << "{\"\\u006B\\u0065\\u0079\":\"***\"}";
        QTest::newRow("escaped slash stays") << "{\"Pass\\/word\":\"x\"}"
                                             << "{\"Pass\\/word\":\"x\"}";
        QTest::newRow("escape to other name") << "{\"Pass\\u0057ord\":\"x\"}"
                                              << "{\"Pass\\u0057ord\":\"x\"}";
        QTest::newRow("bad escape") << "{\"Pass\\u00zzord\":\"x\"}"
                                    << "{\"Pass\\u00zzord\":\"x\"}";
        // Comments are read as the parser reads them; a text is also read as
        // if it had none.
        QTest::newRow("comment hides a quote") << "{\"U\":\"a\",/*\"*/\"Password\":\"x\"}"
                                               << "{\"U\":\"a\",/*\"*/\"Password\":\"***\"}";
        QTest::newRow("comment before the value") << "{\"key\":/* c */\"x\",\"U\":1}"
                                                  << "{\"key\":\"***\" c */\"***\",\"U\":1}";
        QTest::newRow("slashes in plain text") << "see http://h/ {\"Token\":\"x\"}"
                                               << "see http://h/ {\"Token\":\"***\"}";
        QTest::newRow("both readings, one mask") << "{\"key\":[/*]*/\"x\"],\"U\":1}"
                                                 << "{\"key\":\"***\",\"U\":1}";
    }
    void redact()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(redactSecrets(in), out);
    }

    // Whatever the parser reads as a secret's value is gone from the log
    // text; the rest of the message stays.
    void parserReadings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<QString>("spelt");
        QTest::addColumn<bool>("parserReads");
        for (const SecretVariant &v : secretVariants())
            QTest::newRow(v.name) << QString::fromUtf8(v.text) << QString::fromUtf8(v.secret)
                                  << QString::fromUtf8(v.spelt ? v.spelt : v.secret) << v.parserReads;
    }
    void parserReadings()
    {
        QFETCH(QString, text);
        QFETCH(QString, secret);
        QFETCH(QString, spelt);
        QFETCH(bool, parserReads);
        Json::Value root;
        QStringList read;
        if (JsonUtil::parse(text, &root))
            secretsRead(root, false, &read);
        QCOMPARE(read.join(' ').contains(secret), parserReads);

        for (const QString &logged : { redactSecrets(text), LogText::forLine(text) }) {
            QVERIFY2(!logged.contains(secret) && !logged.contains(spelt), qPrintable(logged));
            if (text.contains(QLatin1String("\"admin\"")))
                QVERIFY2(logged.contains(QLatin1String("\"admin\"")), qPrintable(logged));
        }
        QVERIFY(!LogText::forLine(text).contains(QLatin1Char('\n')));
    }
};

QTEST_APPLESS_MAIN(TestSecretRedactor)
#include "tst_secret_redactor.moc"
