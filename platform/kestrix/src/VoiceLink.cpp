#include "Sessions.h"

#include "StreamFrame.h"

#include <algorithm>

namespace kx {

namespace {
constexpr size_t kMaxQueued = 16000; // 2 s at 8000 samples per second
constexpr uint8_t kAlawSilence = 0xD5;
constexpr size_t kMaxKeptFrames = 4096; // voice frames the device keeps for checks
} // namespace

VoiceLink::VoiceLink(std::shared_ptr<Login> l, int, TRV_VoiceDataCallBack callback, void *user)
    : Session(Kind::Voice, std::move(l))
{
    m_callback.set(callback, user);
}

VoiceLink::~VoiceLink()
{
    std::lock_guard<std::mutex> lock(login->device->mutex);
    login->device->voiceBusy = false;
}

void VoiceLink::closeCallbacks()
{
    m_callback.remove();
}

bool VoiceLink::receive(const unsigned char *data, int length)
{
    StreamBlock block;
    size_t skip = 0;
    if (!data || length <= 0 || scanStreamBlock(data, size_t(length), &block, &skip) != StreamScan::Block
        || block.type != StreamBlock::Voice || block.blockSize != size_t(length))
        return false;
    {
        std::lock_guard<std::mutex> lock(login->device->mutex);
        std::vector<std::string> &kept = login->device->voiceFrames;
        if (kept.size() >= kMaxKeptFrames)
            kept.erase(kept.begin(), kept.begin() + long(kept.size() - kMaxKeptFrames + 1));
        kept.emplace_back(reinterpret_cast<const char *>(data), size_t(length));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wide = block.header.rate == 1600;
    m_fifo.insert(m_fifo.end(), block.payload, block.payload + block.header.length);
    if (m_fifo.size() > kMaxQueued)
        m_fifo.erase(m_fifo.begin(), m_fifo.end() - long(kMaxQueued));
    return true;
}

// The device plays what it hears back: every 40 ms one voice frame with the
// samples received so far, filled up with silence.
void VoiceLink::run()
{
    std::vector<uint8_t> frame;
    Clock::time_point next = Clock::now();
    while (sleepUntil(next)) {
        next += std::chrono::milliseconds(40);
        if (!login->connected.load())
            continue;
        bool wide;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            wide = m_wide;
            const size_t samples = wide ? 640 : 320;
            frame.assign(kVoiceFrameHeaderSize + samples, kAlawSilence);
            const size_t take = std::min(samples, m_fifo.size());
            std::copy_n(m_fifo.begin(), take, frame.begin() + kVoiceFrameHeaderSize);
            m_fifo.erase(m_fifo.begin(), m_fifo.begin() + long(take));
        }
        writeVoiceFrameHeader(
            wide ? 16000 : 8000, uint16_t(frame.size() - kVoiceFrameHeaderSize), frame.data());
        m_callback.call([&](TRV_VoiceDataCallBack cb, void *user) {
            cb(handle, frame.data(), int(frame.size()), 1, user);
        });
    }
}

} // namespace kx
