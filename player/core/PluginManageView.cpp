// View control requests: what the embedded window shows and where.

#include "PlayWidgetFacade.h"
#include "PluginManage.h"
#include "common/Json.h"
#include "common/Protocol.h"

#include <stdexcept>

namespace {

// An int key: missing reads as 0; a key that is no number cannot be analysed
// (the dispatcher then logs "can not analyze json" and sends no reply).
int intKey(const Json::Value &object, const char *key)
{
    int value = 0;
    if (!JsonUtil::convertInt(JsonUtil::member(object, key), &value))
        throw std::invalid_argument(key);
    return value;
}

} // namespace

// MainType 12: hide (1), show (2) or move (4) the window to the page's
// rectangle, relative to the browser's page area.
void CPluginManage::onMainMsgWidgetStatus(const Request &request)
{
    const int mainType = intKey(request, "MainType");
    const int subType = intKey(request, "SubType");
    const Json::Value &pos = JsonUtil::member(request, "Pos");
    const int left = intKey(pos, "Left");
    const int top = intKey(pos, "Top");
    const int width = intKey(pos, "Width");
    const int height = intKey(pos, "Height");
    RunInMainThread([&] {
        if (PlayWidgetFacade *widget = playWidget())
            widget->onWidgetStatuChange(subType, left, top, width, height);
    });
    // The service's own control path adds "Potocol" and answers the page itself.
    if (request.isObject() && request.isMember("Potocol"))
        return;
    Json::Value reply(Json::objectValue);
    reply["Msg"] = mainType;
    reply["SubMsg"] = subType;
    reply["Ret"] = Ret::Ok;
    sendReply(reply);
}
