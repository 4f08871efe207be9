#pragma once

#include "RequestContext.h"

// Settings (MainTypes 14, 15, 18): the folders and file types of snapshots,
// recordings and downloads, the alarm-type filter, and choosing a folder or
// file through the outside chooser program. Worker thread.
class SettingsTopic
{
public:
    explicit SettingsTopic(RequestContext &context);

    Answer onMainMsgClientConfig(const Request &request);
    Answer onMainMsgAlarmType(const Request &request);
    Answer onMainMsgGetAlarmType(const Request &request);

private:
    RequestContext &m_ctx;
};
