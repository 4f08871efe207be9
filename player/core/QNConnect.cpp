#include "QNConnect.h"

#include "LightWeightLog.h"
#include "TextField.h"
#include "common/Json.h"
#include "common/Protocol.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

static_assert(sizeof(TRV_CLOUD_UPGRADE_INFO) == 2884, "the cloud upgrade answer is 2884 bytes");

namespace {

CQNConnect *g_instance = nullptr;
std::atomic<int32_t> g_sequence { 0 };

constexpr int kConfigBufferSize = 65536;
constexpr int kScaleAbilityBufferSize = 307200;
constexpr int kScaleBodySize = 256;
constexpr int kJsonAnswerSize = 65536;
constexpr int kWaitMs = 20000;

// "yyyy-MM-dd hh:mm:ss" into year, month, day, hour, minute, second; fields
// that are not there stay 0.
void splitTime(const char *text, size_t size, int out[6])
{
    for (int i = 0; i < 6; ++i)
        out[i] = 0;
    const QByteArray t = TextField::read(text, size);
    std::sscanf(t.constData(), "%d-%d-%d %d:%d:%d", &out[0], &out[1], &out[2], &out[3], &out[4], &out[5]);
}

void toTime(const char *text, size_t size, TRV_TIME *t)
{
    int v[6];
    splitTime(text, size, v);
    t->year = v[0];
    t->month = v[1];
    t->day = v[2];
    t->hour = v[3];
    t->minute = v[4];
    t->second = v[5];
}

void toFileTime(const char *text, size_t size, TRV_FILE_TIME *t)
{
    int v[6];
    splitTime(text, size, v);
    t->year = v[0];
    t->month = v[1];
    t->day = v[2];
    t->reserved = 0;
    t->hour = v[3];
    t->minute = v[4];
    t->second = v[5];
}

// The text of an answer buffer: at most the returned length, never past the
// buffer or a terminator.
std::string answerText(const char *buffer, int size, int length)
{
    const size_t limit = length > 0 && length <= size ? size_t(length) : size_t(size);
    return std::string(buffer, strnlen(buffer, limit));
}

int32_t clampToInt32(int64_t v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return int32_t(v);
}

// Pieces of the application's identity, joined at run time.
const char kIdentityDigits[] = "5d0c9e3a71b24f86c1e7a9d35b08f2c4e6a1937bd4c05f82a9e61d3c7b0f5e28";

} // namespace

CQNConnect *CQNConnect::GetInstance()
{
    if (!g_instance)
        g_instance = new CQNConnect;
    return g_instance;
}

CQNConnect *CQNConnect::Instance()
{
    return g_instance;
}

void CQNConnect::ReleaseInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

CQNConnect::~CQNConnect()
{
    TRV_NET_Cleanup();
}

int32_t CQNConnect::nextSequence()
{
    int32_t v;
    do {
        v = g_sequence.fetch_add(1) + 1;
    } while (v == 0);
    return v;
}

TRV_APP_INFO CQNConnect::applicationIdentity()
{
    TRV_APP_INFO info;
    std::memset(&info, 0, sizeof info);
    const char id[] = { char(0x74), char(0x65), char(0x76), char(0x6f), char(0x72), 0 };
    std::memcpy(info.appId, id, sizeof id);
    auto piece = [](int i) { return QByteArray(kIdentityDigits + 16 * i, 16); };
    TextField::copy(info.appKey, piece(2) + piece(0));
    TextField::copy(info.appSecret, piece(1) + piece(3));
    info.cardKind = 4;
    return info;
}

int CQNConnect::InitKestrix(TRV_DisConnectCallBack callback, void *user)
{
    playerLog("CQNConnect::InitKestrix", QStringLiteral("TRV_NET_Init begin"));
    const int result = TRV_NET_Init(callback, user);
    playerLog("CQNConnect::InitKestrix", QStringLiteral("TRV_NET_Init end"));
    if (!result)
        return 0;
    playerLog("CQNConnect::InitKestrix", QStringLiteral("TRV_NET_SetConnectTime end"));
    const TRV_APP_INFO identity = applicationIdentity();
    const int appResult = TRV_NET_InitAppInfo(&identity);
    playerLog("CQNConnect::InitKestrix", QStringLiteral("TRV_NET_InitAppInfo Ret=%1").arg(appResult));
    return result;
}

