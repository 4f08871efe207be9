#include "LightWeightLog.h"
#include "PlayWidgetFacade.h"
#include "PlaybackTopic.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "RecordingPlayWidget.h"
#include "RequestHarness.h"

#include <QCoreApplication>
#include <QThread>
#include <QtTest>

#include <functional>

class TestPluginManage : public QObject
{
    Q_OBJECT

private:
    RequestHarness m_h;
    QStringList m_log;
    RecordingPlayWidget m_widget;

    void post(const QString &msg) { m_h.post(msg); }
    // Runs `f` on the worker thread; this thread keeps serving events meanwhile:
    // the GUI thread never blocks on the worker.
    void onWorker(std::function<void()> f) { QVERIFY(m_h.onWorker(std::move(f), 10000)); }
    QStringList answersTo(const QString &msg) { return m_h.answersTo(msg, 10000); }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
        m_h.make(this, QStringLiteral("0x1234"), 9);
        connect(LightWeightLog::instance(), &LightWeightLog::writeLogSig, this,
            [this](const QString &line) { m_log.append(line); });
        PlayerWindow::setProvider([this] { return &m_widget; });
        QCOMPARE(m_h.manage->thread(), m_h.manage->workerThread());
        QVERIFY(m_h.manage->workerThread() != QThread::currentThread());
    }

    void cleanupTestCase()
    {
        m_h.destroy();
        PlayerWindow::setProvider(nullptr);
    }

    void dispatch_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<bool>("analyzeError");
        const auto reply
            = [](const char *s) { return QStringList { QString::fromLatin1(s) + QLatin1Char('\n') }; };
        QTest::newRow("unknown type") << R"({"MainType":7,"SubType":1,"MsgID":5})"
                                      << reply(R"({"Msg":7,"MsgID":5,"Ret":1020,"SubMsg":1})") << false;
        QTest::newRow("no MsgID") << R"({"MainType":99})"
                                  << reply(R"({"Msg":99,"MsgID":null,"Ret":1020,"SubMsg":null})") << false;
        QTest::newRow("negative") << R"({"MainType":-1})"
                                  << reply(R"({"Msg":-1,"MsgID":null,"Ret":1020,"SubMsg":null})") << false;
        QTest::newRow("values copied as they are")
            << R"({"MainType":1,"SubType":"a","MsgID":[1,{"b":2}]})"
            << reply(R"({"Msg":1,"MsgID":[1,{"b":2}],"Ret":1020,"SubMsg":"a"})") << false;
        QTest::newRow("comment allowed")
            << "{\"MainType\":10 /* c */}" << reply(R"({"Msg":10,"MsgID":null,"Ret":1020,"SubMsg":null})")
            << false;
        QTest::newRow("text behind NUL ignored")
            << QStringLiteral("{\"MainType\":17}") + QChar(0) + QStringLiteral("zz")
            << reply(R"({"Msg":17,"MsgID":null,"Ret":1020,"SubMsg":null})") << false;
        QTest::newRow("MainType as text") << R"({"MainType":"8"})" << QStringList() << true;
        QTest::newRow("MainType too large") << R"({"MainType":1e20})" << QStringList() << true;
        QTest::newRow("array") << "[1,2]" << QStringList() << true;
        QTest::newRow("number") << "5" << QStringList() << true;
        QTest::newRow("MainType 0") << R"({"MainType":0,"MsgID":1})" << QStringList() << false;
        QTest::newRow("no MainType") << R"({"MsgID":1})" << QStringList() << false;
        QTest::newRow("null") << "null" << QStringList() << false;
        QTest::newRow("empty") << "" << QStringList() << false;
        QTest::newRow("invalid") << "{\"MainType\":" << QStringList() << false;
        QTest::newRow("cut at 64 KiB")
            << QStringLiteral("{\"MainType\":7,\"pad\":\"%1\"}").arg(QString(70000, QLatin1Char('p')))
            << QStringList() << false;
        QTest::newRow("just under 64 KiB")
            << QStringLiteral("{\"MainType\":7,\"pad\":\"%1\"}").arg(QString(65000, QLatin1Char('p')))
            << reply(R"({"Msg":7,"MsgID":null,"Ret":1020,"SubMsg":null})") << false;
    }
    void dispatch()
    {
        QFETCH(QString, request);
        QFETCH(QStringList, replies);
        QFETCH(bool, analyzeError);
        m_log.clear();
        QCOMPARE(answersTo(request), replies);
        const bool logged = m_log.filter(QStringLiteral("can not analyze json")).size() == 1
            && m_log.filter(QStringLiteral("can not analyze json"))
                   .first()
                   .startsWith(QStringLiteral("[  ERROR]"));
        QCOMPARE(logged, analyzeError);
        QCOMPARE(m_log.filter(QStringLiteral("RecvWeb msg=")).size(), 2);
    }

    void requestsAnsweredInOrder()
    {
        m_h.sent.clear();
        for (int i = 0; i < 50; ++i)
            post(QStringLiteral(R"({"MainType":23,"MsgID":%1})").arg(i));
        QTRY_COMPARE_WITH_TIMEOUT(m_h.sent.size(), 50, 10000);
        for (int i = 0; i < 50; ++i)
            QVERIFY(m_h.sent[i].contains(QStringLiteral("\"MsgID\":%1,").arg(i)));
    }

    // A reply is sent whole however long it is.
    void longMessagesSentWhole()
    {
        m_h.sent.clear();
        const QString big = QStringLiteral("{\"a\":\"%1\"}").arg(QString(200000, QChar(0x00e9)));
        m_h.manage->sendWebSocketMsg(big, false);
        QTRY_COMPARE(m_h.sent.size(), 1);
        QCOMPARE(m_h.sent[0], big);
    }

    void runInMainThread()
    {
        // From the GUI thread itself: runs at once.
        bool ran = false;
        m_h.manage->context().RunInMainThread([&] { ran = true; });
        QVERIFY(ran);
        // From the worker: runs on the GUI thread and the worker waits for it.
        Qt::HANDLE taskThread = nullptr;
        bool waited = false;
        onWorker([&] {
            int value = 0;
            m_h.manage->context().RunInMainThread([&] {
                taskThread = QThread::currentThreadId();
                value = 42;
            });
            waited = value == 42;
        });
        QCOMPARE(taskThread, QThread::currentThreadId());
        QVERIFY(waited);
        // Posting does not wait, and runs later on the GUI thread.
        bool posted = false;
        onWorker([&] { m_h.manage->context().RunInMainThreadAsync([&] { posted = true; }); });
        QTRY_VERIFY(posted);
    }

    void systemStatusOnlyWhileLoggedIn_data()
    {
        QTest::addColumn<int>("loginId");
        QTest::addColumn<int>("appCpu");
        QTest::addColumn<int>("systemCpu");
        QTest::addColumn<QString>("event");
        QTest::newRow("logged out") << 0 << 3 << 4 << QString();
        QTest::newRow("logged in") << 5 << 3 << 4
                                   << R"({"AppCpu":3,"AppMemory":9,"MainEvent":0,"SubEvent":5,"SystemCpu":4})"
                                      "\n";
        QTest::newRow("app figure unknown") << 5 << -1 << 4 << QString();
        QTest::newRow("system figure unknown") << 5 << 3 << -1 << QString();
    }
    void systemStatusOnlyWhileLoggedIn()
    {
        QFETCH(int, loginId);
        QFETCH(int, appCpu);
        QFETCH(int, systemCpu);
        QFETCH(QString, event);
        m_h.sent.clear();
        onWorker([&] {
            m_h.manage->context().mainDevice().loginId = loginId;
            m_h.manage->onSendSystemStatus(appCpu, systemCpu, 9);
            m_h.manage->context().mainDevice().loginId = 0;
        });
        post(QStringLiteral(R"({"MainType":13,"MsgID":"m"})"));
        QTRY_VERIFY(!m_h.sent.isEmpty() && m_h.sent.last().contains(QStringLiteral("\"m\"")));
        QCOMPARE(m_h.sent.size(), event.isEmpty() ? 1 : 2);
        if (!event.isEmpty())
            QCOMPARE(m_h.sent.first(), event);
    }

    void progressTimer_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("mode 0") << 1 << 0
                                << QStringList {
                                       R"({"Data":{"pos":2500.0,"wnd":2},"MainEvent":1,"SubEvent":3})"
                                       "\n"
                                   };
        QTest::newRow("mode 2, windows without channel have no pos")
            << 1 << 2
            << QStringList { R"({"Data":{"pos":1.5,"wnd":0},"MainEvent":1,"SubEvent":3})"
                             "\n",
                   R"({"Data":{"wnd":1},"MainEvent":1,"SubEvent":3})"
                   "\n",
                   R"({"Data":{"pos":2.5,"wnd":2},"MainEvent":1,"SubEvent":3})"
                   "\n",
                   R"({"Data":{"wnd":3},"MainEvent":1,"SubEvent":3})"
                   "\n" };
        QTest::newRow("live page sends nothing") << 0 << 0 << QStringList();
    }
    // Each tick reads the window side on the GUI thread and reports playback progress.
    void progressTimer()
    {
        QFETCH(int, page);
        QFETCH(int, mode);
        QFETCH(QStringList, events);
        m_widget.page = page;
        m_widget.clear();
        m_h.sent.clear();
        onWorker([&] {
            m_h.manage->playback().setPlaybackMode(mode);
            m_h.manage->playback().startProgressTimer();
        });
        QTRY_VERIFY_WITH_TIMEOUT(!m_widget.calls().isEmpty(), 5000);
        if (events.isEmpty()) {
            // One more tick to be sure none follows.
            const int asked = m_widget.calls().size();
            QTRY_VERIFY_WITH_TIMEOUT(m_widget.calls().size() > asked, 5000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(m_h.sent.size() >= events.size(), 5000);
        }
        onWorker([&] { m_h.manage->playback().stopProgressTimer(); });
        QCOMPARE(m_h.sent.mid(0, events.size()), events);
        if (events.isEmpty())
            QVERIFY(m_h.sent.isEmpty());
        QVERIFY(m_widget.allOnThread(QThread::currentThreadId()));
    }

    // The playback-end timer waits while the decoder holds data, then stops.
    void playbackEndTimer()
    {
        m_widget.bufInfo = { { 5, 0 }, { 0, 3 }, { 0, 0 } };
        m_log.clear();
        onWorker([&] { m_h.manage->playback().startPlaybackEndTimer(); });
        QTRY_VERIFY_WITH_TIMEOUT(m_log.filter(QStringLiteral("lYuvVal=0 lBufVal=0")).size() == 1, 10000);
        bool running = true;
        onWorker([&] { running = m_h.manage->playback().playbackEndTimerRunning(); });
        QVERIFY(!running);
        QCOMPARE(m_log.filter(QStringLiteral("lYuvVal=5 lBufVal=0")).size(), 1);
        QCOMPARE(m_log.filter(QStringLiteral("lYuvVal=0 lBufVal=3")).size(), 1);
    }

    // MainType 12 places the window in the page; with "Potocol" (the
    // service's own control path) the service answers, not the player.
    void widgetStatus_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("replies");
        QTest::newRow("show")
            << R"({"MainType":12,"SubType":2,"MsgID":4,"Pos":{"Left":10,"Top":20,"Width":640,"Height":360}})"
            << QStringList { "onWidgetStatuChange(2,10,20,640,360)" }
            << QStringList { "{\"Msg\":12,\"Ret\":100,\"SubMsg\":2}\n" };
        QTest::newRow("hide without position")
            << R"({"MainType":12,"SubType":1})" << QStringList { "onWidgetStatuChange(1,0,0,0,0)" }
            << QStringList { "{\"Msg\":12,\"Ret\":100,\"SubMsg\":1}\n" };
        QTest::newRow("service path")
            << R"({"MainType":12,"SubType":4,"Potocol":"http","Pos":{"Left":1,"Top":2,"Width":3,"Height":4}})"
            << QStringList { "onWidgetStatuChange(4,1,2,3,4)" } << QStringList();
        QTest::newRow("mistyped position")
            << R"({"MainType":12,"SubType":2,"Pos":{"Left":"10"}})" << QStringList() << QStringList();
    }
    void widgetStatus()
    {
        QFETCH(QString, request);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, replies);
        m_widget.clear();
        QCOMPARE(answersTo(request), replies);
        QCOMPARE(m_widget.callsOf(QStringLiteral("onWidgetStatuChange")), calls);
    }

    void changePTZElectPage()
    {
        m_h.sent.clear();
        QMetaObject::invokeMethod(m_h.manage, "onChangePTZELectPage", Qt::QueuedConnection);
        QTRY_COMPARE(m_h.sent.size(), 1);
        QCOMPARE(m_h.sent[0],
            QStringLiteral(R"({"MainEvent":0,"SubEvent":6,"nShowElect":2})"
                           "\n"));
    }
};

QTEST_GUILESS_MAIN(TestPluginManage)
#include "tst_plugin_manage.moc"
