#include "ServiceTestSupport.h"
#include "SessionCipher.h"

#include <QtTest>

namespace {
const unsigned char kZeroIv[16] = {};
const char kKey[] = "A!b#C$d%E&f'G(h)"; // 16 printable characters
} // namespace

class TestSessionCipher : public QObject
{
    Q_OBJECT

private slots:
    void lengths_data()
    {
        QTest::addColumn<int>("plainLength");
        QTest::addColumn<int>("base64Length");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("one") << 1 << 24;
        QTest::newRow("16 characters, no extra block") << 16 << 24;
        QTest::newRow("17 characters") << 17 << 44;
        // Far beyond the old fixed 16384-byte buffers.
        QTest::newRow("100000 characters") << 100000 << 133336;
    }
    void lengths()
    {
        QFETCH(int, plainLength);
        QFETCH(int, base64Length);
        const QByteArray plain(plainLength, 'q');
        QByteArray cipher;
        QCOMPARE(encryptSessionMessage(plain, &cipher, kZeroIv, kKey), kCipherOk);
        QCOMPARE(cipher.size(), base64Length);
        QByteArray back;
        DecryptOutcome outcome = DecryptOutcome::Failed;
        QCOMPARE(decryptSessionMessage(cipher, &back, kZeroIv, kKey, &outcome), kCipherOk);
        QCOMPARE(outcome, DecryptOutcome::Decrypted);
        QCOMPARE(back, plain);
    }

    // Every message starts from the same IV: equal texts give equal ciphertext.
    void ivIsNotCarriedOver()
    {
        QByteArray a, b;
        QCOMPARE(encryptSessionMessage("{\"MainType\":4}", &a, kZeroIv, kKey), kCipherOk);
        QCOMPARE(encryptSessionMessage("{\"MainType\":4}", &b, kZeroIv, kKey), kCipherOk);
        QCOMPARE(a, b);
    }

    void onlyFirstSixteenKeyBytesCount()
    {
        QByteArray a, b;
        QCOMPARE(encryptSessionMessage("hello", &a, kZeroIv, "0123456789abcdefXYZ"), kCipherOk);
        QCOMPARE(encryptSessionMessage("hello", &b, kZeroIv, "0123456789abcdef"), kCipherOk);
        QCOMPARE(a, b);
        QByteArray c;
        QCOMPARE(encryptSessionMessage("hello", &c, kZeroIv, "0123456789abcdeX"), kCipherOk);
        QVERIFY(a != c);
    }

    void textEndsAtNul()
    {
        QByteArray a, b;
        QCOMPARE(encryptSessionMessage(QByteArray("abc\0def", 7), &a, kZeroIv, kKey), kCipherOk);
        QCOMPARE(encryptSessionMessage("abc", &b, kZeroIv, kKey), kCipherOk);
        QCOMPARE(a, b);
    }

    void decryptFailures_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("plain JSON passes through")
            << QByteArray("{\"MainType\":1,\"MsgID\":2}") << int(DecryptOutcome::NotBase64)
            << QByteArray("{\"MainType\":1,\"MsgID\":2}");
        QTest::newRow("Base64 of 5 bytes")
            << QByteArray("aGVsbG8=") << int(DecryptOutcome::Failed) << QByteArray("untouched");
        QTest::newRow("Base64 of 17 bytes")
            << QByteArray(17, 'x').toBase64() << int(DecryptOutcome::Failed) << QByteArray("untouched");
    }
    void decryptFailures()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, outcome);
        QFETCH(QByteArray, out);
        QByteArray result("untouched");
        DecryptOutcome got = DecryptOutcome::Decrypted;
        QCOMPARE(decryptSessionMessage(text, &result, kZeroIv, kKey, &got), kCipherFailed);
        QCOMPARE(int(got), outcome);
        QCOMPARE(result, out);
    }

    // The page side of the cipher, as openssl does it.
    void opensslDecryptsOurs_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::newRow("reply") << QByteArray("{\"Msg\":4,\"SubMsg\":0,\"Ret\":100,\"MsgID\":7}\n");
        QTest::newRow("exact block") << QByteArray("0123456789abcdef");
        QTest::newRow("utf-8") << QString::fromUtf8("{\"Name\":\"caf\xc3\xa9 \xe4\xb8\xad\"}").toUtf8();
        QTest::newRow("long") << QByteArray(70000, 'z');
    }
    void opensslDecryptsOurs()
    {
        QFETCH(QByteArray, plain);
        QByteArray cipher;
        QCOMPARE(encryptSessionMessage(plain, &cipher, kZeroIv, kKey), kCipherOk);
        bool ok = false;
        const QByteArray back = ServiceTest::opensslDecrypt(cipher, kKey, &ok);
        QVERIFY(ok);
        QCOMPARE(ServiceTest::stripZeros(back), plain);
    }

    void weDecryptOpenssl()
    {
        const QByteArray plain("{\"MainType\":4,\"SubType\":1,\"MsgID\":\"a/b+c=\"}");
        bool ok = false;
        const QByteArray cipher = ServiceTest::opensslEncrypt(plain, kKey, &ok);
        QVERIFY(ok);
        QByteArray back;
        QCOMPARE(decryptSessionMessage(cipher, &back, kZeroIv, kKey), kCipherOk);
        QCOMPARE(back, plain);
    }
};

QTEST_GUILESS_MAIN(TestSessionCipher)
#include "tst_session_cipher.moc"
