// The talk topic's late answers: the device library's result of a custom
// voice file, on the worker thread, with the request kept for it.

#include "LiveFixture.h"

#include "QNConnect.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <thread>

using namespace live_fixture;
namespace control = kestrix::control;

class TestTalkResults : public QObject
{
    Q_OBJECT

private:
    LiveFixture f;

private slots:
    void initTestCase() { f.initTestCase(this); }
    void init() { QVERIFY(f.start(device())); }
    void cleanup() { f.stop(); }
    void cleanupTestCase() { f.cleanupTestCase(); }

    void voiceFileResult_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("user");
        QTest::addColumn<QString>("reply");
        QTest::newRow("done") << int(TRV_TRANSFER_DONE) << 0 << true
                              << R"({"Msg":30,"SubMsg":2,"MsgID":77,"nRet":100})";
        QTest::newRow("failed")
            << int(TRV_TRANSFER_FAILED) << int(TRV_ERR_FILE) << true
            << QStringLiteral(R"({"Msg":30,"SubMsg":2,"MsgID":77,"nRet":%1})").arg(TRV_ERR_FILE);
        QTest::newRow("no user value") << int(TRV_TRANSFER_DONE) << 0 << false << QString();
        // A transfer no request was kept for names none.
        QTest::newRow("other transfer") << int(TRV_TRANSFER_DONE) << 0 << true << QString();
    }
    void voiceFileResult()
    {
        QFETCH(int, state);
        QFETCH(int, code);
        QFETCH(bool, user);
        QFETCH(QString, reply);
        Qt::HANDLE worker = nullptr;
        QVERIFY(f.onWorker([&] {
            worker = QThread::currentThreadId();
            f.manage->talk().keepVoiceFileRequest(9, 2, 77);
        }));
        const int transfer = QByteArray(QTest::currentDataTag()) == "other transfer" ? 10 : 9;
        const auto messages = f.sentFromLibrary(
            [&] { TalkTopic::SDKResultCallback(transfer, state, code, user ? &f.manage->talk() : nullptr); });
        QCOMPARE(messages.size(), reply.isEmpty() ? 0 : 1);
        if (!reply.isEmpty()) {
            QCOMPARE(object(messages[0].text), object(reply));
            QCOMPARE(messages[0].thread, worker);
        }
    }

    // Results of many transfers arriving while the worker keeps the requests
    // of further ones: each answers the request kept for its own transfer.
    void voiceFileResultsWhileRequestsAreKept()
    {
        constexpr int kResults = 200;
        QVERIFY(f.onWorker([&] {
            for (int i = 1; i <= kResults; ++i)
                f.manage->talk().keepVoiceFileRequest(i, i % 2 ? 3 : 4, 1000 + i);
        }));
        std::atomic<bool> go { false };
        std::thread library([&] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = kResults; i >= 1; --i)
                TalkTopic::SDKResultCallback(i, TRV_TRANSFER_DONE, 0, &f.manage->talk());
        });
        f.sent.clear();
        for (int i = kResults + 1; i <= 2 * kResults; ++i) {
            QMetaObject::invokeMethod(
                f.manage, [this, i] { f.manage->talk().keepVoiceFileRequest(i, 2, i); },
                Qt::QueuedConnection);
            if (i == kResults + 10)
                go = true;
        }
        library.join();
        QVERIFY(QTest::qWaitFor([&] { return f.sent.size() >= kResults; }, 30000));
        QSet<int> answered;
        for (const QString &m : f.sent) {
            const QJsonObject o = object(m);
            const int id = o.value(QStringLiteral("MsgID")).toInt();
            QCOMPARE(o.value(QStringLiteral("SubMsg")).toInt(), id % 2 ? 3 : 4);
            answered.insert(id);
        }
        QCOMPARE(answered.size(), kResults);
        QCOMPARE(*std::min_element(answered.begin(), answered.end()), 1001);
        QCOMPARE(*std::max_element(answered.begin(), answered.end()), 1000 + kResults);
    }

    // A real transfer to the simulated device answers through the same callback.
    void voiceFileSentToTheDevice()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("customAlarmVoice.pcm"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1600, char(0xd5)));
        file.close();
        const int id = f.loginId();
        int result = 0;
        f.sent.clear();
        int transfer = 0;
        QVERIFY(f.onWorker([&] {
            result = CQNConnect::GetInstance()->ImportFile(
                2, id, 0, path, &TalkTopic::SDKResultCallback, &f.manage->talk(), &transfer);
            f.manage->talk().keepVoiceFileRequest(transfer, 3, 12);
        }));
        QCOMPARE(result, 100);
        QVERIFY(transfer > 0);
        QVERIFY(QTest::qWaitFor([&] { return !f.sent.isEmpty(); }, 30000));
        QCOMPARE(object(f.sent[0]), object(R"({"Msg":30,"SubMsg":3,"MsgID":12,"nRet":100})"));
        const auto files = control::receivedFiles("SN-LIVE");
        QCOMPARE(files.size(), size_t(1));
        QCOMPARE(files[0].first, std::string("customAlarmVoice.pcm"));
        QCOMPARE(files[0].second.size(), size_t(1600));
    }
};

QTEST_MAIN(TestTalkResults)
#include "tst_talk_results.moc"
