// Device upgrades from the cloud or a local file, the check for a newer
// version of the tool on the update server, and the device library's
// application set-up.

#include "UpgradeTopic.h"

#include "LightWeightLog.h"
#include "LocalInfo.h"
#include "QNConnect.h"
#include "TextField.h"
#include "common/Json.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSettings>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

// The tool's version file on the update server, unless the local version
// file names another.
const char kDefaultVersionFileUrl[] = "http://update.quorvel.com:8080/ocx/QuorvelToolVersion.ini";

std::atomic<int> g_versionCheckTimeoutMs { 60000 };

// "Tool/version" and "Tool/date" of a version file.
struct ToolVersion
{
    QString version;
    QString date;
};

ToolVersion readToolVersion(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    LocalSettings::UseSystemCodec(settings);
    return { settings.value(QStringLiteral("Tool/version"), QString()).toString(),
        settings.value(QStringLiteral("Tool/date"), QString()).toString() };
}

// Field `i` of a dotted version: missing or not a number reads as 0.
int versionField(const QStringList &fields, int i)
{
    bool ok = false;
    const int value = i < fields.size() ? fields[i].toInt(&ok) : 0;
    return ok ? value : 0;
}

// The result of a version check: the local version and the one the server
// offers (empty when it offers none).
Json::Value toolVersionEvent(int subType, const ToolVersion &current, const ToolVersion &offered)
{
    const bool newer = offered.version.isEmpty() ? false
        : current.version.isEmpty()              ? true
                                    : UpgradeTopic::CompareVersion(offered.version, current.version);
    playerLog("CPluginManage::onMainMsgCheckToolVersion",
        QStringLiteral("bNewVersion %1 strNew %2 strCur %3")
            .arg(newer)
            .arg(offered.version, current.version));
    Json::Value event = subType == 0 ? pageEvent(PageEvent::ToolVersion)
        : subType == 1               ? pageEvent(PageEvent::UpgradeToolVersion)
                                     : pageEvent(PageEvent::UnknownVersionCheck);
    event["curDate"] = current.date.toStdString();
    event["curVersion"] = current.version.toStdString();
    event["newDate"] = offered.date.toStdString();
    event["newVersion"] = offered.version.toStdString();
    event["bNew"] = newer;
    return event;
}

} // namespace

UpgradeTopic::UpgradeTopic(RequestContext &context)
    : m_ctx(context)
{ }

void UpgradeTopic::setVersionCheckTimeoutMs(int ms)
{
    g_versionCheckTimeoutMs = ms;
}

bool UpgradeTopic::CompareVersion(const QString &a, const QString &b)
{
    if (a.isEmpty())
        return false;
    if (b.isEmpty())
        return true;
    const QStringList fa = a.split(QLatin1Char('.'));
    const QStringList fb = b.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i) {
        const int x = versionField(fa, i);
        const int y = versionField(fb, i);
        if (x != y)
            return x > y;
    }
    return false;
}

// MainType 21: the cloud's newer firmware (SubType 0) and the upgrade to it (1).
Answer UpgradeTopic::onMainMsgOnlineUpgrade(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);
    CQNConnect *connect = CQNConnect::GetInstance();
    const int loginId = m_ctx.mainDevice().loginId;
    if (subType == UpgradeSub::Query) {
        const QString current = QStringLiteral("%1-%2-%3")
                                    .arg(m_ctx.mainDevice().deviceInfo1)
                                    .arg(m_ctx.mainDevice().deviceInfo2)
                                    .arg(m_ctx.mainDevice().deviceInfo3);
        // A version the cloud offered before is no answer to this query.
        m_strNewFirmwareVersion.clear();
        const int result = connect->GetCloudUpgradeInfo(loginId, current, m_strNewFirmwareVersion);
        const int mark = m_strNewFirmwareVersion.lastIndexOf(QLatin1String("_V"));
        reply["NewVersion"]
            = (mark < 0 ? m_strNewFirmwareVersion : m_strNewFirmwareVersion.mid(mark + 1)).toStdString();
        reply["Ret"] = result;
    } else if (subType == UpgradeSub::Start) {
        const int result = connect->StartOnlineUpgrade(
            loginId, m_strNewFirmwareVersion, &UpgradeTopic::UpgradeProgressCallback, this);
        noteUpgradeStart(result);
        reply["Ret"] = result;
    } else {
        reply["Ret"] = Ret::NotHandled;
    }
    reply["IsUpgrade"] = m_bUpgrading;
    return reply;
}

