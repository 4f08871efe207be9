// The C interface: argument checks, the call log, and the hand-over to the
// library's state and sessions.

#include "CallLog.h"
#include "DeviceConfig.h"
#include "Errors.h"
#include "Library.h"
#include "Sessions.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <thread>

using namespace kx;

namespace {

Library &lib()
{
    return Library::get();
}

// Copies a text into a fixed field, cut on a UTF-8 character boundary.
void copyText(char *dst, size_t size, const std::string &src)
{
    if (size == 0)
        return;
    size_t n = std::min(src.size(), size - 1);
    if (n < src.size())
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

std::string text(const char *p, size_t max)
{
    return p ? std::string(p, strnlen(p, max)) : std::string();
}

// The login of a call, or the reason there is none.
std::shared_ptr<Login> useLogin(int loginId, int *error)
{
    if (!lib().isInitialized()) {
        *error = TRV_ERR_NOT_INITIALIZED;
        return nullptr;
    }
    auto l = lib().login(loginId);
    if (!l) {
        *error = TRV_ERR_INVALID_HANDLE;
        return nullptr;
    }
    if (!l->connected.load()) {
        *error = TRV_ERR_NOT_CONNECTED;
        return nullptr;
    }
    return l;
}

template<class T> std::shared_ptr<T> sessionOf(int handle, Session::Kind kind)
{
    auto s = lib().session(handle);
    if (!s || s->kind != kind)
        return nullptr;
    return std::static_pointer_cast<T>(s);
}

// Removes and stops a session of the kind; false when there is none.
bool endSession(int handle, Session::Kind kind)
{
    auto s = lib().session(handle);
    if (!s || s->kind != kind)
        return false;
    s = lib().takeSession(handle);
    if (!s)
        return false;
    s->stop();
    return true;
}

time_t toTime(const TRV_TIME &t)
{
    return makeLocalTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

bool validTime(const TRV_TIME &t)
{
    return t.year >= 1970 && t.year <= 2100 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31
        && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

void toFileTime(time_t t, TRV_FILE_TIME *out)
{
    splitLocalTime(t, &out->year, &out->month, &out->day, &out->hour, &out->minute, &out->second);
    out->reserved = 0;
}

std::shared_ptr<const VideoLoop> loopOf(const Login &l, const RecordingFile &f)
{
    const kestrix::DeviceSpec &spec = l.device->spec;
    const int *size = f.streamType == TRV_STREAM_MAIN ? spec.mainSize : spec.extraSize;
    return videoLoop(f.channel, size[0], size[1]);
}

void fillDeviceInfo(const kestrix::DeviceSpec &s, TRV_DEVICE_INFO *info)
{
    copyText(info->softwareVersion, sizeof info->softwareVersion, s.softwareVersion);
    copyText(info->hardwareVersion, sizeof info->hardwareVersion, "KX-HW-2.0");
    copyText(info->encryptVersion, sizeof info->encryptVersion, "KX-ENC-1.1");
    info->buildYear = s.build[0];
    info->buildMonth = s.build[1];
    info->buildDay = s.build[2];
    info->alarmInPorts = 4;
    info->alarmOutPorts = 1;
    copyText(info->serialNumber, sizeof info->serialNumber, s.serial);
    info->diskCount = 1;
    info->extraChannels = s.extraChannels;
    info->talkChannels = s.canTalk ? 1 : 0;
    info->videoChannels = s.videoChannels;
    info->deviceType = s.deviceType;
    copyText(info->deviceName, sizeof info->deviceName, s.name);
    info->runSeconds = 86400;
}

int login(Call &call, bool bySerial, const std::string &key, int port, const char *user, const char *password,
    const char *token, TRV_DEVICE_INFO *info, int *error)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    auto fail = [&](int e) {
        if (error)
            *error = e;
        return call.fail(e);
    };
    if (error)
        *error = 0;
    if (!lib().isInitialized())
        return fail(TRV_ERR_NOT_INITIALIZED);
    if (call.scripted())
        return fail(call.scripted());
    if (key.empty())
        return fail(TRV_ERR_PARAMETER);
    Lookup lookup = Lookup::Unknown;
    auto device
        = bySerial ? lib().catalog.bySerial(key, &lookup) : lib().catalog.byAddress(key, port, &lookup);
    if (lookup == Lookup::Unreachable) {
        int wait;
        {
            std::lock_guard<std::mutex> lock(lib().mutex);
            wait = lib().connectTimeMs;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        return fail(TRV_ERR_TIMEOUT);
    }
    if (!device)
        return fail(TRV_ERR_DEVICE_OFFLINE);
    kestrix::DeviceSpec spec;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        spec = device->spec;
        int refusal = 0;
        if (spec.loginError < 0)
            refusal = spec.loginError;
        else if (bySerial && !spec.cloudError.empty())
            refusal = TRV_ERR_CLOUD;
        else if (token) {
            if (!*token || (!spec.token.empty() && spec.token != token))
                refusal = TRV_ERR_WRONG_PASSWORD;
        } else if (!user || spec.user != user)
            refusal = TRV_ERR_UNKNOWN_USER;
        else if (spec.locked)
            refusal = TRV_ERR_ACCOUNT_LOCKED;
        else if (!password || spec.password != password)
            refusal = TRV_ERR_WRONG_PASSWORD;
        if (!refusal && spec.maxLogins > 0 && device->logins >= spec.maxLogins)
            refusal = TRV_ERR_TOO_MANY_LOGINS;
        if (refusal) {
            if (refusal == TRV_ERR_CLOUD && info)
                copyText(info->cloudError, sizeof info->cloudError, spec.cloudError);
            return fail(refusal);
        }
        ++device->logins;
    }
    auto l = std::make_shared<Login>();
    l->device = device;
    l->address = key;
    l->port = port;
    l->alarms.close();
    if (!lib().addLogin(l)) {
        std::lock_guard<std::mutex> lock(device->mutex);
        --device->logins;
        return fail(TRV_ERR_NOT_INITIALIZED);
    }
    if (info)
        fillDeviceInfo(spec, info);
    return call.ok(l->id);
}

int jsonCall(const char *function, int loginId, const char *name, int code, int channel, const char *body,
    int bodySize, char *answer, int answerSize, int *length, int waitMs, bool hasAnswer)
{
    std::vector<std::string> args
        = { arg(loginId), arg(name), arg(code), arg(channel), argText(body, bodySize), arg(bodySize) };
    if (hasAnswer) {
        args.push_back(arg(static_cast<const void *>(answer)));
        args.push_back(arg(answerSize));
        args.push_back(arg(static_cast<const void *>(length)));
    }
    args.push_back(arg(waitMs));
    Call call(function, std::move(args), waitMs);
    if (length)
        *length = 0;
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!name || bodySize < 0 || (bodySize > 0 && !body) || (hasAnswer && (!answer || answerSize <= 0)))
        return call.fail(TRV_ERR_PARAMETER);
    std::string reply;
    const int r = jsonCommand(*l, name, channel, text(body, size_t(bodySize)), &reply);
    if (r < 0)
        return call.fail(r);
    if (hasAnswer) {
        if (reply.size() + 1 > size_t(answerSize))
            return call.fail(TRV_ERR_BUFFER_TOO_SMALL);
        std::memcpy(answer, reply.c_str(), reply.size() + 1);
        if (length)
            *length = int(reply.size());
    }
    return call.ok(1);
}

int putAnswer(Call &call, const std::string &reply, char *buffer, int size, int *length)
{
    if (reply.size() + 1 > size_t(size))
        return call.fail(TRV_ERR_BUFFER_TOO_SMALL);
    std::memcpy(buffer, reply.c_str(), reply.size() + 1);
    if (length)
        *length = int(reply.size());
    return call.ok(1);
}

} // namespace

// --- Library ---

TRV_API TRV_BOOL TRV_NET_Init(TRV_DisConnectCallBack callback, void *user)
{
    Call call("TRV_NET_Init", { arg(callback), arg(user) });
    if (call.scripted())
        return call.failBool(call.scripted());
    lib().catalog.loadFileOnce();
    {
        std::lock_guard<std::mutex> lock(lib().mutex);
        lib().initialized = true;
    }
    lib().events.start();
    lib().disconnect.set(callback, user);
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_Cleanup(void)
{
    Call call("TRV_NET_Cleanup", {});
    if (call.scripted())
        return call.failBool(call.scripted());
    lib().cleanup();
    return call.ok(1);
}

TRV_API int TRV_NET_GetLastError(void)
{
    Call call("TRV_NET_GetLastError", {});
    return call.keep(lastError());
}

TRV_API void TRV_NET_SetConnectTime(int waitMs, int tryTimes)
{
    Call call("TRV_NET_SetConnectTime", { arg(waitMs), arg(tryTimes) });
    std::lock_guard<std::mutex> lock(lib().mutex);
    lib().connectTimeMs = std::max(0, waitMs) * std::max(1, tryTimes);
    call.ok(0);
}

TRV_API int TRV_NET_InitAppInfo(const TRV_APP_INFO *info)
{
    Call call("TRV_NET_InitAppInfo", { arg(info) });
    if (call.scripted())
        return call.failBool(call.scripted());
    if (!info)
        return call.failBool(TRV_ERR_PARAMETER);
    const std::string id = text(info->appId, sizeof info->appId);
    const std::string key = text(info->appKey, sizeof info->appKey);
    const std::string secret = text(info->appSecret, sizeof info->appSecret);
    auto allOf = [](const std::string &s, size_t n, int (*pred)(int)) {
        return s.size() == n && std::all_of(s.begin(), s.end(), [pred](char c) {
            return pred(static_cast<unsigned char>(c));
        });
    };
    if (!allOf(id, 5, islower) || !allOf(key, 32, isxdigit) || !allOf(secret, 32, isxdigit))
        return call.failBool(TRV_ERR_PARAMETER);
    return call.ok(1);
}

TRV_API int TRV_NET_UserData(int type, const char *data, int length)
{
    Call call("TRV_NET_UserData", { arg(type), argText(data, length), arg(length) });
    if (call.scripted())
        return call.fail(call.scripted());
    if (!data || length < 0)
        return call.fail(TRV_ERR_PARAMETER);
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_SetMessageCallBack(TRV_MessageCallBack callback, void *user)
{
    Call call("TRV_NET_SetMessageCallBack", { arg(callback), arg(user) });
    if (call.scripted())
        return call.failBool(call.scripted());
    if (callback)
        lib().message.set(callback, user);
    else
        lib().message.remove();
    return call.ok(1);
}

// --- Login ---

TRV_API int TRV_NET_Login(const char *addressOrSerial, unsigned short port, const char *user,
    const char *password, TRV_DEVICE_INFO *info, int *error, int loginKind)
{
    int waitMs;
    {
        std::lock_guard<std::mutex> lock(lib().mutex);
        waitMs = lib().connectTimeMs;
    }
    Call call("TRV_NET_Login",
        { arg(addressOrSerial), arg(port), arg(user), arg(password), arg(static_cast<const void *>(info)),
            arg(static_cast<const void *>(error)), arg(loginKind) },
        waitMs);
    if (loginKind != TRV_LOGIN_BY_ADDRESS && loginKind != TRV_LOGIN_BY_SERIAL) {
        if (error)
            *error = TRV_ERR_PARAMETER;
        return call.fail(TRV_ERR_PARAMETER);
    }
    return login(call, loginKind == TRV_LOGIN_BY_SERIAL, text(addressOrSerial, 256), port, user, password,
        nullptr, info, error);
}

TRV_API int TRV_NET_LoginEx_V2(const char *serial, unsigned short port, const char *token, const char *extra,
    TRV_DEVICE_INFO *info, int connectMode, int *error, int loginKind)
{
    int waitMs;
    {
        std::lock_guard<std::mutex> lock(lib().mutex);
        waitMs = lib().connectTimeMs;
    }
    Call call("TRV_NET_LoginEx_V2",
        { arg(serial), arg(port), arg(token), arg(extra), arg(static_cast<const void *>(info)),
            arg(connectMode), arg(static_cast<const void *>(error)), arg(loginKind) },
        waitMs);
    return login(call, true, text(serial, 256), port, nullptr, nullptr, token ? token : "", info, error);
}

TRV_API TRV_BOOL TRV_NET_SetupAlarmChan(int loginId)
{
    Call call("TRV_NET_SetupAlarmChan", { arg(loginId) });
    if (call.scripted())
        return call.failBool(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.failBool(error);
    l->alarms.open();
    l->alarmChannel.store(true);
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_CloseAlarmChan(int loginId)
{
    Call call("TRV_NET_CloseAlarmChan", { arg(loginId) });
    if (call.scripted())
        return call.failBool(call.scripted());
    auto l = lib().login(loginId);
    if (!l)
        return call.failBool(lib().isInitialized() ? TRV_ERR_INVALID_HANDLE : TRV_ERR_NOT_INITIALIZED);
    l->alarmChannel.store(false);
    l->alarms.close();
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_Logout(int loginId)
{
    Call call("TRV_NET_Logout", { arg(loginId) });
    if (call.scripted())
        return call.failBool(call.scripted());
    std::shared_ptr<Login> l;
    {
        std::lock_guard<std::mutex> lock(lib().mutex);
        if (!lib().initialized)
            return call.failBool(TRV_ERR_NOT_INITIALIZED);
        auto it = lib().logins.find(loginId);
        if (it == lib().logins.end())
            return call.failBool(TRV_ERR_INVALID_HANDLE);
        l = it->second;
        lib().logins.erase(it);
    }
    lib().endLogin(l);
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_GetDeviceState(int loginId, const TRV_STATE_QUERY *query, int *value, int waitMs)
{
    Call call("TRV_NET_GetDeviceState",
        { arg(loginId), arg(query), arg(static_cast<const void *>(value)), arg(waitMs) }, waitMs);
    if (call.scripted())
        return call.failBool(call.scripted());
    int error = 0;
    auto l = lib().isInitialized() ? lib().login(loginId) : nullptr;
    if (!l)
        return call.failBool(lib().isInitialized() ? TRV_ERR_INVALID_HANDLE : TRV_ERR_NOT_INITIALIZED);
    if (!query || !value)
        return call.failBool(TRV_ERR_PARAMETER);
    switch (query->kind) {
    case TRV_STATE_ONLINE:
        *value = l->connected.load() ? 1 : 0;
        return call.ok(1);
    case TRV_STATE_CHANNELS:
        *value = l->device->channels();
        break;
    case TRV_STATE_RECORDING:
        if (query->channel < 0 || query->channel >= l->device->channels())
            return call.failBool(TRV_ERR_PARAMETER);
        *value = recordingsOf(*l->device, query->channel, 0, TRV_FILE_RECORD).empty() ? 0 : 1;
        break;
    case TRV_STATE_LIVE_STREAMS:
        *value = lib().countSessions(loginId, Session::Kind::Live);
        break;
    default:
        return call.failBool(TRV_ERR_NOT_SUPPORTED);
    }
    if (!l->connected.load()) {
        error = TRV_ERR_NOT_CONNECTED;
        return call.failBool(error);
    }
    return call.ok(1);
}

// --- Live streams ---

TRV_API int TRV_NET_RealPlay(int loginId, const TRV_STREAM_REQUEST *request, int reserved)
{
    Call call("TRV_NET_RealPlay", { arg(loginId), arg(request), arg(reserved) });
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!request || request->channel < 0 || request->channel >= l->device->channels()
        || (request->streamType != TRV_STREAM_MAIN && request->streamType != TRV_STREAM_EXTRA))
        return call.fail(TRV_ERR_PARAMETER);
    auto s = std::make_shared<LiveStream>(l, request->channel, request->streamType);
    if (!lib().addSession(s))
        return call.fail(TRV_ERR_INVALID_HANDLE);
    return call.ok(s->handle);
}

namespace {

// Sets (or, with a null callback, removes) one of a live stream's data callbacks.
template<class Callback>
TRV_BOOL setLiveCallback(const char *function, int realHandle, CallbackSlot<Callback> LiveStream::*slot,
    Callback callback, void *user)
{
    Call call(function, { arg(realHandle), arg(callback), arg(user) });
    if (call.scripted())
        return call.failBool(call.scripted());
    auto s = sessionOf<LiveStream>(realHandle, Session::Kind::Live);
    if (!s)
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    if (callback)
        ((*s).*slot).set(callback, user);
    else
        ((*s).*slot).remove();
    return call.ok(1);
}

// Removes a live stream's data callback when it is `callback`.
template<class Callback>
TRV_BOOL deleteLiveCallback(const char *function, int realHandle, CallbackSlot<Callback> LiveStream::*slot,
    Callback callback, void *user)
{
    Call call(function, { arg(realHandle), arg(callback), arg(user) });
    if (call.scripted())
        return call.failBool(call.scripted());
    auto s = sessionOf<LiveStream>(realHandle, Session::Kind::Live);
    if (!s)
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    if (!((*s).*slot).remove(callback))
        return call.failBool(TRV_ERR_PARAMETER);
    return call.ok(1);
}

} // namespace

TRV_API TRV_BOOL TRV_NET_SetRealDataCallBack(int realHandle, TRV_RealDataCallBack callback, void *user)
{
    return setLiveCallback("TRV_NET_SetRealDataCallBack", realHandle, &LiveStream::data, callback, user);
}

TRV_API TRV_BOOL TRV_NET_SetRealDataCallBack_V2(int realHandle, TRV_RealDataCallBack_V2 callback, void *user)
{
    return setLiveCallback("TRV_NET_SetRealDataCallBack_V2", realHandle, &LiveStream::dataV2, callback, user);
}

TRV_API TRV_BOOL TRV_NET_DelRealDataCallBack(int realHandle, TRV_RealDataCallBack callback, void *user)
{
    return deleteLiveCallback("TRV_NET_DelRealDataCallBack", realHandle, &LiveStream::data, callback, user);
}

TRV_API TRV_BOOL TRV_NET_DelRealDataCallBack_V2(int realHandle, TRV_RealDataCallBack_V2 callback, void *user)
{
    return deleteLiveCallback(
        "TRV_NET_DelRealDataCallBack_V2", realHandle, &LiveStream::dataV2, callback, user);
}

TRV_API TRV_BOOL TRV_NET_MakeKeyFrame(int loginId, int channel, int streamType)
{
    Call call("TRV_NET_MakeKeyFrame", { arg(loginId), arg(channel), arg(streamType) });
    if (call.scripted())
        return call.failBool(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.failBool(error);
    if (channel < 0 || channel >= l->device->channels() || streamType < 0 || streamType > 1)
        return call.failBool(TRV_ERR_PARAMETER);
    std::lock_guard<std::mutex> lock(lib().mutex);
    for (auto &entry : lib().sessions) {
        Session &s = *entry.second;
        if (s.kind != Session::Kind::Live || s.login != l)
            continue;
        auto &live = static_cast<LiveStream &>(s);
        if (live.channel == channel && live.streamType == streamType)
            live.keyFrameRequest.store(true);
    }
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_StopRealPlay(int realHandle, int reserved)
{
    Call call("TRV_NET_StopRealPlay", { arg(realHandle), arg(reserved) });
    if (call.scripted())
        return call.failBool(call.scripted());
    if (!endSession(realHandle, Session::Kind::Live))
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    return call.ok(1);
}

// --- Recordings ---

TRV_API int TRV_NET_FindFile(
    int loginId, const TRV_FIND_CONDITION *condition, TRV_FILE_DATA *files, int maxCount, int waitMs)
{
    Call call("TRV_NET_FindFile",
        { arg(loginId), arg(condition), arg(static_cast<const void *>(files)), arg(maxCount), arg(waitMs) },
        waitMs);
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!condition || condition->channel < 0 || condition->channel >= l->device->channels()
        || condition->fileType < 0 || condition->fileType > 1 || condition->streamType < 0
        || condition->streamType > 1 || !validTime(condition->begin) || !validTime(condition->end)
        || maxCount < 0 || (maxCount > 0 && !files))
        return call.fail(TRV_ERR_PARAMETER);
    const time_t begin = toTime(condition->begin);
    const time_t end = toTime(condition->end);
    int count = 0;
    for (const RecordingFile &f :
        recordingsOf(*l->device, condition->channel, condition->streamType, condition->fileType)) {
        if (f.end < begin || f.begin > end)
            continue;
        if (count < maxCount) {
            TRV_FILE_DATA &out = files[count];
            std::memset(&out, 0, sizeof out);
            out.channel = f.channel;
            out.fileSize = int(f.size);
            copyText(out.fileName, sizeof out.fileName, f.name);
            toFileTime(f.begin, &out.begin);
            toFileTime(f.end, &out.end);
            out.streamType = f.streamType;
        }
        ++count;
    }
    return call.ok(count);
}

TRV_API int TRV_NET_PlayBackByName(int loginId, const TRV_FILE_DATA *file, TRV_PosCallBack posCallback,
    TRV_PlayBackDataCallBack dataCallback, void *user)
{
    Call call("TRV_NET_PlayBackByName",
        { arg(loginId), arg(file), arg(posCallback), arg(dataCallback), arg(user) });
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!file || !dataCallback)
        return call.fail(TRV_ERR_PARAMETER);
    RecordingFile f;
    if (!findRecording(*l->device, file->channel, text(file->fileName, sizeof file->fileName), &f))
        return call.fail(TRV_ERR_NOT_FOUND);
    if (f.fileType != TRV_FILE_RECORD)
        return call.fail(TRV_ERR_NOT_SUPPORTED);
    auto loop = loopOf(*l, f);
    if (!loop)
        return call.fail(TRV_ERR_NOT_SUPPORTED);
    PlaySegment seg;
    seg.file = f;
    seg.last = recordingFrames(f, *loop);
    auto s = std::make_shared<Playback>(
        l, std::vector<PlaySegment> { seg }, f.begin, dataCallback, user, posCallback, user);
    if (!lib().addSession(s))
        return call.fail(TRV_ERR_INVALID_HANDLE);
    return call.ok(s->handle);
}

TRV_API int TRV_NET_PlayBackByTimeEx(int loginId, const TRV_PLAYBACK_BY_TIME *request,
    TRV_PlayBackDataCallBack dataCallback, void *dataUser, TRV_PosCallBack posCallback, void *posUser)
{
    Call call("TRV_NET_PlayBackByTimeEx",
        { arg(loginId), arg(request), arg(dataCallback), arg(dataUser), arg(posCallback), arg(posUser) });
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!request || !dataCallback || request->channel < 0 || request->channel >= l->device->channels()
        || request->streamType < 0 || request->streamType > 1 || !validTime(request->begin)
        || !validTime(request->end))
        return call.fail(TRV_ERR_PARAMETER);
    const time_t begin = toTime(request->begin);
    const time_t end = toTime(request->end);
    if (end <= begin)
        return call.fail(TRV_ERR_PARAMETER);
    std::vector<PlaySegment> segments;
    for (const RecordingFile &f :
        recordingsOf(*l->device, request->channel, request->streamType, TRV_FILE_RECORD)) {
        if (f.end <= begin || f.begin >= end)
            continue;
        auto loop = loopOf(*l, f);
        if (!loop)
            continue;
        PlaySegment seg;
        seg.file = f;
        const int64_t frames = recordingFrames(f, *loop);
        seg.first = std::max<int64_t>(0, int64_t(begin - f.begin) * kFrameRate);
        seg.first -= seg.first % kKeyInterval;
        seg.last = std::min<int64_t>(frames, int64_t(end - f.begin) * kFrameRate);
        if (seg.first < seg.last)
            segments.push_back(seg);
    }
    if (segments.empty())
        return call.fail(TRV_ERR_NOT_FOUND);
    auto s = std::make_shared<Playback>(
        l, std::move(segments), begin, dataCallback, dataUser, posCallback, posUser);
    if (!lib().addSession(s))
        return call.fail(TRV_ERR_INVALID_HANDLE);
    return call.ok(s->handle);
}

TRV_API TRV_BOOL TRV_NET_PlayBackControl(int playHandle, int action, int value, int reserved)
{
    Call call("TRV_NET_PlayBackControl", { arg(playHandle), arg(action), arg(value), arg(reserved) });
    if (call.scripted())
        return call.failBool(call.scripted());
    auto s = sessionOf<Playback>(playHandle, Session::Kind::Playback);
    if (!s)
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    if (!s->control(action, value))
        return call.failBool(TRV_ERR_PARAMETER);
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_SetPlayBackSpeed(int playHandle, float speed)
{
    Call call("TRV_NET_SetPlayBackSpeed", { arg(playHandle), arg(speed) });
    if (call.scripted())
        return call.failBool(call.scripted());
    auto s = sessionOf<Playback>(playHandle, Session::Kind::Playback);
    if (!s)
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    if (!s->setSpeed(double(speed)))
        return call.failBool(TRV_ERR_PARAMETER);
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_StopPlayBack(int playHandle)
{
    Call call("TRV_NET_StopPlayBack", { arg(playHandle) });
    if (call.scripted())
        return call.failBool(call.scripted());
    if (!endSession(playHandle, Session::Kind::Playback))
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    return call.ok(1);
}

TRV_API int TRV_NET_GetFileByName(int loginId, const TRV_FILE_DATA *file, const char *savePath,
    TRV_PosCallBack posCallback, void *user, int reserved)
{
    Call call("TRV_NET_GetFileByName",
        { arg(loginId), arg(file), arg(savePath), arg(posCallback), arg(user), arg(reserved) });
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!file || !savePath || !*savePath)
        return call.fail(TRV_ERR_PARAMETER);
    RecordingFile f;
    if (!findRecording(*l->device, file->channel, text(file->fileName, sizeof file->fileName), &f))
        return call.fail(TRV_ERR_NOT_FOUND);
    std::FILE *out = std::fopen(savePath, "wb");
    if (!out)
        return call.fail(TRV_ERR_FILE);
    auto s = std::make_shared<Download>(l, f, out, posCallback, user);
    if (!lib().addSession(s))
        return call.fail(TRV_ERR_INVALID_HANDLE);
    return call.ok(s->handle);
}

TRV_API TRV_BOOL TRV_NET_CloseHandle(int handle)
{
    Call call("TRV_NET_CloseHandle", { arg(handle) });
    if (call.scripted())
        return call.failBool(call.scripted());
    auto s = lib().takeSession(handle);
    if (!s)
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    s->stop();
    return call.ok(1);
}

// --- Configuration ---

TRV_API int TRV_NET_GetChannelAbility_Json(
    int loginId, const char *name, int channel, char *buffer, int size, int *length, int waitMs)
{
    Call call("TRV_NET_GetChannelAbility_Json",
        { arg(loginId), arg(name), arg(channel), arg(static_cast<const void *>(buffer)), arg(size),
            arg(static_cast<const void *>(length)), arg(waitMs) },
        waitMs);
    if (length)
        *length = 0;
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!name || !buffer || size <= 0)
        return call.fail(TRV_ERR_PARAMETER);
    std::string reply;
    const int r = channelAbility(*l, name, &reply);
    if (r < 0)
        return call.fail(r);
    return putAnswer(call, reply, buffer, size, length);
}

TRV_API int TRV_NET_GetAbility(int loginId, const char *path)
{
    Call call("TRV_NET_GetAbility", { arg(loginId), arg(path) });
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!path)
        return call.fail(TRV_ERR_PARAMETER);
    return call.ok(ability(*l, path));
}

TRV_API int TRV_NET_GetDevConfig(
    int loginId, int command, int channel, void *buffer, int size, int *length, int waitMs)
{
    Call call("TRV_NET_GetDevConfig",
        { arg(loginId), arg(command), arg(channel), arg(static_cast<const void *>(buffer)), arg(size),
            arg(static_cast<const void *>(length)), arg(waitMs) },
        waitMs);
    if (length)
        *length = 0;
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!buffer || size <= 0)
        return call.fail(TRV_ERR_PARAMETER);
    kestrix::DeviceSpec spec;
    {
        std::lock_guard<std::mutex> lock(l->device->mutex);
        spec = l->device->spec;
    }
    if (command == TRV_CONFIG_TALK) {
        if (size_t(size) < sizeof(TRV_TALK_CONFIG))
            return call.fail(TRV_ERR_BUFFER_TOO_SMALL);
        TRV_TALK_CONFIG c;
        std::memset(&c, 0, sizeof c);
        for (int i = 0; i < l->device->channels() && i < 128; ++i)
            c.audioInputs[i] = spec.canTalk ? 1 : 0;
        c.talkDisabled = spec.canTalk ? 0 : 1;
        std::memcpy(buffer, &c, sizeof c);
        if (length)
            *length = int(sizeof c);
        return call.ok(int(sizeof c));
    }
    if (command == TRV_CONFIG_CLOUD_UPGRADE) {
        if (size_t(size) < sizeof(TRV_CLOUD_UPGRADE_INFO))
            return call.fail(TRV_ERR_BUFFER_TOO_SMALL);
        TRV_CLOUD_UPGRADE_INFO c;
        std::memset(&c, 0, sizeof c);
        if (!spec.upgradeVersion.empty()) {
            c.hasNewVersion = 1;
            copyText(c.newVersion, sizeof c.newVersion, spec.upgradeVersion);
            const std::string build = std::to_string(spec.build[0] + 1) + "-" + std::to_string(spec.build[1])
                + "-" + std::to_string(spec.build[2]);
            copyText(c.newBuild, sizeof c.newBuild, build);
            copyText(c.date, sizeof c.date, build);
            copyText(c.changeLog, sizeof c.changeLog, "Stability improvements.");
        }
        std::memcpy(buffer, &c, sizeof c);
        if (length)
            *length = int(sizeof c);
        return call.ok(int(sizeof c));
    }
    return call.fail(TRV_ERR_NOT_SUPPORTED);
}

TRV_API int TRV_NET_GetDevConfigByName(
    int loginId, const char *name, int command, int channel, char *buffer, int size, int *length, int waitMs)
{
    Call call("TRV_NET_GetDevConfigByName",
        { arg(loginId), arg(name), arg(command), arg(channel), arg(static_cast<const void *>(buffer)),
            arg(size), arg(static_cast<const void *>(length)), arg(waitMs) },
        waitMs);
    if (length)
        *length = 0;
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!name || !buffer || size <= 0)
        return call.fail(TRV_ERR_PARAMETER);
    std::string reply;
    const int r = configByName(*l, name, &reply);
    if (r < 0)
        return call.fail(r);
    return putAnswer(call, reply, buffer, size, length);
}

TRV_API int TRV_NET_SetDevConfig(
    int loginId, int command, int channel, const void *buffer, int size, int waitMs)
{
    Call call("TRV_NET_SetDevConfig",
        { arg(loginId), arg(command), arg(channel), arg(buffer), arg(size), arg(waitMs) }, waitMs);
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!buffer || size <= 0)
        return call.fail(TRV_ERR_PARAMETER);
    if (command != TRV_CONFIG_IMPORT)
        return call.fail(TRV_ERR_NOT_SUPPORTED);
    const int r = importConfig(*l, text(static_cast<const char *>(buffer), size_t(size)));
    return r < 0 ? call.fail(r) : call.ok(0);
}

TRV_API int TRV_NET_GetConfig_Json(int loginId, const char *name, int code, int channel, const char *body,
    int bodySize, char *answer, int answerSize, int *length, int waitMs)
{
    return jsonCall("TRV_NET_GetConfig_Json", loginId, name, code, channel, body, bodySize, answer,
        answerSize, length, waitMs, true);
}

TRV_API int TRV_NET_SetConfig_Json(int loginId, const char *name, int code, int channel, const char *body,
    int bodySize, char *answer, int answerSize, int *length, int waitMs)
{
    return jsonCall("TRV_NET_SetConfig_Json", loginId, name, code, channel, body, bodySize, answer,
        answerSize, length, waitMs, true);
}

TRV_API int TRV_NET_SendCommand_Json(
    int loginId, const char *name, int code, int channel, const char *body, int bodySize, int waitMs)
{
    return jsonCall("TRV_NET_SendCommand_Json", loginId, name, code, channel, body, bodySize, nullptr, 0,
        nullptr, waitMs, false);
}

TRV_API int TRV_NET_SetDevRecordEncryptKey(int loginId, int key)
{
    Call call("TRV_NET_SetDevRecordEncryptKey", { arg(loginId), arg(key) });
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    std::lock_guard<std::mutex> lock(l->device->mutex);
    l->device->encryptKey = key;
    return call.ok(1);
}

// --- Files and upgrades ---

TRV_API int TRV_NET_SendFileDataToDevice(
    int loginId, const char *path, TRV_FileTransferCallBack callback, void *user)
{
    Call call("TRV_NET_SendFileDataToDevice", { arg(loginId), arg(path), arg(callback), arg(user) });
    if (call.scripted())
        return call.failBool(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.failBool(error);
    if (!path || !*path)
        return call.failBool(TRV_ERR_PARAMETER);
    std::FILE *in = std::fopen(path, "rb");
    if (!in)
        return call.failBool(TRV_ERR_FILE);
    PendingFile announced;
    {
        std::lock_guard<std::mutex> lock(l->mutex);
        if (l->hasPending) {
            announced = l->pending;
            l->hasPending = false;
        } else {
            const std::string p = path;
            announced.name = p.substr(p.find_last_of('/') == std::string::npos ? 0 : p.find_last_of('/') + 1);
        }
    }
    auto s = std::make_shared<FileTransfer>(l, announced, in, callback, user);
    if (!lib().addSession(s))
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    return call.ok(s->handle);
}

TRV_API TRV_BOOL TRV_NET_StopSendFile(int transferHandle, int completed)
{
    Call call("TRV_NET_StopSendFile", { arg(transferHandle), arg(completed) });
    if (call.scripted())
        return call.failBool(call.scripted());
    if (!endSession(transferHandle, Session::Kind::Transfer))
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    return call.ok(1);
}

namespace {

int startUpgrade(Call &call, int loginId, const std::string &path, const std::string &version,
    TRV_UpgradeCallBack callback, void *user)
{
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    int64_t size = 4 * 1024 * 1024; // a cloud firmware
    if (version.empty()) {
        struct stat st;
        if (path.empty())
            return call.fail(TRV_ERR_PARAMETER);
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
            return call.fail(TRV_ERR_FILE);
        size = st.st_size;
    }
    {
        std::lock_guard<std::mutex> lock(l->device->mutex);
        if (!version.empty() && version != l->device->spec.upgradeVersion)
            return call.fail(TRV_ERR_NOT_FOUND);
        if (l->device->upgrading)
            return call.fail(TRV_ERR_UPGRADE_RUNNING);
        l->device->upgrading = true;
    }
    auto s = std::make_shared<Upgrade>(l, path, size, version, callback, user);
    if (!lib().addSession(s))
        return call.fail(TRV_ERR_INVALID_HANDLE);
    return call.ok(s->handle);
}

} // namespace

TRV_API int TRV_NET_Upgrade(int loginId, const char *path, int type, TRV_UpgradeCallBack callback, void *user)
{
    Call call("TRV_NET_Upgrade", { arg(loginId), arg(path), arg(type), arg(callback), arg(user) });
    return startUpgrade(call, loginId, text(path, 4096), std::string(), callback, user);
}

TRV_API int TRV_NET_UpgradeOnline(
    int loginId, const char *version, int type, TRV_UpgradeCallBack callback, void *user)
{
    Call call("TRV_NET_UpgradeOnline", { arg(loginId), arg(version), arg(type), arg(callback), arg(user) });
    const std::string v = text(version, 1024);
    if (v.empty() && !call.scripted())
        return call.fail(TRV_ERR_PARAMETER);
    return startUpgrade(call, loginId, std::string(), v, callback, user);
}

TRV_API int TRV_NET_GetUpgradeState(int upgradeHandle)
{
    Call call("TRV_NET_GetUpgradeState", { arg(upgradeHandle) });
    if (call.scripted())
        return call.fail(call.scripted());
    auto s = sessionOf<Upgrade>(upgradeHandle, Session::Kind::Upgrade);
    if (!s)
        return call.fail(TRV_ERR_INVALID_HANDLE);
    return call.ok(s->state());
}

TRV_API TRV_BOOL TRV_NET_CloseUpgradeHandle(int upgradeHandle)
{
    Call call("TRV_NET_CloseUpgradeHandle", { arg(upgradeHandle) });
    if (call.scripted())
        return call.failBool(call.scripted());
    if (!endSession(upgradeHandle, Session::Kind::Upgrade))
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    return call.ok(1);
}

// --- Talk ---

namespace {

int startVoice(
    Call &call, int loginId, int channel, bool toChannel, TRV_VoiceDataCallBack callback, void *user)
{
    if (call.scripted())
        return call.fail(call.scripted());
    int error = 0;
    auto l = useLogin(loginId, &error);
    if (!l)
        return call.fail(error);
    if (!callback)
        return call.fail(TRV_ERR_PARAMETER);
    {
        std::lock_guard<std::mutex> lock(l->device->mutex);
        DeviceState &d = *l->device;
        if (!d.spec.canTalk)
            return call.fail(TRV_ERR_NOT_SUPPORTED);
        if (toChannel) {
            const Json::Value &flags = d.config["ChannelSystemFunction"]["SupportIPCTalk"];
            auto canTalk = [&](int c) {
                return flags.isArray() && c >= 0 && Json::ArrayIndex(c) < flags.size()
                    && (flags[Json::ArrayIndex(c)].isBool() ? flags[Json::ArrayIndex(c)].asBool()
                                                            : flags[Json::ArrayIndex(c)].isIntegral()
                                && flags[Json::ArrayIndex(c)].asInt64() != 0);
            };
            if (channel == -1) {
                for (int c = 0; c < d.channels(); ++c) {
                    if (canTalk(c)) {
                        channel = c;
                        break;
                    }
                }
            }
            if (channel < 0 || channel >= d.channels() || !canTalk(channel))
                return call.fail(TRV_ERR_NOT_SUPPORTED);
        }
        if (d.voiceBusy)
            return call.fail(TRV_ERR_BUSY);
        d.voiceBusy = true;
    }
    auto s = std::make_shared<VoiceLink>(l, channel, callback, user);
    if (!lib().addSession(s))
        return call.fail(TRV_ERR_INVALID_HANDLE);
    return call.ok(s->handle);
}

} // namespace

TRV_API int TRV_NET_StartVoiceCom_MR(int loginId, TRV_VoiceDataCallBack callback, void *user)
{
    Call call("TRV_NET_StartVoiceCom_MR", { arg(loginId), arg(callback), arg(user) });
    return startVoice(call, loginId, -1, false, callback, user);
}

TRV_API int TRV_NET_StartVoiceCom_NVR_IPC(
    int loginId, int channel, TRV_VoiceDataCallBack callback, void *user)
{
    Call call("TRV_NET_StartVoiceCom_NVR_IPC", { arg(loginId), arg(channel), arg(callback), arg(user) });
    return startVoice(call, loginId, channel, true, callback, user);
}

TRV_API TRV_BOOL TRV_NET_VoiceComSendData(int voiceHandle, const unsigned char *data, int length)
{
    Call call(
        "TRV_NET_VoiceComSendData", { arg(voiceHandle), arg(static_cast<const void *>(data)), arg(length) });
    if (call.scripted())
        return call.failBool(call.scripted());
    auto s = sessionOf<VoiceLink>(voiceHandle, Session::Kind::Voice);
    if (!s)
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    if (!s->login->connected.load())
        return call.failBool(TRV_ERR_NOT_CONNECTED);
    if (!s->receive(data, length))
        return call.failBool(TRV_ERR_PARAMETER);
    return call.ok(1);
}

TRV_API TRV_BOOL TRV_NET_StopVoiceCom(int voiceHandle)
{
    Call call("TRV_NET_StopVoiceCom", { arg(voiceHandle) });
    if (call.scripted())
        return call.failBool(call.scripted());
    if (!endSession(voiceHandle, Session::Kind::Voice))
        return call.failBool(TRV_ERR_INVALID_HANDLE);
    return call.ok(1);
}
