#include "RawWsConnection.h"

#include "WsFrame.h"

namespace {

// Frames are taken from the queue into one send buffer up to this size, so
// that many small frames cost few system calls.
constexpr int kSendBatch = 256 * 1024;

} // namespace

RawWsConnection::RawWsConnection(int socket, int sessionId)
    : m_socket(socket)
    , m_page(sessionId, socket)
{ }

RawWsConnection::~RawWsConnection()
{
    RawSocket::closeSocket(m_socket);
}

RawWsConnection::Queued RawWsConnection::queueFrame(int opcode, const QByteArray &payload)
{
    QByteArray frame = WsFrame::build(opcode, payload);
    const qint64 size = frame.size();
    Queued result = Queued::Yes;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_aborted || m_closeQueued) {
            result = Queued::Closed;
        } else if (m_unsent.load() + size > kMaxUnsentBytes) {
            m_aborted = true;
            result = Queued::Overflow;
        } else {
            m_queue.push_back(std::move(frame));
            m_unsent += size;
            m_closeQueued = opcode == WsFrame::Close;
        }
    }
    if (result != Queued::Closed)
        m_wakeup.notify();
    return result;
}

RawWsConnection::Queued RawWsConnection::sendText(const QByteArray &text)
{
    // A text that does not encrypt goes as an empty frame, never in plain.
    QByteArray payload;
    m_page.textForPage(text, &payload);
    return queueFrame(WsFrame::Text, payload);
}

bool RawWsConnection::flush()
{
    for (;;) {
        if (m_sendPos >= m_sending.size()) {
            m_sending.clear();
            m_sendPos = 0;
            std::lock_guard<std::mutex> lock(m_queueMutex);
            while (!m_queue.empty() && m_sending.size() < kSendBatch) {
                if (m_sending.isEmpty())
                    m_sending = std::move(m_queue.front());
                else
                    m_sending.append(m_queue.front());
                m_queue.pop_front();
            }
            if (m_sending.isEmpty())
                return true;
        }
        const ssize_t n = RawSocket::sendSome(
            m_socket, m_sending.constData() + m_sendPos, size_t(m_sending.size() - m_sendPos));
        if (n == -2)
            return true;
        if (n < 0)
            return false;
        m_sendPos += int(n);
        m_unsent -= n;
    }
}

void RawWsConnection::requestClose(int code)
{
    int none = 0;
    m_closeCode.compare_exchange_strong(none, code);
    m_wakeup.notify();
}

void RawWsConnection::abort()
{
    m_aborted = true;
    m_wakeup.notify();
}
