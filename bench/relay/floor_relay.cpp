// The floor of the relay benchmark: the least a relay of the same shape can
// cost on this machine. One process takes a page's WebSocket connection and
// passes each message over a local socket to a second process, which sends it
// back as the answer; the first returns it to the page. Each process runs one
// poll loop on one thread and looks for the next message for a while after
// each send before it sleeps, as the service and the player do. No JSON, no
// log, no event framework: what is left is the machine's cost of the hops.
// Prints its port, then serves one page at a time until killed.
// Usage: floor_relay [--no-spin]

#include "SendAll.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long each process polls before it sleeps, as the service (100 us) and
// the player (200 us) do; "--no-spin" sets both to 0.
int g_relaySpinUs = 100;
int g_answerSpinUs = 200;

// Waits until `fd` is readable: polls without sleeping for `spinUs` first.
bool waitReadable(int fd, int spinUs)
{
    pollfd p { fd, POLLIN, 0 };
    const Clock::time_point end = Clock::now() + std::chrono::microseconds(spinUs);
    while (Clock::now() < end) {
        if (::poll(&p, 1, 0) > 0)
            return true;
    }
    return ::poll(&p, 1, -1) > 0;
}

// Reads into `buffer` until it holds at least `size` bytes.
bool fill(int fd, std::string &buffer, size_t size, int spinUs)
{
    char chunk[4096];
    while (buffer.size() < size) {
        if (!waitReadable(fd, spinUs))
            return false;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, size_t(n));
    }
    return true;
}

// The second process: answers every length-prefixed message with itself.
void answerer(int link)
{
    std::string in;
    for (;;) {
        if (!fill(link, in, 4, g_answerSpinUs))
            return;
        uint32_t length = 0;
        std::memcpy(&length, in.data(), 4);
        if (!fill(link, in, 4 + size_t(length), g_answerSpinUs))
            return;
        if (!sendAll(link, in.data(), 4 + size_t(length)))
            return;
        in.erase(0, 4 + size_t(length));
    }
}

bool handshake(int page)
{
    std::string head;
    char chunk[2048];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(page, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        head.append(chunk, size_t(n));
    }
    const std::string field = "Sec-WebSocket-Key: ";
    const size_t at = head.find(field);
    if (at == std::string::npos)
        return false;
    const size_t end = head.find("\r\n", at);
    const QByteArray key = QByteArray::fromStdString(head.substr(at + field.size(), end - at - field.size()));
    const QByteArray accept
        = QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1)
              .toBase64();
    const std::string answer
        = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Accept: "
        + accept.toStdString() + "\r\n\r\n";
    return sendAll(page, answer.data(), answer.size());
}

// Relays the page's text frames through the answerer and back.
void relay(int page, int link)
{
    std::string in, back;
    std::string out;
    for (;;) {
        if (!fill(page, in, 2, g_relaySpinUs))
            return;
        const auto *b = reinterpret_cast<const unsigned char *>(in.data());
        size_t length = b[1] & 0x7f;
        size_t header = 2;
        if (length == 126) {
            if (!fill(page, in, 4, g_relaySpinUs))
                return;
            b = reinterpret_cast<const unsigned char *>(in.data());
            length = (size_t(b[2]) << 8) | b[3];
            header = 4;
        } else if (length == 127) {
            return; // no messages that long here
        }
        const bool masked = (b[1] & 0x80) != 0;
        const size_t total = header + (masked ? 4 : 0) + length;
        if (!fill(page, in, total, g_relaySpinUs))
            return;
        const int opcode = in[0] & 0x0f;
        if (opcode == 0x8)
            return;
        std::string payload = in.substr(total - length, length);
        if (masked) {
            const char *mask = in.data() + header;
            for (size_t i = 0; i < length; ++i)
                payload[i] = char(payload[i] ^ mask[i % 4]);
        }
        in.erase(0, total);

        const uint32_t size = uint32_t(payload.size());
        out.assign(reinterpret_cast<const char *>(&size), 4);
        out += payload;
        if (!sendAll(link, out.data(), out.size()) || !fill(link, back, 4 + payload.size(), g_relaySpinUs))
            return;
        out.clear();
        out += char(0x81);
        if (payload.size() < 126) {
            out += char(payload.size());
        } else {
            out += char(126);
            out += char((payload.size() >> 8) & 0xff);
            out += char(payload.size() & 0xff);
        }
        out.append(back, 4, payload.size());
        back.erase(0, 4 + payload.size());
        if (!sendAll(page, out.data(), out.size()))
            return;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--no-spin") == 0) {
        g_relaySpinUs = 0;
        g_answerSpinUs = 0;
    }
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 8) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        std::perror("floor_relay");
        return 1;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int page = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (page < 0)
            continue;
        const int one = 1;
        ::setsockopt(page, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            ::close(page);
            continue;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(page);
            ::close(pair[0]);
            answerer(pair[1]);
            _exit(0);
        }
        ::close(pair[1]);
        if (child > 0 && handshake(page))
            relay(page, pair[0]);
        ::close(pair[0]);
        ::close(page);
        if (child > 0)
            ::waitpid(child, nullptr, 0);
    }
}
