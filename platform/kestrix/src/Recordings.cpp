#include "Recordings.h"

#include "StreamFrame.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace kx {

namespace {

const int *sizeOf(const kestrix::DeviceSpec &spec, int streamType)
{
    return streamType == 0 ? spec.mainSize : spec.extraSize;
}

std::string defaultName(const RecordingFile &f)
{
    int y, mo, d, h, mi, s, y2, mo2, d2, h2, mi2, s2;
    splitLocalTime(f.begin, &y, &mo, &d, &h, &mi, &s);
    splitLocalTime(f.end, &y2, &mo2, &d2, &h2, &mi2, &s2);
    char buf[128];
    if (f.fileType == TRV_FILE_PICTURE)
        std::snprintf(
            buf, sizeof buf, "ch%02d_%04d%02d%02d_%02d%02d%02d.jpg", f.channel + 1, y, mo, d, h, mi, s);
    else
        std::snprintf(buf, sizeof buf, "ch%02d_%04d%02d%02d_%02d%02d%02d_%02d%02d%02d_%c.tvf", f.channel + 1,
            y, mo, d, h, mi, s, h2, mi2, s2, f.streamType == 0 ? 'M' : 'S');
    return buf;
}

} // namespace

int64_t bytesOfFrames(const VideoLoop &loop, int64_t frames)
{
    const int64_t n = int64_t(loop.frames.size());
    int64_t bytes = (frames / n) * loop.blockBytes;
    for (int64_t i = 0; i < frames % n; ++i)
        bytes += int64_t(kStreamFrameHeaderSize + loop.frames[size_t(i)].data.size());
    return bytes;
}

int64_t recordingFrames(const RecordingFile &file, const VideoLoop &loop)
{
    const int64_t n = int64_t(loop.frames.size());
    int64_t frames = (file.size / loop.blockBytes) * n;
    int64_t rest = file.size % loop.blockBytes;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t b = int64_t(kStreamFrameHeaderSize + loop.frames[size_t(i)].data.size());
        if (rest < b)
            break;
        rest -= b;
        ++frames;
    }
    return frames;
}

void recordingBlock(
    const RecordingFile &file, const VideoLoop &loop, int64_t frame, std::vector<uint8_t> *out)
{
    const EncodedFrame &f = loop.frames[size_t(frame % int64_t(loop.frames.size()))];
    StreamFrameHeader h;
    h.kind = f.key ? kFrameVideoKey : kFrameVideoDelta;
    h.codec = kCodecH264;
    h.width = uint16_t(loop.width);
    h.height = uint16_t(loop.height);
    h.rate = kFrameRate;
    h.sequence = uint32_t(frame);
    h.timestampMs = int64_t(file.begin) * 1000 + frame * kFrameMs;
    h.length = uint32_t(f.data.size());
    out->resize(kStreamFrameHeaderSize + f.data.size());
    writeStreamFrameHeader(h, out->data());
    std::memcpy(out->data() + kStreamFrameHeaderSize, f.data.data(), f.data.size());
}

