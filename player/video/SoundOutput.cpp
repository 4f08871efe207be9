#include "SoundOutput.h"

#include "DecodeChannel.h"

int SoundOutput::Switch(int index, bool on, const PortOf &portOf)
{
    CDecodeChannel *port = portOf(index);
    if (!port)
        return -1;
    if (on) {
        if (m_holder >= 0 && m_holder != index) {
            CDecodeChannel *holder = portOf(m_holder);
            if (!holder)
                return -1;
            if (!holder->CloseSound())
                return -2;
            m_holder = -1;
        }
        if (!port->OpenSound())
            return -2;
        m_holder = index;
        return 0;
    }
    if (m_holder != index)
        return 0;
    if (!port->CloseSound())
        return -2;
    m_holder = -1;
    return 0;
}

void SoundOutput::release(int index, CDecodeChannel *port)
{
    if (!isHeldBy(index))
        return;
    if (port)
        port->CloseSound();
    m_holder = -1;
}
