#include "LinkFrame.h"

#include "HexDigit.h"

#include <cstring>

namespace LinkFrame {

QByteArray header(quint32 payloadSize)
{
    static const char digits[] = "0123456789abcdef";
    QByteArray out(kHeaderSize, '0');
    for (int i = kHeaderSize - 1; i >= 0; --i) {
        out[i] = digits[payloadSize & 0xF];
        payloadSize >>= 4;
    }
    return out;
}

QByteArray encode(const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(kHeaderSize + payload.size());
    frame.append(header(quint32(payload.size())));
    frame.append(payload);
    return frame;
}

bool parseHeader(const char *bytes, quint32 *length)
{
    quint32 value = 0;
    for (int i = 0; i < kHeaderSize; ++i) {
        const int digit = hexDigitValue(bytes[i]);
        if (digit < 0)
            return false;
        value = (value << 4) | quint32(digit);
    }
    *length = value;
    return true;
}

QString payloadText(const QByteArray &payload)
{
    const int nul = payload.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? payload : payload.left(nul));
}

} // namespace LinkFrame

LinkFrameDecoder::LinkFrameDecoder(quint32 maxPayload)
    : m_maxPayload(maxPayload)
{ }

void LinkFrameDecoder::append(const QByteArray &bytes)
{
    append(bytes.constData(), bytes.size());
}

void LinkFrameDecoder::append(const char *data, qsizetype size)
{
    if (m_skipRemaining > 0 && pendingBytes() == 0) {
        // Skipping an oversized payload: drop what arrives without keeping it.
        const qsizetype drop = qsizetype(qMin<quint64>(m_skipRemaining, quint64(size)));
        m_skipRemaining -= quint64(drop);
        data += drop;
        size -= drop;
    }
    if (size > 0)
        m_buffer.append(data, int(size));
}

bool LinkFrameDecoder::next(Event *event)
{
    for (;;) {
        if (m_skipRemaining > 0) {
            const qsizetype drop = qsizetype(qMin<quint64>(m_skipRemaining, quint64(pendingBytes())));
            m_offset += drop;
            m_skipRemaining -= quint64(drop);
            if (m_skipRemaining > 0) {
                compact();
                return false;
            }
        }
        if (m_waitHeader) {
            if (pendingBytes() < LinkFrame::kHeaderSize) {
                compact();
                return false;
            }
            const char *head = m_buffer.constData() + m_offset;
            quint32 length = 0;
            if (!LinkFrame::parseHeader(head, &length)) {
                event->kind = Kind::BadHeader;
                event->header = QByteArray(head, LinkFrame::kHeaderSize);
                event->payload.clear();
                event->length = 0;
                m_offset += LinkFrame::kHeaderSize;
                return true;
            }
            m_offset += LinkFrame::kHeaderSize;
            if (length > m_maxPayload) {
                event->kind = Kind::Oversized;
                event->length = length;
                event->payload.clear();
                event->header.clear();
                m_skipRemaining = length;
                return true;
            }
            m_expected = length;
            m_waitHeader = false;
        }
        if (pendingBytes() < qsizetype(m_expected)) {
            compact();
            return false;
        }
        event->kind = Kind::Frame;
        event->payload = m_buffer.mid(int(m_offset), int(m_expected));
        event->header.clear();
        event->length = m_expected;
        m_offset += m_expected;
        m_waitHeader = true;
        return true;
    }
}

void LinkFrameDecoder::compact()
{
    if (m_offset == 0)
        return;
    if (m_offset >= m_buffer.size()) {
        m_buffer.clear();
    } else {
        m_buffer.remove(0, int(m_offset));
    }
    m_offset = 0;
}
