// The player on a real X server that goes away under it, with a logged-in
// device and live channels on the screen: the player ends at once instead of
// hanging in its teardown or crashing in it (static objects destroyed while
// the device library's threads still deliver pictures), and the page's end
// of the link sees it go.

#include "LineProcess.h"
#include "LinkPeer.h"
#include "XvfbServer.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestPlayerDisplayLoss : public QObject
{
    Q_OBJECT

private slots:
    void displayGoesAway()
    {
        QTemporaryDir dir;
        XvfbServer xvfb;
        QVERIFY2(xvfb.start(), qPrintable(xvfb.errorText()));

        LineProcess peer;
        const QString socket = dir.filePath(QStringLiteral("link"));
        QVERIFY(LinkPeer::listen(peer, socket));

        QProcess player;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), xvfb.display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        player.setProcessEnvironment(env);
        QVERIFY(LinkPeer::startPlayer(player, peer, socket, QStringLiteral("0x400002")));

        peer.write(
            R"(send {"MainType":8,"MsgID":1,"Browse":0,"Device":{"LoginType":0,"IP":"10.1.1.1","User":"admin","Password":""}})");
        QVERIFY(peer.take(QStringLiteral("recv ")).contains(QStringLiteral("\"Ret\":100")));
        peer.write(R"(send {"MainType":4,"SubType":0,"MsgID":2,"Channel":-1,"Stream":1})");
        peer.write(
            R"(send {"MainType":12,"SubType":2,"MsgID":3,"Pos":{"Left":0,"Top":0,"Width":640,"Height":360}})");
        QVERIFY(peer.sees(QStringLiteral("recv {\"Msg\":12"), 30000));

        xvfb.stop();
        QVERIFY2(player.waitForFinished(20000), "the player hangs after losing its display");
        const QString err = QString::fromUtf8(player.readAllStandardError());
        QCOMPARE(player.exitCode(), 1);
        QVERIFY(peer.sees(QStringLiteral("closed"), 10000));
        QVERIFY2(err.contains(QStringLiteral("unexpected exit")), qPrintable(err));
        // Under ThreadSanitizer, the player's threads up to that end.
        QVERIFY2(!err.contains(QStringLiteral("ThreadSanitizer")), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestPlayerDisplayLoss)
#include "tst_player_display_loss.moc"
