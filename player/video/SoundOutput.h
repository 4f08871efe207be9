#pragma once

#include <functional>

class CDecodeChannel;

// The play library's one sound output, which one port of a page has at a
// time. Turning it on for an index takes it from the index that had it;
// turning it off for an index that does not have it changes nothing, since
// the library's stop names no port and would silence the one that has it.
class SoundOutput
{
public:
    using PortOf = std::function<CDecodeChannel *(int index)>;

    bool isHeldBy(int index) const { return index >= 0 && index == m_holder; }
    int holder() const { return m_holder; }
    // 0 when switched (or nothing was to do), -1 when a port is missing, -2
    // when the library refused.
    int Switch(int index, bool on, const PortOf &portOf);
    // The port of `index` stops: it gives the output up if it has it.
    void release(int index, CDecodeChannel *port);

private:
    int m_holder = -1;
};
