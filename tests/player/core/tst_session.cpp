// The session topic (login, fresh login, logout, session key) against the
// device library and a recording window side: replies, library calls in
// order, window calls on the GUI thread, device events.

#include "DownloadTopic.h"
#include "FakeDesktop.h"
#include "GetSystemStatus.h"
#include "KestrixCallLog.h"
#include "LightWeightLog.h"
#include "LiveViewTopic.h"
#include "LoginSupport.h"
#include "PlaybackTopic.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "RecordingPlayWidget.h"
#include "RequestHarness.h"
#include "SessionTopic.h"

#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <QSet>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>

namespace control = kestrix::control;
using kestrix::DeviceSpec;

namespace {

constexpr quint64 kBrowser = 0x4400012;
constexpr int kSession = 42;

QJsonObject object(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

DeviceSpec camera(const char *address = "10.0.0.5", int channels = 16)
{
    DeviceSpec s;
    s.address = address;
    s.serial = std::string("SN-") + address;
    s.user = "admin";
    s.password = "secret";
    s.videoChannels = channels;
    s.deviceType = 1;
    s.maxLogins = 1; // a second login works only after the first logged out
    s.defaultRecordings = false;
    kestrix::RecordingSpec r;
    r.channel = 0;
    r.name = "clip";
    r.begin = "2023-05-01 08:00:00";
    r.end = "2023-05-01 08:00:06";
    r.streamType = 1;
    s.recordings.push_back(r);
    return s;
}

QString loginRequest(const QString &extra = QString(), const QString &device = QString())
{
    return QStringLiteral("{\"MainType\":8,\"SubType\":0,\"MsgID\":7,\"Browse\":2,\"WebType\":\"skinX\","
                          "\"Device\":{\"LoginType\":0,\"IP\":\"10.0.0.5\",\"Port\":34567,\"User\":\"admin\","
                          "\"Password\":\"secret\"%1}%2}")
        .arg(device, extra);
}

QStringList libraryCalls()
{
    return KestrixCallLog::describe(control::calls());
}

QStringList functionsCalled()
{
    QStringList out;
    for (const kestrix::CallRecord &c : control::calls()) {
        if (c.function != "TRV_NET_GetLastError")
            out.append(QString::fromStdString(c.function));
    }
    return out;
}

int onFrame(int, const TRV_FRAME_INFO *, void *)
{
    return 1;
}
int onPlayData(int, int, const unsigned char *, int, void *)
{
    return 1;
}
void onPosition(int, int, int, void *) { }

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private:
    RequestHarness m_h;
    QStringList m_status; // the once-a-second CPU and memory events
    QStringList m_log;
    RecordingPlayWidget m_widget;
    bool m_widgetInstalled = true;
    std::shared_ptr<FakeDesktop> m_desktop;

    void start(const QString &browserText)
    {
        m_h.make(this, browserText, kSession, [this](const QString &m) {
            if (!m.startsWith(QLatin1String("{\"AppCpu\":")))
                return true;
            m_status.append(m);
            return false;
        });
    }
    void post(const QString &msg) { m_h.post(msg); }
    // Runs `f` on the worker thread; this thread keeps serving GUI tasks.
    void onWorker(std::function<void()> f) { QVERIFY(m_h.onWorker(std::move(f))); }
    QStringList answersTo(const QString &msg) { return m_h.answersTo(msg); }
    QJsonObject login(const QString &msg)
    {
        const QStringList answers = answersTo(msg);
        return answers.size() == 1 ? object(answers[0])
                                   : QJsonObject { { "answers", answers.join(QLatin1Char('|')) } };
    }
    int loginId()
    {
        int id = 0;
        onWorker([&] { id = m_h.manage->context().mainDevice().loginId; });
        return id;
    }
    int expectedScale() const
    {
        const QScreen *screen = QGuiApplication::primaryScreen();
        return screen ? ScalePercentFromDpi(qRound(screen->logicalDotsPerInchX())) : 1;
    }
    bool logged(const QString &text) const { return !m_log.filter(text).isEmpty(); }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
        connect(LightWeightLog::instance(), &LightWeightLog::writeLogSig, this,
            [this](const QString &line) { m_log.append(line); });
        PlayerWindow::setProvider([this] { return m_widgetInstalled ? &m_widget : nullptr; });
        m_desktop = std::make_shared<FakeDesktop>();
        NativeWindow::setDesktop(m_desktop);
    }
    void init()
    {
        control::reset();
        control::addDevice(camera());
        m_widget.clear();
        m_widget.renderWnd = 0x55;
        m_widgetInstalled = true;
        m_desktop->setForeground(0, QString());
        m_log.clear();
        m_h.sent.clear();
        m_status.clear();
        start(QString::number(kBrowser, 16));
        control::clearCalls();
    }
    void cleanup() { m_h.destroy(); }
    void cleanupTestCase()
    {
        CQNConnect::ReleaseInstance();
        PlayerWindow::setProvider(nullptr);
        NativeWindow::setDesktop(nullptr);
    }

