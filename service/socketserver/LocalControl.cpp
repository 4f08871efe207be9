// The page's local control requests on "/Cmd-WebLocalCtrl", answered by the
// service itself: one handler per kind.
#include "LocalControl.h"

#include "GeneralSocket.h"
#include "RawSessions.h"

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

const QByteArray kOkTail = ",\"Ret\":" + QByteArray::number(Ret::Ok) + "}";

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

// The start of the short replies: {"MainRsp":<MainType>,"SubRsp":<SubType>
QByteArray mainSub(const LocalCtrlRequest &req)
{
    return "{\"MainRsp\":" + QByteArray::number(req.MainType)
        + ",\"SubRsp\":" + QByteArray::number(req.SubType);
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

quint64 LocalControl::getBrowserWndByTitle(int browseType, const QString &title)
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

LocalControl::LocalControl(
    GeneralSocket &server, RawSessions &sessions, WorkLane &relayLane, WorkLane &outsideLane, Deliver deliver)
    : m_server(server)
    , m_sessions(sessions)
    , m_relayLane(relayLane)
    , m_outsideLane(outsideLane)
    , m_deliver(std::move(deliver))
{ }

LocalControl::Outcome LocalControl::handle(const QByteArray &body, int socket)
{
    const int brace = body.indexOf('{');
    if (brace < 0)
        return Outcome { HttpReply::httpTextReply("", 0, 400), false };
    Request request;
    request.json = body.mid(brace);
    request.socket = socket;
    if (!JsonUtil::parse(request.json.toStdString(), &request.root) || !request.root.isObject())
        return Outcome();
    if (!GeneralSocket::parseWndMsg(request.root, &request.fields))
        return Outcome();
    using Handler = Outcome (LocalControl::*)(const Request &);
    static const std::map<int, Handler> handlers {
        { LocalCtrl::VersionInfo, &LocalControl::versionInfo },
        { LocalCtrl::WindowPlace, &LocalControl::windowPlace },
        { LocalCtrl::CipherData, &LocalControl::cipherData },
        { LocalCtrl::FreshKey, &LocalControl::freshKey },
        { LocalCtrl::BrowserWindow, &LocalControl::browserWindow },
        { LocalCtrl::SessionKey, &LocalControl::sessionKey },
        { LocalCtrl::LogSwitch, &LocalControl::logSwitch },
        { LocalCtrl::WebSocketPort, &LocalControl::webSocketPort },
        { LocalCtrl::OutsideRequest, &LocalControl::outsideRequest },
    };
    const auto handler = handlers.find(request.fields.MainType);
    return handler == handlers.end() ? Outcome() : (this->*handler->second)(request);
}

LocalControl::Outcome LocalControl::versionInfo(const Request &r)
{
    QSettings settings(versionFile(m_server.appDir()), QSettings::IniFormat);
    const QByteArray version
        = local8BitPrefix(settings.value(QStringLiteral("Tool/version")).toString(), kMaxStyleBytes);
    const int previewNum = settings.value(QStringLiteral("AutoPreview/PreviewNum"), 8).toInt();
    return Outcome { textReply(mainSub(r.fields) + ",\"Version\":" + GeneralSocket::jsonText(version)
                         + ",\"WebStyle\":" + GeneralSocket::jsonText(r.fields.text)
                         + ",\"ExeVersion\":\"V2\",\"AutoPreviewNum\":" + QByteArray::number(previewNum)
                         + kOkTail),
        false };
}

LocalControl::Outcome LocalControl::windowPlace(const Request &r)
{
    // The relay waits until the player's link has the text, which may take
    // the relay's thread a while: it is done on the relay lane, and the
    // answer follows it.
    Json::Value relay = r.root;
    relay["Potocol"] = "HTTP";
    const bool hasId = !JsonUtil::member(r.root, "Id").isNull();
    const QByteArray text = HttpReply::styledJson(relay);
    const QByteArray reply = textReply(mainSub(r.fields) + kOkTail);
    const int id = r.fields.Id;
    const int s = r.socket;
    GeneralSocket *server = &m_server;
    const Deliver deliver = m_deliver;
    const bool taken = m_relayLane.tryRun(
        [server, deliver, hasId, text, reply, id, s] {
            if (hasId)
                emit server->sigSendGeneralSocketMsg(text, id);
            deliver(s, reply);
        },
        [s] { RawSocket::closeSocket(s); });
    return Outcome { QByteArray(), taken };
}

LocalControl::Outcome LocalControl::cipherData(const Request &r)
{
    QByteArray data;
    int ret;
    if (r.fields.SubType != 0) {
        ret = encryptSessionMessage(r.fields.text, &data, kZeroIv, kBuiltInKey);
        if (ret != kCipherOk)
            data.clear();
    } else {
        DecryptOutcome outcome = DecryptOutcome::Failed;
        ret = decryptSessionMessage(r.fields.text, &data, kZeroIv, kBuiltInKey, &outcome);
        if (ret != kCipherOk && outcome != DecryptOutcome::NotBase64)
            data.clear();
    }
    Json::Value reply;
    reply["MainRsp"] = r.fields.MainType;
    reply["SubRsp"] = r.fields.SubType;
    reply["Ret"] = ret;
    reply["data"] = data.toStdString();
    return Outcome { textReply(HttpReply::styledJson(reply)), false };
}

LocalControl::Outcome LocalControl::freshKey(const Request &r)
{
    return Outcome { textReply(styledKeyReply(r.fields.MainType, r.fields.SubType, SessionKey::make())),
        false };
}

LocalControl::Outcome LocalControl::browserWindow(const Request &r)
{
    const quint64 window = getBrowserWndByTitle(r.fields.param, QString::fromUtf8(r.fields.text));
    int ret = Ret::NoBrowserWindow;
    if (window) {
        const QString text = QStringLiteral("0x")
            + QString::number(window, 16).toUpper().rightJustified(8, QLatin1Char('0'));
        m_sessions.setWindowText(text);
        serviceLog("GeneralSocket::dealWebLocalCtrl", QStringLiteral("m_strWndID %1").arg(text));
        emit m_server.sendEmbedBrwoseWndID(text);
        ret = Ret::Ok;
    }
    const QByteArray reply = textReply(mainSub(r.fields) + ",\"Ret\":" + QByteArray::number(ret) + "}");
    m_sessions.setWindowText(QString());
    return Outcome { reply, false };
}

LocalControl::Outcome LocalControl::sessionKey(const Request &r)
{
    // The key goes into the record of the raw session accepted last, which
    // exists from its acceptance on; the answer is the same without one.
    const QByteArray key = SessionKey::make();
    if (const std::shared_ptr<RawWsConnection> connection = m_sessions.latest())
        connection->page().setKey(key);
    return Outcome { textReply(styledKeyReply(r.fields.MainType, r.fields.SubType, key)), false };
}

LocalControl::Outcome LocalControl::logSwitch(const Request &r)
{
    QSettings settings(versionFile(m_server.appDir()), QSettings::IniFormat);
    const int enabled = settings.value(QStringLiteral("Enable/PrintLogEn"), 1).toInt();
    return Outcome {
        textReply(mainSub(r.fields) + ",\"PrintLogEn\":" + QByteArray::number(enabled) + kOkTail), false
    };
}

LocalControl::Outcome LocalControl::webSocketPort(const Request &r)
{
    return Outcome {
        textReply(mainSub(r.fields) + ",\"port\":" + QByteArray::number(r.fields.param) + kOkTail), false
    };
}

LocalControl::Outcome LocalControl::outsideRequest(const Request &r)
{
    // Over the lane's bound the page hears at once when to try again.
    const int s = r.socket;
    CancelFlag *cancel = &m_outsideLane.cancel();
    const Deliver deliver = m_deliver;
    const QByteArray json = r.json;
    if (!m_outsideLane.tryRun(
            [deliver, json, s, cancel] { deliver(s, CGIReqThreadTask(json, cancel).run()); },
            [s] { RawSocket::closeSocket(s); }))
        return Outcome { HttpReply::busyReply(GeneralSocket::kRetryAfterSeconds), false };
    return Outcome { QByteArray(), true };
}
