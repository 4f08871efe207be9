// The page's local control requests on "/Cmd-WebLocalCtrl", answered by the
// service itself.
#include "GeneralSocket.h"

#include "ClientRegistry.h"
#include "HttpReply.h"
#include "NativeWindow.h"
#include "RawSocket.h"
#include "RawWsConnection.h"
#include "RequestTasks.h"
#include "ServiceLog.h"
#include "SessionCipher.h"
#include "WorkLane.h"
#include "common/Json.h"
#include "common/Protocol.h"
#include "common/SessionKey.h"

#include <QSettings>

namespace {

// The built-in key of MainType 26: 15 characters and the terminating NUL,
// the same in every run so that a text encrypted once decrypts later.
const char kBuiltInKey[16] = "Qv7#Lc!tR9w&Kp2";

const unsigned char kZeroIv[16] = {};

// Longest "WebStyle" and "Version" texts of a version answer, in bytes.
constexpr int kMaxStyleBytes = 63;

QString versionFile(const QString &appDir)
{
    return appDir + QStringLiteral("/QuorvelToolVersion.ini");
}

QByteArray textReply(const QByteArray &json)
{
    return HttpReply::httpTextReply(json.constData(), json.size(), 200);
}

QByteArray styledKeyReply(int mainType, int subType, const QByteArray &key)
{
    Json::Value root;
    root["MainRsp"] = mainType;
    root["SubRsp"] = subType;
    root["Ret"] = Ret::Ok;
    root["key"]["key"] = key.toStdString();
    root["key"]["iv"] = "";
    return HttpReply::styledJson(root);
}

// The longest start of UTF-8 `text` of at most `maxBytes`, cut between
// characters.
QByteArray utf8Prefix(const QByteArray &text, int maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    int end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.left(end);
}

// `text` in the local 8-bit encoding, cut between characters to at most
// `maxBytes`.
QByteArray local8BitPrefix(const QString &text, int maxBytes)
{
    QByteArray out;
    for (int i = 0; i < text.size();) {
        const int n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray piece = text.mid(i, n).toLocal8Bit();
        if (out.size() + piece.size() > maxBytes)
            break;
        out += piece;
        i += n;
    }
    return out;
}

// Reads an integer member as jsoncpp would; a member of another type makes
// the whole request invalid.
bool readIntKey(const Json::Value &root, const char *key, int *out)
{
    const Json::Value &v = JsonUtil::member(root, key);
    if (v.isNull()) {
        *out = 0;
        return true;
    }
    return JsonUtil::convertInt(v, out);
}

} // namespace

QByteArray GeneralSocket::jsonText(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out.append('"');
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.append('\\');
            out.append(c);
        } else if (u < 0x20) {
            out.append(QByteArray("\\u00") + QByteArray::number(u, 16).rightJustified(2, '0'));
        } else {
            out.append(c);
        }
    }
    out.append('"');
    return out;
}

bool GeneralSocket::parseWndMsg(const Json::Value &root, LocalCtrlRequest *request)
{
    if (!readIntKey(root, "MainType", &request->MainType) || !readIntKey(root, "SubType", &request->SubType)
        || !readIntKey(root, "Id", &request->Id))
        return false;
    const Json::Value &webStyle = JsonUtil::member(root, "WebStyle");
    switch (request->MainType) {
    case LocalCtrl::VersionInfo:
    case LocalCtrl::LogSwitch:
        if (webStyle.isString())
            request->text = utf8Prefix(QByteArray::fromStdString(webStyle.asString()), kMaxStyleBytes);
        return true;
    case LocalCtrl::CipherData: {
        std::string data;
        if (!JsonUtil::readString(root, "data", &data))
            return false;
        request->text = QByteArray::fromStdString(data);
        return true;
    }
    case LocalCtrl::BrowserWindow: {
        std::string title;
        if (!JsonUtil::readString(root, "Title", &title))
            return false;
        request->text = QByteArray::fromStdString(title);
        return readIntKey(root, "BrowseType", &request->param);
    }
    case LocalCtrl::WebSocketPort:
        request->param = ClientRegistry::instance()->webSocketPort();
        return true;
    default:
        return true;
    }
}

quint64 GeneralSocket::getBrowserWndByTitle(int browseType, const QString &title)
{
    Q_UNUSED(browseType)
    const auto desktop = NativeWindow::desktop();
    const NativeWindow::WindowId window = desktop->foregroundWindow();
    const QString name = window ? desktop->windowTitle(window) : QString();
    serviceLog("GeneralSocket::getBrowserWndByTitle",
        QStringLiteral("Name=%1 Hwnd=%2 WindName=%3").arg(name).arg(window).arg(title));
    if (!window || !name.contains(title))
        return 0;
    return window;
}

