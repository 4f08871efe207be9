#include "ClientRegistry.h"

#include <QSet>
#include <QTemporaryFile>
#include <QtTest>

#include <climits>

#include <thread>
#include <vector>

class TestClientRegistry : public QObject
{
    Q_OBJECT

private slots:
    void idsStartAtOneAndNeverRepeat()
    {
        ClientRegistry registry;
        QCOMPARE(registry.nextSessionId(), 1);
        QCOMPARE(registry.takeSessionId(), 1);
        QCOMPARE(registry.nextSessionId(), 2);
        QCOMPARE(registry.takeSessionId(), 2);
    }

    // Both front ends draw ids from their own threads at the same time.
    void idsAreUniqueAcrossThreads()
    {
        ClientRegistry registry;
        constexpr int kThreads = 8;
        constexpr int kPerThread = 2000;
        std::vector<QVector<int>> taken(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&registry, &taken, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    (void)registry.nextSessionId();
                    taken[size_t(t)].append(registry.takeSessionId());
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QSet<int> all;
        for (const auto &ids : taken) {
            for (int id : ids)
                all.insert(id);
        }
        QCOMPARE(all.size(), kThreads * kPerThread);
        QCOMPARE(registry.nextSessionId(), kThreads * kPerThread + 1);
    }

    void fifthClientIsRefused()
    {
        ClientRegistry registry;
        int out = 0;
        for (int socket : { 40, 12, 33, 21 }) {
            QCOMPARE(registry.addClient(socket, &out), 0);
            QCOMPARE(out, socket);
        }
        QCOMPARE(registry.addClient(50, &out), -1);
        QCOMPARE(out, 12); // the lowest served socket
        QCOMPARE(registry.findClient(50, &out), -1);

        registry.removeClient(33);
        QCOMPARE(registry.addClient(50, &out), 0);
        QCOMPARE(registry.findClient(50, &out), 0);
        QCOMPARE(out, 50);

        const int value = 7;
        QCOMPARE(registry.setGuardedValue(50, &value), 0);
        QCOMPARE(registry.findClient(50, &out), 0);
        QCOMPARE(out, 7);
        QCOMPARE(registry.setGuardedValue(99, &value), -1);
        QCOMPARE(registry.setGuardedValue(50, nullptr), -1);

        QCOMPARE(registry.clearGuardedMap(), 0);
        QCOMPARE(registry.clientCount(), 0);
    }

    void rawSessionTables()
    {
        ClientRegistry registry;
        registry.setSessionSocket(5, 30);
        registry.setSessionSocket(3, 30);
        registry.setSessionSocket(4, 31);
        int session = 0;
        QVERIFY(registry.sessionOfSocket(30, &session));
        QCOMPARE(session, 3); // the first in id order
        int socket = 0;
        QVERIFY(registry.sessionSocket(4, &socket));
        QCOMPARE(socket, 31);
        registry.removeSessionSocket(4);
        QVERIFY(!registry.sessionSocket(4, &socket));
        QVERIFY(!registry.sessionOfSocket(31, &session));

        CUserLoginInfo info;
        QVERIFY(!registry.setSocketKey(30, "k"));
        registry.setSocketLoginInfo(30, info);
        QVERIFY(registry.setSocketKey(30, "0123456789abcdef"));
        QVERIFY(registry.setSocketUpgrade(30, true));
        CUserLoginInfo copy;
        QVERIFY(registry.socketLoginInfo(30, &copy));
        QVERIFY(copy.m_bEncrypted);
        QVERIFY(copy.m_bUpgrade);
        QCOMPARE(copy.keyText(), QByteArray("0123456789abcdef"));
        registry.removeSocketLoginInfo(30);
        QVERIFY(!registry.socketLoginInfo(30, &copy));
    }

    void keyRecord()
    {
        CUserLoginInfo info;
        QCOMPARE(info.m_nSocket, -1);
        QVERIFY(!info.m_bEncrypted);
        info.setKey(QByteArray(40, 'k'));
        QCOMPARE(info.keyText(), QByteArray(31, 'k')); // at most 31 characters
        QVERIFY(info.m_bEncrypted);
        info.wipe();
        QCOMPARE(info.keyText(), QByteArray());
        QVERIFY(!info.m_bEncrypted);
        for (unsigned char c : info.m_key)
            QCOMPARE(int(c), 0);
    }

    void replyCodes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("O42") << QByteArray("O42") << 42;
        QTest::newRow("Draxel") << QByteArray("Draxel") << -1;
        QTest::newRow("empty") << QByteArray("") << 0;
        QTest::newRow("E1") << QByteArray("E1") << -1000000;
        QTest::newRow("O alone") << QByteArray("O") << 0;
        QTest::newRow("O negative") << QByteArray("O-7") << -7;
        QTest::newRow("O and digits and more") << QByteArray("O12ab") << 12;
        QTest::newRow("Draxel with more") << QByteArray("Draxel!") << -1000000;
        QTest::newRow("O beyond int") << QByteArray("O99999999999") << INT_MAX;
    }
    void replyCodes()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, code);
        QCOMPARE(parseReplyCode(text.constData()), code);
    }

    // The test suite of RFC 1321, and sizes around the file reader's
    // 4096-byte blocks: the buffer's and the file's digests agree.
    void md5_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("digest"); // empty: compare the two only
        QTest::newRow("empty") << QByteArray() << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
        QTest::newRow("a") << QByteArray("a") << QByteArray("0cc175b9c0f1b6a831c399e269772661");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("900150983cd24fb0d6963f7d28e17f72");
        QTest::newRow("message digest")
            << QByteArray("message digest") << QByteArray("f96b697d7cb7938d525a2f31aaf161d0");
        QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz")
                                  << QByteArray("c3fcd3d76192e4007dfb496cca67e13b");
        QTest::newRow("letters and digits")
            << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
            << QByteArray("d174ab98d277d9f5a5611c2c9f419d9f");
        QTest::newRow("eighty digits")
            << QByteArray("1234567890").repeated(8) << QByteArray("57edf4a22be3c955ac49da2e2107b67a");
        for (int size : { 4095, 4096, 4097, 8192 }) {
            QByteArray bytes(size, Qt::Uninitialized);
            for (int i = 0; i < size; ++i)
                bytes[i] = char('A' + i % 26);
            QTest::newRow(qPrintable(QStringLiteral("%1 bytes").arg(size))) << bytes << QByteArray();
        }
    }
    void md5()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, digest);
        const QByteArray fromBuffer = md5Buffer(bytes.constData(), bytes.size()).toHex();
        if (!digest.isEmpty()) {
            QCOMPARE(fromBuffer, digest);
            // A length of 0 reads up to the terminating NUL.
            QCOMPARE(md5Buffer(bytes.constData(), 0).toHex(), digest);
        }
        QTemporaryFile file;
        QVERIFY(file.open());
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
        QVERIFY(file.seek(0));
        QCOMPARE(md5File(file).toHex(), fromBuffer);
        QCOMPARE(ClientRegistry::fileMd5Hex(file.fileName()), QString::fromLatin1(fromBuffer));
    }

    void md5BufferStopsAtNul()
    {
        const char text[] = "ab\0cd";
        QCOMPARE(md5Buffer(text, 0), md5Buffer("ab", 2));
        QCOMPARE(md5Buffer(text, 5), md5Buffer(QByteArray(text, 5).constData(), 5));
        QVERIFY(md5Buffer(text, 5) != md5Buffer(text, 0));
    }
};

QTEST_GUILESS_MAIN(TestClientRegistry)
#include "tst_client_registry.moc"
