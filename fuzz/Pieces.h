#pragma once

// The stream decoders' fuzz check: the first byte of the input says how many
// of the following bytes are cut sizes, the rest is the stream. Whatever comes
// out when the stream arrives in those pieces must equal what comes out when
// it arrives whole.

#include <QByteArray>
#include <QByteArrayList>

#include <cstdint>
#include <cstdlib>

// `decode(stream, cuts, cutCount)` feeds the stream in pieces of 1 + cuts[i]
// bytes (the whole stream at once when cutCount is 0) and lists the events.
template<typename Decode> int checkPieces(const uint8_t *data, size_t size, Decode decode)
{
    if (size < 1)
        return 0;
    const size_t cutCount = data[0] % 8;
    if (size < 1 + cutCount)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1 + cutCount), int(size - 1 - cutCount));
    const QByteArrayList whole = decode(stream, nullptr, 0);
    const QByteArrayList pieces = decode(stream, data + 1, cutCount);
    if (whole != pieces)
        std::abort();
    return 0;
}
