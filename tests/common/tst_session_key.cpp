#include "common/SessionKey.h"

#include <QSet>
#include <QtTest>

class TestSessionKey : public QObject
{
    Q_OBJECT

private slots:
    void formatAndUniqueness()
    {
        QSet<QByteArray> seen;
        int histogram[128] = {};
        for (int i = 0; i < 2000; ++i) {
            const QByteArray key = SessionKey::make();
            QCOMPARE(key.size(), SessionKey::kLength);
            for (char c : key) {
                QVERIFY2(c >= 33 && c <= 126, key.constData());
                ++histogram[int(c)];
            }
            seen.insert(key);
        }
        // Keys made within the same second differ.
        QCOMPARE(seen.size(), 2000);
        // 32000 draws over 94 characters: each appears about 340 times.
        for (int c = 33; c <= 126; ++c)
            QVERIFY2(histogram[c] > 200 && histogram[c] < 500, qPrintable(QString::number(c)));
    }
};

QTEST_APPLESS_MAIN(TestSessionKey)
#include "tst_session_key.moc"
