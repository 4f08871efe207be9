#include "ClientRegistry.h"
#include "PageSession.h"
#include "SessionCipher.h"

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

    // The record both front ends keep per session: texts pass unchanged both
    // ways until the session has its key, then the page's side is ciphertext.
    void pageSession()
    {
        PageSession session(7, 30);
        QCOMPARE(session.sessionId(), 7);
        QCOMPARE(session.loginInfo().m_nSocket, 30);
        const QByteArray reply("{\"Msg\":4,\"Ret\":100}");
        QByteArray out;
        QVERIFY(session.textForPage(reply, &out));
        QCOMPARE(out, reply);
        QVERIFY(session.textFromPage("aGVsbG8=", &out));
        QCOMPARE(out, QByteArray("aGVsbG8="));

        const QByteArray key = "0123456789abcdef" + QByteArray(24, 'k');
        session.setKey(key);
        session.setUpgrade(true);
        QVERIFY(session.isKeyed());
        QVERIFY(session.loginInfo().m_bUpgrade);
        QCOMPARE(session.loginInfo().keyText(), key.left(31)); // at most 31 characters
        QVERIFY(session.textForPage(reply, &out));
        const unsigned char zeroIv[16] = {};
        QByteArray expected;
        QCOMPARE(encryptSessionMessage(reply, &expected, zeroIv, key.constData()), kCipherOk);
        QCOMPARE(out, expected);
        QByteArray back;
        QVERIFY(session.textFromPage(out, &back));
        QCOMPARE(back, reply);
        // Plain JSON is no Base64 and passes; Base64 that is no whole number
        // of blocks does not decrypt.
        QVERIFY(session.textFromPage("{\"MainType\":6}", &back));
        QCOMPARE(back, QByteArray("{\"MainType\":6}"));
        QVERIFY(!session.textFromPage("aGVsbG8=", &back));
        QVERIFY(back.isEmpty());

        session.wipe();
        QVERIFY(!session.isKeyed());
        const CUserLoginInfo wiped = session.loginInfo();
        for (unsigned char c : wiped.m_key)
            QCOMPARE(int(c), 0);
        QVERIFY(session.textForPage(reply, &out));
        QCOMPARE(out, reply);
    }
};

QTEST_GUILESS_MAIN(TestClientRegistry)
#include "tst_client_registry.moc"
