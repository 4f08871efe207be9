#pragma once

#include <cstdint>

// G.711 expansion to 16-bit linear samples.
int16_t alawToLinear(uint8_t value);
int16_t ulawToLinear(uint8_t value);
