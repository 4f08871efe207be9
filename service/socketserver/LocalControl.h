#pragma once

#include "GeneralSocket.h"

#include <QByteArray>
#include <QString>

#include <json/value.h>

#include <functional>

class RawSessions;
class WorkLane;

// The page's local control requests ("/Cmd-WebLocalCtrl"), one handler per
// MainType. Each returns its reply for the server's loop to send, or takes
// the request's socket onto a work lane, which delivers the reply later.
class LocalControl
{
public:
    // Sends a reply for a socket a lane took; an empty reply closes it.
    using Deliver = std::function<void(int socket, const QByteArray &reply)>;

    struct Outcome
    {
        QByteArray reply; // empty and not taken: closed unanswered
        bool taken = false; // a lane owns the socket now
    };

    LocalControl(GeneralSocket &server, RawSessions &sessions, WorkLane &relayLane, WorkLane &outsideLane,
        Deliver deliver);

    // The loop's thread: the request's body and its connection's socket.
    Outcome handle(const QByteArray &body, int socket);

    // The foreground window when its title contains `title`, else 0.
    static quint64 getBrowserWndByTitle(int browseType, const QString &title);

private:
    struct Request
    {
        LocalCtrlRequest fields;
        Json::Value root;
        QByteArray json; // the body from its first brace
        int socket = -1;
    };
    Outcome versionInfo(const Request &r);
    Outcome windowPlace(const Request &r);
    Outcome cipherData(const Request &r);
    Outcome freshKey(const Request &r);
    Outcome browserWindow(const Request &r);
    Outcome sessionKey(const Request &r);
    Outcome logSwitch(const Request &r);
    Outcome webSocketPort(const Request &r);
    Outcome outsideRequest(const Request &r);

    GeneralSocket &m_server;
    RawSessions &m_sessions;
    WorkLane &m_relayLane;
    WorkLane &m_outsideLane;
    const Deliver m_deliver;
};
