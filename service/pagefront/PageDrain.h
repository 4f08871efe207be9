#pragma once

#include <QObject>

class QAbstractSocket;
class QSocketNotifier;

// A page that the service closes (1009, 1013, 1011, 1001) may still be
// sending: a connection closed with the page's bytes unread ends in a reset,
// and the page sees 1006 instead of the close code. Following a page's close,
// the drain holds a duplicate of the connection's descriptor, so that Qt's
// own close of it sends nothing; once Qt has closed its side (the close frame
// written), it ends the service's sending half and reads and discards what
// the page still sends, until the page closes or the time is up.
//
// Lives in the thread of the connection it follows.
class PageDrain : public QObject
{
    Q_OBJECT

public:
    // How long a closed page has, from its close frame, to close its side.
    static constexpr int kDrainMs = 2000;

    // Called as the close frame goes out (QWebSocket::aboutToClose); the
    // drain is a child of `owner`. Nothing when the connection has no
    // descriptor any more.
    static void follow(QAbstractSocket *connection, QObject *owner);
    // Drains still running under `owner`.
    static int running(const QObject *owner);

    ~PageDrain() override;

private:
    PageDrain(int fd, QObject *owner);
    // Qt has closed its side: the service's half ends, the page's is read.
    void begin();
    void readAway();
    void finish();

    int m_fd;
    bool m_begun = false;
    QSocketNotifier *m_notifier = nullptr;
};
