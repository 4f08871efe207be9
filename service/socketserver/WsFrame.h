#pragma once

#include <QByteArray>

// WebSocket framing of the raw socket server's page sessions: the handshake's
// accept value, server frames, and a streaming parser of client frames that
// follows RFC 6455 strictly (masked frames only, no reserved bits or opcodes,
// short unfragmented control frames, minimal length encodings, valid close
// codes and UTF-8 text).
namespace WsFrame {

enum Opcode { Continuation = 0x0, Text = 0x1, Binary = 0x2, Close = 0x8, Ping = 0x9, Pong = 0xA };

// Close codes the server sends.
enum CloseCode {
    Normal = 1000,
    GoingAway = 1001,
    ProtocolError = 1002,
    InvalidData = 1007,
    TooBig = 1009,
    ServerError = 1011
};

// Largest message a page may send, reassembled.
constexpr int kMaxMessage = 1024 * 1024;

// The Sec-WebSocket-Accept value for a client's key text.
QByteArray acceptKey(const QByteArray &clientKey);
// True when the key text (already trimmed) is Base64 of 16 bytes.
bool validClientKey(const QByteArray &clientKey);

// One unmasked server frame with FIN set.
QByteArray build(int opcode, const QByteArray &payload);
// A close frame carrying `code`.
QByteArray buildClose(int code);

bool validUtf8(const QByteArray &bytes);
bool validCloseCode(int code);

} // namespace WsFrame

// Takes the bytes of a connection as they arrive and hands out whole
// messages and control frames; a partial frame waits for the rest, several
// frames in one read all come out. After an error nothing more comes out.
class WsFrameParser
{
public:
    struct Event
    {
        enum Kind { Message, Ping, Pong, Close, Error };
        Kind kind = Message;
        int opcode = 0; // Message: Text or Binary
        QByteArray data; // message text, ping/pong payload, close reason
        int code = 0; // Close: the peer's code (1005 when none); Error: the code to close with
    };

    explicit WsFrameParser(int maxMessage = WsFrame::kMaxMessage);

    void feed(const char *data, int size);
    // The next event; false when more bytes are needed (or after an error).
    bool next(Event *event);

private:
    bool fail(Event *event, int code);

    QByteArray m_buffer;
    int m_pos = 0;
    int m_maxMessage;
    bool m_failed = false;
    bool m_inMessage = false;
    int m_messageOpcode = 0;
    QByteArray m_message;
};
