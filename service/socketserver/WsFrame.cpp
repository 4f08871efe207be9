#include "WsFrame.h"

#include <QCryptographicHash>

namespace WsFrame {

QByteArray acceptKey(const QByteArray &clientKey)
{
    return QCryptographicHash::hash(
        clientKey + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1)
        .toBase64();
}

bool validClientKey(const QByteArray &clientKey)
{
    const auto decoded = QByteArray::fromBase64Encoding(clientKey, QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 16 && clientKey.size() == 24;
}

QByteArray build(int opcode, const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 10);
    frame.append(char(0x80 | (opcode & 0x0F)));
    const quint64 n = quint64(payload.size());
    if (n <= 125) {
        frame.append(char(n));
    } else if (n <= 0xFFFF) {
        frame.append(char(126));
        frame.append(char(n >> 8));
        frame.append(char(n & 0xFF));
    } else {
        frame.append(char(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(char((n >> shift) & 0xFF));
    }
    frame.append(payload);
    return frame;
}

QByteArray buildClose(int code)
{
    QByteArray payload;
    payload.append(char((code >> 8) & 0xFF));
    payload.append(char(code & 0xFF));
    return build(Close, payload);
}

bool validUtf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const int n = bytes.size();
    int i = 0;
    while (i < n) {
        const unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        unsigned cp;
        unsigned min;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

bool validCloseCode(int code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

} // namespace WsFrame

WsFrameParser::WsFrameParser(int maxMessage)
    : m_maxMessage(maxMessage)
{ }

void WsFrameParser::feed(const char *data, int size)
{
    if (m_failed || size <= 0)
        return;
    // Drop what was consumed before the buffer grows again.
    if (m_pos > 0 && (m_pos == m_buffer.size() || m_pos > 65536)) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    m_buffer.append(data, size);
}

bool WsFrameParser::fail(Event *event, int code)
{
    m_failed = true;
    m_buffer.clear();
    m_message.clear();
    m_pos = 0;
    event->kind = Event::Error;
    event->code = code;
    event->data.clear();
    return true;
}

bool WsFrameParser::next(Event *event)
{
    using namespace WsFrame;
    // Fragments of a message are taken one after the other until the last.
    for (;;) {
        if (m_failed)
            return false;
        const auto *p = reinterpret_cast<const unsigned char *>(m_buffer.constData()) + m_pos;
        const qint64 available = m_buffer.size() - m_pos;
        if (available < 2)
            return false;
        const bool fin = p[0] & 0x80;
        const int opcode = p[0] & 0x0F;
        if (p[0] & 0x70)
            return fail(event, ProtocolError);
        const bool known = opcode == Continuation || opcode == Text || opcode == Binary || opcode == Close
            || opcode == Ping || opcode == Pong;
        if (!known)
            return fail(event, ProtocolError);
        const bool control = opcode >= 0x8;
        // Pages must mask what they send.
        if (!(p[1] & 0x80))
            return fail(event, ProtocolError);
        int header = 2;
        quint64 length = p[1] & 0x7F;
        if (length == 126) {
            if (available < 4)
                return false;
            length = (quint64(p[2]) << 8) | p[3];
            if (length < 126)
                return fail(event, ProtocolError);
            header = 4;
        } else if (length == 127) {
            if (available < 10)
                return false;
            length = 0;
            for (int i = 2; i < 10; ++i)
                length = (length << 8) | p[i];
            if ((length >> 63) != 0 || length <= 0xFFFF)
                return fail(event, ProtocolError);
            header = 10;
        }
        if (control && (!fin || length > 125))
            return fail(event, ProtocolError);
        if (!control) {
            if (opcode == Continuation && !m_inMessage)
                return fail(event, ProtocolError);
            if (opcode != Continuation && m_inMessage)
                return fail(event, ProtocolError);
            // Checked before the payload is waited for: a declared length alone
            // never makes the buffer grow past the limit.
            if (length > quint64(m_maxMessage) - quint64(m_message.size()))
                return fail(event, TooBig);
        }
        if (quint64(available) < quint64(header) + 4 + length)
            return false;
        const unsigned char *key = p + header;
        const unsigned char *data = key + 4;
        QByteArray payload(int(length), Qt::Uninitialized);
        for (quint64 i = 0; i < length; ++i)
            payload[int(i)] = char(data[i] ^ key[i % 4]);
        m_pos += header + 4 + int(length);

        if (control) {
            event->data.clear();
            event->code = 0;
            if (opcode == Ping || opcode == Pong) {
                event->kind = opcode == Ping ? Event::Ping : Event::Pong;
                event->data = payload;
                return true;
            }
            if (payload.size() == 1)
                return fail(event, ProtocolError);
            int code = 1005;
            if (payload.size() >= 2) {
                code = (int(quint8(payload[0])) << 8) | quint8(payload[1]);
                if (!validCloseCode(code))
                    return fail(event, ProtocolError);
                event->data = payload.mid(2);
                if (!validUtf8(event->data))
                    return fail(event, InvalidData);
            }
            event->kind = Event::Close;
            event->code = code;
            return true;
        }

        if (opcode != Continuation) {
            m_messageOpcode = opcode;
            m_message.clear();
        }
        m_message.append(payload);
        if (!fin) {
            m_inMessage = true;
            continue;
        }
        m_inMessage = false;
        if (m_messageOpcode == Text && !validUtf8(m_message))
            return fail(event, InvalidData);
        event->kind = Event::Message;
        event->opcode = m_messageOpcode;
        event->data = m_message;
        event->code = 0;
        m_message.clear();
        return true;
    }
}