bool CQNConnect::UninitKestrix()
{
    return TRV_NET_Cleanup() != 0;
}

int CQNConnect::ConnectDevice(DeviceLoginInfo &info, int &resultCode, const QByteArray &webType)
{
    Q_UNUSED(webType)
    TRV_DEVICE_INFO answer;
    std::memset(&answer, 0, sizeof answer);
    int error = 0;
    int loginId = 0;
    switch (info.loginType) {
    case LoginType::Address:
        loginId = TRV_NET_Login(
            info.ip, info.port, info.user, info.password, &answer, &error, TRV_LOGIN_BY_ADDRESS);
        break;
    case LoginType::Serial:
        loginId
            = TRV_NET_Login(info.serialNo, 0, info.user, info.password, &answer, &error, TRV_LOGIN_BY_SERIAL);
        break;
    case LoginType::SerialToken:
        // The token is a secret: the log shows that one was given, not its text.
        playerLog("CQNConnect::ConnectDevice",
            QStringLiteral("TRV_NET_LoginEx_V2 SN=%1 Token=%2")
                .arg(QString::fromUtf8(TextField::read(info.serialNo)),
                    info.token[0] ? QStringLiteral("***") : QString()));
        loginId
            = TRV_NET_LoginEx_V2(info.serialNo, 0, info.token, "", &answer, 7, &error, TRV_LOGIN_BY_SERIAL);
        break;
    default:
        resultCode = Ret::LoginFailed;
        break;
    }

    if (loginId > 0) {
        if (info.sequence == 0)
            info.sequence = nextSequence();
        info.deviceInfo1 = answer.buildYear;
        info.deviceInfo2 = answer.buildMonth;
        info.deviceInfo3 = answer.buildDay;
        info.deviceType = answer.deviceType;
        playerLog("CQNConnect::ConnectDevice",
            QStringLiteral("NetDeviceInfo----------devType:%1").arg(info.deviceType));
        info.videoChannels = answer.videoChannels;
        info.extraChannels = answer.extraChannels;
        // A device may report any count: add in 64 bits, so that the sum
        // cannot wrap into the valid range.
        info.totalChannels = clampToInt32(int64_t(answer.videoChannels) + int64_t(answer.extraChannels));
        if (info.loginType == LoginType::Address)
            TextField::copy(info.serialNo, TextField::read(answer.serialNumber));
        TextField::copy(info.deviceName, TextField::read(answer.deviceName));
        TextField::copy(info.softwareVersion, TextField::read(answer.softwareVersion));
        if (std::strcmp(info.clientKind, "Tool") == 0)
            TRV_NET_SetupAlarmChan(loginId);
        playerLog(
            "CQNConnect::ConnectDevice", QStringLiteral("ConnectDevice success,LoginID=%1").arg(loginId));
        return loginId;
    }

    if (info.loginType >= LoginType::Address && info.loginType <= LoginType::SerialToken) {
        switch (error) {
        case TRV_ERR_CLOUD:
            resultCode = Ret::CloudLoginError;
            break;
        case TRV_ERR_TOO_MANY_LOGINS:
            resultCode = Ret::TooManyLogins;
            break;
        case TRV_ERR_DEVICE_OFFLINE:
            resultCode = Ret::DeviceOffline;
            break;
        case TRV_ERR_ADDRESS_BLOCKED:
            resultCode = Ret::AddressBlocked;
            break;
        case TRV_ERR_ACCOUNT_LOCKED:
            resultCode = Ret::AccountLocked;
            break;
        case TRV_ERR_UNKNOWN_USER:
        case TRV_ERR_WRONG_PASSWORD:
            resultCode = Ret::WrongPassword;
            break;
        case TRV_ERR_NO_PERMISSION:
            resultCode = Ret::NoPermission;
            break;
        case TRV_ERR_TIMEOUT:
            resultCode = Ret::Timeout;
            break;
        default:
            resultCode = Ret::LoginFailed;
            break;
        }
        if (error == TRV_ERR_CLOUD) {
            TextField::copy(info.cloudError, TextField::read(answer.cloudError));
            playerLog("CQNConnect::ConnectDevice",
                QStringLiteral("Cloud Error:%1").arg(QString::fromUtf8(TextField::read(info.cloudError))));
        }
    }
    playerLog("CQNConnect::ConnectDevice",
        QStringLiteral("ConnectDevice fail, sdk error=%1 return=%2").arg(error).arg(loginId));
    playerLog("CQNConnect::ConnectDevice", QStringLiteral("ConnectDevice fail, error=%1").arg(resultCode));
    return error;
}

