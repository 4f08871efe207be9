#pragma once

// The library's state: logins, sessions (everything that runs on a thread of
// its own and calls back), the callbacks of TRV_NET_Init and
// TRV_NET_SetMessageCallBack, and the event thread that delivers alarms and
// disconnects.

#include "Devices.h"
#include "Gate.h"
#include "kestrix/kestrix.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx {

using Clock = std::chrono::steady_clock;

// A file the device was told about with "OPFile" and waits for.
struct PendingFile
{
    std::string name;
    int64_t size = -1;
    std::string body; // the announcement's JSON text
};

struct Login
{
    int id = 0;
    std::shared_ptr<DeviceState> device;
    std::string address;
    int port = 0;
    std::atomic<bool> connected { true };
    std::atomic<bool> alarmChannel { false }; // alarms raised while it is set are sent
    Gate events; // deliveries of this login's alarms and disconnect
    Gate alarms; // open between TRV_NET_SetupAlarmChan and TRV_NET_CloseAlarmChan

    std::mutex mutex;
    bool hasPending = false;
    PendingFile pending;
};

class Session : public std::enable_shared_from_this<Session>
{
public:
    enum class Kind { Live, Playback, Download, Voice, Transfer, Upgrade };

    Session(Kind kind, std::shared_ptr<Login> login);
    virtual ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const Kind kind;
    int handle = 0;
    const std::shared_ptr<Login> login;

    void start();
    // Ends the thread and the callbacks; when it returns none of this
    // session's callbacks runs (other than the one it is called from).
    void stop();

protected:
    virtual void run() = 0;
    virtual void closeCallbacks() = 0;
    // Sleeps until `until`; false once the session is stopping.
    bool sleepUntil(Clock::time_point until);
    bool stopping();
    void wake();

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;

private:
    std::thread m_thread;
    std::mutex m_stopMutex;
};

class EventQueue
{
public:
    void start();
    void stop(); // drops what was not delivered
    void post(std::function<void()> event);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;
    bool m_running = false;
    std::thread m_thread;
};

class Library
{
public:
    static Library &get();

    std::mutex mutex;
    bool initialized = false;
    int connectTimeMs = 5000;
    int nextHandle = 1;
    std::map<int, std::shared_ptr<Login>> logins;
    std::map<int, std::shared_ptr<Session>> sessions;

    CallbackSlot<TRV_DisConnectCallBack> disconnect;
    CallbackSlot<TRV_MessageCallBack> message;
    Catalog catalog;
    EventQueue events;
    std::atomic<int> threads { 0 };

    bool isInitialized();
    std::shared_ptr<Login> login(int id);
    std::shared_ptr<Session> session(int handle);
    // Gives the session a handle and starts it; false when the library or the login is gone.
    bool addSession(const std::shared_ptr<Session> &session);
    int addLogin(const std::shared_ptr<Login> &login);
    std::shared_ptr<Session> takeSession(int handle);
    std::vector<std::shared_ptr<Session>> takeSessionsOf(int loginId);
    int countSessions(int loginId, Session::Kind kind);

    // Ends a login: its sessions, its event deliveries, its place on the device.
    void endLogin(const std::shared_ptr<Login> &login);
    void cleanup();
};

} // namespace kx
