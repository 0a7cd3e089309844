#pragma once

#include <cstdint>

// Checked arithmetic and conversions: each raises the failure of its kind
// instead of wrapping, truncating or yielding infinity.

int16_t add16(int16_t a, int16_t b);
int32_t add32(int32_t a, int32_t b);
int16_t toInt16(int32_t value);

// Nearest whole number, a half going to the even neighbour.
int32_t roundToInt32(double value);

double divide(double dividend, double divisor);
