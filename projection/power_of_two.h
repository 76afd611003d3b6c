#pragma once

#include <cstdint>

// 2^exponent as a double. Within 0..30 this is the 32-bit integer shift the
// geometry is defined with; outside it the value is still well defined
// instead of an out-of-range shift.
double PowerOfTwo(int32_t exponent);
