#pragma once

#include "common/Protocol.h"

#include <json/value.h>

// The envelopes of the JSON messages both programs send to the page.

// The head of every reply: {"Msg": "MainType", "SubMsg": "SubType", "MsgID":
// "MsgID"}, each copied from the request as it came (null when missing).
Json::Value pageReply(const Json::Value &request);

// The head every event to the page starts with: {"MainEvent":m,"SubEvent":s}.
Json::Value pageEvent(EventKind kind);

namespace JsonUtil {

// An int key of a request: a missing key reads as 0; a key that is no number
// throws std::invalid_argument, so that the request counts as one that cannot
// be analysed (the player's dispatcher then logs it and sends no reply).
int intKey(const Json::Value &object, const char *key);

} // namespace JsonUtil
