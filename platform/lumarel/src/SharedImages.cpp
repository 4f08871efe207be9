#include "SharedImages.h"

#include "FrameRenderer.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace {

struct Segment
{
    int shmId = -1;
    uint8_t *memory = nullptr;
    size_t size = 0;
    size_t imageBytes = 0;
    uint64_t serial = 0;
    ~Segment();
};

// The segments alive, by the address of their memory, and those let go of.
struct Table
{
    std::mutex mutex;
    std::map<uintptr_t, const Segment *> alive;
    std::vector<uint64_t> released;
    std::atomic<bool> anyReleased { false };
    uint64_t nextSerial = 1;
};

Table &table()
{
    static Table *t = new Table; // segments may be let go of while the process ends
    return *t;
}

Segment::~Segment()
{
    {
        Table &t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        t.alive.erase(uintptr_t(memory));
        t.released.push_back(serial);
        t.anyReleased = true;
    }
    shmdt(memory);
}

void releaseImage(void *info)
{
    delete static_cast<std::shared_ptr<Segment> *>(info);
}

} // namespace

namespace SharedImages {

std::vector<QImage> makeSet(int width, int height, int count)
{
    std::vector<QImage> set;
    if (width <= 0 || height <= 0 || count <= 0)
        return set;
    const ImageLayout layout = imageLayout(width, height);
    const size_t size = (layout.bytes * size_t(count) + 4095) / 4096 * 4096;
    const int shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmId < 0)
        return set;
    void *memory = shmat(shmId, nullptr, 0);
    // Marked for removal at once: it goes when we and the X server have let
    // go of it, however the process ends. (Linux lets the X server attach
    // a segment so marked.)
    shmctl(shmId, IPC_RMID, nullptr);
    if (memory == reinterpret_cast<void *>(-1))
        return set;
    auto segment = std::make_shared<Segment>();
    segment->shmId = shmId;
    segment->memory = static_cast<uint8_t *>(memory);
    segment->size = size;
    segment->imageBytes = layout.bytes;
    {
        Table &t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        segment->serial = t.nextSerial++;
        t.alive[uintptr_t(memory)] = segment.get();
    }
    for (int i = 0; i < count; ++i) {
        uchar *bits = segment->memory + size_t(i) * layout.bytes;
        auto *holder = new std::shared_ptr<Segment>(segment);
        QImage image(
            bits, width, height, qsizetype(layout.stride), QImage::Format_RGB32, releaseImage, holder);
        if (image.isNull()) {
            delete holder;
            break;
        }
        set.push_back(image);
    }
    return set;
}

bool find(const uchar *bits, Place *place)
{
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto at = t.alive.upper_bound(uintptr_t(bits));
    if (at == t.alive.begin())
        return false;
    --at;
    const Segment *segment = at->second;
    const size_t offset = size_t(uintptr_t(bits) - at->first);
    if (offset >= segment->size || offset % segment->imageBytes != 0)
        return false;
    place->shmId = segment->shmId;
    place->offset = uint32_t(offset);
    place->segment = segment->serial;
    return true;
}

std::vector<uint64_t> takeReleased()
{
    std::vector<uint64_t> released;
    Table &t = table();
    if (!t.anyReleased)
        return released;
    std::lock_guard<std::mutex> lock(t.mutex);
    released.swap(t.released);
    t.anyReleased = false;
    return released;
}

} // namespace SharedImages
