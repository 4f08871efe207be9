// The HTTP client's waits end at once when another thread raises their
// cancel flag, against an outside server of the test's own that never
// answers.
#include "GatedHttpServer.h"
#include "HttpClient.h"
#include "common/CancelFlag.h"

#include <QtTest>

#include <atomic>
#include <thread>

class TestHttpCancel : public QObject
{
    Q_OBJECT

private slots:
    void cancelEndsTheWait_data()
    {
        QTest::addColumn<bool>("raisedBefore"); // the flag is up before the request
        QTest::addColumn<bool>("post");
        QTest::newRow("raised during a GET") << false << false;
        QTest::newRow("raised during a POST") << false << true;
        QTest::newRow("raised before a GET") << true << false;
    }
    void cancelEndsTheWait()
    {
        QFETCH(bool, raisedBefore);
        QFETCH(bool, post);
        GatedHttpServer server;
        QVERIFY(server.port > 0);
        CancelFlag cancel;
        if (raisedBefore)
            cancel.cancel();
        std::atomic<int> result { -1 };
        // The client waits on a thread of its own, as on a work lane; the
        // request's time-out is far beyond the test's.
        std::thread waiter([&] {
            CHttpClient client(&cancel);
            QString out;
            const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(server.port);
            result = post ? client.postJson(url, QStringLiteral("{}"), out, 600000)
                          : client.getString(url, out, 600000);
        });
        if (!raisedBefore) {
            QTRY_COMPARE(server.held(), 1);
            QCOMPARE(result.load(), -1);
            cancel.cancel();
        }
        QTRY_VERIFY_WITH_TIMEOUT(result.load() != -1, 30000);
        waiter.join();
        QCOMPARE(result.load(), int(CHttpClient::Cancelled));
        QCOMPARE(server.seen("HTTP/1.1"), raisedBefore ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestHttpCancel)
#include "tst_http_cancel.moc"
