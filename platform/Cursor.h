// Application-wide cursor codes. The pick mode of colour picking is read
// from the same value, so these numbers matter beyond their look.
#pragma once

#include <cstdint>

namespace kevrale {

using TCursor = int16_t;

constexpr TCursor crDefault = 0;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crMultiDrag = -16;

}  // namespace kevrale