    void loginReply_data()
    {
        QTest::addColumn<QString>("extra");
        QTest::addColumn<quint64>("render");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("windowCalls");
        const QString setup
            = QStringLiteral("SetSkin(skinX)|SetDeviceInfo(#,false)|SetPageIndex(0)|ChangeSplit(3)");
        QTest::newRow("render window found")
            << QString() << quint64(0x55)
            << R"({"Msg":8,"SubMsg":0,"MsgID":7,"Ret":100,"adjustBytool":true,"Id":42,"DPIRadio":@})"
            << (QStringList { "ErgodicAllChild(71303186,2,0)", "SetBrowserWnd(71303186,85,Web Viewer,2)" }
                   + setup.split(QLatin1Char('|')));
        QTest::newRow("none found")
            << QString() << quint64(0)
            << R"({"Msg":8,"SubMsg":0,"MsgID":7,"Ret":100,"adjustBytool":false,"Id":42,"DPIRadio":@})"
            << (QStringList { "ErgodicAllChild(71303186,2,0)", "SetBrowserWnd(71303186,0,Web Viewer,2)" }
                   + setup.split(QLatin1Char('|')));
        QTest::newRow("browser kind without render window, no MsgID")
            << R"(,"Browse":1,"MsgID":null,"Title":"Cams")" << quint64(0x55)
            << R"({"Msg":8,"SubMsg":0,"MsgID":null,"Ret":100,"adjustBytool":0,"Id":42,"DPIRadio":@})"
            << (QStringList { "SetBrowserWnd(71303186,0,Cams,1)" } + setup.split(QLatin1Char('|')));
    }
    void loginReply()
    {
        QFETCH(QString, extra);
        QFETCH(quint64, render);
        QFETCH(QString, reply);
        QFETCH(QStringList, windowCalls);
        m_widget.renderWnd = render;
        QString request = loginRequest();
        if (!extra.isEmpty()) {
            // Later keys replace earlier ones: drop MsgID when asked.
            QJsonObject o = object(request);
            const QJsonObject more = object(QStringLiteral("{") + extra.mid(1) + QStringLiteral("}"));
            for (auto it = more.begin(); it != more.end(); ++it) {
                if (it.value().isNull())
                    o.remove(it.key());
                else
                    o.insert(it.key(), it.value());
            }
            request = QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
        }
        const QJsonObject answer = login(request);
        const int id = loginId();
        QVERIFY(id > 0);
        QJsonObject expected
            = object(QString(reply).replace(QLatin1Char('@'), QString::number(expectedScale())));
        if (expected.value(QStringLiteral("MsgID")).isNull())
            expected.remove(QStringLiteral("MsgID"));
        QCOMPARE(answer, expected);
        // Written as the page expects: a bool with MsgID, else 0 or 1.
        QVERIFY(m_h.sent.first().contains(expected.contains(QStringLiteral("MsgID"))
                ? QStringLiteral("\"adjustBytool\":")
                : QStringLiteral("\"adjustBytool\":0")));
        QCOMPARE(m_widget.described(),
            QStringList(windowCalls).replaceInStrings(QStringLiteral("#"), QString::number(id)));
        QVERIFY(m_widget.allOnThread(QThread::currentThreadId()));
        QCOMPARE(functionsCalled(), QStringList { "TRV_NET_Login" });
        QVERIFY(libraryCalls()[0].startsWith(
            QStringLiteral("TRV_NET_Login(\"10.0.0.5\",34567,\"admin\",\"secret\",")));
        QVERIFY(libraryCalls()[0].endsWith(QStringLiteral(",0)")));
        QVERIFY(logged(QStringLiteral("WndHandle %1").arg(QString::number(kBrowser, 16))));
        QVERIFY(logged(QStringLiteral("channel num=16")));
        QVERIFY(logged(QStringLiteral("loginDev----------devType:1")));
        // The password never reaches the log.
        QVERIFY(!logged(QStringLiteral("secret")));
    }

