#pragma once

#include "common/Protocol.h"

#include <json/value.h>

// The envelopes of the JSON messages both programs send to the page.

// The head of every reply: {"Msg": "MainType", "SubMsg": "SubType", "MsgID":
// "MsgID"}, each copied from the request as it came (null when missing).
Json::Value pageReply(const Json::Value &request);

// The head every event to the page starts with: {"MainEvent":m,"SubEvent":s}.
Json::Value pageEvent(EventKind kind);
