// The test control of the library.

#include "CallLog.h"
#include "Library.h"
#include "kestrix/kestrix_control.h"

#include "common/Json.h"

#include <cstring>

using namespace kx;

namespace kestrix {
namespace control {

void reset()
{
    Library &lib = Library::get();
    lib.cleanup();
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        lib.connectTimeMs = 5000;
    }
    lib.catalog.reset();
    resetCallScript();
}

void addDevice(const DeviceSpec &spec)
{
    Library::get().catalog.addDevice(spec);
}

bool loadDevicesJson(const std::string &text, std::string *error)
{
    return Library::get().catalog.loadJson(text, error);
}

void setDefaultChannels(int channels)
{
    Library::get().catalog.setDefaultChannels(channels);
}

void setAnyAddressAnswers(bool answers)
{
    Library::get().catalog.setAnyAddress(answers);
}

DeviceSpec deviceFor(const std::string &addressOrSerial)
{
    return Library::get().catalog.specFor(addressOrSerial);
}

void failNext(const std::string &function, int error, int times)
{
    failNextCall(function, error, times);
}

void setCallDelay(const std::string &function, int ms)
{
    setCallDelayMs(function, ms);
}

bool injectAlarm(int loginId, int channel, int event, int state)
{
    Library &lib = Library::get();
    auto login = lib.login(loginId);
    if (!login)
        return false;
    // The device sends an alarm to the clients subscribed when it happens.
    if (!login->alarmChannel.load())
        return true;
    std::weak_ptr<Login> weak = login;
    lib.events.post([weak, channel, event, state] {
        auto l = weak.lock();
        if (!l || !l->connected.load())
            return;
        TRV_ALARM_INFO info;
        std::memset(&info, 0, sizeof info);
        info.channel = channel;
        info.event = event;
        info.state = state;
        const time_t now = std::time(nullptr);
        std::tm tm = {};
        localtime_r(&now, &tm);
        std::strftime(info.time, sizeof info.time, "%Y-%m-%d %H:%M:%S", &tm);
        l->events.run([&] {
            l->alarms.run([&] {
                Library::get().message.call([&](TRV_MessageCallBack cb, void *user) {
                    cb(l->id, reinterpret_cast<const char *>(&info), sizeof info, user, TRV_MSG_ALARM, 0);
                });
            });
        });
    });
    return true;
}

bool injectDisconnect(int loginId)
{
    Library &lib = Library::get();
    auto login = lib.login(loginId);
    if (!login || !login->connected.exchange(false))
        return false;
    std::weak_ptr<Login> weak = login;
    lib.events.post([weak] {
        auto l = weak.lock();
        if (!l)
            return;
        l->events.run([&] {
            Library::get().disconnect.call(
                [&](TRV_DisConnectCallBack cb, void *user) { cb(l->id, l->address.c_str(), l->port, user); });
        });
    });
    return true;
}

std::vector<CallRecord> calls()
{
    return callRecords();
}

std::vector<CallRecord> callsOf(const std::string &function)
{
    std::vector<CallRecord> out;
    for (CallRecord &r : callRecords())
        if (r.function == function)
            out.push_back(std::move(r));
    return out;
}

void clearCalls()
{
    clearCallRecords();
}

int openHandles()
{
    Library &lib = Library::get();
    std::lock_guard<std::mutex> lock(lib.mutex);
    return int(lib.logins.size() + lib.sessions.size());
}

int runningThreads()
{
    return Library::get().threads.load();
}

std::vector<std::pair<std::string, std::string>> receivedFiles(const std::string &addressOrSerial)
{
    auto d = Library::get().catalog.find(addressOrSerial);
    if (!d)
        return {};
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->received;
}

std::string configOf(const std::string &addressOrSerial)
{
    auto d = Library::get().catalog.find(addressOrSerial);
    if (!d)
        return std::string();
    std::lock_guard<std::mutex> lock(d->mutex);
    return JsonUtil::writeStyled(d->config);
}

} // namespace control
} // namespace kestrix
