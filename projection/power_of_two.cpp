#include "projection/power_of_two.h"

#include <cmath>

double PowerOfTwo(int32_t exponent) {
    if (exponent >= 0 && exponent <= 30) {
        return static_cast<double>(int32_t{1} << exponent);
    }
    return std::ldexp(1.0, exponent);
}