int CQNConnect::DisconnectDevice(int loginId)
{
    TRV_NET_CloseAlarmChan(loginId);
    const int result = TRV_NET_Logout(loginId);
    playerLog("CQNConnect::DisconnectDevice", QStringLiteral("Disconnect Device LoginID=%1").arg(loginId));
    return result;
}

int CQNConnect::QueryDeviceInt(int loginId, int a, int b, int c)
{
    TRV_STATE_QUERY query;
    query.kind = a;
    query.channel = b;
    query.reserved = c;
    int value = 0;
    if (!TRV_NET_GetDeviceState(loginId, &query, &value, 10000))
        return 0;
    return value;
}

namespace {

// Opens the channel's live stream; the handle, or the library's failure
// (logged under `function`).
int openRealPlay(int loginId, int channel, int streamType, const char *function)
{
    TRV_STREAM_REQUEST request;
    std::memset(&request, 0, sizeof request);
    request.channel = channel;
    request.streamType = streamType;
    const int handle = TRV_NET_RealPlay(loginId, &request, 0);
    if (handle <= 0)
        playerLog(function, QStringLiteral("TRV_NET_RealPlay error=%1").arg(TRV_NET_GetLastError()));
    return handle;
}

} // namespace

int CQNConnect::ConnectChanel(
    int loginId, int channel, int streamType, TRV_RealDataCallBack callback, void *user)
{
    const int handle = openRealPlay(loginId, channel, streamType, "CQNConnect::ConnectChanel");
    if (handle <= 0)
        return handle;
    TRV_NET_SetRealDataCallBack(handle, callback, user);
    TRV_NET_MakeKeyFrame(loginId, channel, streamType);
    playerLog("CQNConnect::ConnectChanel", QStringLiteral("TRV_NET_RealPlay lPlayOK=%1").arg(handle));
    return handle;
}

int CQNConnect::ConnectChanel_V2(
    int loginId, int channel, int streamType, TRV_RealDataCallBack_V2 callback, void *user)
{
    const int handle = openRealPlay(loginId, channel, streamType, "CQNConnect::ConnectChanel_V2");
    if (handle <= 0)
        return handle;
    const int set = TRV_NET_SetRealDataCallBack_V2(handle, callback, user);
    const int key = TRV_NET_MakeKeyFrame(loginId, channel, streamType);
    playerLog("CQNConnect::ConnectChanel_V2",
        QStringLiteral("TRV_NET_RealPlay lPlayOK=%1 bRet=%2 bRet1=%3").arg(handle).arg(set).arg(key));
    return handle;
}

int CQNConnect::DisconnectChannel(int realHandle, TRV_RealDataCallBack callback, void *user)
{
    TRV_NET_DelRealDataCallBack(realHandle, callback, user);
    const int result = TRV_NET_StopRealPlay(realHandle, 0);
    playerLog("CQNConnect::DisconnectChannel",
        QStringLiteral("TRV_NET_StopRealPlay lPlay=%1 bRes=%2").arg(realHandle).arg(result));
    return result;
}

int CQNConnect::DisconnectChannel_V2(int realHandle, TRV_RealDataCallBack_V2 callback, void *user)
{
    playerLog("CQNConnect::DisconnectChannel_V2",
        QStringLiteral("TRV_NET_DelRealDataCallBack_V2 begin lPlay=%1").arg(realHandle));
    const int deleted = TRV_NET_DelRealDataCallBack_V2(realHandle, callback, user);
    playerLog("CQNConnect::DisconnectChannel_V2",
        QStringLiteral("TRV_NET_DelRealDataCallBack_V2 end lPlay=%1 bRes=%2").arg(realHandle).arg(deleted));
    const int result = TRV_NET_StopRealPlay(realHandle, 0);
    playerLog("CQNConnect::DisconnectChannel_V2",
        QStringLiteral("TRV_NET_StopRealPlay lPlay=%1 end bRes=%2").arg(realHandle).arg(result));
    return result;
}

