// The session key the page asks for before it encrypts its messages.

#include "LightWeightLog.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "common/Json.h"
#include "common/Protocol.h"
#include "common/SessionKey.h"

#include <cstring>

void CPluginManage::MakeRandomString(char *buffer)
{
    const QByteArray key = SessionKey::make();
    std::memcpy(buffer, key.constData(), size_t(SessionKey::kLength));
}

void CPluginManage::onMainMsgConsultAesKey(const Request &request)
{
    char key[33] = {};
    MakeRandomString(key);
    Json::Value reply = makeReply(request);
    reply["key"]["key"] = key;
    reply["key"]["iv"] = "";
    reply["Ret"] = Ret::Ok;
    const QString text = JsonUtil::writeCompactText(reply);
    playerLog("CPluginManage::onMainMsgConsultAesKey", text, LightWeightLog::Normal);
    emit sendWebSocketMsgSig(text);
}

int CPluginManage::SetDevRecordEncryptKey(int loginId, int key)
{
    CQNConnect *connect = CQNConnect::GetInstance();
    if (!connect)
        return Ret::Missing;
    const int result = connect->SetDevRecordEncryptKey(loginId, key);
    return result > 0 ? Ret::Ok : result;
}
