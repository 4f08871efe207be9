#include "ListenThread.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

// Catches the queued quit call sent to the application (and keeps it from
// ending the test), noting whether the logout had finished by then.
class QuitCatcher : public QObject
{
public:
    explicit QuitCatcher(QAtomicInt *logoutDone)
        : m_logoutDone(logoutDone)
    {
    }
    int quitCalls = 0;
    bool logoutDoneAtQuit = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::MetaCall) {
            ++quitCalls;
            logoutDoneAtQuit = m_logoutDone->loadAcquire() == 1;
            return true;
        }
        return false;
    }

private:
    QAtomicInt *m_logoutDone;
};

} // namespace

class TestListenThread : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    struct Link
    {
        QLocalServer server;
        QLocalSocket *peer = nullptr;
        ListenThread *link = nullptr;
        QStringList received;
    };

    // Serves `path` and connects a link to it.
    bool open(Link &l, const QString &path)
    {
        if (!l.server.listen(path))
            return false;
        l.link = new ListenThread(path, nullptr, 5000);
        if (!l.link->isConnected() || !l.server.waitForNewConnection(5000))
            return false;
        l.peer = l.server.nextPendingConnection();
        connect(l.link, &ListenThread::recvMsgSig, this, [&l](const QString &m) { l.received.append(m); });
        l.link->start();
        return true;
    }
    static void close(Link &l)
    {
        l.link->stop();
        delete l.link;
    }

private slots:
    void deliversWhatArrivesInPieces()
    {
        Link l;
        QVERIFY(open(l, m_dir.filePath(QStringLiteral("a"))));
        const QByteArray stream = QByteArray("0000000c{\"a\":\"\xc3\xa9\"}xx") + "0000000" + "2[]" + "00000000";
        // "{\"a\":\"é\"}xx" is 12 bytes; then "[]"; then an empty frame.
        for (char c : stream) {
            l.peer->write(&c, 1);
            l.peer->flush();
        }
        QTRY_COMPARE(l.received.size(), 3);
        QCOMPARE(l.received[0], QString::fromUtf8("{\"a\":\"\xc3\xa9\"}xx"));
        QCOMPARE(l.received[1], QStringLiteral("[]"));
        QCOMPARE(l.received[2], QString());
        close(l);
    }

    // A bad header costs its 8 bytes; the frame behind it, already received
    // in the same write, is delivered without waiting for more data.
    void badHeaderDoesNotHoldBackTheNextFrame()
    {
        Link l;
        QVERIFY(open(l, m_dir.filePath(QStringLiteral("b"))));
        l.peer->write(QByteArray("0x000002") + "00000002ok");
        l.peer->flush();
        QTRY_COMPARE(l.received, QStringList{QStringLiteral("ok")});
        close(l);
    }

    void writesFrames()
    {
        Link l;
        QVERIFY(open(l, m_dir.filePath(QStringLiteral("c"))));
        QMetaObject::invokeMethod(l.link, "onSendMsg", Qt::QueuedConnection, Q_ARG(QString, QString(QChar(0x00e9))));
        QMetaObject::invokeMethod(l.link, "onSendMsg", Qt::QueuedConnection, Q_ARG(QString, QString()));
        QByteArray got;
        QTRY_VERIFY((got += l.peer->readAll()).size() >= 18);
        QCOMPARE(got, QByteArray("00000002\xc3\xa9") + "00000000");
        close(l);
    }

    // The end of the link is reported, and the quit is asked for only after
    // the receiver of disconnectSig (the logout) has finished; the quit is a
    // queued call, so it is not lost when it comes before the event loop runs.
    void disconnectReportedThenQuitQueued()
    {
        Link l;
        QVERIFY(open(l, m_dir.filePath(QStringLiteral("d"))));
        QThread worker;
        QObject receiver;
        receiver.moveToThread(&worker);
        worker.start();
        QAtomicInt logoutDone = 0;
        QSemaphore logoutMayEnd;
        connect(l.link, &ListenThread::disconnectSig, &receiver, [&] {
            logoutMayEnd.acquire(); // held until the test has checked that no quit came yet
            logoutDone = 1;
        }, Qt::BlockingQueuedConnection);

        QuitCatcher catcher(&logoutDone);
        QCoreApplication::instance()->installEventFilter(&catcher);
        l.peer->disconnectFromServer();
        // While the logout runs, no quit is asked for.
        QTest::qWait(200);
        QCOMPARE(catcher.quitCalls, 0);
        logoutMayEnd.release();
        QTRY_COMPARE(catcher.quitCalls, 1);
        QCOMPARE(catcher.logoutDoneAtQuit, true);
        QCoreApplication::instance()->removeEventFilter(&catcher);
        worker.quit();
        worker.wait();
        close(l);
    }

    void noServerWithinTimeout()
    {
        ListenThread link(m_dir.filePath(QStringLiteral("none")), nullptr, 200);
        QVERIFY(!link.isConnected());
    }
};

QTEST_GUILESS_MAIN(TestListenThread)
#include "tst_listen_thread.moc"