    void browserWindowFromTheDesktop_data()
    {
        QTest::addColumn<QString>("browserText");
        QTest::addColumn<QString>("request");
        QTest::addColumn<quint64>("foreground");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("ret");
        const QString bySerial
            = QStringLiteral("{\"MainType\":8,\"MsgID\":1,\"Browse\":6,\"Device\":{\"LoginType\":1,"
                             "\"SN\":\"SN-10.0.0.5\",\"User\":\"admin\",\"Password\":\"secret\"}}");
        QTest::newRow("Web Viewer for address logins")
            << QString() << loginRequest() << quint64(0x123) << "Cameras - Web Viewer - Chromium" << 100;
        QTest::newRow("qelmora for serial logins")
            << QString() << bySerial << quint64(0x123) << "qelmora tool" << 100;
        QTest::newRow("titles compare case-sensitively")
            << QString() << loginRequest() << quint64(0x123) << "web viewer" << 1003;
        QTest::newRow("the page's title")
            << QString() << loginRequest(R"(,"Title":"Yard")") << quint64(0x77) << "Yard cameras" << 100;
        QTest::newRow("no window in front")
            << QString() << loginRequest() << quint64(0) << "Web Viewer" << 1003;
        // Reading stopped at once; an empty title would match any window.
        QTest::newRow("unreadable keys keep the default title")
            << QString() << R"({"MainType":8,"MsgID":1,"Device":5})" << quint64(0x123) << "Mail - Chromium"
            << 1003;
        QTest::newRow("command line identifier with 0x")
            << "0x4400012" << loginRequest() << quint64(0) << "" << 100;
        QTest::newRow("command line identifier that is no number")
            << "window" << loginRequest() << quint64(0x123) << "Web Viewer" << 1003;
    }
    void browserWindowFromTheDesktop()
    {
        QFETCH(QString, browserText);
        QFETCH(QString, request);
        QFETCH(quint64, foreground);
        QFETCH(QString, title);
        QFETCH(int, ret);
        cleanup();
        start(browserText);
        control::clearCalls();
        m_desktop->setForeground(foreground, title);
        const int asked = m_desktop->foregroundQueries();
        const QJsonObject answer = login(request);
        QCOMPARE(answer.value(QStringLiteral("Ret")).toInt(), ret);
        QCOMPARE(m_desktop->foregroundQueries() > asked, browserText.isEmpty());
        if (ret == 1003) {
            // Nothing was tried: no device call, no window call, no error number.
            QVERIFY(control::calls().empty());
            QVERIFY(m_widget.calls().isEmpty());
            QVERIFY(!answer.contains(QStringLiteral("ErrorCode")));
            QCOMPARE(answer.value(QStringLiteral("adjustBytool")).toBool(), false);
            QCOMPARE(answer.value(QStringLiteral("Id")).toInt(), kSession);
        } else {
            const quint64 window = browserText.isEmpty() ? foreground : kBrowser;
            QCOMPARE(m_widget.callsOf(QStringLiteral("ErgodicAllChild")).value(0),
                QStringLiteral("ErgodicAllChild(%1,%2,0)")
                    .arg(window)
                    .arg(request.contains(QLatin1String("\"Browse\":6")) ? 6 : 2));
        }
        if (browserText.isEmpty()) {
            const QString wanted = request.contains(QLatin1String("Yard")) ? QStringLiteral("Yard")
                : request.contains(QLatin1String("\"LoginType\":1"))       ? QStringLiteral("qelmora")
                                                                           : QStringLiteral("Web Viewer");
            QVERIFY(logged(QStringLiteral("Name=%1 Hwnd=%2 WindName=%3")
                               .arg(foreground ? title : QString())
                               .arg(foreground)
                               .arg(wanted)));
        }
    }

