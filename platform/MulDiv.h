// MulDiv with the meaning of the Windows call: number * numerator / denominator
// through a 64-bit product, rounded to the nearest integer with halves away
// from zero. A zero denominator or a result outside 32 bits gives -1.
#pragma once

#include <cstdint>

namespace kevrale {

constexpr int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  if (denominator == 0) return -1;
  const int64_t product = int64_t(number) * int64_t(numerator);
  const int64_t divisor = denominator;
  int64_t quotient = product / divisor;
  const int64_t remainder = product % divisor;
  // |remainder| < |divisor| <= 2^31, so doubling it cannot overflow.
  const int64_t twice = remainder < 0 ? -2 * remainder : 2 * remainder;
  const int64_t magnitude = divisor < 0 ? -divisor : divisor;
  if (twice >= magnitude) quotient += (product < 0) == (divisor < 0) ? 1 : -1;
  if (quotient < INT32_MIN || quotient > INT32_MAX) return -1;
  return int32_t(quotient);
}

}  // namespace kevrale
