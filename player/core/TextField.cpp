#include "TextField.h"

#include <cstring>

namespace TextField {

void copy(char *field, size_t size, const char *text, size_t length)
{
    if (size == 0)
        return;
    size_t n = length < size - 1 ? length : size - 1;
    if (n < length) {
        // Step back over continuation bytes to the start of the cut character.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    if (n > 0)
        std::memcpy(field, text, n);
    field[n] = '\0';
}

void copy(char *field, size_t size, const QByteArray &text)
{
    copy(field, size, text.constData(), size_t(text.size()));
}

void copyBytes(char *field, size_t size, const QByteArray &text)
{
    if (size == 0)
        return;
    const size_t n = size_t(text.size()) < size - 1 ? size_t(text.size()) : size - 1;
    if (n > 0)
        std::memcpy(field, text.constData(), n);
    field[n] = '\0';
}

QByteArray read(const char *field, size_t size)
{
    return QByteArray(field, int(strnlen(field, size)));
}

} // namespace TextField
