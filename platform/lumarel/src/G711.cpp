#include "G711.h"

int16_t alawToLinear(uint8_t value)
{
    value ^= 0x55;
    int t = (value & 0x0F) << 4;
    const int segment = (value & 0x70) >> 4;
    switch (segment) {
    case 0:
        t += 8;
        break;
    case 1:
        t += 0x108;
        break;
    default:
        t += 0x108;
        t <<= segment - 1;
        break;
    }
    return int16_t((value & 0x80) ? t : -t);
}

int16_t ulawToLinear(uint8_t value)
{
    value = uint8_t(~value);
    int t = ((value & 0x0F) << 3) + 0x84;
    t <<= (value & 0x70) >> 4;
    return int16_t((value & 0x80) ? (0x84 - t) : (t - 0x84));
}
