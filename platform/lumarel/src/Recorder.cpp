#include "Recorder.h"

#include "lumarel/lumarel.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Room a recording must find on its disk at start.
constexpr off_t kRoomAtStart = 256 * 1024;

// Whether the file at `path` can be created and grown; it is left empty (a
// full disk creates the file but takes no data, and a recording that could
// never write would report success and leave an empty file).
bool hasRoom(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool room = ::posix_fallocate(fd, 0, kRoomAtStart) == 0;
    const bool emptied = ::ftruncate(fd, 0) == 0;
    ::close(fd);
    if (!room || !emptied) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<Recorder> Recorder::start(
    const std::string &path, int type, int audioRate, AVCodecID audioCodec, int *error)
{
    if (path.empty() || (type != TRV_PLAY_RECORD_STREAM && type != TRV_PLAY_RECORD_AVI)) {
        *error = TRV_PLAY_ERR_PARA;
        return nullptr;
    }
    if (!hasRoom(path)) {
        *error = TRV_PLAY_ERR_CREATE_FILE;
        return nullptr;
    }
    std::unique_ptr<Recorder> r(new Recorder);
    r->m_type = type;
    r->m_path = path;
    if (type == TRV_PLAY_RECORD_STREAM) {
        r->m_file = std::fopen(path.c_str(), "wb");
        if (!r->m_file) {
            std::remove(path.c_str());
            *error = TRV_PLAY_ERR_CREATE_FILE;
            return nullptr;
        }
    } else {
        r->m_avi = std::make_unique<AviMuxer>();
        if (!r->m_avi->open(path)) {
            r->m_avi.reset();
            std::remove(path.c_str());
            *error = TRV_PLAY_ERR_CREATE_FILE;
            return nullptr;
        }
        r->m_avi->setAudio(audioRate, audioCodec);
    }
    return r;
}

Recorder::~Recorder()
{
    stop();
}

void Recorder::write(const MediaPacket &packet, const uint8_t *raw, size_t rawLength)
{
    if (m_failed)
        return;
    if (m_file) {
        if (raw) {
            m_failed = std::fwrite(raw, 1, rawLength, m_file) != rawLength;
        } else {
            const std::vector<uint8_t> block = blockFromPacket(packet, m_sequence++);
            m_failed = std::fwrite(block.data(), 1, block.size(), m_file) != block.size();
        }
    } else if (m_avi) {
        if (packet.kind == MediaPacket::Audio)
            m_avi->setAudio(packet.rate, packet.codecId); // before the header only
        m_failed = !m_avi->write(packet);
    }
}

bool Recorder::stop()
{
    bool ok = !m_failed;
    if (m_file) {
        if (std::fclose(m_file) != 0)
            ok = false;
        m_file = nullptr;
    }
    if (m_avi) {
        // A recording stopped before its first picture leaves no file.
        const bool empty = m_avi->videoFrames() == 0;
        if (!m_avi->finish() && !empty)
            ok = false;
        m_avi.reset();
    }
    return ok;
}
