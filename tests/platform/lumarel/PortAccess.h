#pragma once

// Short ways into a play-library port for the tests.

#include "lumarel/LumarelControl.h"
#include "lumarel/lumarel.h"

#include <QByteArray>

// What the port did so far (a closed port gives the defaults).
inline LumarelControl::PortStats stats(int port)
{
    LumarelControl::PortStats s;
    LumarelControl::portStats(port, &s);
    return s;
}

// Hands `bytes` to the port as the device would; the library's result.
inline int feed(int port, const QByteArray &bytes)
{
    return TRV_PLAY_InputData(
        port, reinterpret_cast<const unsigned char *>(bytes.constData()), unsigned(bytes.size()));
}