int GeneralSocket::dealWebLocalCtrl(HttpConnection &c)
{
    const HttpRequest::Head &head = c.head();
    const QByteArray body
        = c.request().mid(head.headLength, head.contentLength > 0 ? head.contentLength : -1);
    const int brace = body.indexOf('{');
    if (brace < 0) {
        c.reply(HttpReply::httpTextReply("", 0, 400));
        return -2;
    }
    const QByteArray json = body.mid(brace);
    Json::Value root;
    if (!JsonUtil::parse(json.toStdString(), &root) || !root.isObject())
        return 1;
    LocalCtrlRequest req;
    if (!parseWndMsg(root, &req))
        return 1;

    const QByteArray mainSub = "{\"MainRsp\":" + QByteArray::number(req.MainType)
        + ",\"SubRsp\":" + QByteArray::number(req.SubType);
    const QByteArray okTail = ",\"Ret\":" + QByteArray::number(Ret::Ok) + "}";
    switch (req.MainType) {
    case LocalCtrl::VersionInfo: {
        QSettings settings(versionFile(m_strAppDir), QSettings::IniFormat);
        const QByteArray version
            = local8BitPrefix(settings.value(QStringLiteral("Tool/version")).toString(), kMaxStyleBytes);
        const int previewNum = settings.value(QStringLiteral("AutoPreview/PreviewNum"), 8).toInt();
        c.reply(
            textReply(mainSub + ",\"Version\":" + jsonText(version) + ",\"WebStyle\":" + jsonText(req.text)
                + ",\"ExeVersion\":\"V2\",\"AutoPreviewNum\":" + QByteArray::number(previewNum) + okTail));
        return 1;
    }
    case LocalCtrl::WindowPlace: {
        // The relay waits until the player's link has the text, which may
        // take the relay's thread a while: it is done on the relay lane, and
        // the answer follows it.
        Json::Value relay = root;
        relay["Potocol"] = "HTTP";
        const bool hasId = !JsonUtil::member(root, "Id").isNull();
        const QByteArray text = HttpReply::styledJson(relay);
        const QByteArray reply = textReply(mainSub + okTail);
        const int id = req.Id;
        const int s = c.socket();
        if (!m_relayLane->tryRun(
                [this, hasId, text, reply, id, s] {
                    if (hasId)
                        emit sigSendGeneralSocketMsg(text, id);
                    deliver(s, reply, nullptr, 0);
                },
                [s] { RawSocket::closeSocket(s); }))
            return 1;
        c.handOver();
        return 2;
    }
    case LocalCtrl::CipherData: {
        QByteArray data;
        int ret;
        if (req.SubType != 0) {
            ret = encryptSessionMessage(req.text, &data, kZeroIv, kBuiltInKey);
            if (ret != kCipherOk)
                data.clear();
        } else {
            DecryptOutcome outcome = DecryptOutcome::Failed;
            ret = decryptSessionMessage(req.text, &data, kZeroIv, kBuiltInKey, &outcome);
            if (ret != kCipherOk && outcome != DecryptOutcome::NotBase64)
                data.clear();
        }
        Json::Value reply;
        reply["MainRsp"] = req.MainType;
        reply["SubRsp"] = req.SubType;
        reply["Ret"] = ret;
        reply["data"] = data.toStdString();
        c.reply(textReply(HttpReply::styledJson(reply)));
        return 1;
    }
    case LocalCtrl::FreshKey:
        c.reply(textReply(styledKeyReply(req.MainType, req.SubType, SessionKey::make())));
        return 1;
    case LocalCtrl::BrowserWindow: {
        const quint64 window = getBrowserWndByTitle(req.param, QString::fromUtf8(req.text));
        int ret = Ret::NoBrowserWindow;
        if (window) {
            const QString text = QStringLiteral("0x")
                + QString::number(window, 16).toUpper().rightJustified(8, QLatin1Char('0'));
            {
                std::lock_guard<std::mutex> lock(m_sessionMutex);
                m_strWndID = text;
            }
            serviceLog("GeneralSocket::dealWebLocalCtrl", QStringLiteral("m_strWndID %1").arg(text));
            emit sendEmbedBrwoseWndID(text);
            ret = Ret::Ok;
        }
        c.reply(textReply(mainSub + ",\"Ret\":" + QByteArray::number(ret) + "}"));
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_strWndID.clear();
        return 1;
    }
    case LocalCtrl::SessionKey: {
        // The key goes into the record of the raw session accepted last, which
        // exists from its acceptance on; the answer is the same without one.
        const QByteArray key = SessionKey::make();
        std::shared_ptr<RawWsConnection> connection;
        {
            std::lock_guard<std::mutex> lock(m_sessionMutex);
            const auto it = m_sessions.find(m_nCurClientId);
            if (it != m_sessions.end())
                connection = it->second;
        }
        if (connection)
            connection->page().setKey(key);
        c.reply(textReply(styledKeyReply(req.MainType, req.SubType, key)));
        return 1;
    }
    case LocalCtrl::LogSwitch: {
        QSettings settings(versionFile(m_strAppDir), QSettings::IniFormat);
        const int enabled = settings.value(QStringLiteral("Enable/PrintLogEn"), 1).toInt();
        c.reply(textReply(mainSub + ",\"PrintLogEn\":" + QByteArray::number(enabled) + okTail));
        return 1;
    }
    case LocalCtrl::WebSocketPort:
        c.reply(textReply(mainSub + ",\"port\":" + QByteArray::number(req.param) + okTail));
        return 1;
    case LocalCtrl::OutsideRequest: {
        // Over the lane's bound the page hears at once when to try again.
        const int s = c.socket();
        CancelFlag *cancel = &m_outsideLane->cancel();
        if (!m_outsideLane->tryRun(
                [this, json, s, cancel] { deliver(s, CGIReqThreadTask(json, cancel).run(), nullptr, 0); },
                [s] { RawSocket::closeSocket(s); })) {
            c.reply(HttpReply::busyReply(kRetryAfterSeconds));
            return 1;
        }
        c.handOver();
        return 2;
    }
    default:
        return 1;
    }
}
