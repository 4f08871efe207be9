#pragma once

#include <QByteArray>
#include <QtGlobal>

// A page front end as the relay sees it: the server that holds a page
// session. The relay hands each message of a session's player, and the news
// that the player is gone, to the front end that started the session alone.
//
// Front ends are QObjects. The relay calls in on the front end's thread (at
// once when that is the relay's own, else queued) and never after the front
// end is gone. Neither call may wait for the page: the relay's thread serves
// every session.
class PageFrontEnd
{
public:
    // The bound of every queue that holds a session's messages (what its
    // page or its player leaves unread, what a page sends while its player
    // starts or its firmware step runs): past it, the session is ended.
    static constexpr qint64 kMaxQueuedBytes = 64 * 1024 * 1024;

    // A player message for one of this front end's sessions.
    virtual void onSendMsg(QByteArray msg, int nSessionID) = 0;
    // The session's player is gone (it ended, did not start or stopped
    // reading): its page is to be closed.
    virtual void onPlayerLost(int nSessionID) = 0;

protected:
    ~PageFrontEnd() = default;
};
