#include "ClientRegistry.h"

#include <QSet>
#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TestClientRegistry)
#include "tst_client_registry.moc"
