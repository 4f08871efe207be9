// The test control's view of what devices received from talks and file sends.

#include "Library.h"
#include "kestrix/kestrix_control.h"

using namespace kx;

namespace kestrix {
namespace control {

std::vector<std::string> receivedFileBodies(const std::string &addressOrSerial)
{
    auto d = Library::get().catalog.find(addressOrSerial);
    if (!d)
        return {};
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->receivedBodies;
}

std::vector<std::string> receivedVoiceFrames(const std::string &addressOrSerial)
{
    auto d = Library::get().catalog.find(addressOrSerial);
    if (!d)
        return {};
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->voiceFrames;
}

} // namespace control
} // namespace kestrix