    void loginRefused_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<int>("ret");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("cloud");
        QTest::newRow("wrong password")
            << loginRequest().replace(QStringLiteral("\"secret\""), QStringLiteral("\"guess\"")) << 106
            << int(TRV_ERR_WRONG_PASSWORD) << QString();
        QTest::newRow("unknown user")
            << loginRequest().replace(QStringLiteral("\"admin\""), QStringLiteral("\"guest\"")) << 106
            << int(TRV_ERR_UNKNOWN_USER) << QString();
        QTest::newRow("cloud error") << QStringLiteral(
            "{\"MainType\":8,\"MsgID\":3,\"Device\":{\"LoginType\":2,\"SN\":\"SN-CLOUD\","
            "\"tcsToken\":\"t\",\"User\":\"admin\",\"Password\":\"\"}}")
                                     << 1012 << int(TRV_ERR_CLOUD) << "Cloud service expired";
        QTest::newRow("unknown serial")
            << QStringLiteral("{\"MainType\":8,\"MsgID\":3,\"Device\":{\"LoginType\":1,\"SN\":\"SN-NONE\","
                              "\"User\":\"admin\",\"Password\":\"\"}}")
            << 999 << int(TRV_ERR_DEVICE_OFFLINE) << QString();
        QTest::newRow("login type unknown to the wrapper")
            << QStringLiteral("{\"MainType\":8,\"MsgID\":3,\"Device\":{\"LoginType\":5}}") << 1017 << 0
            << QString();
    }
    void loginRefused()
    {
        QFETCH(QString, request);
        QFETCH(int, ret);
        QFETCH(int, error);
        QFETCH(QString, cloud);
        DeviceSpec c = camera("10.0.0.9");
        c.serial = "SN-CLOUD";
        c.cloudError = cloud.toStdString();
        control::addDevice(c);
        m_desktop->setForeground(0x123, QStringLiteral("qelmora"));
        const QJsonObject answer = login(request);
        QCOMPARE(answer.value(QStringLiteral("Ret")).toInt(), ret);
        QCOMPARE(answer.value(QStringLiteral("ErrorCode")).toInt(), error);
        QVERIFY(answer.contains(QStringLiteral("ErrorCode")));
        QCOMPARE(answer.contains(QStringLiteral("CloudErrCode")), ret == 1012);
        QCOMPARE(answer.value(QStringLiteral("CloudErrCode")).toString(), cloud);
        QCOMPARE(loginId(), 0);
        // The window is left alone.
        QVERIFY(m_widget.callsOf(QStringLiteral("SetBrowserWnd")).isEmpty());
        QVERIFY(m_widget.callsOf(QStringLiteral("ChangeSplit")).isEmpty());
    }

    void channelCountOutOfRange_data()
    {
        QTest::addColumn<int>("video");
        QTest::addColumn<int>("extra");
        QTest::addColumn<int>("ret");
        QTest::newRow("0") << 0 << 0 << 1008;
        QTest::newRow("1") << 1 << 0 << 100;
        QTest::newRow("64") << 60 << 4 << 100;
        QTest::newRow("65") << 64 << 1 << 1008;
        QTest::newRow("sum over 2^31") << INT_MAX << 2 << 1008;
    }
    void channelCountOutOfRange()
    {
        QFETCH(int, video);
        QFETCH(int, extra);
        QFETCH(int, ret);
        DeviceSpec c = camera();
        c.videoChannels = video;
        c.extraChannels = extra;
        control::addDevice(c);
        const QJsonObject answer = login(loginRequest());
        QCOMPARE(answer.value(QStringLiteral("Ret")).toInt(), ret);
        QVERIFY(!answer.contains(QStringLiteral("ErrorCode")));
        if (ret == 1008) {
            QCOMPARE(functionsCalled(),
                (QStringList { "TRV_NET_Login", "TRV_NET_CloseAlarmChan", "TRV_NET_Logout" }));
            QCOMPARE(loginId(), 0);
            QVERIFY(logged(QStringLiteral("WebDevInfoAbnorma")));
            QVERIFY(m_widget.callsOf(QStringLiteral("SetBrowserWnd")).isEmpty());
            QCOMPARE(control::openHandles(), 0);
        } else {
            QCOMPARE(m_widget.callsOf(QStringLiteral("SetDeviceInfo")),
                QStringList { QStringLiteral("SetDeviceInfo(%1,%2)")
                                  .arg(loginId())
                                  .arg(video + extra == 1 ? "true" : "false") });
        }
    }

    // The logout walks the 64-entry handle table whatever the record says.
    void logoutStaysInsideTheHandleTable_data()
    {
        QTest::addColumn<int>("total");
        QTest::newRow("65") << 65;
        QTest::newRow("largest int") << INT_MAX;
        QTest::newRow("negative") << -5;
    }
    void logoutStaysInsideTheHandleTable()
    {
        QFETCH(int, total);
        onWorker([&] {
            DeviceLoginInfo &info = m_h.manage->context().mainDevice();
            info.totalChannels = total;
            for (int &h : info.realHandles)
                h = 0;
            info.colorLoginId = 0;
            m_h.manage->session().logoutDev();
        });
        QVERIFY(functionsCalled().isEmpty());
        QVERIFY(m_widget.callsOf(QStringLiteral("PreviewStop")).isEmpty());
    }

    void layout_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("deviceType");
        QTest::addColumn<QString>("defaultWndNum");
        QTest::addColumn<int>("split");
        QTest::addColumn<bool>("single");
        QTest::newRow("16 channels") << 16 << 1 << QString() << 3 << false;
        QTest::newRow("4 wanted of 16") << 16 << 1 << "4" << 1 << false;
        QTest::newRow("16 wanted of 16 keeps 16") << 16 << 1 << "16" << 3 << false;
        QTest::newRow("1 wanted of 16") << 16 << 1 << "1" << 0 << false;
        QTest::newRow("0 wanted") << 16 << 1 << "0" << 3 << false;
        QTest::newRow("9 wanted of 32") << 32 << 1 << "9" << 2 << false;
        QTest::newRow("36 channels") << 36 << 2 << QString() << 5 << false;
        QTest::newRow("camera") << 1 << 0 << QString() << 0 << true;
        QTest::newRow("camera type with 4 channels") << 4 << 0 << QString() << 1 << true;
    }
    void layout()
    {
        QFETCH(int, channels);
        QFETCH(int, deviceType);
        QFETCH(QString, defaultWndNum);
        QFETCH(int, split);
        QFETCH(bool, single);
        DeviceSpec c = camera("10.0.0.5", channels);
        c.deviceType = deviceType;
        control::addDevice(c);
        const QString extra = defaultWndNum.isEmpty()
            ? QString()
            : QStringLiteral(",\"DefaultWndNum\":%1").arg(defaultWndNum);
        QCOMPARE(login(loginRequest(extra)).value(QStringLiteral("Ret")).toInt(), 100);
        QCOMPARE(m_widget.callsOf(QStringLiteral("ChangeSplit")),
            QStringList { QStringLiteral("ChangeSplit(%1)").arg(split) });
        QCOMPARE(m_widget.callsOf(QStringLiteral("SetDeviceInfo")),
            QStringList {
                QStringLiteral("SetDeviceInfo(%1,%2)").arg(loginId()).arg(single ? "true" : "false") });
    }

    // A second login first stops what the first one opened, with the old ids.
    void reloginStopsTheEarlierLogin()
    {
        QCOMPARE(login(loginRequest()).value(QStringLiteral("Ret")).toInt(), 100);
        const int first = loginId();
        int live = 0, playback = 0, download = 0;
        QTemporaryDir dir;
        onWorker([&] {
            CQNConnect *c = CQNConnect::GetInstance();
            DeviceLoginInfo &info = m_h.manage->context().mainDevice();
            live = c->ConnectChanel_V2(first, 3, 1, &onFrame, reinterpret_cast<void *>(quintptr(3)));
            info.realHandles[3] = live;
            PlaybackFileInfo file;
            file.stream = 1;
            std::strcpy(file.beginTime, "2023-05-01 08:00:00");
            std::strcpy(file.endTime, "2023-05-01 08:00:06");
            playback = c->BeginPlayback(first, 0, 2, file, &onPlayData, &onPosition, nullptr);
            m_h.manage->playback().playbackHandle(1) = playback;
            DownloadFileInfo d;
            std::strcpy(d.fileName, "clip");
            std::strcpy(d.beginTime, file.beginTime);
            std::strcpy(d.endTime, file.endTime);
            d.stream = 1;
            download = c->StartDownLoad(first, d,
                QFile::encodeName(dir.filePath(QStringLiteral("clip.h265x"))), &onPosition, nullptr);
            m_h.manage->downloads().downloadHandle() = download;
        });
        QVERIFY(live > 0 && playback > 0 && download > 0);
        control::clearCalls();
        m_widget.clear();

        const QJsonObject answer = login(loginRequest());
        QCOMPARE(answer.value(QStringLiteral("Ret")).toInt(), 100); // the device allows one login only
        const int second = loginId();
        QVERIFY(second > 0 && second != first);
        const QStringList calls = libraryCalls();
        QCOMPARE(calls.size(), 7);
        QVERIFY(calls[0].startsWith(QStringLiteral("TRV_NET_DelRealDataCallBack_V2(%1,").arg(live)));
        QVERIFY(calls[0].endsWith(QStringLiteral(",0x3)")));
        QCOMPARE(calls[1], QStringLiteral("TRV_NET_StopRealPlay(%1,0)").arg(live));
        QCOMPARE(calls[2], QStringLiteral("TRV_NET_StopPlayBack(%1)").arg(playback));
        QCOMPARE(calls[3], QStringLiteral("TRV_NET_CloseHandle(%1)").arg(download));
        QCOMPARE(calls[4], QStringLiteral("TRV_NET_CloseAlarmChan(%1)").arg(first));
        QCOMPARE(calls[5], QStringLiteral("TRV_NET_Logout(%1)").arg(first));
        QVERIFY(calls[6].startsWith(QStringLiteral("TRV_NET_Login(")));
        const QStringList window = m_widget.described();
        QCOMPARE(window.mid(0, 3),
            (QStringList { "ErgodicAllChild(71303186,2,0)", "PreviewStop(3)", "StopPlayback(1)" }));
        QVERIFY(m_widget.allOnThread(QThread::currentThreadId()));
        QCOMPARE(control::openHandles(), 1);
        QVERIFY(logged(QStringLiteral("stop preview begin")));
        QVERIFY(logged(QStringLiteral("stop preview end")));
        QVERIFY(logged(QStringLiteral("PlaybackStop end")));
        int h = -1;
        onWorker([&] {
            h = m_h.manage->context().mainDevice().realHandles[3] + m_h.manage->playback().playbackHandle(1)
                + m_h.manage->downloads().downloadHandle();
        });
        QCOMPARE(h, 0);
    }

    void logoutSendsNoReply()
    {
        QCOMPARE(login(loginRequest()).value(QStringLiteral("Ret")).toInt(), 100);
        const int id = loginId();
        QTemporaryDir dir;
        const QString temp = dir.filePath(QStringLiteral("temp.jpg"));
        QFile f(temp);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        onWorker([&] {
            m_h.manage->downloads().setTempFilePath(temp);
            m_h.manage->playback().startProgressTimer();
        });
        control::clearCalls();
        m_widget.clear();
        m_log.clear();

        QCOMPARE(answersTo(QStringLiteral("{\"MainType\":9,\"SubType\":0,\"MsgID\":8}")), QStringList());
        QCOMPARE(libraryCalls(),
            (QStringList { QStringLiteral("TRV_NET_CloseAlarmChan(%1)").arg(id),
                QStringLiteral("TRV_NET_Logout(%1)").arg(id) }));
        // Hidden (posted first), then destroyed; the progress timer's reads aside.
        QStringList window = m_widget.described();
        window.erase(std::remove_if(window.begin(), window.end(),
                         [](const QString &c) { return c.startsWith(QLatin1String("Get")); }),
            window.end());
        QCOMPARE(window, (QStringList { "onWidgetStatuChange(1,0,0,0,0)", "releaseInstance()" }));
        QVERIFY(m_widget.allOnThread(QThread::currentThreadId()));
        QVERIFY(!QFile::exists(temp));
        bool timer = true;
        onWorker([&] { timer = m_h.manage->playback().progressTimerRunning(); });
        QVERIFY(!timer);
        QCOMPARE(loginId(), 0);
        for (const char *text :
            { "logout nSessionID=42", "killTimer", "release data begin", "release data end" })
            QVERIFY2(logged(QString::fromLatin1(text)), text);

        // A second logout has nothing to stop and still destroys the window.
        control::clearCalls();
        m_widget.clear();
        QCOMPARE(answersTo(QStringLiteral("{\"MainType\":9}")), QStringList());
        QVERIFY(control::calls().empty());
        QCOMPARE(
            m_widget.described(), (QStringList { "onWidgetStatuChange(1,0,0,0,0)", "releaseInstance()" }));
    }

    // The link's end runs the logout.
    void disconnectLogsOut()
    {
        QCOMPARE(login(loginRequest()).value(QStringLiteral("Ret")).toInt(), 100);
        control::clearCalls();
        m_widget.clear();
        QMetaObject::invokeMethod(m_h.manage, "onDisconnect", Qt::QueuedConnection);
        QTRY_COMPARE(
            m_widget.described(), (QStringList { "onWidgetStatuChange(1,0,0,0,0)", "releaseInstance()" }));
        QVERIFY(functionsCalled().contains(QStringLiteral("TRV_NET_Logout")));
    }

    // Without a window side the player still logs in and out.
    void noWindowSide()
    {
        m_widgetInstalled = false;
        const QJsonObject answer = login(loginRequest());
        QCOMPARE(answer.value(QStringLiteral("Ret")).toInt(), 100);
        QCOMPARE(answer.value(QStringLiteral("adjustBytool")).toBool(), false);
        QCOMPARE(answersTo(QStringLiteral("{\"MainType\":9}")), QStringList());
        QCOMPARE(loginId(), 0);
        QVERIFY(m_widget.calls().isEmpty());
    }

    void deviceDisconnectEvent()
    {
        QCOMPARE(login(loginRequest()).value(QStringLiteral("Ret")).toInt(), 100);
        const int id = loginId();
        m_h.sent.clear();
        QVERIFY(control::injectDisconnect(id));
        QTRY_COMPARE(m_h.sent, QStringList { "{\"MainEvent\":5,\"Ret\":100,\"SubEvent\":0}\n" });
        QVERIFY(logged(QStringLiteral("Device Disconnect IP=10.0.0.5 LoginID=%1 Port=34567").arg(id)));
        // The page decides: nothing was stopped or logged out.
        QCOMPARE(loginId(), id);
        QVERIFY(!functionsCalled().contains(QStringLiteral("TRV_NET_Logout")));
    }

    void alarms_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("status");
        QTest::newRow("first row with 25 wins") << 25 << 0 << "VideoAnalyze"
                                                << "Start";
        QTest::newRow("13") << 13 << 1 << "NetAbort"
                            << "Stop";
        QTest::newRow("4") << 4 << 2 << "VideoMotion"
                           << "Pulse";
        QTest::newRow("last row") << 41 << 0 << "FaceRecognition"
                                  << "Start";
        QTest::newRow("0 unknown") << 0 << 0 << ""
                                   << "Start";
        QTest::newRow("18 unknown") << 18 << 0 << ""
                                    << "Start";
        QTest::newRow("99 unknown, state 7") << 99 << 7 << ""
                                             << "";
    }
    void alarms()
    {
        QFETCH(int, code);
        QFETCH(int, state);
        QFETCH(QString, event);
        QFETCH(QString, status);
        DeviceSpec c = camera();
        c.serial = "SN-ALARM";
        control::addDevice(c);
        const QString request = QStringLiteral(
            "{\"MainType\":8,\"MsgID\":1,\"AlarmStyle\":\"Tool\",\"Device\":{"
            "\"LoginType\":1,\"SN\":\"SN-ALARM\",\"User\":\"admin\",\"Password\":\"secret\"}}");
        QCOMPARE(login(request).value(QStringLiteral("Ret")).toInt(), 100);
        const int id = loginId();
        QVERIFY(functionsCalled().contains(QStringLiteral("TRV_NET_SetMessageCallBack")));
        QVERIFY(functionsCalled().contains(QStringLiteral("TRV_NET_SetupAlarmChan")));
        m_h.sent.clear();
        QVERIFY(control::injectAlarm(id, 2, code, state));
        QTRY_COMPARE(m_h.sent.size(), 1);
        QCOMPARE(object(m_h.sent[0]),
            object(QStringLiteral("{\"MainEvent\":2,\"SubEvent\":0,\"Name\":\"AlarmInfo\","
                                  "\"Channel\":2,\"Event\":\"%1\",\"Status\":\"%2\"}")
                       .arg(event, status)));
    }

    void noAlarmsWithoutTheToolPage()
    {
        DeviceSpec c = camera();
        c.serial = "SN-ALARM";
        control::addDevice(c);
        const QString request = QStringLiteral(
            "{\"MainType\":8,\"MsgID\":1,\"AlarmStyle\":\"Page\",\"Device\":{"
            "\"LoginType\":1,\"SN\":\"SN-ALARM\",\"User\":\"admin\",\"Password\":\"secret\"}}");
        QCOMPARE(login(request).value(QStringLiteral("Ret")).toInt(), 100);
        QCOMPARE(functionsCalled(), QStringList { "TRV_NET_Login" });
        m_h.sent.clear();
        control::injectAlarm(loginId(), 1, 4, 0);
        // The disconnect of the same device comes from the same event thread:
        // once it arrived, an alarm would have, too.
        QVERIFY(control::injectDisconnect(loginId()));
        QTRY_COMPARE(m_h.sent.size(), 1);
        QVERIFY(m_h.sent[0].contains(QStringLiteral("\"MainEvent\":5")));
    }

    void alarmCallbackInput_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("sent");
        QTest::newRow("alarm") << 1 << int(sizeof(TRV_ALARM_INFO)) << true;
        QTest::newRow("three fields are enough") << 1 << 12 << true;
        QTest::newRow("other kind") << 2 << int(sizeof(TRV_ALARM_INFO)) << false;
        QTest::newRow("short record") << 1 << 11 << false;
    }
    void alarmCallbackInput()
    {
        QFETCH(int, kind);
        QFETCH(int, length);
        QFETCH(bool, sent);
        TRV_ALARM_INFO info = {};
        info.channel = 1;
        info.event = 6;
        info.state = 0;
        m_h.sent.clear();
        // Called on this thread, the event is sent at once.
        QCOMPARE(SessionTopic::AlarmMessageCallback(1, reinterpret_cast<const char *>(&info),
                     unsigned(length), &m_h.manage->session(), kind, 0),
            1);
        QCOMPARE(m_h.sent.size(), sent ? 1 : 0);
        if (sent)
            QVERIFY(m_h.sent[0].contains(QStringLiteral("\"Event\":\"VideoBlind\"")));
    }

    // Keys of a type that cannot be read stop the reading; what was read
    // counts and the rest keeps its defaults.
    void keysOfTheWrongType_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("loginCall"); // start of the library's login call; empty: none
        QTest::addColumn<int>("ret");
        QTest::newRow("user as a list") << loginRequest(QString(), R"(,"User":[1])") << true
                                        << R"(TRV_NET_Login("10.0.0.5",0,"","",)" << 106;
        QTest::newRow("port as a text") << loginRequest(QString(), R"(,"Port":"x")") << true
                                        << R"(TRV_NET_Login("10.0.0.5",0,"admin","secret",)" << 100;
        QTest::newRow("device as a number")
            << R"({"MainType":8,"MsgID":1,"Device":5})" << true << R"(TRV_NET_Login("",0,"","",)" << 1017;
        QTest::newRow("login type as a text is no number")
            << loginRequest(QString(), R"(,"LoginType":"1")") << false
            << R"(TRV_NET_Login("10.0.0.5",34567,"admin","secret",)" << 100;
        QTest::newRow("a whole port as a real number")
            << loginRequest(QString(), R"(,"User":"admin","Port":34567.0)") << false
            << R"(TRV_NET_Login("10.0.0.5",34567,"admin","secret",)" << 100;
        QTest::newRow("port out of range") << loginRequest(QString(), R"(,"Port":70000)") << false
                                           << R"(TRV_NET_Login("10.0.0.5",0,"admin","secret",)" << 100;
        QTest::newRow("window count as a text is ignored")
            << loginRequest(R"(,"DefaultWndNum":"4")") << false
            << R"(TRV_NET_Login("10.0.0.5",34567,"admin","secret",)" << 100;
    }
    void keysOfTheWrongType()
    {
        QFETCH(QString, request);
        QFETCH(bool, error);
        QFETCH(QString, loginCall);
        QFETCH(int, ret);
        const QJsonObject answer = login(request);
        QCOMPARE(answer.value(QStringLiteral("Ret")).toInt(), ret);
        const QStringList errors = m_log.filter(QStringLiteral("something error happened"));
        QCOMPARE(errors.size(), error ? 1 : 0);
        if (error)
            QVERIFY(errors[0].startsWith(QStringLiteral("[  ERROR]")));
        const QStringList calls = libraryCalls();
        QVERIFY2(
            !calls.isEmpty() && calls[0].startsWith(loginCall), qPrintable(calls.join(QLatin1Char('\n'))));
        QVERIFY(!logged(QStringLiteral("can not analyze json")));
    }

    // Texts longer than their field are cut without splitting a character.
    void longTextsCutOnCharacters()
    {
        const QString user = QString(40, QChar(0xe9));
        login(loginRequest(QString(), QStringLiteral(",\"User\":\"%1\"").arg(user)));
        const auto calls = control::callsOf("TRV_NET_Login");
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(
            QString::fromStdString(calls[0].args[2]), QStringLiteral("\"%1\"").arg(QString(31, QChar(0xe9))));
    }

    void windowSelectionEvents()
    {
        QCOMPARE(login(loginRequest()).value(QStringLiteral("Ret")).toInt(), 100);
        // A second login must not connect the window's signals twice.
        QCOMPARE(login(loginRequest()).value(QStringLiteral("Ret")).toInt(), 100);
        m_h.sent.clear();
        m_widget.clear();
        emit m_widget.emitter.curWndIndexSig(0, 2);
        QTRY_COMPARE(m_h.sent.size(), 2);
        QCOMPARE(object(m_h.sent[0]),
            object(QStringLiteral(
                "{\"MainEvent\":0,\"SubEvent\":0,\"Data\":{\"Channel\":7,\"Wnd\":2,\"PlayStatus\":5,"
                "\"Audio\":1,\"DigitalZoom\":false,\"RageState\":1,\"nBrightness\":11,"
                "\"nContrast\":22,\"nSaturation\":33,\"nHue\":44}}")));
        QCOMPARE(m_h.sent[1], QStringLiteral("{\"MainEvent\":0,\"SubEvent\":6,\"nShowElect\":0}\n"));
        QCOMPARE(m_widget.described(),
            (QStringList { "GetWndChn(0,2)", "GetColor(7)", "IsSoundWnd(0,7)", "IsDigitalZoom(0,7)",
                "GetPlayOriginalState(7)", "GetPlayState(0,7)" }));
        QVERIFY(m_widget.allOnThread(QThread::currentThreadId()));

        // Playback page: the speed step of a fast or slow window.
        onWorker([&] { m_h.manage->playback().playbackState(1) = 34; });
        m_h.sent.clear();
        m_widget.playState = 6;
        emit m_widget.emitter.curWndIndexSig(1, 1);
        QTRY_COMPARE(m_h.sent.size(), 1);
        QCOMPARE(object(m_h.sent[0]),
            object(QStringLiteral("{\"MainEvent\":1,\"SubEvent\":0,\"Data\":{\"Wnd\":1,\"Zoom\":false,"
                                  "\"Record\":true,\"Audio\":true,\"Status\":6,\"Mode\":3}}")));
        m_widget.playState = 4;
        m_h.sent.clear();
        emit m_widget.emitter.curWndIndexSig(1, 1);
        QTRY_COMPARE(m_h.sent.size(), 1);
        QVERIFY(m_h.sent[0].contains(QStringLiteral("\"Mode\":-1")));

        // A window without a channel reads nothing more; the colour page sends nothing.
        m_widget.liveWndChn = -1;
        m_widget.clear();
        m_h.sent.clear();
        emit m_widget.emitter.curWndIndexSig(2, 0);
        emit m_widget.emitter.curWndIndexSig(0, 70);
        QTRY_COMPARE(m_h.sent.size(), 2);
        QVERIFY(m_h.sent[0].contains(QStringLiteral("\"Channel\":-1")));
        QCOMPARE(m_widget.described(), QStringList { "GetWndChn(0,70)" });

        m_h.sent.clear();
        emit m_widget.emitter.changePTZELectPage();
        QTRY_COMPARE(m_h.sent, QStringList { "{\"MainEvent\":0,\"SubEvent\":6,\"nShowElect\":2}\n" });
        m_widget.liveWndChn = 7;
    }

    void clearWndSlot_data()
    {
        QTest::addColumn<int>("wnd");
        QTest::newRow("0") << 0;
        QTest::newRow("63") << 63;
        QTest::newRow("70 changes no slot") << 70;
        QTest::newRow("-1") << -1;
    }
    void clearWndSlot()
    {
        QFETCH(int, wnd);
        m_h.sent.clear();
        int state = -1;
        onWorker([&] {
            m_h.manage->liveView().ClearWndSlot(wnd);
            state = m_h.manage->liveView().wndShowElect(wnd);
        });
        QCOMPARE(state, 0);
        QTRY_COMPARE(m_h.sent, QStringList { "{\"MainEvent\":0,\"SubEvent\":6,\"nShowElect\":0}\n" });
    }

    void sessionKey()
    {
        QSet<QString> keys;
        for (int i = 0; i < 20; ++i) {
            const QStringList answers = answersTo(QStringLiteral("{\"MainType\":32,\"Other\":1}"));
            QCOMPARE(answers.size(), 1);
            const QJsonObject reply = object(answers[0]);
            QCOMPARE(reply.keys(), (QStringList { "Msg", "MsgID", "Ret", "SubMsg", "key" }));
            QCOMPARE(reply.value(QStringLiteral("Msg")).toInt(), 32);
            QVERIFY(reply.value(QStringLiteral("MsgID")).isNull());
            QVERIFY(reply.value(QStringLiteral("SubMsg")).isNull());
            QCOMPARE(reply.value(QStringLiteral("Ret")).toInt(), 100);
            const QJsonObject key = reply.value(QStringLiteral("key")).toObject();
            QCOMPARE(key.keys(), (QStringList { "iv", "key" }));
            QCOMPARE(key.value(QStringLiteral("iv")).toString(), QString());
            const QString k = key.value(QStringLiteral("key")).toString();
            QCOMPARE(k.size(), 16);
            for (const QChar c : k)
                QVERIFY(c.unicode() >= 33 && c.unicode() <= 126);
            keys.insert(k);
            QVERIFY(!logged(k));
        }
        // Twenty keys within a second or two: all different.
        QCOMPARE(keys.size(), 20);
        QVERIFY(logged(QStringLiteral("CPluginManage::onMainMsgConsultAesKey")));

        const QJsonObject withId
            = object(answersTo(QStringLiteral("{\"MainType\":32,\"SubType\":3,\"MsgID\":\"k\"}")).value(0));
        QCOMPARE(withId.value(QStringLiteral("MsgID")).toString(), QStringLiteral("k"));
        QCOMPARE(withId.value(QStringLiteral("SubMsg")).toInt(), 3);
    }

    void recordEncryptKey()
    {
        QCOMPARE(login(loginRequest()).value(QStringLiteral("Ret")).toInt(), 100);
        const int id = loginId();
        int result = 0;
        onWorker([&] { result = m_h.manage->session().SetDevRecordEncryptKey(id, 5); });
        QCOMPARE(result, 100);
    }

    // The CPU and memory event comes once a second while a device is logged in.
    void statusEventsWhileLoggedIn()
    {
        // The monitor's figures, as it measured them.
        QSignalSpy measured(m_h.manage->systemStatus(), &CGetSystemStatus::sendSystemStatusSig);
        QCOMPARE(login(loginRequest()).value(QStringLiteral("Ret")).toInt(), 100);
        QTRY_VERIFY_WITH_TIMEOUT(m_status.size() >= 2, 5000);
        const QJsonObject event = object(m_status[0]);
        QCOMPARE(event.value(QStringLiteral("MainEvent")).toInt(), 0);
        QCOMPARE(event.value(QStringLiteral("SubEvent")).toInt(), 5);
        // The event carries one tick's figures unchanged, as integers.
        const QVariantList figures { event.value(QStringLiteral("AppCpu")).toVariant(),
            event.value(QStringLiteral("SystemCpu")).toVariant(),
            event.value(QStringLiteral("AppMemory")).toVariant() };
        for (const QVariant &figure : figures)
            QCOMPARE(figure.userType(), int(QMetaType::LongLong));
        const QVariantList asInts { figures[0].toInt(), figures[1].toInt(), figures[2].toInt() };
        QVERIFY2(measured.contains(asInts), qPrintable(QJsonDocument(event).toJson(QJsonDocument::Compact)));
        answersTo(QStringLiteral("{\"MainType\":9}"));
        m_status.clear();
        // Two more ticks of the monitor pass without one. The manager's own
        // connection comes first, so its event would be queued before the tick.
        int ticks = 0;
        const auto counter = connect(
            m_h.manage->systemStatus(), &CGetSystemStatus::sendSystemStatusSig, this, [&ticks] { ++ticks; },
            Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 2, 5000);
        disconnect(counter);
        QVERIFY(m_status.isEmpty());
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