bool CQNConnect::RequestKeyFrame(int loginId, int channel, int streamType)
{
    return TRV_NET_MakeKeyFrame(loginId, channel, streamType) != 0;
}

int CQNConnect::BeginPlayback(int loginId, int channel, int kind, const PlaybackFileInfo &file,
    TRV_PlayBackDataCallBack dataCallback, TRV_PosCallBack posCallback, void *user)
{
    if (kind == 2) {
        TRV_PLAYBACK_BY_TIME request;
        std::memset(&request, 0, sizeof request);
        request.channel = channel;
        request.fileType = file.fileType;
        request.streamType = file.stream;
        TextField::copy(request.text1, TextField::read(file.text1));
        TextField::copy(request.text2, TextField::read(file.text2));
        toTime(file.beginTime, sizeof file.beginTime, &request.begin);
        toTime(file.endTime, sizeof file.endTime, &request.end);
        const int handle = TRV_NET_PlayBackByTimeEx(loginId, &request, dataCallback, user, posCallback, user);
        if (handle > 0)
            playerLog("CQNConnect::BeginPlayback",
                QStringLiteral("TRV_NET_PlayBackByTimeEx lLogin=%1 lPlay=%2").arg(loginId).arg(handle));
        else
            playerLog("CQNConnect::BeginPlayback",
                QStringLiteral("TRV_NET_PlayBackByTimeEx lLogin=%1 nError=%2")
                    .arg(loginId)
                    .arg(TRV_NET_GetLastError()));
        return handle;
    }
    if (kind != 1 || file.beginTime[0] == '\0')
        return -1;
    TRV_FILE_DATA record;
    std::memset(&record, 0, sizeof record);
    record.channel = channel;
    record.fileSize = file.fileSize;
    TextField::copy(record.fileName, TextField::read(file.fileName));
    record.streamType = file.stream;
    toFileTime(file.beginTime, sizeof file.beginTime, &record.begin);
    toFileTime(file.endTime, sizeof file.endTime, &record.end);
    const int handle = TRV_NET_PlayBackByName(loginId, &record, posCallback, dataCallback, user);
    if (handle < 1)
        playerLog("CQNConnect::BeginPlayback",
            QStringLiteral("TRV_NET_PlayBackByName lLogin=%1 nError=%2")
                .arg(loginId)
                .arg(TRV_NET_GetLastError()));
    else
        playerLog("CQNConnect::BeginPlayback",
            QStringLiteral("TRV_NET_PlayBackByName lLogin=%1 lPlay=%2").arg(loginId).arg(handle));
    return handle;
}

bool CQNConnect::EndPlayback(int playHandle)
{
    playerLog("CQNConnect::EndPlayback", QStringLiteral("TRV_NET_StopPlayBack lPlay=%1").arg(playHandle));
    const int result = TRV_NET_StopPlayBack(playHandle);
    playerLog("CQNConnect::EndPlayback",
        QStringLiteral("TRV_NET_StopPlayBack lPlay=%1 bResult=%2").arg(playHandle).arg(result));
    return result != 0;
}

int CQNConnect::SetPlaybackSpeed(int playHandle, int newCode, int currentCode)
{
    const auto fast = [](int code) { return code >= 32 && code <= 35; };
    const auto slow = [](int code) { return code >= 16 && code <= 19; };
    int ok = 0;
    if (fast(newCode)) {
        ok = TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_FAST, newCode - 31, 0);
    } else if (slow(newCode)) {
        ok = TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_SLOW, newCode - 15, 0);
    } else if (newCode == 0) {
        if (fast(currentCode))
            ok = TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_FAST, 0, 0);
        else if (slow(currentCode))
            ok = TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_SLOW, 0, 0);
        else
            ok = TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_RESUME, 0, 0);
    } else if (newCode == 2) {
        if (fast(currentCode))
            ok = TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_FAST, 0, 0);
        else if (slow(currentCode))
            ok = TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_SLOW, 0, 0);
        else
            return currentCode;
        if (ok)
            ok = TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_PAUSE, 0, 0);
    } else {
        return currentCode;
    }
    return ok ? newCode : currentCode;
}

