// Device upgrades and the tool's version check through the dispatcher:
// cloud and local upgrades of the simulated device with their progress
// events, refusals, the version check against a Python HTTP and HTTPS
// server (self-signed certificate made by openssl) and a silent one, the
// version comparison and the library's application set-up.

#include "LineProcess.h"
#include "LiveFixture.h"
#include "common/Json.h"

#include "QNConnect.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace live_fixture;
namespace control = kestrix::control;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

std::atomic<int> g_upgradeHandle { 0 };

// The upgrade requests' progress callback: hands the values to the worker.
void onUpgradeProgress(int handle, int status, int total, int sent, void *user)
{
    g_upgradeHandle = handle;
    auto *manage = static_cast<CPluginManage *>(user);
    manage->context().RunInWorkerThread([manage, handle, status, total, sent] {
        manage->upgrades().OnUpgradeProgress(handle, status, total, sent);
    });
}

} // namespace

class TestUpgrade : public QObject
{
    Q_OBJECT

private:
    LiveFixture f;
    QTemporaryDir m_dir;

    // The messages sent until one of kind `kind` arrived (empty on time-out).
    QList<QJsonObject> until(const QString &kind)
    {
        QList<QJsonObject> out;
        (void)QTest::qWaitFor(
            [&] {
                out.clear();
                for (const QString &m : f.sent)
                    out.append(object(m));
                return !out.isEmpty() && kindOf(out.last()) == kind
                    && out.last().value("Data").toObject().value("Status").toInt() != 0
                    && out.last().value("Data").toObject().value("Status").toInt() != 2;
            },
            30000);
        return out;
    }

