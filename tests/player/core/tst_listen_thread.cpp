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
    { }
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
        const QByteArray stream
            = QByteArray("0000000c{\"a\":\"\xc3\xa9\"}xx") + "0000000" + "2[]" + "00000000";
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
        QTRY_COMPARE(l.received, QStringList { QStringLiteral("ok") });
        close(l);
    }

    void writesFrames()
    {
        Link l;
        QVERIFY(open(l, m_dir.filePath(QStringLiteral("c"))));
        QMetaObject::invokeMethod(
            l.link, "onSendMsg", Qt::QueuedConnection, Q_ARG(QString, QString(QChar(0x00e9))));
        QMetaObject::invokeMethod(l.link, "onSendMsg", Qt::QueuedConnection, Q_ARG(QString, QString()));
        QByteArray got;
        QTRY_VERIFY((got += l.peer->readAll()).size() >= 18);
        QCOMPARE(got, QByteArray("00000002\xc3\xa9") + "00000000");
        close(l);
    }

    // Reading on the request thread, whose handler answers on the spot, while
    // other threads write events: every frame arrives whole, each writer's in
    // its order, and the requests are handled on the request thread.
    void writersShareTheLinkWithTheRequestThread()
    {
        QLocalServer server;
        QVERIFY(server.listen(m_dir.filePath(QStringLiteral("e"))));
        auto *link = new ListenThread(server.fullServerName(), nullptr, 5000);
        QVERIFY(link->isConnected());
        QVERIFY(server.waitForNewConnection(5000));
        QLocalSocket *peer = server.nextPendingConnection();
        QThread requestThread;
        QAtomicInt handledElsewhere = 0;
        connect(
            link, &ListenThread::recvMsgSig, link,
            [&](const QString &request) {
                if (QThread::currentThread() != &requestThread)
                    handledElsewhere = 1;
                link->onSendMsg(QStringLiteral("re ") + request);
            },
            Qt::DirectConnection);
        // Started after the connection is made, so the thread sees it whole.
        requestThread.start();
        link->start(&requestThread);

        constexpr int kWriters = 4;
        constexpr int kEvents = 200;
        constexpr int kRequests = 100;
        QVector<QThread *> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.append(QThread::create([link, w] {
                for (int i = 0; i < kEvents; ++i)
                    link->onSendMsg(
                        QStringLiteral("w%1 %2 ").arg(w).arg(i) + QString(i % 50, QLatin1Char('x')));
            }));
            writers.last()->start();
        }
        for (int i = 0; i < kRequests; ++i)
            peer->write(LinkFrame::encode(QByteArray::number(i)));
        peer->flush();

        LinkFrameDecoder decoder;
        QStringList replies;
        QVector<int> nextEvent(kWriters, 0);
        bool inOrder = true;
        const auto collect = [&] {
            decoder.append(peer->readAll());
            LinkFrameDecoder::Event ev;
            while (decoder.next(&ev)) {
                if (ev.kind != LinkFrameDecoder::Kind::Frame) {
                    inOrder = false;
                    continue;
                }
                const QString text = QString::fromUtf8(ev.payload);
                if (text.startsWith(QLatin1String("re "))) {
                    replies.append(text.mid(3));
                    continue;
                }
                const QStringList parts = text.split(QLatin1Char(' '));
                const int w = parts.value(0).mid(1).toInt();
                const int i = parts.value(1).toInt();
                if (w < 0 || w >= kWriters || i != nextEvent[w]
                    || parts.value(2) != QString(i % 50, QLatin1Char('x')))
                    inOrder = false;
                else
                    ++nextEvent[w];
            }
            return replies.size() == kRequests && nextEvent == QVector<int>(kWriters, kEvents);
        };
        QTRY_VERIFY_WITH_TIMEOUT(collect(), 20000);
        QVERIFY(inOrder);
        for (int i = 0; i < kRequests; ++i)
            QCOMPARE(replies.at(i), QString::number(i));
        QCOMPARE(handledElsewhere.loadAcquire(), 0);

        for (QThread *writer : writers) {
            writer->wait();
            delete writer;
        }
        // The link comes back to this thread once the request thread got to it.
        link->stop();
        QTRY_COMPARE(link->thread(), QThread::currentThread());
        requestThread.quit();
        requestThread.wait();
        delete link;
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
        connect(
            l.link, &ListenThread::disconnectSig, &receiver,
            [&] {
                logoutMayEnd.acquire(); // held until the test has checked that no quit came yet
                logoutDone = 1;
            },
            Qt::BlockingQueuedConnection);

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