bool CQNConnect::SeekPlayback(int playHandle, int position)
{
    return TRV_NET_PlayBackControl(playHandle, TRV_PLAYBACK_SEEK, position, 0) != 0;
}

bool CQNConnect::SetPlaybackSpeedFactor(int playHandle, float speed)
{
    return TRV_NET_SetPlayBackSpeed(playHandle, speed) != 0;
}

int CQNConnect::StartDownLoad(int loginId, const DownloadFileInfo &file, const QByteArray &targetPath,
    TRV_PosCallBack posCallback, void *user)
{
    TRV_FILE_DATA record;
    std::memset(&record, 0, sizeof record);
    record.channel = file.channel;
    record.fileSize = file.fileSize;
    TextField::copy(record.fileName, TextField::read(file.fileName));
    toFileTime(file.beginTime, sizeof file.beginTime, &record.begin);
    toFileTime(file.endTime, sizeof file.endTime, &record.end);
    record.streamType = file.stream;
    const int handle = TRV_NET_GetFileByName(loginId, &record, targetPath.constData(), posCallback, user, 0);
    if (handle > 0)
        return handle;
    playerLog("CQNConnect::StartDownLoad", QStringLiteral("LastError:%1").arg(TRV_NET_GetLastError()));
    return handle;
}

int CQNConnect::CloseHandle(int handle)
{
    if (handle == 0)
        return 0;
    return TRV_NET_CloseHandle(handle) ? 1 : 0;
}

int CQNConnect::GetChannelAbility(int loginId, const char *name, char *buffer, int size)
{
    int length = 0;
    const int result = TRV_NET_GetChannelAbility_Json(loginId, name, -1, buffer, size, &length, kWaitMs);
    if (result > 0)
        return Ret::Ok;
    playerLog("CQNConnect::GetChannelAbility",
        QStringLiteral("TRV_NET_GetChannelAbility_Json Name:%1 Ret:%2")
            .arg(QString::fromUtf8(name ? name : ""))
            .arg(result));
    return TranslateError(result);
}

bool CQNConnect::GetScaleTwoLensAbility(int loginId, int channel, bool direct)
{
    playerLog("CQNConnect::GetScaleTwoLensAbility", QStringLiteral("GetScaleTwoLensAbility"));
    if (direct) {
        // 1 supported, 0 not; an error number is no support either.
        return TRV_NET_GetAbility(loginId, "SystemFunction/OtherFunction/SupportScaleTwoLens") > 0;
    }
    std::vector<char> buffer(kScaleAbilityBufferSize, 0);
    int length = 0;
    const int result = TRV_NET_GetDevConfigByName(
        loginId, "bypass@SystemFunction", 1362, channel, buffer.data(), int(buffer.size()), &length, kWaitMs);
    playerLog("CQNConnect::GetScaleTwoLensAbility",
        QStringLiteral("GetScaleTwoLensAbility----->ret:%1").arg(result));
    if (result != 1)
        return false;
    Json::Value root;
    if (!JsonUtil::parse(answerText(buffer.data(), int(buffer.size()), length), &root))
        return false;
    std::string name;
    if (!JsonUtil::readString(root, "Name", &name))
        return false;
    const Json::Value &support = JsonUtil::member(
        JsonUtil::member(JsonUtil::member(root, name.c_str()), "OtherFunction"), "SupportScaleTwoLens");
    if (support.isBool())
        return support.asBool();
    if (JsonUtil::isIntLike(support))
        return support.asInt() != 0;
    return false;
}

