#include "Sessions.h"

#include <algorithm>
#include <climits>

namespace kx {

Download::Download(
    std::shared_ptr<Login> l, const RecordingFile &file, std::FILE *out, TRV_PosCallBack pos, void *user)
    : Session(Kind::Download, std::move(l))
    , m_file(file)
    , m_out(out)
{
    m_pos.set(pos, user);
}

Download::~Download()
{
    if (m_out)
        std::fclose(m_out);
}

void Download::closeCallbacks()
{
    m_pos.remove();
}

void Download::run()
{
    const kestrix::DeviceSpec &spec = login->device->spec;
    std::shared_ptr<const VideoLoop> loop;
    std::shared_ptr<const std::vector<uint8_t>> jpeg;
    if (m_file.fileType == TRV_FILE_PICTURE) {
        jpeg = testJpeg(m_file.channel, spec.mainSize[0], spec.mainSize[1]);
    } else {
        const int *size = m_file.streamType == TRV_STREAM_MAIN ? spec.mainSize : spec.extraSize;
        loop = videoLoop(m_file.channel, size[0], size[1]);
    }
    RecordingReader reader(m_file, loop, jpeg);
    const int total = int(std::min<int64_t>(m_file.size, INT_MAX));
    std::vector<uint8_t> buffer(256 * 1024);
    int64_t written = 0;
    bool failed = false;
    const Clock::time_point start = Clock::now();
    while (!stopping()) {
        const size_t n = reader.read(buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (std::fwrite(buffer.data(), 1, n, m_out) != n) {
            failed = true;
            break;
        }
        written += int64_t(n);
        m_pos.call([&](TRV_PosCallBack cb, void *user) { cb(handle, total, int(written), user); });
        if (spec.downloadRate > 0) {
            const auto due = start + std::chrono::microseconds(written * 1000000 / spec.downloadRate);
            if (!sleepUntil(due))
                break;
        }
    }
    const bool complete = !failed && written == m_file.size;
    if (std::fclose(m_out) != 0)
        failed = true;
    m_out = nullptr;
    if (complete && !failed)
        m_pos.call([&](TRV_PosCallBack cb, void *user) { cb(handle, total, -1, user); });
}

} // namespace kx
