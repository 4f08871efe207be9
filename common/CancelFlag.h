#pragma once

#include <functional>
#include <map>
#include <mutex>

// A flag another thread raises to end blocking waits at once. A waiter
// registers how it is woken while it waits; raising the flag runs every
// registered wake-up, and a waiter that registers after it was raised is told
// so instead. Any thread may use it.
class CancelFlag
{
public:
    CancelFlag() = default;
    CancelFlag(const CancelFlag &) = delete;
    CancelFlag &operator=(const CancelFlag &) = delete;

    // Raises the flag and runs the wake-ups registered now (under the flag's
    // lock: a wake-up only posts or writes, it never waits).
    void cancel();
    bool cancelled() const;

    // Registers `wake` until unwatch(); 0 (nothing registered) when the flag
    // is already raised.
    int watch(std::function<void()> wake);
    void unwatch(int id);

private:
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    int m_nextId = 1;
    std::map<int, std::function<void()>> m_wakes;
};
