#include "report/checked.h"

#include "report/failure.h"

#include <cmath>
#include <limits>

int16_t add16(int16_t a, int16_t b) {
    return toInt16(a + b);
}

int32_t add32(int32_t a, int32_t b) {
    int32_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        raise(FailureKind::Overflow);
    }
    return sum;
}

int16_t toInt16(int32_t value) {
    if (value < std::numeric_limits<int16_t>::min() ||
        value > std::numeric_limits<int16_t>::max()) {
        raise(FailureKind::Overflow);
    }
    return static_cast<int16_t>(value);
}

int32_t roundToInt32(double value) {
    // The default rounding mode of the FPU is to nearest, ties to even.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= std::numeric_limits<int32_t>::min() &&
          rounded <= std::numeric_limits<int32_t>::max())) {
        raise(FailureKind::Overflow);
    }
    return static_cast<int32_t>(rounded);
}

double divide(double dividend, double divisor) {
    if (divisor == 0.0) {
        raise(FailureKind::DivisionByZero);
    }
    return dividend / divisor;
}
