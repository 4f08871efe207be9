#pragma once

// An outside HTTP server of the test's own on a loopback port the kernel
// picks: each request is answered at once or held until release(), as the
// test decides by its head. Held requests then get the held answer; after
// release() every such request gets it at once. Used as the server of
// outside requests and as the web-file server of the page update.

#include "RawSocket.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class GatedHttpServer
{
public:
    // The answer for a request head, or an empty one to hold it.
    using Answer = std::function<QByteArray(const QByteArray &head)>;

    static QByteArray reply(const QByteArray &status, const QByteArray &body)
    {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n\r\n" + body;
    }

    // Holds everything; release() answers "200 OK" with "{}".
    GatedHttpServer()
        : GatedHttpServer([](const QByteArray &) { return QByteArray(); }, reply("200 OK", "{}"))
    { }
    GatedHttpServer(Answer answer, QByteArray heldAnswer)
        : m_answer(std::move(answer))
        , m_heldAnswer(std::move(heldAnswer))
    {
        m_listener = RawSocket::listenLoopback(0, 0, &port, 1024);
        m_thread = std::thread([this] { serve(); });
    }
    ~GatedHttpServer()
    {
        m_stop = true;
        RawSocket::wakeListener(m_listener);
        m_thread.join();
        for (int fd : m_held)
            RawSocket::closeSocket(fd);
        RawSocket::closeSocket(m_listener);
    }
    // Requests held now, and requests seen whose head contains `part`.
    int held() const { return m_heldCount.load(); }
    int seen(const QByteArray &part) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (const QByteArray &head : m_heads)
            n += head.contains(part) ? 1 : 0;
        return n;
    }
    void release() { m_released = true; }

    int port = 0;

private:
    static void send(int fd, const QByteArray &bytes)
    {
        RawSocket::sendAll(fd, bytes.constData(), size_t(bytes.size()), 5000);
        RawSocket::closeSocket(fd);
    }
    void serve()
    {
        while (!m_stop) {
            if (m_released && !m_held.empty()) {
                for (int fd : m_held)
                    send(fd, m_heldAnswer);
                m_held.clear();
                m_heldCount = 0;
            }
            if (RawSocket::waitReadable(m_listener, 20) != RawSocket::Wait::Ready)
                continue;
            const int fd = RawSocket::acceptConnection(m_listener);
            if (fd < 0)
                return;
            // The head is whole or not: an answer only has to come after it.
            QByteArray head;
            char buf[4096];
            while (
                !head.contains("\r\n\r\n") && RawSocket::waitReadable(fd, 2000) == RawSocket::Wait::Ready) {
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
            if (!answer.isEmpty()) {
                send(fd, answer);
            } else if (m_released) {
                send(fd, m_heldAnswer);
            } else {
                m_held.push_back(fd);
                ++m_heldCount;
            }
        }
    }

    Answer m_answer;
    QByteArray m_heldAnswer;
    int m_listener = -1;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_released { false };
    std::atomic<int> m_heldCount { 0 };
    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_heads;
    std::vector<int> m_held;
    std::thread m_thread;
};
