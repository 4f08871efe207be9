#include "PageMessage.h"

#include "Json.h"

Json::Value pageReply(const Json::Value &request)
{
    Json::Value reply(Json::objectValue);
    reply["Msg"] = JsonUtil::member(request, "MainType");
    reply["SubMsg"] = JsonUtil::member(request, "SubType");
    reply["MsgID"] = JsonUtil::member(request, "MsgID");
    return reply;
}

Json::Value pageEvent(EventKind kind)
{
    Json::Value event(Json::objectValue);
    event["MainEvent"] = kind.mainEvent;
    event["SubEvent"] = kind.subEvent;
    return event;
}
