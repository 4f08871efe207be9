#pragma once

#include <QByteArray>
#include <QString>

// The frame that carries one JSON message over the local socket between the
// service and a player, in both directions: 8 hexadecimal digits giving the
// payload's byte count, then the UTF-8 payload.
namespace LinkFrame {

constexpr int kHeaderSize = 8;
// Largest payload a reader accepts. A longer declared frame is skipped.
constexpr quint32 kMaxPayload = 16u * 1024u * 1024u;

// "0000002a" for 42.
QByteArray header(quint32 payloadSize);
// Header plus payload, ready to be written in one piece.
QByteArray encode(const QByteArray &payload);
// Strict header check: exactly 8 characters of [0-9a-fA-F].
bool parseHeader(const char *bytes, quint32 *length);
// The payload as text: UTF-8, ending at the first NUL byte if there is one.
QString payloadText(const QByteArray &payload);

} // namespace LinkFrame

// Incremental reader of a frame stream. Bytes may arrive in any pieces; each
// complete frame comes out once, in order. A bad header drops its 8 bytes and
// reading goes on at once; an oversized frame is reported and its payload is
// skipped as it arrives, without being buffered.
class LinkFrameDecoder
{
public:
    enum class Kind { Frame, BadHeader, Oversized };

    struct Event
    {
        Kind kind = Kind::Frame;
        QByteArray payload; // Frame: the payload
        QByteArray header; // BadHeader: the 8 dropped bytes
        quint32 length = 0; // Oversized: the declared length
    };

    explicit LinkFrameDecoder(quint32 maxPayload = LinkFrame::kMaxPayload);

    void append(const QByteArray &bytes);
    void append(const char *data, qsizetype size);
    // Takes the next event out of the stream; false when more bytes are needed.
    bool next(Event *event);

    // Bytes held back waiting for the rest of a frame.
    qsizetype pendingBytes() const { return m_buffer.size() - m_offset; }

private:
    void compact();

    quint32 m_maxPayload;
    QByteArray m_buffer;
    qsizetype m_offset = 0;
    bool m_waitHeader = true;
    quint32 m_expected = 0;
    quint64 m_skipRemaining = 0;
};
