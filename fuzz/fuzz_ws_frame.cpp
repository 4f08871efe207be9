// Feeds arbitrary bytes to the WebSocket frame parser in pieces whose sizes
// come from the input itself, and checks that the events are the same as when
// everything arrives at once and that no message exceeds the limit.
#include "WsFrame.h"

#include "Pieces.h"

#include <QByteArrayList>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kLimit = 4096;

QByteArrayList parseAll(const QByteArray &stream, const uint8_t *cuts, size_t cutCount)
{
    WsFrameParser parser(kLimit);
    QByteArrayList out;
    WsFrameParser::Event ev;
    int pos = 0;
    size_t c = 0;
    while (pos < stream.size()) {
        const int piece = cutCount ? 1 + cuts[c++ % cutCount] : stream.size();
        const QByteArray part = stream.mid(pos, piece);
        parser.feed(part.constData(), part.size());
        pos += piece;
        while (parser.next(&ev)) {
            if (ev.data.size() > kLimit)
                std::abort();
            out.append(QByteArray::number(int(ev.kind)) + ':' + QByteArray::number(ev.code) + ':' + ev.data);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return checkPieces(data, size, parseAll);
}
