#pragma once

#include <string>

// A plain blocking WebSocket client on a POSIX socket: the page of the relay
// benchmark. It does no more per message than building one masked frame and
// reading one frame back, so that the client is not what the benchmark
// measures (it is at least as fast as node's ws).
class WsClient
{
public:
    WsClient() = default;
    ~WsClient();
    WsClient(const WsClient &) = delete;
    WsClient &operator=(const WsClient &) = delete;

    // Connects to 127.0.0.1:`port` and completes the opening handshake; a
    // `receiveBuffer` above 0 sets the socket's receive buffer first (a page
    // that reads little).
    bool open(int port, int receiveBuffer = 0);
    // Sends one text message.
    bool send(const std::string &text);
    // Sends one ping.
    bool ping(const std::string &payload) { return sendFrame(0x9, payload); }
    // Sends bytes as they are (frames built elsewhere).
    bool sendBytes(const std::string &bytes) { return writeAll(bytes.data(), bytes.size()); }
    // A masked frame as send() and ping() build it, in place of `frame`'s text.
    static void frame(int opcode, const std::string &payload, std::string *frame);
    int fd() const { return m_fd; }
    // Waits for the next text message (pings are answered, other control
    // frames skipped); false when the connection ended or failed.
    bool receive(std::string *text);
    void close();

private:
    bool readExactly(char *to, size_t size);
    bool writeAll(const char *from, size_t size);
    bool sendFrame(int opcode, const std::string &payload);

    int m_fd = -1;
    std::string m_buffer; // bytes read past the last frame
    size_t m_offset = 0;
    std::string m_frame; // reused for every frame sent
};
