#include "common/SecretRedactor.h"

#include <QtTest>

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
    }
    void redact()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(redactSecrets(in), out);
    }
};

QTEST_APPLESS_MAIN(TestSecretRedactor)
#include "tst_secret_redactor.moc"
