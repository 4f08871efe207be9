#pragma once

// libavcodec video decoding of one port. Frames come out in display order
// with the packet's timestamp (milliseconds) in `pts`.

#include "MediaPacket.h"

#include <memory>
#include <vector>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

struct FrameDeleter
{
    void operator()(AVFrame *frame) const;
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
// A new reference to the same picture.
FramePtr referenceFrame(const AVFrame *frame);

class VideoDecoder
{
public:
    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // Decodes one packet; appends the pictures it completes. False when the
    // codec cannot be opened or the packet cannot be taken.
    bool decode(const MediaPacket &packet, std::vector<FramePtr> *frames);
    // Forgets pictures in flight (after a seek or a buffer reset).
    void flush();
    // After a flush the decoder waits for a key frame.
    bool waitingForKey() const { return m_waitKey; }
    // Leaves out the deblocking filter from the next packet on, for pictures
    // shown so much smaller than their size that its work cannot be seen.
    void setSkipDeblocking(bool skip) { m_skipDeblocking = skip; }

private:
    bool ensure(const MediaPacket &packet);
    void receive(std::vector<FramePtr> *frames);
    // Puts the packet's data into m_packet.
    bool fillPacket(const MediaPacket &packet);

    AVCodecContext *m_ctx = nullptr;
    AVPacket *m_packet = nullptr;
    AVBufferRef *m_buffer = nullptr; // m_packet's data, kept for the next packet
    size_t m_lastSize = 0; // the largest packet so far
    AVFrame *m_spare = nullptr; // a frame not filled yet
    int m_codecId = 0;
    bool m_waitKey = true;
    bool m_skipDeblocking = false;
};
