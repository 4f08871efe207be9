#include "Library.h"

namespace kx {

std::vector<const void *> &activeGates()
{
    thread_local std::vector<const void *> gates;
    return gates;
}

namespace {
thread_local const Session *t_session = nullptr; // the session whose thread this is
}

Session::Session(Kind k, std::shared_ptr<Login> l)
    : kind(k)
    , login(std::move(l))
{ }

Session::~Session()
{
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
}

void Session::start()
{
    auto self = shared_from_this();
    Library::get().threads.fetch_add(1);
    std::lock_guard<std::mutex> lock(m_stopMutex);
    m_thread = std::thread([self] {
        t_session = self.get();
        self->run();
        Library::get().threads.fetch_sub(1);
    });
}

void Session::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    closeCallbacks();
    // From the session's own thread (inside one of its callbacks) there is
    // nothing to wait for: the thread ends when the callback returns.
    if (t_session == this)
        return;
    std::lock_guard<std::mutex> lock(m_stopMutex);
    if (m_thread.joinable())
        m_thread.join();
}

bool Session::sleepUntil(Clock::time_point until)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_until(lock, until, [this] { return m_stop; });
    return !m_stop;
}

bool Session::stopping()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stop;
}

void Session::wake()
{
    m_cv.notify_all();
}

void EventQueue::start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_running)
        return;
    m_running = true;
    Library::get().threads.fetch_add(1);
    m_thread = std::thread([this] {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_cv.wait(lock, [this] { return !m_running || !m_queue.empty(); });
            if (!m_running)
                break;
            std::function<void()> event = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            event();
            lock.lock();
        }
        Library::get().threads.fetch_sub(1);
    });
}

void EventQueue::stop()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        m_queue.clear();
        thread = std::move(m_thread);
    }
    m_cv.notify_all();
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
}

void EventQueue::post(std::function<void()> event)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running)
            return;
        m_queue.push_back(std::move(event));
    }
    m_cv.notify_all();
}

Library &Library::get()
{
    static Library *lib = new Library; // threads may outlive static destruction
    return *lib;
}

bool Library::isInitialized()
{
    std::lock_guard<std::mutex> lock(mutex);
    return initialized;
}

std::shared_ptr<Login> Library::login(int id)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = logins.find(id);
    return it == logins.end() ? nullptr : it->second;
}

std::shared_ptr<Session> Library::session(int handle)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = sessions.find(handle);
    return it == sessions.end() ? nullptr : it->second;
}

bool Library::addSession(const std::shared_ptr<Session> &s)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!initialized || !logins.count(s->login->id))
            return false;
        s->handle = nextHandle++;
        sessions.emplace(s->handle, s);
    }
    s->start();
    return true;
}

int Library::addLogin(const std::shared_ptr<Login> &l)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!initialized)
        return 0;
    l->id = nextHandle++;
    logins.emplace(l->id, l);
    return l->id;
}

std::shared_ptr<Session> Library::takeSession(int handle)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = sessions.find(handle);
    if (it == sessions.end())
        return nullptr;
    auto s = it->second;
    sessions.erase(it);
    return s;
}

std::vector<std::shared_ptr<Session>> Library::takeSessionsOf(int loginId)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::shared_ptr<Session>> out;
    for (auto it = sessions.begin(); it != sessions.end();) {
        if (it->second->login->id == loginId) {
            out.push_back(it->second);
            it = sessions.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}

int Library::countSessions(int loginId, Session::Kind k)
{
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (auto &entry : sessions)
        n += entry.second->login->id == loginId && entry.second->kind == k;
    return n;
}

void Library::endLogin(const std::shared_ptr<Login> &l)
{
    for (auto &s : takeSessionsOf(l->id))
        s->stop();
    l->events.close();
    std::lock_guard<std::mutex> lock(l->device->mutex);
    --l->device->logins;
}

void Library::cleanup()
{
    std::vector<std::shared_ptr<Login>> all;
    std::vector<std::shared_ptr<Session>> orphans;
    {
        std::lock_guard<std::mutex> lock(mutex);
        initialized = false;
        for (auto &entry : logins)
            all.push_back(entry.second);
        logins.clear();
    }
    for (auto &l : all)
        endLogin(l);
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto &entry : sessions)
            orphans.push_back(entry.second);
        sessions.clear();
    }
    for (auto &s : orphans)
        s->stop();
    events.stop();
    disconnect.remove();
    message.remove();
    catalog.clearStates();
}

} // namespace kx