int CQNConnect::GetScaleTwoLensConfig(
    int loginId, int channel, int streamType, float &times, bool direct, float &maxTimes)
{
    char body[kScaleBodySize] = {};
    std::snprintf(body, sizeof body, "[{\"StreamType\": %d}]", streamType);
    std::vector<char> answer(kJsonAnswerSize, 0);
    int length = 0;
    const int result = TRV_NET_GetConfig_Json(loginId, "OPSensorGet", 3034, direct ? -1 : channel, body,
        kScaleBodySize, answer.data(), int(answer.size()), &length, kWaitMs);
    if (result < 1)
        return -1;
    const std::string text = answerText(answer.data(), int(answer.size()), length);
    playerLog("CQNConnect::GetScaleTwoLensConfig",
        QStringLiteral("OPSensorGet %1").arg(QString::fromUtf8(text.c_str())));
    Json::Value root;
    if (!JsonUtil::parse(text, &root))
        return 0;
    int ret = 0;
    if (!JsonUtil::readInt(root, "Ret", &ret) || ret != Ret::Ok)
        return -1;
    std::string name = "OPSensorGet";
    if (!direct && !JsonUtil::readString(root, "Name", &name))
        return -1;
    const Json::Value &list = JsonUtil::member(root, name.c_str());
    if (!list.isArray() || list.empty() || !list[0].isObject())
        return -1;
    const Json::Value &item = list[0];
    double current = 0;
    if (!JsonUtil::readDouble(item, "Times", &current))
        return -1;
    double most = 8.0;
    const Json::Value &maxValue = JsonUtil::member(item, "MaxTimes");
    if (!maxValue.isNull() && !JsonUtil::readDouble(item, "MaxTimes", &most))
        return -1;
    double original = 0;
    JsonUtil::readDouble(item, "TimesOri", &original);
    times = current < 0 ? 0.0f : float(current);
    maxTimes = float(most);
    if (streamType == 0)
        SetScaleTwoLensConfig(loginId, channel, 1, 0.0f, 0.0f);
    SetScaleTwoLensConfig(loginId, channel, streamType, times, times);
    return 1;
}

int CQNConnect::SetScaleTwoLensConfig(
    int loginId, int channel, int streamType, float fOrignalTimes, float fCurTimes)
{
    // Written without the locale, so the decimal point is always a point.
    const QByteArray text = QByteArray("[{\"StreamType\": ") + QByteArray::number(streamType)
        + ",\"TimesOri\": " + QByteArray::number(double(fOrignalTimes), 'f', 1)
        + ",\"Times\": " + QByteArray::number(double(fCurTimes), 'f', 1) + "}]";
    char body[kScaleBodySize] = {};
    TextField::copyBytes(body, sizeof body, text);
    playerLog("CQNConnect::SetScaleTwoLensConfig", QString::fromLatin1(body));
    std::vector<char> answer(kJsonAnswerSize, 0);
    int length = 0;
    const int result = TRV_NET_SetConfig_Json(loginId, "OPScaleTimesSwitch", 3032, channel, body,
        kScaleBodySize, answer.data(), int(answer.size()), &length, kWaitMs);
    if (result < 1) {
        playerLog("CQNConnect::SetScaleTwoLensConfig",
            QStringLiteral("SetScaleTwoLensConfig failed,nStreamType:%1,fOrignalTimes:%2,fCurTimes:%3")
                .arg(streamType)
                .arg(double(fOrignalTimes))
                .arg(double(fCurTimes)));
        return -1;
    }
    return 1;
}

