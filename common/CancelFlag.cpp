#include "CancelFlag.h"

void CancelFlag::cancel()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cancelled)
        return;
    m_cancelled = true;
    for (const auto &entry : m_wakes)
        entry.second();
}

bool CancelFlag::cancelled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelled;
}

int CancelFlag::watch(std::function<void()> wake)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cancelled)
        return 0;
    const int id = m_nextId++;
    m_wakes[id] = std::move(wake);
    return id;
}

void CancelFlag::unwatch(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wakes.erase(id);
}