    // A device whose cloud offers a newer firmware.
    static kestrix::DeviceSpec upgradableDevice()
    {
        kestrix::DeviceSpec spec = device();
        spec.upgradeVersion = "NVR_K16_V5.1.0.2";
        return spec;
    }
    // A local firmware file of 300 KiB.
    QString firmwareFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("firmware.bin"));
        writeFile(path, QByteArray(300 * 1024, 'f'));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        f.initTestCase(this);
        RequestContext::setAppFolder(m_dir.path());
    }
    void cleanup() { f.stop(); }
    void cleanupTestCase()
    {
        f.cleanupTestCase();
        RequestContext::setAppFolder(QString());
    }

    void upgrade_data()
    {
        const QString cloud = QStringLiteral(R"({"MainType":21,"SubType":1,"MsgID":3})");
        const QString local = QStringLiteral(R"({"MainType":25,"SubType":1,"MsgID":3,"FileName":"%1"})");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("refusal"); // library function that fails with -512
        QTest::addColumn<QString>("second"); // a start sent at once behind the first, empty: none
        QTest::addColumn<int>("ret");
        QTest::addColumn<int>("finalStatus"); // 0: no progress
        const QString none;
        QTest::newRow("cloud") << cloud << none << none << 100 << 1;
        QTest::newRow("local file") << local << none << none << 100 << 1;
        QTest::newRow("cloud, one running")
            << cloud << QStringLiteral("TRV_NET_UpgradeOnline") << none << 1007 << 0;
        QTest::newRow("local, one running")
            << local << QStringLiteral("TRV_NET_Upgrade") << none << 1007 << 0;
        // The device refuses a second start while this player's upgrade
        // runs: that upgrade still runs, and the page and the service are
        // told so until it ends.
        QTest::newRow("cloud, started twice") << cloud << none << cloud << 100 << 1;
        QTest::newRow("cloud, then a local start") << cloud << none << local << 100 << 1;
    }
    void upgrade()
    {
        QFETCH(QString, request);
        QFETCH(QString, refusal);
        QFETCH(QString, second);
        QFETCH(int, ret);
        QFETCH(int, finalStatus);
        const kestrix::DeviceSpec spec = upgradableDevice();
        QVERIFY(f.start(spec));
        const QString firmware = firmwareFile();
        auto withFile
            = [&](const QString &r) { return r.contains(QLatin1String("%1")) ? r.arg(firmware) : r; };

        // The cloud's version, without its prefix.
        const QJsonObject query = f.replyTo(R"({"MainType":21,"SubType":0,"MsgID":2})");
        QCOMPARE(query.value("NewVersion").toString(), QStringLiteral("V5.1.0.2"));
        QVERIFY(query.value("Ret").toInt() > 0);
        QCOMPARE(query.value("IsUpgrade").toBool(), false);

        if (!refusal.isEmpty())
            control::failNext(refusal.toStdString(), TRV_ERR_UPGRADE_RUNNING);
        f.sent.clear();
        f.post(withFile(request));
        if (!second.isEmpty())
            f.post(withFile(second));
        if (finalStatus == 0) {
            const QJsonObject reply = object(f.flush().value(0));
            QCOMPARE(reply.value("Ret").toInt(), ret);
            QCOMPARE(reply.value("IsUpgrade").toBool(), false);
            return;
        }
        const QList<QJsonObject> messages = until(QStringLiteral("3/0"));
        QVERIFY(messages.size() > 3);
        QCOMPARE(messages[0].value("Ret").toInt(), ret);
        QCOMPARE(messages[0].value("IsUpgrade").toBool(), true);
        QCOMPARE(messages.last().value("Data").toObject().value("Status").toInt(), finalStatus);
        QCOMPARE(messages.last().value("IsUpgrade").toBool(), false);
        QList<QJsonObject> replies;
        for (int i = 1; i + 1 < messages.size(); ++i) {
            QCOMPARE(messages[i].value("IsUpgrade").toBool(), true);
            if (kindOf(messages[i]) == QLatin1String("reply"))
                replies.append(messages[i]);
        }
        QCOMPARE(replies.size(), second.isEmpty() ? 0 : 1);
        if (!second.isEmpty())
            QCOMPARE(replies[0].value("Ret").toInt(), 1007);
        QTRY_COMPARE(int(control::callsOf("TRV_NET_CloseUpgradeHandle").size()), 1);
    }

    // An upgrade ends with the device login that ran it: the library sends
    // no final status then, and later replies must not say one still runs.
    void upgradeEndsWithLogin_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("ending"); // "logout" (then a new login) or "relogin"
        const QString cloud = QStringLiteral(R"({"MainType":21,"SubType":1,"MsgID":3})");
        const QString local = QStringLiteral(R"({"MainType":25,"SubType":1,"MsgID":3,"FileName":"%1"})");
        QTest::newRow("cloud, logout") << cloud << "logout";
        QTest::newRow("local file, logout") << local << "logout";
        QTest::newRow("cloud, login again") << cloud << "relogin";
    }
    void upgradeEndsWithLogin()
    {
        QFETCH(QString, start);
        QFETCH(QString, ending);
        const kestrix::DeviceSpec spec = upgradableDevice();
        QVERIFY(f.start(spec));
        const QString firmware = firmwareFile();
        QCOMPARE(f.replyTo(R"({"MainType":21,"SubType":0,"MsgID":2})").value("IsUpgrade").toBool(), false);

        // The ending is queued behind the start: the worker handles it long
        // before the simulated upgrade's last status (about half a second).
        f.sent.clear();
        f.post(start.contains(QLatin1String("%1")) ? start.arg(firmware) : start);
        f.post(ending == QLatin1String("logout") ? QStringLiteral(R"({"MainType":9})")
                                                 : QStringLiteral(R"({"MainType":28,"MsgID":4})"));
        QStringList all = f.flush();
        QVERIFY(!all.isEmpty());
        const QJsonObject started = object(all.first());
        QCOMPARE(started.value("Ret").toInt(), 100);
        QCOMPARE(started.value("IsUpgrade").toBool(), true);
        const QString login = ending == QLatin1String("logout") ? LiveFixture::loginRequest(spec)
                                                                : QStringLiteral(R"({"MainType":13})");
        all += f.answersTo(login);
        bool loggedIn = false;
        for (const QString &m : all) {
            const QJsonObject o = object(m);
            const int msg = o.value("Msg").toInt();
            loggedIn = loggedIn || ((msg == 8 || msg == 28) && o.value("Ret").toInt() == 100);
        }
        QVERIFY2(loggedIn, qPrintable(all.join(QLatin1Char('\n'))));

        // The request's reply: the last message it made.
        auto replyTo = [&](const QString &request) {
            const QStringList answers = f.answersTo(request);
            all += answers;
            return answers.isEmpty() ? QJsonObject() : object(answers.last());
        };
        const QJsonObject query = replyTo(QStringLiteral(R"({"MainType":21,"SubType":0,"MsgID":5})"));
        const QJsonObject other = replyTo(QStringLiteral(R"({"MainType":21,"SubType":7,"MsgID":6})"));
        control::failNext("TRV_NET_Upgrade", TRV_ERR_UPGRADE_RUNNING);
        const QJsonObject refused = replyTo(
            QStringLiteral(R"({"MainType":25,"SubType":1,"MsgID":7,"FileName":"%1"})").arg(firmware));
        QCOMPARE(query.value("IsUpgrade").toBool(), false);
        QCOMPARE(other.value("IsUpgrade").toBool(), false);
        QCOMPARE(refused.value("Ret").toInt(), 1007);
        QCOMPARE(refused.value("IsUpgrade").toBool(), false);
        // The upgrade was cut short by the ending, not finished before it.
        for (const QString &m : all) {
            const int status = object(m).value("Data").toObject().value("Status").toInt(-1);
            QVERIFY2(status != TRV_UPGRADE_SUCCESS && status != TRV_UPGRADE_FAILED, qPrintable(m));
        }
    }

    void versionCheck_data()
    {
        QTest::addColumn<QString>("server"); // http, https, silent, refused
        QTest::addColumn<int>("subType");
        QTest::addColumn<QString>("served"); // the server's version file
        QTest::addColumn<QString>("event"); // expected event, empty: none
        const QString newer = QStringLiteral("[Tool]\nversion=1.0.3.10\ndate=2026-05-05\n");
        QTest::newRow("http, newer")
            << "http" << 0 << newer
            << R"({"MainEvent":0,"SubEvent":4,"curDate":"2026-01-01","curVersion":"1.0.3.9",)"
               R"("newDate":"2026-05-05","newVersion":"1.0.3.10","bNew":true})";
        QTest::newRow("https, self-signed")
            << "https" << 1 << newer
            << R"({"MainEvent":4,"SubEvent":54,"curDate":"2026-01-01","curVersion":"1.0.3.9",)"
               R"("newDate":"2026-05-05","newVersion":"1.0.3.10","bNew":true})";
        QTest::newRow("http, no version file")
            << "http" << 7 << "<html>not here</html>"
            << R"({"MainEvent":-1,"SubEvent":-1,"curDate":"2026-01-01",)"
               R"("curVersion":"1.0.3.9","newDate":"","newVersion":"","bNew":false})";
        // A server that never answers: no event, and the last copy stays.
        QTest::newRow("silent") << "silent" << 0 << ""
                                << "";
        // A refused connection ends the check at once: the page hears of it
        // (nothing new), and the last copy of the server's file stays.
        QTest::newRow("refused") << "refused" << 0 << ""
                                 << R"({"MainEvent":0,"SubEvent":4,"curDate":"2026-01-01",)"
                                    R"("curVersion":"1.0.3.9","newDate":"","newVersion":"","bNew":false})";
    }
    void versionCheck()
    {
        QFETCH(QString, server);
        QFETCH(int, subType);
        QFETCH(QString, served);
        QFETCH(QString, event);
        QVERIFY(f.start(device()));
        QTemporaryDir web;
        QVERIFY(QDir(web.path()).mkpath(QStringLiteral("ocx")));
        writeFile(web.filePath(QStringLiteral("ocx/QuorvelToolVersion.ini")), served.toUtf8());
        const QString newCopy = m_dir.filePath(QStringLiteral("NewVersion.ini"));
        writeFile(newCopy, "last copy");

        LineProcess python;
        QTcpServer silent;
        QList<QTcpSocket *> held;
        int port = 0;
        if (server == QLatin1String("silent")) {
            QVERIFY(silent.listen(QHostAddress::LocalHost));
            connect(&silent, &QTcpServer::newConnection, this,
                [&] { held.append(silent.nextPendingConnection()); });
            port = silent.serverPort();
            UpgradeTopic::setVersionCheckTimeoutMs(300);
        } else if (server == QLatin1String("refused")) {
            // A loopback port that nothing listens on any more.
            QVERIFY(silent.listen(QHostAddress::LocalHost));
            port = silent.serverPort();
            silent.close();
        } else {
            QStringList args { QString::fromLocal8Bit(qgetenv("QV_SOURCE_DIR"))
                    + "/tests/player/core/version_server.py",
                web.path() };
            if (server == QLatin1String("https")) {
                const QString cert = web.filePath(QStringLiteral("cert.pem"));
                const QString key = web.filePath(QStringLiteral("key.pem"));
                QCOMPARE(QProcess::execute(QStringLiteral("openssl"),
                             { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                                 "/CN=localhost", "-keyout", key, "-out", cert }),
                    0);
                args << cert << key;
            }
            python.start(QStringLiteral("python3"), args);
            port = python.take(QString(), 30000).toInt();
            QVERIFY(port > 0);
        }
        writeFile(m_dir.filePath(QStringLiteral("QuorvelToolVersion.ini")),
            QStringLiteral("[Tool]\nversion=1.0.3.9\ndate=2026-01-01\nversionFileAddr=%1://127.0.0.1:%2/ocx/"
                           "QuorvelToolVersion.ini\n")
                .arg(server == QLatin1String("https") ? "https" : "http")
                .arg(port)
                .toUtf8());

        f.log.clear();
        f.sent.clear();
        // A local server answers within milliseconds: the event may follow
        // the reply at once, so nothing sent after the request is dropped.
        f.post(QStringLiteral(R"({"MainType":22,"SubType":%1,"MsgID":4})").arg(subType));
        QTRY_VERIFY_WITH_TIMEOUT(!f.sent.isEmpty(), 30000);
        QCOMPARE(object(f.sent.first()),
            object(QStringLiteral(R"({"Msg":22,"SubMsg":%1,"MsgID":4,"Ret":100})").arg(subType)));
        if (event.isEmpty()) {
            QTRY_VERIFY(f.logged(QStringLiteral("access timeout")));
            QCOMPARE(f.flush().mid(1), QStringList());
            QCOMPARE(readFile(newCopy), QByteArray("last copy"));
            UpgradeTopic::setVersionCheckTimeoutMs(60000);
            qDeleteAll(held);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.sent.size() >= 2, 30000);
        QCOMPARE(object(f.sent[1]), object(event));
        QCOMPARE(readFile(newCopy),
            server == QLatin1String("refused") ? QByteArray("last copy") : served.toUtf8());
    }

    void compareVersion_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("higher");
        QTest::newRow("last field") << "1.0.3.10"
                                    << "1.0.3.9" << true;
        QTest::newRow("equal") << "2.1.0.0"
                               << "2.1.0.0" << false;
        QTest::newRow("against empty") << "0.0.0.1"
                                       << "" << true;
        QTest::newRow("empty") << ""
                               << "9.9.9.9" << false;
        // Missing and non-numeric fields count as 0.
        QTest::newRow("shorter equal") << "1.2"
                                       << "1.2.0.0" << false;
        QTest::newRow("longer higher") << "1.2.0.1"
                                       << "1.2" << true;
        QTest::newRow("text field") << "1.x.5"
                                    << "1.0.4" << true;
    }
    void compareVersion()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, higher);
        QCOMPARE(UpgradeTopic::CompareVersion(a, b), higher);
    }

    void initSdkInfo_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("userData"); // the library's TRV_NET_UserData text argument, empty: no call
        QTest::addColumn<int>("ret");
        QTest::newRow("length of the text")
            << R"({"bInitUserData":true,"type":2,"UserData":"abcdef","len":6})"
            << "\"abcdef\"" << 100;
        QTest::newRow("shorter length") << R"({"bInitUserData":true,"UserData":"abcdef","len":2})"
                                        << "\"ab\"" << 100;
        // The page's length cannot reach past its text.
        QTest::newRow("length past the text") << R"({"bInitUserData":true,"UserData":"abc","len":4096})"
                                              << "\"abc\"" << 100;
        QTest::newRow("negative length") << R"({"bInitUserData":true,"UserData":"abc","len":-3})"
                                         << "" << 1019;
        QTest::newRow("wrong types") << R"({"bInitUserData":true,"UserData":[1],"len":3})"
                                     << "" << 1019;
    }
    void initSdkInfo()
    {
        QFETCH(QString, request);
        QFETCH(QString, userData);
        QFETCH(int, ret);
        QVERIFY(f.start(device()));
        Json::Value parsed;
        QVERIFY(JsonUtil::parse(request, &parsed));
        Answer answer;
        QVERIFY(f.onWorker([&] { answer = f.manage->upgrades().onMainMsgInitSDKInfo(parsed); }));
        QVERIFY(answer.reply.has_value());
        QCOMPARE(answer.reply->get("Ret", 0).asInt(), ret);
        const auto calls = control::callsOf("TRV_NET_UserData");
        QCOMPARE(calls.empty() ? QString() : QString::fromStdString(calls[0].args[1]), userData);
    }

    // A local upgrade on the simulated device reports its progress, and its
    // end closes the upgrade and clears the flag that the service watches.
    void upgradeProgress()
    {
        QVERIFY(f.start(device()));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("firmware.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(300000, 'f'));
        file.close();
        const int id = f.loginId();
        int result = 0;
        QVERIFY(f.onWorker([&] {
            result = CQNConnect::GetInstance()->StartLocalUpgrade(id, path, &onUpgradeProgress, f.manage);
            f.manage->upgrades().setUpgrading(result == 100);
        }));
        QCOMPARE(result, 100);
        f.sent.clear();
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !f.sent.isEmpty()
                    && object(f.sent.last())
                           .value(QStringLiteral("Data"))
                           .toObject()
                           .value(QStringLiteral("Status"))
                           .toInt()
                    == TRV_UPGRADE_SUCCESS;
            },
            60000));
        for (int i = 0; i < f.sent.size(); ++i) {
            const QJsonObject event = object(f.sent[i]);
            QCOMPARE(kindOf(event), QStringLiteral("3/0"));
            const QJsonObject data = event.value(QStringLiteral("Data")).toObject();
            QCOMPARE(data.keys(), (QStringList { "SendSize", "Status", "TotalSize" }));
            const bool last = i == f.sent.size() - 1;
            QCOMPARE(event.value(QStringLiteral("IsUpgrade")), QJsonValue(!last));
        }
        QCOMPARE(functionsOf("TRV_NET_CloseUpgradeHandle"),
            QStringList { QStringLiteral("TRV_NET_CloseUpgradeHandle(%1)").arg(g_upgradeHandle.load()) });
        bool upgrading = true;
        QVERIFY(f.onWorker([&] { upgrading = f.manage->upgrades().isUpgrading(); }));
        QVERIFY(!upgrading);
    }

    void upgradeStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("ends");
        QTest::newRow("sending") << int(TRV_UPGRADE_SENDING) << false;
        QTest::newRow("writing") << int(TRV_UPGRADE_WRITING) << false;
        QTest::newRow("success") << int(TRV_UPGRADE_SUCCESS) << true;
        QTest::newRow("failed") << int(TRV_UPGRADE_FAILED) << true;
    }
    void upgradeStatus()
    {
        QVERIFY(f.start(device()));
        QFETCH(int, status);
        QFETCH(bool, ends);
        f.sent.clear();
        QVERIFY(f.onWorker([&] {
            f.manage->upgrades().setUpgrading(true);
            f.manage->upgrades().OnUpgradeProgress(77, status, 1000, 400);
        }));
        const QStringList messages = f.flush();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(object(messages[0]),
            object(QStringLiteral(R"({"MainEvent":3,"SubEvent":0,"Data":{"Status":%1,"TotalSize":1000,)"
                                  R"("SendSize":400},"IsUpgrade":%2})")
                       .arg(status)
                       .arg(ends ? "false" : "true")));
        QCOMPARE(functionsOf("TRV_NET_CloseUpgradeHandle").size(), ends ? 1 : 0);
    }
};

QTEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
