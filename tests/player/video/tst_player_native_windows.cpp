// The player on a real X server as a page drives it: log in, show the window,
// open live channels. What it costs the X server grows with the video windows
// that show a picture, not with the grid's 64 cells on each of its pages: the
// native windows it makes (counted by xwininfo over the whole display) and the
// _NET_WM_STATE client messages it sends to the root window (which the server
// hands to every client watching the root's structure, every other player on
// the display among them).

#include "LineProcess.h"
#include "LinkPeer.h"
#include "XvfbSession.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// Every window on the display, as xwininfo lists the tree below the root.
int windowsOnDisplay(const QString &display)
{
    QProcess xwininfo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    xwininfo.setProcessEnvironment(env);
    xwininfo.start(QStringLiteral("xwininfo"), { QStringLiteral("-root"), QStringLiteral("-tree") });
    if (!xwininfo.waitForFinished(20000) || xwininfo.exitCode() != 0)
        return -1;
    static const QRegularExpression child(QStringLiteral("^\\s+0x[0-9a-f]+ "));
    int count = 0;
    for (const QString &line : QString::fromLocal8Bit(xwininfo.readAllStandardOutput()).split('\n')) {
        if (child.match(line).hasMatch())
            ++count;
    }
    return count;
}

// A client of the test's own that watches the root window's structure, as
// every Qt program on the display does, and counts the window-manager state
// messages it is handed.
class RootWatcher
{
public:
    explicit RootWatcher(XvfbSession &x)
        : m_x(x)
        , m_state(x.atom("_NET_WM_STATE"))
    {
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_x.connection(), m_x.root(), XCB_CW_EVENT_MASK, &mask);
        m_x.sync();
    }

    // The state messages handed over so far; everything the server sent
    // before this call is counted.
    int stateMessages()
    {
        m_x.sync();
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_x.connection())) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE
                && reinterpret_cast<xcb_client_message_event_t *>(event)->type == m_state)
                ++m_count;
            std::free(event);
        }
        return m_count;
    }

private:
    XvfbSession &m_x;
    xcb_atom_t m_state;
    int m_count = 0;
};

} // namespace

class TestPlayerNativeWindows : public QObject
{
    Q_OBJECT

    // The first message from the player that holds `text`; null when none
    // came within 30 s.
    static QString answerWith(LineProcess &peer, const QString &text)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            const QString line = peer.take(QStringLiteral("recv "), int(30000 - t.elapsed()));
            if (line.isNull() || line.contains(text))
                return line;
        }
        return QString();
    }
    static QString answerTo(LineProcess &peer, int msgId)
    {
        return answerWith(peer, QStringLiteral("\"MsgID\":%1,").arg(msgId));
    }

private slots:
    void costGrowsWithDrawnWindows_data()
    {
        QTest::addColumn<int>("channels");
        // The player's window and the two windows Qt makes for each
        // connection to the server (the client leader and the selection
        // owner); then the grid's and one for each video window drawn into.
        QTest::addColumn<int>("maxWindows");
        // Two as Qt makes each native window.
        QTest::addColumn<int>("maxMessages");
        QTest::newRow("login and show") << 0 << 3 << 2;
        QTest::newRow("two live channels") << 2 << 6 << 8;
    }
    void costGrowsWithDrawnWindows()
    {
        QFETCH(int, channels);
        QFETCH(int, maxWindows);
        QFETCH(int, maxMessages);

        QTemporaryDir dir;
        XvfbSession x;
        QVERIFY(x.start());
        const xcb_window_t browser = x.window("Web Viewer", "Web Viewer");
        x.setActive(browser);
        RootWatcher watcher(x);
        const int windowsBefore = windowsOnDisplay(x.display());
        QVERIFY(windowsBefore > 0);

        LineProcess peer;
        const QString socket = dir.filePath(QStringLiteral("link"));
        QVERIFY(LinkPeer::listen(peer, socket));

        QProcess player;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), x.display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        if (!env.contains(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")))
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                QStringLiteral("unix:path=/dev/null/no-session-bus"));
        player.setProcessEnvironment(env);
        player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QVERIFY(LinkPeer::startPlayer(player, peer, socket, QStringLiteral("0x%1").arg(browser, 0, 16)));

        peer.write(
            R"(send {"MainType":8,"MsgID":1,"Browse":0,"Device":{"LoginType":0,"IP":"10.1.1.1","User":"admin","Password":""}})");
        const QString login = answerTo(peer, 1);
        QCOMPARE(QJsonDocument::fromJson(login.toUtf8()).object().value(QStringLiteral("Ret")).toInt(), 100);
        if (channels > 0) {
            // The first `channels` channels into the first windows.
            peer.write(QByteArrayLiteral(R"(send {"MainType":4,"SubType":0,"MsgID":2,"Channel":)")
                + QByteArray::number(256 + channels) + R"(,"Stream":1})");
            QVERIFY(answerTo(peer, 2).contains(QStringLiteral("\"Ret\":100")));
        }
        // Showing the window is the player's last step here: Qt has the X
        // server handle every request of the player's before it answers.
        peer.write(R"(send {"MainType":12,"SubType":2,"Pos":{"Left":0,"Top":0,"Width":640,"Height":360}})");
        QVERIFY(!answerWith(peer, QStringLiteral("\"Msg\":12,\"Ret\":100,\"SubMsg\":2")).isNull());

        const int windows = windowsOnDisplay(x.display()) - windowsBefore;
        const int messages = watcher.stateMessages();
        qInfo("%d native windows, %d window-manager state messages to the root window", windows, messages);
        QVERIFY2(windows >= 1 + channels, "the player's windows are not all there");
        QVERIFY2(windows <= maxWindows, qPrintable(QStringLiteral("%1 native windows").arg(windows)));
        QVERIFY2(messages <= maxMessages, qPrintable(QStringLiteral("%1 state messages").arg(messages)));

        peer.write("close");
        QVERIFY(player.waitForFinished(30000));
    }
};

QTEST_GUILESS_MAIN(TestPlayerNativeWindows)
#include "tst_player_native_windows.moc"