// MainType 25: choose a firmware file (SubType 0) and upgrade from it (1).
Answer UpgradeTopic::onMainMsgLocalUpgrade(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    Json::Value reply(Json::objectValue);
    reply["Msg"] = 25;
    reply["SubMsg"] = 1;
    reply["MsgID"] = JsonUtil::member(request, "MsgID");
    if (subType == UpgradeSub::Query) {
        m_ctx.replyWithChosenPath({ QStringLiteral("4"), QStringLiteral("1") }, reply);
        return {};
    }
    if (subType != UpgradeSub::Start)
        return {};
    CQNConnect *connect = CQNConnect::GetInstance();
    if (!connect)
        return {};
    std::string file;
    if (!JsonUtil::convertString(JsonUtil::member(request, "FileName"), &file))
        throw std::invalid_argument("FileName");
    const int result = connect->StartLocalUpgrade(m_ctx.mainDevice().loginId, QString::fromStdString(file),
        &UpgradeTopic::UpgradeProgressCallback, this);
    playerLog("CPluginManage::onMainMsgLocalUpgrade",
        QStringLiteral("StartLocalUpgrade-----------ret:%1").arg(result));
    noteUpgradeStart(result);
    reply["Ret"] = result;
    reply["IsUpgrade"] = m_bUpgrading;
    return reply;
}

void UpgradeTopic::noteUpgradeStart(int result)
{
    // A start the device refuses (one already runs) leaves the flag of an
    // upgrade this player started alone: that one still runs until its end
    // clears the flag.
    if (result == Ret::Ok)
        m_bUpgrading = true;
}

void UpgradeTopic::UpgradeProgressCallback(
    int upgradeHandle, int status, int totalSize, int sendSize, void *user)
{
    auto *self = static_cast<UpgradeTopic *>(user);
    if (!self)
        return;
    self->m_ctx.RunInWorkerThread([self, upgradeHandle, status, totalSize, sendSize] {
        self->OnUpgradeProgress(upgradeHandle, status, totalSize, sendSize);
    });
}

// MainType 22: fetches the update server's version file into
// "NewVersion.ini" and reports whether it names a newer tool.
Answer UpgradeTopic::onMainMsgCheckToolVersion(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);
    const QString folder = RequestContext::appFolder();
    const QString localPath = folder + QStringLiteral("/QuorvelToolVersion.ini");
    const QString newPath = folder + QStringLiteral("/NewVersion.ini");
    QString url;
    {
        QSettings settings(localPath, QSettings::IniFormat);
        LocalSettings::UseSystemCodec(settings);
        url = settings.value(QStringLiteral("Tool/versionFileAddr"), QString()).toString();
    }
    if (url.isEmpty())
        url = QString::fromLatin1(kDefaultVersionFileUrl);
    playerLog("CPluginManage::onMainMsgCheckToolVersion",
        QStringLiteral("check version nSeesionID:%1").arg(m_ctx.sessionId()));

    auto *manager = new QNetworkAccessManager(m_ctx.worker());
    QNetworkRequest get { QUrl(url) };
    // Update servers may use a certificate of their own: the version text is
    // only compared, never run.
    if (url.contains(QLatin1String("https"))) {
        QSslConfiguration ssl = get.sslConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        get.setSslConfiguration(ssl);
    }
    QNetworkReply *answer = manager->get(get);
    auto *timer = new QTimer(manager);
    timer->setSingleShot(true);
    auto timedOut = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, manager, [manager, answer, timedOut] {
        playerLog("CPluginManage::onMainMsgCheckToolVersion", QStringLiteral("access timeout"));
        // Ending the reply makes it finish: that is no answer to report.
        *timedOut = true;
        answer->abort();
        manager->deleteLater();
    });
    QObject::connect(answer, &QNetworkReply::finished, manager,
        [this, manager, answer, timer, timedOut, localPath, newPath, subType] {
            if (*timedOut)
                return;
            timer->stop();
            manager->deleteLater();
            const ToolVersion current = readToolVersion(localPath);
            // A request that failed before any answer of the server (the
            // connection refused, no such host) is finished too: the page
            // hears that nothing new was found, and the last copy of the
            // server's file stays.
            if (answer->error() != QNetworkReply::NoError
                && !answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
                playerLog("CPluginManage::onMainMsgCheckToolVersion",
                    QStringLiteral("access failed: %1").arg(answer->errorString()), LightWeightLog::Warning);
                m_ctx.sendEvent(toolVersionEvent(subType, current, ToolVersion()));
                return;
            }
            playerLog("CPluginManage::onMainMsgCheckToolVersion", QStringLiteral("access successful"));
            // Other players read the file at any time: it is replaced whole.
            QSaveFile file(newPath);
            if (!file.open(QIODevice::WriteOnly))
                return;
            file.write(answer->readAll());
            if (!file.commit())
                return;
            m_ctx.sendEvent(toolVersionEvent(subType, current, readToolVersion(newPath)));
        });
    timer->start(g_versionCheckTimeoutMs.load());
    reply["Ret"] = Ret::Ok;
    return reply;
}

