#pragma once

// Guards the delivery of callbacks so that closing returns only when no
// delivery is running (other than one on the closing thread itself) and none
// will start again.

#include <condition_variable>
#include <mutex>
#include <vector>

namespace kx {

// Which gates the current thread is delivering through, so that closing a
// gate from inside its own callback does not wait for itself.
std::vector<const void *> &activeGates();

class Gate
{
public:
    // Runs f() when the gate is open; false when closed.
    template<class F> bool run(F &&f)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_open)
                return false;
            ++m_running;
        }
        activeGates().push_back(this);
        f();
        activeGates().pop_back();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_running;
        }
        m_idle.notify_all();
        return true;
    }

    // Closes the gate and waits until deliveries on other threads have ended.
    void close()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_open = false;
        waitIdle(lock);
    }

    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
    }

protected:
    void waitIdle(std::unique_lock<std::mutex> &lock)
    {
        int own = 0;
        for (const void *g : activeGates())
            own += g == this;
        m_idle.wait(lock, [&] { return m_running <= own; });
    }

    std::mutex m_mutex;
    std::condition_variable m_idle;
    bool m_open = true;
    int m_running = 0;
};

// A callback with its user value behind a gate.
template<class Callback> class CallbackSlot : private Gate
{
public:
    void set(Callback callback, void *user)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_callback = callback;
        m_user = user;
    }

    bool isSet()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_callback != nullptr;
    }

    // Removes the callback (only when it is `callback`, unless that is null)
    // and waits for running deliveries. False when another callback was set.
    bool remove(Callback callback = nullptr)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (callback && callback != m_callback)
            return false;
        m_callback = nullptr;
        m_user = nullptr;
        waitIdle(lock);
        return true;
    }

    // Delivers f(callback, user) when a callback is set.
    template<class F> bool call(F &&f)
    {
        Callback callback;
        void *user;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_callback)
                return false;
            callback = m_callback;
            user = m_user;
            ++m_running;
        }
        activeGates().push_back(this);
        f(callback, user);
        activeGates().pop_back();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_running;
        }
        m_idle.notify_all();
        return true;
    }

private:
    Callback m_callback = nullptr;
    void *m_user = nullptr;
};

} // namespace kx
