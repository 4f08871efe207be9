#include "SoundOutput.h"

#include <algorithm>
#include <mutex>

namespace {

struct Output
{
    std::mutex mutex;
    int owner = -1;
    std::vector<int> shares;
    int64_t samples = 0;
};

Output &output()
{
    static Output o;
    return o;
}

} // namespace

namespace SoundOutput {

void setOwner(int port)
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    o.owner = port;
}

int owner()
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    return o.owner;
}

void addShare(int port)
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    if (std::find(o.shares.begin(), o.shares.end(), port) == o.shares.end())
        o.shares.push_back(port);
}

bool removeShare(int port)
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    auto it = std::find(o.shares.begin(), o.shares.end(), port);
    if (it == o.shares.end())
        return false;
    o.shares.erase(it);
    return true;
}

std::vector<int> shares()
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    return o.shares;
}

void releasePort(int port)
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    if (o.owner == port)
        o.owner = -1;
    o.shares.erase(std::remove(o.shares.begin(), o.shares.end(), port), o.shares.end());
}

int64_t play(int port, const int16_t *, size_t count, int)
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    const bool audible
        = o.owner == port || std::find(o.shares.begin(), o.shares.end(), port) != o.shares.end();
    if (!audible)
        return 0;
    o.samples += int64_t(count);
    return int64_t(count);
}

int64_t totalSamples()
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    return o.samples;
}

} // namespace SoundOutput
