#include "LocalLink.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

class TestLocalLink : public QObject
{
    Q_OBJECT

private slots:
    void ownerOnlyAndStaleFileReplaced()
    {
        const QString path = LocalLink::serverPath("tst_local_link.sock");
        QCOMPARE(path, qEnvironmentVariable("XDG_RUNTIME_DIR") + "/tst_local_link.sock");
        {
            QFile stale(path);
            QVERIFY(stale.open(QIODevice::WriteOnly));
        }
        QLocalServer server;
        QString error;
        QVERIFY2(LocalLink::listenOwnerOnly(&server, path, &error), qPrintable(error));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(int(st.st_mode & 077), 0);
    }

    void tooLongPath()
    {
        QLocalServer server;
        QString error;
        QVERIFY(!LocalLink::listenOwnerOnly(&server, "/tmp/" + QString(200, 'x'), &error));
        QVERIFY(error.contains("too long"));
    }

    void peerProcess()
    {
        const QString path = LocalLink::serverPath("tst_local_link_peer.sock");
        QLocalServer server;
        QString error;
        QVERIFY2(LocalLink::listenOwnerOnly(&server, path, &error), qPrintable(error));

        // Our own connection.
        QLocalSocket self;
        self.connectToServer(path);
        QVERIFY(server.waitForNewConnection(5000));
        QLocalSocket *mine = server.nextPendingConnection();
        QCOMPARE(LocalLink::peerProcessId(mine), qint64(QCoreApplication::applicationPid()));

        // Another process's connection.
        QProcess child;
        child.start("/usr/bin/python3",
            { "-c",
                "import socket,sys,time; s=socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); "
                "time.sleep(30)",
                path });
        QVERIFY(child.waitForStarted());
        QVERIFY(server.waitForNewConnection(10000));
        QLocalSocket *theirs = server.nextPendingConnection();
        QCOMPARE(LocalLink::peerProcessId(theirs), child.processId());
        child.kill();
        child.waitForFinished();

        QCOMPARE(LocalLink::peerProcessId(static_cast<const QLocalSocket *>(nullptr)), qint64(-1));
        QCOMPARE(LocalLink::peerProcessId(qintptr(-1)), qint64(-1));
    }
};

QTEST_GUILESS_MAIN(TestLocalLink)
#include "tst_local_link.moc"