int CQNConnect::ImportFile(int mode, int loginId, int channel, const QString &path,
    TRV_FileTransferCallBack callback, void *user, int *transferHandle)
{
    if (transferHandle)
        *transferHandle = 0;
    playerLog("CQNConnect::ImportFile", path);
    const QByteArray localPath = QFile::encodeName(path);
    const int sentChannel = channel == 255 ? -1 : channel;
    if (mode == ImportMode::Configuration) {
        playerLog("CQNConnect::ImportFile", QStringLiteral("Import Config by TRV_NET_SetDevConfig"));
        std::FILE *file = std::fopen(localPath.constData(), "rb");
        if (!file)
            return Ret::Missing;
        std::vector<char> buffer(kConfigBufferSize, 0);
        long size = -1;
        if (std::fseek(file, 0, SEEK_END) == 0)
            size = std::ftell(file);
        if (size > kConfigBufferSize) {
            std::fclose(file);
            playerLog("CQNConnect::ImportFile", QStringLiteral("TRV_NET_SetDevConfig pBuf size > 64k"));
            return Ret::FileTooLarge;
        }
        std::rewind(file);
        const size_t read = size > 0 ? std::fread(buffer.data(), 1, size_t(size), file) : 0;
        std::fclose(file);
        const int result
            = TRV_NET_SetDevConfig(loginId, TRV_CONFIG_IMPORT, -1, buffer.data(), int(read), 8000);
        if (result < 0) {
            const int error = TRV_NET_GetLastError();
            playerLog("CQNConnect::ImportFile",
                QStringLiteral("fileszie = %1<===============>TRV_NET_SetDevConfig error=%2")
                    .arg(qint64(read))
                    .arg(error));
            return TranslateError(error);
        }
        return Ret::Ok;
    }

    // The size without opening the file for writing: a missing file stays missing.
    const QFileInfo info(path);
    const qint64 size = info.isFile() ? info.size() : 0;
    if (size <= 0)
        return Ret::NoFileToSend;
    QByteArray body;
    switch (mode) {
    case ImportMode::File:
        body = QByteArray("{\"Action\" : \"Send\", \"FileType\": 1,\"FilePurpose\": 1,\"FileSize\": ")
            + QByteArray::number(size) + ",\"FileName\": \"\",  \"Path\": \"\",\"Parameter\":{}}";
        break;
    case ImportMode::ChannelVoice:
    case ImportMode::ChannelVoicePurpose7:
        body = QByteArray("{\"Action\": \"Send\",\"FileType\": 1,\"Channel\": [")
            + QByteArray::number(sentChannel) + "],\"FilePurpose\": "
            + (mode == ImportMode::ChannelVoice ? "0" : "7") + ",\"FileSize\": " + QByteArray::number(size)
            + ",\"FileName\": \"customAlarmVoice.pcm\",\"Parameter\":  {\"AudioFormat\": {\"BitRate\": 128,"
              "\"SampleRate\": 8000,\"SampleBit\": 8,\"EncodeType\": \"G711_ALAW\"},\"Channel\": ["
            + QByteArray::number(sentChannel) + "]}}";
        break;
    case ImportMode::DeviceVoice:
        body = QByteArray("{\"FileType\": 1,\"FilePurpose\": 0,\"FileSize\": ") + QByteArray::number(size)
            + ",\"FileName\": \"customAlarmVoice.pcm\",\"Parameter\": {\"AudioFormat\": {\"BitRate\": 128,"
              "\"SampleRate\": 8000,\"SampleBit\": 8,\"EncodeType\": \"G711_ALAW\"}}}";
        break;
    default:
        break;
    }
    const int result
        = TRV_NET_SendCommand_Json(loginId, "OPFile", 3500, -1, body.constData(), body.size(), 5000);
    if (result == 1) {
        const int handle = TRV_NET_SendFileDataToDevice(loginId, localPath.constData(), callback, user);
        if (handle > 0) {
            if (transferHandle)
                *transferHandle = handle;
            return Ret::Ok;
        }
        const int error = TRV_NET_GetLastError();
        playerLog(
            "CQNConnect::ImportFile", QStringLiteral("TRV_NET_SendFileDataToDevice error=%1").arg(error));
        return TranslateError(error);
    }
    const int error = TRV_NET_GetLastError();
    playerLog("CQNConnect::ImportFile", QStringLiteral("SendAudioFile OPFile error=%1").arg(error));
    return TranslateError(error);
}

int CQNConnect::SendAudioFile(
    int loginId, const QString &path, const QByteArray &body, void *user, TRV_FileTransferCallBack callback)
{
    const int result
        = TRV_NET_SendCommand_Json(loginId, "OPFile", 3500, -1, body.constData(), body.size(), 5000);
    if (result != 1) {
        playerLog("CQNConnect::SendAudioFile",
            QStringLiteral("SendAudioFile OPFile error=%1").arg(TRV_NET_GetLastError()));
        return -1;
    }
    if (!TRV_NET_SendFileDataToDevice(loginId, QFile::encodeName(path).constData(), callback, user)) {
        playerLog("CQNConnect::SendAudioFile",
            QStringLiteral("TRV_NET_SendFileDataToDevice error=%1").arg(TRV_NET_GetLastError()));
        return -2;
    }
    return 1;
}

int CQNConnect::StartLocalUpgrade(int loginId, const QString &path, TRV_UpgradeCallBack callback, void *user)
{
    const int result = TRV_NET_Upgrade(loginId, QFile::encodeName(path).constData(), 1, callback, user);
    playerLog("CQNConnect::StartLocalUpgrade", QStringLiteral("StartLocalUpgrade:Ret = %1").arg(result));
    if (result > 0)
        return Ret::Ok;
    const int error = TRV_NET_GetLastError();
    const int code = error == TRV_ERR_UPGRADE_RUNNING ? Ret::UpgradeRunning : TranslateError(error);
    playerLog("CQNConnect::StartLocalUpgrade", QStringLiteral("StartLocalUpgrade:Error = %1").arg(code));
    return code;
}