std::vector<RecordingFile> recordingsOf(DeviceState &device, int channel, int streamType, int fileType)
{
    const auto key = std::make_tuple(channel, streamType, fileType);
    kestrix::DeviceSpec spec;
    {
        std::lock_guard<std::mutex> lock(device.mutex);
        auto it = device.recordings.find(key);
        if (it != device.recordings.end())
            return it->second;
        spec = device.spec;
    }
    std::vector<RecordingFile> files;
    if (channel >= 0 && channel < device.channels()) {
        const int *size = sizeOf(spec, streamType);
        std::shared_ptr<const VideoLoop> loop;
        std::shared_ptr<const std::vector<uint8_t>> jpeg;
        if (fileType == TRV_FILE_PICTURE)
            jpeg = testJpeg(channel, spec.mainSize[0], spec.mainSize[1]);
        else
            loop = videoLoop(channel, size[0], size[1]);
        auto finish = [&](RecordingFile f, int64_t size) {
            if (f.name.empty())
                f.name = defaultName(f);
            if (f.name.size() > 107)
                f.name.resize(107);
            if (size < 0) {
                if (fileType == TRV_FILE_PICTURE)
                    size = jpeg ? int64_t(jpeg->size()) : 0;
                else
                    size = loop ? bytesOfFrames(*loop, int64_t(f.end - f.begin) * kFrameRate) : 0;
            }
            f.size = std::min<int64_t>(size, INT_MAX);
            files.push_back(f);
        };
        if (!spec.recordings.empty()) {
            for (const kestrix::RecordingSpec &r : spec.recordings) {
                if (r.channel != channel || r.streamType != streamType || r.fileType != fileType)
                    continue;
                RecordingFile f;
                f.channel = channel;
                f.name = r.name;
                f.streamType = streamType;
                f.fileType = fileType;
                if (!parseLocalTime(r.begin, &f.begin) || !parseLocalTime(r.end, &f.end))
                    continue;
                finish(f, r.size);
            }
        } else if (spec.defaultRecordings) {
            int y, mo, d, h, mi, s;
            time_t day = 0;
            if (spec.recordDate.empty() || !parseLocalTime(spec.recordDate + " 00:00:00", &day)) {
                splitLocalTime(std::time(nullptr), &y, &mo, &d, &h, &mi, &s);
                day = makeLocalTime(y, mo, d, 0, 0, 0);
            }
            splitLocalTime(day, &y, &mo, &d, &h, &mi, &s);
            for (int hour = 0; hour < 24; ++hour) {
                RecordingFile f;
                f.channel = channel;
                f.streamType = streamType;
                f.fileType = fileType;
                f.begin = makeLocalTime(y, mo, d, hour, 0, 0);
                f.end = fileType == TRV_FILE_PICTURE ? f.begin : makeLocalTime(y, mo, d, hour, 59, 59);
                finish(f, -1);
            }
        }
        std::sort(files.begin(), files.end(),
            [](const RecordingFile &a, const RecordingFile &b) { return a.begin < b.begin; });
    }
    std::lock_guard<std::mutex> lock(device.mutex);
    return device.recordings.emplace(key, files).first->second;
}

bool findRecording(DeviceState &device, int channel, const std::string &name, RecordingFile *out)
{
    for (int fileType = 0; fileType < 2; ++fileType) {
        for (int streamType = 0; streamType < 2; ++streamType) {
            for (const RecordingFile &f : recordingsOf(device, channel, streamType, fileType)) {
                if (f.name == name) {
                    *out = f;
                    return true;
                }
            }
        }
    }
    return false;
}

RecordingReader::RecordingReader(const RecordingFile &file, std::shared_ptr<const VideoLoop> loop,
    std::shared_ptr<const std::vector<uint8_t>> jpeg)
    : m_file(file)
    , m_loop(std::move(loop))
    , m_jpeg(std::move(jpeg))
    , m_size(file.size)
{ }

void RecordingReader::makeBlock()
{
    m_blockPos = 0;
    if (m_jpeg) {
        // A picture: the JPEG, repeated should the stated size be larger.
        m_block = *m_jpeg;
        return;
    }
    if (m_loop)
        recordingBlock(m_file, *m_loop, m_frame++, &m_block);
    else
        m_block.assign(4096, 0);
}

size_t RecordingReader::read(uint8_t *out, size_t max)
{
    size_t n = 0;
    while (n < max && m_done < m_size) {
        if (m_blockPos >= m_block.size())
            makeBlock();
        if (m_block.empty())
            break;
        const size_t take = size_t(
            std::min<int64_t>({ int64_t(max - n), int64_t(m_block.size() - m_blockPos), m_size - m_done }));
        std::memcpy(out + n, m_block.data() + m_blockPos, take);
        m_blockPos += take;
        m_done += take;
        n += take;
    }
    return n;
}

} // namespace kx
