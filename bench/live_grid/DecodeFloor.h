#pragma once

// Decode floors the live grid is compared with, measured in this process
// with libavcodec: the streams' pictures decoded on one thread as they would
// arrive in real time, one stream's pictures interleaved with the others'
// and the thread sleeping between them, as a player must.

#include <QByteArray>
#include <QSize>

#include <memory>
#include <vector>

struct DecodeFloorOptions
{
    int fps = 25;
    // Pictures of a stream decoded back to back once the last of them is
    // due; 1: each picture as it comes.
    int burst = 1;
    // Each picture scaled to this size, as the play library does for a
    // window of it (with its shortcuts for small windows: no deblocking,
    // every other row); empty: decoded only.
    QSize window;
};

class RealTimeDecode
{
public:
    // `streams`: each a list of H.264 access units, beginning with a key frame.
    RealTimeDecode(const std::vector<std::vector<QByteArray>> *streams, const DecodeFloorOptions &options);
    ~RealTimeDecode();
    RealTimeDecode(const RealTimeDecode &) = delete;
    RealTimeDecode &operator=(const RealTimeDecode &) = delete;

    // Decodes the next `pictures` of every stream in real time (taking as
    // long as they last) on a thread of its own; that thread's CPU time in
    // seconds. The decoders go on from where the last call left them.
    double next(size_t pictures);

private:
    struct Decoders;
    const std::vector<std::vector<QByteArray>> *m_streams;
    DecodeFloorOptions m_options;
    std::unique_ptr<Decoders> m_decoders;
    size_t m_done = 0;
};