int CQNConnect::StartOnlineUpgrade(
    int loginId, const QString &version, TRV_UpgradeCallBack callback, void *user)
{
    const int result = TRV_NET_UpgradeOnline(loginId, version.toUtf8().constData(), 0, callback, user);
    playerLog("CQNConnect::StartOnlineUpgrade", QStringLiteral("StartOnlineUpgrade:Ret = %1").arg(result));
    if (result > 0)
        return Ret::Ok;
    const int error = TRV_NET_GetLastError();
    const int code = error == TRV_ERR_UPGRADE_RUNNING ? Ret::UpgradeRunning : TranslateError(error);
    playerLog("CQNConnect::StartOnlineUpgrade", QStringLiteral("StartOnlineUpgrade:Error = %1").arg(code));
    return code;
}

int CQNConnect::GetUpgradeState(int upgradeHandle)
{
    return TRV_NET_GetUpgradeState(upgradeHandle);
}

int CQNConnect::CloseUpgrade(int upgradeHandle)
{
    if (upgradeHandle <= 0)
        return 0;
    return TRV_NET_CloseUpgradeHandle(upgradeHandle);
}

int CQNConnect::GetCloudUpgradeInfo(int loginId, const QString &currentVersion, QString &newVersion)
{
    TRV_CLOUD_UPGRADE_INFO info;
    std::memset(&info, 0, sizeof info);
    int length = 0;
    const int result = TRV_NET_GetDevConfig(
        loginId, TRV_CONFIG_CLOUD_UPGRADE, -1, &info, int(sizeof info), &length, kWaitMs);
    if (result > 0 && info.hasNewVersion > 0
        && currentVersion != QString::fromUtf8(TextField::read(info.newBuild)))
        newVersion = QString::fromUtf8(TextField::read(info.newVersion));
    return result;
}

int CQNConnect::TranslateError(int error)
{
    switch (error) {
    case TRV_ERR_WRONG_PASSWORD:
    case TRV_ERR_UNKNOWN_USER:
        return Ret::WrongPassword;
    case TRV_ERR_NO_PERMISSION:
        return Ret::NoPermission;
    case TRV_ERR_ACCOUNT_LOCKED:
        return Ret::AccountLocked;
    case TRV_ERR_ADDRESS_BLOCKED:
        return Ret::AddressBlocked;
    case TRV_ERR_TOO_MANY_LOGINS:
        return Ret::TooManyLogins;
    case TRV_ERR_DEVICE_OFFLINE:
        return Ret::DeviceOffline;
    case TRV_ERR_TIMEOUT:
        return Ret::Timeout;
    case TRV_ERR_NO_RIGHT:
        return Ret::NoRight;
    default:
        return Ret::Failed;
    }
}

int CQNConnect::InitSDKInfo(std::unique_ptr<TRV_APP_INFO> identity, std::unique_ptr<SdkUserData> userData,
    bool setIdentity, bool setUserData)
{
    playerLog("CQNConnect::InitSDKInfo", QStringLiteral("TRV_NET_InitAppInfo"));
    int result = 0;
    if (setIdentity && identity && identity->appKey[0] && identity->appSecret[0])
        result = TRV_NET_InitAppInfo(identity.get());
    playerLog("CQNConnect::InitSDKInfo", QStringLiteral("TRV_NET_InitAppInfo Ret=%1").arg(result));
    if (result == 0 && setUserData && userData && !userData->text.isEmpty()) {
        playerLog("CQNConnect::InitSDKInfo", QStringLiteral("TRV_NET_UserData begin"));
        result = TRV_NET_UserData(userData->type, userData->text.constData(), userData->text.size());
        playerLog("CQNConnect::InitSDKInfo", QStringLiteral("TRV_NET_UserData end = %1").arg(result));
    }
    return result;
}

int CQNConnect::SetDevRecordEncryptKey(int loginId, int key)
{
    return TRV_NET_SetDevRecordEncryptKey(loginId, key);
}
