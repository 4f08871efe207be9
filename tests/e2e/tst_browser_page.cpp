// The test page in a real Chromium, driven over the DevTools port, against a
// copy of QuorvelTool: with the real player for the replies, with the player
// double for encrypted sessions (it makes session keys and echoes what it got).
// The players see a private X server, on which a headed Chromium is the
// browser window a login looks for.

#include "BrowserPage.h"
#include "FirmwareTestSupport.h"
#include "ServiceTestSupport.h"
#include "XvfbServer.h"

#include <QtTest>

#include <algorithm>
#include <memory>

using namespace ServiceTest;
using BrowserTest::PageRun;

namespace {

QJsonObject objectOf(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonArray arrayOf(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).array();
}

// A request of exactly `length` bytes of UTF-8 that the player double echoes.
QString requestOfLength(int length, int msgId)
{
    const QString head
        = QStringLiteral("{\"MainType\":9999,\"SubType\":1,\"MsgID\":%1,\"Pad\":\"").arg(msgId);
    const QString tail = QStringLiteral("\"}");
    return head + QString(qMax(0, length - int(head.size() + tail.size())), QLatin1Char('p')) + tail;
}

} // namespace

class TestBrowserPage : public QObject
{
    Q_OBJECT

private:
    enum class Player { Real, Double };

    XvfbServer m_xvfb;
    std::unique_ptr<ServiceCopy> m_copy;
    std::unique_ptr<QProcess> m_service;
    Player m_player = Player::Real;
    int m_port = 0;

    // The service with the wanted player, started on first use.
    int servicePort(Player player)
    {
        if (m_service && m_player == player && m_service->state() == QProcess::Running)
            return m_port;
        stopService();
        m_copy = std::make_unique<ServiceCopy>();
        if (!m_copy->prepare(player == Player::Real ? realPlayer() : doubleScript()))
            return 0;
        m_copy->extraEnv.insert(QStringLiteral("DISPLAY"), m_xvfb.display());
        m_player = player;
        m_service = m_copy->start(&m_port);
        return m_port;
    }

    void stopService()
    {
        ServiceTest::stopService(m_service);
        m_copy.reset();
        m_port = 0;
    }

