#include "PlaybackText.h"

#include "common/HexDigit.h"

namespace PlaybackText {

uint32_t fileLength(const QByteArray &text)
{
    if (!text.startsWith("0x"))
        return 0;
    uint32_t value = 0;
    for (int i = 2; i < text.size() && i < 10; ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0)
            break;
        value = value << 4 | uint32_t(digit);
    }
    return value;
}

bool isTime(const QByteArray &text)
{
    static const char kPattern[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() != int(sizeof kPattern) - 1)
        return false;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (kPattern[i] == 'd' ? (c < '0' || c > '9') : c != kPattern[i])
            return false;
    }
    return true;
}

QString beginPart(const QByteArray &beginTime)
{
    QByteArray part = beginTime;
    part.replace(":", "").replace(' ', '_');
    return QString::fromLatin1(part);
}

QString endPart(const QByteArray &endTime)
{
    return QString::fromLatin1(endTime.right(8).replace(":", ""));
}

} // namespace PlaybackText
