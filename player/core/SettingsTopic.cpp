// Settings requests: the folders and file types of snapshots, recordings and
// downloads, the alarm-type filter, and choosing a folder or file through
// the outside chooser program.

#include "SettingsTopic.h"

#include "LightWeightLog.h"
#include "LocalInfo.h"
#include "PlayWidgetFacade.h"
#include "common/Json.h"

#include <QSettings>

SettingsTopic::SettingsTopic(RequestContext &context)
    : m_ctx(context)
{ }

// MainType 18: the folders and types of the local files; SubType is
// compared with the character codes of the page's digits.
Answer SettingsTopic::onMainMsgClientConfig(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);
    switch (subType) {
    case ClientConfigSub::ChooseKind0:
    case ClientConfigSub::ChooseKind1:
    case ClientConfigSub::ChooseKind2: {
        const QString kind = subType == ClientConfigSub::ChooseKind0 ? QStringLiteral("0")
            : subType == ClientConfigSub::ChooseKind1                ? QStringLiteral("1")
                                                                     : QStringLiteral("2");
        m_ctx.replyWithChosenPath({ kind, QStringLiteral("0") }, reply);
        return {};
    }
    case ClientConfigSub::Save: {
        LocalSettings::ClientCfg cfg;
        cfg.RecPath = JsonUtil::textKey(request, "RecPath");
        cfg.CapPath = JsonUtil::textKey(request, "CapPath");
        cfg.DownPath = JsonUtil::textKey(request, "DownPath");
        cfg.RecordType = JsonUtil::intKey(request, "RecordType");
        cfg.ImageType = JsonUtil::intKey(request, "ImageType");
        playerLog("CPluginManage::onMainMsgClientConfig", QStringLiteral("save config path"));
        const bool saved = LocalSettings::SaveClientCfg(RequestContext::appFolder(), cfg);
        if (!saved)
            playerLog("CPluginManage::onMainMsgClientConfig", QStringLiteral("save config path failed"),
                LightWeightLog::Error);
        reply["Ret"] = saved ? Ret::Ok : Ret::Failed;
        break;
    }
    case ClientConfigSub::Report: {
        LocalInfo info;
        bool loaded = false;
        m_ctx.RunOnWindow([&](GridWindowFacade *widget) {
            info = widget->LoadLocalInfo();
            loaded = true;
        });
        if (!loaded) {
            LocalSettings::LoadClientCfg(RequestContext::appFolder(), &info);
            LocalSettings::LoadToolVersion(RequestContext::appFolder(), &info);
        }
        reply["ToolVersion"] = info.ToolVersion.toStdString();
        reply["ToolDate"] = info.ToolDate.toStdString();
        reply["CapFileType"] = info.CaptureType;
        reply["RecordFileType"] = info.RecordType;
        reply["ImageType"] = info.ImageType;
        reply["RecPath"] = info.RecPath.toStdString();
        reply["CapPath"] = info.CapPath.toStdString();
        reply["DownPath"] = info.DownPath.toStdString();
        reply["Ret"] = Ret::Ok;
        break;
    }
    default:
        return {};
    }
    return reply;
}

// MainType 14: stores the page's alarm-type filter.
Answer SettingsTopic::onMainMsgAlarmType(const Request &request)
{
    Json::Value reply(Json::objectValue);
    reply["Msg"] = 14;
    reply["MsgID"] = JsonUtil::member(request, "MsgID");
    reply["SubMsg"] = 0;
    int result = Ret::Failed;
    {
        QSettings settings(LocalSettings::ClientCfgPath(RequestContext::appFolder()), QSettings::IniFormat);
        LocalSettings::UseSystemCodec(settings);
        const Json::Value &types = JsonUtil::member(request, "alarmtype");
        bool complete = true;
        for (const QString &name : LocalSettings::AlarmTypeNames()) {
            const Json::Value &value = JsonUtil::member(types, name.toLatin1().constData());
            // Numbers count as booleans; texts, arrays and objects do not.
            if (!value.isNull() && !value.isBool() && !value.isNumeric()) {
                playerLog("CPluginManage::onMainMsgAlarmType", QStringLiteral("store alarm type error"),
                    LightWeightLog::Error);
                complete = false;
                break;
            }
            settings.setValue(QStringLiteral("alarmtype/") + name, !value.isNull() && value.asBool());
        }
        settings.sync();
        if (complete && settings.status() == QSettings::NoError)
            result = Ret::Ok;
    }
    reply["Ret"] = result;
    return reply;
}

// MainType 15: reads the alarm-type filter back.
Answer SettingsTopic::onMainMsgGetAlarmType(const Request &request)
{
    Json::Value reply(Json::objectValue);
    reply["Msg"] = 15;
    reply["SubMsg"] = 0;
    reply["MsgID"] = JsonUtil::member(request, "MsgID");
    QSettings settings(LocalSettings::ClientCfgPath(RequestContext::appFolder()), QSettings::IniFormat);
    LocalSettings::UseSystemCodec(settings);
    Json::Value &types = reply["alarmtype"];
    types = Json::Value(Json::objectValue);
    for (const QString &name : LocalSettings::AlarmTypeNames())
        types[name.toStdString()] = settings.value(QStringLiteral("alarmtype/") + name, QString()).toBool();
    reply["Ret"] = Ret::Ok;
    return reply;
}
