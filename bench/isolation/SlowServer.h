#pragma once

// An outside HTTP server of the isolation benchmarks that answers late or never.

#include "BenchClient.h"
#include "RawSocket.h"

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace BenchClient {

inline QByteArray httpReply(const QByteArray &status, const QByteArray &body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
}

// A plain HTTP server that takes connections and answers each after
// `delayMs` with `answer` (never, when the delay is negative).
class SlowServer
{
public:
    // Requests whose head holds `quickPart` (when given) are answered at once.
    SlowServer(int delayMs, std::function<QByteArray(const QByteArray &)> answer,
        const QByteArray &quickPart = QByteArray())
        : m_delayMs(delayMs)
        , m_answer(std::move(answer))
        , m_quickPart(quickPart)
    {
        m_listener = RawSocket::listenLoopback(0, 0, &port, 4096);
        m_accepter = std::thread([this] {
            for (;;) {
                const int fd = RawSocket::acceptConnection(m_listener);
                if (fd < 0)
                    return;
                std::lock_guard<std::mutex> lock(m_mutex);
                m_answerers.emplace_back([this, fd] { serve(fd); });
            }
        });
    }
    ~SlowServer()
    {
        m_stop = true;
        RawSocket::wakeListener(m_listener);
        m_accepter.join();
        for (std::thread &t : m_answerers)
            t.join();
        RawSocket::closeSocket(m_listener);
    }
    int requests(const QByteArray &part) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(std::count_if(
            m_heads.begin(), m_heads.end(), [&part](const QByteArray &h) { return h.contains(part); }));
    }

    int port = 0;

private:
    void serve(int fd)
    {
        QByteArray head;
        char buf[4096];
        while (!head.contains("\r\n\r\n") && RawSocket::waitReadable(fd, 2000) == RawSocket::Wait::Ready) {
            const ssize_t n = RawSocket::receiveSome(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            head.append(buf, int(n));
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_heads.push_back(head);
        }
        const QByteArray answer = m_answer(head);
        const int delay = !m_quickPart.isEmpty() && head.contains(m_quickPart) ? 0 : m_delayMs;
        for (int waited = 0; !m_stop && (delay < 0 || waited < delay); waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!m_stop)
            sendBytes(fd, answer, 1000);
        RawSocket::closeSocket(fd);
    }

    int m_delayMs;
    std::function<QByteArray(const QByteArray &)> m_answer;
    QByteArray m_quickPart;
    int m_listener = -1;
    std::atomic<bool> m_stop { false };
    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_heads;
    std::thread m_accepter;
    std::vector<std::thread> m_answerers;
};

} // namespace BenchClient
