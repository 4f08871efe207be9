#pragma once

#include <QMetaType>
#include <cstdint>

// A rectangle in picture coordinates, registered as a Qt meta-type so that
// signals can carry it between threads.
struct PluginRegion
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};
static_assert(sizeof(PluginRegion) == 16, "PluginRegion is a 16-byte record");
Q_DECLARE_METATYPE(PluginRegion)