Answer UpgradeTopic::onMainMsgInitSDKInfo(const Request &request)
{
    playerLog("CPluginManage::onMainMsgInitSDKInfo", QStringLiteral("InitSDKInfo begin"));
    Json::Value reply = pageReply(request);
    auto identity = std::make_unique<TRV_APP_INFO>();
    std::memset(identity.get(), 0, sizeof(TRV_APP_INFO));
    auto userData = std::make_unique<SdkUserData>();
    bool setIdentity = false;
    bool setUserData = false;
    try {
        setIdentity = JsonUtil::member(request, "bInitAppInit").asBool();
        setUserData = JsonUtil::member(request, "bInitUserData").asBool();
        auto text = [&](const char *key, char *field, size_t size) {
            if (request.isMember(key))
                TextField::copy(field, size, QByteArray::fromStdString(request[key].asString()));
        };
        if (setIdentity) {
            text("Uuid", identity->appId, sizeof identity->appId);
            text("AppKey", identity->appKey, sizeof identity->appKey);
            text("AppSecret", identity->appSecret, sizeof identity->appSecret);
            if (request.isMember("MovedCard"))
                identity->cardKind = QByteArray::fromStdString(request["MovedCard"].asString()).toInt();
        }
        if (setUserData) {
            userData->type = JsonUtil::member(request, "type").asInt();
            const QByteArray data
                = QByteArray::fromStdString(JsonUtil::member(request, "UserData").asString());
            // The length the page gives cannot reach past its own text.
            const int length = std::clamp(JsonUtil::member(request, "len").asInt(), 0, int(data.size()));
            userData->text = data.left(length);
        }
    } catch (const std::exception &) {
        playerLog("CPluginManage::onMainMsgInitSDKInfo", QStringLiteral("something error happened"),
            LightWeightLog::Error);
    }
    playerLog("CPluginManage::onMainMsgInitSDKInfo",
        QStringLiteral("InitSDKInfo begin bInitUserData = %1 bInitAppInit = %2")
            .arg(setUserData)
            .arg(setIdentity));
    const int result = CQNConnect::GetInstance()->InitSDKInfo(
        std::move(identity), std::move(userData), setIdentity, setUserData);
    playerLog("CPluginManage::onMainMsgInitSDKInfo", QStringLiteral("InitSDKInfo end bRet = %1").arg(result));
    reply["Ret"] = result > 0 ? Ret::Ok : Ret::SdkInitFailed;
    return reply;
}

void UpgradeTopic::OnUpgradeProgress(int upgradeHandle, int status, int totalSize, int sendSize)
{
    if (status == TRV_UPGRADE_SUCCESS || status == TRV_UPGRADE_FAILED) {
        if (CQNConnect *connect = CQNConnect::GetInstance())
            connect->CloseUpgrade(upgradeHandle);
        m_bUpgrading = false;
    }
    Json::Value event = pageEvent(PageEvent::UpgradeProgress);
    event["Data"]["Status"] = status;
    event["Data"]["TotalSize"] = totalSize;
    event["Data"]["SendSize"] = sendSize;
    event["IsUpgrade"] = m_bUpgrading;
    m_ctx.sendEvent(event);
}
