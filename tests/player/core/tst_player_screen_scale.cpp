// The login's "DPIRadio" from the player on a real X server of a given
// resolution: the screen's dots per inch are rounded before the percentage is
// taken, so a 144 dpi screen (which X reports as a little less) gives 150.
// The player the tests start on an X server loads no GL driver: the driver's
// leak at unload cannot be named to LeakSanitizer on every machine.

#include "LineProcess.h"
#include "LinkPeer.h"
#include "XvfbServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestPlayerScreenScale : public QObject
{
    Q_OBJECT

private slots:
    void loginReportsTheScreenScale_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("percent");
        QTest::newRow("96") << 96 << 100;
        QTest::newRow("120") << 120 << 125;
        QTest::newRow("144") << 144 << 150;
    }
    void loginReportsTheScreenScale()
    {
        QFETCH(int, dpi);
        QFETCH(int, percent);
        QTemporaryDir dir;
        XvfbServer xvfb;
        xvfb.setExtraArguments({ QStringLiteral("-dpi"), QString::number(dpi) });
        QVERIFY2(xvfb.start(), qPrintable(xvfb.errorText()));

        LineProcess peer;
        const QString socket = dir.filePath(QStringLiteral("link"));
        QVERIFY(LinkPeer::listen(peer, socket));

        QProcess player;
        QProcessEnvironment env = xvfb.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // The scale comes from the X server alone.
        env.remove(QStringLiteral("QT_FONT_DPI"));
        env.remove(QStringLiteral("QT_SCALE_FACTOR"));
        // The dynamic loader lists every library the player opens, also those
        // it closes again before it ends.
        const QString loaderLog = dir.filePath(QStringLiteral("loaded"));
        env.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
        env.insert(QStringLiteral("LD_DEBUG_OUTPUT"), loaderLog);
        player.setProcessEnvironment(env);
        QVERIFY(LinkPeer::startPlayer(player, peer, socket, QStringLiteral("0x400002")));
        const qint64 playerPid = player.processId();

        peer.write(
            R"(send {"MainType":8,"MsgID":1,"Browse":0,"Device":{"LoginType":0,"IP":"10.1.1.1","User":"admin","Password":""}})");
        const QString line = peer.take(QStringLiteral("recv "), 30000);
        const QJsonObject reply = QJsonDocument::fromJson(line.toUtf8()).object();
        QCOMPARE(reply.value(QStringLiteral("Ret")).toInt(), 100);
        QCOMPARE(reply.value(QStringLiteral("DPIRadio")).toInt(), percent);

        // The player ends with its link.
        peer.write("close");
        QVERIFY(player.waitForFinished(20000));

        QFile loaded(loaderLog + QStringLiteral(".%1").arg(playerPid));
        QVERIFY(loaded.open(QIODevice::ReadOnly));
        const QByteArray libraries = loaded.readAll();
        QVERIFY(libraries.contains("libQt5XcbQpa"));
        QVERIFY2(!libraries.contains("libGLX_mesa") && !libraries.contains("swrast_dri"),
            "the player loaded a GL driver");
    }
};

QTEST_GUILESS_MAIN(TestPlayerScreenScale)
#include "tst_player_screen_scale.moc"
