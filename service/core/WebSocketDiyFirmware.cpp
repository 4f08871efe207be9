// Firmware-customising requests (MainType 201) of the WebSocket front end.
// They are answered by the service itself, never relayed to a player.

#include "ServiceLog.h"
#include "WebSocketServerThread.h"
#include "common/Json.h"
#include "common/SecretRedactor.h"

#include <QProcess>
#include <QWebSocket>

void WebSocketServerThread::onMainMsgDiyFirmware(const QString &msg, int nSessionID)
{
    Json::Value request;
    if (!JsonUtil::parse(msg, &request) || !request.isObject())
        return;
    const auto it = m_pageSockets.find(nSessionID);
    if (it == m_pageSockets.end() || !it->second)
        return;

    Json::Value reply(Json::objectValue);
    reply["Msg"] = JsonUtil::member(request, "MainType");
    reply["SubMsg"] = JsonUtil::member(request, "SubType");
    reply["MsgID"] = JsonUtil::member(request, "MsgID");

    ServiceLog *log = ServiceLog::instance();
    const QString function = QStringLiteral("WebSocketServerThread::onMainMsgDiyFirmware");
    log->write(ServiceLog::Normal, function,
        QStringLiteral("DIYMsg nSessionID:%1 Msg:%2").arg(nSessionID).arg(redactSecrets(msg)),
        ServiceLog::Diy);

    int subType = 0;
    if (JsonUtil::readInt(request, "SubType", &subType)) {
        switch (subType) {
        case 1: // choose a firmware package
        case 2: // read a custom configuration
        case 3: // write a custom configuration
        case 4: // produce the package
        case 6: // list the languages
        case 7: // choose a logo
            // Served by the firmware customiser, which is not part of this
            // build yet: the request stays unanswered rather than getting a
            // made-up result.
            return;
        default:
            break;
        }
    }

    const std::string text = JsonUtil::writeCompact(reply);
    log->write(ServiceLog::Normal, function, QStringLiteral("ReqMsg:%1").arg(QString::fromStdString(text)),
        ServiceLog::Diy);
    sendToPage(nSessionID, QByteArray::fromStdString(text));
}
