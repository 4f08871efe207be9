#include "WsClient.h"

#include "SendAll.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

WsClient::~WsClient()
{
    close();
}

void WsClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
    m_offset = 0;
}

bool WsClient::open(int port, int receiveBuffer)
{
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    if (receiveBuffer > 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
          "Origin: http://127.0.0.1\r\n\r\n";
    if (!writeAll(request.data(), request.size()))
        return false;
    // The answer ends with an empty line; what follows it is frames.
    std::string head;
    char chunk[1024];
    size_t end = std::string::npos;
    while (end == std::string::npos) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            close();
            return false;
        }
        head.append(chunk, size_t(n));
        end = head.find("\r\n\r\n");
    }
    if (head.compare(0, 12, "HTTP/1.1 101") != 0) {
        close();
        return false;
    }
    m_buffer = head.substr(end + 4);
    m_offset = 0;
    return true;
}

bool WsClient::writeAll(const char *from, size_t size)
{
    return sendAll(m_fd, from, size);
}

bool WsClient::readExactly(char *to, size_t size)
{
    while (size > 0) {
        if (m_offset < m_buffer.size()) {
            const size_t take = std::min(size, m_buffer.size() - m_offset);
            std::memcpy(to, m_buffer.data() + m_offset, take);
            m_offset += take;
            to += take;
            size -= take;
            continue;
        }
        m_buffer.resize(65536);
        m_offset = 0;
        const ssize_t n = ::recv(m_fd, &m_buffer[0], m_buffer.size(), 0);
        if (n < 0 && errno == EINTR) {
            m_buffer.clear();
            continue;
        }
        if (n <= 0) {
            m_buffer.clear();
            return false;
        }
        m_buffer.resize(size_t(n));
    }
    return true;
}

bool WsClient::sendFrame(int opcode, const std::string &payload)
{
    if (m_fd < 0)
        return false;
    frame(opcode, payload, &m_frame);
    return writeAll(m_frame.data(), m_frame.size());
}

void WsClient::frame(int opcode, const std::string &payload, std::string *frame)
{
    std::string &out = *frame;
    out.clear();
    out.push_back(char(0x80 | opcode));
    const size_t size = payload.size();
    if (size < 126) {
        out.push_back(char(0x80 | size));
    } else if (size < 65536) {
        out.push_back(char(0x80 | 126));
        out.push_back(char(size >> 8));
        out.push_back(char(size));
    } else {
        out.push_back(char(0x80 | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            out.push_back(char(uint64_t(size) >> shift));
    }
    // A fixed mask: the benchmark measures transport, not randomness.
    const char mask[4] = { 0x12, 0x34, 0x56, 0x78 };
    out.append(mask, 4);
    const size_t start = out.size();
    out.append(payload);
    for (size_t i = 0; i < size; ++i)
        out[start + i] = char(out[start + i] ^ mask[i & 3]);
}

bool WsClient::send(const std::string &text)
{
    return sendFrame(0x1, text);
}

bool WsClient::receive(std::string *text)
{
    if (m_fd < 0)
        return false;
    text->clear();
    for (;;) {
        unsigned char head[2];
        if (!readExactly(reinterpret_cast<char *>(head), 2))
            return false;
        uint64_t size = head[1] & 0x7f;
        if (size == 126 || size == 127) {
            unsigned char extended[8];
            const size_t bytes = size == 126 ? 2 : 8;
            if (!readExactly(reinterpret_cast<char *>(extended), bytes))
                return false;
            size = 0;
            for (size_t i = 0; i < bytes; ++i)
                size = (size << 8) | extended[i];
        }
        if (size > (64u << 20))
            return false;
        char mask[4] = {};
        const bool masked = head[1] & 0x80;
        if (masked && !readExactly(mask, 4))
            return false;
        std::string payload(size_t(size), '\0');
        if (size > 0 && !readExactly(&payload[0], size_t(size)))
            return false;
        if (masked) {
            for (size_t i = 0; i < payload.size(); ++i)
                payload[i] = char(payload[i] ^ mask[i & 3]);
        }
        const int opcode = head[0] & 0x0f;
        if (opcode == 0x8)
            return false;
        if (opcode == 0x9) {
            if (!sendFrame(0xA, payload))
                return false;
            continue;
        }
        if (opcode == 0xA)
            continue;
        text->append(payload);
        if (head[0] & 0x80)
            return true;
    }
}
