// Feeds arbitrary bytes to the frame decoder in pieces whose sizes come from
// the input itself, and checks that the frames come out the same as when the
// whole stream arrives at once.
#include "common/LinkFrame.h"

#include "Pieces.h"

#include <QByteArrayList>

#include <cstdint>
#include <cstdlib>

namespace {

QByteArrayList decodeAll(const QByteArray &stream, const uint8_t *cuts, size_t cutCount)
{
    LinkFrameDecoder decoder(4096);
    QByteArrayList out;
    LinkFrameDecoder::Event ev;
    int pos = 0;
    size_t c = 0;
    while (pos < stream.size()) {
        const int piece = cutCount ? 1 + cuts[c++ % cutCount] : stream.size();
        decoder.append(stream.mid(pos, piece));
        pos += piece;
        while (decoder.next(&ev)) {
            if (ev.kind == LinkFrameDecoder::Kind::Frame)
                out.append(ev.payload);
            else if (ev.kind == LinkFrameDecoder::Kind::Oversized)
                out.append("<oversized>");
            else
                out.append("<bad>");
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return checkPieces(data, size, decodeAll);
}