    static void checkEncryptedEntry(const QJsonObject &entry, const QByteArray &key, const QByteArray &plain)
    {
        QVERIFY(entry.value("encrypted").toBool());
        const QByteArray wire = entry.value("wire").toString().toLatin1();
        // Zero padding: whole blocks, no extra block for a text of whole blocks.
        QCOMPARE(QByteArray::fromBase64(wire).size(), (plain.size() + 15) / 16 * 16);
        bool ok = false;
        const QByteArray opened = stripZeros(opensslDecrypt(wire, key, &ok));
        QVERIFY(ok);
        QCOMPARE(opened, plain);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo(QStringLiteral("/usr/bin/chromium")).isExecutable());
        QVERIFY(QFileInfo(QStringLiteral("/usr/bin/node")).isExecutable());
        QVERIFY2(m_xvfb.start(), qPrintable(m_xvfb.errorText()));
    }
    void cleanupTestCase() { stopService(); }

    // Requests through the real player: unbuilt MainTypes answer 1020 with the
    // MsgID echoed, replies keep the order of the requests, and no CPU/memory
    // event (0/5) comes without a login, also over a few of its 1000 ms ticks.
    void realPlayerReplies_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("replies");
        QTest::newRow("MainType 7, number MsgID")
            << R"([{"send":{"MainType":7,"SubType":1,"MsgID":5},"await":true}])"
            << R"([{"Msg":7,"SubMsg":1,"Ret":1020,"MsgID":5}])";
        QTest::newRow("MainType 7, text MsgID")
            << R"([{"send":{"MainType":7,"SubType":0,"MsgID":"page-1"},"await":true}])"
            << R"([{"Msg":7,"SubMsg":0,"Ret":1020,"MsgID":"page-1"}])";
        QTest::newRow("MainType 7, no MsgID") << R"([{"send":{"MainType":7,"SubType":3},"await":true}])"
                                              << R"([{"Msg":7,"SubMsg":3,"Ret":1020,"MsgID":null}])";
        QTest::newRow("two requests back to back")
            << R"([{"send":{"MainType":7,"SubType":1,"MsgID":1}},{"send":{"MainType":13,"SubType":2,"MsgID":2}},
                   {"await":{"MsgID":2}},{"await":{"MsgID":1}}])"
            << R"([{"Msg":7,"SubMsg":1,"Ret":1020,"MsgID":1},{"Msg":13,"SubMsg":2,"Ret":1020,"MsgID":2}])";
        QTest::newRow("page closes the session")
            << R"([{"send":{"MainType":7,"SubType":1,"MsgID":3},"await":true},{"close":true}])"
            << R"([{"Msg":7,"SubMsg":1,"Ret":1020,"MsgID":3}])";
        QTest::newRow("idle without login")
            << R"([{"send":{"MainType":7,"SubType":1,"MsgID":9},"await":true},{"idle":2500}])"
            << R"([{"Msg":7,"SubMsg":1,"Ret":1020,"MsgID":9}])";
    }
    void realPlayerReplies()
    {
        QFETCH(QString, steps);
        QFETCH(QString, replies);
        const int port = servicePort(Player::Real);
        QVERIFY(port > 0);
        const PageRun run = BrowserTest::runSteps(port, arrayOf(steps));
        QVERIFY2(run.ok(), qPrintable(run.describe()));
        QCOMPARE(run.exitCode, 0);

        const QJsonArray expected = arrayOf(replies);
        const QList<QJsonObject> got = run.replies();
        QCOMPARE(got.size(), expected.size());
        for (int i = 0; i < got.size(); ++i)
            QCOMPARE(got.at(i), expected.at(i).toObject());
        QVERIFY2(run.events(0, 5).isEmpty(), qPrintable(run.describe()));
        QVERIFY2(run.events().isEmpty(), qPrintable(run.describe()));

        // Times run forward: every reply comes after the request it answers.
        const QList<QJsonObject> sent = run.ofKind("sent");
        for (const QJsonObject &request : sent) {
            const QJsonValue id = request.value("data").toObject().value("MsgID");
            const QJsonObject reply = run.replyEntry(id.isUndefined() ? QJsonValue(QJsonValue::Null) : id);
            QVERIFY(!reply.isEmpty());
            QVERIFY(reply.value("t").toDouble() >= request.value("t").toDouble());
            QVERIFY(!reply.value("encrypted").toBool());
        }
        const QList<QJsonObject> entries = run.entries;
        for (int i = 1; i < entries.size(); ++i)
            QVERIFY(entries.at(i).value("t").toDouble() >= entries.at(i - 1).value("t").toDouble());
        QCOMPARE(entries.last().value("kind").toString(), QStringLiteral("end"));
        const QList<QJsonObject> closed = run.ofKind("closed");
        QCOMPARE(closed.size(), steps.contains("\"close\"") ? 1 : 0);
        if (!closed.isEmpty())
            QCOMPARE(closed.first().value("code").toInt(), 1000);
        if (QByteArray(QTest::currentDataTag()) == "idle without login") {
            // The page listened 2.5 s after the reply: two ticks of the monitor or more.
            QVERIFY(entries.last().value("t").toDouble() - run.replyEntry(9).value("t").toDouble() >= 2500);
        }
    }

    // The page's cipher against the service: after the plain key reply every
    // message travels encrypted both ways; openssl opens what went over the
    // wire, and the player double's echo shows the service recovered the
    // exact text (zero padding stripped, UTF-8 intact).
    void encryptedSession_data()
    {
        QTest::addColumn<QString>("request");
        QTest::newRow("ASCII") << R"({"MainType":9999,"SubType":1,"MsgID":2,"Text":"hello"})";
        QTest::newRow("UTF-8") << QStringLiteral(
            "{\"MainType\":9999,\"SubType\":1,\"MsgID\":2,\"Text\":\"caf\u00e9 "
            "\u4e2d \U0001F600\"}");
        QTest::newRow("whole blocks") << requestOfLength(48, 2);
        QTest::newRow("one byte over") << requestOfLength(49, 2);
        QTest::newRow("one block short") << requestOfLength(47, 2);
    }
    void encryptedSession()
    {
        QFETCH(QString, request);
        const int port = servicePort(Player::Double);
        QVERIFY(port > 0);
        QJsonArray steps = arrayOf(R"([{"send":{"MainType":32,"SubType":0,"MsgID":1},"await":true}])");
        steps.append(QJsonObject { { "sendText", request }, { "await", QJsonObject { { "MsgID", 2 } } } });
        const PageRun run = BrowserTest::runSteps(port, steps);
        QVERIFY2(run.ok(), qPrintable(run.describe()));

        // The key reply travels in plain text and switches the page over.
        const QJsonObject keyEntry = run.replyEntry(1);
        QVERIFY(!keyEntry.value("encrypted").toBool());
        const QByteArray key
            = keyEntry.value("data").toObject().value("key").toObject().value("key").toString().toLatin1();
        QCOMPARE(key.size(), 16);
        QCOMPARE(run.ofKind("keyed").size(), 1);

        const QByteArray plain = request.toUtf8();
        const QList<QJsonObject> sent = run.ofKind("sent");
        QCOMPARE(sent.size(), 2);
        QVERIFY(!sent.at(0).value("encrypted").toBool());
        QCOMPARE(sent.at(1).value("text").toString(), request);
        checkEncryptedEntry(sent.at(1), key, plain);
        if (QTest::currentTestFailed())
            return;

        const QJsonObject replyEntry = run.replyEntry(2);
        const QJsonObject reply = replyEntry.value("data").toObject();
        QCOMPARE(reply.value("Echo").toString(), request);
        QCOMPARE(reply.value("Ret").toInt(), 1020);
        bool ok = false;
        const QByteArray replyText
            = stripZeros(opensslDecrypt(replyEntry.value("wire").toString().toLatin1(), key, &ok));
        QVERIFY(ok);
        QCOMPARE(parseObject(QString::fromUtf8(replyText)), reply);
        checkEncryptedEntry(replyEntry, key, replyText);
    }

    // The same with the real player, once it makes session keys.
    void encryptedSessionRealPlayer()
    {
        const int port = servicePort(Player::Real);
        QVERIFY(port > 0);
        const PageRun keyRun
            = BrowserTest::runSteps(port, R"([{"send":{"MainType":32,"SubType":0,"MsgID":1},"await":true}])");
        QVERIFY2(keyRun.ok(), qPrintable(keyRun.describe()));
        if (!keyRun.replyTo(1).contains("key"))
            QSKIP("this player build answers no session key yet");
        const PageRun run = BrowserTest::runSteps(port,
            R"([{"send":{"MainType":32,"SubType":0,"MsgID":1},"await":true},
                {"send":{"MainType":7,"SubType":4,"MsgID":2},"await":true}])");
        QVERIFY2(run.ok(), qPrintable(run.describe()));
        const QJsonObject entry = run.replyEntry(2);
        QVERIFY(entry.value("encrypted").toBool());
        QCOMPARE(entry.value("data").toObject(), objectOf(R"({"Msg":7,"SubMsg":4,"Ret":1020,"MsgID":2})"));
    }

    // A headed Chromium is the window in front whose title the login looks
    // for: the login succeeds and the CPU/memory event starts.
    void loginFromHeadedBrowser()
    {
        const int port = servicePort(Player::Real);
        QVERIFY(port > 0);
        const PageRun run = BrowserTest::runScenario(port, QStringLiteral("login.json"), 40000,
            { QStringLiteral("--headed"), QStringLiteral("--display"), m_xvfb.display() });
        QVERIFY2(run.ok(), qPrintable(run.describe()));
        const QJsonObject reply = run.replyTo(1);
        QCOMPARE(reply.value("Msg").toInt(), 8);
        QCOMPARE(reply.value("Ret").toInt(), 100);
        QVERIFY(reply.value("Id").toInt() > 0);
        const QList<QJsonObject> status = run.events(0, 5);
        QVERIFY(status.size() >= 2);
        for (const QJsonObject &e : status) {
            for (const char *key : { "AppCpu", "SystemCpu", "AppMemory" })
                QVERIFY2(e.value(QLatin1String(key)).isDouble(), key);
            QVERIFY(e.value("AppMemory").toInt() > 0);
        }
        // None before the login was answered.
        const double loggedIn = run.replyEntry(1).value("t").toDouble();
        for (const QJsonObject &e : run.ofKind("event"))
            QVERIFY(e.value("t").toDouble() >= loggedIn);
    }

    // The driver ends the browser, and removes its profile, however the run ends.
    void driverAlwaysEndsTheBrowser_data()
    {
        QTest::addColumn<bool>("terminate");
        QTest::newRow("page time-out") << false;
        QTest::newRow("driver terminated") << true;
    }
    void driverAlwaysEndsTheBrowser()
    {
        QFETCH(bool, terminate);
        const int port = servicePort(Player::Real);
        QVERIFY(port > 0);
        // The reply never comes: MainType 0 gets none.
        BrowserTest::BrowserDriver driver;
        driver.start(BrowserTest::pageArgs(port,
                         arrayOf(R"([{"send":{"MainType":0,"MsgID":1},"await":true,"timeout":60000}])")),
            terminate ? 60000 : 3000);
        QProcess &p = driver.process();
        QElapsedTimer t;
        t.start();
        while (!p.canReadLine() && p.state() != QProcess::NotRunning && t.elapsed() < 30000)
            p.waitForReadyRead(1000);
        const QJsonObject browser = QJsonDocument::fromJson(p.readLine()).object();
        QCOMPARE(browser.value("event").toString(), QStringLiteral("browser"));
        const QString profile = browser.value("profile").toString();
        const qint64 pid = qint64(browser.value("pid").toDouble());
        QVERIFY(!profile.isEmpty() && pid > 0);
        QVERIFY(processAlive(pid));
        if (terminate) {
            // Once the page waits, the session with its player exists.
            QTRY_VERIFY_WITH_TIMEOUT(
                processesMentioning(m_copy->appDir + "/x64/Tevora_x64").size() == 1, 20000);
            p.terminate();
        }
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
        if (!terminate) {
            const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
            QVERIFY(lines.size() >= 2);
            const QJsonObject done = QJsonDocument::fromJson(lines.at(lines.size() - 2)).object();
            QCOMPARE(done.value("event").toString(), QStringLiteral("done"));
            QVERIFY(!done.value("finished").toBool());
            QVERIFY(done.value("failure").toString().contains("time-out"));
        }
        QVERIFY(!processAlive(pid));
        QVERIFY(processesMentioning(profile).isEmpty());
        QVERIFY(!QFileInfo::exists(profile));
        // The page's session ended with the browser, and so did its player.
        QTRY_VERIFY_WITH_TIMEOUT(processesMentioning(m_copy->appDir + "/x64/Tevora_x64").isEmpty(), 30000);
    }

    // A page that the service closes while the page is still sending sees
    // the code in Chromium too: a message over the cap is answered with 1009,
    // and the page's session and player end.
    void oversizedMessageClosesWith1009()
    {
        const int port = servicePort(Player::Double);
        QVERIFY(port > 0);
        const PageRun run = BrowserTest::runSteps(port,
            arrayOf(
                R"([{"send":{"MainType":9999,"MsgID":1},"padTo":17825792},{"closed":true,"timeout":60000}])"),
            90000);
        QVERIFY2(run.ok(), qPrintable(run.describe()));
        const QList<QJsonObject> closed = run.ofKind("closed");
        QCOMPARE(closed.size(), 1);
        QCOMPARE(closed.first().value("code").toInt(), 1009);
        QTRY_VERIFY_WITH_TIMEOUT(processesMentioning(m_copy->appDir + "/x64/Tevora_x64").isEmpty(), 30000);
    }

    // A tab closed while a burst of events flows to it: the service goes on,
    // the session and its player end, and the next page is answered.
    void tabClosedWhileRepliesFlow()
    {
        const int port = servicePort(Player::Double);
        QVERIFY(port > 0);
        BrowserTest::BrowserDriver driver;
        driver.start(BrowserTest::pageArgs(port,
                         arrayOf(R"([{"send":{"MainType":9108,"MsgID":1,"Count":20000,"Size":512}},)"
                                 R"({"await":{"MainEvent":9108},"count":20}])"))
                + QStringList { QStringLiteral("--close-tab") },
            60000);
        const PageRun run = driver.waitDone();
        QVERIFY2(run.ok(), qPrintable(run.describe()));
        // The tab went before the burst was over.
        QVERIFY(run.events(9108, 0).size() < 20000);
        QTRY_VERIFY_WITH_TIMEOUT(processesMentioning(m_copy->appDir + "/x64/Tevora_x64").isEmpty(), 30000);
        QCOMPARE(m_service->state(), QProcess::Running);
        const PageRun next
            = BrowserTest::runSteps(port, arrayOf(R"([{"send":{"MainType":9999,"MsgID":2},"await":true}])"));
        QVERIFY2(next.ok(), qPrintable(next.describe()));
    }

    // A new user's firmware customising from the page: a generated package
    // (one setting file, a language), a setting read and written back, a boot
    // logo, the produced package; Info-ZIP's unzip reads what came out. The
    // chooser stand-in answers by the kind of choice asked for.
    void customiseFirmware()
    {
        const int port = servicePort(Player::Double);
        QVERIFY(port > 0);
        QTemporaryDir scratch;
        const QString tree = scratch.path() + QStringLiteral("/custom");
        QVERIFY(FirmwareTest::writeFile(tree + "/FirmwareInfo", "NET_UPGRADE_FILE=IPC_V3\n"));
        QVERIFY(
            FirmwareTest::writeFile(tree + "/CustomConfig/Net.custom", R"({"Wifi":{"On":1,"Ssid":"shop"}})"));
        QVERIFY(FirmwareTest::writeFile(tree + "/data/Strings/English", "x"));
        const QString package = scratch.path() + QStringLiteral("/ipc_v3.zip");
        QVERIFY(FirmwareTest::makePackage(package,
            { FirmwareTest::textEntry("InstallDesc", R"({"Hardware":"IPC5M","UpgradeCommand":[]})"),
                QJsonObject { { "name", "custom-x.cramfs.img" }, { "cramfs", tree }, { "start", 65536 },
                    { "end", 131072 } } },
            scratch.path()));
        const QString logo = scratch.path() + QStringLiteral("/boot.jpg");
        QCOMPARE(
            FirmwareTest::runTool("convert", { "-size", "640x480", "gradient:navy-gold", logo }).exitCode, 0);
        const QString output = scratch.path() + QStringLiteral("/out.zip");
        const QString chooser = m_copy->appDir + QStringLiteral("/Browse");
        QVERIFY(FirmwareTest::writeFile(chooser,
            QStringLiteral("#!/bin/sh\ncase \"$1\" in 6) printf '%s' '%1';; 8) printf '%s' '%2';; 101) "
                           "printf '%s' '%3';; *) exit 1;; esac\n")
                .arg(package, logo, output)
                .toUtf8()));
        QVERIFY(QFile::setPermissions(chooser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        const PageRun run = BrowserTest::runScenario(port, QStringLiteral("firmware_customise.json"), 120000);
        QVERIFY2(run.ok(), qPrintable(run.describe()));
        for (int id = 1; id <= 5; ++id)
            QVERIFY2(run.replyTo(id).value("Ret").toInt() == 100, qPrintable(run.describe()));
        QCOMPARE(run.replyTo(1).value("DevType").toString(), QStringLiteral("IPC"));
        QCOMPARE(QJsonDocument::fromJson(run.replyTo(2).value("JsonData").toString().toUtf8()).object(),
            objectOf(R"({"Name":"Net.Wifi","Net.Wifi":{"On":1,"Ssid":"shop"}})"));
        QCOMPARE(run.replyTo(4).value("LogoPath").toString(), logo);
        QCOMPARE(run.replyTo(5).value("ZipFilePath").toString(), output);

        QCOMPARE(FirmwareTest::runTool("unzip", { "-tq", output }).exitCode, 0);
        QStringList listed = QString::fromUtf8(FirmwareTest::runTool("unzip", { "-Z1", output }).out)
                                 .split('\n', Qt::SkipEmptyParts);
        listed.sort();
        QCOMPARE(listed, (QStringList { "ExtDevIDConfig", "Net.Wifi", "ProgramInfo", "logo/trvnet.jpg" }));
        QCOMPARE(QJsonDocument::fromJson(FirmwareTest::runTool("unzip", { "-p", output, "Net.Wifi" }).out)
                     .object(),
            objectOf(R"({"Name":"Net.Wifi","Net.Wifi":{"On":0,"Ssid":"shop"}})"));
        QCOMPARE(FirmwareTest::runTool("unzip", { "-p", output, "logo/trvnet.jpg" }).out,
            FirmwareTest::readFile(logo));
    }

    // Every scenario file is a list of steps the page knows.
    void scenarioFilesAreWellFormed()
    {
        const QStringList names
            = QDir(BrowserTest::e2eDir() + "/scenarios").entryList({ "*.json" }, QDir::Files);
        QVERIFY(!names.isEmpty());
        static const QStringList ops { "send", "sendText", "await", "idle", "close" };
        for (const QString &name : names) {
            QFile file(BrowserTest::scenarioFile(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError && doc.isArray(), qPrintable(name));
            for (const QJsonValue &step : doc.array()) {
                QVERIFY2(step.isObject(), qPrintable(name));
                const QStringList keys = step.toObject().keys();
                QVERIFY2(
                    std::any_of(keys.begin(), keys.end(), [](const QString &k) { return ops.contains(k); }),
                    qPrintable(name));
                const QJsonValue request = step.toObject().value("send");
                if (!request.isUndefined())
                    QVERIFY2(request.toObject().contains("MainType") && request.toObject().contains("MsgID"),
                        qPrintable(name));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestBrowserPage)
#include "tst_browser_page.moc"
